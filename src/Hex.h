// The HEX converter: program-memory sections of a linked COFF file, or the
// parts of them inside the "/r" address ranges, as Intel HEX files.
#pragma once

#include "Data.h"
#include "HexRecords.h"

#include <cstdint>
#include <deque>
#include <list>
#include <ostream>
#include <string>
#include <vector>

class Coff;

// One "/r" range, both ends inclusive, in program-memory address units (the
// unit of a section header's s_paddr).
struct AddrRange {
  std::uint32_t cStart = 0;
  std::uint32_t cEnd = 0;

  bool contains(std::uint32_t address) const {
    return cStart <= address && address <= cEnd;
  }
  void print(std::ostream &out) const;
};

int inRanges(std::uint32_t address, const std::list<AddrRange> &ranges);

// One contiguous run of output bytes at a byte address. The bytes are not
// copied: they belong to the converted Coff, or to the converter for
// padded contents, and stay while both do.
struct HexRange {
  std::uint32_t cStart = 0;
  const std::uint8_t *cBytes = nullptr;
  std::uint32_t cSize = 0;

  void print(std::ostream &out) const;
};

bool hexRangeLess(const HexRange &a, const HexRange &b);

class coff2hex {
public:
  // Collects the code and romdata contents; null when the file cannot be
  // converted (reported) or when ranges were given and select nothing
  // (not reported). The Coff must stay until the converter is done.
  coff2hex *convert(const Coff &coff, const std::list<AddrRange> &ranges);
  // Writes cFileBaseName + ".hex" (".hxl" and ".hxh" for INHX8S) in the
  // current directory; 1 on success, 0 after an error report.
  int write(HexFormat format);
  void sortRanges();
  void print(std::ostream &out) const;

  const std::vector<HexRange> &ranges() const { return cRanges; }
  const std::string &fileBaseName() const { return cFileBaseName; }

private:
  bool addSection(const std::string &name, std::uint32_t startLoc,
                  const Data &contents, std::uint64_t unitBytes,
                  const std::list<AddrRange> &ranges);
  void addRange(std::uint64_t startByte, const std::uint8_t *bytes,
                std::size_t count);

  std::string cFileBaseName;
  std::vector<HexRange> cRanges;
  // Contents of odd length with their padding byte; a deque keeps each
  // where it was while more are added.
  std::deque<std::vector<std::uint8_t>> cPadded;
};
