#include "Coff2Cod.h"

#include "Banner.h"
#include "ByteOrder.h"
#include "FileInfo.h"
#include "Messages.h"
#include "ParallelWork.h"
#include "cod/CodPack.h"
#include "TextUtil.h"
#include "Trace.h"
#include "mgproc/Processor.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <sstream>

namespace {

constexpr std::uint64_t DirectorySizeInBytes = 0x10000;
constexpr std::uint32_t SliceSizeInBytes = 512;
// A long symbol's length byte counts at most this many characters.
constexpr std::size_t MaxLongSymbolName = 255;

bool isCodeOrRomdata(const scnhdr &hdr) {
  std::uint8_t type = Coff::scnType(hdr);
  return type == kScnTypeCode || type == kScnTypeRomdata;
}

// A section of the code image with its contents (held by the Coff or its
// image; zero-filled contents have no bytes).
struct ProgramSection {
  std::string_view cName;
  std::uint32_t cAddress;
  SectionBytes cContents;
};

bool programSectionLess(const ProgramSection &a, const ProgramSection &b) {
  return a.cAddress < b.cAddress;
}

// The order of sections taken by name and then stably by address, for
// sections whose names differ.
bool programSectionByAddressAndName(const ProgramSection &a,
                                    const ProgramSection &b) {
  return a.cAddress != b.cAddress ? a.cAddress < b.cAddress
                                  : a.cName < b.cName;
}

SectionBytes bytesOf(const Data *contents) {
  if (contents == nullptr)
    return SectionBytes();
  return SectionBytes{contents->bytes(), contents->size()};
}

std::uint64_t nameHash(std::string_view name) {
  std::uint64_t hash = 14695981039346656037ull;
  for (char c : name)
    hash = (hash ^ static_cast<std::uint8_t>(c)) * 1099511628211ull;
  return hash ^ (hash >> 29);
}

// Calls action(name, header, contents) for every section, contents null
// when the section has none. The header and contents maps are both ordered
// by name, so one walk pairs them without a search per section.
template <class Action> void forEachSection(const Coff &coff, Action action) {
  auto contents = coff.cRawData.begin();
  for (const auto &section : coff.cScnHdr) {
    int order = 1;
    while (contents != coff.cRawData.end() &&
           (order = contents->first.compare(section.first)) < 0)
      ++contents;
    action(section.first, section.second,
           order == 0 ? &contents->second : nullptr);
  }
}

} // namespace

Coff2Cod::Coff2Cod() = default;
Coff2Cod::~Coff2Cod() = default;

void Coff2Cod::setImage(const std::uint8_t *bytes, std::uint64_t sizeInBytes) {
  cImage = bytes;
  cImageSizeInBytes = sizeInBytes;
}

void Coff2Cod::SymbolEntries::take(const Coff &coff, const std::uint8_t *image,
                                   std::uint64_t imageSizeInBytes) {
  const filehdr &header = coff.cFileHdr;
  const std::uint64_t tableBytes =
      syment::sizeInBytes * std::uint64_t(header.f_nsyms);
  *this = SymbolEntries();
  if (!coff.cSymbolTbl.empty() || header.f_nsyms == 0 || image == nullptr ||
      header.f_symptr > imageSizeInBytes ||
      tableBytes > imageSizeInBytes - header.f_symptr) {
    cModel = &coff.cSymbolTbl;
    cModelAux = &coff.cAuxType;
    cCount = coff.cSymbolTbl.size();
    return;
  }
  cBytes = image + header.f_symptr;
  cCount = header.f_nsyms;
  // Each symbol is followed by at most one auxiliary entry, of the kind
  // the symbol calls for, as the reader pairs them.
  cAux.assign(cCount, std::uint8_t(kAuxNone));
  for (std::size_t i = 0; i < cCount; ++i) {
    if (at(i)[17] == 0) // no auxiliary entry, whatever the symbol
      continue;
    const int kind = Coff::auxType(syment::decode(at(i)));
    if (kind == kAuxNone || i + 1 >= cCount)
      continue;
    cAux[++i] = static_cast<std::uint8_t>(kind);
  }
}

