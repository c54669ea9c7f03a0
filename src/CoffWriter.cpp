// Laying a Coff out as a file and writing it. The layout and the writer
// walk the same list of sections (writtenSections), so the counts in the
// headers always describe the bytes that are written.
#include "Coff.h"

#include "ByteOrder.h"
#include "IntKeySlices.h"
#include "Messages.h"
#include "ParallelWork.h"
#include "SafeFile.h"
#include "SectionNameIndex.h"
#include "TextUtil.h"
#include "Trace.h"

#include <algorithm>
#include <climits>
#include <ctime>
#include <iostream>
#include <sstream>
#include <string_view>
#include <unordered_map>

struct Coff::Layout {
  std::uint64_t secHdrStart = 0;
  std::uint64_t secHdrLength = 0;
  std::uint64_t rawDataStart = 0;
  std::uint64_t rawDataLength = 0;
  std::uint64_t relocStart = 0;
  std::uint64_t relocLength = 0;
  std::uint64_t lineStart = 0;
  std::uint64_t lineLength = 0;
  std::uint64_t symbolStart = 0;
  std::uint64_t symbolLength = 0;
  std::uint64_t stringStart = 0;
  std::uint64_t stringLength = 0;
  std::uint64_t fileLength = 0;
  std::uint16_t nscns = 0;
  std::uint32_t symptr = 0;
  std::uint32_t nsyms = 0;
  // The written sections' headers with the laid-out fields, in written
  // order, each beside its entry in cScnHdr: a large output is laid out
  // without copying its header map.
  struct LaidHeader {
    std::map<std::string, scnhdr>::const_iterator at;
    scnhdr hdr;
  };
  std::vector<LaidHeader> headers;
};

namespace {

// A section's header with its contents, relocations and line numbers
// (null: none), found by name.
struct SectionParts {
  std::map<std::string, scnhdr>::const_iterator hdr;
  const Data *rawData = nullptr;
  const std::vector<reloc> *relocs = nullptr;
  const std::vector<coff_lineno> *lines = nullptr;

