#include "HexRecords.h"

#include "Assert.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

// The two digits of every byte value, side by side: a byte is then one
// two-character copy, for the millions of bytes a large file holds.
struct DigitPairs {
  char cText[2 * 256];
  constexpr DigitPairs() : cText() {
    for (int value = 0; value < 256; ++value) {
      cText[2 * value] = kDigits[value >> 4];
      cText[2 * value + 1] = kDigits[value & 0xF];
    }
  }
};
constexpr DigitPairs kDigitPairs;

void appendByte(std::string &out, unsigned value) {
  out.append(kDigitPairs.cText + 2 * (value & 0xFF), 2);
}

char *putByte(char *at, unsigned value) {
  std::memcpy(at, kDigitPairs.cText + 2 * (value & 0xFF), 2);
  return at + 2;
}

// Data bytes in a record; also the alignment that records never cross.
constexpr std::uint32_t kRecordBytes = 16;
constexpr std::uint32_t kSegmentLimit = 0x10000;

// The records are appended in place: a file holds a record for every 16
// bytes, and a string per record would be as many allocations.
void appendDataRecord(std::string &out, std::uint16_t address,
                      const std::uint8_t *bytes, std::size_t count,
                      std::size_t strideInBytes) {
  ORV_ASSERT(count <= 0xFF, "Hex");
  unsigned sum = static_cast<unsigned>(count) + (address >> 8) + address;
  char text[12 + 2 * 0xFF];
  char *at = text;
  *at++ = ':';
  at = putByte(at, static_cast<unsigned>(count));
  at = putByte(at, address >> 8);
  at = putByte(at, address);
  *at++ = '0';
  *at++ = '0';
  for (std::size_t k = 0; k < count; ++k) {
    unsigned byte = bytes[k * strideInBytes];
    sum += byte;
    at = putByte(at, byte);
  }
  at = putByte(at, (0x100 - (sum & 0xFF)) & 0xFF);
  *at++ = '\n';
  out.append(text, static_cast<std::size_t>(at - text));
}

void appendLinearAddressRecord(std::string &out, std::uint16_t upperAddress) {
  out += ":02000004";
  appendByte(out, upperAddress >> 8);
  appendByte(out, upperAddress);
  unsigned sum = 0x02 + 0x04 + (upperAddress >> 8) + (upperAddress & 0xFF);
  appendByte(out, (0x100 - (sum & 0xFF)) & 0xFF);
  out += '\n';
}

} // namespace

std::string hexDataRecord(std::uint16_t address, const std::uint8_t *bytes,
                          std::size_t count, std::size_t strideInBytes) {
  std::string out;
  appendDataRecord(out, address, bytes, count, strideInBytes);
  return out;
}

std::string hexLinearAddressRecord(std::uint16_t upperAddress) {
  std::string out;
  appendLinearAddressRecord(out, upperAddress);
  return out;
}

const std::string &hexEndRecord() {
  static const std::string end = ":00000001FF\n";
  return end;
}

HexRecordWriter::HexRecordWriter(HexFormat format) : cFormat(format) {}

bool HexRecordWriter::addBytes(std::uint32_t startByte,
                               const std::uint8_t *bytes, std::size_t count) {
  ORV_ASSERT(static_cast<std::uint64_t>(startByte) + count <= 0x100000000ull,
             "Hex");
  if (count == 0)
    return true;
  if (cFormat != HexFormat::Inhx8s)
    return addLinearRun(cText[0], startByte, bytes, count, 1);

  // Each file gets the bytes of its parity as one run of word addresses.
  // Walking the two files apart keeps a range with an odd start or length
  // whole instead of dropping its last byte.
  bool good = true;
  for (std::uint32_t parity = 0; parity < 2 && good; ++parity) {
    std::uint32_t skip = (startByte & 1) == parity ? 0 : 1;
    if (skip >= count)
      continue;
    std::size_t words = (count - skip + 1) / 2;
    std::uint32_t firstWord = (startByte + skip) >> 1;
    good = addLinearRun(cText[parity], firstWord, bytes + skip, words, 2);
  }
  cFirst = false;
  return good;
}

namespace {

// Where the last record of count units from address starts: records break
// at every multiple of kRecordBytes.
std::uint64_t lastRecordStart(std::uint64_t address, std::uint64_t count) {
  return std::max(address, (address + count - 1) / kRecordBytes * kRecordBytes);
}

} // namespace

bool HexRecordWriter::fits(std::uint32_t startByte, std::size_t count) const {
  // Records start in ascending order: the last one is the highest.
  if (count == 0 || cFormat == HexFormat::Inhx32)
    return true;
  if (cFormat != HexFormat::Inhx8s)
    return lastRecordStart(startByte, count) < kSegmentLimit;
  for (std::uint32_t parity = 0; parity < 2; ++parity) {
    std::uint32_t skip = (startByte & 1) == parity ? 0 : 1;
    if (skip >= count)
      continue;
    const std::size_t words = (count - skip + 1) / 2;
    const std::uint32_t firstWord = (startByte + skip) >> 1;
    if (lastRecordStart(firstWord, words) >= kSegmentLimit)
      return false;
  }
  return true;
}

bool HexRecordWriter::addLinearRun(std::string &out, std::uint32_t startAddr,
                                   const std::uint8_t *bytes, std::size_t count,
                                   std::size_t strideInBytes) {
  std::uint64_t addr = startAddr;
  std::size_t done = 0;
  while (done < count) {
    if (!doLinearAddressRecord(out, static_cast<std::uint32_t>(addr)))
      return false;
    if (cFormat != HexFormat::Inhx8s)
      cFirst = false;
    std::size_t chunk = kRecordBytes - addr % kRecordBytes;
    if (chunk > count - done)
      chunk = count - done;
    appendDataRecord(out, static_cast<std::uint16_t>(addr & 0xFFFF),
                     bytes + done * strideInBytes, chunk, strideInBytes);
    addr += chunk;
    done += chunk;
  }
  return true;
}

bool HexRecordWriter::doLinearAddressRecord(std::string &out,
                                            std::uint32_t address) {
  if (cFirst)
    cLastLinearAddress = address;
  if (cFormat != HexFormat::Inhx32)
    return address < kSegmentLimit;
  if (cFirst || (address >> 16) != (cLastLinearAddress >> 16)) {
    cLastLinearAddress = address;
    appendLinearAddressRecord(out, static_cast<std::uint16_t>(address >> 16));
  }
  return true;
}

void HexRecordWriter::finish() {
  cText[0] += hexEndRecord();
  if (cFormat == HexFormat::Inhx8s)
    cText[1] += hexEndRecord();
}
