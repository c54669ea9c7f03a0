#include "Memory.h"

#include "Assert.h"
#include "SectionDesc.h"
#include "TextUtil.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace {

const char *const kModule = "memtarg";

// One row of the allocation table, appended to out: each field right-
// aligned in its width as printf's "%*s" does (never cut), one space
// between fields. A table of thousands of sections is made as one text,
// each row put in place at once rather than field by field.
void appendRow(std::string &out, std::string_view memory,
               std::string_view start, std::string_view end,
               std::string_view section, std::string_view address,
               std::string_view size) {
  const std::string_view fields[] = {memory,  start,   end,
                                     section, address, size};
  constexpr std::size_t kWidths[] = {10, 10, 10, 20, 10, 10};
  std::size_t length = 0;
  for (std::size_t field = 0; field < 6; ++field)
    length += std::max(kWidths[field], fields[field].size()) + 1;
  const std::size_t at = out.size();
  out.append(length, ' ');
  char *to = &out[at];
  for (std::size_t field = 0; field < 6; ++field) {
    const std::string_view text = fields[field];
    const std::size_t width = std::max(kWidths[field], text.size());
    std::memcpy(to + (width - text.size()), text.data(), text.size());
    to += width + 1;
  }
  to[-1] = '\n';
}

} // namespace

Memory::Memory(const std::string &name, std::uint32_t startLoc,
               std::uint32_t endLoc, std::uint8_t type, int isProtected,
               int hasFill, const std::string &fill)
    : cName(name), cType(type), cProtected(isProtected), cHasFill(hasFill),
      cFill(fill), cStart(startLoc), cEnd(endLoc) {
  addFree(Range(startLoc, endLoc - startLoc + 1, type, 0));
}

int Memory::overlaps(const Memory &other) const {
  return std::max(cStart, other.cStart) <= std::min(cEnd, other.cEnd) ? 1 : 0;
}

void Memory::setWidthBits(std::uint16_t bits) {
  cWidthBits = bits;
  for (auto &entry : cFree)
    entry.second.setWidthBits(bits);
}

const Range *AllocatedIndex::find(const std::map<std::string, Range> &allocated,
                                  const std::string &name) {
  if (!cValid)
    rebuild(allocated);
  const Slot &slot = cSlots[probe(name, std::hash<std::string_view>()(name))];
  return slot.range;
}

void AllocatedIndex::add(const std::string &name, const Range &range) {
  if (cValid)
    enter(name, range);
}

void AllocatedIndex::rebuild(const std::map<std::string, Range> &allocated) {
  std::size_t capacity = 16;
  while (capacity < 2 * (allocated.size() + 1))
    capacity *= 2;
  cSlots.assign(capacity, Slot());
  cCount = 0;
  for (const auto &entry : allocated)
    enter(entry.first, entry.second);
  cValid = true;
}

void AllocatedIndex::enter(std::string_view name, const Range &range) {
  if (2 * (cCount + 1) > cSlots.size()) {
    std::vector<Slot> old(2 * cSlots.size());
    old.swap(cSlots);
    const std::size_t mask = cSlots.size() - 1;
    for (const Slot &slot : old)
      if (slot.range != nullptr) {
        std::size_t at = slot.hash & mask;
        while (cSlots[at].range != nullptr)
          at = (at + 1) & mask;
        cSlots[at] = slot;
      }
  }
  const std::size_t hash = std::hash<std::string_view>()(name);
  Slot &slot = cSlots[probe(name, hash)];
  if (slot.range != nullptr)
    return; // the first entry of a name stays, as in the map
  slot = Slot{hash, name, &range};
  ++cCount;
}

std::size_t AllocatedIndex::probe(std::string_view name,
                                  std::size_t hash) const {
  const std::size_t mask = cSlots.size() - 1;
  for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
    const Slot &slot = cSlots[at];
    if (slot.range == nullptr || (slot.hash == hash && slot.name == name))
      return at;
  }
}

const Range *Memory::findAllocated(const std::string &secName) const {
  return cAllocatedIndex.find(cAllocated, secName);
}

Range *Memory::findAllocated(const std::string &secName) {
  // The usual idiom: the range is this memory's own, found the const way.
  return const_cast<Range *>(std::as_const(*this).findAllocated(secName));
}

int Memory::isAllocated(const std::string &secName) const {
  const Range *range = findAllocated(secName);
  return range != nullptr && range->isAllocated() ? 1 : 0;
}

int Memory::isLoaded(InputIndex input, const std::string &secName) const {
  const Range *range = findAllocated(secName);
  return range != nullptr && range->isLoaded(input) ? 1 : 0;
}

