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
  // Read straight from the text, in whole words where it is long enough
  // (two overlapping ones for a tail): bytes copied into a buffer and read
  // back as words would wait on the copy.
  void set(std::string_view of) {
    const auto *p = reinterpret_cast<const std::uint8_t *>(of.data());
    high = headOf(p, std::min<std::size_t>(of.size(), 8));
    low = of.size() > 8 ? headOf(p + 8, std::min<std::size_t>(of.size() - 8, 8))
                        : 0;
  }

  // The first n bytes (at most 8) as the high bytes of a number.
  static std::uint64_t headOf(const std::uint8_t *p, std::size_t n) {
    if (n == 8)
      return readBE64(p);
    if (n >= 4) // both words hold bytes n-4..3 alike
      return std::uint64_t{readBE32(p)} << 32 |
             std::uint64_t{readBE32(p + n - 4)} << (64 - 8 * n);
    std::uint64_t head = 0;
    for (std::size_t i = 0; i < n; ++i)
      head |= std::uint64_t{p[i]} << (56 - 8 * i);
    return head;
  }
};

inline bool textSortLess(const TextSortKey &a, const TextSortKey &b) {
  if (a.high != b.high)
    return a.high < b.high;
  if (a.low != b.low)
    return a.low < b.low;
  return *a.text < *b.text;
}
