#include "MapFile.h"

#include "Banner.h"
#include "Coff.h"
#include "IntKeyIndex.h"
#include "Messages.h"
#include "ParallelWork.h"
#include "SafeFile.h"
#include "SectionNameIndex.h"
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
  // A block of made text, written as it is when there is a file.
  void add(const char *bytes, std::size_t size) {
    if (file == nullptr) {
      text.append(bytes, size);
      return;
    }
    flush();
    // In slices the size of a piece: the system copies a large block more
    // slowly than the same bytes in cache-sized writes.
    for (std::size_t at = 0; at < size; at += kPieceBytes)
      file->write(bytes + at, std::min(kPieceBytes, size - at));
  }
};

// Work over many rows goes to the threads in this many slices.
constexpr std::size_t kSlices = 64;

// The first of count rows in a slice.
std::size_t sliceFirst(std::size_t count, std::size_t slice) {
  return count * slice / kSlices;
}

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
  // The type of each section number a symbol can name (numbers are 16
  // bits): looked up once here, not per symbol.
  std::vector<std::uint8_t> typeOfNumber;
};

// Address ascending, equal addresses in their order (sectionInfoLess,
// stably): sorted as packed address and position, so no row moves more
// than once.
void sortByAddress(std::vector<SectionInfo> &infos) {
  std::vector<std::uint64_t> keys(infos.size());
  for (std::size_t i = 0; i < infos.size(); ++i)
    keys[i] = std::uint64_t{infos[i].cAddress} << 32 | i;
  if (std::is_sorted(keys.begin(), keys.end()))
    return;
  std::sort(keys.begin(), keys.end());
  std::vector<SectionInfo> sorted;
  sorted.reserve(infos.size());
  for (const std::uint64_t key : keys)
    sorted.push_back(std::move(infos[static_cast<std::uint32_t>(key)]));
  infos.swap(sorted);
}

SectionLists collectSections(const Coff &output) {
  constexpr int kNumbers = 0x8000;
  SectionLists lists;
  lists.typeOfNumber.assign(kNumbers, kScnTypeNone);
  const SectionNameIndex headers(output.cScnHdr);
  for (const auto &number : output.cScnNum) {
    const std::size_t position = headers.find(number.second);
    if (position == SectionNameIndex::npos)
      continue;
    const scnhdr &hdr = headers.at(position)->second;
    const std::uint8_t type = Coff::scnType(hdr);
    if (number.first >= 0 && number.first < kNumbers)
      lists.typeOfNumber[static_cast<std::size_t>(number.first)] = type;
    const std::uint8_t location = isDataType(type) ? 1 : 0;
    const std::uint32_t flags = hdr.s_flags;
    SectionInfo info(number.second, hdr.s_paddr, hdr.s_size, location, type,
                     (flags & kScnAbsolute) != 0, (flags & kScnShared) != 0,
                     (flags & kScnAccess) != 0);
    (location == 0 ? lists.program : lists.data).push_back(info);
  }
  sortByAddress(lists.program);
  sortByAddress(lists.data);
  return lists;
}

constexpr char kHexDigits[] = "0123456789abcdef";

// A row of the section table after its name: four fields of 10, each after
// a space, and the line end.
constexpr std::size_t kSectionRestBytes = 4 * 11 + 1;

