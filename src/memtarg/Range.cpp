#include "Range.h"

#include "Assert.h"

#include <algorithm>

namespace {
const char *const kModule = "memtarg";
} // namespace

Range::Range(std::uint32_t startLoc, std::uint32_t sizeInLocs,
             std::uint8_t type, std::uint16_t widthBits)
    : cStart(startLoc), cSize(sizeInLocs), cPc(startLoc), cType(type),
      cWidthBits(widthBits) {}

std::uint32_t Range::getEnd() const {
  ORV_ASSERT(cSize > 0, kModule);
  return cStart + cSize - 1;
}

std::uint32_t Range::bytesPerLoc() const {
  ORV_ASSERT(cWidthBits, kModule);
  return (static_cast<std::uint32_t>(cWidthBits) + 7) / 8;
}

std::uint64_t Range::sizeInBytes() const {
  return static_cast<std::uint64_t>(bytesPerLoc()) * cSize;
}

std::uint32_t Range::locs(std::uint32_t lengthInBytes) const {
  const std::uint32_t perLoc = bytesPerLoc();
  return lengthInBytes / perLoc + (lengthInBytes % perLoc != 0 ? 1 : 0);
}

const Range::Piece *Range::findPiece(InputIndex input) const {
  // Pieces come in input order: an input after the last is not loaded,
  // and the last is the one asked for just after it was loaded.
  if (cPieces.empty() || cPieces.back().input < input)
    return nullptr;
  if (cPieces.back().input == input)
    return &cPieces.back();
  const auto found = std::lower_bound(
      cPieces.begin(), cPieces.end(), input,
      [](const Piece &piece, InputIndex key) { return piece.input < key; });
  return found != cPieces.end() && found->input == input ? &*found : nullptr;
}

void Range::addPiece(InputIndex input, std::uint32_t startLoc,
                     std::uint32_t lengthInBytes) {
  cLoadedFiles.push_back(input);
  if (cPieces.empty() || cPieces.back().input < input) {
    cPieces.push_back(Piece{input, startLoc, lengthInBytes});
    return;
  }
  const auto at = std::lower_bound(
      cPieces.begin(), cPieces.end(), input,
      [](const Piece &piece, InputIndex key) { return piece.input < key; });
  cPieces.insert(at, Piece{input, startLoc, lengthInBytes});
}

void Range::reserveLoads(std::size_t inputs) {
  cLoadedFiles.reserve(inputs);
  cPieces.reserve(inputs);
}

int Range::isLoaded(InputIndex input) const {
  return findPiece(input) != nullptr ? 1 : 0;
}

int Range::canFit(std::uint32_t lengthInBytes, std::uint32_t alignment) const {
  if (lengthInBytes == 0)
    return 1;
  if (cSize == 0)
    return 0;
  const std::uint32_t step = alignment == 0 ? 1 : alignment;
  const std::uint32_t gap = (step - cStart % step) % step;
  if (cSize < gap)
    return 0;
  return locs(lengthInBytes) <= cSize - gap ? 1 : 0;
}

int Range::canFitAt(std::uint32_t startLoc, std::uint32_t lengthInBytes) const {
  if (lengthInBytes == 0)
    return 1;
  if (cSize == 0)
    return 0;
  // 64 bits: a section near the top of the address space must not wrap
  // around and appear to fit.
  const std::uint64_t lastLoc =
      static_cast<std::uint64_t>(startLoc) + locs(lengthInBytes) - 1;
  return startLoc >= cStart && lastLoc <= getEnd() ? 1 : 0;
}

int Range::allocate(const std::string &name, std::uint32_t startLoc,
                    std::uint32_t lengthInBytes, RangePieces &pieces,
                    int isOverlay) {
  ORV_ASSERT(!isAllocated(), kModule);
  ORV_ASSERT(canFitAt(startLoc, lengthInBytes), kModule);
  cAllocName = name;
  cIsOverlay = isOverlay;
  if (lengthInBytes == 0) {
    // A zero-length section takes no space: the whole free range lives on.
    pieces.add(Range(cStart, cSize, cType, cWidthBits));
    cStart = startLoc;
    cSize = 0;
    cPc = startLoc;
    return 1;
  }
  const std::uint32_t oldStart = cStart;
  const std::uint32_t oldEnd = getEnd();
  const std::uint32_t sizeInLocs = locs(lengthInBytes);
  const std::uint32_t lastLoc = startLoc + sizeInLocs - 1;
  cStart = startLoc;
  cSize = sizeInLocs;
  cPc = startLoc;
  if (startLoc != oldStart)
    pieces.add(Range(oldStart, startLoc - oldStart, cType, cWidthBits));
  if (lastLoc != oldEnd)
    pieces.add(Range(lastLoc + 1, oldEnd - lastLoc, cType, cWidthBits));
  return 1;
}

int Range::load(InputIndex input, std::uint32_t lengthInBytes) {
  ORV_ASSERT(isAllocated(), kModule);
  ORV_ASSERT(!isLoaded(input), kModule);
  if (lengthInBytes > 0)
    ORV_ASSERT(!loadComplete(), kModule);
  addPiece(input, cPc, lengthInBytes);
  if (cSize == 0) {
    if (!cIsOverlay)
      cLoadComplete = 1;
    return 1;
  }
  const std::uint64_t newPc =
      static_cast<std::uint64_t>(cPc) + locs(lengthInBytes);
  ORV_ASSERT(newPc <= (static_cast<std::uint64_t>(getEnd()) + 1), kModule);
  if (!cIsOverlay) {
    cPc = static_cast<std::uint32_t>(newPc);
    if (newPc > getEnd())
      cLoadComplete = 1;
  }
  return 1;
}

int Range::loadAbsolute(InputIndex input, std::uint32_t startLoc,
                        std::uint32_t lengthInBytes) {
  ORV_ASSERT(isAllocated(), kModule);
  ORV_ASSERT(!isLoaded(input), kModule);
  ORV_ASSERT(!loadComplete(), kModule);
  ORV_ASSERT(startLoc == cStart, kModule);
  if (!cIsOverlay)
    ORV_ASSERT(locs(lengthInBytes) == cSize, kModule);
  // The piece's own byte count: overlay pieces may be shorter than the
  // range, and copying the range's size would read past their data.
  addPiece(input, cStart, lengthInBytes);
  if (!cIsOverlay) {
    cLoadComplete = 1;
    if (cSize != 0)
      cPc = getEnd() + 1;
  }
  return 1;
}

std::uint32_t Range::getLoadStart(InputIndex input) const {
  const Piece *piece = findPiece(input);
  ORV_ASSERT(piece != nullptr, kModule);
  return piece->startLoc;
}

std::uint32_t Range::getLoadSize(InputIndex input) const {
  const Piece *piece = findPiece(input);
  ORV_ASSERT(piece != nullptr, kModule);
  return piece->sizeInBytes;
}

void Range::print(std::ostream &out) const {
  out << "Range:   allocName=" << cAllocName << " start=" << cStart
      << " end=" << (cSize > 0 ? cStart + cSize - 1 : cStart)
      << " size=" << cSize << " type=" << static_cast<int>(cType)
      << " pc=" << cPc << " isOverlay=" << cIsOverlay << '\n';
  for (InputIndex input : cLoadedFiles) {
    const std::uint32_t start = getLoadStart(input);
    const std::uint32_t size = getLoadSize(input);
    out << "          Loaded Section: file=" << input << " start=" << start
        << " end=" << start + (size > 0 ? locs(size) - 1 : 0)
        << " size=" << size << '\n';
  }
}
