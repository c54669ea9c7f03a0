// The object model: life cycle, names through the string table, the record
// tests and the debug dump.
#include "Coff.h"

#include "Messages.h"

#include <cstring>

Coff::Coff() = default;

Coff::Coff(const Coff &other) { *this = other; }

Coff &Coff::operator=(const Coff &other) {
  if (this == &other)
    return *this;
  cFileName = other.cFileName;
  cNamedByLibrary = other.cNamedByLibrary;
  cFileHdr = other.cFileHdr;
  cOptHdr = other.cOptHdr;
  cScnNum = other.cScnNum;
  cScnHdr = other.cScnHdr;
  cRawData = other.cRawData;
  cReloc = other.cReloc;
  cLineNum = other.cLineNum;
  cSymbolTbl = other.cSymbolTbl;
  cAuxType = other.cAuxType;
  cStringTbl = other.cStringTbl;
  return *this;
}

Coff::~Coff() = default;

namespace {

// An inline name: up to the first NUL, or all 8 bytes when there is none.
std::string inlineName(const char *name) {
  const void *nul = std::memchr(name, 0, 8);
  std::size_t length =
      nul == nullptr ? 8 : static_cast<const char *>(nul) - name;
  return std::string(name, length);
}

const std::string *lookUp(const std::map<int, std::string> &strTbl,
                          std::uint32_t offset) {
  // Offsets above INT_MAX cannot be keys of the table.
  if (offset > 0x7FFFFFFFu)
    return nullptr;
  auto found = strTbl.find(static_cast<int>(offset));
  return found == strTbl.end() ? nullptr : &found->second;
}

// Lowest offset whose string equals name, or -1.
long long offsetOf(const std::map<int, std::string> &strTbl,
                   const std::string &name) {
  for (const auto &entry : strTbl)
    if (entry.second == name)
      return entry.first;
  return -1;
}

void storeInline(char *field, const std::string &name) {
  std::memset(field, 0, 8);
  std::memcpy(field, name.data(), name.size());
}

} // namespace

std::string Coff::getName(const scnhdr &hdr,
                          const std::map<int, std::string> &strTbl) {
  if (!hdr.hasLongName())
    return inlineName(hdr._s_name);
  const std::string *name = lookUp(strTbl, hdr.nameOffset());
  if (name == nullptr)
    report(MessageKind::Error, "Coff::getName()",
           "Unable to find section name in string table.", 1);
  return name != nullptr ? *name : std::string();
}

std::string Coff::getName(const syment &sym,
                          const std::map<int, std::string> &strTbl) {
  if (!sym.hasLongName())
    return inlineName(sym._n_name);
  const std::string *name = lookUp(strTbl, sym.nameOffset());
  if (name == nullptr)
    report(MessageKind::Error, "Coff::getName()",
           "Unable to find symbol name in string table.", 1);
  return name != nullptr ? *name : std::string();
}

bool Coff::findName(const syment &sym, const std::map<int, std::string> &strTbl,
                    std::string_view &name) {
  if (!sym.hasLongName()) {
    name = sym.inlineName();
    return true;
  }
  const std::string *found = lookUp(strTbl, sym.nameOffset());
  if (found == nullptr)
    return false;
  name = *found;
  return true;
}

std::string Coff::getName(const aux_file &aux,
                          const std::map<int, std::string> &strTbl) {
  const std::string *name = lookUp(strTbl, aux.x_offset);
  if (name == nullptr)
    report(MessageKind::Error, "Coff::getName()",
           "Unable to find aux_file name in string table.", 1);
  return name != nullptr ? *name : std::string();
}

void Coff::setName(scnhdr &hdr, const std::map<int, std::string> &strTbl,
                   const std::string &name) {
  if (name.size() <= 8) {
    storeInline(hdr._s_name, name);
    return;
  }
  long long offset = offsetOf(strTbl, name);
  if (offset < 0)
    report(MessageKind::Error, "Coff::setName()",
           "Could not find section name '" + name + "' in string table.", 1);
  hdr.setNameOffset(static_cast<std::uint32_t>(offset));
}