  std::uint32_t contentsSize() const {
    return rawData == nullptr ? 0 : rawData->size();
  }
  std::size_t relocCount() const { return relocs ? relocs->size() : 0; }
  std::size_t lineCount() const { return lines ? lines->size() : 0; }
};

// The entry of map named name, or null; at moves forward through map, so a
// walk over names in ascending order visits each entry once.
template <class Map>
const typename Map::mapped_type *nextNamed(const Map &map,
                                           typename Map::const_iterator &at,
                                           const std::string &name) {
  while (at != map.end()) {
    const int order = at->first.compare(name);
    if (order == 0)
      return &at->second;
    if (order > 0)
      return nullptr;
    ++at;
  }
  return nullptr;
}

// The sections of cScnNum that have a header, in number order, each with
// all its parts. The name-keyed maps share one order, so they are joined
// in one walk; the numbers find their names through a hash table instead
// of a tree search per map.
std::vector<SectionParts> numberedSections(const Coff &coff) {
  const SectionNameIndex index(coff.cScnHdr);
  std::vector<SectionParts> byName;
  byName.reserve(index.size());
  auto raw = coff.cRawData.begin();
  auto relocs = coff.cReloc.begin();
  auto lines = coff.cLineNum.begin();
  for (std::size_t i = 0; i < index.size(); ++i) {
    SectionParts parts;
    parts.hdr = index.at(i);
    parts.rawData = nextNamed(coff.cRawData, raw, parts.hdr->first);
    parts.relocs = nextNamed(coff.cReloc, relocs, parts.hdr->first);
    parts.lines = nextNamed(coff.cLineNum, lines, parts.hdr->first);
    byName.push_back(parts);
  }
  std::vector<SectionParts> numbered;
  numbered.reserve(coff.cScnNum.size());
  for (const auto &number : coff.cScnNum) {
    const std::size_t position = index.find(number.second);
    if (position != SectionNameIndex::npos)
      numbered.push_back(byName[position]);
  }
  return numbered;
}

// Per section, the position of the last line entry that names each
// function, so that the walk below stays linear.
using LastLineOfFunction = std::unordered_map<std::uint32_t, std::size_t>;

LastLineOfFunction indexFunctionLines(const std::vector<coff_lineno> &lines) {
  LastLineOfFunction last;
  for (std::size_t p = 0; p < lines.size(); ++p)
    if (Coff::hasFcnNdx(lines[p]))
      last[lines[p].l_fcnndx] = p;
  return last;
}

// Points each function's aux entry at the function's last line entry.
// headerOf gives the laid-out header of a section name, or null.
template <class HeaderOf>
void fixupFunctionLines(
    std::vector<syment> &table, const std::map<int, std::string> &scnNum,
    HeaderOf headerOf,
    const std::map<std::string, std::vector<coff_lineno>> &lineNum,
    const std::map<int, std::string> &strTbl, bool trace) {
  // What a section number leads to, looked up once per number.
  struct Section {
    const std::string *name = nullptr;
    const scnhdr *hdr = nullptr;
    const std::vector<coff_lineno> *lines = nullptr;
    bool indexed = false;
    LastLineOfFunction last;
  };
  std::unordered_map<int, Section> sections;
  auto sectionOf = [&](int number) -> Section & {
    auto found = sections.find(number);
    if (found != sections.end())
      return found->second;
    Section &section = sections[number];
    auto named = scnNum.find(number);
    if (named != scnNum.end()) {
      section.name = &named->second;
      auto lines = lineNum.find(named->second);
      if (lines != lineNum.end())
        section.lines = &lines->second;
      section.hdr = headerOf(named->second);
    }
    return section;
  };
  for (std::size_t i = 0; i < table.size(); ++i) {
    const syment &sym = table[i];
    int kind = Coff::auxType(sym);
    if (kind != kAuxFcn) {
      if (sym.n_numaux == 1)
        ++i;
      continue;
    }
    if (i + 1 >= table.size())
      break;
    Section &section = sectionOf(sym.n_scnum);
    if (section.lines != nullptr && section.hdr != nullptr) {
      if (!section.indexed) {
        section.last = indexFunctionLines(*section.lines);
        section.indexed = true;
      }
      auto found = section.last.find(static_cast<std::uint32_t>(i));
      if (found != section.last.end()) {
        aux_fcn aux = readAux<aux_fcn>(table[i + 1]);
        std::uint32_t pointer = section.hdr->s_lnnoptr +
                                static_cast<std::uint32_t>(
                                    coff_lineno::sizeInBytes * found->second);
        if (trace)
          std::cout << "Coff::fixupAuxFcns() - symbol '"
                    << Coff::getName(sym, strTbl) << "' in section '"
                    << *section.name << "'  from " << hexText(aux.x_lnnoptr, 4)
                    << " to " << hexText(pointer, 4) << '\n';
        aux.x_lnnoptr = pointer;
        writeAux(table[i + 1], aux);
      }
    }
    ++i;
  }
}

using StringTable = std::map<int, std::string>;
using StringRuns = std::vector<StringTable::const_iterator>;

// work(run) for every run; a single run (every small object's table) is
// walked here: even asking for the threads costs more than its walk.
template <class Work> void forEachRun(std::size_t runs, const Work &work) {
  if (runs == 1)
    work(0);
  else
    forEachLargeInParallel(runs, work);
}

// The bytes each run of the string table takes in the file: its strings,
// each with its NUL. Runs are summed on all threads.
std::vector<std::uint64_t> stringRunBytes(const StringRuns &runs) {
  std::vector<std::uint64_t> bytes(runs.size() - 1, 0);
  forEachRun(bytes.size(), [&](std::size_t run) {
    std::uint64_t sum = 0;
    for (auto at = runs[run]; at != runs[run + 1]; ++at)
      sum += at->second.size() + 1;
    bytes[run] = sum;
  });
  return bytes;
}

bool sameBytes(const syment &a, const syment &b) {
  std::uint8_t left[syment::sizeInBytes];
  std::uint8_t right[syment::sizeInBytes];
  a.encode(left);
  b.encode(right);
  return std::equal(left, left + sizeof left, right);
}

bool sameLayoutFields(const scnhdr &a, const scnhdr &b) {
  return a.s_size == b.s_size && a.s_scnptr == b.s_scnptr &&
         a.s_relptr == b.s_relptr && a.s_lnnoptr == b.s_lnnoptr &&
         a.s_nreloc == b.s_nreloc && a.s_nlnno == b.s_nlnno;
}

} // namespace