Coff2Cod *Coff2Cod::convert(const Coff &coff, int pageLength, int noListing) {
  cImageNames = StringTableBytes(cImage, cImageSizeInBytes, coff.cFileHdr);
  cSymbols.take(coff, cImage, cImageSizeInBytes);
  if (sectionsInImage(coff))
    takeImageSections(coff);
  cPageLength = pageLength;
  cLineCount = 0;
  // The device code comes from the file: test it before any processor
  // query, which would stop the program on an unknown code.
  std::uint16_t code = static_cast<std::uint16_t>(coff.cOptHdr.proc_type);
  if (!isKnownProcCode(code)) {
    report(MessageKind::Error, "Coff2Cod::convert()",
           "Unsupported processor type in file '" + coff.cFileName + "'", 0);
    return nullptr;
  }
  setProcessor(coff);
  // The line table serves only source files the listing opens; it is
  // made with the first of them (at once when traced).
  cLineMapBuilt = false;
  if (traceLevel("Coff2Cod::buildLineMap") != 0)
    buildLineMap(coff);
  createDirectory(coff);
  if (createRawDataAndMemoryMap(coff) == 0 || createSourceFileInfo(coff) == 0)
    return nullptr;
  createSymbols(coff);
  if (noListing == 0 && createListFile(coff) == 0)
    return nullptr;
  return this;
}

void Coff2Cod::setProcessor(const Coff &coff) {
  cProcessor = procFromCode(static_cast<std::uint16_t>(coff.cOptHdr.proc_type));
  cFamily = procFamily(cProcessor);
  cUnitBytes = (addrUnitBits(cProcessor) + 7) / 8;
}

namespace {

bool lineEntryLess(const LstLine &a, const LstLine &b) {
  return a.l_srcndx != b.l_srcndx ? a.l_srcndx < b.l_srcndx
                                  : a.l_lnno < b.l_lnno;
}

} // namespace

namespace {

LstLine lineEntry(std::string_view name, const scnhdr &header,
                  SectionBytes contents, const coff_lineno &line) {
  LstLine entry;
  entry.secName = name;
  entry.sectionAddress = header.s_paddr;
  entry.contents = contents;
  entry.l_srcndx = line.l_srcndx;
  entry.l_lnno = line.l_lnno;
  entry.l_paddr = line.l_paddr;
  entry.l_flags = line.l_flags;
  entry.l_fcnndx = line.l_fcnndx;
  return entry;
}

} // namespace

bool Coff2Cod::sectionsInImage(const Coff &coff) const {
  return cImage != nullptr && coff.cScnHdr.empty() &&
         coff.cFileHdr.f_opthdr == kOptHdrSizeInBytes &&
         filehdr::sizeInBytes + std::uint64_t(kOptHdrSizeInBytes) +
                 scnhdr::sizeInBytes * std::uint64_t(coff.cFileHdr.f_nscns) <=
             cImageSizeInBytes;
}

const std::uint8_t *
Coff2Cod::imageHeaderBytes(std::uint32_t position) const {
  return cImageHeaders + scnhdr::sizeInBytes * std::size_t(position);
}

std::string_view Coff2Cod::imageSectionName(const Coff &coff,
                                            std::uint32_t position) const {
  const std::uint8_t *bytes = imageHeaderBytes(position);
  const scnhdr hdr = scnhdr::decode(bytes);
  std::string_view name;
  if (!sectionName(coff, hdr, name))
    return std::string_view(); // the reader would have stopped
  if (!hdr.hasLongName()) // viewed in the image, not in hdr
    name = std::string_view(reinterpret_cast<const char *>(bytes), name.size());
  return name;
}

SectionBytes Coff2Cod::imageContents(const ImageSection &section) const {
  if (section.contents == 0)
    return SectionBytes();
  const scnhdr hdr = imageHeader(section.contents - 1);
  return SectionBytes{hdr.s_scnptr != 0 ? cImage + hdr.s_scnptr : nullptr,
                      hdr.s_size};
}

// As the reader would keep them by name: a later section's header
// replaces an earlier one's, and so do its contents when it has any. The
// reader checked every block and name, so each is in the image.
void Coff2Cod::takeImageSections(const Coff &coff) {
  const std::size_t count = coff.cFileHdr.f_nscns;
  cImageHeaders = cImage + filehdr::sizeInBytes + coff.cFileHdr.f_opthdr;
  cImageSections.clear();
  cImageSections.reserve(count);
  cSectionOf.assign(count, 0);
  // Open addressing: a slot holds a group's position + 1, or 0. Section
  // numbers are 16-bit, so the high half is free for the name's hash.
  std::size_t slots = 16;
  while (slots < 2 * count)
    slots *= 2;
  std::vector<std::uint32_t> table(slots, 0);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::string_view name = imageSectionName(coff, i);
    const std::uint64_t hash = nameHash(name);
    const std::uint32_t high = std::uint32_t(hash >> 32) & 0xFFFF0000u;
    std::size_t slot = hash & (slots - 1);
    for (; table[slot] != 0; slot = (slot + 1) & (slots - 1))
      if ((table[slot] & 0xFFFF0000u) == high &&
          imageSectionName(
              coff, cImageSections[(table[slot] & 0xFFFFu) - 1].kept) == name)
        break;
    if (table[slot] == 0) {
      cImageSections.emplace_back();
      table[slot] = high | std::uint32_t(cImageSections.size());
    }
    const std::uint32_t group = (table[slot] & 0xFFFFu) - 1;
    cSectionOf[i] = group;
    cImageSections[group].kept = i;
    if (imageHeader(i).s_size != 0)
      cImageSections[group].contents = i + 1;
  }
}

