#include "ByteOrder.h"

#include <gtest/gtest.h>

TEST(ByteOrder, ReadsAndWritesBothOrdersOfEveryWidth) {
  std::uint8_t bytes[8] = {};
  writeLE16(bytes, 0x1234);
  EXPECT_EQ(bytes[0], 0x34);
  EXPECT_EQ(bytes[1], 0x12);
  EXPECT_EQ(readLE16(bytes), 0x1234);
  writeBE16(bytes, 0x1234);
  EXPECT_EQ(bytes[0], 0x12);
  EXPECT_EQ(readBE16(bytes), 0x1234);

  writeLE32(bytes, 0xA1B2C3D4u);
  EXPECT_EQ(bytes[0], 0xD4);
  EXPECT_EQ(bytes[3], 0xA1);
  EXPECT_EQ(readLE32(bytes), 0xA1B2C3D4u);
  writeBE32(bytes, 0xA1B2C3D4u);
  EXPECT_EQ(bytes[0], 0xA1);
  EXPECT_EQ(bytes[3], 0xD4);
  EXPECT_EQ(readBE32(bytes), 0xA1B2C3D4u);

  writeLE64(bytes, 0x0102030405060708ull);
  EXPECT_EQ(bytes[0], 0x08);
  EXPECT_EQ(bytes[7], 0x01);
  EXPECT_EQ(readLE64(bytes), 0x0102030405060708ull);
  writeBE64(bytes, 0x0102030405060708ull);
  EXPECT_EQ(bytes[0], 0x01);
  EXPECT_EQ(readBE64(bytes), 0x0102030405060708ull);
}

TEST(ByteOrder, HighBitsSurviveWithoutSignExtension) {
  std::uint8_t bytes[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(readLE32(bytes), 0xFFFFFFFFu);
  EXPECT_EQ(readBE16(bytes), 0xFFFF);
}

TEST(ByteOrder, AppendsToStrings) {
  std::string out;
  appendLE16(out, 0x0102);
  appendBE16(out, 0x0102);
  appendLE32(out, 0x01020304);
  appendBE32(out, 0x01020304);
  EXPECT_EQ(
      out, std::string("\x02\x01\x01\x02\x04\x03\x02\x01\x01\x02\x03\x04", 12));
}
