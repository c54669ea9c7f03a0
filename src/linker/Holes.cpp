// Hole fill: every free range of a CODEPAGE with a FILL pattern becomes a
// code section ".fill_<n>" of the output that repeats the pattern.
#include "Linker.h"

#include "Assert.h"
#include "ByteOrder.h"
#include "Messages.h"

#include <cstdint>
#include <sstream>

namespace {

const char *const kModule = "Linker";

int hexDigitValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

// Leading hexadecimal digits of text as a number; stops at the first
// character that is none.
std::uint16_t hexValue(const std::string &text) {
  std::uint16_t value = 0;
  for (char c : text) {
    const int digit = hexDigitValue(c);
    if (digit < 0)
      break;
    value = static_cast<std::uint16_t>((value << 4) | digit);
  }
  return value;
}

// Leading decimal digits of text, cut to their low 16 bits.
std::uint16_t decimalValue(const std::string &text) {
  std::uint16_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9')
      break;
    value = static_cast<std::uint16_t>(value * 10 + (c - '0'));
  }
  return value;
}

bool isHexPattern(const std::string &fill) {
  return fill.size() > 2 && (fill[1] == 'x' || fill[1] == 'X');
}

// Writes a pattern of 16-bit words, little-endian, over a buffer, from its
// start and repeated from the first word through the whole buffer. An odd
// last byte takes the low byte of the word where the pattern stopped.
// Returns whether the buffer was a whole number of pattern lengths.
bool repeatPattern(const std::vector<std::uint16_t> &words, Data &buffer) {
  bool whole = true;
  std::uint8_t *out = buffer.bytes();
  std::uint32_t remaining = buffer.size();
  while (remaining != 0) {
    std::size_t group = 0;
    while (group < words.size() && remaining >= 2) {
      writeLE16(out, words[group++]);
      out += 2;
      remaining -= 2;
    }
    if (group < words.size() || remaining == 1)
      whole = false;
    if (remaining == 1) {
      *out = static_cast<std::uint8_t>(words[group < words.size() ? group : 0]);
      remaining = 0;
    }
  }
  return whole;
}

std::vector<std::uint16_t> fillWords(const std::string &fill) {
  if (!isHexPattern(fill))
    return {decimalValue(fill)};
  // The command-file reader widens the pattern to whole words.
  ORV_ASSERT(((fill.length() - 2) % 4) == 0, kModule);
  std::vector<std::uint16_t> words;
  for (std::size_t at = 2; at < fill.size(); at += 4)
    words.push_back(hexValue(fill.substr(at, 4)));
  return words;
}

} // namespace

int Linker::buildOutputHoles(std::string &error) {
  int ok = 1;
  for (const Memory &page : cCodePage)
    page.fillUnused([&](const Memory &memory, std::uint32_t startLoc,
                        std::uint32_t endLoc, const std::string &fill) {
      if (ok && !buildOutputHole(memory, startLoc, endLoc, fill)) {
        error = "Unused program memory of '" + memory.getName() +
                "' is too large for one fill section.";
        ok = 0;
      }
    });
  return ok;
}

int Linker::buildOutputHole(const Memory &memory, std::uint32_t startLoc,
                            std::uint32_t endLoc, const std::string &fill) {
  const std::uint64_t sizeInBytes =
      (std::uint64_t{endLoc} - startLoc + 1) * bytesPerLocation(kProgramMemory);
  if (sizeInBytes > UINT32_MAX)
    return 0;

  ++cFillCount;
  const std::string name = ".fill_" + std::to_string(cFillCount);
  const int number =
      cOutput.cScnNum.empty() ? 1 : cOutput.cScnNum.rbegin()->first + 1;
  cOutput.cScnNum[number] = name;

  Data &buffer = cOutput.cRawData[name];
  buffer = Data(static_cast<std::uint32_t>(sizeInBytes));
  if (!repeatPattern(fillWords(fill), buffer)) {
    std::ostringstream text;
    text << "Fill pattern for memory '" << memory.getName()
         << "' doesn't divide evenly into\n"
         << "          unused program locations.  Last value was truncated.";
    reportStream(MessageKind::Warning, "Linker::BuildOutputHole()", text, 0);
  }

  // From ".fill_100" on the name needs the string table.
  if (name.size() > 8)
    cOutput.cStringTbl[nextFreeStringOffset()] = name;
  scnhdr &hdr = cOutput.cScnHdr[name];
  Coff::setName(hdr, cOutput.cStringTbl, name);
  hdr.s_paddr = startLoc;
  hdr.s_vaddr = 0;
  Coff::setScnFlags(hdr, kScnTypeCode, 0, 0, 0);
  return 1;
}
