#include "FileBytes.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

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

bool FileBytes::read(std::FILE *file, long byteOffset) {
  release();
  if (byteOffset < 0)
    return false;
  struct stat info;
  int descriptor = fileno(file);
  if (fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode) &&
      info.st_size > byteOffset &&
      map(descriptor, byteOffset,
          static_cast<std::size_t>(info.st_size - byteOffset)))
    return true;
  return readAll(file, byteOffset);
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

void FileBytes::grow(std::size_t capacity) {
  std::unique_ptr<std::uint8_t[]> bigger(new std::uint8_t[capacity]);
  if (cSize != 0)
    std::memcpy(bigger.get(), cBuffer.get(), cSize);
  cBuffer = std::move(bigger);
  cCapacity = capacity;
}

// Streams that cannot be mapped (pipes, devices) are read to their end.
bool FileBytes::readAll(std::FILE *file, long byteOffset) {
  if (std::fseek(file, byteOffset, SEEK_SET) != 0)
    return false;
  grow(64 * 1024);
  for (;;) {
    if (cSize == cCapacity)
      grow(cCapacity * 2);
    std::size_t wanted = cCapacity - cSize;
    std::size_t got = std::fread(cBuffer.get() + cSize, 1, wanted, file);
    cSize += got;
    if (got < wanted) // the end of the stream, or an error
      break;
  }
  if (std::ferror(file)) {
    release();
    return false;
  }
  cData = cBuffer.get();
  return true;
}
