#include "HexRecords.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes counting(std::size_t count, std::uint8_t first = 0) {
  Bytes bytes(count);
  for (std::size_t i = 0; i < count; ++i)
    bytes[i] = static_cast<std::uint8_t>(first + i);
  return bytes;
}

std::string hexOf(HexFormat format, std::uint32_t start, const Bytes &bytes) {
  HexRecordWriter writer(format);
  EXPECT_TRUE(writer.addBytes(start, bytes.data(), bytes.size()));
  writer.finish();
  return writer.text();
}

TEST(HexRecords, FormatsDataRecordWithChecksum) {
  const Bytes bytes = {0x21, 0x46, 0x01, 0x36, 0x01, 0x21, 0x47, 0x01,
                       0x36, 0x00, 0x7E, 0xFE, 0x09, 0xD2, 0x19, 0x01};
  EXPECT_EQ(hexDataRecord(0x0100, bytes.data(), bytes.size()),
            ":10010000214601360121470136007EFE09D2190140\n");
  EXPECT_EQ(hexDataRecord(0xFFFF, bytes.data(), 1), ":01FFFF0021E0\n");
  EXPECT_EQ(hexLinearAddressRecord(0x0000), ":020000040000FA\n");
  EXPECT_EQ(hexLinearAddressRecord(0x0001), ":020000040001F9\n");
  EXPECT_EQ(hexLinearAddressRecord(0xABCD), ":02000004ABCD82\n");
}

TEST(HexRecords, SplitsRecordsAt16ByteBoundaries) {
  const std::string text = hexOf(HexFormat::Inhx8m, 0x08, counting(40));
  EXPECT_EQ(text, ":080008000001020304050607D4\n"
                  ":1000100008090A0B0C0D0E0F1011121314151617E8\n"
                  ":1000200018191A1B1C1D1E1F2021222324252627D8\n"
                  ":00000001FF\n");
}

TEST(HexRecords, Inhx32RepeatsLinearAddressOnlyWhenSegmentChanges) {
  HexRecordWriter writer(HexFormat::Inhx32);
  const Bytes two = {0xAA, 0xBB};
  for (std::uint32_t start : {0x20010u, 0x20100u, 0x30000u, 0x00000u})
    ASSERT_TRUE(writer.addBytes(start, two.data(), two.size()));
  writer.finish();
  EXPECT_EQ(writer.text(), ":020000040002F8\n"
                           ":02001000AABB89\n"
                           ":02010000AABB98\n"
                           ":020000040003F7\n"
                           ":02000000AABB99\n"
                           ":020000040000FA\n"
                           ":02000000AABB99\n"
                           ":00000001FF\n");
  EXPECT_EQ(writer.highText(), "");
}

TEST(HexRecords, EmptyImageHoldsOnlyEndRecord) {
  for (HexFormat format :
       {HexFormat::Inhx8m, HexFormat::Inhx8s, HexFormat::Inhx32}) {
    SCOPED_TRACE(static_cast<int>(format));
    HexRecordWriter writer(format);
    EXPECT_TRUE(writer.addBytes(0x1234, nullptr, 0));
    writer.finish();
    EXPECT_EQ(writer.text(), ":00000001FF\n");
    EXPECT_EQ(writer.highText(),
              format == HexFormat::Inhx8s ? ":00000001FF\n" : "");
  }
}

TEST(HexRecords, Inhx8sSplitsRecordsAt16WordBoundaries) {
  HexRecordWriter writer(HexFormat::Inhx8s);
  const Bytes bytes = counting(40);
  ASSERT_TRUE(writer.addBytes(0x18, bytes.data(), bytes.size()));
  writer.finish();
  EXPECT_EQ(writer.text(), ":04000C0000020406E4\n"
                           ":1000100008"
                           "0A0C0E10121416181A1C1E2022242670\n"
                           ":00000001FF\n");
  EXPECT_EQ(writer.highText(), ":04000C0001030507E0\n"
                               ":10001000090B0D0F11131517191B1D1F2123252760\n"
                               ":00000001FF\n");
}

TEST(HexRecords, Inhx8sKeepsOddStartAndLengthWhole) {
  HexRecordWriter writer(HexFormat::Inhx8s);
  const Bytes bytes = {0xA1, 0xB2, 0xC3};
  ASSERT_TRUE(writer.addBytes(0x101, bytes.data(), bytes.size()));
  writer.finish();
  EXPECT_EQ(writer.text(), ":01008100B2CC\n:00000001FF\n");
  EXPECT_EQ(writer.highText(), ":02008000A1C31A\n:00000001FF\n");
}

struct LimitCase {
  HexFormat format;
  std::uint32_t start;
  std::size_t count;
  bool fits;
};

TEST(HexRecords, RejectsAddressesBeyondEightBitFormatLimit) {
  const LimitCase cases[] = {
      {HexFormat::Inhx8m, 0xFFF0, 16, true},
      {HexFormat::Inhx8m, 0xFFF0, 17, false},
      {HexFormat::Inhx8m, 0x10000, 1, false},
      {HexFormat::Inhx8s, 0x1FFE0, 32, true},
      {HexFormat::Inhx8s, 0x1FFE0, 33, false},
      {HexFormat::Inhx8s, 0x20001, 1, false},
      {HexFormat::Inhx8s, 0x1FFFF, 1, true},
      {HexFormat::Inhx8s, 0x1FFFF, 2, false},
      {HexFormat::Inhx32, 0xFFFFFFF0, 16, true},
  };
  for (const LimitCase &c : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.format)) + " at " +
                 std::to_string(c.start) + "+" + std::to_string(c.count));
    HexRecordWriter writer(c.format);
    const Bytes bytes = counting(c.count);
    // Asked beforehand, the writer gives the answer that adding gives.
    EXPECT_EQ(writer.fits(c.start, c.count), c.fits);
    EXPECT_EQ(writer.addBytes(c.start, bytes.data(), bytes.size()), c.fits);
  }
}

} // namespace
