// The strings of a COFF string table by offset, in an open-addressing hash
// table. A converter looks up a name for almost every symbol, and a tree of
// tens of thousands of strings costs a chain of cache misses per lookup.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class StringTableIndex {
public:
  StringTableIndex() = default;
  explicit StringTableIndex(const std::map<int, std::string> &table);

  // The string stored at offset, or null when the table has none there.
  const std::string *find(std::uint32_t offset) const;
  // The table this index was made from.
  const std::map<int, std::string> *table() const { return cTable; }

private:
  std::size_t slotOf(std::uint32_t offset) const;

  // An offset and its string's position in cStrings; position 0 marks an
  // empty slot, so positions count from 1. Both in one slot, so that a
  // lookup touches one cache line of the table.
  struct Slot {
    std::uint32_t cOffset;
    std::uint32_t cPosition;
  };

  const std::map<int, std::string> *cTable = nullptr;
  std::vector<const std::string *> cStrings;
  std::vector<Slot> cSlots;
  std::size_t cMask = 0;
};
