// Reading an object image, of the current layout or the old one, into a
// Coff. Every count and file pointer comes from the file, so each block is
// checked against the bytes the file holds (in 64 bits) before anything is
// allocated or read.
#include "Coff.h"

#include "ByteOrder.h"
#include "FileBytes.h"
#include "MemberSummary.h"
#include "Messages.h"

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
// (text from start up to its NUL at end) and returns the bytes they take,
// NULs included: strings follow each other from the table's start, and the
// first empty string, or text without a closing NUL, ends them.
template <class Visit>
std::size_t walkKeptStrings(const std::uint8_t *text, std::size_t size,
                            Visit visit) {
  std::size_t pos = 0;
  while (pos < size) {
    const void *nul = std::memchr(text + pos, 0, size - pos);
    if (nul == nullptr)
      break;
    std::size_t end = static_cast<const std::uint8_t *>(nul) - text;
    if (end == pos)
      break;
    visit(pos, end);
    pos = end + 1;
  }
  return pos;
}

std::uint64_t keptStringBytes(const std::uint8_t *text, std::size_t size) {
  return walkKeptStrings(text, size, [](std::size_t, std::size_t) {});
}

// An inline name of 8 bytes, up to its first NUL.
std::string_view inlineView(const std::uint8_t *name) {
  const void *nul = std::memchr(name, 0, 8);
  return std::string_view(
      reinterpret_cast<const char *>(name),
      nul == nullptr ? 8 : static_cast<const std::uint8_t *>(nul) - name);
}

class CoffReader {
public:
  CoffReader(const std::uint8_t *bytes, std::uint64_t sizeInBytes,
             const std::string &name, Coff::Parts parts)
      : cIn(bytes, sizeInBytes), cName(name),
        cSectionsOnly(parts == Coff::Parts::Sections),
        cSectionNamesOnly(parts != Coff::Parts::All) {}

  std::unique_ptr<Coff> read();

private:
  bool fail(const std::string &what);
  bool readHeaders();
  void findSectionNameOffsets();
  bool readStringTable();
  void splitStrings(const std::uint8_t *text, std::size_t size);
  bool readSymbolTable();
  void moveOldFileName(syment &aux);
  bool readSections();
  bool readSection(int number);
  bool readRawData(const scnhdr &hdr, const std::string &name);
  bool readLineNumbers(const scnhdr &hdr, const std::string &name);
  bool readRelocations(const scnhdr &hdr, const std::string &name);
  std::uint64_t endOfSectionBlocks();

