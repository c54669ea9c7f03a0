#include "StringTableIndex.h"

StringTableIndex::StringTableIndex(const std::map<int, std::string> &table)
    : cTable(&table) {
  // At most half full, so that probe chains stay short.
  std::size_t slots = 16;
  while (slots < 2 * table.size())
    slots *= 2;
  cMask = slots - 1;
  cOffsets.assign(slots, 0);
  cPositions.assign(slots, 0);
  cStrings.reserve(table.size() + 1);
  cStrings.push_back(nullptr);
  for (const auto &entry : table) {
    if (entry.first < 0)
      continue; // no offset reaches a negative key
    std::uint32_t offset = static_cast<std::uint32_t>(entry.first);
    std::size_t slot = slotOf(offset);
    cOffsets[slot] = offset;
    cPositions[slot] = static_cast<std::uint32_t>(cStrings.size());
    cStrings.push_back(&entry.second);
  }
}

// The slot holding offset, or the empty slot where it would go. Keys are
// unique (they come from a map), so an insert never meets its own key.
std::size_t StringTableIndex::slotOf(std::uint32_t offset) const {
  std::size_t slot = (offset * 0x9E3779B1u) & cMask;
  while (cPositions[slot] != 0 && cOffsets[slot] != offset)
    slot = (slot + 1) & cMask;
  return slot;
}

const std::string *StringTableIndex::find(std::uint32_t offset) const {
  if (cPositions.empty())
    return nullptr;
  return cStrings[cPositions[slotOf(offset)]];
}
