#include "cod/StringTableBytes.h"

#include "ByteOrder.h"

#include <cstring>

namespace {

// Offsets above this cannot be keys of the reader's table.
constexpr std::uint64_t MaxOffset = 0x7FFFFFFF;

// Where the reader stops: at the first empty string, else after the last
// NUL (an unterminated tail is left out).
std::size_t splitEnd(const char *text, std::size_t size) {
  if (size == 0 || text[0] == 0)
    return 0;
  static const char twoNuls[2] = {0, 0};
  const void *pair = memmem(text, size, twoNuls, 2);
  if (pair != nullptr)
    return static_cast<std::size_t>(static_cast<const char *>(pair) - text) + 1;
  const void *lastNul = memrchr(text, 0, size);
  return lastNul == nullptr ? 0
                            : static_cast<std::size_t>(
                                  static_cast<const char *>(lastNul) - text) +
                                  1;
}

} // namespace

StringTableBytes::StringTableBytes(const std::uint8_t *image,
                                   std::uint64_t imageSizeInBytes,
                                   const filehdr &header) {
  if (image == nullptr || header.f_nsyms == 0)
    return;
  std::uint64_t at = std::uint64_t(header.f_symptr) +
                     syment::sizeInBytes * std::uint64_t(header.f_nsyms);
  if (at > imageSizeInBytes || imageSizeInBytes - at < 4)
    return;
  std::uint64_t length = readLE32(image + at);
  if (length <= 4 || length - 4 > imageSizeInBytes - at - 4)
    return;
  cText = reinterpret_cast<const char *>(image + at + 4);
  cEndInBytes = splitEnd(cText, static_cast<std::size_t>(length - 4));
}

bool StringTableBytes::find(std::uint32_t offset,
                            std::string_view &name) const {
  if (offset < 4 || offset > MaxOffset)
    return false;
  std::size_t pos = offset - 4;
  // Strings start at 0 and after each NUL before the end.
  if (pos >= cEndInBytes || (pos != 0 && cText[pos - 1] != 0))
    return false;
  const void *nul = std::memchr(cText + pos, 0, cEndInBytes - pos);
  std::size_t length =
      nul == nullptr ? cEndInBytes - pos
                     : static_cast<std::size_t>(static_cast<const char *>(nul) -
                                                (cText + pos));
  name = std::string_view(cText + pos, length);
  return true;
}
