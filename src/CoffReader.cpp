// Reading an object image, of the current layout or the old one, into a
// Coff. Every count and file pointer comes from the file, so each block is
// checked against the bytes the file holds (in 64 bits) before anything is
// allocated or read.
#include "Coff.h"

#include "ByteOrder.h"
#include "FileBytes.h"
#include "MemberSummary.h"
#include "Messages.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string_view>
#include <vector>

namespace {

// No memory of the supported processors comes near this; zero-filled
// sections claiming more in all are a damaged file, not something to
// allocate. Bounding the total, not each section, keeps what a small file
// can make a program allocate bounded too.
constexpr std::uint64_t kMaxZeroFilledBytes = 16u * 1024u * 1024u;

// Bounded views into one image held in memory.
class ImageReader {
public:
  ImageReader(const std::uint8_t *bytes, std::uint64_t sizeInBytes)
      : cBytes(bytes), cSize(sizeInBytes) {}

  // The count bytes at offset (from the image's start); null when they are
  // not all in the image.
  const std::uint8_t *at(std::uint64_t offset, std::uint64_t count) const {
    if (offset > cSize || count > cSize - offset)
      return nullptr;
    static const std::uint8_t kNothing = 0;
    return cBytes == nullptr ? &kNothing : cBytes + offset;
  }

private:
  const std::uint8_t *cBytes;
  std::uint64_t cSize;
};

// The longest string table whose offsets the model's int keys can hold.
constexpr std::uint64_t kMaxStringTableBytes = 0x7FFFFFFF;

// An object without symbols (a stripped link output) records no symbol
// table pointer; its string table, if any, follows the last section block.
std::uint64_t lastSectionBlockEnd(const ImageReader &in, const filehdr &fh,
                                  bool oldLayout) {
  std::uint64_t end = filehdr::sizeInBytes + std::uint64_t(fh.f_opthdr) +
                      scnhdr::sizeInBytes * std::uint64_t(fh.f_nscns);
  std::size_t lineSize =
      oldLayout ? gnu_lineno::sizeInBytes : coff_lineno::sizeInBytes;
  std::size_t relocSize =
      oldLayout ? gnu_reloc::sizeInBytes : reloc::sizeInBytes;
  for (std::uint32_t i = 0; i < fh.f_nscns; ++i) {
    std::uint64_t at = filehdr::sizeInBytes + std::uint64_t(fh.f_opthdr) +
                       scnhdr::sizeInBytes * std::uint64_t(i);
    const std::uint8_t *bytes = in.at(at, scnhdr::sizeInBytes);
    if (bytes == nullptr)
      break;
    scnhdr hdr = scnhdr::decode(bytes);
    if (hdr.s_scnptr != 0 && !(hdr.s_flags & kScnUdata))
      end = std::max(end, std::uint64_t(hdr.s_scnptr) + hdr.s_size);
    if (hdr.s_relptr != 0)
      end =
          std::max(end, hdr.s_relptr + relocSize * std::uint64_t(hdr.s_nreloc));
    if (hdr.s_lnnoptr != 0)
      end =
          std::max(end, hdr.s_lnnoptr + lineSize * std::uint64_t(hdr.s_nlnno));
  }
  return end;
}

// Calls visit(start, end) for each string the reader keeps from a table
// (text from start up to its NUL at end): those before keptStringsEnd.
template <class Visit>
void walkKeptStrings(const std::uint8_t *text, std::size_t keptBytes,
                     Visit visit) {
  std::size_t pos = 0;
  while (pos < keptBytes) {
    // Every kept string ends in a NUL inside the kept bytes.
    const std::size_t end =
        pos + std::strlen(reinterpret_cast<const char *>(text + pos));
    visit(pos, end);
    pos = end + 1;
  }
}

std::uint64_t keptStringBytes(const std::uint8_t *text, std::size_t size) {
  return keptStringsEnd(text, size);
}

// An inline name of 8 bytes, up to its first NUL.
std::string_view inlineView(const std::uint8_t *name) {
  const void *nul = std::memchr(name, 0, 8);
  return std::string_view(
      reinterpret_cast<const char *>(name),
      nul == nullptr ? 8 : static_cast<const std::uint8_t *>(nul) - name);
}

// A section's name with its first 16 bytes as two big-endian numbers, zero
// filled: names hold no NUL, so comparing the numbers orders the names as
// their strings compare, unless both start with the same 16 bytes.
struct NameKey {
  std::uint64_t cHigh;
  std::uint64_t cLow;
  std::string_view cName;
  std::uint32_t cIndex; // section number - 1
};

std::uint64_t nameWord(std::string_view name, std::size_t from) {
  std::uint64_t word = 0;
  for (std::size_t k = from; k < from + 8; ++k)
    word = (word << 8) |
           (k < name.size() ? static_cast<std::uint8_t>(name[k]) : 0u);
  return word;
}

// Section numbers in name order, a name's sections in number order.
void sortByName(NameKey *first, NameKey *last) {
  std::sort(first, last, [](const NameKey &a, const NameKey &b) {
    if (a.cHigh != b.cHigh)
      return a.cHigh < b.cHigh;
    if (a.cLow != b.cLow)
      return a.cLow < b.cLow;
    if (a.cName.size() > 16 || b.cName.size() > 16) {
      const int order = a.cName.compare(b.cName);
      if (order != 0)
        return order < 0;
    }
    return a.cIndex < b.cIndex;
  });
}

class CoffReader {
public:
  CoffReader(const std::uint8_t *bytes, std::uint64_t sizeInBytes,
             const std::string &name, Coff::Parts parts)
      : cIn(bytes, sizeInBytes), cName(name),
        cProgramMemoryOnly(parts == Coff::Parts::ProgramMemory),
        cFullRead(parts == Coff::Parts::All),
        cSectionsInImage(parts == Coff::Parts::AllFromImage) {}