bool Coff2Cod::linesInImage(const Coff &coff) const {
  return sectionsInImage(coff) && coff.cLineNum.empty();
}

// The line numbers as the reader would have kept them: by section name,
// the sections of one name in number order, for names whose kept header
// is code. Only sections with contents have line numbers the reader
// checked.
void Coff2Cod::appendImageLines(const Coff &coff) {
  struct NumberedLines {
    std::string_view name;
    const ImageSection *section;
    const std::uint8_t *lines;
    std::size_t count;
  };
  std::vector<NumberedLines> found;
  const std::uint64_t firstHeader =
      filehdr::sizeInBytes + std::uint64_t(coff.cFileHdr.f_opthdr);
  const std::size_t count = coff.cFileHdr.f_nscns;
  if (firstHeader + scnhdr::sizeInBytes * std::uint64_t(count) >
      cImageSizeInBytes)
    return;
  for (std::size_t number = 1; number <= count; ++number) {
    const scnhdr hdr = scnhdr::decode(cImage + firstHeader +
                                      scnhdr::sizeInBytes * (number - 1));
    const std::uint64_t bytes =
        coff_lineno::sizeInBytes * std::uint64_t(hdr.s_nlnno);
    if (hdr.s_size == 0 || hdr.s_nlnno == 0 ||
        hdr.s_lnnoptr > cImageSizeInBytes ||
        bytes > cImageSizeInBytes - hdr.s_lnnoptr)
      continue;
    const ImageSection &section = imageSection(number);
    if (Coff::scnType(imageHeader(section.kept)) != kScnTypeCode)
      continue; // romdata carries no line numbers worth listing
    found.push_back({imageSectionName(coff, section.kept), &section,
                     cImage + hdr.s_lnnoptr, hdr.s_nlnno});
  }
  // By name; a name's sections keep their number order.
  std::stable_sort(found.begin(), found.end(),
                   [](const NumberedLines &a, const NumberedLines &b) {
                     return a.name < b.name;
                   });
  std::size_t total = 0;
  for (const NumberedLines &lines : found)
    total += lines.count;
  cLine.reserve(total);
  for (const NumberedLines &lines : found) {
    const ImageSection &section = *lines.section;
    const scnhdr header = imageHeader(section.kept);
    const SectionBytes contents = imageContents(section);
    for (std::size_t j = 0; j < lines.count; ++j)
      cLine.push_back(lineEntry(
          lines.name, header, contents,
          coff_lineno::decode(lines.lines + coff_lineno::sizeInBytes * j)));
  }
}

void Coff2Cod::buildLineMap(const Coff &coff) {
  cLineMapBuilt = true;
  cLine.clear();
  if (linesInImage(coff)) {
    appendImageLines(coff);
  } else {
    std::size_t count = 0;
    for (const auto &lines : coff.cLineNum)
      count += lines.second.size();
    cLine.reserve(count);
    auto lines = coff.cLineNum.begin(); // walked along, like the contents
    forEachSection(coff, [&](const std::string &name, const scnhdr &header,
                             const Data *contents) {
      int order = 1;
      while (lines != coff.cLineNum.end() &&
             (order = lines->first.compare(name)) < 0)
        ++lines;
      if (order != 0 || Coff::scnType(header) != kScnTypeCode)
        return; // romdata carries no line numbers worth listing
      for (const coff_lineno &line : lines->second)
        cLine.push_back(lineEntry(name, header, bytesOf(contents), line));
    });
  }
  // Stable: the entries of one source line keep their file order.
  std::stable_sort(cLine.begin(), cLine.end(), lineEntryLess);
  if (traceLevel("Coff2Cod::buildLineMap") == 0)
    return;
  std::cout << "Coff2Cod::buildLineMap() - Dumping contents of cLine: \n";
  for (const LstLine &entry : cLine)
    std::cout << "   srcndx=" << entry.l_srcndx << ",  linenum=" << entry.l_lnno
              << ",  paddr=" << entry.l_paddr << ",  secName=" << entry.secName
              << '\n';
}

