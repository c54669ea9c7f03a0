// Packing the COD tables into 512-byte blocks. The same packer counts the
// blocks for Cod::preWrite and fills them for Cod::write, so the numbering
// and the file can never disagree.
#include "cod/CodPack.h"

#include "Assert.h"
#include "cod/Cod.h"

BlockPacker::BlockPacker(std::list<Block> *out) : cSink(nullptr) {
  if (out == nullptr)
    return;
  out->clear();
  cListSink.reset(new ListSink(*out));
  cSink = cListSink.get();
}

BlockPacker::BlockPacker(BlockSink *sink) : cSink(sink) {}

// No record is larger than a block; the check stays in every build.
void BlockPacker::tooLarge() {
  assertionFailed("sizeInBytes <= limitInBytes", "cod", __LINE__);
}

void BlockPacker::flushWorking() {
  if (cSink != nullptr) {
    cSink->take(cWorking);
    cWorking = Block();
  }
}

std::uint32_t BlockPacker::finish() {
  if (cStarted)
    flushWorking();
  cStarted = false;
  return cBlockCount;
}

std::uint32_t packLocalGroupRecords(const std::list<LocalGroup> &groups,
                                    BlockPacker &packer) {
  for (const LocalGroup &group : groups) {
    if (std::uint8_t *at = packer.placeFixed(LocalGroup::SlotSizeInBytes))
      group.serializeHeader(at);
    for (const Symbol &symbol : group.Symbols)
      if (std::uint8_t *at = packer.placeFixed(Symbol::SizeInBytes))
        symbol.serialize(at);
  }
  return packer.finish();
}

namespace {

template <class Records>
std::uint32_t packFixed(const Records &records, std::list<Block> *out) {
  BlockPacker packer(out);
  return packFixedRecords(records, packer);
}

template <class Records>
std::uint32_t packVariable(const Records &records, std::list<Block> *out) {
  BlockPacker packer(out);
  return packVariableRecords(records, packer);
}

} // namespace

std::uint32_t packSymbolBlocks(const std::list<Symbol> &records,
                               std::list<Block> *out) {
  return packFixed(records, out);
}

std::uint32_t packSymbolBlocks(const std::vector<Symbol> &records,
                               std::list<Block> *out) {
  return packFixed(records, out);
}

std::uint32_t packSourceNameBlocks(const std::list<SourceName> &records,
                                   std::list<Block> *out) {
  return packFixed(records, out);
}

std::uint32_t packSourceNameBlocks(const std::vector<SourceName> &records,
                                   std::list<Block> *out) {
  return packFixed(records, out);
}

std::uint32_t packLineInfoBlocks(const std::list<LineInfo> &records,
                                 std::list<Block> *out) {
  return packFixed(records, out);
}

std::uint32_t packLineInfoBlocks(const std::vector<LineInfo> &records,
                                 std::list<Block> *out) {
  return packFixed(records, out);
}

std::uint32_t packMemoryMapBlocks(const std::list<MemoryMap> &records,
                                  std::list<Block> *out) {
  return packFixed(records, out);
}

std::uint32_t packMemoryMapBlocks(const std::vector<MemoryMap> &records,
                                  std::list<Block> *out) {
  return packFixed(records, out);
}

std::uint32_t packLongSymbolBlocks(const std::list<LongSymbol> &records,
                                   std::list<Block> *out) {
  return packVariable(records, out);
}

std::uint32_t packLongSymbolBlocks(const std::vector<LongSymbol> &records,
                                   std::list<Block> *out) {
  return packVariable(records, out);
}

std::uint32_t packDebugMsgBlocks(const std::list<DebugMsg> &records,
                                 std::list<Block> *out) {
  return packVariable(records, out);
}

std::uint32_t packLocalGroupBlocks(const std::list<LocalGroup> &groups,
                                   std::list<Block> *out) {
  BlockPacker packer(out);
  return packLocalGroupRecords(groups, packer);
}

void Cod::packCodeBlocks(const std::map<int, Block> &slices,
                         std::list<Block> &out) const {
  out.clear();
  for (const auto &slice : slices) // ascending slice index
    out.push_back(slice.second);
}

void Cod::packSymbols(std::list<Block> &out) const {
  packSymbolBlocks(SymbolList, &out);
}

void Cod::packSourceNames(std::list<Block> &out) const {
  packSourceNameBlocks(SourceNameList, &out);
}

void Cod::packLineInfo(const std::vector<LineInfo> &records,
                       std::list<Block> &out) const {
  packLineInfoBlocks(records, &out);
}

void Cod::packMemoryMap(const std::vector<MemoryMap> &records,
                        std::list<Block> &out) const {
  packMemoryMapBlocks(records, &out);
}

void Cod::packLocalGroups(std::list<Block> &out) const {
  packLocalGroupBlocks(LocalGroupList, &out);
}

void Cod::packLongSymbols(std::list<Block> &out) const {
  packLongSymbolBlocks(LongSymbolList, &out);
}

void Cod::packDebugMsgs(std::list<Block> &out) const {
  packDebugMsgBlocks(DebugMsgList, &out);
}
