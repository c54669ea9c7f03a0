#include "StringTableIndex.h"

StringTableIndex::StringTableIndex(const std::map<int, std::string> &table)
    : cTable(&table) {
  // At most half full, so that probe chains stay short.
  std::size_t slots = 16;
  while (slots < 2 * table.size())
    slots *= 2;
  cMask = slots - 1;
  cSlots.assign(slots, Slot{0, 0});
  cStrings.reserve(table.size() + 1);
  cStrings.push_back(nullptr);
  for (const auto &entry : table) {
    if (entry.first < 0)
      continue; // no offset reaches a negative key
    std::uint32_t offset = static_cast<std::uint32_t>(entry.first);
    cSlots[slotOf(offset)] =
        Slot{offset, static_cast<std::uint32_t>(cStrings.size())};
    cStrings.push_back(&entry.second);
  }
}

// The slot holding offset, or the empty slot where it would go. Keys are
// unique (they come from a map), so an insert never meets its own key.
// Offsets are spread over the table by themselves (strings are several
// bytes apart), and neighbouring names stay in neighbouring slots.
std::size_t StringTableIndex::slotOf(std::uint32_t offset) const {
  std::size_t slot = offset & cMask;
  while (cSlots[slot].cPosition != 0 && cSlots[slot].cOffset != offset)
    slot = (slot + 1) & cMask;
  return slot;
}

const std::string *StringTableIndex::find(std::uint32_t offset) const {
  if (cSlots.empty())
    return nullptr;
  return cStrings[cSlots[slotOf(offset)].cPosition];
}