std::pair<const LstLine *, const LstLine *>
Coff2Cod::lineEntries(std::uint32_t fileKey, int line) const {
  if (line < 0 || line > 0xFFFF)
    return {nullptr, nullptr};
  LstLine key;
  key.l_srcndx = fileKey;
  key.l_lnno = static_cast<std::uint16_t>(line);
  auto range = std::equal_range(cLine.begin(), cLine.end(), key, lineEntryLess);
  if (range.first == range.second)
    return {nullptr, nullptr};
  return {&*range.first, &*range.first + (range.second - range.first)};
}

const StringTableIndex &Coff2Cod::names(const Coff &coff) {
  if (cNames.table() != &coff.cStringTbl)
    cNames = StringTableIndex(coff.cStringTbl);
  return cNames;
}

// The image's table holds every string the reader split; what it lacks
// (names the reader moved out of old file entries, or none at all) is
// left to the Coff's own table.
bool Coff2Cod::tableName(const Coff &coff, std::uint32_t offset,
                         std::string_view &name) {
  if (cImageNames.find(offset, name))
    return true;
  if (cImage != nullptr)
    return false;
  const std::string *found = names(coff).find(offset);
  if (found == nullptr)
    return false;
  name = *found;
  return true;
}

std::string_view Coff2Cod::symbolName(const Coff &coff, const syment &sym,
                                      std::string &scratch) {
  std::string_view name;
  if (!sym.hasLongName())
    return sym.inlineName();
  if (tableName(coff, sym.nameOffset(), name))
    return name;
  scratch = Coff::getName(sym, coff.cStringTbl);
  return scratch;
}

std::string_view Coff2Cod::fileName(const Coff &coff, const syment &auxEntry,
                                    std::string &scratch) {
  aux_file aux = readAux<aux_file>(auxEntry);
  std::string_view name;
  if (tableName(coff, aux.x_offset, name))
    return name;
  scratch = Coff::getName(aux, coff.cStringTbl);
  return scratch;
}

bool Coff2Cod::fileNameInPlace(const syment &auxEntry,
                               std::string_view &name) const {
  const aux_file aux = readAux<aux_file>(auxEntry);
  if (cImageNames.find(aux.x_offset, name))
    return true;
  if (cImage != nullptr || cNames.table() == nullptr)
    return false;
  const std::string *found = cNames.find(aux.x_offset);
  if (found == nullptr)
    return false;
  name = *found;
  return true;
}

std::vector<bool> Coff2Cod::programMemorySections(const Coff &coff) const {
  std::vector<bool> inProgramMemory;
  if (sectionsInImage(coff)) {
    // The header kept for a number's name decides.
    inProgramMemory.assign(cSectionOf.size() + 1, false);
    for (std::size_t number = 1; number <= cSectionOf.size(); ++number)
      inProgramMemory[number] =
          isCodeOrRomdata(imageHeader(imageSection(number).kept));
    return inProgramMemory;
  }
  const std::uint64_t firstHeader =
      filehdr::sizeInBytes + std::uint64_t(coff.cFileHdr.f_opthdr);
  const std::size_t count = coff.cFileHdr.f_nscns;
  if (cImage != nullptr &&
      firstHeader + scnhdr::sizeInBytes * std::uint64_t(count) <=
          cImageSizeInBytes) {
    // The headers are read where the image holds them, in number order.
    // When every section has a name of its own (one header a name), the
    // header kept for a number is the image's; otherwise the one kept for
    // its name decides.
    const bool namesOwn = coff.cScnHdr.size() == count;
    inProgramMemory.assign(count + 1, false);
    for (std::size_t number = 1; number <= count; ++number) {
      const std::uint8_t *bytes =
          cImage + firstHeader + scnhdr::sizeInBytes * (number - 1);
      const scnhdr hdr = scnhdr::decode(bytes);
      if (namesOwn) {
        inProgramMemory[number] = isCodeOrRomdata(hdr);
        continue;
      }
      std::string_view name;
      if (!sectionName(coff, hdr, name))
        continue;
      auto found = coff.cScnHdr.find(std::string(name));
      inProgramMemory[number] =
          found != coff.cScnHdr.end() && isCodeOrRomdata(found->second);
    }
    return inProgramMemory;
  }
  for (const auto &number : coff.cScnNum) {
    if (number.first < 0)
      continue;
    auto found = coff.cScnHdr.find(number.second);
    if (found == coff.cScnHdr.end() || !isCodeOrRomdata(found->second))
      continue;
    if (inProgramMemory.size() <= std::size_t(number.first))
      inProgramMemory.resize(std::size_t(number.first) + 1, false);
    inProgramMemory[std::size_t(number.first)] = true;
  }
  return inProgramMemory;
}