std::vector<Coff::WrittenSection> Coff::writtenSections() const {
  std::vector<WrittenSection> sections;
  const std::vector<SectionParts> numbered = numberedSections(*this);
  sections.reserve(numbered.size());
  for (const SectionParts &parts : numbered)
    sections.push_back({&parts.hdr->first, &parts.hdr->second, parts.rawData,
                        parts.relocs, parts.lines});
  return sections;
}

std::uint64_t Coff::stringTblSize() const {
  std::uint64_t length = 4;
  // Every input's size is asked for: a small table is summed here.
  if (cStringTbl.size() < kIntKeySliceMinEntries) {
    for (const auto &entry : cStringTbl)
      length += entry.second.size() + 1;
    return length;
  }
  for (const std::uint64_t bytes : stringRunBytes(intKeySlices(cStringTbl)))
    length += bytes;
  return length;
}

Coff::Layout Coff::computeLayout(bool withSectionHeaders) const {
  Layout layout;
  const std::vector<SectionParts> written = numberedSections(*this);
  std::uint64_t relocCount = 0;
  std::uint64_t lineCount = 0;
  for (const SectionParts &parts : written) {
    if (!isUdata(parts.hdr->second))
      layout.rawDataLength += parts.contentsSize();
    relocCount += parts.relocCount();
    lineCount += parts.lineCount();
  }
  layout.secHdrStart = filehdr::sizeInBytes + opthdr::sizeInBytes;
  layout.secHdrLength = scnhdr::sizeInBytes * written.size();
  layout.rawDataStart = layout.secHdrStart + layout.secHdrLength;
  layout.relocStart = layout.rawDataStart + layout.rawDataLength;
  layout.relocLength = reloc::sizeInBytes * relocCount;
  layout.lineStart = layout.relocStart + layout.relocLength;
  layout.lineLength = coff_lineno::sizeInBytes * lineCount;
  layout.symbolStart = layout.lineStart + layout.lineLength;
  layout.symbolLength = syment::sizeInBytes * cSymbolTbl.size();
  layout.stringStart = layout.symbolStart + layout.symbolLength;
  layout.stringLength = stringTblSize();
  layout.fileLength = layout.stringStart + layout.stringLength;
  layout.nscns = static_cast<std::uint16_t>(written.size());
  layout.symptr =
      cSymbolTbl.empty() ? 0 : static_cast<std::uint32_t>(layout.symbolStart);
  layout.nsyms = static_cast<std::uint32_t>(cSymbolTbl.size());
  if (!withSectionHeaders)
    return layout;

  // A name numbered twice is laid out at each place; applied in order, the
  // last one wins. Every laid-out field is set anew each time.
  layout.headers.reserve(written.size());
  std::uint64_t rawPtr = layout.rawDataStart;
  std::uint64_t relocPtr = layout.relocStart;
  std::uint64_t linePtr = layout.lineStart;
  for (const SectionParts &parts : written) {
    scnhdr hdr = parts.hdr->second;
    hdr.s_size = parts.contentsSize();
    bool udata = isUdata(hdr);
    hdr.s_scnptr =
        udata || hdr.s_size == 0 ? 0 : static_cast<std::uint32_t>(rawPtr);
    if (!udata)
      rawPtr += hdr.s_size;
    std::size_t relocs = parts.relocCount();
    hdr.s_nreloc = static_cast<std::uint16_t>(relocs);
    hdr.s_relptr = relocs == 0 ? 0 : static_cast<std::uint32_t>(relocPtr);
    relocPtr += reloc::sizeInBytes * relocs;
    std::size_t lines = parts.lineCount();
    hdr.s_nlnno = static_cast<std::uint16_t>(lines);
    hdr.s_lnnoptr = lines == 0 ? 0 : static_cast<std::uint32_t>(linePtr);
    linePtr += coff_lineno::sizeInBytes * lines;
    layout.headers.push_back({parts.hdr, hdr});
  }
  return layout;
}

