// The linker's map file: the sections of a linked output, the program
// memory they use, and every symbol sorted by name and by address.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

class Coff;

// One row of the section table.
class SectionInfo {
public:
  SectionInfo() = default;
  SectionInfo(const std::string &name, std::uint32_t address,
              std::uint32_t sizeInBytes, std::uint8_t location,
              std::uint8_t type, int isAbs, int isShared, int isAccess)
      : cName(name), cAddress(address), cSize(sizeInBytes), cLocation(location),
        cType(type), cAbs(isAbs), cShared(isShared), cAccess(isAccess) {}

  // Trace dump.
  void print(std::ostream &out) const;

  std::string cName;
  std::uint32_t cAddress = 0;
  std::uint32_t cSize = 0;    // bytes
  std::uint8_t cLocation = 0; // 0 program memory, 1 data memory
  std::uint8_t cType = 0;     // 0 none, 1 code, 2 idata, 3 udata, 4 romdata
  int cAbs = 0;
  int cShared = 0;
  int cAccess = 0;
};

// Address ascending, unsigned.
inline bool sectionInfoLess(const SectionInfo &a, const SectionInfo &b) {
  return a.cAddress < b.cAddress;
}

// One row of the symbol tables.
class SymbolInfo {
public:
  SymbolInfo() = default;
  SymbolInfo(const std::string &name, std::uint32_t address,
             std::uint8_t location, std::uint8_t storageClass,
             std::uint8_t kind, const std::string &file)
      : cName(name), cAddress(address), cLocation(location),
        cStorageClass(storageClass), cKind(kind), cFile(file) {}

  // Trace dump.
  void print(std::ostream &out) const;

  std::string cName;
  std::uint32_t cAddress = 0;
  std::uint8_t cLocation = 0;     // 0 program, 1 data
  std::uint8_t cStorageClass = 0; // 0 extern, 1 static
  std::uint8_t cKind = 0;         // 0 function, 1 variable
  std::string cFile;              // source file, "" when none
};

inline bool symbolInfoNameLess(const SymbolInfo &a, const SymbolInfo &b) {
  return a.cName < b.cName;
}

inline bool symbolInfoAddrLess(const SymbolInfo &a, const SymbolInfo &b) {
  return a.cAddress < b.cAddress;
}

// The words of the codes; "" for a value without one.
std::string sectionTypeName(std::uint8_t type);
std::string locationName(std::uint8_t location);
std::string storageClassName(std::uint8_t storageClass);
std::string symbolKindName(std::uint8_t kind);

class MapFile {
public:
  // Writes the map file of a written output; programAddressCount is the
  // number of program-memory locations of the link. 1 when written, 0 after
  // an error report.
  static int write(const std::string &name, const Coff &output,
                   std::uint32_t programAddressCount);
  // The same, asking mayKeep once the text is made, before the file
  // replaces name: false leaves name as it was, reports nothing and gives
  // 0. For a map made while the output is still being written.
  static int write(const std::string &name, const Coff &output,
                   std::uint32_t programAddressCount,
                   const std::function<bool()> &mayKeep);

  // The whole text of the map file, time line included.
  static std::string text(const Coff &output, std::uint32_t programAddressCount,
                          const std::string &timeText);
};

// The current local time as the map files print it ("Tue Dec  8 19:56:44
// 2026" and a line end).
std::string mapFileTime();