// A section header's name as the reader found it: inline, in the image's
// string table, or among the names it moved out of old file entries.
bool Coff2Cod::sectionName(const Coff &coff, const scnhdr &hdr,
                           std::string_view &name) const {
  if (!hdr.hasLongName()) {
    const void *nul = std::memchr(hdr._s_name, 0, sizeof hdr._s_name);
    name = std::string_view(hdr._s_name,
                            nul == nullptr
                                ? sizeof hdr._s_name
                                : static_cast<const char *>(nul) - hdr._s_name);
    return true;
  }
  if (cImageNames.find(hdr.nameOffset(), name))
    return true;
  if (hdr.nameOffset() > 0x7FFFFFFFu)
    return false;
  auto found = coff.cStringTbl.find(static_cast<int>(hdr.nameOffset()));
  if (found == coff.cStringTbl.end())
    return false;
  name = found->second;
  return true;
}

void Coff2Cod::createDirectory(const Coff &coff) {
  appendDirectory();
  Directory &root = DirectoryTable.front();
  // The Source field holds at most 63 characters; the file itself is
  // written under the whole name.
  cCodFileName = FileInfo(coff.cFileName).baseName() + ".cod";
  setCountedText(root.SourceLen, root.Source, sizeof root.Source, cCodFileName);
  setCountedText(root.VersionLen, root.Version, sizeof root.Version,
                 codConverterVersion());
  setCountedText(root.NoticeLen, root.Notice, sizeof root.Notice, noticeText());
  setCountedText(root.ProcessorLen, root.Processor, sizeof root.Processor,
                 procName(cProcessor));
}

int Coff2Cod::createRawDataAndMemoryMap(const Coff &coff) {
  std::vector<ProgramSection> sections;
  if (sectionsInImage(coff)) {
    // By address, and by name where addresses are equal: names differ, so
    // this is the name order made stable by address. Addresses are sorted
    // as keys with the section's place; names only compared in a tie.
    std::vector<std::uint64_t> keys;
    keys.reserve(cImageSections.size());
    for (std::size_t k = 0; k < cImageSections.size(); ++k) {
      const ImageSection &section = cImageSections[k];
      const scnhdr header = imageHeader(section.kept);
      if (isCodeOrRomdata(header) && section.contents != 0)
        keys.push_back(std::uint64_t(header.s_paddr) << 32 | k);
    }
    std::sort(keys.begin(), keys.end());
    sections.reserve(keys.size());
    for (std::uint64_t key : keys) {
      const ImageSection &section = cImageSections[key & 0xFFFFFFFFu];
      sections.push_back({imageSectionName(coff, section.kept),
                          std::uint32_t(key >> 32), imageContents(section)});
    }
    for (auto run = sections.begin(); run != sections.end();) {
      auto end = run + 1;
      while (end != sections.end() && end->cAddress == run->cAddress)
        ++end;
      if (end - run > 1)
        std::sort(run, end, programSectionByAddressAndName);
      run = end;
    }
  } else {
    forEachSection(coff, [&](const std::string &name, const scnhdr &header,
                             const Data *contents) {
      if (isCodeOrRomdata(header) && contents != nullptr &&
          contents->size() != 0)
        sections.push_back({name, header.s_paddr, bytesOf(contents)});
    });
    std::stable_sort(sections.begin(), sections.end(), programSectionLess);
  }
  if (traceLevel("Coff2Cod::createRawDataAndMemoryMap") != 0) {
    std::cout << "Coff2Cod::createRawDataAndMemoryMap: \n";
    for (const ProgramSection &section : sections)
      std::cout << "  scnName=" << section.cName
                << ", addr=" << hexText(section.cAddress, 4) << '\n';
  }
  if (sections.empty()) {
    report(MessageKind::Error, "Coff2Cod::createRawDataAndMemoryMap()",
           "Coff file '" + coff.cFileName +
               "' must contain at least one 'code' or 'romdata' section.",
           0);
    return 0;
  }
  // The blocks are made only as they are written: each slice a section
  // covers is noted, and the sections are copied in this order then.
  cPlaced.clear();
  cPlaced.reserve(sections.size());
  cCodePieces.clear();
  cCodePieces.reserve(sections.size() + sections.size() / 2);
  for (const ProgramSection &section : sections) {
    const SectionBytes &contents = section.cContents;
    // Byte addresses of the COD image; 64 bits, since a 32-bit word
    // address times two does not fit 32 bits.
    std::uint64_t first = std::uint64_t(section.cAddress) * cUnitBytes;
    std::uint64_t last = first + contents.size - 1;
    if (last > 0xFFFFFFFFu) {
      report(MessageKind::Error, "Coff2Cod::createRawDataAndMemoryMap()",
             "Section '" + std::string(section.cName) + "' in Coff file '" +
                 coff.cFileName +
                 "' lies beyond the 32-bit code address range of a Cod file.",
             0);
      return 0;
    }
    std::uint64_t firstDir = first / DirectorySizeInBytes;
    std::uint64_t lastDir = last / DirectorySizeInBytes;
    while (DirectoryTable.size() < lastDir + 1)
      appendDirectory();
    const std::uint64_t placed = cPlaced.size();
    cPlaced.push_back({first, last, contents});
    for (std::uint64_t d = firstDir; d <= lastDir; ++d) {
      std::uint32_t start =
          d == firstDir ? std::uint32_t(first % DirectorySizeInBytes) : 0;
      std::uint32_t end =
          d == lastDir ? std::uint32_t(last % DirectorySizeInBytes) : 0xFFFF;
      // With two-byte units a range ends on the last byte of a word.
      std::uint32_t mapLast = end + (end + 1) % cUnitBytes;
      MemoryMapList[d].emplace_back(std::uint16_t(start),
                                    std::uint16_t(mapLast));
      for (std::uint32_t k = start / SliceSizeInBytes;
           k <= end / SliceSizeInBytes; ++k)
        cCodePieces.push_back((d * SlicesPerDirectory + k) << 32 | placed);
    }
  }
  // By slice, and in placing order within one; sections placed by address
  // mostly come so already.
  if (!std::is_sorted(cCodePieces.begin(), cCodePieces.end()))
    std::sort(cCodePieces.begin(), cCodePieces.end());
  return 1;
}

