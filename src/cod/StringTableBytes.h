// The string table of a COFF image, read in place. The reader's table
// (Coff::cStringTbl) holds the strings from offset 4 on, one after the
// other, up to the first empty one or a last one without its NUL; a name
// is found here at exactly those offsets, so a lookup agrees with the map
// without building anything.
#pragma once

#include "CoffRecords.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

class StringTableBytes {
public:
  StringTableBytes() = default;
  // The table of the image whose file header is given; empty when the
  // image has no symbols (its table is then optional and placed
  // elsewhere) or the table is not all there.
  StringTableBytes(const std::uint8_t *image, std::uint64_t imageSizeInBytes,
                   const filehdr &header);

  // False when the table holds no string at offset.
  bool find(std::uint32_t offset, std::string_view &name) const {
    // Offsets above INT_MAX cannot be keys of the reader's table.
    if (offset < 4 || offset > 0x7FFFFFFFu)
      return false;
    std::size_t pos = offset - 4;
    // Strings start at 0 and after each NUL before the end; each ends in
    // a NUL before the end.
    if (pos >= cEndInBytes || (pos != 0 && cText[pos - 1] != 0))
      return false;
    name = std::string_view(cText + pos);
    return true;
  }

  // The first character of the string at offset, without measuring the
  // string; false when the table holds no string there.
  bool firstChar(std::uint32_t offset, char &first) const {
    if (offset < 4 || offset > 0x7FFFFFFFu)
      return false;
    std::size_t pos = offset - 4;
    if (pos >= cEndInBytes || (pos != 0 && cText[pos - 1] != 0))
      return false;
    first = cText[pos];
    return true;
  }

private:
  const char *cText = nullptr; // the byte at offset 4
  std::size_t cEndInBytes = 0; // where the reader stopped splitting
};
