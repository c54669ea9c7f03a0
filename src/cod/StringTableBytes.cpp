#include "cod/StringTableBytes.h"

#include "ByteOrder.h"

#include <cstring>

namespace {

// Where the reader stops: at the first empty string, or after the last
// NUL (an unterminated tail is left out).
std::size_t splitEnd(const char *text, std::size_t size) {
  const void *found = memrchr(text, 0, size);
  if (found == nullptr)
    return 0;
  const std::size_t lastNul =
      static_cast<std::size_t>(static_cast<const char *>(found) - text);
  std::size_t pos = 0;
  // Every string up to the last NUL is terminated, so strlen stays inside.
  while (pos <= lastNul) {
    if (text[pos] == 0)
      return pos;
    pos += std::strlen(text + pos) + 1;
  }
  return lastNul + 1;
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
