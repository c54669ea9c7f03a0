#include "memtarg/Memory.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace {

struct Span {
  std::uint32_t start;
  std::uint32_t size;
  bool operator==(const Span &o) const {
    return start == o.start && size == o.size;
  }
};

std::ostream &operator<<(std::ostream &out, const Span &s) {
  return out << "[" << s.start << "+" << s.size << "]";
}

std::vector<Span> freeSpans(const Memory &memory) {
  std::vector<Span> spans;
  for (const Range &range : memory.unallocated())
    spans.push_back({range.getStart(), range.sizeInLocs()});
  return spans;
}

// A memory of 8-bit locations (or 2-byte words with widthBits 14).
Memory makeMemory(std::uint32_t start, std::uint32_t end,
                  std::uint16_t widthBits = 8,
                  std::uint8_t type = kDataMemory) {
  Memory memory("m", start, end, type, 0, 0, "");
  memory.setWidthBits(widthBits);
  return memory;
}

// Cuts a memory 0..0xFF into free ranges [0x00+0x10] [0x30+0x20] [0x70+0x90]
// by placing absolute sections around them.
Memory memoryWithHoles() {
  Memory memory = makeMemory(0, 0xFF);
  memory.allocateAt("a", 0x10, 0x20, 0);
  memory.allocateAt("b", 0x50, 0x20, 0);
  return memory;
}

TEST(MemoryTest, SplitsAFreeRangeAroundAnAbsoluteSection) {
  Memory memory = makeMemory(0, 0xFF);
  memory.allocateAt("a", 0x10, 0x20, 0);
  EXPECT_EQ(freeSpans(memory), (std::vector<Span>{{0x00, 0x10}, {0x30, 0xD0}}));
  EXPECT_EQ(memory.getSectionStart("a"), 0x10u);
  EXPECT_EQ(memory.getSectionSize("a"), 0x20u);

  // A section that exactly fills a free range leaves nothing behind.
  memory.allocateAt("b", 0x00, 0x10, 0);
  EXPECT_EQ(freeSpans(memory), (std::vector<Span>{{0x30, 0xD0}}));
}

TEST(MemoryTest, KeepsSortedRangesThenAppendsNewPieces) {
  Memory memory = memoryWithHoles();
  // After the second placement: the sorted list without the range taken,
  // then the piece before and the piece after.
  EXPECT_EQ(freeSpans(memory),
            (std::vector<Span>{{0x00, 0x10}, {0x30, 0x20}, {0x70, 0x90}}));
}

TEST(MemoryTest, BestFitTakesTheSmallestFreeRangeThatFits) {
  Memory memory = memoryWithHoles();
  memory.allocate("c", 0x18, 0, 1);
  EXPECT_EQ(memory.getSectionStart("c"), 0x30u);
  EXPECT_EQ(freeSpans(memory),
            (std::vector<Span>{{0x00, 0x10}, {0x70, 0x90}, {0x48, 0x08}}));
  EXPECT_EQ(memory.largestHole(), 0x90u);
}

TEST(MemoryTest, BestFitPrefersTheEarlierOfTwoEqualRanges) {
  Memory memory = makeMemory(0, 0x3F);
  memory.allocateAt("gap", 0x10, 0x10, 0);
  // Free: [0x00+0x10] and [0x20+0x20]; then [0x20..0x2F] taken leaves two
  // free ranges of 0x10: [0x00] first, [0x30] second.
  memory.allocateAt("mid", 0x20, 0x10, 0);
  memory.allocate("c", 0x10, 0, 1);
  EXPECT_EQ(memory.getSectionStart("c"), 0x00u);
}

TEST(MemoryTest, AlignsStartsAndCountsTheGap) {
  Memory memory = makeMemory(0, 0xFF);
  memory.allocateAt("odd", 0x00, 0x11, 0); // free now starts at 0x11
  memory.allocate("c", 0x04, 0, 2);
  EXPECT_EQ(memory.getSectionStart("c"), 0x12u);

  Memory tiny = makeMemory(0x21, 0x21);
  EXPECT_FALSE(tiny.canFit(1, 2));
  EXPECT_TRUE(tiny.canFit(1, 1));
  EXPECT_TRUE(tiny.canFit(0, 2));
}

