#include "cod/Cod.h"

#include "Assert.h"
#include "Messages.h"
#include "SafeFile.h"
#include "Trace.h"
#include "cod/CodPack.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <memory>
#include <sstream>

namespace {

constexpr std::size_t WriteBufferSizeInBytes = 256 * 1024;

struct BlockCounts {
  std::uint32_t directories = 0;
  std::uint32_t rawData = 0;
  std::uint32_t symbols = 0;
  std::uint32_t sourceNames = 0;
  std::uint32_t lineInfo = 0;
  std::uint32_t localGroups = 0;
  std::uint32_t memMap = 0;
  std::uint32_t longSymbols = 0;
  std::uint32_t debugMsgs = 0;
};

void traceCounts(const BlockCounts &counts) {
  std::cout << "Cod::preWrite()- dump of block mappings:\n"
            << "  numDirectoryBlock=" << counts.directories << '\n'
            << "  numRawDataBlock=" << counts.rawData << '\n'
            << "  numSymbolBlock=" << counts.symbols << '\n'
            << "  numSourceNameBlock=" << counts.sourceNames << '\n'
            << "  numLineInfoBlock=" << counts.lineInfo << '\n'
            << "  numLocalGroupBlock=" << counts.localGroups << '\n'
            << "  numMemMapBlock=" << counts.memMap << '\n'
            << "  numLongBlock=" << counts.longSymbols << '\n'
            << "  numDebugBlock=" << counts.debugMsgs << '\n'
            << '\n';
}

// Gives a table of `blocks` blocks the next numbers; both fields stay 0
// for an empty table. Numbers past the 16-bit range are caught by write().
void assignRange(std::uint32_t &counter, std::uint32_t blocks,
                 std::uint16_t &first, std::uint16_t &last) {
  if (blocks == 0) {
    first = last = 0;
    return;
  }
  first = static_cast<std::uint16_t>(counter);
  last = static_cast<std::uint16_t>(counter + blocks - 1);
  counter += blocks;
}

} // namespace

Cod::Cod() = default;

void Cod::appendDirectory() {
  Directory directory;
  directory.HighAddr = static_cast<std::uint16_t>(DirectoryTable.size());
  DirectoryTable.push_back(directory);
  LineInfoTable.emplace_back();
  MemoryMapList.emplace_back();
  RawDataMap.emplace_back();
}

std::string Cod::codFileName() const {
  if (!cCodFileName.empty())
    return cCodFileName;
  if (DirectoryTable.empty())
    return std::string();
  const Directory &root = DirectoryTable.front();
  std::size_t length = root.SourceLen;
  if (length > sizeof root.Source)
    length = sizeof root.Source;
  return std::string(root.Source, length);
}

