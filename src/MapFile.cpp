#include "MapFile.h"

#include "Banner.h"
#include "Coff.h"
#include "Messages.h"
#include "SafeFile.h"
#include "TextUtil.h"
#include "Trace.h"
#include "linker/TextSortKey.h"
#include "mgproc/Processor.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <iostream>
#include <map>
#include <string_view>
#include <vector>

namespace {

const char *const kTrace = "MapFile::write";
const char *const kRule = "---------";

__attribute__((format(printf, 1, 2))) std::string format(const char *pattern,
                                                         ...) {
  std::va_list args;
  va_start(args, pattern);
  std::va_list again;
  va_copy(again, args);
  // One pass for the usual short line; a second only for a longer one.
  char line[256];
  const int length = std::vsnprintf(line, sizeof line, pattern, args);
  va_end(args);
  std::string text;
  if (length > 0 && static_cast<std::size_t>(length) < sizeof line) {
    text.assign(line, static_cast<std::size_t>(length));
  } else if (length > 0) {
    std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), pattern, again);
    text.assign(buffer.data(), static_cast<std::size_t>(length));
  }
  va_end(again);
  return text;
}

std::string hex6(std::uint32_t value) { return hexText(value, 3); }

// printf's "%*s" without a printf per field: the section table has
// several fields on each of thousands of rows. The text ends
// at its first NUL, as with "%s".
void appendRight(std::string &out, const char *text, std::size_t width) {
  const std::size_t length = std::strlen(text);
  if (length < width)
    out.append(width - length, ' ');
  out.append(text, length);
}

// "0x" and six lower-case hex digits (hexText with three bytes), appended
// right-aligned in a field of width.
void appendHex6(std::string &out, std::uint32_t value, std::size_t width) {
  static const char digits[] = "0123456789abcdef";
  char text[9];
  text[0] = '0';
  text[1] = 'x';
  std::uint32_t rest = value & 0xFFFFFFu;
  for (int i = 7; i >= 2; --i, rest >>= 4)
    text[i] = digits[rest & 0xF];
  text[8] = '\0';
  appendRight(out, text, width);
}

// One row written in place: its room is made once, then each field is
// copied or padded into it (what appendRight and appendLeft do, without an
// append per field).
class RowWriter {
public:
  RowWriter(std::string &out, std::size_t maxBytes)
      : cOut(out), cStart(out.size()) {
    out.resize(cStart + maxBytes);
    cAt = &out[cStart];
  }
  ~RowWriter() { cOut.resize(static_cast<std::size_t>(cAt - cOut.data())); }
  RowWriter(const RowWriter &) = delete;
  RowWriter &operator=(const RowWriter &) = delete;

  void right(const char *text, std::size_t length, std::size_t width) {
    pad(width, length);
    copy(text, length);
  }
  void left(const char *text, std::size_t length, std::size_t width) {
    copy(text, length);
    pad(width, length);
  }
  void hex6(std::uint32_t value, std::size_t width) {
    static const char digits[] = "0123456789abcdef";
    pad(width, 8);
    *cAt++ = '0';
    *cAt++ = 'x';
    for (int shift = 20; shift >= 0; shift -= 4)
      *cAt++ = digits[(value >> shift) & 0xF];
  }
  void put(char c) { *cAt++ = c; }

private:
  void pad(std::size_t width, std::size_t length) {
    if (length < width) {
      std::memset(cAt, ' ', width - length);
      cAt += width - length;
    }
  }
  void copy(const char *text, std::size_t length) {
    std::memcpy(cAt, text, length);
    cAt += length;
  }

  std::string &cOut;
  std::size_t cStart;
  char *cAt;
};

// The text of a map file as it is made. With a file, the text goes out in
// pieces of about kPieceBytes: a large map never sits in memory whole.
struct MapOut {
  static constexpr std::size_t kPieceBytes = 256 * 1024;
  std::string text;
  SafeOutputFile *file = nullptr;

  void endRow() {
    if (file != nullptr && text.size() >= kPieceBytes)
      flush();
  }
  void flush() {
    file->write(text);
    text.clear();
  }
};

bool isDataType(std::uint8_t type) {
  return type == kScnTypeIdata || type == kScnTypeUdata;
}

