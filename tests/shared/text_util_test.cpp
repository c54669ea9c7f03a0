#include "Banner.h"
#include "CommandArgs.h"
#include "TextUtil.h"

#include <gtest/gtest.h>
#include <sstream>
#include <vector>

namespace {

TEST(ParseNumber, ReadsHexAfterPrefixAndDecimalOtherwise) {
  const struct {
    const char *text;
    std::uint32_t value;
  } cases[] = {
      {"0x1F", 31}, {"0X10", 16}, {"17", 17},
      {"017", 17}, // no octal
      {"0x", 0},    {"", 0},      {"  42", 42},
      {"12ab", 12}, {"zz", 0},    {"0xFFFFFFFF", 0xFFFFFFFFu},
      {"1x10", 16}, // the first character is not examined
      {"0xg", 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parseNumber(c.text), c.value);
  }
}

TEST(ParseNumber, SaturatesBeyond32Bits) {
  EXPECT_EQ(parseNumber("4294967296"), 0xFFFFFFFFu);
  EXPECT_EQ(parseNumber("0x123456789"), 0xFFFFFFFFu);
  EXPECT_EQ(parseNumber("99999999999999999999999"), 0xFFFFFFFFu);
  // A negative text wraps as a 32-bit conversion would.
  EXPECT_EQ(parseNumber("-1"), 0xFFFFFFFFu);
  EXPECT_EQ(parseNumber("-5"), 0xFFFFFFFBu);
}

TEST(SplitString, KeepsEmptyPiecesButNotATrailingOne) {
  using Pieces = std::list<std::string>;
  EXPECT_EQ(splitString("a;;b", ';'), (Pieces{"a", "", "b"}));
  EXPECT_EQ(splitString(";a", ';'), (Pieces{"", "a"}));
  EXPECT_EQ(splitString("a;", ';'), (Pieces{"a"}));
  EXPECT_EQ(splitString("", ';'), Pieces{});
  EXPECT_EQ(splitString(";;", ';'), (Pieces{"", ""}));
  EXPECT_EQ(splitString("0x10-0x20", '-'), (Pieces{"0x10", "0x20"}));
}

std::vector<std::pair<int, std::string>> allTokens(const std::string &text) {
  std::istringstream in(text);
  std::vector<std::pair<int, std::string>> tokens;
  for (int i = 0; i < 10; ++i) {
    std::string token;
    int ok = readToken(in, token);
    tokens.emplace_back(ok, token);
    if (!ok)
      break;
  }
  return tokens;
}

TEST(ReadToken, QuotesGroupBlanksAndAreDropped) {
  auto tokens = allTokens("  \"a b\"c  d");
  ASSERT_EQ(tokens.size(), 3u);
  EXPECT_EQ(tokens[0], std::make_pair(1, std::string("a bc")));
  EXPECT_EQ(tokens[1], std::make_pair(1, std::string("d")));
  EXPECT_EQ(tokens[2], std::make_pair(0, std::string()));
}

TEST(ReadToken, EmptyQuotesAndUnclosedQuoteFail) {
  auto empty = allTokens("\"\" x");
  EXPECT_EQ(empty[0], std::make_pair(0, std::string()));

  auto unclosed = allTokens("\"ab c");
  EXPECT_EQ(unclosed[0], std::make_pair(0, std::string("ab c")));
}

TEST(ReadToken, HighBytesAreOrdinaryCharacters) {
  // Bytes above 0x7F (here 0xA0, a blank in Latin-1, and 0xFF) must neither
  // split tokens nor be undefined behaviour in the classification.
  auto tokens = allTokens("ab\xA0\xFF"
                          "cd\tef\n");
  ASSERT_EQ(tokens.size(), 3u);
  EXPECT_EQ(tokens[0].second, "ab\xA0\xFF"
                              "cd");
  EXPECT_EQ(tokens[1].second, "ef");
  EXPECT_EQ(tokens[2].first, 0);
}

TEST(HexText, PadsMasksAndRejectsOddWidths) {
  EXPECT_EQ(hexText(0x1F, 2), "0x001f");
  EXPECT_EQ(hexText(0x12345, 2), "0x2345");
  EXPECT_EQ(hexText(0x12345, 4), "0x00012345");
  EXPECT_EQ(hexText(0xABCDEF12, 3), "0xcdef12");
  EXPECT_EQ(hexText(0x1FF, 1), "0xff");
  EXPECT_EQ(hexText(1, 0), "<NaN>");
  EXPECT_EQ(hexText(1, 5), "<NaN>");
  EXPECT_EQ(hexText(1, -1), "<NaN>");
}

TEST(TextHelpers, QuoteSwapAndRemoveQuotes) {
  EXPECT_EQ(quote("a b"), "\"a b\"");
  EXPECT_EQ(quote("x\"y"), "\"x\"y\""); // inner quotes are not escaped
  EXPECT_EQ(removeQuotes("\"a\"b\""), "ab");
  EXPECT_EQ(byteSwap32(0x12345678u), 0x78563412u);
}

TEST(Banners, ShareOneVersion) {
  EXPECT_EQ(linkerBanner(), "ORVANE 2.40.00, Linker");
  EXPECT_EQ(librarianBanner(), "TESSIL 2.40.00, Librarian");
  EXPECT_EQ(codConverterVersion(), "CIRROW 2.40.00");
  EXPECT_EQ(codConverterBanner(), "CIRROW 2.40.00, COFF to COD File Converter");
  EXPECT_EQ(hexConverterBanner(), "PELMAT 2.40.00, COFF to HEX File Converter");
  EXPECT_EQ(noticeText(), "Copyright (c) 2026 The Orvane Toolchain Authors");
}

TEST(CommandArgs, SlashWithAnotherSlashIsAPath) {
  const struct {
    const char *arg;
    bool isSwitch;
    char letter;
  } cases[] = {
      {"/o", true, 'o'},
      {"-O", true, 'o'},
      {"/Q", true, 'q'},
      {"/home/u/x.o", false, 0},
      {"/tmp/out.cof", false, 0},
      {"/oout.cof", true, 'o'},
      {"-o/tmp/x", true, 'o'},
      {"x.o", false, 0},
      {"", false, 0},
      {"/", true, 0},
      {"-", true, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.arg);
    EXPECT_EQ(isSwitch(c.arg), c.isSwitch);
    if (c.isSwitch) {
      EXPECT_EQ(switchLetter(c.arg), c.letter);
    }
  }
}

} // namespace