void Memory::addFree(const Range &range) {
  SpareNodes none;
  addFree(range, none);
}

void Memory::addFree(const Range &range, SpareNodes &spare) {
  const std::uint64_t seq = cNextSeq++;
  if (spare.free) {
    spare.free.key() = seq;
    spare.free.mapped() = range;
    cFree.insert(std::move(spare.free));
  } else {
    cFree.emplace(seq, range);
  }
  if (spare.bySize) {
    spare.bySize.value() = {range.sizeInLocs(), seq};
    cFreeBySize.insert(std::move(spare.bySize));
  } else {
    cFreeBySize.emplace(range.sizeInLocs(), seq);
  }
  if (range.sizeInLocs() == 0)
    return;
  if (spare.byStart) {
    spare.byStart.value() = {range.getStart(), seq};
    cFreeByStart.insert(std::move(spare.byStart));
  } else {
    cFreeByStart.emplace(range.getStart(), seq);
  }
}

std::uint64_t Memory::findBestFit(std::uint32_t lengthInBytes,
                                  std::uint32_t alignment) const {
  if (cFreeBySize.empty())
    return kNone;
  // Every range takes a section of length 0, so the smallest one does.
  if (lengthInBytes == 0)
    return cFreeBySize.begin()->second;
  // Ranges smaller than the section cannot take it; of the others only
  // those that lose locations to alignment may fail.
  const std::uint32_t needLocs = cFree.begin()->second.locs(lengthInBytes);
  for (auto it = cFreeBySize.lower_bound({needLocs, 0});
       it != cFreeBySize.end(); ++it)
    if (cFree.find(it->second)->second.canFit(lengthInBytes, alignment))
      return it->second;
  return kNone;
}

std::uint64_t Memory::findAt(std::uint32_t startLoc,
                             std::uint32_t lengthInBytes) const {
  if (cFreeBySize.empty())
    return kNone;
  if (lengthInBytes == 0)
    return cFreeBySize.begin()->second;
  // Free ranges never overlap: only the last one starting at or below
  // startLoc can hold it.
  auto it = cFreeByStart.upper_bound({startLoc, kNone});
  if (it == cFreeByStart.begin())
    return kNone;
  --it;
  return cFree.find(it->second)->second.canFitAt(startLoc, lengthInBytes)
             ? it->second
             : kNone;
}

int Memory::canFit(std::uint32_t lengthInBytes, std::uint32_t alignment) const {
  return findBestFit(lengthInBytes, alignment) != kNone ? 1 : 0;
}

int Memory::canFitAt(std::uint32_t startLoc,
                     std::uint32_t lengthInBytes) const {
  return findAt(startLoc, lengthInBytes) != kNone ? 1 : 0;
}

Range Memory::takeRange(std::uint64_t seq, const std::string &secName,
                        std::uint32_t startLoc, std::uint32_t lengthInBytes,
                        int isOverlay) {
  SpareNodes spare;
  spare.free = cFree.extract(seq);
  Range range = std::move(spare.free.mapped());
  spare.bySize = cFreeBySize.extract({range.sizeInLocs(), seq});
  spare.byStart = cFreeByStart.extract({range.getStart(), seq});
  RangePieces pieces;
  range.allocate(secName, startLoc, lengthInBytes, pieces, isOverlay);
  cPiecesSeq = cNextSeq;
  for (int piece = 0; piece < pieces.count; ++piece)
    addFree(pieces.piece[piece], spare);
  return range;
}

void Memory::enterAllocated(Range range) {
  const std::string &secName = range.getAllocName();
  // Sections of one size are placed in name order: a name usually goes
  // after every name here already.
  const auto placed =
      !cAllocated.empty() && cAllocated.rbegin()->first < secName
          ? std::make_pair(cAllocated.emplace_hint(cAllocated.end(), secName,
                                                   std::move(range)),
                           true)
          : cAllocated.emplace(secName, std::move(range));
  cAllocatedIndex.add(placed.first->first, placed.first->second);
}

std::uint32_t Memory::alignedStart(std::uint64_t seq,
                                   std::uint32_t alignment) const {
  const std::uint32_t step = alignment == 0 ? 1 : alignment;
  const std::uint32_t rangeStart = cFree.find(seq)->second.getStart();
  return rangeStart + (step - rangeStart % step) % step;
}

int Memory::allocate(const std::string &secName, std::uint32_t lengthInBytes,
                     int isOverlay, std::uint32_t alignment) {
  ORV_ASSERT(!isAllocated(secName), kModule);
  const std::uint64_t seq = findBestFit(lengthInBytes, alignment);
  const bool found = seq != kNone;
  ORV_ASSERT(found, kModule);
  enterAllocated(takeRange(seq, secName, alignedStart(seq, alignment),
                           lengthInBytes, isOverlay));
  return 1;
}

