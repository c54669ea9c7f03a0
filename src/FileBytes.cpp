#include "FileBytes.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr std::size_t kMapFromBytes = 256 * 1024;
constexpr std::size_t kHugePageInBytes = 2 << 20;

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
  // Mapping and unmapping cost more than copying a small file.
  if (sizeInBytes >= kMapFromBytes) {
    const LargeRead large =
        readLarge(descriptor, byteOffset, sizeInBytes, progress);
    if (large != LargeRead::NoMemory)
      return large == LargeRead::Done;
    if (map(descriptor, byteOffset, sizeInBytes))
      return true;
  }
  return readRegular(descriptor, byteOffset, sizeInBytes);
}

// The whole file is mapped (offsets must be page-aligned) and the view
// starts at byteOffset. Pages are read in at once: every byte is used.
bool FileBytes::map(int descriptor, long byteOffset, std::size_t sizeInBytes) {
  std::size_t total = static_cast<std::size_t>(byteOffset) + sizeInBytes;
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

// A large file is read into memory of its own, on huge pages where the
// system gives them. On a virtual machine the first touch of every small
// page of a file mapping is costly, far more than reading the file; a huge
// page is made present once. Reading stops at the end the file had when
// it was looked at, or earlier where it has shrunk since.
FileBytes::LargeRead FileBytes::readLarge(int descriptor, long byteOffset,
                                          std::size_t sizeInBytes,
                                          const Progress &progress) {
  constexpr std::size_t kPieceInBytes = 1 << 20;
  const std::size_t capacity =
      (sizeInBytes + kHugePageInBytes - 1) & ~(kHugePageInBytes - 1);
  // One huge page more, so that the block can start on one.
  const std::size_t total = capacity + kHugePageInBytes;
  void *region = mmap(nullptr, total, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (region == MAP_FAILED)
    return LargeRead::NoMemory;
  std::uint8_t *block = reinterpret_cast<std::uint8_t *>(
      (reinterpret_cast<std::uintptr_t>(region) + kHugePageInBytes - 1) &
      ~std::uintptr_t(kHugePageInBytes - 1));
  madvise(block, capacity, MADV_HUGEPAGE);
  std::size_t got = 0;
  while (got < sizeInBytes) {
    if (got != 0 && progress)
      progress(block, got);
    ssize_t part = pread(
        descriptor, block + got, std::min(kPieceInBytes, sizeInBytes - got),
        static_cast<off_t>(byteOffset) + static_cast<off_t>(got));
    if (part < 0 && errno == EINTR)
      continue;
    if (part < 0) {
      munmap(region, total);
      return LargeRead::Failed;
    }
    if (part == 0)
      break;
    got += static_cast<std::size_t>(part);
  }
  cMapping = region;
  cMappingSize = total;
  cData = block;
  cSize = got;
  return LargeRead::Done;
}

void FileBytes::grow(std::size_t capacity) {
  std::unique_ptr<std::uint8_t[]> bigger(new std::uint8_t[capacity]);
  if (cSize != 0)
    std::memcpy(bigger.get(), cBuffer.get(), cSize);
  cBuffer = std::move(bigger);
  cCapacity = capacity;
}

// A regular file straight from its descriptor: one call for the whole
// file. One byte more than expected shows whether it has grown since.
bool FileBytes::readRegular(int descriptor, long byteOffset,
                            std::size_t expectedSizeInBytes) {
  grow(expectedSizeInBytes + 1);
  for (;;) {
    if (cSize == cCapacity)
      grow(cCapacity * 2);
    ssize_t got =
        pread(descriptor, cBuffer.get() + cSize, cCapacity - cSize,
              static_cast<off_t>(byteOffset) + static_cast<off_t>(cSize));
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0) {
      release();
      return false;
    }
    if (got == 0)
      break;
    cSize += static_cast<std::size_t>(got);
    if (cSize < cCapacity) // a short read ends a regular file
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