void Coff2Cod::codeSlices(std::size_t directory,
                          std::vector<int> &slices) const {
  slices.clear();
  const std::uint64_t firstSlot = std::uint64_t(directory) * SlicesPerDirectory;
  auto piece = std::lower_bound(cCodePieces.begin(), cCodePieces.end(),
                                firstSlot << 32);
  for (; piece != cCodePieces.end() &&
         (*piece >> 32) < firstSlot + SlicesPerDirectory;
       ++piece) {
    const int slice = static_cast<int>((*piece >> 32) - firstSlot);
    if (slices.empty() || slices.back() != slice)
      slices.push_back(slice);
  }
}

// The sections covering the slice, copied in placing order over a zero
// block: a later one overwrites what an earlier one put in the same bytes.
void Coff2Cod::codeBlock(std::size_t directory, int slice, Block &block) const {
  block.cBytes.fill(0);
  const std::uint64_t slot =
      std::uint64_t(directory) * SlicesPerDirectory + std::uint64_t(slice);
  const std::uint64_t sliceFirst = slot * SliceSizeInBytes;
  auto piece =
      std::lower_bound(cCodePieces.begin(), cCodePieces.end(), slot << 32);
  for (; piece != cCodePieces.end() && (*piece >> 32) == slot; ++piece) {
    const PlacedSection &section = cPlaced[*piece & 0xFFFFFFFFu];
    const std::uint64_t from = std::max(section.first, sliceFirst);
    const std::uint64_t to =
        std::min(section.last, sliceFirst + SliceSizeInBytes - 1);
    std::uint8_t *at = block.cBytes.data() + (from - sliceFirst);
    if (section.contents.bytes != nullptr)
      std::memcpy(at, section.contents.bytes + (from - section.first),
                  to - from + 1);
    else // zero-filled; an earlier section may have filled these
      std::memset(at, 0, to - from + 1);
  }
}