void Coff::setName(syment &sym, const std::map<int, std::string> &strTbl,
                   const std::string &name) {
  if (name.size() <= 8) {
    storeInline(sym._n_name, name);
    return;
  }
  long long offset = offsetOf(strTbl, name);
  if (offset < 0)
    report(MessageKind::Error, "Coff::setName()",
           "Could not find symbol name '" + name + "' in string table.", 1);
  sym.setNameOffset(static_cast<std::uint32_t>(offset));
}

int Coff::isCode(const scnhdr &hdr) { return (hdr.s_flags & kScnCode) != 0; }
int Coff::isIdata(const scnhdr &hdr) { return (hdr.s_flags & kScnIdata) != 0; }
int Coff::isUdata(const scnhdr &hdr) { return (hdr.s_flags & kScnUdata) != 0; }
int Coff::isRomdata(const scnhdr &hdr) {
  return (hdr.s_flags & kScnRomdata) != 0;
}
int Coff::isAbsolute(const scnhdr &hdr) {
  return (hdr.s_flags & kScnAbsolute) != 0;
}
int Coff::isShared(const scnhdr &hdr) {
  return (hdr.s_flags & kScnShared) != 0;
}
int Coff::isOverlay(const scnhdr &hdr) {
  return (hdr.s_flags & kScnOverlay) != 0;
}
int Coff::isAccess(const scnhdr &hdr) {
  return (hdr.s_flags & kScnAccess) != 0;
}
int Coff::hasLongName(const scnhdr &hdr) { return hdr.hasLongName(); }

std::uint8_t Coff::scnType(const scnhdr &hdr) {
  if (isCode(hdr))
    return kScnTypeCode;
  if (isIdata(hdr))
    return kScnTypeIdata;
  if (isUdata(hdr))
    return kScnTypeUdata;
  if (isRomdata(hdr))
    return kScnTypeRomdata;
  return kScnTypeNone;
}

void Coff::setScnFlags(scnhdr &hdr, int type, int absolute, int shared,
                       int access) {
  hdr.s_flags = 0;
  if (absolute)
    hdr.s_flags |= kScnAbsolute;
  if (shared)
    hdr.s_flags |= kScnShared;
  if (access)
    hdr.s_flags |= kScnAccess;
  switch (type) {
  case kScnTypeCode:
    hdr.s_flags |= kScnCode;
    break;
  case kScnTypeIdata:
    hdr.s_flags |= kScnIdata;
    break;
  case kScnTypeUdata:
    hdr.s_flags |= kScnUdata;
    break;
  case kScnTypeRomdata:
    hdr.s_flags |= kScnRomdata;
    break;
  default:
    break;
  }
}

int Coff::isExtDef(const syment &sym) {
  return sym.n_sclass == kClassExternal && sym.n_scnum > 0;
}

int Coff::isExtRef(const syment &sym) {
  return sym.n_sclass == kClassExternal && sym.n_scnum == 0;
}

int Coff::needsRelocation(const syment &sym) {
  if (sym.n_scnum <= 0)
    return 0;
  switch (sym.n_sclass) {
  case kClassExternal:
  case kClassStatic:
  case kClassLabel:
  case kClassBlock:
  case kClassFunction:
    return 1;
  default:
    return 0;
  }
}

int Coff::isFunction(const syment &sym) {
  return ((sym.n_type >> 4) & 3) == kDerivedFunction;
}

int Coff::isArray(const syment &sym) {
  for (int level = 0; level < 6; ++level)
    if (((sym.n_type >> (4 + 2 * level)) & 3) == kDerivedArray)
      return 1;
  return 0;
}

int Coff::isTag(const syment &sym) {
  return sym.n_sclass == kClassStructTag || sym.n_sclass == kClassUnionTag ||
         sym.n_sclass == kClassEnumTag;
}

int Coff::isTagType(const syment &sym) {
  int base = sym.n_type & 0xF;
  return base == 8 || base == 9 || base == 10;
}

