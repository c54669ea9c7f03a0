// Packs records into 512-byte blocks. With an output list the blocks are
// filled; without one only counted.
#pragma once

#include "cod/CodRecords.h"

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <vector>

// Takes each block a packer fills, in order (the COD writer sends them
// straight to the file).
class BlockSink {
public:
  virtual ~BlockSink() = default;
  virtual void take(const Block &block) = 0;
};

class BlockPacker {
public:
  // Appends the blocks to out (cleared first); null only counts them.
  explicit BlockPacker(std::list<Block> *out);
  // Hands each block to sink; null only counts them.
  explicit BlockPacker(BlockSink *sink);

  // Where the next record goes, starting a new block when it does not fit;
  // null when only counting. Fixed-size records may fill a block to its
  // last byte; variable-size ones leave at least that byte zero.
  // Inline: a table of tens of thousands of records places each one.
  std::uint8_t *placeFixed(std::size_t sizeInBytes) {
    return place(sizeInBytes, CodBlockSize);
  }
  // A variable-size record must end on or before byte 510 so that a zero
  // length byte after the last record always ends the block for a reader.
  std::uint8_t *placeVariable(std::size_t sizeInBytes) {
    return place(sizeInBytes, CodBlockSize - 1);
  }

  // Hands on the working block when anything was placed; the block count.
  std::uint32_t finish();

private:
  class ListSink : public BlockSink {
  public:
    explicit ListSink(std::list<Block> &out) : cOut(out) {}
    void take(const Block &block) override { cOut.push_back(block); }

  private:
    std::list<Block> &cOut;
  };

  std::uint8_t *place(std::size_t sizeInBytes, std::size_t limitInBytes) {
    if (sizeInBytes > limitInBytes)
      tooLarge();
    if (!cStarted) {
      cStarted = true;
      cBlockCount = 1;
    } else if (cOffset + sizeInBytes > limitInBytes) {
      flushWorking();
      ++cBlockCount;
      cOffset = 0;
    }
    std::uint8_t *at =
        cSink != nullptr ? cWorking.cBytes.data() + cOffset : nullptr;
    cOffset += sizeInBytes;
    return at;
  }
  [[noreturn]] static void tooLarge();
  void flushWorking();

  std::unique_ptr<ListSink> cListSink;
  BlockSink *cSink;
  Block cWorking;
  std::size_t cOffset = 0;
  bool cStarted = false;
  std::uint32_t cBlockCount = 0;
};

// The table packers, for any sequence of records: fixed-size records,
// variable-size ones and local groups (a header slot, then the symbols).
template <class Records>
std::uint32_t packFixedRecords(const Records &records, BlockPacker &packer) {
  using Record = typename Records::value_type;
  for (const Record &record : records)
    if (std::uint8_t *at = packer.placeFixed(Record::SizeInBytes))
      record.serialize(at);
  return packer.finish();
}

template <class Records>
std::uint32_t packVariableRecords(const Records &records, BlockPacker &packer) {
  for (const auto &record : records)
    if (std::uint8_t *at = packer.placeVariable(record.sizeInBytes()))
      record.serialize(at);
  return packer.finish();
}

std::uint32_t packLocalGroupRecords(const std::list<LocalGroup> &groups,
                                    BlockPacker &packer);

// Each returns the number of blocks the table takes and, given a list,
// fills it with them. An empty table takes no block.
std::uint32_t packSymbolBlocks(const std::list<Symbol> &records,
                               std::list<Block> *out);
std::uint32_t packSymbolBlocks(const std::vector<Symbol> &records,
                               std::list<Block> *out);
std::uint32_t packSourceNameBlocks(const std::list<SourceName> &records,
                                   std::list<Block> *out);
std::uint32_t packSourceNameBlocks(const std::vector<SourceName> &records,
                                   std::list<Block> *out);
std::uint32_t packLineInfoBlocks(const std::list<LineInfo> &records,
                                 std::list<Block> *out);
std::uint32_t packLineInfoBlocks(const std::vector<LineInfo> &records,
                                 std::list<Block> *out);
std::uint32_t packMemoryMapBlocks(const std::list<MemoryMap> &records,
                                  std::list<Block> *out);
std::uint32_t packMemoryMapBlocks(const std::vector<MemoryMap> &records,
                                  std::list<Block> *out);
std::uint32_t packLongSymbolBlocks(const std::list<LongSymbol> &records,
                                   std::list<Block> *out);
std::uint32_t packLongSymbolBlocks(const std::vector<LongSymbol> &records,
                                   std::list<Block> *out);
std::uint32_t packDebugMsgBlocks(const std::list<DebugMsg> &records,
                                 std::list<Block> *out);
std::uint32_t packLocalGroupBlocks(const std::list<LocalGroup> &groups,
                                   std::list<Block> *out);
