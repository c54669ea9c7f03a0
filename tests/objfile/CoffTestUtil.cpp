#include "CoffTestUtil.h"

#include "ByteOrder.h"

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
