// A std::map<int, T> cut into runs of neighbouring keys, so that a large
// one (a linked output's string table) is walked on all threads: each run
// starts where lower_bound finds it, a few steps down the tree, and the
// runs together cover the map once, in key order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

// Below this many entries one walk costs less than waking the threads.
constexpr std::size_t kIntKeySliceMinEntries = 16384;
// Enough runs to keep every core busy when some run longer than others.
constexpr std::size_t kIntKeySlices = 32;

// The bounds of the runs: run s is [bounds[s], bounds[s + 1]). The keys
// are cut at equal steps of their range, each cut at a multiple of align
// above the first key (so that runs filling a bit per key never share a
// 64-bit word when align is 64). One run when the map is small.
template <class T>
std::vector<typename std::map<int, T>::const_iterator>
intKeySlices(const std::map<int, T> &map, std::int64_t align = 1) {
  std::vector<typename std::map<int, T>::const_iterator> bounds;
  bounds.push_back(map.begin());
  if (map.size() >= kIntKeySliceMinEntries) {
    const std::int64_t first = map.begin()->first;
    const std::int64_t range = std::int64_t{map.rbegin()->first} - first + 1;
    for (std::size_t s = 1; s < kIntKeySlices; ++s) {
      std::int64_t cut = range * static_cast<std::int64_t>(s) /
                         static_cast<std::int64_t>(kIntKeySlices);
      cut -= cut % align;
      // The cut lies within the range, so it fits an int.
      bounds.push_back(map.lower_bound(static_cast<int>(first + cut)));
    }
  }
  bounds.push_back(map.end());
  return bounds;
}