// sectionTypeName right-aligned in 10.
const char *paddedTypeName(std::uint8_t type) {
  switch (type) {
  case kScnTypeNone:
    return "   unknown";
  case kScnTypeCode:
    return "      code";
  case kScnTypeIdata:
    return "     idata";
  case kScnTypeUdata:
    return "     udata";
  case kScnTypeRomdata:
    return "   romdata";
  default:
    return "          ";
  }
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
      // The other columns have fixed widths: made in place, then added.
      char rest[kSectionRestBytes];
      char *to = rest;
      auto put = [&](const char *text) {
        *to++ = ' ';
        std::memcpy(to, text, 10);
        to += 10;
      };
      auto putHex6 = [&](std::uint32_t value) {
        put("  0x000000");
        for (char *digit = to - 1; digit > to - 7; --digit, value >>= 4)
          *digit = kHexDigits[value & 0xF];
      };
      put(paddedTypeName(info.cType));
      putHex6(info.cAddress);
      put(info.cLocation == 0 ? "   program" : "      data");
      putHex6(info.cSize);
      *to = '\n';
      out.text.append(rest, sizeof rest);
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
// string table or the symbol's inline name) and the file is one of
// SymbolLists::files, so a row copies no text and stays small: there are
// many of them.
struct SymbolRow {
  const char *name = nullptr;
  std::uint32_t nameLength = 0;
  std::uint32_t shownLength = 0; // up to a first NUL, as "%s" shows it
  std::uint32_t file = 0;        // position in SymbolLists::files
  std::uint32_t address = 0;
  std::uint16_t section = 0;     // its number
  std::uint8_t location = 0;     // 0 program, 1 data
  std::uint8_t storageClass = 0; // 0 extern, 1 static
  std::uint8_t kind = 0;         // 0 function, 1 variable

  std::string_view nameView() const { return {name, nameLength}; }
};

// A source file's name, and its length up to a first NUL: shown, texts end
// there, as printf's "%s" would have them.
struct FileText {
  const std::string *name;
  std::uint32_t shownLength;
};

std::uint32_t lengthToNul(const char *text, std::size_t length) {
  const void *nul = std::memchr(text, 0, length);
  return static_cast<std::uint32_t>(
      nul == nullptr ? length : static_cast<const char *>(nul) - text);
}

struct SymbolLists {
  // The rows in table order: part after part, each made on a thread.
  std::vector<std::vector<SymbolRow>> parts;
  // Every source file met (the first: none), and the names made when the
  // table lacked them.
  std::vector<FileText> files;
  std::deque<std::string> madeNames;
  // The rows shown: those of program memory, then those of data memory,
  // each in table order.
  std::vector<const SymbolRow *> shown;
  std::size_t programCount = 0;
};

bool isListedClass(std::uint8_t sclass) {
  return sclass == kClassExternal || sclass == kClassStatic ||
         sclass == kClassLabel;
}

using StringIndex = IntKeyIndex<std::string>;

// A symbol's name as Coff::getName gives it, without copying it: in the
// string table or inline (up to the first NUL of its 8 bytes). False when
// the table lacks a long name.
bool symbolName(const syment &sym, const StringIndex &strings,
                std::string_view &name) {
  if (!sym.hasLongName()) {
    name = {sym._n_name, lengthToNul(sym._n_name, sizeof sym._n_name)};
    return true;
  }
  const std::string *found = strings.find(sym.nameOffset());
  name = found != nullptr ? std::string_view(*found) : std::string_view();
  return found != nullptr;
}

// A ".file" entry's file name; null after a failed look-up (reported).
const std::string *fileName(const Coff &output, std::size_t at,
                            const StringIndex &strings, SymbolLists &lists) {
  const aux_file aux = readAux<aux_file>(output.cSymbolTbl[at + 1]);
  if (const std::string *name = strings.find(aux.x_offset))
    return name;
  lists.madeNames.push_back(Coff::getName(aux, output.cStringTbl)); // reports
  return &lists.madeNames.back();
}

// A row of the symbol table made from its entry, without its file.
SymbolRow makeRow(const syment &sym, std::string_view name) {
  SymbolRow row;
  row.name = name.data();
  row.nameLength = static_cast<std::uint32_t>(name.size());
  row.shownLength = lengthToNul(name.data(), name.size());
  row.address = sym.n_value;
  row.section = static_cast<std::uint16_t>(sym.n_scnum);
  row.storageClass = sym.n_sclass == kClassExternal ? 0 : 1;
  row.kind = Coff::isFunction(sym) ? 0 : 1;
  return row;
}

// The rows of the symbol table in table order, and their files; their
// memory is set by placeRows. Reports what Coff::getName reports.
void collectSymbolsInOrder(const Coff &output, const StringIndex &strings,
                           SymbolLists &lists) {
  static const std::string noFile;
  const std::vector<syment> &table = output.cSymbolTbl;
  lists.files.push_back({&noFile, 0});
  lists.parts.emplace_back();
  std::vector<SymbolRow> &rows = lists.parts.back();
  // Room for every row: only the rows made touch it.
  rows.reserve(table.size());
  std::vector<std::uint32_t> open; // the source files open here
  for (std::size_t at = 0; at < table.size(); at += 1 + table[at].n_numaux) {
    const syment &sym = table[at];
    std::string_view name;
    if (!symbolName(sym, strings, name))
      Coff::getName(sym, output.cStringTbl); // reports
    if (name == ".file") {
      // A ".file" without its file entry names nothing.
      if (sym.n_numaux >= 1 && at + 1 < table.size()) {
        const std::string *file = fileName(output, at, strings, lists);
        open.push_back(static_cast<std::uint32_t>(lists.files.size()));
        lists.files.push_back({file, lengthToNul(file->c_str(), file->size())});
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
    SymbolRow row = makeRow(sym, name);
    row.file = open.empty() ? 0 : open.back();
    rows.push_back(row);
  }
}

// The same rows, made on all threads: the table is cut at entry starts,
// each slice makes its rows and notes where source files open and close,
// and a walk over those few notes then gives every row its file. False,
// with lists untouched, when a name is missing: the walk in order then
// reports it.
bool collectSymbolsInParallel(const Coff &output, const StringIndex &strings,
                              SymbolLists &lists) {
  static const std::string noFile;
  const std::vector<syment> &table = output.cSymbolTbl;
  // Entry starts are known only by walking from the first, which reads
  // one byte per entry.
  const std::size_t sliceEntries = table.size() / kSlices + 1;
  std::vector<std::size_t> firsts;
  std::size_t entries = 0;
  for (std::size_t at = 0; at < table.size(); at += 1 + table[at].n_numaux)
    if (entries++ % sliceEntries == 0)
      firsts.push_back(at);
  firsts.push_back(table.size());
  struct Note {
    std::size_t rowsBefore;  // of its slice
    const std::string *file; // null: an ".eof"
    std::uint32_t top = 0;   // the innermost open file after it
  };
  struct Slice {
    std::vector<SymbolRow> rows;
    std::vector<Note> notes;
    std::uint32_t top = 0; // the innermost open file at its start
    bool named = true;
  };
  // Room for every row of a slice, made here: memory taken on the threads
  // grows their heaps, which stalls every thread a while.
  std::vector<Slice> slices(firsts.size() - 1);
  for (std::size_t at = 0; at < slices.size(); ++at)
    slices[at].rows.reserve(firsts[at + 1] - firsts[at]);
  forEachLargeInParallel(slices.size(), [&](std::size_t at) {
    Slice &slice = slices[at];
    for (std::size_t i = firsts[at]; i < firsts[at + 1];
         i += 1 + table[i].n_numaux) {
      const syment &sym = table[i];
      std::string_view name;
      if (!symbolName(sym, strings, name)) {
        slice.named = false;
        return;
      }
      if (name == ".file") {
        if (sym.n_numaux >= 1 && i + 1 < table.size()) {
          const aux_file aux = readAux<aux_file>(table[i + 1]);
          const std::string *file = strings.find(aux.x_offset);
          if (file == nullptr) {
            slice.named = false;
            return;
          }
          slice.notes.push_back({slice.rows.size(), file});
        }
        continue;
      }
      if (name == ".eof") {
        slice.notes.push_back({slice.rows.size(), nullptr});
        continue;
      }
      if (sym.n_scnum < 1 || !isListedClass(sym.n_sclass))
        continue;
      slice.rows.push_back(makeRow(sym, name));
    }
  });
  for (const Slice &slice : slices)
    if (!slice.named)
      return false;
  lists.files.push_back({&noFile, 0});
  std::vector<std::uint32_t> open;
  for (Slice &slice : slices) {
    slice.top = open.empty() ? 0 : open.back();
    for (Note &note : slice.notes) {
      if (note.file != nullptr) {
        open.push_back(static_cast<std::uint32_t>(lists.files.size()));
        lists.files.push_back(
            {note.file, lengthToNul(note.file->c_str(), note.file->size())});
      } else if (!open.empty()) {
        open.pop_back();
      }
      note.top = open.empty() ? 0 : open.back();
    }
  }
  forEachLargeInParallel(slices.size(), [&](std::size_t at) {
    Slice &slice = slices[at];
    std::uint32_t top = slice.top;
    auto note = slice.notes.begin();
    for (std::size_t row = 0; row < slice.rows.size(); ++row) {
      for (; note != slice.notes.end() && note->rowsBefore <= row; ++note)
        top = note->top;
      slice.rows[row].file = top;
    }
  });
  lists.parts.reserve(slices.size());
  for (Slice &slice : slices)
    lists.parts.push_back(std::move(slice.rows));
  return true;
}

void collectSymbols(const Coff &output, SymbolLists &lists) {
  const StringIndex strings(output.cStringTbl);
  // A small table is not worth waking the threads for.
  if (output.cSymbolTbl.size() >= 16384 &&
      collectSymbolsInParallel(output, strings, lists))
    return;
  collectSymbolsInOrder(output, strings, lists);
}

// Sets each row's memory from its section's type, and the rows shown.
void placeRows(const std::vector<std::uint8_t> &sectionTypes,
               SymbolLists &lists) {
  std::size_t programCount = 0;
  std::size_t count = 0;
  for (std::vector<SymbolRow> &part : lists.parts)
    for (SymbolRow &row : part) {
      row.location = isDataType(sectionTypes[row.section]) ? 1 : 0;
      programCount += row.location == 0 ? 1 : 0;
      ++count;
    }
  lists.programCount = programCount;
  lists.shown.resize(count);
  std::size_t program = 0;
  std::size_t data = programCount;
  for (const std::vector<SymbolRow> &part : lists.parts)
    for (const SymbolRow &row : part)
      lists.shown[row.location == 0 ? program++ : data++] = &row;
}

// The rows shown in the order of a table: positions into SymbolLists::shown.
using RowOrder = std::vector<std::uint32_t>;

// What the name sort moves: the name's first bytes as a key, its length
// and its position in SymbolLists::shown. Small entries first: most tables
// have fewer than 2^24 rows, and the less memory the sort needs, the less
// it costs.
struct ShortNameEntry {
  static constexpr std::uint32_t kKeyBytes = 12;
  static constexpr std::size_t kMaxRows = std::size_t{1} << 24;
  std::uint64_t high;
  std::uint32_t next;
  std::uint32_t lengthAndPosition; // length (at most 255) in the top byte

  ShortNameEntry() = default;
  ShortNameEntry(const TextSortKey &key, std::size_t length,
                 std::size_t position)
      : high(key.high), next(static_cast<std::uint32_t>(key.low >> 32)),
        lengthAndPosition(static_cast<std::uint32_t>(
            std::min<std::size_t>(length, 255) << 24 | position)) {}
  bool keyLess(const ShortNameEntry &other) const {
    return high != other.high ? high < other.high : next < other.next;
  }
  bool keyEqual(const ShortNameEntry &other) const {
    return high == other.high && next == other.next;
  }
  std::uint32_t length() const { return lengthAndPosition >> 24; }
  std::uint32_t position() const { return lengthAndPosition & 0xFFFFFF; }
};

struct LongNameEntry {
  static constexpr std::uint32_t kKeyBytes = 16;
  std::uint64_t high;
  std::uint64_t low;
  std::uint32_t nameLength;
  std::uint32_t rowPosition;

  LongNameEntry() = default;
  LongNameEntry(const TextSortKey &key, std::size_t length,
                std::size_t position)
      : high(key.high), low(key.low),
        nameLength(static_cast<std::uint32_t>(length)),
        rowPosition(static_cast<std::uint32_t>(position)) {}
  bool keyLess(const LongNameEntry &other) const {
    return high != other.high ? high < other.high : low < other.low;
  }
  bool keyEqual(const LongNameEntry &other) const {
    return high == other.high && low == other.low;
  }
  std::uint32_t length() const { return nameLength; }
  std::uint32_t position() const { return rowPosition; }
};

template <class Entry> RowOrder sortedByName(const SymbolLists &lists) {
  const auto &shown = lists.shown;
  // Program rows, then data rows: each part sorted on its own.
  std::vector<Entry> parts[2];
  parts[0].resize(lists.programCount);
  parts[1].resize(shown.size() - lists.programCount);
  forEachLargeInParallel(kSlices, [&](std::size_t slice) {
    for (std::size_t i = sliceFirst(shown.size(), slice);
         i < sliceFirst(shown.size(), slice + 1); ++i) {
      const bool isData = i >= lists.programCount;
      parts[isData][i - (isData ? lists.programCount : 0)] =
          Entry(TextSortKey(shown[i]->nameView()), shown[i]->nameLength, i);
    }
  });
  // The keys order all names but those with equal first bytes; two of the
  // same length within the key are then the same name. The position makes
  // the order total, so any sort gives the one stable order.
  auto less = [&](const Entry &a, const Entry &b) {
    if (!a.keyEqual(b))
      return a.keyLess(b);
    if (a.length() != b.length() || a.length() > Entry::kKeyBytes) {
      const std::string_view aName = shown[a.position()]->nameView();
      const std::string_view bName = shown[b.position()]->nameView();
      if (aName != bName)
        return aName < bName;
    }
    return a.position() < b.position();
  };
  RowOrder order(shown.size());
  std::size_t at = 0;
  for (std::vector<Entry> &part : parts) {
    sortInParallel(part, less);
    for (const Entry &entry : part)
      order[at++] = entry.position();
  }
  return order;
}

// Name ascending, program memory first; equal names keep table order.
RowOrder sortedByName(const SymbolLists &lists) {
  return lists.shown.size() < ShortNameEntry::kMaxRows
             ? sortedByName<ShortNameEntry>(lists)
             : sortedByName<LongNameEntry>(lists);
}

// Sorts [from, to) of order by address, equal addresses keeping their
// order: a radix sort, 11 bits a pass, over addresses beside positions.
void stableSortByAddress(const SymbolLists &lists, RowOrder &order,
                         std::size_t from, std::size_t to) {
  constexpr int kBits = 11;
  constexpr std::size_t kBuckets = std::size_t{1} << kBits;
  const std::size_t count = to - from;
  std::vector<std::uint64_t> items(count);
  std::vector<std::uint64_t> spare(count);
  for (std::size_t i = 0; i < count; ++i)
    items[i] = std::uint64_t{lists.shown[order[from + i]]->address} << 32 |
               order[from + i];
  std::vector<std::size_t> counts(kBuckets);
  for (int shift = 32; shift < 64; shift += kBits) {
    std::fill(counts.begin(), counts.end(), 0);
    for (const std::uint64_t item : items)
      ++counts[(item >> shift) & (kBuckets - 1)];
    std::size_t start = 0;
    for (std::size_t &bucket : counts) {
      const std::size_t here = bucket;
      bucket = start;
      start += here;
    }
    for (const std::uint64_t item : items)
      spare[counts[(item >> shift) & (kBuckets - 1)]++] = item;
    items.swap(spare);
  }
  for (std::size_t i = 0; i < count; ++i)
    order[from + i] = static_cast<std::uint32_t>(items[i]);
}

// Address ascending, program memory first; equal addresses in name order
// (the address table was once made by sorting the name table again,
// stably).
RowOrder sortedByAddress(const SymbolLists &lists, const RowOrder &byName) {
  RowOrder order = byName;
  stableSortByAddress(lists, order, 0, lists.programCount);
  stableSortByAddress(lists, order, lists.programCount, order.size());
  return order;
}

// Bytes of a row in a symbol table.
std::size_t rowBytes(std::size_t nameLength, const FileText &file) {
  return std::max<std::size_t>(nameLength, 25) +
         std::max<std::size_t>(file.shownLength, 25) + 3 * 10 + 5;
}

// Writes one row of a symbol table at to (rowBytes long).
void putSymbolRow(char *to, const SymbolRow &info, std::size_t nameLength,
                  const FileText &file) {
  auto pad = [&](std::size_t width, std::size_t length) {
    if (length < width) {
      std::memset(to, ' ', width - length);
      to += width - length;
    }
  };
  auto copy = [&](const char *text, std::size_t length) {
    std::memcpy(to, text, length);
    to += length;
  };
  static const char digits[] = "0123456789abcdef";
  pad(25, nameLength);
  copy(info.name, nameLength);
  *to++ = ' ';
  pad(10, 8);
  *to++ = '0';
  *to++ = 'x';
  for (int shift = 20; shift >= 0; shift -= 4)
    *to++ = digits[(info.address >> shift) & 0xF];
  *to++ = ' ';
  if (info.location == 0)
    copy("   program", 10);
  else
    copy("      data", 10);
  *to++ = ' ';
  if (info.storageClass == 0)
    copy("    extern", 10);
  else
    copy("    static", 10);
  *to++ = ' ';
  copy(file.name->c_str(), file.shownLength);
  pad(25, file.shownLength);
  *to = '\n';
}

// Rows [first, last) of a table, made into text.
void putSymbolRows(std::string &text, const SymbolLists &lists,
                   const RowOrder &order, std::size_t first, std::size_t last) {
  for (std::size_t i = first; i < last; ++i) {
    const SymbolRow &row = *lists.shown[order[i]];
    const FileText &file = lists.files[row.file];
    const std::size_t at = text.size();
    text.resize(at + rowBytes(row.shownLength, file));
    putSymbolRow(&text[at], row, row.shownLength, file);
  }
}

void writeSymbolRows(MapOut &out, const SymbolLists &lists,
                     const RowOrder &order) {
  // Rows are made in batches, each cut into slices made side by side and
  // then added in order: a batch is all of a large table that is held in
  // memory at once.
  constexpr std::size_t kBatchRows = 32768;
  constexpr std::size_t kBatchSlices = 16;
  // Room for a slice of usual rows, made here (see collectSymbolsInParallel).
  constexpr std::size_t kUsualRowBytes = 128;
  std::vector<std::string> slices(kBatchSlices);
  if (order.size() >= 4096)
    for (std::string &slice : slices)
      slice.reserve(kBatchRows / kBatchSlices * kUsualRowBytes);
  for (std::size_t batch = 0; batch < order.size(); batch += kBatchRows) {
    const std::size_t rows = std::min(kBatchRows, order.size() - batch);
    // A short table is not worth waking the threads for.
    const std::size_t count = rows < 4096 ? 1 : kBatchSlices;
    auto sliceFirst = [&](std::size_t slice) {
      return batch + rows * slice / count;
    };
    forEachLargeInParallel(count, [&](std::size_t slice) {
      slices[slice].clear();
      putSymbolRows(slices[slice], lists, order, sliceFirst(slice),
                    sliceFirst(slice + 1));
    });
    for (std::size_t slice = 0; slice < count; ++slice)
      out.add(slices[slice].data(), slices[slice].size());
  }
}

void writeSymbolTable(MapOut &out, const char *title, const SymbolLists &lists,
                      const RowOrder &order) {
  const char *const row = "%25s %10s %10s %10s %-25s\n";
  out.text += title;
  out.text += format(row, "Name", "Address", "Location", "Storage", "File");
  out.text += format(row, kRule, kRule, kRule, kRule, kRule);
  writeSymbolRows(out, lists, order);
  out.text += "\n\n";
}

void traceRows(const SectionLists &sections, const SymbolLists &symbols) {
  if (traceLevel(kTrace) == 0)
    return;
  for (const auto *list : {&sections.program, &sections.data})
    for (const SectionInfo &info : *list)
      info.print(std::cout);
  for (const SymbolRow *row : symbols.shown)
    SymbolInfo(std::string(row->nameView()), row->address, row->location,
               row->storageClass, row->kind, *symbols.files[row->file].name)
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
  // Gathering the symbols may end the program with a message, so no other
  // thread may be at work on the map meanwhile.
  SymbolLists symbols;
  collectSymbols(output, symbols);
  const SectionLists sections = collectSections(output);
  placeRows(sections.typeOfNumber, symbols);
  out.text += linkerBanner();
  out.text += "\nLinker Map File - Created " + timeText;

  writeSectionTable(out, sections);
  writeUsageTable(out, sections.program, bytesPerAddress, programAddressCount);

  traceRows(sections, symbols);
  const RowOrder byName = sortedByName(symbols);
  writeSymbolTable(out,
                   "\n                              Symbols - Sorted by Name\n",
                   symbols, byName);
  writeSymbolTable(
      out, "\n                              Symbols - Sorted by Address\n",
      symbols, sortedByAddress(symbols, byName));
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
  return write(name, output, programAddressCount, nullptr);
}

int MapFile::write(const std::string &name, const Coff &output,
                   std::uint32_t programAddressCount,
                   const std::function<bool()> &mayKeep) {
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
  if (mayKeep && !mayKeep())
    return 0; // the temporary goes with the SafeOutputFile
  if (!file.commit()) {
    report(MessageKind::Error, "MapFile::write()",
           "Could not write map file '" + name + "'.", 0);
    return 0;
  }
  return 1;
}