// Bytes of one program address: from the processor named by the output,
// or from its program word width when the code names none we know.
std::uint32_t bytesPerProgramAddress(const Coff &output) {
  const std::uint32_t code = output.cOptHdr.proc_type;
  std::uint32_t bits = output.cOptHdr.rom_width_bits;
  if (code <= 0xFFFF && isKnownProcCode(static_cast<std::uint16_t>(code)))
    bits = addrUnitBits(procFromCode(static_cast<std::uint16_t>(code)));
  const std::uint32_t bytes = (bits + 7) / 8;
  return bytes == 0 ? 1 : bytes;
}

struct SectionLists {
  std::vector<SectionInfo> program;
  std::vector<SectionInfo> data;
};

SectionLists collectSections(const Coff &output) {
  SectionLists lists;
  for (const auto &number : output.cScnNum) {
    const auto hdr = output.cScnHdr.find(number.second);
    if (hdr == output.cScnHdr.end())
      continue;
    const std::uint8_t type = Coff::scnType(hdr->second);
    const std::uint8_t location = isDataType(type) ? 1 : 0;
    const std::uint32_t flags = hdr->second.s_flags;
    SectionInfo info(number.second, hdr->second.s_paddr, hdr->second.s_size,
                     location, type, (flags & kScnAbsolute) != 0,
                     (flags & kScnShared) != 0, (flags & kScnAccess) != 0);
    (location == 0 ? lists.program : lists.data).push_back(info);
  }
  std::stable_sort(lists.program.begin(), lists.program.end(), sectionInfoLess);
  std::stable_sort(lists.data.begin(), lists.data.end(), sectionInfoLess);
  return lists;
}

void writeSectionTable(MapOut &out, const SectionLists &lists) {
  const char *const row = "%25s %10s %10s %10s %10s\n";
  out.text += "\n                                 Section Info\n";
  out.text +=
      format(row, "Section", "Type", "Address", "Location", "Size(Bytes)");
  out.text += format(row, kRule, kRule, kRule, kRule, kRule);
  for (const auto *list : {&lists.program, &lists.data})
    for (const SectionInfo &info : *list) {
      appendRight(out.text, info.cName.c_str(), 25);
      out.text += ' ';
      appendRight(out.text, sectionTypeName(info.cType).c_str(), 10);
      out.text += ' ';
      appendHex6(out.text, info.cAddress, 10);
      out.text += ' ';
      appendRight(out.text, locationName(info.cLocation).c_str(), 10);
      out.text += ' ';
      appendHex6(out.text, info.cSize, 10);
      out.text += '\n';
      out.endRow();
    }
}

void writeUsageTable(MapOut &out, const std::vector<SectionInfo> &program,
                     std::uint32_t bytesPerAddress,
                     std::uint32_t programAddressCount) {
  const char *const row = "                          %10s  %10s      \n";
  out.text += "\n\n";
  out.text += "\n                              Program Memory Usage \n";
  out.text += format(row, "Start", "End");
  out.text += format(row, kRule, kRule);

  std::uint64_t total = 0;
  bool open = false;
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  auto writeRun = [&]() {
    out.text += format(row, hex6(static_cast<std::uint32_t>(start)).c_str(),
                       hex6(static_cast<std::uint32_t>(end)).c_str());
    out.endRow();
  };
  for (const SectionInfo &info : program) {
    const std::uint64_t units =
        (std::uint64_t{info.cSize} + bytesPerAddress - 1) / bytesPerAddress;
    total += units;
    if (units == 0)
      continue;
    if (open && info.cAddress == end + 1) {
      end += units;
      continue;
    }
    if (open)
      writeRun();
    open = true;
    start = info.cAddress;
    end = info.cAddress + units - 1;
  }
  // Without any used program address there is no run to show.
  if (open)
    writeRun();

  const unsigned percent =
      programAddressCount != 0 && total < programAddressCount
          ? static_cast<unsigned>(total * 100 / programAddressCount)
          : 100u;
  out.text +=
      format("            %lu out of %lu program addresses used, program "
             "memory utilization is %u%%\n",
             static_cast<unsigned long>(total),
             static_cast<unsigned long>(programAddressCount), percent);
  out.text += "\n\n";
}

