// A Coff's section headers found by name through a hash table: a linked
// output numbers thousands of sections, and a tree search per number costs
// a chain of cache misses and string comparisons.
#pragma once

#include "CoffRecords.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

class SectionNameIndex {
public:
  using Headers = std::map<std::string, scnhdr>;
  static constexpr std::size_t npos = ~std::size_t(0);

  explicit SectionNameIndex(const Headers &headers) {
    cHeaders.reserve(headers.size());
    for (auto at = headers.begin(); at != headers.end(); ++at)
      cHeaders.push_back(at);
    // Open addressing, at most half full; a slot holds a position + 1.
    std::size_t slotCount = 16;
    while (slotCount < 2 * cHeaders.size())
      slotCount *= 2;
    cMask = slotCount - 1;
    cSlots.assign(slotCount, 0);
    for (std::size_t i = 0; i < cHeaders.size(); ++i) {
      std::size_t slot = slotOf(cHeaders[i]->first);
      while (cSlots[slot] != 0)
        slot = (slot + 1) & cMask;
      cSlots[slot] = static_cast<std::uint32_t>(i + 1);
    }
  }

  // The header's position in name order, or npos.
  std::size_t find(std::string_view name) const {
    for (std::size_t slot = slotOf(name); cSlots[slot] != 0;
         slot = (slot + 1) & cMask)
      if (cHeaders[cSlots[slot] - 1]->first == name)
        return cSlots[slot] - 1;
    return npos;
  }

  Headers::const_iterator at(std::size_t position) const {
    return cHeaders[position];
  }
  std::size_t size() const { return cHeaders.size(); }

private:
  std::size_t slotOf(std::string_view name) const {
    return std::hash<std::string_view>()(name) & cMask;
  }

  std::vector<Headers::const_iterator> cHeaders; // in name order
  std::vector<std::uint32_t> cSlots;
  std::size_t cMask = 0;
};
