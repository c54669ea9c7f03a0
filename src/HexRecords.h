// Intel HEX text built in memory: data records of at most 16 bytes that never
// cross a 16-byte address boundary, extended linear address records for
// INHX32, and the end record. Nothing touches a file here: the caller takes
// the text away as it grows, and fits() tells beforehand whether every
// record can be written at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class HexFormat : std::uint8_t { Inhx8m = 0, Inhx8s = 1, Inhx32 = 2 };

class HexRecordWriter {
public:
  explicit HexRecordWriter(HexFormat format);

  // Adds records for count bytes starting at a byte address; the caller keeps
  // start + count within 32 bits. INHX8S sends the bytes at even addresses to
  // the low file and those at odd addresses to the high file, both at word
  // addresses. False when a record would start at or above 64 K in one of the
  // 8-bit formats (byte address for INHX8M, word address for INHX8S).
  bool addBytes(std::uint32_t startByte, const std::uint8_t *bytes,
                std::size_t count);
  // Whether addBytes would take count bytes at startByte.
  bool fits(std::uint32_t startByte, std::size_t count) const;
  // Ends every file with the end record.
  void finish();

  // The ".hex" text, or the ".hxl" text for INHX8S.
  const std::string &text() const { return cText[0]; }
  // The ".hxh" text for INHX8S; empty for the other formats.
  const std::string &highText() const { return cText[1]; }
  // Empties both texts, keeping their room: a caller that has written the
  // text so far goes on with the records after it.
  void clearText() {
    cText[0].clear();
    cText[1].clear();
  }

private:
  bool addLinearRun(std::string &out, std::uint32_t startAddr,
                    const std::uint8_t *bytes, std::size_t count,
                    std::size_t strideInBytes);
  bool doLinearAddressRecord(std::string &out, std::uint32_t address);

  HexFormat cFormat;
  bool cFirst = true;
  // The address given with the first record or the last extended linear
  // address record (a word address for INHX8S).
  std::uint32_t cLastLinearAddress = 0;
  std::string cText[2];
};

// One data record: ":" count, address, type 00, the bytes, checksum, "\n".
std::string hexDataRecord(std::uint16_t address, const std::uint8_t *bytes,
                          std::size_t count, std::size_t strideInBytes = 1);
// Extended linear address record for the upper 16 bits of an address.
std::string hexLinearAddressRecord(std::uint16_t upperAddress);
// ":00000001FF\n"
const std::string &hexEndRecord();