void Coff::preWrite() {
  Layout layout = computeLayout();
  if (traceLevel(traceRegister("Coff::preWrite")) != 0) {
    std::cout << "secHdrStart=" << layout.secHdrStart
              << ", secHdrLength=" << layout.secHdrLength << '\n'
              << "rawDataStart=" << layout.rawDataStart
              << ", rawDataLength=" << layout.rawDataLength << '\n'
              << "relocStart=" << layout.relocStart
              << ", relocLength=" << layout.relocLength << '\n'
              << "lineStart=" << layout.lineStart
              << ", lineLength=" << layout.lineLength << '\n'
              << "symbolStart=" << layout.symbolStart
              << ", symbolLength=" << layout.symbolLength << '\n'
              << "stringStart=" << layout.stringStart
              << ", stringLength=" << layout.stringLength << '\n'
              << "fileLength=" << layout.fileLength << '\n';
  }
  cFileHdr.f_nscns = layout.nscns;
  cFileHdr.f_timdat = static_cast<std::uint32_t>(std::time(nullptr));
  cFileHdr.f_symptr = layout.symptr;
  cFileHdr.f_nsyms = layout.nsyms;
  // An empty erase turns the layout's const position into a mutable one.
  for (const Layout::LaidHeader &laid : layout.headers)
    cScnHdr.erase(laid.at, laid.at)->second = laid.hdr;
  fixupAuxFcns();
  cFileHdr.f_magic = kCoffMagic;
}

void Coff::fixupAuxFcns() {
  bool trace = traceLevel(traceRegister("Coff::fixupAuxFcns")) != 0;
  auto headerOf = [this](const std::string &name) -> const scnhdr * {
    auto found = cScnHdr.find(name);
    return found == cScnHdr.end() ? nullptr : &found->second;
  };
  fixupFunctionLines(cSymbolTbl, cScnNum, headerOf, cLineNum, cStringTbl,
                     trace);
}

std::uint32_t Coff::size() const {
  Layout layout = computeLayout(false);
  static const std::string traceId = traceRegister("Coff::size");
  if (traceLevel(traceId) != 0)
    std::cout << "fileLength=" << layout.fileLength << '\n';
  return static_cast<std::uint32_t>(layout.fileLength);
}

int Coff::isLaidOut() const {
  Layout layout = computeLayout();
  if (cFileHdr.f_magic != kCoffMagic ||
      cFileHdr.f_opthdr != kOptHdrSizeInBytes ||
      cFileHdr.f_nscns != layout.nscns || cFileHdr.f_symptr != layout.symptr ||
      cFileHdr.f_nsyms != layout.nsyms)
    return 0;
  // Per header, its last laid-out form (a name numbered twice is laid out
  // twice); headers of sections that are not written keep their fields.
  std::unordered_map<const scnhdr *, const scnhdr *> laidOut;
  laidOut.reserve(layout.headers.size());
  for (const Layout::LaidHeader &laid : layout.headers)
    laidOut[&laid.at->second] = &laid.hdr;
  for (const auto &entry : laidOut)
    if (!sameLayoutFields(*entry.second, *entry.first))
      return 0;
  auto headerOf = [&](const std::string &name) -> const scnhdr * {
    auto found = cScnHdr.find(name);
    if (found == cScnHdr.end())
      return nullptr;
    auto laid = laidOut.find(&found->second);
    return laid == laidOut.end() ? &found->second : laid->second;
  };
  std::vector<syment> symbols = cSymbolTbl;
  fixupFunctionLines(symbols, cScnNum, headerOf, cLineNum, cStringTbl, false);
  for (std::size_t i = 0; i < symbols.size(); ++i)
    if (!sameBytes(symbols[i], cSymbolTbl[i]))
      return 0;
  return 1;
}

// Writes the image in large pieces: records are encoded into one buffer
// that goes out whenever it fills, so a large output needs neither a copy
// of itself in memory nor a system call per small section. A failure names
// the block being written when it showed.
class Coff::ImageWriter {
public:
  ImageWriter(std::FILE *file, const std::string &name,
              std::uint64_t imageSizeInBytes)
      : cFile(file), cName(name) {
    cBuffer.reserve(static_cast<std::size_t>(
        std::min<std::uint64_t>(imageSizeInBytes, kPieceBytes)));
  }

