#include "Memory.h"

#include "Assert.h"
#include "ScnAddr.h"
#include "SectionDesc.h"
#include "TextUtil.h"

#include <algorithm>
#include <vector>

namespace {

const char *const kModule = "memtarg";

// printf's "%*s": right-aligned, never cut.
std::string padLeft(const std::string &text, std::size_t width) {
  if (text.size() >= width)
    return text;
  return std::string(width - text.size(), ' ') + text;
}

void printRow(std::ostream &out, const std::string &memory,
              const std::string &start, const std::string &end,
              const std::string &section, const std::string &address,
              const std::string &size) {
  out << padLeft(memory, 10) << ' ' << padLeft(start, 10) << ' '
      << padLeft(end, 10) << ' ' << padLeft(section, 20) << ' '
      << padLeft(address, 10) << ' ' << padLeft(size, 10) << '\n';
}

} // namespace

Memory::Memory(const std::string &name, std::uint32_t startLoc,
               std::uint32_t endLoc, std::uint8_t type, int isProtected,
               int hasFill, const std::string &fill)
    : cName(name), cType(type), cProtected(isProtected), cHasFill(hasFill),
      cFill(fill), cStart(startLoc), cEnd(endLoc) {
  cUnallocated.push_back(Range(startLoc, endLoc - startLoc + 1, type, 0));
}

int Memory::overlaps(const Memory &other) const {
  return std::max(cStart, other.cStart) <= std::min(cEnd, other.cEnd) ? 1 : 0;
}

void Memory::setWidthBits(std::uint16_t bits) {
  for (Range &range : cUnallocated)
    range.setWidthBits(bits);
}

const Range *Memory::findAllocated(const std::string &secName) const {
  auto it = cAllocated.find(secName);
  return it == cAllocated.end() ? nullptr : &it->second;
}

int Memory::isAllocated(const std::string &secName) const {
  const Range *range = findAllocated(secName);
  return range != nullptr && range->isAllocated() ? 1 : 0;
}

int Memory::isLoaded(InputIndex input, const std::string &secName) const {
  const Range *range = findAllocated(secName);
  return range != nullptr && range->isLoaded(input) ? 1 : 0;
}

int Memory::canFit(std::uint32_t lengthInBytes, std::uint32_t alignment) const {
  for (const Range &range : cUnallocated)
    if (range.canFit(lengthInBytes, alignment))
      return 1;
  return 0;
}

int Memory::canFitAt(std::uint32_t startLoc,
                     std::uint32_t lengthInBytes) const {
  for (const Range &range : cUnallocated)
    if (range.canFitAt(startLoc, lengthInBytes))
      return 1;
  return 0;
}

void Memory::takeRange(std::list<Range>::iterator chosen,
                       const std::string &secName, std::uint32_t startLoc,
                       std::uint32_t lengthInBytes, int isOverlay) {
  std::list<Range> pieces;
  chosen->allocate(secName, startLoc, lengthInBytes, pieces, isOverlay);
  cAllocated.emplace(secName, *chosen);
  cUnallocated.erase(chosen);
  cUnallocated.splice(cUnallocated.end(), pieces);
}

int Memory::allocate(const std::string &secName, std::uint32_t lengthInBytes,
                     int isOverlay, std::uint32_t alignment) {
  ORV_ASSERT(!isAllocated(secName), kModule);
  ORV_ASSERT(canFit(lengthInBytes, alignment), kModule);
  sortUnallocated();
  const std::uint32_t step = alignment == 0 ? 1 : alignment;
  bool found = false;
  for (auto it = cUnallocated.begin(); it != cUnallocated.end(); ++it) {
    if (!it->canFit(lengthInBytes, alignment))
      continue;
    const std::uint32_t gap = (step - it->getStart() % step) % step;
    takeRange(it, secName, it->getStart() + gap, lengthInBytes, isOverlay);
    found = true;
    break;
  }
  ORV_ASSERT(found, kModule);
  return 1;
}

