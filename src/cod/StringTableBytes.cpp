#include "cod/StringTableBytes.h"

#include "ByteOrder.h"

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
  cEndInBytes =
      keptStringsEnd(image + at + 4, static_cast<std::size_t>(length - 4));
}