  std::unique_ptr<Coff> read();

private:
  // A checked section's header and its blocks in the image (null when the
  // header names none; rawData null also for zero-filled contents). Only
  // the names are kept between the checks and the storing: the rest is
  // read again where the checks found it.
  struct SectionBlocks {
    scnhdr hdr;
    const std::uint8_t *rawData = nullptr;
    const std::uint8_t *lines = nullptr;
    const std::uint8_t *relocs = nullptr;
  };

  bool fail(const std::string &what);
  bool readHeaders();
  bool readStringTable();
  void takeStringText(const std::uint8_t *text, std::size_t size);
  bool keptString(std::uint32_t offset, std::string_view &name) const;
  bool readSymbolTable();
  void moveOldFileName(syment &aux);
  bool readSections();
  std::uint64_t sectionHeaderAt(int number) const;
  bool checkSection(int number, std::string_view &name);
  void findSectionName(const scnhdr &hdr, const std::uint8_t *headerBytes,
                       std::string_view &name);
  SectionBlocks checkedSection(std::uint32_t index) const;
  void storeSections(NameKey *sections, std::size_t count);
  void storeSectionGroup(const NameKey *first, const NameKey *last);
  void appendLineNumbers(const SectionBlocks &section,
                         std::vector<coff_lineno> &lines) const;
  void appendRelocations(const SectionBlocks &section,
                         std::vector<reloc> &relocs) const;
  std::uint64_t endOfSectionBlocks();

