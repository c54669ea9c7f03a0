// The in-memory model of one COD debug file: directories, the code image in
// 512-byte slices and the tables a debugger reads. preWrite numbers every
// block of the future file; write packs the tables and writes them in the
// same order, so each directory pointer names the right block.
#pragma once

#include "cod/CodRecords.h"

#include <cstdint>
#include <list>
#include <map>
#include <string>
#include <vector>

class BlockPacker;
class SafeOutputFile;

class Cod {
public:
  // A directory covers 64 KB of code byte addresses in 128 slices.
  static constexpr int SlicesPerDirectory = 128;
  // Block numbers are 16-bit.
  static constexpr std::uint32_t MaxBlockCount = 0x10000;

  Cod();
  virtual ~Cod() = default;

  // Appends a directory with its empty per-directory tables; HighAddr is
  // the directory's own index.
  void appendDirectory();

  void preWrite();
  int write();

  int writeBlockList(SafeOutputFile &file, const std::string &name,
                     const std::list<Block> &blocks, const std::string &kind);
  void packCodeBlocks(const std::map<int, Block> &slices,
                      std::list<Block> &out) const;
  void packSymbols(std::list<Block> &out) const;
  void packSourceNames(std::list<Block> &out) const;
  void packLineInfo(const std::vector<LineInfo> &records,
                    std::list<Block> &out) const;
  void packMemoryMap(const std::vector<MemoryMap> &records,
                     std::list<Block> &out) const;
  void packLocalGroups(std::list<Block> &out) const;
  void packLongSymbols(std::list<Block> &out) const;
  void packDebugMsgs(std::list<Block> &out) const;

  // The name write() creates: cCodFileName when set, else directory 0's
  // Source text.
  std::string codFileName() const;

  std::vector<Directory> DirectoryTable;
  std::vector<Symbol> SymbolList;
  std::vector<SourceName> SourceNameList;
  std::vector<std::vector<LineInfo>> LineInfoTable;
  std::vector<std::vector<MemoryMap>> MemoryMapList;
  std::vector<LongSymbol> LongSymbolList;
  std::list<LocalGroup> LocalGroupList;
  std::list<DebugMsg> DebugMsgList;
  std::vector<std::map<int, Block>> RawDataMap;

  // The full output name; the Source field may hold only its first 63
  // characters.
  std::string cCodFileName;
  // Blocks numbered by preWrite, directories included.
  std::uint32_t cBlockCount = 0;

protected:
  // The symbol, source-name and long-symbol tables, packed into blocks (or
  // counted, when the packer only counts): the lists above, or what a
  // maker that keeps the records in a form of its own packs instead.
  virtual std::uint32_t packSymbolTable(BlockPacker &packer) const;
  virtual std::uint32_t packSourceNameTable(BlockPacker &packer) const;
  virtual std::uint32_t packLongSymbolTable(BlockPacker &packer) const;
  // The code image: the slices of a directory that hold code, ascending,
  // and the block of one of them (RawDataMap's, or made when asked).
  virtual void codeSlices(std::size_t directory,
                          std::vector<int> &slices) const;
  virtual void codeBlock(std::size_t directory, int slice, Block &block) const;

private:
  int writeDirectories(SafeOutputFile &file, const std::string &name);
  int writeTables(SafeOutputFile &file, const std::string &name);
  int writeBlock(SafeOutputFile &file, const std::string &name,
                 const Block &block, const std::string &kind);
  void stampDateAndTime();
};
