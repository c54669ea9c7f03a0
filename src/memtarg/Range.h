// One piece of a memory: free, or holding exactly one section, with the
// pieces of that section that each input contributed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <ostream>
#include <string>
#include <vector>

// An input's position in the link (its index in the linker's input list).
// Per-input records are keyed by it, never by a file name: two library
// members may carry one name.
using InputIndex = std::size_t;

// Memory kinds of a range and of a memory.
constexpr std::uint8_t kProgramMemory = 0;
constexpr std::uint8_t kDataMemory = 1;

struct RangePieces;

class Range {
public:
  Range() : Range(0, 0, kDataMemory, 8) {}
  Range(std::uint32_t startLoc, std::uint32_t sizeInLocs, std::uint8_t type,
        std::uint16_t widthBits);

  std::uint32_t getStart() const { return cStart; }
  // Last location, inclusive; a range of size 0 has none.
  std::uint32_t getEnd() const;
  std::uint32_t sizeInLocs() const { return cSize; }
  std::uint32_t getPc() const { return cPc; }
  std::uint8_t getType() const { return cType; }
  const std::string &getAllocName() const { return cAllocName; }
  int getIsOverlay() const { return cIsOverlay; }

  void setWidthBits(std::uint16_t bits) { cWidthBits = bits; }
  std::uint32_t bytesPerLoc() const;
  // 64 bits: a large memory of 2-byte words holds more than 4 GB.
  std::uint64_t sizeInBytes() const;
  // Whole locations needed to hold lengthInBytes bytes.
  std::uint32_t locs(std::uint32_t lengthInBytes) const;

  int isAllocated() const { return cAllocName.empty() ? 0 : 1; }
  int isLoaded(InputIndex input) const;
  int loadComplete() const { return cLoadComplete; }

  // Fit of a section anywhere in this range, its start rounded up to a
  // multiple of alignment (in locations, at least 1).
  int canFit(std::uint32_t lengthInBytes, std::uint32_t alignment) const;
  // Fit of a section at a fixed start location.
  int canFitAt(std::uint32_t startLoc, std::uint32_t lengthInBytes) const;

  // Takes a section into this free range at startLoc; what stays free is
  // added to pieces (the piece before first, then the piece after).
  int allocate(const std::string &name, std::uint32_t startLoc,
               std::uint32_t lengthInBytes, RangePieces &pieces, int isOverlay);

  // Records one input's piece of a relocatable section at the next free
  // location (or at the start, for an overlay section).
  int load(InputIndex input, std::uint32_t lengthInBytes);
  // Records one input's piece of an absolute section.
  int loadAbsolute(InputIndex input, std::uint32_t startLoc,
                   std::uint32_t lengthInBytes);

  std::uint32_t getLoadStart(InputIndex input) const;
  std::uint32_t getLoadSize(InputIndex input) const;
  const std::vector<InputIndex> &loadedInputs() const { return cLoadedFiles; }
  // Makes room for the pieces of this many inputs in all.
  void reserveLoads(std::size_t inputs);

  void print(std::ostream &out) const;

private:
  std::string cAllocName; // empty while free
  std::uint32_t cStart;   // locations
  std::uint32_t cSize;    // locations
  std::uint32_t cPc;      // next free location for loading pieces
  std::uint8_t cType;
  std::uint16_t cWidthBits;
  int cIsOverlay = 0;
  int cLoadComplete = 0;
  // One input's piece of the section.
  struct Piece {
    InputIndex input;
    std::uint32_t startLoc;
    std::uint32_t sizeInBytes;
  };
  // The piece of an input, or null.
  const Piece *findPiece(InputIndex input) const;
  void addPiece(InputIndex input, std::uint32_t startLoc,
                std::uint32_t lengthInBytes);

  std::vector<InputIndex> cLoadedFiles; // load order
  // Ordered by input: inputs load in ascending order, so each new piece
  // goes to the end, and lookups are a binary search.
  std::vector<Piece> cPieces;
};

// What a section leaves free of the range it took: at most two pieces,
// held in place rather than in a list made for each placement.
struct RangePieces {
  Range piece[2];
  int count = 0;
  void add(const Range &range) { piece[count++] = range; }
};