// One row of the symbol tables. The name points into the output (its
// string table or the symbol's inline name) and the file name into the
// list of every source file met, so a row copies no text.
struct SymbolRow {
  const char *name = nullptr;
  std::uint32_t nameLength = 0;
  std::uint32_t address = 0;
  std::uint64_t nameKeyHigh = 0; // the name's sort key (TextSortKey)
  std::uint64_t nameKeyLow = 0;
  std::uint8_t location = 0;     // 0 program, 1 data
  std::uint8_t storageClass = 0; // 0 extern, 1 static
  std::uint8_t kind = 0;         // 0 function, 1 variable
  const std::string *file = nullptr;

  std::string_view nameView() const { return {name, nameLength}; }
};

struct SymbolLists {
  std::deque<std::string> files; // every source file met, in order
  std::vector<SymbolRow> rows;
  // The rows of program memory, then of data memory, in the order shown.
  std::vector<const SymbolRow *> program;
  std::vector<const SymbolRow *> data;
};

std::uint8_t sectionTypeOf(const Coff &output, int number) {
  const auto name = output.cScnNum.find(number);
  if (name == output.cScnNum.end())
    return kScnTypeNone;
  const auto hdr = output.cScnHdr.find(name->second);
  return hdr == output.cScnHdr.end() ? kScnTypeNone
                                     : Coff::scnType(hdr->second);
}

bool isListedClass(std::uint8_t sclass) {
  return sclass == kClassExternal || sclass == kClassStatic ||
         sclass == kClassLabel;
}

// The output's string table as a flat array sorted by offset: every
// symbol's name is found in it, far more cheaply than in the tree.
class StringIndex {
public:
  explicit StringIndex(const std::map<int, std::string> &table) {
    cEntries.reserve(table.size());
    for (const auto &entry : table)
      cEntries.emplace_back(entry.first, &entry.second);
  }
  const std::string *find(std::uint32_t offset) const {
    // Offsets above INT_MAX cannot be keys of the table.
    if (offset > 0x7FFFFFFFu)
      return nullptr;
    const int key = static_cast<int>(offset);
    const auto found =
        std::lower_bound(cEntries.begin(), cEntries.end(), key,
                         [](const std::pair<int, const std::string *> &entry,
                            int k) { return entry.first < k; });
    return found != cEntries.end() && found->first == key ? found->second
                                                          : nullptr;
  }

private:
  std::vector<std::pair<int, const std::string *>> cEntries;
};

// A symbol's name as Coff::getName gives it, without copying it: in the
// string table or inline (up to the first NUL of its 8 bytes).
std::string_view symbolName(const syment &sym, const StringIndex &strings,
                            const Coff &output) {
  if (!sym.hasLongName()) {
    const void *nul = std::memchr(sym._n_name, 0, sizeof sym._n_name);
    return {sym._n_name,
            nul == nullptr ? sizeof sym._n_name
                           : static_cast<std::size_t>(
                                 static_cast<const char *>(nul) - sym._n_name)};
  }
  if (const std::string *name = strings.find(sym.nameOffset()))
    return *name;
  // A name the table lacks: the model reports it.
  Coff::getName(sym, output.cStringTbl);
  static const std::string none;
  return none;
}

