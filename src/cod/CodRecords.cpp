#include "cod/CodRecords.h"

#include "Assert.h"
#include "ByteOrder.h"

#include <algorithm>
#include <cstring>

namespace {

void putChars(std::uint8_t *at, const char *chars, std::size_t count) {
  std::memcpy(at, chars, count);
}

// Length byte first, then the fixed-width field as it is (zero-padded).
void putCountedText(std::uint8_t *at, std::uint8_t length, const char *field,
                    std::size_t width) {
  writeU8(at, length);
  putChars(at + 1, field, width);
}

std::string countedText(std::uint8_t length, const char *field,
                        std::size_t width) {
  return std::string(field, std::min<std::size_t>(length, width));
}

} // namespace

void setCountedText(std::uint8_t &lengthByte, char *field, std::size_t width,
                    std::string_view text) {
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
    writeLE16(block + 2 * k, Index[k]);
  putCountedText(block + 256, SourceLen, Source, sizeof Source);
  putCountedText(block + 320, DateLen, Date, sizeof Date);
  writeLE16(block + 328, Time);
  putCountedText(block + 330, VersionLen, Version, sizeof Version);
  putCountedText(block + 350, CompilerLen, Compiler, sizeof Compiler);
  putCountedText(block + 362, NoticeLen, Notice, sizeof Notice);
  writeLE16(block + 426, SymTab);
  writeLE16(block + 428, SymEnd);
  writeLE16(block + 430, NamTab);
  writeLE16(block + 432, NamEnd);
  writeLE16(block + 434, LineTab);
  writeLE16(block + 436, LineEnd);
  writeU8(block + 438, AddrSize);
  writeLE16(block + 439, HighAddr);
  writeLE16(block + 441, NextDir);
  writeLE16(block + 443, MemMapOfs);
  writeLE16(block + 445, MemMapEnd);
  writeLE16(block + 447, LocalVars);
  writeLE16(block + 449, LocalEnd);
  writeLE16(block + 451, CodType);
  putCountedText(block + 453, ProcessorLen, Processor, sizeof Processor);
  writeLE16(block + 462, LSymTab);
  writeLE16(block + 464, LSymEnd);
  writeLE16(block + 466, MessTab);
  writeLE16(block + 468, MessEnd);
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
  writeU8(at + 13, SymbolType);
  writeLE16(at + 14, SymbolValue);
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
  writeU8(at, FileNum);
  writeU8(at + 1, Flags);
  writeLE16(at + 2, Line);
  writeLE16(at + 4, CodeAddress);
}

void MemoryMap::serialize(std::uint8_t *at) const {
  writeLE16(at, Start);
  writeLE16(at + 2, Last);
}

void LongSymbol::serialize(std::uint8_t *at) const {
  // The length byte always matches the text that follows it.
  writeU8(at, static_cast<std::uint8_t>(Name.size()));
  putChars(at + 1, Name.data(), Name.size());
  std::uint8_t *tail = at + 1 + Name.size();
  writeLE16(tail, static_cast<std::uint16_t>(Type));
  writeBE32(tail + 2, static_cast<std::uint32_t>(Value));
}

void DebugMsg::serialize(std::uint8_t *at) const {
  writeBE32(at, static_cast<std::uint32_t>(Address));
  writeU8(at + 4, Type);
  writeU8(at + 5, static_cast<std::uint8_t>(Msg.size()));
  putChars(at + 6, Msg.data(), Msg.size());
}

void LocalGroup::serializeHeader(std::uint8_t *at) const {
  static const char marker[] = "__LOCAL";
  writeU8(at, 7);
  putChars(at + 1, marker, 7);
  writeLE32(at + 8, static_cast<std::uint32_t>(StartAddr));
  writeLE32(at + 12, static_cast<std::uint32_t>(EndAddr));
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
