// Thousands of damaged copies of valid objects through the reader and the
// checker: every one must end in an object or a message, never in a crash
// or an out-of-bounds access (run under the sanitizers in CI).
#include "ByteOrder.h"
#include "CoffBuilder.h"
#include "CoffTestUtil.h"
#include "Messages.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string richObject() {
  CoffBuilder b;
  b.processor(0x2550)
      .section(".code", kScnTypeCode)
      .words({0x2805, 0x3001, 0x0008, 0x0000})
      .reloc(0, "main", 2)
      .reloc(2, "far_away_symbol", 4, 3)
      .line(10, 0, 0, 2, kLineHasFcnNdx)
      .line(11, 2, 0, 2, kLineHasFcnNdx)
      .section(".idata", kScnTypeIdata)
      .bytes({1, 2, 3})
      .section(".udata", kScnTypeUdata)
      .zeros(8)
      .fileSymbol("dir/source_file.asm")
      .function("main", 0, ".code")
      .aux(aux_fcn{0, 8, 0, 0})
      .symbolIn("tag", 0, ".idata", kClassStructTag)
      .aux(aux_tag{4, 2})
      .symbolIn("arr", 0, ".idata", kClassStatic, 0x30)
      .aux(aux_arr{0, 1, 3, {3, 0, 0, 0}})
      .symbolIn(".bf", 0, ".code", kClassFunction)
      .aux(aux_bobf{10, 0})
      .sectionSymbol(".code")
      .external("far_away_symbol");
  return b.fileBytes();
}

// A long section name missing from the string table ends the program by
// design; such inputs are checked in a child process.
bool mayEndTheProgram(const std::string &bytes) {
  if (bytes.size() < 20)
    return false;
  const auto *p = reinterpret_cast<const std::uint8_t *>(bytes.data());
  std::uint64_t at = 20 + std::uint64_t(readLE16(p + 16));
  for (std::uint32_t i = 0; i < readLE16(p + 2); ++i, at += 40) {
    if (at + 4 > bytes.size())
      break;
    if (readLE32(p + at) == 0)
      return true;
  }
  return false;
}

void exercise(const std::string &bytes) {
  std::unique_ptr<Coff> coff = makeFromBytes(bytes, "fuzz.o");
  if (!coff)
    return;
  coff->verify();
  coff->size();
  coff->isLaidOut();
  // The dump of a section of megabytes takes long and proves nothing more.
  std::uint64_t rawBytes = 0;
  for (const auto &entry : coff->cRawData)
    rawBytes += entry.second.size();
  if (rawBytes < 4096) {
    std::ostringstream dump;
    coff->print(dump);
  }
}

std::string mutate(const std::string &good, std::mt19937 &random) {
  std::string bytes = good;
  switch (random() % 4) {
  case 0: // a few flipped bytes
    for (unsigned n = 1 + random() % 4; n > 0; --n)
      bytes[random() % bytes.size()] = static_cast<char>(random());
    break;
  case 1: // truncation
    bytes.resize(random() % bytes.size());
    break;
  case 2: { // a header field set to an extreme
    std::size_t headerBytes =
        std::min<std::size_t>(bytes.size() - 4, 36 + 40 * 3);
    std::size_t at = random() % headerBytes;
    std::uint32_t extremes[] = {
        0,           0xFFFFFFFFu, 0x7FFFFFFFu,
        0x80000000u, 0xFFFF,      static_cast<std::uint32_t>(random())};
    writeLE32(reinterpret_cast<std::uint8_t *>(&bytes[at]),
              extremes[random() % 6]);
    break;
  }
  default: // a flipped byte and a truncation
    bytes[random() % bytes.size()] ^= static_cast<char>(1 + random() % 255);
    bytes.resize(bytes.size() - random() % 24);
    break;
  }
  return bytes;
}

bool survivesInChild(const std::string &bytes) {
  pid_t child = fork();
  if (child == 0) {
    exercise(bytes);
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) &&
         (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 255);
}

} // namespace

TEST(CoffFuzz, DamagedObjectsGiveMessagesNotCrashes) {
  std::string good = richObject();
  ASSERT_FALSE(mayEndTheProgram(good));
  std::mt19937 random(20261208);
  int quietBefore = isQuiet();
  setQuiet(1);
  int inChild = 0;
  for (int i = 0; i < 5000; ++i) {
    std::string bytes = mutate(good, random);
    if (mayEndTheProgram(bytes)) {
      // A child costs far more than a case; a sample of them is enough.
      if (++inChild <= 16) {
        ASSERT_TRUE(survivesInChild(bytes)) << "case " << i;
      }
    } else {
      exercise(bytes);
    }
  }
  setQuiet(quietBefore);
  EXPECT_LT(inChild, 1000);
}