  // Room for sizeInBytes more bytes at the end of the buffer; null after a
  // failed write, already reported.
  std::uint8_t *room(std::size_t sizeInBytes, const char *what) {
    if (cBuffer.size() + sizeInBytes > kPieceBytes && !flush(what))
      return nullptr;
    const std::size_t at = cBuffer.size();
    cBuffer.resize(at + sizeInBytes);
    return cBuffer.data() + at;
  }

  template <class Record> bool put(const Record &rec, const char *what) {
    std::uint8_t *at = room(Record::sizeInBytes, what);
    if (at == nullptr)
      return false;
    rec.encode(at);
    return true;
  }

  bool put(const std::uint8_t *bytes, std::size_t size, const char *what) {
    if (cBuffer.size() + size <= kPieceBytes) {
      cBuffer.insert(cBuffer.end(), bytes, bytes + size);
      return true;
    }
    // Too large for what room is left: what is buffered goes first.
    if (!flush(what))
      return false;
    if (size < kPieceBytes) {
      cBuffer.insert(cBuffer.end(), bytes, bytes + size);
      return true;
    }
    // In slices: the system copies a large block far more slowly than the
    // same bytes in cache-sized writes.
    for (std::size_t at = 0; at < size; at += kPieceBytes) {
      const std::size_t slice = std::min(kPieceBytes, size - at);
      if (std::fwrite(bytes + at, 1, slice, cFile) != slice)
        return fail(what);
    }
    return true;
  }

  bool flush(const char *what) {
    const std::size_t size = cBuffer.size();
    const bool written =
        size == 0 || std::fwrite(cBuffer.data(), 1, size, cFile) == size;
    cBuffer.clear();
    return written || fail(what);
  }

  std::FILE *file() const { return cFile; }

  bool fail(const std::string &what) {
    std::ostringstream text;
    text << "Coff file '" << cName << what;
    reportStream(MessageKind::Error, "Coff::write()", text, 0);
    return false;
  }

private:
  static constexpr std::size_t kPieceBytes = 256 * 1024;

  std::FILE *cFile;
  const std::string &cName;
  std::vector<std::uint8_t> cBuffer;
};

namespace {

// Every file pointer and the file's length are 32-bit fields.
constexpr std::uint64_t kMaxImageSizeInBytes = 0xFFFFFFFFull;
const char *const kBeyond32Bits = "' would need file offsets beyond 32 bits.";

} // namespace

std::uint64_t
Coff::imageSizeInBytes(const std::vector<WrittenSection> &sections,
                       std::uint64_t stringTblBytes) const {
  std::uint64_t imageSize = filehdr::sizeInBytes + opthdr::sizeInBytes +
                            scnhdr::sizeInBytes * sections.size() +
                            syment::sizeInBytes * cSymbolTbl.size() +
                            stringTblBytes;
  for (const WrittenSection &section : sections) {
    if (section.rawData != nullptr && !isUdata(*section.hdr))
      imageSize += section.rawData->size();
    imageSize +=
        section.relocs ? section.relocs->size() * reloc::sizeInBytes : 0;
    imageSize +=
        section.lines ? section.lines->size() * coff_lineno::sizeInBytes : 0;
  }
  return imageSize;
}

int Coff::write(std::FILE *file, long byteOffset) const {
  const std::vector<WrittenSection> sections = writtenSections();
  const std::uint64_t imageSize = imageSizeInBytes(sections, stringTblSize());
  ImageWriter out(file, cFileName, imageSize);
  if (imageSize > kMaxImageSizeInBytes)
    return out.fail(kBeyond32Bits);
  return writeImage(out, sections, &byteOffset);
}