TEST(MemoryTest, FixedFitsNeverWrapAtTheTopOfTheAddressSpace) {
  Memory memory = makeMemory(0xFFFFFF00u, 0xFFFFFFFEu);
  EXPECT_TRUE(memory.canFitAt(0xFFFFFFF0u, 0x0F));
  EXPECT_FALSE(memory.canFitAt(0xFFFFFFF0u, 0x10));
  EXPECT_FALSE(memory.canFitAt(0xFFFFFFF0u, 0x20));
  EXPECT_FALSE(memory.canFitAt(0xFFFFFFFFu, 0x02));
  EXPECT_FALSE(memory.canFitAt(0xFFFFFE00u, 0x02));
}

TEST(MemoryTest, CountsWholeLocationsOfTwoBytePrograms) {
  Memory memory = makeMemory(0, 0x7FF, 14, kProgramMemory);
  EXPECT_EQ(memory.largestHole(), 0x1000u);
  EXPECT_TRUE(memory.canFit(0x1000, 1));
  EXPECT_FALSE(memory.canFit(0x1001, 1));
  memory.allocate("code", 5, 0, 1); // 5 bytes need 3 words
  EXPECT_EQ(memory.getSectionSize("code"), 6u);
  EXPECT_EQ(freeSpans(memory), (std::vector<Span>{{3, 0x7FD}}));
}

TEST(MemoryTest, ZeroLengthSectionKeepsEveryFreeLocation) {
  Memory memory = makeMemory(0x20, 0x7F);
  memory.allocate("empty", 0, 0, 1);
  EXPECT_TRUE(memory.isAllocated("empty"));
  EXPECT_EQ(memory.getSectionStart("empty"), 0x20u);
  EXPECT_EQ(memory.getSectionSize("empty"), 0u);
  EXPECT_EQ(freeSpans(memory), (std::vector<Span>{{0x20, 0x60}}));
  memory.load(0, "empty", 0);
  EXPECT_EQ(memory.getLoadStart(0, "empty"), 0x20u);
}

TEST(MemoryTest, LoadsPiecesOneAfterAnotherByInputPosition) {
  Memory memory = makeMemory(0, 0x7FF, 14, kProgramMemory);
  memory.allocateAt("code", 0x100, 10, 0);
  // Two inputs of one name are two positions: both load.
  memory.load(3, "code", 4);
  EXPECT_EQ(memory.loadComplete(), 0);
  memory.load(3 + 4, "code", 6);
  EXPECT_EQ(memory.getLoadStart(3, "code"), 0x100u);
  EXPECT_EQ(memory.getLoadSize(3, "code"), 4u);
  EXPECT_EQ(memory.getLoadStart(7, "code"), 0x102u);
  EXPECT_TRUE(memory.isLoaded(7, "code"));
  EXPECT_FALSE(memory.isLoaded(4, "code"));
  EXPECT_EQ(memory.loadComplete(), 1);
}

TEST(MemoryTest, OverlayPiecesAllStartAtTheSectionStart) {
  Memory memory = makeMemory(0, 0xFF);
  memory.allocate("ov", 0x10, 1, 1);
  memory.load(0, "ov", 0x10);
  memory.load(1, "ov", 0x08);
  EXPECT_EQ(memory.getLoadStart(0, "ov"), memory.getSectionStart("ov"));
  EXPECT_EQ(memory.getLoadStart(1, "ov"), memory.getSectionStart("ov"));
  EXPECT_EQ(memory.sectionRange("ov").getPc(), memory.getSectionStart("ov"));
}

TEST(MemoryTest, AbsoluteLoadRecordsEachPieceOwnSize) {
  Memory memory = makeMemory(0, 0xFF);
  memory.allocateAt("abs", 0x40, 0x10, 0);
  memory.loadAbsolute(2, "abs", 0x40, 0x10);
  EXPECT_EQ(memory.getLoadStart(2, "abs"), 0x40u);
  EXPECT_EQ(memory.getLoadSize(2, "abs"), 0x10u);
  EXPECT_EQ(memory.loadComplete(), 1);

  // Overlay pieces of different sizes: a copy of the range's size would
  // read past the shorter piece.
  memory.allocateAt("ov", 0x80, 0x10, 1);
  memory.loadAbsolute(0, "ov", 0x80, 0x10);
  memory.loadAbsolute(1, "ov", 0x80, 0x04);
  EXPECT_EQ(memory.getLoadStart(1, "ov"), 0x80u);
  EXPECT_EQ(memory.getLoadSize(0, "ov"), 0x10u);
  EXPECT_EQ(memory.getLoadSize(1, "ov"), 0x04u);
}