void collectSymbols(const Coff &output, SymbolLists &lists) {
  // Each section's type once, not a name lookup per symbol; symbols name
  // sections by 16-bit numbers, so a flat array covers every one.
  constexpr int kNumbers = 0x8000;
  std::vector<std::uint8_t> sectionTypes(kNumbers, kScnTypeNone);
  for (const auto &number : output.cScnNum)
    if (number.first >= 0 && number.first < kNumbers)
      sectionTypes[static_cast<std::size_t>(number.first)] =
          sectionTypeOf(output, number.first);
  static const std::string noFile;
  const std::vector<syment> &table = output.cSymbolTbl;
  const StringIndex strings(output.cStringTbl);
  std::size_t listed = 0;
  for (std::size_t at = 0; at < table.size(); at += 1 + table[at].n_numaux)
    if (table[at].n_scnum >= 1 && isListedClass(table[at].n_sclass))
      ++listed;
  lists.rows.reserve(listed);
  std::vector<const std::string *> open; // the source files open here
  for (std::size_t at = 0; at < table.size(); at += 1 + table[at].n_numaux) {
    const syment &sym = table[at];
    const std::string_view name = symbolName(sym, strings, output);
    if (name == ".file") {
      // A ".file" without its file entry names nothing.
      if (sym.n_numaux >= 1 && at + 1 < table.size()) {
        lists.files.push_back(
            Coff::getName(readAux<aux_file>(table[at + 1]), output.cStringTbl));
        open.push_back(&lists.files.back());
      }
      continue;
    }
    if (name == ".eof") {
      if (!open.empty())
        open.pop_back();
      continue;
    }
    if (sym.n_scnum < 1 || !isListedClass(sym.n_sclass))
      continue;
    SymbolRow row;
    row.name = name.data();
    row.nameLength = static_cast<std::uint32_t>(name.size());
    const TextSortKey key(name);
    row.nameKeyHigh = key.high;
    row.nameKeyLow = key.low;
    row.address = sym.n_value;
    row.location =
        isDataType(sectionTypes[static_cast<std::size_t>(sym.n_scnum)]) ? 1 : 0;
    row.storageClass = sym.n_sclass == kClassExternal ? 0 : 1;
    row.kind = Coff::isFunction(sym) ? 0 : 1;
    row.file = open.empty() ? &noFile : open.back();
    lists.rows.push_back(row);
  }
  std::size_t programRows = 0;
  for (const SymbolRow &row : lists.rows)
    programRows += row.location == 0 ? 1 : 0;
  lists.program.reserve(programRows);
  lists.data.reserve(lists.rows.size() - programRows);
  for (const SymbolRow &row : lists.rows)
    (row.location == 0 ? lists.program : lists.data).push_back(&row);
}

void writeSymbolTable(MapOut &out, const char *title,
                      const SymbolLists &lists) {
  const char *const row = "%25s %10s %10s %10s %-25s\n";
  out.text += title;
  out.text += format(row, "Name", "Address", "Location", "Storage", "File");
  out.text += format(row, kRule, kRule, kRule, kRule, kRule);
  for (const auto *list : {&lists.program, &lists.data})
    for (const SymbolRow *info : *list) {
      // Texts end at their first NUL, as printf's "%s" would have them.
      const void *nul = std::memchr(info->name, 0, info->nameLength);
      const std::size_t nameLength =
          nul == nullptr ? info->nameLength
                         : static_cast<std::size_t>(
                               static_cast<const char *>(nul) - info->name);
      const std::size_t fileLength = std::strlen(info->file->c_str());
      const char *location = info->location == 0 ? "program" : "data";
      const char *storage = info->storageClass == 0 ? "extern" : "static";
      {
        RowWriter row(out.text, std::max<std::size_t>(nameLength, 25) +
                                    std::max<std::size_t>(fileLength, 25) +
                                    3 * 10 + 5);
        row.right(info->name, nameLength, 25);
        row.put(' ');
        row.hex6(info->address, 10);
        row.put(' ');
        row.right(location, std::strlen(location), 10);
        row.put(' ');
        row.right(storage, std::strlen(storage), 10);
        row.put(' ');
        row.left(info->file->c_str(), fileLength, 25);
        row.put('\n');
      }
      out.endRow();
    }
  out.text += "\n\n";
}

void sortSymbols(SymbolLists &lists,
                 bool (*less)(const SymbolRow *, const SymbolRow *)) {
  std::stable_sort(lists.program.begin(), lists.program.end(), less);
  std::stable_sort(lists.data.begin(), lists.data.end(), less);
}

bool rowNameLess(const SymbolRow *a, const SymbolRow *b) {
  if (a->nameKeyHigh != b->nameKeyHigh)
    return a->nameKeyHigh < b->nameKeyHigh;
  if (a->nameKeyLow != b->nameKeyLow)
    return a->nameKeyLow < b->nameKeyLow;
  return a->nameView() < b->nameView();
}

bool rowAddressLess(const SymbolRow *a, const SymbolRow *b) {
  return a->address < b->address;
}

void traceRows(const SectionLists &sections, const SymbolLists &symbols) {
  if (traceLevel(kTrace) == 0)
    return;
  for (const auto *list : {&sections.program, &sections.data})
    for (const SectionInfo &info : *list)
      info.print(std::cout);
  for (const auto *list : {&symbols.program, &symbols.data})
    for (const SymbolRow *row : *list)
      SymbolInfo(std::string(row->nameView()), row->address, row->location,
                 row->storageClass, row->kind, *row->file)
          .print(std::cout);
}

} // namespace

