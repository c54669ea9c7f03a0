#include "cod/CodRecords.h"

#include "Assert.h"
#include "cod/CodBytes.h"

#include <algorithm>
#include <cstring>

using namespace codbytes;

namespace {

// Length byte first, then the fixed-width field as it is (zero-padded).
void putCountedText(std::uint8_t *at, std::uint8_t length, const char *field,
                    std::size_t width) {
  putU8(at, length);
  putChars(at + 1, field, width);
}

std::string countedText(std::uint8_t length, const char *field,
                        std::size_t width) {
  return std::string(field, std::min<std::size_t>(length, width));
}

} // namespace

void setCountedText(std::uint8_t &lengthByte, char *field, std::size_t width,
                    const std::string &text) {
  std::size_t count = std::min(text.size(), width);
  std::memset(field, 0, width);
  std::memcpy(field, text.data(), count);
  lengthByte = static_cast<std::uint8_t>(count);
}

Directory::Directory() {
  std::memset(Index, 0, sizeof Index);
  SourceLen = 0;
  std::memset(Source, 0, sizeof Source);
  DateLen = 0;
  std::memset(Date, 0, sizeof Date);
  Time = 0;
  VersionLen = 0;
  std::memset(Version, 0, sizeof Version);
  CompilerLen = 0;
  std::memset(Compiler, 0, sizeof Compiler);
  NoticeLen = 0;
  std::memset(Notice, 0, sizeof Notice);
  SymTab = SymEnd = NamTab = NamEnd = LineTab = LineEnd = 0;
  AddrSize = 0;
  HighAddr = NextDir = MemMapOfs = MemMapEnd = LocalVars = LocalEnd = 0;
  CodType = 1;
  ProcessorLen = 0;
  std::memset(Processor, 0, sizeof Processor);
  LSymTab = LSymEnd = MessTab = MessEnd = 0;
  std::memset(Spare, 0, sizeof Spare);
}

void Directory::serialize(std::uint8_t *block) const {
  std::memset(block, 0, CodBlockSize);
  for (int k = 0; k < 128; ++k)
    putLE16(block + 2 * k, Index[k]);
  putCountedText(block + 256, SourceLen, Source, sizeof Source);
  putCountedText(block + 320, DateLen, Date, sizeof Date);
  putLE16(block + 328, Time);
  putCountedText(block + 330, VersionLen, Version, sizeof Version);
  putCountedText(block + 350, CompilerLen, Compiler, sizeof Compiler);
  putCountedText(block + 362, NoticeLen, Notice, sizeof Notice);
  putLE16(block + 426, SymTab);
  putLE16(block + 428, SymEnd);
  putLE16(block + 430, NamTab);
  putLE16(block + 432, NamEnd);
  putLE16(block + 434, LineTab);
  putLE16(block + 436, LineEnd);
  putU8(block + 438, AddrSize);
  putLE16(block + 439, HighAddr);
  putLE16(block + 441, NextDir);
  putLE16(block + 443, MemMapOfs);
  putLE16(block + 445, MemMapEnd);
  putLE16(block + 447, LocalVars);
  putLE16(block + 449, LocalEnd);
  putLE16(block + 451, CodType);
  putCountedText(block + 453, ProcessorLen, Processor, sizeof Processor);
  putLE16(block + 462, LSymTab);
  putLE16(block + 464, LSymEnd);
  putLE16(block + 466, MessTab);
  putLE16(block + 468, MessEnd);
  // Only 42 of the 43 spare bytes fit the block.
  std::memcpy(block + 470, Spare, CodBlockSize - 470);
}

Symbol::Symbol() : NameLen(0), SymbolType(0), SymbolValue(0) {
  std::memset(Name, 0, sizeof Name);
}

Symbol::Symbol(const std::string &name, std::uint8_t type, std::uint16_t value)
    : SymbolType(type), SymbolValue(value) {
  std::size_t len = name.size();
  ORV_ASSERT(len <= MAX_LENGTH, "cod");
  setCountedText(NameLen, Name, MAX_LENGTH, name);
}

void Symbol::serialize(std::uint8_t *at) const {
  putCountedText(at, NameLen, Name, MAX_LENGTH);
  putU8(at + 13, SymbolType);
  putLE16(at + 14, SymbolValue);
}

std::string Symbol::name() const {
  return countedText(NameLen, Name, MAX_LENGTH);
}

SourceName::SourceName() : FileNameLen(0) {
  std::memset(FileName, 0, sizeof FileName);
}

SourceName::SourceName(const std::string &name) {
  std::size_t len = name.size();
  ORV_ASSERT(len <= MAX_LENGTH, "cod");
  setCountedText(FileNameLen, FileName, MAX_LENGTH, name);
}

void SourceName::serialize(std::uint8_t *at) const {
  putCountedText(at, FileNameLen, FileName, MAX_LENGTH);
}

std::string SourceName::name() const {
  return countedText(FileNameLen, FileName, MAX_LENGTH);
}

void LineInfo::serialize(std::uint8_t *at) const {
  putU8(at, FileNum);
  putU8(at + 1, Flags);
  putLE16(at + 2, Line);
  putLE16(at + 4, CodeAddress);
}

void MemoryMap::serialize(std::uint8_t *at) const {
  putLE16(at, Start);
  putLE16(at + 2, Last);
}

void LongSymbol::serialize(std::uint8_t *at) const {
  // The length byte always matches the text that follows it.
  putU8(at, static_cast<std::uint8_t>(Name.size()));
  putChars(at + 1, Name.data(), Name.size());
  std::uint8_t *tail = at + 1 + Name.size();
  putLE16(tail, static_cast<std::uint16_t>(Type));
  putBE32(tail + 2, static_cast<std::uint32_t>(Value));
}

void DebugMsg::serialize(std::uint8_t *at) const {
  putBE32(at, static_cast<std::uint32_t>(Address));
  putU8(at + 4, Type);
  putU8(at + 5, static_cast<std::uint8_t>(Msg.size()));
  putChars(at + 6, Msg.data(), Msg.size());
}

void LocalGroup::serializeHeader(std::uint8_t *at) const {
  static const char marker[] = "__LOCAL";
  putU8(at, 7);
  putChars(at + 1, marker, 7);
  putLE32(at + 8, static_cast<std::uint32_t>(StartAddr));
  putLE32(at + 12, static_cast<std::uint32_t>(EndAddr));
}

std::string symbolTypeName(int type) {
  if (type == SymbolTypeAddress)
    return "address";
  if (type == SymbolTypeConstant)
    return "constant";
  if (type < 0 || type >= SymbolTypeCount)
    return std::string();
  // Nothing in this toolchain writes the other types; a reader still gets
  // a distinct name for each.
  return "type" + std::to_string(type);
}
