// The listing file: every source file named in the COFF file, line by
// line, with the address, code word and disassembly of each code word the
// line produced. Each row also becomes a line-information record of the
// COD file.
#include "Coff2Cod.h"

#include "Banner.h"
#include "ByteOrder.h"
#include "FileInfo.h"
#include "Messages.h"
#include "ParallelWork.h"
#include "SafeFile.h"
#include "Trace.h"
#include "mginst/Disassemble.h"
#include "mginst/Encode.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <memory>

namespace {

const char *const ColumnTitles =
    "Address  Value    Disassembly              Source                         "
    "                                                  File\n";
const char *const ColumnRules = "-------  -------  -----------------------  "
                                "----------------------------------------------"
                                "---------------------------------  -----\n";

constexpr std::size_t ListBufferSizeInBytes = 256 * 1024;

// Flags of the line-information records.
constexpr std::uint8_t FirstCodeRow = 0x80;
constexpr std::uint8_t FurtherCodeRow = 0x00;
constexpr std::uint8_t LineWithoutCode = 0x90;
constexpr std::uint8_t PageHeaderRow = 0x02;

// Appends the text and blanks up to width; longer text is kept whole.
void appendPadded(std::string &row, const char *text, std::size_t length,
                  std::size_t width) {
  row.append(text, length);
  if (length < width)
    row.append(width - length, ' ');
}

void appendPadded(std::string &row, const std::string &text,
                  std::size_t width) {
  appendPadded(row, text.data(), text.size(), width);
}

// Lower-case hex digits, zero-padded to width: "%0*lx". Fills out (at
// least 8 characters) and gives the count.
std::size_t putHexDigits(char *out, std::uint32_t value, std::size_t width) {
  static const char digits[] = "0123456789abcdef";
  std::size_t count = 1;
  for (std::uint32_t rest = value >> 4; rest != 0; rest >>= 4)
    ++count;
  if (count < width)
    count = width;
  for (std::size_t k = count; k-- > 0; value >>= 4)
    out[k] = digits[value & 0xF];
  return count;
}

// "%-6s   %-6s   %-24s %-80s %-s\n", built in place in row; an empty
// address stands for a row without code.
void formatListRow(std::string &row, const char *address,
                   std::size_t addressLength, const char *value,
                   std::size_t valueLength, const std::string &disassembly,
                   const std::string &source, const std::string &fileName) {
  row.clear();
  appendPadded(row, address, addressLength, 6);
  row.append(3, ' ');
  appendPadded(row, value, valueLength, 6);
  row.append(3, ' ');
  appendPadded(row, disassembly, 24);
  row += ' ';
  appendPadded(row, source, 80);
  row += ' ';
  row += fileName;
  row += '\n';
}

// Bytes outside the section's contents read as 0.
std::uint8_t byteAt(const SectionBytes &contents, std::int64_t offset) {
  if (contents.bytes == nullptr || offset < 0 || offset >= contents.size)
    return 0;
  return contents.bytes[offset];
}

std::uint16_t wordAt(const SectionBytes &contents, std::int64_t offset) {
  return static_cast<std::uint16_t>(byteAt(contents, offset) |
                                    (byteAt(contents, offset + 1) << 8));
}

// Weekday, month, space-padded day, time and year, as "Tue Dec  8 ...".
std::string listingTime() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[64];
  std::size_t length =
      std::strftime(text, sizeof text, "%a %b %e %H:%M:%S %Y\n", &local);
  return std::string(text, length);
}

} // namespace

int Coff2Cod::createListFile(const Coff &coff) {
  FileInfo info(coff.cFileName);
  const std::string name = info.path() + info.baseName() + ".lst";
  // Declared before the file, which uses it until it is closed.
  std::unique_ptr<char[]> buffer(new char[ListBufferSizeInBytes]);
  SafeOutputFile file(name);
  if (!file.open()) {
    report(MessageKind::Error, "Coff2Cod::createListFile()",
           "Could not open list file '" + name + "' for writing.", 0);
    return 0;
  }
  // One row at a time would be a system call every few rows.
  std::setvbuf(file.stream(), buffer.get(), _IOFBF, ListBufferSizeInBytes);
  cLstFile = &file;
  classifySymbols(coff);
  std::uint32_t position = 0;
  writePageHeader(1);
  while (findNextFile(coff, position) != 0) {
    cListOn = 1;
    doNextFile(coff, position);
  }
  cLstFile = nullptr;
  if (!file.commit()) {
    report(MessageKind::Error, "Coff2Cod::createListFile()",
           "Could not write list file '" + name + "'.", 0);
    return 0;
  }
  return 1;
}