int Coff2Cod::createSourceFileInfo(const Coff &coff) {
  const std::size_t count = cSymbols.size();
  std::vector<std::uint32_t> files;
  for (std::size_t i = 0; i < count; ++i) {
    if (cSymbols.auxKind(i) != kAuxNone)
      continue; // auxiliary entries belong to the symbol before them
    if (cSymbols.storageClass(i) != kClassFile)
      continue;
    // A file symbol without its file entry names no file.
    if (i + 1 >= count || cSymbols.auxKind(i + 1) != kAuxFile)
      continue;
    files.push_back(std::uint32_t(i));
  }
  // A large program names tens of thousands of files: their records are
  // made in pieces side by side. A name too long, or one that only
  // Coff::getName could give, stops its piece; from that piece on the
  // names are taken here, in order, so reports come as they would.
  if (cImage == nullptr)
    names(coff); // indexed before the pieces look names up in it
  const std::size_t first = cSourceNames.size();
  cSourceNames.resize(first + files.size());
  const std::size_t pieces = (files.size() + FilesPerPiece - 1) / FilesPerPiece;
  std::vector<std::uint8_t> stopped(pieces, 0);
  forEachLargeInParallel(pieces, [&](std::size_t piece) {
    const std::size_t end = std::min(files.size(), (piece + 1) * FilesPerPiece);
    for (std::size_t k = piece * FilesPerPiece; k < end; ++k) {
      std::string_view name;
      if (!fileNameInPlace(cSymbols.entry(files[k] + 1), name) ||
          name.size() > SourceName::MAX_LENGTH) {
        stopped[piece] = 1;
        return;
      }
      cSourceNames[first + k] = name;
    }
  });
  const std::size_t made = std::min(
      files.size(),
      FilesPerPiece *
          static_cast<std::size_t>(
              std::find(stopped.begin(), stopped.end(), 1) - stopped.begin()));
  cSourceNames.resize(first + made);
  cSourceNum.reserve(cSourceNum.size() + files.size());
  for (std::size_t k = 0; k < made; ++k)
    cSourceNum.emplace_back(files[k], int(first + k));
  for (std::size_t k = made; k < files.size(); ++k)
    if (addSourceName(coff, files[k]) == 0)
      return 0;
  return 1;
}

int Coff2Cod::addSourceName(const Coff &coff, std::uint32_t index) {
  std::string scratch;
  cOwnedNames.emplace_back(fileName(coff, cSymbols.entry(index + 1), scratch));
  const std::string &name = cOwnedNames.back();
  if (name.size() > SourceName::MAX_LENGTH) {
    report(MessageKind::Error, "Coff2Cod::createSourceFileInfo()",
           "Source file '" + name +
               "' name exceeds file format maximum of 63 characters.",
           0);
    return 0;
  }
  // Indices come in ascending order, so the list stays sorted.
  cSourceNum.emplace_back(index, int(cSourceNames.size()));
  cSourceNames.emplace_back(name);
  return 1;
}

const int *Coff2Cod::sourceNumber(std::uint32_t index) const {
  auto found =
      std::lower_bound(cSourceNum.begin(), cSourceNum.end(), index,
                       [](const std::pair<std::uint32_t, int> &entry,
                          std::uint32_t key) { return entry.first < key; });
  return found != cSourceNum.end() && found->first == index ? &found->second
                                                            : nullptr;
}

// Symbols the COD file lists: defined ones of the external, static and
// label classes (an auxiliary entry's bytes only look like a class and a
// section).
bool Coff2Cod::isListedSymbol(std::size_t index) const {
  if (cSymbols.auxKind(index) != kAuxNone)
    return false;
  const std::uint8_t storageClass = cSymbols.storageClass(index);
  return (storageClass == kClassExternal || storageClass == kClassStatic ||
          storageClass == kClassLabel) &&
         cSymbols.sectionNumber(index) >= 1;
}

bool Coff2Cod::nameInPlace(const syment &sym, std::string_view &name) const {
  if (!sym.hasLongName()) {
    name = sym.inlineName();
    return true;
  }
  if (cImageNames.find(sym.nameOffset(), name))
    return true;
  if (cImage != nullptr || cNames.table() == nullptr)
    return false;
  const std::string *found = cNames.find(sym.nameOffset());
  if (found == nullptr)
    return false;
  name = *found;
  return true;
}

bool Coff2Cod::lastingName(std::size_t index, std::string_view &name) const {
  // Read in the entry's own bytes first: inline, or in the image's table.
  const char *bytes = cSymbols.nameBytes(index);
  if (bytes[0] != 0 || bytes[1] != 0 || bytes[2] != 0 || bytes[3] != 0) {
    const void *nul = std::memchr(bytes, 0, 8);
    name = std::string_view(
        bytes, nul == nullptr ? 8 : static_cast<const char *>(nul) - bytes);
    return true;
  }
  if (cImageNames.find(
          readLE32(reinterpret_cast<const std::uint8_t *>(bytes) + 4), name))
    return true;
  const syment sym = cSymbols.entry(index);
  if (!nameInPlace(sym, name))
    return false;
  if (!sym.hasLongName()) // the same bytes, in the image or the Coff
    name = std::string_view(cSymbols.nameBytes(index), name.size());
  return true;
}

void Coff2Cod::setSymbol(std::size_t slot, std::uint32_t value,
                         std::string_view name, std::uint8_t type) {
  ListedSymbol &symbol = cListed[slot];
  symbol.name = name.data();
  symbol.nameLength =
      static_cast<std::uint8_t>(std::min(name.size(), MaxLongSymbolName));
  symbol.type = type;
  symbol.value = value;
}

