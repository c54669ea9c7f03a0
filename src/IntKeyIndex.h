// The entries of a std::map<int, T> found by key without walking the tree:
// when the keys lie close together (string-table offsets), a bit per key of
// their range, a count per 64 keys and the values in key order, so a look-up
// is a bit test and a population count; otherwise a sorted array.
#pragma once

#include "IntKeySlices.h"
#include "ParallelWork.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

template <class T> class IntKeyIndex {
public:
  explicit IntKeyIndex(const std::map<int, T> &map) {
    if (map.empty())
      return;
    cFirst = map.begin()->first;
    const std::int64_t range = std::int64_t{map.rbegin()->first} - cFirst + 1;
    // The bits and counts may cost at most about 16 bytes per key.
    if (map.size() < kSmallCount ||
        range > 96 * static_cast<std::int64_t>(map.size()) + 8192) {
      cSorted.reserve(map.size());
      for (const auto &entry : map)
        cSorted.emplace_back(entry.first, &entry.second);
      return;
    }
    cDense = true;
    cBits.assign(static_cast<std::size_t>((range + 63) / 64), 0);
    cCounts.resize(cBits.size());
    cValues.resize(map.size());
    if (map.size() < kIntKeySliceMinEntries) {
      std::size_t to = 0;
      for (const auto &entry : map) {
        setBit(entry.first);
        cValues[to++] = &entry.second;
      }
      countBits();
      return;
    }
    // Runs cut at whole words, on all threads: each sets bits in words of
    // its own, counts its keys, and then, knowing how many keys come
    // before it, places its values.
    const auto runs = intKeySlices(map, 64);
    std::vector<std::size_t> runFirst(runs.size(), 0);
    forEachLargeInParallel(runs.size() - 1, [&](std::size_t run) {
      std::size_t keys = 0;
      for (auto at = runs[run]; at != runs[run + 1]; ++at, ++keys)
        setBit(at->first);
      runFirst[run + 1] = keys;
    });
    for (std::size_t run = 1; run < runFirst.size(); ++run)
      runFirst[run] += runFirst[run - 1];
    forEachLargeInParallel(runs.size() - 1, [&](std::size_t run) {
      std::size_t to = runFirst[run];
      for (auto at = runs[run]; at != runs[run + 1]; ++at)
        cValues[to++] = &at->second;
    });
    countBits();
  }

  // The value stored under key, or null.
  const T *find(std::int64_t key) const {
    if (!cDense) {
      const auto at =
          std::lower_bound(cSorted.begin(), cSorted.end(), key,
                           [](const std::pair<int, const T *> &entry,
                              std::int64_t k) { return entry.first < k; });
      return at != cSorted.end() && at->first == key ? at->second : nullptr;
    }
    const std::int64_t bit = key - cFirst;
    if (bit < 0 || bit >= static_cast<std::int64_t>(cBits.size()) * 64)
      return nullptr;
    const std::size_t word = static_cast<std::size_t>(bit / 64);
    const std::uint64_t mask = std::uint64_t{1} << (bit % 64);
    if ((cBits[word] & mask) == 0)
      return nullptr;
    return cValues[cCounts[word] +
                   static_cast<std::uint32_t>(
                       __builtin_popcountll(cBits[word] & (mask - 1)))];
  }

private:
  static constexpr std::size_t kSmallCount = 64;

  void setBit(int key) {
    const std::uint64_t bit =
        static_cast<std::uint64_t>(std::int64_t{key} - cFirst);
    cBits[bit / 64] |= std::uint64_t{1} << (bit % 64);
  }
  void countBits() {
    std::uint32_t before = 0;
    for (std::size_t word = 0; word < cBits.size(); ++word) {
      cCounts[word] = before;
      before += static_cast<std::uint32_t>(__builtin_popcountll(cBits[word]));
    }
  }

  bool cDense = false;
  std::int64_t cFirst = 0;
  std::vector<std::uint64_t> cBits;
  std::vector<std::uint32_t> cCounts; // keys below each word
  std::vector<const T *> cValues;     // in key order
  std::vector<std::pair<int, const T *>> cSorted;
};
