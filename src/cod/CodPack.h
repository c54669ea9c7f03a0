// Packs records into 512-byte blocks. With an output list the blocks are
// filled; without one only counted.
#pragma once

#include "cod/CodRecords.h"

#include <cstddef>
#include <cstdint>
#include <list>
#include <vector>

class BlockPacker {
public:
  explicit BlockPacker(std::list<Block> *out);

  // Where the next record goes, starting a new block when it does not fit;
  // null when only counting. Fixed-size records may fill a block to its
  // last byte; variable-size ones leave at least that byte zero.
  std::uint8_t *placeFixed(std::size_t sizeInBytes);
  std::uint8_t *placeVariable(std::size_t sizeInBytes);

  // Appends the working block when anything was placed; the block count.
  std::uint32_t finish();

private:
  std::uint8_t *place(std::size_t sizeInBytes, std::size_t limitInBytes);
  void flushWorking();

  std::list<Block> *cOut;
  Block cWorking;
  std::size_t cOffset = 0;
  bool cStarted = false;
  std::uint32_t cBlockCount = 0;
};

// Each returns the number of blocks the table takes and, given a list,
// fills it with them. An empty table takes no block.
std::uint32_t packSymbolBlocks(const std::list<Symbol> &records,
                               std::list<Block> *out);
std::uint32_t packSymbolBlocks(const std::vector<Symbol> &records,
                               std::list<Block> *out);
std::uint32_t packSourceNameBlocks(const std::list<SourceName> &records,
                                   std::list<Block> *out);
std::uint32_t packLineInfoBlocks(const std::list<LineInfo> &records,
                                 std::list<Block> *out);
std::uint32_t packLineInfoBlocks(const std::vector<LineInfo> &records,
                                 std::list<Block> *out);
std::uint32_t packMemoryMapBlocks(const std::list<MemoryMap> &records,
                                  std::list<Block> *out);
std::uint32_t packLongSymbolBlocks(const std::list<LongSymbol> &records,
                                   std::list<Block> *out);
std::uint32_t packLongSymbolBlocks(const std::vector<LongSymbol> &records,
                                   std::list<Block> *out);
std::uint32_t packDebugMsgBlocks(const std::list<DebugMsg> &records,
                                 std::list<Block> *out);
std::uint32_t packLocalGroupBlocks(const std::list<LocalGroup> &groups,
                                   std::list<Block> *out);
