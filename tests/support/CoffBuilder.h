// Builds COFF objects (and libraries of them) in memory for tests.
//
// A small fluent layer over the Coff model: describe the object, then take
// its bytes, write it to a file, or take the laid-out Coff itself. Names of
// more than 8 characters go to the string table automatically. The result
// is laid out with Coff::preWrite and gets a fixed time stamp, so the same
// description always gives the same bytes.
//
//   CoffBuilder &processor(deviceCode, romWidthBits = 14, ramWidthBits = 8)
//   CoffBuilder &fileFlags(f_flags)        e.g. kFileExecutable
//   CoffBuilder &optMagic(magic, vstamp)   optional header magic/version
//   CoffBuilder &timeStamp(seconds)        f_timdat (default 0x60000000)
//
//   Sections (the last one named is the "current" section):
//   CoffBuilder &section(name, type, extraFlags = 0)
//        type kScnTypeCode/Idata/Udata/Romdata (CoffRecords.h); extraFlags
//        ORs in kScnAbsolute, kScnShared, kScnAccess, kScnOverlay
//   CoffBuilder &at(address)            s_paddr, and the absolute flag
//   CoffBuilder &addresses(paddr, vaddr)   both addresses, flags unchanged
//   CoffBuilder &scnFlags(s_flags)      replaces the flags outright
//   CoffBuilder &bytes({0x12, 0x34})    appends raw bytes
//   CoffBuilder &words({0x2805, 0x0000})   appends 16-bit words, low byte
//                                          first (program words)
//   CoffBuilder &zeros(count)           appends count zero bytes (udata size)
//   CoffBuilder &reloc(offsetInBytes, symbolName, r_type, addend = 0)
//        the symbol index is looked up by name when the object is built
//   CoffBuilder &relocIndex(offsetInBytes, symbolIndex, r_type, addend = 0)
//   CoffBuilder &line(l_lnno, l_paddr, l_srcndx = 0, l_fcnndx = 0,
//                     l_flags = 0)
//
//   Symbols (the last one added is the "current" symbol):
//   CoffBuilder &symbol(name, value, scnum, sclass, type = 0)
//   CoffBuilder &symbolIn(name, value, sectionName, sclass, type = 0)
//        n_scnum of a section already added
//   CoffBuilder &global(name, value, sectionName)   external definition
//   CoffBuilder &function(name, value, sectionName) external, function
//        type; add its aux with .aux(aux_fcn{...})
//   CoffBuilder &external(name)                     external reference
//   CoffBuilder &fileSymbol(sourceName, incline = 0)
//        ".file" with an aux_file naming sourceName
//   CoffBuilder &sectionSymbol(sectionName)
//        static section symbol with its aux_scn (length, counts)
//   template <class Aux> CoffBuilder &aux(const Aux &)
//        adds an auxiliary entry (aux_fcn, aux_tag, ...) to the current
//        symbol and counts it in n_numaux
//   CoffBuilder &rawEntry(const syment &)          any 18-byte entry as is
//   std::uint32_t symbolIndex(name) const          index of a symbol added
//   std::uint32_t nextSymbolIndex() const          index of the next entry
//
//   Results:
//   Coff build() const                 laid out (preWrite) with the stamp
//   std::string fileBytes() const      the bytes Coff::write would write
//   void writeTo(path) const           writes fileBytes() to a file
//
//   Libraries:
//   static std::string libraryBytes(const std::vector<LibraryMember> &)
//        "!<arch>\n" then, per member, its 280-byte header (name, the
//        member's time stamp, size) and its bytes.
//
// Example:
//   std::string obj = CoffBuilder()
//       .processor(0x2550)
//       .section(".code", kScnTypeCode).at(0).words({0x2805, 0x3400})
//       .reloc(0, "main", 2)
//       .fileSymbol("main.asm")
//       .global("main", 0, ".code")
//       .fileBytes();
//   std::string lib = CoffBuilder::libraryBytes({{"main", obj}});
#pragma once