// Both symbol tables hold one record for each listed symbol, the short
// one with the first characters of the long one's name.
std::uint32_t Coff2Cod::packSymbolTable(BlockPacker &packer) const {
  for (std::size_t k = 0; k < cListedCount; ++k) {
    const ListedSymbol &symbol = cListed[k];
    if (std::uint8_t *at = packer.placeFixed(Symbol::SizeInBytes))
      Symbol::serialize(at, std::string_view(symbol.name, symbol.nameLength),
                        symbol.type, static_cast<std::uint16_t>(symbol.value));
  }
  return packer.finish();
}

std::uint32_t Coff2Cod::packLongSymbolTable(BlockPacker &packer) const {
  for (std::size_t k = 0; k < cListedCount; ++k) {
    const ListedSymbol &symbol = cListed[k];
    const std::string_view name(symbol.name, symbol.nameLength);
    if (std::uint8_t *at = packer.placeVariable(LongSymbol::sizeInBytes(name)))
      LongSymbol::serialize(at, name, symbol.type,
                            static_cast<std::int32_t>(symbol.value));
  }
  return packer.finish();
}

std::uint32_t Coff2Cod::packSourceNameTable(BlockPacker &packer) const {
  for (std::string_view name : cSourceNames)
    if (std::uint8_t *at = packer.placeFixed(SourceName::SizeInBytes))
      SourceName::serialize(at, name);
  return packer.finish();
}

// The symbols are independent of each other: the table is cut into pieces
// that are counted, and then filled into their places, side by side. The
// records stand in symbol-table order all the same.
void Coff2Cod::createSymbols(const Coff &coff) {
  const std::vector<bool> inProgramMemory = programMemorySections(coff);
  if (cImage == nullptr)
    names(coff); // indexed before the pieces look names up in it
  const std::size_t count = cSymbols.size();
  const std::size_t pieces = (count + SymbolsPerPiece - 1) / SymbolsPerPiece;
  auto pieceEnd = [&](std::size_t piece) {
    return std::min(count, (piece + 1) * SymbolsPerPiece);
  };
  // Where each piece's records begin, from the counts of those before it.
  std::vector<std::size_t> firstSlot(pieces + 1, 0);
  forEachLargeInParallel(pieces, [&](std::size_t piece) {
    std::size_t listed = 0;
    for (std::size_t i = piece * SymbolsPerPiece; i < pieceEnd(piece); ++i)
      listed += isListedSymbol(i) ? 1 : 0;
    firstSlot[piece + 1] = listed;
  });
  firstSlot[0] = 0;
  for (std::size_t piece = 0; piece < pieces; ++piece)
    firstSlot[piece + 1] += firstSlot[piece];
  cListedCount = firstSlot[pieces];
  cListed.reset(new ListedSymbol[cListedCount]);
  auto typeOf = [&](std::size_t index) {
    const std::size_t number = std::size_t(cSymbols.sectionNumber(index));
    return number < inProgramMemory.size() && inProgramMemory[number]
               ? std::uint8_t(SymbolTypeAddress)
               : std::uint8_t(SymbolTypeConstant);
  };
  // A name that only Coff::getName could give (reporting it missing)
  // stops its piece; that piece and those after it are then done here,
  // in order, so the report comes as it would without the pieces.
  std::vector<std::uint8_t> stopped(pieces, 0);
  forEachLargeInParallel(pieces, [&](std::size_t piece) {
    std::size_t slot = firstSlot[piece];
    for (std::size_t i = piece * SymbolsPerPiece; i < pieceEnd(piece); ++i) {
      if (!isListedSymbol(i))
        continue;
      std::string_view name;
      if (!lastingName(i, name)) {
        stopped[piece] = 1;
        return;
      }
      setSymbol(slot++, cSymbols.value(i), name, typeOf(i));
    }
  });
  const std::size_t firstStopped = static_cast<std::size_t>(
      std::find(stopped.begin(), stopped.end(), 1) - stopped.begin());
  if (firstStopped == pieces)
    return;
  std::string scratch;
  std::size_t slot = firstSlot[firstStopped];
  for (std::size_t i = firstStopped * SymbolsPerPiece; i < count; ++i) {
    if (!isListedSymbol(i))
      continue;
    std::string_view name;
    if (!lastingName(i, name)) {
      cOwnedNames.emplace_back(symbolName(coff, cSymbols.entry(i), scratch));
      name = cOwnedNames.back();
    }
    setSymbol(slot++, cSymbols.value(i), name, typeOf(i));
  }
}
