// Whole-file reads. The readers parse from memory: one read per file costs
// far less than a seek and a read per record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>

// The bytes of a file from some offset to its end. A large regular file is
// mapped read-only (no fresh memory to clear, no copy), anything else read
// into memory with plain reads.
class FileBytes {
public:
  FileBytes() = default;
  ~FileBytes();
  FileBytes(const FileBytes &) = delete;
  FileBytes &operator=(const FileBytes &) = delete;

  // Told of the bytes read so far (from data(), which stays put) while a
  // large file comes in, and once all are in: work on the first parts can
  // start while they are still in the cache.
  using Progress =
      std::function<void(const std::uint8_t *data, std::size_t sizeInBytes)>;

  // False when the stream cannot be positioned or read; nothing is held
  // then.
  bool read(std::FILE *file, long byteOffset,
            const Progress &progress = Progress());
  // The same from an open descriptor, without a stream: a regular file
  // costs one fstat and its reads. Anything else is read as its stream
  // would be (openStream makes one of the descriptor, owned by the caller;
  // null when it cannot).
  bool read(int descriptor, const std::function<std::FILE *()> &openStream);

  const std::uint8_t *data() const { return cData; }
  std::size_t size() const { return cSize; }

private:
  bool readAll(std::FILE *file, long byteOffset, const Progress &progress);
  void release();
  bool map(int descriptor, long byteOffset, std::size_t sizeInBytes);
  bool readRegular(int descriptor, long byteOffset,
                   std::size_t expectedSizeInBytes, const Progress &progress);
  bool readStream(std::FILE *file, long byteOffset);
  void grow(std::size_t capacity);

  const std::uint8_t *cData = nullptr;
  std::size_t cSize = 0;
  void *cMapping = nullptr;
  std::size_t cMappingSize = 0;
  std::unique_ptr<std::uint8_t[]> cBuffer;
  std::size_t cCapacity = 0;
};