#include "Coff.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <unordered_map>
#include <vector>

struct LibraryMember {
  std::string name;  // base name stored in the header
  std::string bytes; // the member's object file
};

class CoffBuilder {
public:
  CoffBuilder();

  CoffBuilder &processor(std::uint16_t deviceCode,
                         std::uint32_t romWidthBits = 14,
                         std::uint32_t ramWidthBits = 8);
  CoffBuilder &fileFlags(std::uint16_t flags);
  CoffBuilder &optMagic(std::uint16_t magic, std::uint16_t vstamp);
  CoffBuilder &timeStamp(std::uint32_t seconds);

  CoffBuilder &section(const std::string &name, int type,
                       std::uint32_t extraFlags = 0);
  CoffBuilder &at(std::uint32_t address);
  CoffBuilder &addresses(std::uint32_t paddr, std::uint32_t vaddr);
  CoffBuilder &scnFlags(std::uint32_t flags);
  CoffBuilder &bytes(std::initializer_list<std::uint8_t> values);
  CoffBuilder &bytes(const std::vector<std::uint8_t> &values);
  CoffBuilder &words(std::initializer_list<std::uint16_t> values);
  CoffBuilder &words(const std::vector<std::uint16_t> &values);
  CoffBuilder &zeros(std::uint32_t count);
  CoffBuilder &reloc(std::uint32_t offsetInBytes, const std::string &symbol,
                     std::uint16_t type, std::int16_t addend = 0);
  CoffBuilder &relocIndex(std::uint32_t offsetInBytes,
                          std::uint32_t symbolIndex, std::uint16_t type,
                          std::int16_t addend = 0);
  CoffBuilder &line(std::uint16_t lnno, std::uint32_t paddr,
                    std::uint32_t srcndx = 0, std::uint32_t fcnndx = 0,
                    std::uint16_t flags = 0);

  CoffBuilder &symbol(const std::string &name, std::uint32_t value,
                      std::int16_t scnum, std::uint8_t sclass,
                      std::uint16_t type = 0);
  CoffBuilder &symbolIn(const std::string &name, std::uint32_t value,
                        const std::string &sectionName, std::uint8_t sclass,
                        std::uint16_t type = 0);
  CoffBuilder &global(const std::string &name, std::uint32_t value,
                      const std::string &sectionName);
  CoffBuilder &function(const std::string &name, std::uint32_t value,
                        const std::string &sectionName);
  CoffBuilder &external(const std::string &name);
  CoffBuilder &fileSymbol(const std::string &sourceName,
                          std::uint32_t incline = 0);
  CoffBuilder &sectionSymbol(const std::string &sectionName);
  template <class Aux> CoffBuilder &aux(const Aux &rec) {
    syment entry;
    writeAux(entry, rec);
    return addAux(entry);
  }
  CoffBuilder &rawEntry(const syment &entry);

  std::uint32_t symbolIndex(const std::string &name) const;
  std::uint32_t nextSymbolIndex() const;

  Coff build() const;
  std::string fileBytes() const;
  void writeTo(const std::string &path) const;

  static std::string libraryBytes(const std::vector<LibraryMember> &members);

private:
  struct PendingReloc {
    std::string section;
    std::size_t position;
    std::string symbol;
  };

  CoffBuilder &addAux(const syment &entry);
  std::uint32_t stringOffset(const std::string &text);
  int sectionNumber(const std::string &name) const;
  scnhdr &currentHeader();

  Coff cCoff;
  std::string cCurrentSection;
  std::size_t cCurrentSymbol = static_cast<std::size_t>(-1);
  std::uint32_t cTimeStamp = 0x60000000;
  std::uint32_t cNextStringOffset = 4;
  // Each string's offset in cCoff.cStringTbl, which only stringOffset fills.
  std::unordered_map<std::string, std::uint32_t> cStringOffsets;
  std::vector<PendingReloc> cPendingRelocs;
};