int Coff::isSection(const syment &sym) {
  return sym.n_sclass == kClassSection ||
         (sym.n_sclass == kClassStatic && sym._n_name[0] == '.');
}

int Coff::hasLongName(const syment &sym) { return sym.hasLongName(); }

int Coff::auxType(const syment &sym) {
  if (sym.n_numaux == 0)
    return kAuxNone;
  if (sym.n_sclass == kClassFile)
    return kAuxFile;
  if (sym.n_sclass == kClassEndOfStruct)
    return kAuxEos;
  if (isArray(sym))
    return kAuxArr;
  if (isFunction(sym))
    return kAuxFcn;
  // A long name compares as empty.
  std::string name =
      sym.hasLongName() ? std::string() : inlineName(sym._n_name);
  if (name == ".bf")
    return kAuxBobf;
  if (name == ".ef")
    return kAuxEobf;
  if (name == ".bb")
    return kAuxBobf;
  if (name == ".eb")
    return kAuxEobf;
  if (isTag(sym))
    return kAuxTag;
  if (isTagType(sym))
    return kAuxVar;
  if (isSection(sym))
    return kAuxScn;
  return kAuxNone;
}

int Coff::hasFcnNdx(const coff_lineno &line) {
  return (line.l_flags & kLineHasFcnNdx) != 0;
}

namespace {

void printAuxEntry(const syment &entry, int kind, std::ostream &out) {
  switch (kind) {
  case kAuxFile:
    printRecord(readAux<aux_file>(entry), out);
    break;
  case kAuxScn:
    printRecord(readAux<aux_scn>(entry), out);
    break;
  case kAuxTag:
    printRecord(readAux<aux_tag>(entry), out);
    break;
  case kAuxEos:
    printRecord(readAux<aux_eos>(entry), out);
    break;
  case kAuxFcn:
    printRecord(readAux<aux_fcn>(entry), out);
    break;
  case kAuxArr:
    printRecord(readAux<aux_arr>(entry), out);
    break;
  case kAuxEobf:
    printRecord(readAux<aux_eobf>(entry), out);
    break;
  case kAuxBobf:
    printRecord(readAux<aux_bobf>(entry), out);
    break;
  case kAuxVar:
    printRecord(readAux<aux_var>(entry), out);
    break;
  default:
    printRecord(entry, out);
    break;
  }
}

} // namespace

void Coff::print(std::ostream &out) const {
  out << "CoffFile: "
      << "\n\n";
  printRecord(cFileHdr, out);
  out << '\n';
  printRecord(cOptHdr, out);
  out << '\n';
  for (const auto &number : cScnNum) {
    const std::string &name = number.second;
    auto hdr = cScnHdr.find(name);
    if (hdr != cScnHdr.end())
      printRecord(hdr->second, out);
    out << '\n';
    auto lines = cLineNum.find(name);
    if (lines != cLineNum.end())
      for (const coff_lineno &line : lines->second)
        printRecord(line, out);
    out << '\n';
    auto relocs = cReloc.find(name);
    if (relocs != cReloc.end())
      for (const reloc &rel : relocs->second)
        printRecord(rel, out);
    out << '\n';
    out << "Raw Data: " << '\n';
    auto raw = cRawData.find(name);
    if (raw != cRawData.end() && raw->second.size() != 0)
      raw->second.print(out);
    out << '\n';
  }
  out << "Symbol Table: " << '\n';
  for (std::size_t i = 0; i < cSymbolTbl.size(); ++i) {
    out << "Index[" << i << "]= ";
    int kind = i < cAuxType.size() ? cAuxType[i] : kAuxNone;
    if (kind == kAuxNone)
      printRecord(cSymbolTbl[i], out);
    else
      printAuxEntry(cSymbolTbl[i], kind, out);
  }
  out << "String Table: " << '\n';
  for (const auto &entry : cStringTbl)
    out << "Offset[" << entry.first << "]= " << entry.second << '\n';
}