int Memory::allocateAt(const std::string &secName, std::uint32_t startLoc,
                       std::uint32_t lengthInBytes, int isOverlay) {
  ORV_ASSERT(!isAllocated(secName), kModule);
  ORV_ASSERT(canFitAt(startLoc, lengthInBytes), kModule);
  sortUnallocated();
  bool found = false;
  for (auto it = cUnallocated.begin(); it != cUnallocated.end(); ++it) {
    if (!it->canFitAt(startLoc, lengthInBytes))
      continue;
    takeRange(it, secName, startLoc, lengthInBytes, isOverlay);
    found = true;
    break;
  }
  ORV_ASSERT(found, kModule);
  return 1;
}

int Memory::load(InputIndex input, const std::string &secName,
                 std::uint32_t lengthInBytes) {
  ORV_ASSERT(isAllocated(secName), kModule);
  ORV_ASSERT(!isLoaded(input, secName), kModule);
  return cAllocated.find(secName)->second.load(input, lengthInBytes);
}

int Memory::loadAbsolute(InputIndex input, const std::string &secName,
                         std::uint32_t startLoc, std::uint32_t lengthInBytes) {
  ORV_ASSERT(isAllocated(secName), kModule);
  ORV_ASSERT(!isLoaded(input, secName), kModule);
  return cAllocated.find(secName)->second.loadAbsolute(input, startLoc,
                                                       lengthInBytes);
}

const Range &Memory::sectionRange(const std::string &secName) const {
  ORV_ASSERT(isAllocated(secName), kModule);
  return *findAllocated(secName);
}

std::uint32_t Memory::getSectionStart(const std::string &secName) const {
  return sectionRange(secName).getStart();
}

std::uint64_t Memory::getSectionSize(const std::string &secName) const {
  return sectionRange(secName).sizeInBytes();
}

std::uint32_t Memory::getLoadStart(InputIndex input,
                                   const std::string &secName) const {
  ORV_ASSERT(isLoaded(input, secName), kModule);
  return findAllocated(secName)->getLoadStart(input);
}

std::uint32_t Memory::getLoadSize(InputIndex input,
                                  const std::string &secName) const {
  ORV_ASSERT(isLoaded(input, secName), kModule);
  return findAllocated(secName)->getLoadSize(input);
}

int Memory::loadComplete() const {
  for (const auto &entry : cAllocated)
    if (!entry.second.loadComplete())
      return 0;
  return 1;
}

std::uint64_t Memory::largestHole() const {
  std::uint64_t largest = 0;
  for (const Range &range : cUnallocated)
    largest = std::max(largest, range.sizeInBytes());
  return largest;
}

void Memory::sortUnallocated() {
  // list::sort is stable, so equal sizes keep their order.
  cUnallocated.sort([](const Range &a, const Range &b) {
    return a.sizeInBytes() < b.sizeInBytes();
  });
}

void Memory::fillUnused(const FillCallback &callback) const {
  if (!cHasFill)
    return;
  for (const Range &range : cUnallocated)
    if (range.sizeInLocs() > 0)
      callback(*this, range.getStart(), range.getEnd(), cFill);
}

void Memory::printAllocation(std::ostream &out, int withHeader) const {
  std::vector<ScnAddr> sections;
  for (const auto &entry : cAllocated)
    sections.emplace_back(entry.first, entry.second.getStart());
  std::stable_sort(sections.begin(), sections.end(), scnAddrLess);

  if (withHeader) {
    printRow(out, "Memory", "Start", "End", "Section", "Address",
             "Size(Bytes)");
    const std::string rule = "---------";
    printRow(out, rule, rule, rule, rule, rule, rule);
  }
  const std::string start = hexText(cStart, 2);
  const std::string end = hexText(cEnd, 2);
  if (sections.empty())
    printRow(out, cName, start, end, "", "", "");
  bool first = true;
  for (const ScnAddr &section : sections) {
    const Range &range = cAllocated.find(section.cName)->second;
    const std::string size =
        hexText(static_cast<std::uint32_t>(range.sizeInBytes()), 2);
    printRow(out, first ? cName : "", first ? start : "", first ? end : "",
             section.cName, hexText(section.cAddress, 2), size);
    first = false;
  }
  out << '\n';
  out.flush();
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
  for (const Range &range : cUnallocated)
    range.print(out);
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