int Memory::placeLater(const std::string &secName, std::uint32_t lengthInBytes,
                       int isOverlay, std::uint32_t alignment,
                       std::uint32_t rank) {
  const std::uint64_t seq = findBestFit(lengthInBytes, alignment);
  if (seq == kNone)
    return 0;
  cPlaced.emplace_back(rank,
                       takeRange(seq, secName, alignedStart(seq, alignment),
                                 lengthInBytes, isOverlay));
  return 1;
}

void Memory::enterPlaced() {
  if (cPlaced.empty())
    return;
  std::vector<std::pair<std::uint32_t, Range *>> byRank(cPlaced.size());
  for (std::size_t at = 0; at < cPlaced.size(); ++at)
    byRank[at] = {cPlaced[at].first, &cPlaced[at].second};
  std::sort(byRank.begin(), byRank.end(),
            [](const auto &a, const auto &b) { return a.first < b.first; });
  // One walk over the ranges here already finds where each name goes.
  auto at = cAllocated.begin();
  for (const auto &ranked : byRank) {
    Range &range = *ranked.second;
    const std::string &name = range.getAllocName();
    if (at != cAllocated.begin() && !(std::prev(at)->first < name))
      at = cAllocated.lower_bound(name); // out of order: a search
    while (at != cAllocated.end() && at->first < name)
      ++at;
    ORV_ASSERT(at == cAllocated.end() || at->first != name, kModule);
    at = std::next(cAllocated.emplace_hint(at, name, std::move(range)));
  }
  std::vector<std::pair<std::uint32_t, Range>>().swap(cPlaced);
  // The next phases look sections up by name, often on many threads.
  cAllocatedIndex.rebuild(cAllocated);
}

int Memory::allocateAt(const std::string &secName, std::uint32_t startLoc,
                       std::uint32_t lengthInBytes, int isOverlay) {
  ORV_ASSERT(!isAllocated(secName), kModule);
  ORV_ASSERT(canFitAt(startLoc, lengthInBytes), kModule);
  const std::uint64_t seq = findAt(startLoc, lengthInBytes);
  const bool found = seq != kNone;
  ORV_ASSERT(found, kModule);
  enterAllocated(takeRange(seq, secName, startLoc, lengthInBytes, isOverlay));
  return 1;
}

int Memory::load(InputIndex input, const std::string &secName,
                 std::uint32_t lengthInBytes) {
  Range *range = findAllocated(secName);
  ORV_ASSERT(range != nullptr && range->isAllocated(), kModule);
  ORV_ASSERT(!range->isLoaded(input), kModule);
  return range->load(input, lengthInBytes);
}

int Memory::loadAbsolute(InputIndex input, const std::string &secName,
                         std::uint32_t startLoc, std::uint32_t lengthInBytes) {
  Range *range = findAllocated(secName);
  ORV_ASSERT(range != nullptr && range->isAllocated(), kModule);
  ORV_ASSERT(!range->isLoaded(input), kModule);
  return range->loadAbsolute(input, startLoc, lengthInBytes);
}

int Memory::load(InputIndex input, const Range &range,
                 std::uint32_t lengthInBytes) {
  ORV_ASSERT(range.isAllocated() && !range.isLoaded(input), kModule);
  // The range is this memory's own, handed out read-only.
  return const_cast<Range &>(range).load(input, lengthInBytes);
}

int Memory::loadAbsolute(InputIndex input, const Range &range,
                         std::uint32_t startLoc, std::uint32_t lengthInBytes) {
  ORV_ASSERT(range.isAllocated() && !range.isLoaded(input), kModule);
  return const_cast<Range &>(range).loadAbsolute(input, startLoc,
                                                 lengthInBytes);
}

void Memory::reserveLoads(const Range &range, std::size_t inputs) {
  const_cast<Range &>(range).reserveLoads(inputs);
}

const Range &Memory::sectionRange(const std::string &secName) const {
  const Range *range = findAllocated(secName);
  ORV_ASSERT(range != nullptr && range->isAllocated(), kModule);
  return *range;
}

std::uint32_t Memory::getSectionStart(const std::string &secName) const {
  return sectionRange(secName).getStart();
}

std::uint64_t Memory::getSectionSize(const std::string &secName) const {
  return sectionRange(secName).sizeInBytes();
}