// Names are looked up once per entry; the scans below then only compare
// kinds. The last entry is never scanned.
// Each entry is classified on its own: the table is cut into pieces that
// are done side by side.
void Coff2Cod::classifySymbols(const Coff &coff) {
  const std::size_t count = cSymbols.size();
  cScanKind.assign(count, ScanKind::Other);
  cRegion = ScanRegion();
  if (cImage == nullptr)
    names(coff); // indexed before the pieces look names up in it
  const std::size_t last = count == 0 ? 0 : count - 1; // never scanned
  const std::size_t pieces = (last + SymbolsPerPiece - 1) / SymbolsPerPiece;
  // A name that only Coff::getName could give (reporting it missing)
  // stops its piece; that piece and those after it are then done here,
  // in order, so the report comes as it would without the pieces.
  std::vector<std::uint8_t> stopped(pieces, 0);
  forEachLargeInParallel(pieces, [&](std::size_t piece) {
    const std::size_t end = std::min(last, (piece + 1) * SymbolsPerPiece);
    for (std::size_t i = piece * SymbolsPerPiece; i < end; ++i) {
      if (!classifySymbol(i)) {
        stopped[piece] = 1;
        return;
      }
    }
  });
  const std::size_t firstStopped = static_cast<std::size_t>(
      std::find(stopped.begin(), stopped.end(), 1) - stopped.begin());
  std::string scratch;
  for (std::size_t i = firstStopped * SymbolsPerPiece; i < last; ++i)
    if (!classifySymbol(i))
      cScanKind[i] = scanKind(symbolName(coff, cSymbols.entry(i), scratch),
                              std::uint32_t(i));
}

bool Coff2Cod::classifySymbol(std::size_t index) {
  if (cSymbols.auxKind(index) != kAuxNone)
    return true;
  // An inline name (its first four bytes are not all zero) that does not
  // start with a dot is none of those the scans look for.
  const char *bytes = cSymbols.nameBytes(index);
  if (bytes[0] != 0 && bytes[0] != '.')
    return true;
  // The same for a long name (four zero bytes, then its offset) in the
  // image's table, told by its first character.
  char first = 0;
  if (bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 0 && bytes[3] == 0 &&
      cImageNames.firstChar(
          readLE32(reinterpret_cast<const std::uint8_t *>(bytes) + 4), first) &&
      first != '.')
    return true;
  // An inline name is viewed in this copy.
  const syment sym = cSymbols.entry(index);
  std::string_view name;
  if (!nameInPlace(sym, name))
    return false;
  cScanKind[index] = scanKind(name, std::uint32_t(index));
  return true;
}

Coff2Cod::ScanKind Coff2Cod::scanKind(std::string_view name,
                                      std::uint32_t index) const {
  if (name.size() < 4 || name[0] != '.')
    return ScanKind::Other; // none of the names below
  if (name == ".file")      // only one that names a source file can be listed
    return sourceNumber(index) != nullptr ? ScanKind::File : ScanKind::Other;
  if (name == ".eof")
    return ScanKind::Eof;
  if (name == ".list")
    return ScanKind::List;
  if (name == ".nolist")
    return ScanKind::NoList;
  return ScanKind::Other;
}

// Scans stop before the last entry; an empty table gives 0, not a wrap.
std::uint32_t Coff2Cod::scanEnd() const {
  return cScanKind.empty() ? 0 : std::uint32_t(cScanKind.size() - 1);
}

int Coff2Cod::findNextFile(const Coff &, std::uint32_t &position) {
  for (std::uint32_t i = position; i < scanEnd(); ++i) {
    if (cScanKind[i] == ScanKind::File) {
      position = i;
      return 1;
    }
  }
  position = scanEnd();
  return 0;
}

int Coff2Cod::findEndOfFile(const Coff &, std::uint32_t &position) {
  for (std::uint32_t i = position; i < scanEnd(); ++i) {
    if (cScanKind[i] == ScanKind::Eof) {
      position = i + 1;
      return 1;
    }
  }
  position = scanEnd();
  return 0;
}

