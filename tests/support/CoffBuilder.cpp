#include "CoffBuilder.h"

#include "ByteOrder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

CoffBuilder::CoffBuilder() {
  cCoff.cFileHdr.f_magic = kCoffMagic;
  cCoff.cFileHdr.f_opthdr = kOptHdrSizeInBytes;
}

CoffBuilder &CoffBuilder::processor(std::uint16_t deviceCode,
                                    std::uint32_t romWidthBits,
                                    std::uint32_t ramWidthBits) {
  cCoff.cOptHdr.proc_type = deviceCode;
  cCoff.cOptHdr.rom_width_bits = romWidthBits;
  cCoff.cOptHdr.ram_width_bits = ramWidthBits;
  return *this;
}

CoffBuilder &CoffBuilder::fileFlags(std::uint16_t flags) {
  cCoff.cFileHdr.f_flags = flags;
  return *this;
}

CoffBuilder &CoffBuilder::optMagic(std::uint16_t magic, std::uint16_t vstamp) {
  cCoff.cOptHdr.magic = magic;
  cCoff.cOptHdr.vstamp = vstamp;
  return *this;
}

CoffBuilder &CoffBuilder::timeStamp(std::uint32_t seconds) {
  cTimeStamp = seconds;
  return *this;
}

std::uint32_t CoffBuilder::stringOffset(const std::string &text) {
  const auto known = cStringOffsets.find(text);
  if (known != cStringOffsets.end())
    return known->second;
  std::uint32_t offset = cNextStringOffset;
  cCoff.cStringTbl[static_cast<int>(offset)] = text;
  cStringOffsets.emplace(text, offset);
  cNextStringOffset += static_cast<std::uint32_t>(text.size() + 1);
  return offset;
}

int CoffBuilder::sectionNumber(const std::string &name) const {
  for (const auto &entry : cCoff.cScnNum)
    if (entry.second == name)
      return entry.first;
  throw std::invalid_argument("CoffBuilder: no section '" + name + "'");
}

scnhdr &CoffBuilder::currentHeader() {
  if (cCoff.cScnHdr.count(cCurrentSection) == 0)
    throw std::logic_error("CoffBuilder: no section yet");
  return cCoff.cScnHdr[cCurrentSection];
}

CoffBuilder &CoffBuilder::section(const std::string &name, int type,
                                  std::uint32_t extraFlags) {
  scnhdr hdr;
  if (name.size() > 8)
    stringOffset(name);
  Coff::setName(hdr, cCoff.cStringTbl, name);
  Coff::setScnFlags(hdr, type, 0, 0, 0);
  hdr.s_flags |= extraFlags;
  int number = static_cast<int>(cCoff.cScnNum.size()) + 1;
  cCoff.cScnNum[number] = name;
  cCoff.cScnHdr[name] = hdr;
  cCurrentSection = name;
  return *this;
}

CoffBuilder &CoffBuilder::at(std::uint32_t address) {
  scnhdr &hdr = currentHeader();
  hdr.s_paddr = address;
  hdr.s_flags |= kScnAbsolute;
  return *this;
}

CoffBuilder &CoffBuilder::addresses(std::uint32_t paddr, std::uint32_t vaddr) {
  scnhdr &hdr = currentHeader();
  hdr.s_paddr = paddr;
  hdr.s_vaddr = vaddr;
  return *this;
}

CoffBuilder &CoffBuilder::scnFlags(std::uint32_t flags) {
  currentHeader().s_flags = flags;
  return *this;
}

CoffBuilder &CoffBuilder::bytes(std::initializer_list<std::uint8_t> values) {
  return bytes(std::vector<std::uint8_t>(values));
}

CoffBuilder &CoffBuilder::bytes(const std::vector<std::uint8_t> &values) {
  currentHeader();
  if (!values.empty())
    cCoff.cRawData[cCurrentSection].append(
        Data(static_cast<std::uint32_t>(values.size()), values.data()));
  return *this;
}

CoffBuilder &CoffBuilder::words(std::initializer_list<std::uint16_t> values) {
  return words(std::vector<std::uint16_t>(values));
}

