// A hash index over a map keyed by section name, for a phase that looks a
// name up for every input piece: hashing the name once is cheaper than a
// tree search over thousands of names. Built for one phase and dropped at
// its end; the map must not change while the index is in use.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>

template <class Map> class NameIndex {
public:
  explicit NameIndex(const Map &map) {
    cByName.reserve(map.size());
    for (auto &entry : map)
      cByName.emplace(entry.first, &entry.second);
  }

  // The mapped value of name, or null.
  const typename Map::mapped_type *find(const std::string &name) const {
    const auto found = cByName.find(name);
    return found == cByName.end() ? nullptr : found->second;
  }

private:
  std::unordered_map<std::string_view, const typename Map::mapped_type *>
      cByName;
};
