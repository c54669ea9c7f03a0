// Laying a Coff out as a file and writing it. The layout and the writer
// walk the same list of sections (writtenSections), so the counts in the
// headers always describe the bytes that are written.
#include "Coff.h"

#include "ByteOrder.h"
#include "Messages.h"
#include "SafeFile.h"
#include "TextUtil.h"
#include "Trace.h"

#include <algorithm>
#include <climits>
#include <ctime>
#include <iostream>
#include <sstream>
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

template <class Map>
std::size_t countIn(const Map &map, const std::string &name) {
  auto found = map.find(name);
  return found == map.end() ? 0 : found->second.size();
}

std::uint32_t contentsSize(const std::map<std::string, Data> &rawData,
                           const std::string &name) {
  auto found = rawData.find(name);
  return found == rawData.end() ? 0 : found->second.size();
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
  sections.reserve(cScnNum.size());
  for (const auto &number : cScnNum) {
    auto hdr = cScnHdr.find(number.second);
    if (hdr == cScnHdr.end())
      continue;
    WrittenSection section{&hdr->first, &hdr->second, nullptr, nullptr,
                           nullptr};
    auto raw = cRawData.find(number.second);
    if (raw != cRawData.end())
      section.rawData = &raw->second;
    auto relocs = cReloc.find(number.second);
    if (relocs != cReloc.end())
      section.relocs = &relocs->second;
    auto lines = cLineNum.find(number.second);
    if (lines != cLineNum.end())
      section.lines = &lines->second;
    sections.push_back(section);
  }
  return sections;
}

std::uint32_t Coff::stringTblSize() const {
  std::uint64_t length = 4;
  for (const auto &entry : cStringTbl)
    length += entry.second.size() + 1;
  return static_cast<std::uint32_t>(length);
}