CoffBuilder &CoffBuilder::words(const std::vector<std::uint16_t> &values) {
  std::vector<std::uint8_t> raw(values.size() * 2);
  for (std::size_t i = 0; i < values.size(); ++i)
    writeLE16(raw.data() + 2 * i, values[i]);
  return bytes(raw);
}

CoffBuilder &CoffBuilder::zeros(std::uint32_t count) {
  return bytes(std::vector<std::uint8_t>(count, 0));
}

CoffBuilder &CoffBuilder::reloc(std::uint32_t offsetInBytes,
                                const std::string &symbol, std::uint16_t type,
                                std::int16_t addend) {
  relocIndex(offsetInBytes, 0, type, addend);
  cPendingRelocs.push_back(
      {cCurrentSection, cCoff.cReloc[cCurrentSection].size() - 1, symbol});
  return *this;
}

CoffBuilder &CoffBuilder::relocIndex(std::uint32_t offsetInBytes,
                                     std::uint32_t symbolIndex,
                                     std::uint16_t type, std::int16_t addend) {
  currentHeader();
  ::reloc rel;
  rel.r_vaddr = offsetInBytes;
  rel.r_symndx = symbolIndex;
  rel.r_offset = addend;
  rel.r_type = type;
  cCoff.cReloc[cCurrentSection].push_back(rel);
  return *this;
}

CoffBuilder &CoffBuilder::line(std::uint16_t lnno, std::uint32_t paddr,
                               std::uint32_t srcndx, std::uint32_t fcnndx,
                               std::uint16_t flags) {
  currentHeader();
  coff_lineno entry;
  entry.l_srcndx = srcndx;
  entry.l_lnno = lnno;
  entry.l_paddr = paddr;
  entry.l_flags = flags;
  entry.l_fcnndx = fcnndx;
  cCoff.cLineNum[cCurrentSection].push_back(entry);
  return *this;
}

CoffBuilder &CoffBuilder::symbol(const std::string &name, std::uint32_t value,
                                 std::int16_t scnum, std::uint8_t sclass,
                                 std::uint16_t type) {
  syment sym;
  // The offset is known here; asking the table would search all of it.
  if (name.size() > 8)
    sym.setNameOffset(stringOffset(name));
  else
    Coff::setName(sym, cCoff.cStringTbl, name);
  sym.n_value = value;
  sym.n_scnum = scnum;
  sym.n_type = type;
  sym.n_sclass = sclass;
  cCurrentSymbol = cCoff.cSymbolTbl.size();
  cCoff.cSymbolTbl.push_back(sym);
  cCoff.cAuxType.push_back(kAuxNone);
  return *this;
}

CoffBuilder &CoffBuilder::symbolIn(const std::string &name, std::uint32_t value,
                                   const std::string &sectionName,
                                   std::uint8_t sclass, std::uint16_t type) {
  return symbol(name, value,
                static_cast<std::int16_t>(sectionNumber(sectionName)), sclass,
                type);
}

CoffBuilder &CoffBuilder::global(const std::string &name, std::uint32_t value,
                                 const std::string &sectionName) {
  return symbolIn(name, value, sectionName, kClassExternal);
}

CoffBuilder &CoffBuilder::function(const std::string &name, std::uint32_t value,
                                   const std::string &sectionName) {
  return symbolIn(name, value, sectionName, kClassExternal,
                  kDerivedFunction << 4);
}

CoffBuilder &CoffBuilder::external(const std::string &name) {
  return symbol(name, 0, kScnNumUndefined, kClassExternal);
}

CoffBuilder &CoffBuilder::fileSymbol(const std::string &sourceName,
                                     std::uint32_t incline) {
  symbol(".file", 0, kScnNumDebug, kClassFile);
  aux_file file;
  file.x_offset = stringOffset(sourceName);
  file.x_incline = incline;
  return aux(file);
}

CoffBuilder &CoffBuilder::sectionSymbol(const std::string &sectionName) {
  symbolIn(sectionName, 0, sectionName, kClassSection);
  aux_scn scn;
  auto raw = cCoff.cRawData.find(sectionName);
  scn.x_scnlen = raw == cCoff.cRawData.end() ? 0 : raw->second.size();
  auto relocs = cCoff.cReloc.find(sectionName);
  scn.x_nreloc = static_cast<std::uint16_t>(
      relocs == cCoff.cReloc.end() ? 0 : relocs->second.size());
  auto lines = cCoff.cLineNum.find(sectionName);
  scn.x_nlinno = static_cast<std::uint16_t>(
      lines == cCoff.cLineNum.end() ? 0 : lines->second.size());
  return aux(scn);
}