int Coff::writeImage(ImageWriter &out,
                     const std::vector<WrittenSection> &sections,
                     const long *byteOffset) const {
  std::FILE *const file = out.file();
  // The headers hold 16-bit counts; more would give a file whose headers
  // disagree with its contents.
  if (sections.size() > 0xFFFF)
    return out.fail("' has too many sections.");
  for (const WrittenSection &section : sections) {
    const std::size_t relocs = section.relocs ? section.relocs->size() : 0;
    const std::size_t lines = section.lines ? section.lines->size() : 0;
    if (relocs > 0xFFFF || lines > 0xFFFF)
      return out.fail("', section '" + *section.name +
                      "' has too many relocation or line-number entries.");
  }
  if (byteOffset != nullptr &&
      (*byteOffset < 0 || std::fseek(file, *byteOffset, SEEK_SET) != 0))
    return out.fail("' could not write file header.");

  // The header goes out at once: a stream that takes no bytes at all is
  // told by its first block, as it would be without the buffer.
  if (!out.put(cFileHdr, "' could not write file header.") ||
      !out.flush("' could not write file header.") ||
      !out.put(cOptHdr, "' could not write optional file header."))
    return 0;
  for (const WrittenSection &section : sections)
    if (!out.put(*section.hdr, "' could not write section header."))
      return 0;
  for (const WrittenSection &section : sections) {
    const Data *raw = section.rawData;
    if (isUdata(*section.hdr) || raw == nullptr || raw->size() == 0)
      continue;
    if (!out.put(raw->bytes(), raw->size(), "' could not write raw data."))
      return 0;
  }
  for (const WrittenSection &section : sections)
    if (section.relocs != nullptr)
      for (const reloc &rel : *section.relocs)
        if (!out.put(rel, "' could not write reloc."))
          return 0;
  for (const WrittenSection &section : sections)
    if (section.lines != nullptr)
      for (const coff_lineno &line : *section.lines)
        if (!out.put(line, "' could not write lineinfo."))
          return 0;
  for (const syment &sym : cSymbolTbl)
    if (!out.put(sym, "' could not write symbol."))
      return 0;
  // The strings are laid side by side on all threads, each run of the
  // table at its own place, then written as one block.
  const StringRuns runs = intKeySlices(cStringTbl);
  const std::vector<std::uint64_t> runBytes = stringRunBytes(runs);
  std::vector<std::uint64_t> runStart(runBytes.size() + 1, 0);
  for (std::size_t run = 0; run < runBytes.size(); ++run)
    runStart[run + 1] = runStart[run] + runBytes[run];
  std::uint8_t *length = out.room(4, "' could not write string table length.");
  if (length == nullptr)
    return 0;
  writeLE32(length, static_cast<std::uint32_t>(4 + runStart.back()));
  std::vector<std::uint8_t> strings(static_cast<std::size_t>(runStart.back()));
  forEachRun(runBytes.size(), [&](std::size_t run) {
    std::uint8_t *to = strings.data() + runStart[run];
    for (auto at = runs[run]; at != runs[run + 1]; ++at) {
      to = std::copy(at->second.begin(), at->second.end(), to);
      *to++ = 0;
    }
  });
  if (!out.put(strings.data(), strings.size(), "' could not write string.") ||
      !out.flush("' could not write string."))
    return 0;
  if (std::fflush(file) != 0)
    return out.fail("' could not write string.");
  return 1;
}

int Coff::write() const {
  // Refused before the file is touched.
  const std::vector<WrittenSection> sections = writtenSections();
  const std::uint64_t imageSize = imageSizeInBytes(sections, stringTblSize());
  if (imageSize > kMaxImageSizeInBytes) {
    report(MessageKind::Error, "Coff::write()",
           "Coff file '" + cFileName + kBeyond32Bits, 0);
    return 0;
  }
  SafeOutputFile file(cFileName);
  if (!file.open()) {
    report(MessageKind::Error, "Coff::write()",
           "Could not open Coff file '" + cFileName + "' for writing.", 0);
    return 0;
  }
  ImageWriter out(file.stream(), cFileName, imageSize);
  // A new file stands at its start, and a FIFO or device written in place
  // cannot be positioned at all.
  if (writeImage(out, sections, nullptr) == 0)
    return 0; // the temporary goes with the SafeOutputFile
  if (!file.commit()) {
    report(MessageKind::Error, "Coff::write()",
           "Could not write Coff file '" + cFileName + "'.", 0);
    return 0;
  }
  return 1;
}