Coff::Layout Coff::computeLayout(bool withSectionHeaders) const {
  Layout layout;
  // The sections writtenSections() gives, without copying their names.
  std::vector<std::map<std::string, scnhdr>::const_iterator> written;
  written.reserve(cScnNum.size());
  std::uint64_t relocCount = 0;
  std::uint64_t lineCount = 0;
  for (const auto &number : cScnNum) {
    const std::string &name = number.second;
    auto hdr = cScnHdr.find(name);
    if (hdr == cScnHdr.end())
      continue;
    written.push_back(hdr);
    if (!isUdata(hdr->second))
      layout.rawDataLength += contentsSize(cRawData, name);
    relocCount += countIn(cReloc, name);
    lineCount += countIn(cLineNum, name);
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
  for (auto at : written) {
    const std::string &name = at->first;
    scnhdr hdr = at->second;
    hdr.s_size = contentsSize(cRawData, name);
    bool udata = isUdata(hdr);
    hdr.s_scnptr =
        udata || hdr.s_size == 0 ? 0 : static_cast<std::uint32_t>(rawPtr);
    if (!udata)
      rawPtr += hdr.s_size;
    std::size_t relocs = countIn(cReloc, name);
    hdr.s_nreloc = static_cast<std::uint16_t>(relocs);
    hdr.s_relptr = relocs == 0 ? 0 : static_cast<std::uint32_t>(relocPtr);
    relocPtr += reloc::sizeInBytes * relocs;
    std::size_t lines = countIn(cLineNum, name);
    hdr.s_nlnno = static_cast<std::uint16_t>(lines);
    hdr.s_lnnoptr = lines == 0 ? 0 : static_cast<std::uint32_t>(linePtr);
    linePtr += coff_lineno::sizeInBytes * lines;
    layout.headers.push_back({at, hdr});
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

namespace {

// Writes one block of the image and names the step when it fails.
class BlockWriter {
public:
  BlockWriter(std::FILE *file, const std::string &name)
      : cFile(file), cName(name) {}

  bool put(const std::vector<std::uint8_t> &bytes, const char *what) {
    return put(bytes.data(), bytes.size(), what);
  }
  bool put(const std::uint8_t *bytes, std::size_t size, const char *what) {
    if (size == 0 || std::fwrite(bytes, 1, size, cFile) == size)
      return true;
    return fail(what);
  }

  bool fail(const std::string &what) {
    std::ostringstream text;
    text << "Coff file '" << cName << what;
    reportStream(MessageKind::Error, "Coff::write()", text, 0);
    return false;
  }

private:
  std::FILE *cFile;
  const std::string &cName;
};

template <class Record>
void appendRecord(std::vector<std::uint8_t> &out, const Record &rec) {
  std::size_t at = out.size();
  out.resize(at + Record::sizeInBytes);
  rec.encode(out.data() + at);
}

} // namespace

int Coff::write(std::FILE *file, long byteOffset) const {
  BlockWriter out(file, cFileName);
  const std::vector<WrittenSection> sections = writtenSections();
  // The headers hold 16-bit counts; more would give a file whose headers
  // disagree with its contents.
  if (sections.size() > 0xFFFF)
    return out.fail("' has too many sections.");
  std::size_t relocCount = 0;
  std::size_t lineCount = 0;
  for (const WrittenSection &section : sections) {
    const std::size_t relocs = section.relocs ? section.relocs->size() : 0;
    const std::size_t lines = section.lines ? section.lines->size() : 0;
    if (relocs > 0xFFFF || lines > 0xFFFF)
      return out.fail("', section '" + *section.name +
                      "' has too many relocation or line-number entries.");
    relocCount += relocs;
    lineCount += lines;
  }
  if (byteOffset < 0 || std::fseek(file, byteOffset, SEEK_SET) != 0)
    return out.fail("' could not write file header.");

  // One buffer, grown once to the largest block: a large output would
  // otherwise fill fresh memory at every doubling.
  std::vector<std::uint8_t> block;
  block.reserve(std::max(
      {std::size_t{filehdr::sizeInBytes}, scnhdr::sizeInBytes * sections.size(),
       reloc::sizeInBytes * relocCount, coff_lineno::sizeInBytes * lineCount,
       syment::sizeInBytes * cSymbolTbl.size(), std::size_t{stringTblSize()}}));
  appendRecord(block, cFileHdr);
  if (!out.put(block, "' could not write file header."))
    return 0;
  block.clear();
  appendRecord(block, cOptHdr);
  if (!out.put(block, "' could not write optional file header."))
    return 0;
  block.clear();
  for (const WrittenSection &section : sections)
    appendRecord(block, *section.hdr);
  if (!out.put(block, "' could not write section header."))
    return 0;
  for (const WrittenSection &section : sections) {
    const Data *raw = section.rawData;
    if (isUdata(*section.hdr) || raw == nullptr || raw->size() == 0)
      continue;
    if (!out.put(raw->bytes(), raw->size(), "' could not write raw data."))
      return 0;
  }
  block.clear();
  for (const WrittenSection &section : sections)
    if (section.relocs != nullptr)
      for (const reloc &rel : *section.relocs)
        appendRecord(block, rel);
  if (!out.put(block, "' could not write reloc."))
    return 0;
  block.clear();
  for (const WrittenSection &section : sections)
    if (section.lines != nullptr)
      for (const coff_lineno &line : *section.lines)
        appendRecord(block, line);
  if (!out.put(block, "' could not write lineinfo."))
    return 0;
  block.clear();
  for (const syment &sym : cSymbolTbl)
    appendRecord(block, sym);
  if (!out.put(block, "' could not write symbol."))
    return 0;
  block.assign(4, 0);
  writeLE32(block.data(), stringTblSize());
  if (!out.put(block, "' could not write string table length."))
    return 0;
  block.clear();
  for (const auto &entry : cStringTbl) {
    block.insert(block.end(), entry.second.begin(), entry.second.end());
    block.push_back(0);
  }
  if (!out.put(block, "' could not write string."))
    return 0;
  if (std::fflush(file) != 0)
    return out.fail("' could not write string.");
  return 1;
}

int Coff::write() const {
  SafeOutputFile file(cFileName);
  if (!file.open()) {
    report(MessageKind::Error, "Coff::write()",
           "Could not open Coff file '" + cFileName + "' for writing.", 0);
    return 0;
  }
  if (write(file.stream(), 0) == 0)
    return 0; // the temporary goes with the SafeOutputFile
  if (!file.commit()) {
    report(MessageKind::Error, "Coff::write()",
           "Could not write Coff file '" + cFileName + "'.", 0);
    return 0;
  }
  return 1;
}