// The position moves only when a file ends or an include is listed, so the
// region after it is worked out once and then serves every source line.
const Coff2Cod::ScanRegion &Coff2Cod::regionAt(const Coff &,
                                               std::uint32_t position) {
  if (cRegion.valid && cRegion.position == position)
    return cRegion;
  cRegion = ScanRegion();
  cRegion.valid = true;
  cRegion.position = position;
  for (std::uint32_t i = position; i < scanEnd(); ++i) {
    ScanKind kind = cScanKind[i];
    if (kind == ScanKind::File || kind == ScanKind::Eof) {
      cRegion.boundary = i;
      cRegion.hasBoundary = true;
      break;
    }
    if (kind == ScanKind::List || kind == ScanKind::NoList)
      cRegion.listSwitch.emplace(cSymbols.entry(i).n_value,
                                 kind == ScanKind::List ? 1 : 0);
  }
  return cRegion;
}

bool Coff2Cod::hasInclude(const Coff &coff, std::uint32_t position, int line) {
  bool tracing = traceLevel("Coff2Cod::hasInclude") != 0;
  if (tracing)
    std::cout << "Coff2Cod::hasInclude() - index=" << position
              << " line=" << line << '\n';
  const ScanRegion &region = regionAt(coff, position);
  if (!region.hasBoundary || cScanKind[region.boundary] != ScanKind::File)
    return false;
  std::uint32_t index = region.boundary;
  aux_file aux = readAux<aux_file>(cSymbols.entry(index + 1));
  bool included = aux.x_incline == std::uint32_t(line) ||
                  (aux.x_incline == 0 && index == position);
  if (included && tracing)
    std::cout << "Coff2Cod::hasInclude() - found index=" << index
              << " line=" << line << '\n';
  return included;
}

void Coff2Cod::checkListDirective(const Coff &coff, std::uint32_t position,
                                  int line) {
  const ScanRegion &region = regionAt(coff, position);
  auto found = region.listSwitch.find(std::uint32_t(line));
  if (found != region.listSwitch.end())
    cListOn = found->second;
}

int Coff2Cod::doNextFile(const Coff &coff, std::uint32_t &position) {
  if (findNextFile(coff, position) == 0)
    return 1;
  const std::uint32_t fileKey = position;
  std::string scratch;
  const std::string name(fileName(coff, cSymbols.entry(fileKey + 1), scratch));
  if (cIncludeDepth >= MaxIncludeDepth) {
    report(MessageKind::Warning, "Coff2Cod::doNextFile()",
           "Source file '" + name +
               "' is included too deeply.\nThis file will not be present in "
               "the list file.",
           0);
    position += 1;
    return 0;
  }
  FileBytes source;
  if (!cSources.read(name, source)) {
    // A project listed away from its sources misses thousands of them: the
    // warning's text is built in a buffer kept for the run.
    static const std::string context = "Coff2Cod::doNextFile()";
    cMessage.assign("Could not open source file '")
        .append(name)
        .append("'.\nThis file will not be present in the list file.");
    report(MessageKind::Warning, context, cMessage, 0);
    position += 1;
    return 0;
  }
  if (!cLineMapBuilt)
    buildLineMap(coff);
  position += 2; // past the file symbol and its file entry
  ++cIncludeDepth;
  listSourceFile(coff, position, fileKey, name, source);
  --cIncludeDepth;
  findEndOfFile(coff, position);
  return 1;
}

void Coff2Cod::listSourceFile(const Coff &coff, std::uint32_t &position,
                              std::uint32_t fileKey,
                              const std::string &fileName,
                              const FileBytes &source) {
  // A listed file is always one that names a source.
  const int *number = sourceNumber(fileKey);
  const int sourceNum = number != nullptr ? *number : 0;
  // Counts down the words of a two-word instruction; carries over from
  // line to line within this file only.
  std::uint8_t wordsPending = 1;
  int line = 0;
  forEachLine(source, [&](const char *text, std::size_t length) {
    cSrcLine.assign(text, length);
    ++line;
    checkListDirective(coff, position, line);
    // A line is shown as text: up to a NUL, without a DOS line end.
    cSrcLine.resize(std::min(cSrcLine.find('\0'), cSrcLine.size()));
    if (!cSrcLine.empty() && cSrcLine.back() == '\r')
      cSrcLine.pop_back();
    if (cListOn != 0)
      writeRows(coff, fileKey, sourceNum, line, fileName, wordsPending);
    if (hasInclude(coff, position, line))
      doNextFile(coff, position);
  });
}