  ImageReader cIn;
  std::string cName;
  std::unique_ptr<Coff> cCoff;
  bool cOldLayout = false;
  bool cSectionsOnly;
  // The string table keeps only what section headers name, and no
  // relocations are kept (both for Sections and SectionNames).
  bool cSectionNamesOnly;
  // Sorted offsets of the long section names: all of the string table
  // that a sections-only read keeps.
  std::vector<std::uint32_t> cWantedStrings;
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
// without a closing NUL, ends the table.
void CoffReader::splitStrings(const std::uint8_t *text, std::size_t size) {
  const std::size_t kept =
      walkKeptStrings(text, size, [&](std::size_t start, std::size_t end) {
        if (cSectionNamesOnly &&
            !std::binary_search(cWantedStrings.begin(), cWantedStrings.end(),
                                static_cast<std::uint32_t>(4 + start)))
          return;
        // Offsets ascend, so each entry goes in at the end without a search.
        auto entry = cCoff->cStringTbl.emplace_hint(cCoff->cStringTbl.end(),
                                                    static_cast<int>(4 + start),
                                                    std::string());
        entry->second.assign(reinterpret_cast<const char *>(text + start),
                             end - start);
      });
  cNextStringOffset = static_cast<std::uint32_t>(4 + kept);
}

std::uint64_t CoffReader::endOfSectionBlocks() {
  return lastSectionBlockEnd(cIn, cCoff->cFileHdr, cOldLayout);
}

void CoffReader::findSectionNameOffsets() {
  const filehdr &fh = cCoff->cFileHdr;
  for (std::uint32_t i = 0; i < fh.f_nscns; ++i) {
    std::uint64_t at = filehdr::sizeInBytes + std::uint64_t(fh.f_opthdr) +
                       scnhdr::sizeInBytes * std::uint64_t(i);
    const std::uint8_t *bytes = cIn.at(at, scnhdr::sizeInBytes);
    if (bytes == nullptr)
      break; // the section read reports it
    scnhdr hdr = scnhdr::decode(bytes);
    if (hdr.hasLongName())
      cWantedStrings.push_back(hdr.nameOffset());
  }
  std::sort(cWantedStrings.begin(), cWantedStrings.end());
}

bool CoffReader::readStringTable() {
  const filehdr &fh = cCoff->cFileHdr;
  if (cSectionNamesOnly)
    findSectionNameOffsets();
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
      splitStrings(text, length - 4);
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
  splitStrings(text, length - 4);
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
  if (cSectionsOnly)
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

bool CoffReader::readRawData(const scnhdr &hdr, const std::string &name) {
  if (hdr.s_scnptr == 0) {
    cZeroFilledBytes += hdr.s_size;
    if (cZeroFilledBytes > kMaxZeroFilledBytes)
      return fail("could not read raw data.");
    cCoff->cRawData[name] = Data(hdr.s_size);
    return true;
  }
  const std::uint8_t *bytes = cIn.at(hdr.s_scnptr, hdr.s_size);
  if (bytes == nullptr)
    return fail("could not read raw data.");
  cCoff->cRawData[name] = Data(hdr.s_size, bytes);
  return true;
}

bool CoffReader::readLineNumbers(const scnhdr &hdr, const std::string &name) {
  if (hdr.s_nlnno == 0)
    return true;
  std::size_t entrySize =
      cOldLayout ? gnu_lineno::sizeInBytes : coff_lineno::sizeInBytes;
  const std::uint8_t *bytes =
      cIn.at(hdr.s_lnnoptr, entrySize * std::uint64_t(hdr.s_nlnno));
  if (bytes == nullptr)
    return fail("could not read line numbers.");
  if (cSectionsOnly)
    return true;
  std::vector<coff_lineno> &lines = cCoff->cLineNum[name];
  lines.reserve(hdr.s_nlnno);
  // Old entries name their function once (line 0) before its lines.
  std::uint32_t function = 0;
  for (std::size_t j = 0; j < hdr.s_nlnno; ++j) {
    const std::uint8_t *at = bytes + entrySize * j;
    if (!cOldLayout) {
      lines.push_back(coff_lineno::decode(at));
      continue;
    }
    gnu_lineno old = gnu_lineno::decode(at);
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
  if (lines.empty())
    cCoff->cLineNum.erase(name);
  return true;
}

bool CoffReader::readRelocations(const scnhdr &hdr, const std::string &name) {
  if (hdr.s_nreloc == 0)
    return true;
  std::size_t entrySize =
      cOldLayout ? gnu_reloc::sizeInBytes : reloc::sizeInBytes;
  const std::uint8_t *bytes =
      cIn.at(hdr.s_relptr, entrySize * std::uint64_t(hdr.s_nreloc));
  if (bytes == nullptr)
    return fail("could not read relocation info.");
  if (cSectionNamesOnly)
    return true;
  std::vector<reloc> &relocs = cCoff->cReloc[name];
  relocs.reserve(hdr.s_nreloc);
  for (std::size_t j = 0; j < hdr.s_nreloc; ++j) {
    const std::uint8_t *at = bytes + entrySize * j;
    if (!cOldLayout) {
      relocs.push_back(reloc::decode(at));
      continue;
    }
    // Old entries carry a type of their own that means nothing here.
    gnu_reloc old = gnu_reloc::decode(at);
    reloc rel;
    rel.r_vaddr = old.r_vaddr;
    rel.r_symndx = old.r_symndx;
    rel.r_offset = 0;
    rel.r_type = 4;
    relocs.push_back(rel);
  }
  return true;
}

bool CoffReader::readSection(int number) {
  const filehdr &fh = cCoff->cFileHdr;
  std::uint64_t at = filehdr::sizeInBytes + std::uint64_t(fh.f_opthdr) +
                     scnhdr::sizeInBytes * std::uint64_t(number - 1);
  const std::uint8_t *bytes = cIn.at(at, scnhdr::sizeInBytes);
  if (bytes == nullptr)
    return fail("could not read section header.");
  scnhdr hdr = scnhdr::decode(bytes);
  std::string name = Coff::getName(hdr, cCoff->cStringTbl);
  cCoff->cScnHdr[name] = hdr;
  cCoff->cScnNum[number] = name;
  // An empty section has nothing more, whatever its counts say.
  if (hdr.s_size == 0)
    return true;
  return readRawData(hdr, name) && readLineNumbers(hdr, name) &&
         readRelocations(hdr, name);
}

bool CoffReader::readSections() {
  for (int i = 0; i < cCoff->cFileHdr.f_nscns; ++i)
    if (!readSection(i + 1))
      return false;
  return true;
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

std::unique_ptr<Coff> Coff::make(const std::string &name, Parts parts) {
  // Owned: a silent attempt leaves the reader through an exception.
  std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(
      std::fopen(name.c_str(), "rb"), &std::fclose);
  if (!file) {
    report(MessageKind::Error, "Coff::make()",
           "Could not open Coff file '" + name + "' for reading.", 0);
    return nullptr;
  }
  return readStream(file.get(), 0, name, parts);
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

// The summary follows the reader step by step but keeps nothing: wherever
// the reader would report anything (an old-layout object included), it
// gives up and leaves the reader to it.
bool MemberSummary::read(const std::uint8_t *bytes, std::uint64_t sizeInBytes,
                         std::vector<External> *externals) {
  *this = MemberSummary();
  cBytes = bytes;
  cSize = sizeInBytes;
  ImageReader in(bytes, sizeInBytes);
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
bool MemberSummary::readStrings(std::uint64_t at, bool optional) {
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

bool MemberSummary::findString(std::uint32_t offset,
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
bool MemberSummary::symbolName(const std::uint8_t *entry,
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
bool MemberSummary::readSymbols(std::uint32_t symptr,
                                std::vector<External> *externals) {
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
struct SectionSummary {
  std::string_view name;
  std::uint32_t number = 0;
  bool udata = false;
  bool filled = false; // has contents: the reader read its blocks
  std::uint32_t sizeInBytes = 0;
  std::uint32_t relocs = 0;
  std::uint32_t lines = 0;
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

bool MemberSummary::readSections(std::uint16_t count) {
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
    SectionSummary s;
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