  ImageReader cIn;
  std::string cName;
  std::unique_ptr<Coff> cCoff;
  bool cOldLayout = false;
  // Only the code and romdata sections, without their numbers or line
  // numbers, and no symbols.
  bool cProgramMemoryOnly;
  // Only a full read keeps the string table, the relocations, the section
  // numbers and the contents of data sections.
  bool cFullRead;
  bool cSectionsInImage; // a current image's sections are left in it
  // The string table's text in the image and the bytes of it that hold
  // the kept strings: section names are looked up there, in place.
  const std::uint8_t *cStringText = nullptr;
  std::size_t cKeptStringBytes = 0;
  std::uint32_t cNextStringOffset = 4;
  std::uint64_t cZeroFilledBytes = 0; // so far, in all sections
};

bool CoffReader::fail(const std::string &what) {
  std::ostringstream text;
  text << "Coff file '" << cName << "' " << what;
  reportStream(MessageKind::Error, "Coff::make()", text, 0);
  return false;
}

bool CoffReader::readHeaders() {
  const std::uint8_t *bytes = cIn.at(0, filehdr::sizeInBytes);
  if (bytes == nullptr)
    return fail("could not read file header.");
  cCoff->cFileHdr = filehdr::decode(bytes);
  if (cCoff->cFileHdr.f_magic != kCoffMagic)
    return fail("does not appear to be a valid COFF file.");
  cOldLayout = cCoff->cFileHdr.f_opthdr != kOptHdrSizeInBytes;
  if (cOldLayout) {
    // Counted, but the object is still read.
    fail("missing optional file header.");
    return true;
  }
  bytes = cIn.at(filehdr::sizeInBytes, opthdr::sizeInBytes);
  if (bytes == nullptr)
    return fail("could not read optional file header.");
  cCoff->cOptHdr = opthdr::decode(bytes);
  return true;
}

// Strings follow each other from offset 4; the first empty string, or text
// without a closing NUL, ends the table. Only a full read splits it into
// the model's table; every read looks section names up in place.
void CoffReader::takeStringText(const std::uint8_t *text, std::size_t size) {
  cStringText = text;
  cKeptStringBytes = keptStringsEnd(text, size);
  cNextStringOffset = static_cast<std::uint32_t>(4 + cKeptStringBytes);
  if (!cFullRead)
    return;
  std::map<int, std::string> &table = cCoff->cStringTbl;
  walkKeptStrings(
      text, cKeptStringBytes, [&](std::size_t start, std::size_t end) {
        // Offsets ascend: each entry goes in at the end, without a search.
        table.emplace_hint(
            table.end(), static_cast<int>(4 + start),
            std::string(reinterpret_cast<const char *>(text) + start,
                        end - start));
      });
}

// The kept string at offset, as the model's table would hold it.
bool CoffReader::keptString(std::uint32_t offset,
                            std::string_view &name) const {
  // Offsets above INT_MAX cannot be keys of the table.
  if (offset < 4 || offset > 0x7FFFFFFFu)
    return false;
  const std::size_t pos = offset - 4;
  // Kept strings start at 0 and right after each NUL before their end.
  if (pos >= cKeptStringBytes || (pos != 0 && cStringText[pos - 1] != 0))
    return false;
  const void *nul = std::memchr(cStringText + pos, 0, cKeptStringBytes - pos);
  if (nul == nullptr)
    return false;
  name = std::string_view(reinterpret_cast<const char *>(cStringText) + pos,
                          static_cast<const std::uint8_t *>(nul) -
                              (cStringText + pos));
  return true;
}

std::uint64_t CoffReader::endOfSectionBlocks() {
  return lastSectionBlockEnd(cIn, cCoff->cFileHdr, cOldLayout);
}

bool CoffReader::readStringTable() {
  const filehdr &fh = cCoff->cFileHdr;
  if (fh.f_nsyms == 0) {
    // Without symbols the string table is optional: take it only when a
    // whole one is there.
    std::uint64_t at = endOfSectionBlocks();
    const std::uint8_t *bytes = cIn.at(at, 4);
    if (bytes == nullptr)
      return true;
    std::uint32_t length = readLE32(bytes);
    const std::uint8_t *text =
        length > 4 ? cIn.at(at + 4, length - 4) : nullptr;
    if (text != nullptr)
      takeStringText(text, length - 4);
    return true;
  }
  std::uint64_t at = std::uint64_t(fh.f_symptr) +
                     syment::sizeInBytes * std::uint64_t(fh.f_nsyms);
  const std::uint8_t *bytes = cIn.at(at, 4);
  if (bytes == nullptr)
    return fail("could not read string table length.");
  std::uint32_t length = readLE32(bytes);
  if (length <= 4)
    return true;
  const std::uint8_t *text = cIn.at(at + 4, length - 4);
  if (text == nullptr)
    return fail("could not read string table.");
  takeStringText(text, length - 4);
  return true;
}

// The old layout keeps a source file's name inside its aux entry; move it
// to the string table so that the entry reads like a current one.
void CoffReader::moveOldFileName(syment &aux) {
  std::uint8_t bytes[syment::sizeInBytes];
  aux.encode(bytes);
  const void *nul = std::memchr(bytes, 0, sizeof bytes);
  std::size_t length = nul == nullptr
                           ? sizeof bytes
                           : static_cast<const std::uint8_t *>(nul) - bytes;
  aux_file file;
  file.x_incline = 0;
  // An empty name stays out of the table (offset 0: no name): written
  // there, it would end the table for every reader, hiding the names
  // after it.
  file.x_offset = length == 0 ? 0 : cNextStringOffset;
  writeAux(aux, file);
  if (length == 0)
    return;
  cCoff->cStringTbl[static_cast<int>(cNextStringOffset)] =
      std::string(reinterpret_cast<const char *>(bytes), length);
  cNextStringOffset += static_cast<std::uint32_t>(length + 1);
}

bool CoffReader::readSymbolTable() {
  const filehdr &fh = cCoff->cFileHdr;
  if (fh.f_nsyms == 0)
    return true;
  std::uint64_t length = syment::sizeInBytes * std::uint64_t(fh.f_nsyms);
  const std::uint8_t *bytes = cIn.at(fh.f_symptr, length);
  if (bytes == nullptr)
    return fail("could not read symbol table.");
  // The COD converter reads the entries in the image; only the old
  // layout's, changed as they are read, are kept for it.
  if (cProgramMemoryOnly || (!cFullRead && !cOldLayout))
    return true;
  std::vector<syment> &table = cCoff->cSymbolTbl;
  table.reserve(fh.f_nsyms);
  cCoff->cAuxType.reserve(fh.f_nsyms);
  for (std::uint32_t i = 0; i < fh.f_nsyms; ++i) {
    syment sym = syment::decode(bytes + syment::sizeInBytes * i);
    table.push_back(sym);
    cCoff->cAuxType.push_back(kAuxNone);
    int kind = Coff::auxType(sym);
    if (kind == kAuxNone || i + 1 >= fh.f_nsyms)
      continue;
    ++i;
    syment aux = syment::decode(bytes + syment::sizeInBytes * i);
    if (cOldLayout && kind == kAuxFile)
      moveOldFileName(aux);
    table.push_back(aux);
    cCoff->cAuxType.push_back(kind);
  }
  return true;
}

std::uint64_t CoffReader::sectionHeaderAt(int number) const {
  return filehdr::sizeInBytes + std::uint64_t(cCoff->cFileHdr.f_opthdr) +
         scnhdr::sizeInBytes * std::uint64_t(number - 1);
}

// Every block the header names is checked before anything is kept, in the
// order the messages name them.
bool CoffReader::checkSection(int number, std::string_view &name) {
  const std::uint8_t *bytes =
      cIn.at(sectionHeaderAt(number), scnhdr::sizeInBytes);
  if (bytes == nullptr)
    return fail("could not read section header.");
  const scnhdr hdr = scnhdr::decode(bytes);
  findSectionName(hdr, bytes, name);
  // An empty section has nothing more, whatever its counts say.
  if (hdr.s_size == 0)
    return true;
  if (hdr.s_scnptr == 0) {
    cZeroFilledBytes += hdr.s_size;
    if (cZeroFilledBytes > kMaxZeroFilledBytes)
      return fail("could not read raw data.");
  } else if (cIn.at(hdr.s_scnptr, hdr.s_size) == nullptr) {
    return fail("could not read raw data.");
  }
  const std::size_t lineSize =
      cOldLayout ? gnu_lineno::sizeInBytes : coff_lineno::sizeInBytes;
  if (hdr.s_nlnno != 0 &&
      cIn.at(hdr.s_lnnoptr, lineSize * std::uint64_t(hdr.s_nlnno)) == nullptr)
    return fail("could not read line numbers.");
  const std::size_t relocSize =
      cOldLayout ? gnu_reloc::sizeInBytes : reloc::sizeInBytes;
  if (hdr.s_nreloc != 0 &&
      cIn.at(hdr.s_relptr, relocSize * std::uint64_t(hdr.s_nreloc)) == nullptr)
    return fail("could not read relocation info.");
  return true;
}

void CoffReader::findSectionName(const scnhdr &hdr,
                                 const std::uint8_t *headerBytes,
                                 std::string_view &name) {
  if (!hdr.hasLongName()) {
    name = inlineView(headerBytes);
    return;
  }
  if (keptString(hdr.nameOffset(), name))
    return;
  // Names moved out of old file entries live in the model's table only.
  const std::map<int, std::string> &table = cCoff->cStringTbl;
  auto found = hdr.nameOffset() > 0x7FFFFFFFu
                   ? table.end()
                   : table.find(static_cast<int>(hdr.nameOffset()));
  if (found != table.end()) {
    name = found->second;
    return;
  }
  // Missing: the lookup reports it and ends the program.
  Coff::getName(hdr, table);
  name = std::string_view();
}

// The section at index (from 0), whose checks passed.
CoffReader::SectionBlocks
CoffReader::checkedSection(std::uint32_t index) const {
  SectionBlocks section;
  section.hdr = scnhdr::decode(cIn.at(
      sectionHeaderAt(static_cast<int>(index) + 1), scnhdr::sizeInBytes));
  const scnhdr &hdr = section.hdr;
  if (hdr.s_size == 0)
    return section;
  if (hdr.s_scnptr != 0)
    section.rawData = cIn.at(hdr.s_scnptr, hdr.s_size);
  if (hdr.s_nlnno != 0)
    section.lines =
        cIn.at(hdr.s_lnnoptr, (cOldLayout ? gnu_lineno::sizeInBytes
                                          : coff_lineno::sizeInBytes) *
                                  std::uint64_t(hdr.s_nlnno));
  if (hdr.s_nreloc != 0)
    section.relocs = cIn.at(hdr.s_relptr, (cOldLayout ? gnu_reloc::sizeInBytes
                                                      : reloc::sizeInBytes) *
                                              std::uint64_t(hdr.s_nreloc));
  return section;
}

bool CoffReader::readSections() {
  const std::size_t count = cCoff->cFileHdr.f_nscns;
  if (cSectionsInImage && !cOldLayout) {
    // Only checked: nothing is kept to sort.
    std::string_view name;
    for (std::size_t i = 0; i < count; ++i)
      if (!checkSection(static_cast<int>(i) + 1, name))
        return false;
    return true;
  }
  // An object's few sections need no allocation of their own.
  constexpr std::size_t kFewSections = 16;
  NameKey few[kFewSections];
  std::vector<NameKey> many(count > kFewSections ? count : 0);
  NameKey *sections = count > kFewSections ? many.data() : few;
  for (std::size_t i = 0; i < count; ++i) {
    NameKey &section = sections[i];
    if (!checkSection(static_cast<int>(i) + 1, section.cName))
      return false;
    section.cHigh = nameWord(section.cName, 0);
    section.cLow = nameWord(section.cName, 8);
    section.cIndex = static_cast<std::uint32_t>(i);
  }
  storeSections(sections, count);
  return true;
}

// A linked file has thousands of sections in no name order: sorted once,
// they go into every name-keyed map at its end, without a search.
void CoffReader::storeSections(NameKey *sections, std::size_t count) {
  std::map<int, std::string> &numbers = cCoff->cScnNum;
  // Only a full read keeps the section numbers: the converters go by name.
  for (std::size_t i = 0; i < count && cFullRead; ++i)
    numbers.emplace_hint(numbers.end(), static_cast<int>(i + 1),
                         std::string(sections[i].cName));
  NameKey *end = sections + count;
  sortByName(sections, end);
  for (const NameKey *first = sections; first != end;) {
    const NameKey *last = first + 1;
    while (last != end && last->cName == first->cName)
      ++last;
    storeSectionGroup(first, last);
    first = last;
  }
}

// The sections of one name: a later one replaces the header and the
// contents of an earlier one; their line numbers and relocations add up.
// The header that stays decides whether a name is in program memory.
void CoffReader::storeSectionGroup(const NameKey *first, const NameKey *last) {
  Coff &coff = *cCoff;
  const scnhdr hdr = checkedSection((last - 1)->cIndex).hdr;
  const std::uint8_t type = Coff::scnType(hdr);
  const bool programMemory = type == kScnTypeCode || type == kScnTypeRomdata;
  if (cProgramMemoryOnly && !programMemory)
    return;
  const std::string key(first->cName);
  coff.cScnHdr.emplace_hint(coff.cScnHdr.end(), key, hdr);
  // The converters place only code and romdata: a data section's contents
  // are kept by a full read alone.
  const bool keepContents = programMemory || cFullRead;
  for (const NameKey *at = last; keepContents && at-- != first;) {
    const SectionBlocks section = checkedSection(at->cIndex);
    if (section.hdr.s_size == 0)
      continue;
    coff.cRawData.emplace_hint(coff.cRawData.end(), key,
                               section.rawData == nullptr
                                   ? Data(section.hdr.s_size)
                                   : Data(section.hdr.s_size, section.rawData));
    break;
  }
  // The COD converter reads a current image's line numbers in place, and
  // only when it lists a source file.
  if (cFullRead || (!cProgramMemoryOnly && cOldLayout)) {
    std::vector<coff_lineno> lines;
    for (const NameKey *at = first; at != last; ++at)
      appendLineNumbers(checkedSection(at->cIndex), lines);
    if (!lines.empty())
      coff.cLineNum.emplace_hint(coff.cLineNum.end(), key, std::move(lines));
  }
  if (cFullRead) {
    std::vector<reloc> relocs;
    for (const NameKey *at = first; at != last; ++at)
      appendRelocations(checkedSection(at->cIndex), relocs);
    if (!relocs.empty())
      coff.cReloc.emplace_hint(coff.cReloc.end(), key, std::move(relocs));
  }
}

void CoffReader::appendLineNumbers(const SectionBlocks &section,
                                   std::vector<coff_lineno> &lines) const {
  if (section.lines == nullptr)
    return;
  const std::size_t count = section.hdr.s_nlnno;
  lines.reserve(lines.size() + count);
  if (!cOldLayout) {
    for (std::size_t j = 0; j < count; ++j)
      lines.push_back(
          coff_lineno::decode(section.lines + coff_lineno::sizeInBytes * j));
    return;
  }
  // Old entries name their function once (line 0) before its lines.
  std::uint32_t function = 0;
  for (std::size_t j = 0; j < count; ++j) {
    gnu_lineno old =
        gnu_lineno::decode(section.lines + gnu_lineno::sizeInBytes * j);
    if (old.l_lnno == 0) {
      function = old.l_symndx();
      continue;
    }
    coff_lineno line;
    line.l_srcndx = 0;
    line.l_lnno = old.l_lnno;
    line.l_paddr = old.l_paddr;
    line.l_flags = kLineHasFcnNdx;
    line.l_fcnndx = function;
    lines.push_back(line);
  }
}

void CoffReader::appendRelocations(const SectionBlocks &section,
                                   std::vector<reloc> &relocs) const {
  if (section.relocs == nullptr)
    return;
  const std::size_t count = section.hdr.s_nreloc;
  relocs.reserve(relocs.size() + count);
  for (std::size_t j = 0; j < count; ++j) {
    if (!cOldLayout) {
      relocs.push_back(reloc::decode(section.relocs + reloc::sizeInBytes * j));
      continue;
    }
    // Old entries carry a type of their own that means nothing here.
    gnu_reloc old =
        gnu_reloc::decode(section.relocs + gnu_reloc::sizeInBytes * j);
    reloc rel;
    rel.r_vaddr = old.r_vaddr;
    rel.r_symndx = old.r_symndx;
    rel.r_offset = 0;
    rel.r_type = 4;
    relocs.push_back(rel);
  }
}

std::unique_ptr<Coff> CoffReader::read() {
  cCoff.reset(new Coff);
  cCoff->cFileName = cName;
  if (!readHeaders() || !readStringTable() || !readSymbolTable() ||
      !readSections())
    return nullptr;
  return std::move(cCoff);
}

// An unreadable stream reads as an empty image: the header read fails.
std::unique_ptr<Coff> readStream(std::FILE *file, long byteOffset,
                                 const std::string &name, Coff::Parts parts) {
  FileBytes bytes;
  bytes.read(file, byteOffset);
  CoffReader reader(bytes.data(), bytes.size(), name, parts);
  return reader.read();
}

} // namespace