TEST(MemoryTest, PlacesManySectionsAmongManyHolesQuickly) {
  // Guards against walking and sorting the whole free list per placement.
  const std::uint32_t count = 20000;
  Memory memory = makeMemory(0, 4 * count - 1);
  for (std::uint32_t i = 0; i < count; ++i)
    memory.allocateAt("abs" + std::to_string(i), 4 * i, 1 + i % 3, 0);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::string name = "rel" + std::to_string(i);
    const std::uint32_t length = 3 - i % 3;
    ASSERT_EQ(memory.canFit(length, 1), 1) << i;
    memory.allocate(name, length, 0, 1);
    const std::uint32_t start = memory.getSectionStart(name);
    ASSERT_EQ(start % 4, i % 3 == 0 ? 1u : 3 - length + 1) << i;
  }
  EXPECT_EQ(memory.largestHole(), 0u);
}

TEST(MemoryTest, FillVisitsFreeRangesInFreeListOrder) {
  Memory memory("page", 0, 0xFF, kProgramMemory, 0, 1, "0x3FFF");
  memory.setWidthBits(14);
  memory.allocateAt("a", 0x10, 0x40, 0);
  std::vector<Span> seen;
  memory.fillUnused([&](const Memory &, std::uint32_t first, std::uint32_t last,
                        const std::string &fill) {
    EXPECT_EQ(fill, "0x3FFF");
    seen.push_back({first, last - first + 1});
  });
  EXPECT_EQ(seen, (std::vector<Span>{{0x00, 0x10}, {0x30, 0xD0}}));

  Memory plain = makeMemory(0, 0xFF);
  int calls = 0;
  plain.fillUnused([&](const Memory &, std::uint32_t, std::uint32_t,
                       const std::string &) { ++calls; });
  EXPECT_EQ(calls, 0);
}

TEST(MemoryTest, PrintsTheAllocationTableInAddressOrder) {
  Memory memory("gpr0", 0x20, 0x1007F, kDataMemory, 0, 0, "");
  memory.setWidthBits(8);
  memory.allocateAt("zeta", 0x30, 0x10, 0);
  memory.allocateAt("alpha", 0x10040, 5, 0);
  std::ostringstream out;
  memory.printAllocation(out, 1);
  EXPECT_EQ(out.str(),
            "    Memory      Start        End              Section    Address"
            " Size(Bytes)\n"
            " ---------  ---------  ---------            ---------  ---------"
            "  ---------\n"
            "      gpr0     0x0020     0x007f                 zeta     0x0030"
            "     0x0010\n" +
                std::string(48, ' ') + "alpha     0x0040     0x0005\n\n");

  Memory empty("bank1", 0xA0, 0xEF, kDataMemory, 0, 0, "");
  std::ostringstream line;
  empty.printAllocation(line, 0);
  // Three empty columns: 20, 10 and 10 blanks, each after a separator.
  EXPECT_EQ(line.str(),
            "     bank1     0x00a0     0x00ef" + std::string(43, ' ') + "\n\n");
}

TEST(MemoryTest, OverlapsIncludeBothEnds) {
  const Memory low("a", 0, 0x7FF, kProgramMemory, 0, 0, "");
  EXPECT_FALSE(
      low.overlaps(Memory("b", 0x800, 0xFFF, kProgramMemory, 0, 0, "")));
  EXPECT_TRUE(
      low.overlaps(Memory("b", 0x7FF, 0xFFF, kProgramMemory, 0, 0, "")));
  EXPECT_TRUE(
      low.overlaps(Memory("b", 0x100, 0x101, kProgramMemory, 0, 0, "")));
}

TEST(MemoryDeathTest, RefusesToLoadAnInputTwice) {
  Memory memory = makeMemory(0, 0xFF);
  memory.allocate("s", 4, 0, 1);
  memory.load(1, "s", 2);
  EXPECT_DEATH(memory.load(1, "s", 2), "memtarg");
}

} // namespace
