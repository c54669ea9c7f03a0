// One memory of the linker command file (a CODEPAGE, DATABANK, SHAREBANK or
// ACCESSBANK), cut into free ranges and ranges that each hold one section.
#pragma once

#include "Range.h"

#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

class SectionDesc;

// A hash index over a memory's allocated ranges by section name: the link
// looks sections up by name for every input piece. It is a cache only: a
// copy starts stale and is rebuilt on first use, so it never points into
// the ranges of the memory it was copied from. The entries lie in one flat
// open-addressed table (each with its hash), grown by doubling: thousands
// of sections are entered one by one while they are allocated.
class AllocatedIndex {
public:
  AllocatedIndex() = default;
  AllocatedIndex(const AllocatedIndex &) {}
  AllocatedIndex &operator=(const AllocatedIndex &) {
    cSlots.clear();
    cCount = 0;
    cValid = false;
    return *this;
  }

  const Range *find(const std::map<std::string, Range> &allocated,
                    const std::string &name);
  // Records a range just entered in allocated.
  void add(const std::string &name, const Range &range);
  // Builds the index anew over allocated, sized once for all its ranges
  // (after many are entered at once).
  void rebuild(const std::map<std::string, Range> &allocated);

private:
  struct Slot {
    std::size_t hash = 0;
    std::string_view name;
    const Range *range = nullptr; // null: an empty slot
  };
  void enter(std::string_view name, const Range &range);
  std::size_t probe(std::string_view name, std::size_t hash) const;

  std::vector<Slot> cSlots; // a power of two, at most half full
  std::size_t cCount = 0;
  bool cValid = false;
};

class Memory {
public:
  Memory() = default;
  Memory(const std::string &name, std::uint32_t startLoc, std::uint32_t endLoc,
         std::uint8_t type, int isProtected, int hasFill,
         const std::string &fill);

  const std::string &getName() const { return cName; }
  std::uint32_t getStart() const { return cStart; }
  std::uint32_t getEnd() const { return cEnd; }
  std::uint8_t getType() const { return cType; }
  int isProtected() const { return cProtected; }
  int hasFill() const { return cHasFill; }
  const std::string &getFill() const { return cFill; }
  // In locations, END and START both inclusive.
  std::uint32_t size() const { return cEnd - cStart + 1; }
  // START and END inclusive: sharing one address is an overlap.
  int overlaps(const Memory &other) const;

  // Called once the processor is known, before any allocation.
  void setWidthBits(std::uint16_t bits);

  int isAllocated(const std::string &secName) const;
  int isLoaded(InputIndex input, const std::string &secName) const;

  int canFit(std::uint32_t lengthInBytes, std::uint32_t alignment) const;
  int canFitAt(std::uint32_t startLoc, std::uint32_t lengthInBytes) const;

  // Best fit: the smallest free range that takes the section, at its lowest
  // aligned location.
  int allocate(const std::string &secName, std::uint32_t lengthInBytes,
               int isOverlay, std::uint32_t alignment);
  // An absolute section at its own start location.
  int allocateAt(const std::string &secName, std::uint32_t startLoc,
                 std::uint32_t lengthInBytes, int isOverlay);
  // Places a section as allocate does (0 when no free range takes it, the
  // memory unchanged), but enters it among the allocated ranges only at
  // enterPlaced: thousands of sections placed in a row then enter at once,
  // in the order of their ranks, instead of being searched for one by
  // one. Ranks that follow the names' order make entering them one walk.
  // The caller places every name once; until enterPlaced the memory does
  // not know the section by name.
  int placeLater(const std::string &secName, std::uint32_t lengthInBytes,
                 int isOverlay, std::uint32_t alignment, std::uint32_t rank);
  // Enters every section placed by placeLater.
  void enterPlaced();

  int load(InputIndex input, const std::string &secName,
           std::uint32_t lengthInBytes);
  int loadAbsolute(InputIndex input, const std::string &secName,
                   std::uint32_t startLoc, std::uint32_t lengthInBytes);
  // The same for a section whose range is at hand: one of this memory's
  // own allocated ranges (from sectionRange or allocated()), so that a
  // piece costs no lookup by name.
  int load(InputIndex input, const Range &range, std::uint32_t lengthInBytes);
  int loadAbsolute(InputIndex input, const Range &range, std::uint32_t startLoc,
                   std::uint32_t lengthInBytes);
  // Makes room in such a range for the pieces of this many inputs.
  void reserveLoads(const Range &range, std::size_t inputs);

