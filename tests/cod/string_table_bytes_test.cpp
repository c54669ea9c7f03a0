// Names read in place from an image's string table must be exactly the
// strings the COFF reader keeps, at exactly the same offsets.
#include "Coff.h"
#include "CoffBuilder.h"
#include "cod/StringTableBytes.h"

#include <gtest/gtest.h>
#include <string>
#include <string_view>

namespace {

// An object with one long-named symbol whose string table is replaced by
// `table` (the text after the length word); the length word says
// `table.size() + 4 + lengthSlack`.
std::string imageWithTable(const std::string &table, int lengthSlack = 0) {
  std::string bytes = CoffBuilder()
                          .processor(0x2550)
                          .section(".code", kScnTypeCode)
                          .at(0)
                          .words({0x0000})
                          .symbol("a_long_symbol_name", 0, 1, kClassExternal)
                          .fileBytes();
  filehdr header =
      filehdr::decode(reinterpret_cast<const std::uint8_t *>(bytes.data()));
  bytes.resize(header.f_symptr +
               syment::sizeInBytes * std::size_t(header.f_nsyms));
  std::uint32_t length = std::uint32_t(table.size() + 4 + lengthSlack);
  for (int i = 0; i < 4; ++i)
    bytes += char((length >> (8 * i)) & 0xFF);
  return bytes + table;
}

TEST(StringTableBytes, FindsExactlyTheStringsTheReaderKeeps) {
  using namespace std::string_literals;
  struct Case {
    const char *what;
    std::string table;
  };
  const Case cases[] = {
      {"well formed", "alpha\0beta\0gamma_delta\0"s},
      {"empty string ends the table", "alpha\0\0beta\0"s},
      {"leading NUL", "\0alpha\0"s},
      {"unterminated tail", "alpha\0beta"s},
      {"no NUL at all", "alpha"s},
      {"one character strings", "a\0b\0c\0\0d\0"s},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const std::string image = imageWithTable(c.table);
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(image.data());
    std::unique_ptr<Coff> coff = Coff::make(bytes, image.size(), "t.o");
    ASSERT_TRUE(coff);
    StringTableBytes table(bytes, image.size(), coff->cFileHdr);
    for (std::uint32_t offset = 0; offset < c.table.size() + 8; ++offset) {
      SCOPED_TRACE(offset);
      std::string_view name;
      auto kept = coff->cStringTbl.find(int(offset));
      ASSERT_EQ(table.find(offset, name), kept != coff->cStringTbl.end());
      if (kept != coff->cStringTbl.end()) {
        EXPECT_EQ(std::string(name), kept->second);
      }
    }
    std::string_view name;
    EXPECT_FALSE(table.find(0x80000004u, name));
  }
}

TEST(StringTableBytes, HoldsNothingWhenTheTableIsNotAllThere) {
  const std::string image = imageWithTable(std::string("alpha\0", 6), 100);
  const auto *bytes = reinterpret_cast<const std::uint8_t *>(image.data());
  filehdr header = filehdr::decode(bytes);
  StringTableBytes table(bytes, image.size(), header);
  std::string_view name;
  EXPECT_FALSE(table.find(4, name));
  StringTableBytes cut(bytes, image.size() - 7, header);
  EXPECT_FALSE(cut.find(4, name));
}

} // namespace