CoffBuilder &CoffBuilder::addAux(const syment &entry) {
  if (cCurrentSymbol >= cCoff.cSymbolTbl.size())
    throw std::logic_error("CoffBuilder: aux entry without a symbol");
  syment &owner = cCoff.cSymbolTbl[cCurrentSymbol];
  owner.n_numaux = static_cast<std::uint8_t>(owner.n_numaux + 1);
  // Only the first auxiliary entry is recognised as one.
  int kind = owner.n_numaux == 1 ? Coff::auxType(owner) : kAuxNone;
  cCoff.cSymbolTbl.push_back(entry);
  cCoff.cAuxType.push_back(kind);
  return *this;
}

CoffBuilder &CoffBuilder::rawEntry(const syment &entry) {
  cCurrentSymbol = cCoff.cSymbolTbl.size();
  cCoff.cSymbolTbl.push_back(entry);
  cCoff.cAuxType.push_back(kAuxNone);
  return *this;
}

std::uint32_t CoffBuilder::symbolIndex(const std::string &name) const {
  for (std::size_t i = 0; i < cCoff.cSymbolTbl.size(); ++i)
    if (cCoff.cAuxType[i] == kAuxNone &&
        Coff::getName(cCoff.cSymbolTbl[i], cCoff.cStringTbl) == name)
      return static_cast<std::uint32_t>(i);
  throw std::invalid_argument("CoffBuilder: no symbol '" + name + "'");
}

std::uint32_t CoffBuilder::nextSymbolIndex() const {
  return static_cast<std::uint32_t>(cCoff.cSymbolTbl.size());
}

Coff CoffBuilder::build() const {
  Coff coff = cCoff;
  for (const PendingReloc &pending : cPendingRelocs)
    coff.cReloc[pending.section][pending.position].r_symndx =
        symbolIndex(pending.symbol);
  coff.preWrite();
  coff.cFileHdr.f_timdat = cTimeStamp;
  return coff;
}

std::string CoffBuilder::fileBytes() const {
  Coff coff = build();
  std::FILE *file = std::tmpfile();
  if (file == nullptr)
    throw std::runtime_error("CoffBuilder: no temporary file");
  std::string result;
  if (coff.write(file, 0) == 1 && std::fseek(file, 0, SEEK_SET) == 0) {
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
      result.append(buffer, got);
  }
  std::fclose(file);
  return result;
}

void CoffBuilder::writeTo(const std::string &path) const {
  std::string image = fileBytes();
  std::FILE *file = std::fopen(path.c_str(), "wb");
  if (file == nullptr)
    throw std::runtime_error("CoffBuilder: cannot write " + path);
  bool ok = std::fwrite(image.data(), 1, image.size(), file) == image.size();
  ok = std::fclose(file) == 0 && ok;
  if (!ok)
    throw std::runtime_error("CoffBuilder: cannot write " + path);
}

std::string
CoffBuilder::libraryBytes(const std::vector<LibraryMember> &members) {
  std::string out = "!<arch>\n";
  for (const LibraryMember &member : members) {
    char header[280];
    std::memset(header, ' ', 256);
    std::memset(header + 256, 0, 24);
    std::string name = member.name.substr(0, 255) + "/";
    std::memcpy(header, name.data(), name.size());
    std::uint32_t stamp = member.bytes.size() >= 8
                              ? readLE32(reinterpret_cast<const std::uint8_t *>(
                                    member.bytes.data() + 4))
                              : 0;
    char field[32];
    std::snprintf(field, sizeof field, "%ul", stamp);
    std::memcpy(header + 256, field,
                std::min<std::size_t>(std::strlen(field), 11));
    std::snprintf(field, sizeof field, "%ul",
                  static_cast<unsigned>(member.bytes.size()));
    std::memcpy(header + 268, field,
                std::min<std::size_t>(std::strlen(field), 9));
    header[278] = 0x60;
    header[279] = 0x0A;
    out.append(header, sizeof header);
    out += member.bytes;
  }
  return out;
}
