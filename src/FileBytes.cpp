#include "FileBytes.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Mapping and unmapping cost more than reading a small file.
constexpr std::size_t kMapFromBytes = 256 * 1024;
// A file read rather than mapped comes in pieces, so that the caller can
// work on the first ones while they are still in the cache.
constexpr std::size_t kPieceInBytes = 1 << 20;

} // namespace

FileBytes::~FileBytes() { release(); }

void FileBytes::release() {
  if (cMapping != nullptr)
    munmap(cMapping, cMappingSize);
  cMapping = nullptr;
  cMappingSize = 0;
  cBuffer.reset();
  cCapacity = 0;
  cData = nullptr;
  cSize = 0;
}

bool FileBytes::read(std::FILE *file, long byteOffset,
                     const Progress &progress) {
  if (!readAll(file, byteOffset, progress))
    return false;
  if (progress)
    progress(cData, cSize);
  return true;
}

bool FileBytes::read(int descriptor,
                     const std::function<std::FILE *()> &openStream) {
  release();
  struct stat info;
  if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
    std::FILE *file = openStream();
    return file != nullptr && readStream(file, 0);
  }
  const std::size_t sizeInBytes = static_cast<std::size_t>(info.st_size);
  if (sizeInBytes >= kMapFromBytes && map(descriptor, 0, sizeInBytes))
    return true;
  return readRegular(descriptor, 0, sizeInBytes, Progress());
}

bool FileBytes::readAll(std::FILE *file, long byteOffset,
                        const Progress &progress) {
  release();
  if (byteOffset < 0)
    return false;
  struct stat info;
  int descriptor = fileno(file);
  if (descriptor < 0 || fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode))
    return readStream(file, byteOffset);
  std::size_t sizeInBytes =
      info.st_size > byteOffset
          ? static_cast<std::size_t>(info.st_size - byteOffset)
          : 0;
  if (sizeInBytes >= kMapFromBytes && map(descriptor, byteOffset, sizeInBytes))
    return true;
  return readRegular(descriptor, byteOffset, sizeInBytes, progress);
}

// The whole file is mapped (offsets must be page-aligned) and the view
// starts at byteOffset. It holds the length the file had when looked at.
// Every page is entered at once: the readers touch all of them, and one
// call costs far less than a fault per page.
bool FileBytes::map(int descriptor, long byteOffset, std::size_t sizeInBytes) {
  const std::size_t total = static_cast<std::size_t>(byteOffset) + sizeInBytes;
  void *mapping = mmap(nullptr, total, PROT_READ, MAP_PRIVATE | MAP_POPULATE,
                       descriptor, 0);
  if (mapping == MAP_FAILED)
    return false;
  cMapping = mapping;
  cMappingSize = total;
  cData = static_cast<const std::uint8_t *>(mapping) + byteOffset;
  cSize = sizeInBytes;
  return true;
}

void FileBytes::grow(std::size_t capacity) {
  std::unique_ptr<std::uint8_t[]> bigger(new std::uint8_t[capacity]);
  if (cSize != 0)
    std::memcpy(bigger.get(), cBuffer.get(), cSize);
  cBuffer = std::move(bigger);
  cCapacity = capacity;
}

// A regular file straight from its descriptor into one buffer of its size
// (which stays put while the file is as large as it was looked at). One
// byte more than expected shows whether it has grown since; reading stops
// where it has shrunk.
bool FileBytes::readRegular(int descriptor, long byteOffset,
                            std::size_t expectedSizeInBytes,
                            const Progress &progress) {
  grow(expectedSizeInBytes + 1);
  for (;;) {
    if (cSize == cCapacity)
      grow(cCapacity * 2);
    if (cSize != 0 && progress)
      progress(cBuffer.get(), cSize);
    const std::size_t wanted = std::min(kPieceInBytes, cCapacity - cSize);
    ssize_t got =
        pread(descriptor, cBuffer.get() + cSize, wanted,
              static_cast<off_t>(byteOffset) + static_cast<off_t>(cSize));
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0) {
      release();
      return false;
    }
    cSize += static_cast<std::size_t>(got);
    if (static_cast<std::size_t>(got) < wanted) // a short read ends the file
      break;
  }
  cData = cBuffer.get();
  return true;
}

// Anything but a regular file (a stream in memory, a device) is read up to
// the end the stream itself reports; a device reports 0 however much it
// would give, and a pipe cannot be positioned at all. The reported end is
// not trusted with an allocation (a directory reports a huge one): the
// buffer grows with the bytes actually read, which keeps what was read.
bool FileBytes::readStream(std::FILE *file, long byteOffset) {
  if (std::fseek(file, 0, SEEK_END) != 0)
    return false;
  long end = std::ftell(file);
  if (end < 0 || std::fseek(file, byteOffset, SEEK_SET) != 0)
    return false;
  std::uint64_t left =
      end > byteOffset ? static_cast<std::uint64_t>(end - byteOffset) : 0;
  grow(64 * 1024);
  while (left != 0) {
    if (cSize == cCapacity)
      grow(cCapacity * 2);
    std::size_t wanted = cCapacity - cSize;
    if (wanted > left)
      wanted = static_cast<std::size_t>(left);
    std::size_t got = std::fread(cBuffer.get() + cSize, 1, wanted, file);
    cSize += got;
    left -= got;
    if (got < wanted)
      break;
  }
  cData = cBuffer.get();
  return true;
}