std::string sectionTypeName(std::uint8_t type) {
  switch (type) {
  case kScnTypeNone:
    return "unknown";
  case kScnTypeCode:
    return "code";
  case kScnTypeIdata:
    return "idata";
  case kScnTypeUdata:
    return "udata";
  case kScnTypeRomdata:
    return "romdata";
  default:
    return "";
  }
}

std::string locationName(std::uint8_t location) {
  return location == 0 ? "program" : location == 1 ? "data" : "";
}

std::string storageClassName(std::uint8_t storageClass) {
  return storageClass == 0 ? "extern" : storageClass == 1 ? "static" : "";
}

std::string symbolKindName(std::uint8_t kind) {
  return kind == 0 ? "function" : kind == 1 ? "variable" : "";
}

void SectionInfo::print(std::ostream &out) const {
  const char *types[] = {"unknown", "code", "idata", "udata", "romdata"};
  out << "SectionInfo:"
      << " cName=" << cName << " cAddress=" << cAddress << " cSize=" << cSize
      << " cLocation="
      << (cLocation == 0   ? "progMem"
          : cLocation == 1 ? "dataMem"
                           : "error!")
      << " cType=" << (cType <= 4 ? types[cType] : "error!")
      << " cAbs=" << (cAbs ? "absolute" : "relocated")
      << " cShared=" << (cShared ? "shared" : "not shared")
      << " cAccess=" << (cAccess ? "access" : "not access") << '\n';
}

void SymbolInfo::print(std::ostream &out) const {
  out << "SymbolInfo: "
      << "cName=" << cName << " cAddress=" << cAddress << " cLocation="
      << (cLocation == 0   ? "progMem"
          : cLocation == 1 ? "dataMem"
                           : "error!")
      << " cStorageClass="
      << (cStorageClass == 0   ? "ext"
          : cStorageClass == 1 ? "stat"
                               : "error!")
      << " cKind="
      << (cKind == 0   ? "function"
          : cKind == 1 ? "variable"
                       : "error!")
      << " cFile=" << cFile << '\n';
}

std::string mapFileTime() {
  const std::time_t now = std::time(nullptr);
  const char *text = std::ctime(&now);
  return text != nullptr ? text : "\n";
}

namespace {

void writeMap(MapOut &out, const Coff &output,
              std::uint32_t programAddressCount, const std::string &timeText) {
  const std::uint32_t bytesPerAddress = bytesPerProgramAddress(output);
  const SectionLists sections = collectSections(output);
  SymbolLists symbols;
  collectSymbols(output, symbols);
  out.text += linkerBanner();
  out.text += "\nLinker Map File - Created " + timeText;

  writeSectionTable(out, sections);
  writeUsageTable(out, sections.program, bytesPerAddress, programAddressCount);

  traceRows(sections, symbols);
  sortSymbols(symbols, rowNameLess);
  writeSymbolTable(out,
                   "\n                              Symbols - Sorted by Name\n",
                   symbols);
  sortSymbols(symbols, rowAddressLess);
  writeSymbolTable(
      out, "\n                              Symbols - Sorted by Address\n",
      symbols);
}

} // namespace

std::string MapFile::text(const Coff &output, std::uint32_t programAddressCount,
                          const std::string &timeText) {
  MapOut out;
  writeMap(out, output, programAddressCount, timeText);
  return std::move(out.text);
}

int MapFile::write(const std::string &name, const Coff &output,
                   std::uint32_t programAddressCount) {
  SafeOutputFile file(name);
  if (!file.open()) {
    report(MessageKind::Error, "MapFile::write()",
           "Could not open map file '" + name + "' for writing.", 0);
    return 0;
  }
  MapOut out;
  out.file = &file;
  // A whole piece and the longest usual row.
  out.text.reserve(MapOut::kPieceBytes + 4096);
  writeMap(out, output, programAddressCount, mapFileTime());
  out.flush();
  if (!file.commit()) {
    report(MessageKind::Error, "MapFile::write()",
           "Could not write map file '" + name + "'.", 0);
    return 0;
  }
  return 1;
}