std::unique_ptr<Coff> Coff::make(const std::string &name) {
  return make(name, Parts::All);
}

namespace {

// An open file, closed however the reader is left (a silent attempt leaves
// it through an exception): by its stream once it has one.
struct OpenFile {
  int cDescriptor;
  std::FILE *cStream = nullptr;

  explicit OpenFile(int descriptor) : cDescriptor(descriptor) {}
  OpenFile(const OpenFile &) = delete;
  OpenFile &operator=(const OpenFile &) = delete;
  ~OpenFile() {
    if (cStream != nullptr)
      std::fclose(cStream);
    else if (cDescriptor >= 0)
      ::close(cDescriptor);
  }
  std::FILE *stream() {
    if (cStream == nullptr)
      cStream = fdopen(cDescriptor, "rb");
    return cStream;
  }
};

} // namespace

std::unique_ptr<Coff> Coff::make(const std::string &name, Parts parts) {
  // A plain descriptor: an object file is read whole at once, so a
  // stream's buffer would only be set up and copied through.
  OpenFile file(::open(name.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.cDescriptor < 0) {
    report(MessageKind::Error, "Coff::make()",
           "Could not open Coff file '" + name + "' for reading.", 0);
    return nullptr;
  }
  // An unreadable file reads as an empty image: the header read fails.
  FileBytes bytes;
  bytes.read(file.cDescriptor, [&file] { return file.stream(); });
  CoffReader reader(bytes.data(), bytes.size(), name, parts);
  return reader.read();
}

std::unique_ptr<Coff> Coff::make(std::FILE *file, long byteOffset,
                                 const std::string &name) {
  return readStream(file, byteOffset, name, Parts::All);
}

std::unique_ptr<Coff> Coff::make(const std::uint8_t *bytes,
                                 std::uint64_t sizeInBytes,
                                 const std::string &name) {
  return make(bytes, sizeInBytes, name, Parts::All);
}

std::unique_ptr<Coff> Coff::make(const std::uint8_t *bytes,
                                 std::uint64_t sizeInBytes,
                                 const std::string &name, Parts parts) {
  CoffReader reader(bytes, sizeInBytes, name, parts);
  return reader.read();
}

namespace {

// What MemberSummary::read works with while it looks over an image; the
// summary keeps only its results.
class SummaryReader {
public:
  SummaryReader(const std::uint8_t *bytes, std::uint64_t sizeInBytes)
      : cBytes(bytes), cSize(sizeInBytes) {}

  bool read(std::vector<MemberSummary::External> *externals);

  std::uint32_t cTimeStamp = 0;
  std::uint32_t cSizeInBytes = 0;
  std::uint32_t cExternalCount = 0;

private:
  bool readStrings(std::uint64_t at, bool optional);
  bool readSections(std::uint16_t count);
  bool readSymbols(std::uint32_t symptr,
                   std::vector<MemberSummary::External> *externals);
  bool findString(std::uint32_t offset, std::string_view &name) const;
  bool symbolName(const std::uint8_t *entry, std::string_view &name) const;

  const std::uint8_t *cBytes;
  std::uint64_t cSize;
  std::uint32_t cSymbolCount = 0;
  // The strings the reader keeps: from the table's first byte up to the
  // first empty or unterminated one (cStringsKept bytes, NULs included).
  const std::uint8_t *cStrings = nullptr;
  std::uint64_t cStringsKept = 0;
};

} // namespace

// The summary follows the reader step by step but keeps nothing: wherever
// the reader would report anything (an old-layout object included), it
// gives up and leaves the reader to it.
bool MemberSummary::read(const std::uint8_t *bytes, std::uint64_t sizeInBytes,
                         std::vector<External> *externals) {
  *this = MemberSummary();
  SummaryReader reader(bytes, sizeInBytes);
  if (!reader.read(externals))
    return false;
  cTimeStamp = reader.cTimeStamp;
  cSizeInBytes = reader.cSizeInBytes;
  cExternalCount = reader.cExternalCount;
  return true;
}

bool SummaryReader::read(std::vector<MemberSummary::External> *externals) {
  ImageReader in(cBytes, cSize);
  const std::uint8_t *header = in.at(0, filehdr::sizeInBytes);
  if (header == nullptr)
    return false;
  const filehdr fh = filehdr::decode(header);
  if (fh.f_magic != kCoffMagic || fh.f_opthdr != kOptHdrSizeInBytes ||
      in.at(filehdr::sizeInBytes, opthdr::sizeInBytes) == nullptr)
    return false;
  cTimeStamp = fh.f_timdat;
  cSymbolCount = fh.f_nsyms;
  bool readable =
      fh.f_nsyms == 0
          ? readStrings(lastSectionBlockEnd(in, fh, false), true)
          : readStrings(std::uint64_t(fh.f_symptr) +
                            syment::sizeInBytes * std::uint64_t(fh.f_nsyms),
                        false);
  const std::size_t listed = externals != nullptr ? externals->size() : 0;
  if (!readable || !readSymbols(fh.f_symptr, externals) ||
      !readSections(fh.f_nscns)) {
    if (externals != nullptr)
      externals->resize(listed);
    return false;
  }
  return true;
}

// A table is optional only without symbols: then it is taken only when it
// is whole.
bool SummaryReader::readStrings(std::uint64_t at, bool optional) {
  ImageReader in(cBytes, cSize);
  const std::uint8_t *lengthBytes = in.at(at, 4);
  if (lengthBytes == nullptr)
    return optional;
  const std::uint32_t length = readLE32(lengthBytes);
  if (length <= 4)
    return true;
  const std::uint8_t *text = in.at(at + 4, length - 4);
  if (text == nullptr)
    return optional;
  // The reader keys its table by int offsets.
  if (length > kMaxStringTableBytes)
    return false;
  cStrings = text;
  cStringsKept = keptStringBytes(text, length - 4);
  return true;
}

bool SummaryReader::findString(std::uint32_t offset,
                               std::string_view &name) const {
  // Kept strings start at 4 and right after each NUL before the end.
  if (offset < 4 || offset - 4 >= cStringsKept)
    return false;
  const std::uint64_t at = offset - 4;
  if (at != 0 && cStrings[at - 1] != 0)
    return false;
  const void *nul = std::memchr(cStrings + at, 0, cStringsKept - at);
  if (nul == nullptr)
    return false;
  name = std::string_view(reinterpret_cast<const char *>(cStrings + at),
                          static_cast<const std::uint8_t *>(nul) -
                              (cStrings + at));
  return true;
}

// An entry's name as Coff::findName gives it.
bool SummaryReader::symbolName(const std::uint8_t *entry,
                               std::string_view &name) const {
  if (entry[0] == 0 && entry[1] == 0 && entry[2] == 0 && entry[3] == 0)
    return findString(readLE32(entry + 4), name);
  name = inlineView(entry);
  return true;
}

namespace {

// What Coff::isExtDef and Coff::isExtRef make of a symbol entry, and
// whether the reader pairs it with the entry after it, read from the two
// fields they look at (a library has tens of thousands of entries).
enum class ExternalKind { None, Definition, Reference };

constexpr std::size_t kScnumAt = 12;  // syment::n_scnum
constexpr std::size_t kSclassAt = 16; // syment::n_sclass
constexpr std::size_t kNumauxAt = 17; // syment::n_numaux

ExternalKind externalOf(const std::uint8_t *entry) {
  if (entry[kSclassAt] != kClassExternal)
    return ExternalKind::None;
  const auto scnum = static_cast<std::int16_t>(readLE16(entry + kScnumAt));
  return scnum > 0    ? ExternalKind::Definition
         : scnum == 0 ? ExternalKind::Reference
                      : ExternalKind::None;
}

bool hasAuxEntry(const std::uint8_t *entry) {
  return entry[kNumauxAt] != 0 &&
         Coff::auxType(syment::decode(entry)) != kAuxNone;
}

} // namespace

// Symbols and their auxiliary entries as the reader pairs them.
bool SummaryReader::readSymbols(
    std::uint32_t symptr, std::vector<MemberSummary::External> *externals) {
  if (cSymbolCount == 0)
    return true;
  ImageReader in(cBytes, cSize);
  const std::uint8_t *symbols =
      in.at(symptr, syment::sizeInBytes * std::uint64_t(cSymbolCount));
  if (symbols == nullptr)
    return false;
  for (std::uint32_t i = 0; i < cSymbolCount; ++i) {
    const std::uint8_t *entry = symbols + syment::sizeInBytes * i;
    const ExternalKind kind = externalOf(entry);
    if (kind != ExternalKind::None) {
      std::string_view name;
      // A missing name is left to the model: a definition's is reported
      // by the symbol index, a reference's by the link that takes it.
      if (!symbolName(entry, name))
        return false;
      ++cExternalCount;
      if (externals != nullptr)
        externals->push_back({name, kind == ExternalKind::Definition});
    }
    if (hasAuxEntry(entry) && i + 1 < cSymbolCount)
      ++i;
  }
  return true;
}

namespace {

// One section as the layout counts it.
// Plain fields without initial values: a member's array of them is set
// entry by entry, and clearing it first would cost more than reading them.
struct SectionSummary {
  std::string_view name;
  std::uint32_t number;
  bool udata;
  bool filled; // has contents: the reader read its blocks
  std::uint32_t sizeInBytes;
  std::uint32_t relocs;
  std::uint32_t lines;
};

// The file length Coff::size() gives. Sections sharing a name share the
// model's entries: the contents of the last one with any, the relocations
// and line numbers of all of them, the flags of the last; each of them is
// counted at its own place.
std::uint64_t laidOutSectionBytes(SectionSummary *sections, std::size_t count) {
  std::sort(sections, sections + count,
            [](const SectionSummary &a, const SectionSummary &b) {
              return a.name != b.name ? a.name < b.name : a.number < b.number;
            });
  std::uint64_t total = 0;
  for (std::size_t first = 0; first < count;) {
    std::size_t last = first;
    std::uint64_t contents = 0, relocs = 0, lines = 0;
    for (; last < count && sections[last].name == sections[first].name;
         ++last) {
      const SectionSummary &s = sections[last];
      if (!s.filled)
        continue;
      contents = s.sizeInBytes;
      relocs += s.relocs;
      lines += s.lines;
    }
    const std::uint64_t count = last - first;
    if (!sections[last - 1].udata)
      total += count * contents;
    total += count *
             (reloc::sizeInBytes * relocs + coff_lineno::sizeInBytes * lines);
    first = last;
  }
  return total;
}

} // namespace

bool SummaryReader::readSections(std::uint16_t count) {
  ImageReader in(cBytes, cSize);
  if (in.at(filehdr::sizeInBytes + opthdr::sizeInBytes,
            scnhdr::sizeInBytes * std::uint64_t(count)) == nullptr)
    return false; // the reader reports the first header missing
  // Members have a few sections: no allocation for them.
  constexpr std::uint16_t kFewSections = 16;
  SectionSummary few[kFewSections];
  std::vector<SectionSummary> many(count > kFewSections ? count : 0);
  SectionSummary *sections = count > kFewSections ? many.data() : few;
  std::uint64_t zeroFilledBytes = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint8_t *bytes =
        in.at(filehdr::sizeInBytes + opthdr::sizeInBytes +
                  scnhdr::sizeInBytes * std::uint64_t(i),
              scnhdr::sizeInBytes);
    if (bytes == nullptr)
      return false;
    const scnhdr hdr = scnhdr::decode(bytes);
    SectionSummary s{};
    if (hdr.hasLongName()) {
      if (!findString(hdr.nameOffset(), s.name))
        return false;
    } else {
      s.name = inlineView(bytes);
    }
    s.number = i;
    s.udata = Coff::isUdata(hdr) != 0;
    s.filled = hdr.s_size != 0;
    if (s.filled) {
      if (hdr.s_scnptr == 0) {
        zeroFilledBytes += hdr.s_size;
        if (zeroFilledBytes > kMaxZeroFilledBytes)
          return false;
      } else if (in.at(hdr.s_scnptr, hdr.s_size) == nullptr) {
        return false;
      }
      if (hdr.s_nlnno != 0 &&
          in.at(hdr.s_lnnoptr, coff_lineno::sizeInBytes *
                                   std::uint64_t(hdr.s_nlnno)) == nullptr)
        return false;
      if (hdr.s_nreloc != 0 &&
          in.at(hdr.s_relptr,
                reloc::sizeInBytes * std::uint64_t(hdr.s_nreloc)) == nullptr)
        return false;
      s.sizeInBytes = hdr.s_size;
      s.relocs = hdr.s_nreloc;
      s.lines = hdr.s_nlnno;
    }
    sections[i] = s;
  }
  const std::uint64_t fileLength =
      filehdr::sizeInBytes + opthdr::sizeInBytes +
      scnhdr::sizeInBytes * std::uint64_t(count) +
      laidOutSectionBytes(sections, count) +
      syment::sizeInBytes * std::uint64_t(cSymbolCount) + 4 + cStringsKept;
  cSizeInBytes = static_cast<std::uint32_t>(fileLength);
  return true;
}
