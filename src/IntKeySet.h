// The keys of a std::map<int, T> as a set that answers "is this a key?"
// without walking the tree: a bit per key over their range when the keys
// lie close together (string-table offsets, section numbers), a sorted
// array otherwise.
#pragma once

#include "IntKeySlices.h"
#include "ParallelWork.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

class IntKeySet {
public:
  template <class T> explicit IntKeySet(const std::map<int, T> &map) {
    if (map.empty())
      return;
    cFirst = map.begin()->first;
    const std::int64_t range = std::int64_t{map.rbegin()->first} - cFirst + 1;
    // A bit per key of the range may cost at most about 16 bytes per key.
    if (map.size() < kSmallCount ||
        range > 128 * static_cast<std::int64_t>(map.size()) + 8192) {
      cSorted.reserve(map.size());
      for (const auto &entry : map)
        cSorted.push_back(entry.first);
      return;
    }
    cDense = true;
    cBits.assign(static_cast<std::size_t>((range + 63) / 64), 0);
    if (map.size() < kIntKeySliceMinEntries) {
      for (const auto &entry : map)
        setBit(entry.first);
      return;
    }
    // Runs cut at whole words: each thread sets bits in words of its own.
    const auto runs = intKeySlices(map, 64);
    forEachLargeInParallel(runs.size() - 1, [&](std::size_t run) {
      for (auto at = runs[run]; at != runs[run + 1]; ++at)
        setBit(at->first);
    });
  }

  bool holds(int key) const {
    if (!cDense)
      return std::binary_search(cSorted.begin(), cSorted.end(), key);
    const std::int64_t bit = std::int64_t{key} - cFirst;
    if (bit < 0 || bit >= static_cast<std::int64_t>(cBits.size()) * 64)
      return false;
    return (cBits[static_cast<std::size_t>(bit / 64)] >> (bit % 64) & 1) != 0;
  }

private:
  static constexpr std::size_t kSmallCount = 64;

  void setBit(int key) {
    const std::uint64_t bit =
        static_cast<std::uint64_t>(std::int64_t{key} - cFirst);
    cBits[bit / 64] |= std::uint64_t{1} << (bit % 64);
  }

  bool cDense = false;
  std::int64_t cFirst = 0;
  std::vector<std::uint64_t> cBits;
  std::vector<int> cSorted;
};