std::uint32_t Memory::getLoadStart(InputIndex input,
                                   const std::string &secName) const {
  const Range *range = findAllocated(secName);
  ORV_ASSERT(range != nullptr && range->isLoaded(input), kModule);
  return range->getLoadStart(input);
}

std::uint32_t Memory::getLoadSize(InputIndex input,
                                  const std::string &secName) const {
  const Range *range = findAllocated(secName);
  ORV_ASSERT(range != nullptr && range->isLoaded(input), kModule);
  return range->getLoadSize(input);
}

int Memory::loadComplete() const {
  for (const auto &entry : cAllocated)
    if (!entry.second.loadComplete())
      return 0;
  return 1;
}

std::uint64_t Memory::largestHole() const {
  if (cFreeBySize.empty())
    return 0;
  return cFree.find(cFreeBySize.rbegin()->second)->second.sizeInBytes();
}

void Memory::sortUnallocated() {
  // Sorted by size, equal sizes oldest first: exactly the size index.
  cPiecesSeq = cNextSeq;
}

std::vector<const Range *> Memory::freeOrder() const {
  std::vector<const Range *> order;
  order.reserve(cFree.size());
  for (const auto &entry : cFreeBySize)
    if (entry.second < cPiecesSeq)
      order.push_back(&cFree.find(entry.second)->second);
  for (auto it = cFree.lower_bound(cPiecesSeq); it != cFree.end(); ++it)
    order.push_back(&it->second);
  return order;
}

const std::list<Range> &Memory::unallocated() const {
  cUnallocated.clear();
  for (const Range *range : freeOrder())
    cUnallocated.push_back(*range);
  return cUnallocated;
}

void Memory::fillUnused(const FillCallback &callback) const {
  if (!cHasFill)
    return;
  for (const Range *range : freeOrder())
    if (range->sizeInLocs() > 0)
      callback(*this, range->getStart(), range->getEnd(), cFill);
}

void Memory::printAllocation(std::ostream &out, int withHeader) const {
  std::string text;
  appendAllocation(text, withHeader);
  out << text;
  out.flush();
}

void Memory::appendAllocation(std::string &text, int withHeader) const {
  struct Row {
    const std::string *name;
    std::uint32_t address;
    const Range *range;
  };
  std::vector<Row> sections;
  sections.reserve(cAllocated.size());
  for (const auto &entry : cAllocated)
    sections.push_back({&entry.first, entry.second.getStart(), &entry.second});
  std::stable_sort(
      sections.begin(), sections.end(),
      [](const Row &a, const Row &b) { return a.address < b.address; });

  // A row is at least 76 bytes; longer names are rare. Grown by doubling,
  // as tables are added one after another.
  const std::size_t needed = text.size() + 80 * (sections.size() + 3);
  if (text.capacity() < needed)
    text.reserve(std::max(needed, 2 * text.capacity()));
  if (withHeader) {
    appendRow(text, "Memory", "Start", "End", "Section", "Address",
              "Size(Bytes)");
    const std::string rule = "---------";
    appendRow(text, rule, rule, rule, rule, rule, rule);
  }
  const std::string start = hexText(cStart, 2);
  const std::string end = hexText(cEnd, 2);
  const std::string none;
  if (sections.empty())
    appendRow(text, cName, start, end, none, none, none);
  bool first = true;
  for (const Row &section : sections) {
    const std::string size =
        hexText(static_cast<std::uint32_t>(section.range->sizeInBytes()), 2);
    appendRow(text, first ? cName : none, first ? start : none,
              first ? end : none, *section.name, hexText(section.address, 2),
              size);
    first = false;
  }
  text += '\n';
}

void Memory::print(std::ostream &out) const {
  out << "Memory: name=" << cName << " start=" << cStart << " end=" << cEnd
      << " type=" << static_cast<int>(cType) << '\n';
  out << "        protected=" << cProtected << " hasFill=" << cHasFill
      << " fill=" << cFill << '\n';
  out << "    ---Allocated Ranges--- " << '\n';
  for (const auto &entry : cAllocated)
    entry.second.print(out);
  out << "    ---Unallocated Ranges--- " << '\n';
  for (const Range *range : freeOrder())
    range->print(out);
}

int findByName(std::list<Memory> &list, std::list<Memory>::iterator &it,
               const std::string &name) {
  for (it = list.begin(); it != list.end(); ++it)
    if (it->getName() == name)
      return 1;
  return 0;
}

int findByName(std::list<SectionDesc> &list,
               std::list<SectionDesc>::iterator &it, const std::string &name) {
  for (it = list.begin(); it != list.end(); ++it)
    if (it->getName() == name)
      return 1;
  return 0;
}