void Coff2Cod::writeRows(const Coff &coff, std::uint32_t fileKey, int sourceNum,
                         int line, const std::string &fileName,
                         std::uint8_t &wordsPending) {
  const std::pair<const LstLine *, const LstLine *> entries =
      lineEntries(fileKey, line);
  if (entries.first == entries.second) {
    addLineInfo(0, LineInfo(std::uint8_t(sourceNum), LineWithoutCode,
                            std::uint16_t(line), 0));
    formatListRow(cLstRow, "", 0, "", 0, std::string(), cSrcLine, fileName);
    writeListText(cLstRow);
    nextListLine();
    return;
  }
  bool first = true;
  for (const LstLine *entry = entries.first; entry != entries.second; ++entry) {
    writeCodeRow(coff, *entry, sourceNum, line, first, fileName, wordsPending);
    first = false;
  }
}

void Coff2Cod::writeCodeRow(const Coff &, const LstLine &entry, int sourceNum,
                            int line, bool firstOfLine,
                            const std::string &fileName,
                            std::uint8_t &wordsPending) {
  const SectionBytes &contents = entry.contents;
  std::int64_t offset =
      (std::int64_t(entry.l_paddr) - std::int64_t(entry.sectionAddress)) *
      std::int64_t(unitBytes());
  std::uint16_t word = wordAt(contents, offset);
  std::uint16_t nextWord = 0;
  if (contents.bytes != nullptr && offset + 2 < std::int64_t(contents.size))
    nextWord = wordAt(contents, offset + 2);

  // The directory that holds the code word's byte address.
  std::size_t directory = entry.l_paddr / (0x10000 / unitBytes());
  addLineInfo(directory,
              LineInfo(std::uint8_t(sourceNum),
                       firstOfLine ? FirstCodeRow : FurtherCodeRow,
                       std::uint16_t(line), std::uint16_t(entry.l_paddr)));
  std::string text = disassembly(entry.l_paddr, word, nextWord, wordsPending);
  char address[16];
  char value[16];
  std::size_t addressLength = putHexDigits(address, entry.l_paddr, 6);
  std::size_t valueLength = putHexDigits(value, word, 4);
  static const std::string none;
  formatListRow(cLstRow, address, addressLength, value, valueLength, text,
                firstOfLine ? cSrcLine : none, firstOfLine ? fileName : none);
  writeListText(cLstRow);
  nextListLine();
}

std::string Coff2Cod::disassembly(std::uint32_t address, std::uint16_t word,
                                  std::uint16_t nextWord,
                                  std::uint8_t &wordsPending) {
  if (wordsPending != 0)
    --wordsPending;
  if (wordsPending != 0)
    return std::string(); // second word of a two-word instruction
  if (!isValidWord(word, cFamily))
    return "??? Illegal Opcode";
  return disassemble(address, word, nextWord, &wordsPending, cFamily);
}

// Records of rows whose directory does not exist go to directory 0.
void Coff2Cod::addLineInfo(std::size_t directory, const LineInfo &record) {
  if (directory >= LineInfoTable.size())
    directory = 0;
  LineInfoTable[directory].push_back(record);
}

void Coff2Cod::writeListText(const std::string &text) { cLstFile->write(text); }

void Coff2Cod::writePageHeader(int firstPage) {
  const LineInfo headerRow(0, PageHeaderRow, 1, 0);
  if (firstPage != 0) {
    if (cListTime.empty())
      cListTime = listingTime();
  } else {
    writeListText("\f\n");
  }
  addLineInfo(0, headerRow);
  writeListText(codConverterBanner() + "\n");
  addLineInfo(0, headerRow);
  writeListText(noticeText() + "\n");
  addLineInfo(0, headerRow);
  // The time text ends in its own line feed, so an empty line follows.
  writeListText("Listing File Generated: " + cListTime + "\n");
  addLineInfo(0, headerRow);
  addLineInfo(0, headerRow);
  writeListText("\n");
  addLineInfo(0, headerRow);
  writeListText(ColumnTitles);
  addLineInfo(0, headerRow);
  writeListText(ColumnRules);
  addLineInfo(0, headerRow);
}

void Coff2Cod::nextListLine() {
  ++cLineCount;
  if (cPageLength != 0 && cLineCount % cPageLength == 0)
    writePageHeader(0);
}