void Cod::preWrite() {
  ORV_ASSERT(LineInfoTable.size() == DirectoryTable.size() &&
                 MemoryMapList.size() == DirectoryTable.size() &&
                 RawDataMap.size() == DirectoryTable.size(),
             "cod");
  BlockCounts counts;
  counts.directories = static_cast<std::uint32_t>(DirectoryTable.size());
  std::vector<std::vector<int>> slices(DirectoryTable.size());
  for (std::size_t d = 0; d < DirectoryTable.size(); ++d) {
    codeSlices(d, slices[d]);
    counts.rawData += static_cast<std::uint32_t>(slices[d].size());
  }
  std::list<Block> *const countOnly = nullptr;
  BlockPacker symbolCounter(countOnly);
  counts.symbols = packSymbolTable(symbolCounter);
  BlockPacker sourceNameCounter(countOnly);
  counts.sourceNames = packSourceNameTable(sourceNameCounter);
  std::vector<std::uint32_t> lineBlocks, memMapBlocks;
  for (const auto &records : LineInfoTable) {
    lineBlocks.push_back(packLineInfoBlocks(records, nullptr));
    counts.lineInfo += lineBlocks.back();
  }
  counts.localGroups = packLocalGroupBlocks(LocalGroupList, nullptr);
  for (const auto &records : MemoryMapList) {
    memMapBlocks.push_back(packMemoryMapBlocks(records, nullptr));
    counts.memMap += memMapBlocks.back();
  }
  BlockPacker longSymbolCounter(countOnly);
  counts.longSymbols = packLongSymbolTable(longSymbolCounter);
  counts.debugMsgs = packDebugMsgBlocks(DebugMsgList, nullptr);
  if (traceLevel("Cod::preWrite") != 0)
    traceCounts(counts);

  std::uint32_t counter = counts.directories;
  for (std::size_t d = 0; d < DirectoryTable.size(); ++d)
    for (int slice : slices[d]) {
      ORV_ASSERT(slice >= 0 && slice < SlicesPerDirectory, "cod");
      DirectoryTable[d].Index[slice] = static_cast<std::uint16_t>(counter++);
    }
  for (std::size_t d = 0; d + 1 < DirectoryTable.size(); ++d)
    DirectoryTable[d].NextDir = static_cast<std::uint16_t>(d + 1);
  if (DirectoryTable.empty()) {
    cBlockCount = counter;
    return;
  }
  Directory &root = DirectoryTable.front();
  assignRange(counter, counts.symbols, root.SymTab, root.SymEnd);
  assignRange(counter, counts.sourceNames, root.NamTab, root.NamEnd);
  for (std::size_t d = 0; d < DirectoryTable.size(); ++d)
    assignRange(counter, lineBlocks[d], DirectoryTable[d].LineTab,
                DirectoryTable[d].LineEnd);
  assignRange(counter, counts.localGroups, root.LocalVars, root.LocalEnd);
  for (std::size_t d = 0; d < DirectoryTable.size(); ++d)
    assignRange(counter, memMapBlocks[d], DirectoryTable[d].MemMapOfs,
                DirectoryTable[d].MemMapEnd);
  assignRange(counter, counts.longSymbols, root.LSymTab, root.LSymEnd);
  assignRange(counter, counts.debugMsgs, root.MessTab, root.MessEnd);
  cBlockCount = counter;
  stampDateAndTime();
}

void Cod::stampDateAndTime() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[81];
  std::size_t length = std::strftime(text, sizeof text, "%d%b%y", &local);
  Directory &root = DirectoryTable.front();
  setCountedText(root.DateLen, root.Date, sizeof root.Date,
                 std::string(text, length));
  length = std::strftime(text, sizeof text, "%H%M", &local);
  root.Time = static_cast<std::uint16_t>(
      std::strtoul(std::string(text, length).c_str(), nullptr, 10));
}

int Cod::write() {
  std::ostringstream message;
  const std::string name = codFileName();
  ORV_ASSERT(!DirectoryTable.empty(), "cod");
  // Block numbers are 16-bit: a larger file could not be addressed.
  if (cBlockCount > MaxBlockCount) {
    message << "Cod file '" << name << "' would need " << cBlockCount
            << " blocks; the format allows at most " << MaxBlockCount << ".";
    reportStream(MessageKind::Error, "Cod::write()", message, 0);
    return 0;
  }
  // Declared before the file, which uses it until it is closed.
  std::unique_ptr<char[]> buffer(new char[WriteBufferSizeInBytes]);
  SafeOutputFile file(name);
  if (!file.open()) {
    message << "Could not open Cod file '" << name << "' for writing.";
    reportStream(MessageKind::Error, "Cod::write()", message, 0);
    return 0;
  }
  // The file goes out in 512-byte blocks; a large buffer turns them into
  // few system calls.
  std::setvbuf(file.stream(), buffer.get(), _IOFBF, WriteBufferSizeInBytes);
  if (writeDirectories(file, name) == 0 || writeTables(file, name) == 0)
    return 0; // the temporary is dropped with `file`
  if (!file.commit()) {
    message << "Could not write Cod file '" << name << "'.";
    reportStream(MessageKind::Error, "Cod::write()", message, 0);
    return 0;
  }
  return 1;
}

int Cod::writeDirectories(SafeOutputFile &file, const std::string &name) {
  Block block;
  for (const Directory &directory : DirectoryTable) {
    directory.serialize(block.cBytes.data());
    if (!file.write(block.cBytes.data(), block.cBytes.size())) {
      std::ostringstream message;
      message << "Could not write directory in Cod file '" << name << "'.";
      reportStream(MessageKind::Error, "Cod::write()", message, 0);
      file.discard();
      return 0;
    }
  }
  return 1;
}

