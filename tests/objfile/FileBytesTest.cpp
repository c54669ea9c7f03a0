#include "FileBytes.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

std::string patternOf(std::size_t sizeInBytes) {
  std::string bytes(sizeInBytes, '\0');
  for (std::size_t i = 0; i < sizeInBytes; ++i)
    bytes[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
  return bytes;
}

std::string held(const FileBytes &bytes) {
  return std::string(reinterpret_cast<const char *>(bytes.data()),
                     bytes.size());
}

// Small files are read, large ones mapped; both must give exactly the
// bytes from the offset on, also when the offset is not page-aligned or
// lies past the end.
TEST(FileBytes, GivesTheBytesFromTheOffsetToTheEnd) {
  TempDir dir;
  for (std::size_t size :
       {std::size_t(0), std::size_t(1), std::size_t(4097),
        std::size_t(300 * 1024), std::size_t(1 << 20), std::size_t(5 << 19)}) {
    const std::string contents = patternOf(size);
    dir.write("f.bin", contents);
    for (long offset : {0L, 7L, 4096L, static_cast<long>(size) + 5}) {
      SCOPED_TRACE("size " + std::to_string(size) + " offset " +
                   std::to_string(offset));
      std::FILE *file = std::fopen(dir.file("f.bin").c_str(), "rb");
      ASSERT_NE(file, nullptr);
      FileBytes bytes;
      EXPECT_TRUE(bytes.read(file, offset));
      std::fclose(file);
      std::string expected = static_cast<std::size_t>(offset) < size
                                 ? contents.substr(offset)
                                 : "";
      EXPECT_EQ(held(bytes), expected);
    }
  }
}

// Streams without a regular file behind them are read up to the end they
// report: a stream in memory gives its bytes, a device (which may never
// end) gives none, a pipe cannot be positioned. None of them hangs.
TEST(FileBytes, ReadsOtherStreamsUpToTheEndTheyReport) {
  std::string contents = patternOf(5000);
  std::FILE *memory = fmemopen(&contents[0], contents.size(), "rb");
  ASSERT_NE(memory, nullptr);
  FileBytes bytes;
  EXPECT_TRUE(bytes.read(memory, 3));
  EXPECT_EQ(held(bytes), contents.substr(3));
  std::fclose(memory);

  std::FILE *zero = std::fopen("/dev/zero", "rb");
  ASSERT_NE(zero, nullptr);
  EXPECT_TRUE(bytes.read(zero, 0));
  EXPECT_EQ(bytes.size(), 0u);
  std::fclose(zero);

  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  ASSERT_EQ(write(ends[1], "abc", 3), 3);
  close(ends[1]);
  std::FILE *pipeIn = fdopen(ends[0], "rb");
  ASSERT_NE(pipeIn, nullptr);
  EXPECT_FALSE(bytes.read(pipeIn, 0));
  EXPECT_EQ(bytes.size(), 0u);
  std::fclose(pipeIn);

  TempDir dir;
  dir.write("f.bin", "abc");
  std::FILE *file = std::fopen(dir.file("f.bin").c_str(), "rb");
  ASSERT_NE(file, nullptr);
  EXPECT_FALSE(bytes.read(file, -1));
  EXPECT_EQ(bytes.size(), 0u);
  std::fclose(file);
}

} // namespace
