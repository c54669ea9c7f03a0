#include "CoffTestUtil.h"

#include "ByteOrder.h"
#include "CoffRecords.h"

#include <cstdio>
#include <stdexcept>

namespace {

std::FILE *streamOver(const std::string &bytes) {
  std::FILE *file = std::tmpfile();
  if (file == nullptr)
    throw std::runtime_error("no temporary file");
  if (!bytes.empty())
    std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fflush(file);
  return file;
}

} // namespace

std::unique_ptr<Coff> makeFromBytes(const std::string &bytes,
                                    const std::string &name, long byteOffset) {
  // A stream straight over the bytes keeps the fuzz loop fast.
  std::string copy = bytes;
  std::FILE *file =
      copy.empty() ? streamOver(bytes) : fmemopen(&copy[0], copy.size(), "rb");
  if (file == nullptr)
    throw std::runtime_error("no stream over the bytes");
  std::unique_ptr<Coff> coff = Coff::make(file, byteOffset, name);
  std::fclose(file);
  return coff;
}

std::string writtenBytes(const Coff &coff) {
  std::FILE *file = std::tmpfile();
  if (file == nullptr)
    throw std::runtime_error("no temporary file");
  std::string result;
  if (coff.write(file, 0) == 1 && std::fseek(file, 0, SEEK_SET) == 0) {
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
      result.append(buffer, got);
  }
  std::fclose(file);
  return result;
}

// An image of the old layout: no optional header, 6-byte line entries,
// 10-byte relocations, file names inside the file aux entries.
std::string oldLayoutObject(std::uint16_t lineCount,
                            const std::string &firstFile,
                            const std::string &secondFile) {
  const std::uint32_t lineEntries = lineCount + 1u; // the function's first
  const std::uint32_t symptr = 74 + 6 * lineEntries;
  std::string out;
  appendLE16(out, kCoffMagic);
  appendLE16(out, 1);      // f_nscns
  appendLE32(out, 99);     // f_timdat
  appendLE32(out, symptr); // f_symptr
  appendLE32(out, 5);      // f_nsyms
  appendLE16(out, 0);      // f_opthdr: old layout
  appendLE16(out, 0);
  out += std::string(".code\0\0\0", 8); // section header at 20
  appendLE32(out, 0x10);                // s_paddr
  appendLE32(out, 0);
  appendLE32(out, 4);                                       // s_size
  appendLE32(out, 60);                                      // s_scnptr
  appendLE32(out, 64);                                      // s_relptr
  appendLE32(out, 74);                                      // s_lnnoptr
  appendLE16(out, 1);                                       // s_nreloc
  appendLE16(out, static_cast<std::uint16_t>(lineEntries)); // s_nlnno
  appendLE32(out, kScnCode);
  out += std::string("\x01\x02\x03\x04", 4); // raw data at 60
  appendLE32(out, 2);                        // relocation at 64
  appendLE32(out, 4);
  appendLE16(out, 1);
  appendLE32(out, 7); // lines at 74: function 7
  appendLE16(out, 0);
  for (std::uint16_t line = 0; line < lineCount; ++line) {
    appendLE32(out, 0x10 + 2u * line);
    appendLE16(out, static_cast<std::uint16_t>(3 + line));
  }
  auto symbol = [&](const std::string &name8, std::int16_t scnum,
                    std::uint8_t sclass, std::uint8_t numaux) {
    out += name8;
    appendLE32(out, 0);
    appendLE16(out, static_cast<std::uint16_t>(scnum));
    appendLE16(out, 0);
    out += static_cast<char>(sclass);
    out += static_cast<char>(numaux);
  };
  for (const std::string *file : {&firstFile, &secondFile}) {
    symbol(std::string(".file\0\0\0", 8), -2, kClassFile, 1);
    out += *file + std::string(18 - file->size(), '\0');
  }
  std::string longName(8, '\0');
  longName[4] = 4;
  symbol(longName, 1, kClassExternal, 0);
  appendLE32(out, 4 + 14); // string table
  out += std::string("a_long_symbol\0", 14);
  return out;
}

std::string withPaddedStringTable(std::string image, std::size_t padBytes) {
  const std::size_t lengthAt = peek32(image, 8) + 18 * peek32(image, 12);
  patch32(image, lengthAt,
          peek32(image, lengthAt) + static_cast<std::uint32_t>(padBytes));
  image.append(padBytes, '\0');
  return image;
}

void patch16(std::string &bytes, std::size_t at, std::uint16_t value) {
  writeLE16(reinterpret_cast<std::uint8_t *>(&bytes[at]), value);
}

void patch32(std::string &bytes, std::size_t at, std::uint32_t value) {
  writeLE32(reinterpret_cast<std::uint8_t *>(&bytes[at]), value);
}

std::uint32_t peek32(const std::string &bytes, std::size_t at) {
  return readLE32(reinterpret_cast<const std::uint8_t *>(bytes.data() + at));
}

std::uint16_t peek16(const std::string &bytes, std::size_t at) {
  return readLE16(reinterpret_cast<const std::uint8_t *>(bytes.data() + at));
}
