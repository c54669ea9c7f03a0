// A large std::map<int, T> cut into pieces by key, so that its entries can
// be walked on several threads: each piece starts where lower_bound finds
// its first key, and the pieces together hold every entry once, in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

// pieces + 1 positions: piece p is [bounds[p], bounds[p + 1]). The key
// range is cut evenly, each cut at a multiple of alignKeys from the first
// key (alignKeys >= 1).
template <class T>
std::vector<typename std::map<int, T>::const_iterator>
mapPieceBounds(const std::map<int, T> &map, std::size_t pieces,
               std::int64_t alignKeys = 1) {
  std::vector<typename std::map<int, T>::const_iterator> bounds;
  bounds.reserve(pieces + 1);
  bounds.push_back(map.begin());
  if (map.empty()) {
    bounds.resize(pieces + 1, map.end());
    return bounds;
  }
  const std::int64_t first = map.begin()->first;
  const std::int64_t units =
      (std::int64_t{map.rbegin()->first} - first) / alignKeys + 1;
  for (std::size_t p = 1; p < pieces; ++p) {
    const std::int64_t key =
        first + alignKeys * (units * static_cast<std::int64_t>(p) /
                             static_cast<std::int64_t>(pieces));
    bounds.push_back(map.lower_bound(static_cast<int>(key)));
  }
  bounds.push_back(map.end());
  return bounds;
}