namespace {

// Writes the blocks of one table as they are packed. The first failed
// write is reported and drops the temporary; later blocks are ignored.
class FileBlockSink : public BlockSink {
public:
  FileBlockSink(SafeOutputFile &file, const std::string &name)
      : cFile(file), cName(name) {}

  // The table the next blocks belong to, named in a failure report.
  void setKind(const char *kind) { cKind = kind; }
  bool failed() const { return cFailed; }

  void take(const Block &block) override {
    if (cFailed)
      return;
    if (cFile.write(block.cBytes.data(), block.cBytes.size()))
      return;
    cFailed = true;
    std::ostringstream message;
    message << "Could not write " << cKind << " block in Cod file '" << cName
            << "'.";
    reportStream(MessageKind::Error, "Cod::writeBlockList()", message, 0);
    cFile.discard();
  }

private:
  SafeOutputFile &cFile;
  const std::string &cName;
  const char *cKind = "";
  bool cFailed = false;
};

} // namespace

// Each table is packed straight into the file, block by block, in the
// order preWrite numbered them.
int Cod::writeTables(SafeOutputFile &file, const std::string &name) {
  FileBlockSink sink(file, name);
  sink.setKind("code");
  std::vector<int> slices;
  Block block;
  for (std::size_t d = 0; d < DirectoryTable.size(); ++d) {
    codeSlices(d, slices);
    for (int slice : slices) {
      codeBlock(d, slice, block);
      sink.take(block);
    }
  }
  if (sink.failed())
    return 0;
  sink.setKind("symbol");
  BlockPacker symbols(&sink);
  packSymbolTable(symbols);
  if (sink.failed())
    return 0;
  sink.setKind("source name");
  BlockPacker sourceNames(&sink);
  packSourceNameTable(sourceNames);
  if (sink.failed())
    return 0;
  sink.setKind("line info");
  for (const auto &records : LineInfoTable) {
    BlockPacker lines(&sink);
    packFixedRecords(records, lines);
    if (sink.failed())
      return 0;
  }
  sink.setKind("local group");
  BlockPacker localGroups(&sink);
  packLocalGroupRecords(LocalGroupList, localGroups);
  if (sink.failed())
    return 0;
  sink.setKind("memory map");
  for (const auto &records : MemoryMapList) {
    BlockPacker memoryMap(&sink);
    packFixedRecords(records, memoryMap);
    if (sink.failed())
      return 0;
  }
  sink.setKind("long symbol");
  BlockPacker longSymbols(&sink);
  packLongSymbolTable(longSymbols);
  if (sink.failed())
    return 0;
  sink.setKind("debug msg");
  BlockPacker debugMsgs(&sink);
  packVariableRecords(DebugMsgList, debugMsgs);
  return sink.failed() ? 0 : 1;
}

void Cod::codeSlices(std::size_t directory, std::vector<int> &slices) const {
  slices.clear();
  for (const auto &slice : RawDataMap[directory]) // ascending slice index
    slices.push_back(slice.first);
}

void Cod::codeBlock(std::size_t directory, int slice, Block &block) const {
  block = RawDataMap[directory].at(slice);
}

std::uint32_t Cod::packSymbolTable(BlockPacker &packer) const {
  return packFixedRecords(SymbolList, packer);
}

std::uint32_t Cod::packSourceNameTable(BlockPacker &packer) const {
  return packFixedRecords(SourceNameList, packer);
}

std::uint32_t Cod::packLongSymbolTable(BlockPacker &packer) const {
  return packVariableRecords(LongSymbolList, packer);
}

int Cod::writeBlockList(SafeOutputFile &file, const std::string &name,
                        const std::list<Block> &blocks,
                        const std::string &kind) {
  for (const Block &block : blocks)
    if (writeBlock(file, name, block, kind) == 0)
      return 0;
  return 1;
}

int Cod::writeBlock(SafeOutputFile &file, const std::string &name,
                    const Block &block, const std::string &kind) {
  if (file.write(block.cBytes.data(), block.cBytes.size()))
    return 1;
  std::ostringstream message;
  message << "Could not write " << kind << " block in Cod file '" << name
          << "'.";
  reportStream(MessageKind::Error, "Cod::writeBlockList()", message, 0);
  file.discard();
  return 0;
}