  std::uint32_t getSectionStart(const std::string &secName) const;
  std::uint64_t getSectionSize(const std::string &secName) const;
  std::uint32_t getLoadStart(InputIndex input,
                             const std::string &secName) const;
  std::uint32_t getLoadSize(InputIndex input, const std::string &secName) const;
  // The range holding a section; the section must be allocated here.
  const Range &sectionRange(const std::string &secName) const;

  int loadComplete() const;
  // In bytes; 0 when nothing is free.
  std::uint64_t largestHole() const;
  // Smallest free range first; equal sizes keep their order.
  void sortUnallocated();

  // Called with (memory, first location, last location, fill text) for
  // every free range, in free-list order, when the memory has a FILL.
  using FillCallback = std::function<void(const Memory &, std::uint32_t,
                                          std::uint32_t, const std::string &)>;
  void fillUnused(const FillCallback &callback) const;

  // The free ranges in free-list order: after a placement, the others by
  // size (equal sizes oldest first), then the pieces that placement left.
  const std::list<Range> &unallocated() const;
  const std::map<std::string, Range> &allocated() const { return cAllocated; }

  void printAllocation(std::ostream &out, int withHeader) const;
  // The same table added to the end of out.
  void appendAllocation(std::string &out, int withHeader) const;
  void print(std::ostream &out) const;

private:
  static constexpr std::uint64_t kNone = ~std::uint64_t(0);
  using FreeMap = std::map<std::uint64_t, Range>;
  using FreeSet = std::set<std::pair<std::uint32_t, std::uint64_t>>;
  // The nodes of a free range just taken, used again for the pieces it
  // leaves rather than freed and made anew.
  struct SpareNodes {
    FreeMap::node_type free;
    FreeSet::node_type bySize;
    FreeSet::node_type byStart;
  };

  // Takes the section into the free range seq, files the pieces it leaves
  // as the newest free ranges and gives the section's range.
  Range takeRange(std::uint64_t seq, const std::string &secName,
                  std::uint32_t startLoc, std::uint32_t lengthInBytes,
                  int isOverlay);
  // Where allocate places a section in the free range seq.
  std::uint32_t alignedStart(std::uint64_t seq, std::uint32_t alignment) const;
  // Enters a section's range among the allocated ranges.
  void enterAllocated(Range range);
  void addFree(const Range &range);
  void addFree(const Range &range, SpareNodes &spare);
  // The free range a placement would take, or kNone.
  std::uint64_t findBestFit(std::uint32_t lengthInBytes,
                            std::uint32_t alignment) const;
  std::uint64_t findAt(std::uint32_t startLoc,
                       std::uint32_t lengthInBytes) const;
  std::vector<const Range *> freeOrder() const;
  const Range *findAllocated(const std::string &secName) const;
  Range *findAllocated(const std::string &secName);

  std::string cName;
  std::uint8_t cType = kDataMemory;
  int cProtected = 0;
  int cHasFill = 0;
  std::string cFill;
  std::uint32_t cStart = 0; // locations
  std::uint32_t cEnd = 0;   // locations, inclusive
  std::uint16_t cWidthBits = 0;
  // Free ranges by creation number. Best fit looks them up by (size in
  // locations, number), fixed placement by (start, number) of the ranges
  // that are not empty, so neither walks the whole free list.
  FreeMap cFree;
  FreeSet cFreeBySize;
  FreeSet cFreeByStart;
  std::uint64_t cNextSeq = 0;
  // Ranges numbered from here on are the pieces of the last placement.
  std::uint64_t cPiecesSeq = 0;
  mutable std::list<Range> cUnallocated; // unallocated()'s copy
  std::map<std::string, Range> cAllocated;
  // Placed by placeLater, not yet in cAllocated, with their ranks.
  std::vector<std::pair<std::uint32_t, Range>> cPlaced;
  mutable AllocatedIndex cAllocatedIndex; // over cAllocated
};

// A memory with its largest free range, for ordering the candidates of an
// allocation.
struct MemSize {
  Memory *memory = nullptr; // not owned
  std::uint64_t size = 0;   // bytes
};

inline bool lessBySize(const MemSize &a, const MemSize &b) {
  return a.size < b.size;
}

// First element named name (exact match); 1 with it, 0 with end().
int findByName(std::list<Memory> &list, std::list<Memory>::iterator &it,
               const std::string &name);
int findByName(std::list<SectionDesc> &list,
               std::list<SectionDesc>::iterator &it, const std::string &name);
