#include "FileBytes.h"

#include <sys/stat.h>

#include <cerrno>
#include <unistd.h>

bool readFileBytes(std::FILE *file, long byteOffset,
                   std::vector<std::uint8_t> &out) {
  out.clear();
  if (byteOffset < 0 || std::fseek(file, byteOffset, SEEK_SET) != 0)
    return false;
  // A regular file's size sets the buffer once; anything else grows it.
  struct stat info;
  std::size_t expected = 0;
  if (fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode) &&
      info.st_size > byteOffset)
    expected = static_cast<std::size_t>(info.st_size - byteOffset);
  out.resize(expected + 1);
  std::size_t have = 0;
  for (;;) {
    if (have == out.size())
      out.resize(out.size() * 2);
    std::size_t got = std::fread(out.data() + have, 1, out.size() - have, file);
    have += got;
    if (got == 0) {
      if (std::ferror(file)) {
        out.clear();
        return false;
      }
      break;
    }
  }
  out.resize(have);
  return true;
}
