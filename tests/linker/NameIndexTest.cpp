#include "linker/NameIndex.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Sized for a few names, the index must still hold every name it gets:
// the section merge sizes it by a guess.
TEST(FlatNameIndexTest, HoldsEveryNameWhenGivenFarMoreThanSizedFor) {
  std::vector<std::string> names;
  for (int i = 0; i < 5000; ++i)
    names.push_back("section_" + std::to_string(i));
  FlatNameIndex<int> index(3);
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i % 2 == 0)
      index.add(names[i], static_cast<int>(i));
    else
      index.add(names[i], FlatNameIndex<int>::hashOf(names[i]),
                static_cast<int>(i));
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    SCOPED_TRACE(names[i]);
    const int *value = index.find(names[i]);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(*value, static_cast<int>(i));
    EXPECT_EQ(index.find(names[i], FlatNameIndex<int>::hashOf(names[i])),
              value);
  }
  EXPECT_EQ(index.find("section_5000"), nullptr);
}

TEST(FlatNameIndexTest, KeepsTheFirstValueEnteredForAName) {
  const std::string name = "text_00001";
  std::vector<std::string> others;
  for (int i = 0; i < 100; ++i)
    others.push_back("other_" + std::to_string(i));
  FlatNameIndex<int> index(1);
  index.add(name, 1);
  index.add(name, 2);
  for (const std::string &other : others)
    index.add(other, 0); // grows, moving the first entry
  index.add(name, 3);
  ASSERT_NE(index.find(name), nullptr);
  EXPECT_EQ(*index.find(name), 1);
}

} // namespace
