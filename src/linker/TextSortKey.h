// A cheap first comparison for sorting many strings: their first 16 bytes
// as two big-endian numbers. Keys that differ order their strings exactly
// as std::string's operator< does (unsigned bytes, a prefix first); only
// equal keys need the strings themselves compared.
#pragma once

#include "ByteOrder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

struct TextSortKey {
  std::uint64_t high = 0;
  std::uint64_t low = 0;
  const std::string *text = nullptr;

  TextSortKey() = default;
  explicit TextSortKey(const std::string *of) : text(of) { set(*of); }
  // The key alone, for text kept elsewhere.
  explicit TextSortKey(std::string_view of) { set(of); }

private:
  void set(std::string_view of) {
    std::uint8_t bytes[16] = {};
    if (!of.empty())
      std::memcpy(bytes, of.data(), std::min<std::size_t>(of.size(), 16));
    high = std::uint64_t{readBE32(bytes)} << 32 | readBE32(bytes + 4);
    low = std::uint64_t{readBE32(bytes + 8)} << 32 | readBE32(bytes + 12);
  }
};

inline bool textSortLess(const TextSortKey &a, const TextSortKey &b) {
  if (a.high != b.high)
    return a.high < b.high;
  if (a.low != b.low)
    return a.low < b.low;
  return *a.text < *b.text;
}
