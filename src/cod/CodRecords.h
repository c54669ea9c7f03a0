// The records and blocks of a COD debug file. Every fixed-size record keeps
// its fields in file order and serialises itself field by field into a
// block; the variable-size records know their size on disk.
#pragma once

#include "ByteOrder.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <list>
#include <string>
#include <string_view>

constexpr std::size_t CodBlockSize = 512;

// One 512-byte block of the file; new blocks are all zero.
class Block {
public:
  Block() { cBytes.fill(0); }
  bool operator==(const Block &other) const { return cBytes == other.cBytes; }

  std::array<std::uint8_t, CodBlockSize> cBytes;
};

// Copies text into a counted-text field: the length byte and at most
// `width` characters, the rest of the field zero. Text that does not fit is
// cut, so the length byte never names bytes beyond the field.
void setCountedText(std::uint8_t &lengthByte, char *field, std::size_t width,
                    std::string_view text);

class Directory {
public:
  Directory();

  // Writes the 512 bytes of the directory block.
  void serialize(std::uint8_t *block) const;

  std::uint16_t Index[128];
  std::uint8_t SourceLen;
  char Source[63];
  std::uint8_t DateLen;
  char Date[7];
  std::uint16_t Time;
  std::uint8_t VersionLen;
  char Version[19];
  std::uint8_t CompilerLen;
  char Compiler[11];
  std::uint8_t NoticeLen;
  char Notice[63];
  std::uint16_t SymTab;
  std::uint16_t SymEnd;
  std::uint16_t NamTab;
  std::uint16_t NamEnd;
  std::uint16_t LineTab;
  std::uint16_t LineEnd;
  std::uint8_t AddrSize;
  std::uint16_t HighAddr;
  std::uint16_t NextDir;
  std::uint16_t MemMapOfs;
  std::uint16_t MemMapEnd;
  std::uint16_t LocalVars;
  std::uint16_t LocalEnd;
  std::uint16_t CodType;
  std::uint8_t ProcessorLen;
  char Processor[8];
  std::uint16_t LSymTab;
  std::uint16_t LSymEnd;
  std::uint16_t MessTab;
  std::uint16_t MessEnd;
  std::uint8_t Spare[43];
};

class Symbol {
public:
  static constexpr std::size_t SizeInBytes = 16;
  static constexpr std::size_t MAX_LENGTH = 12;

  Symbol();
  // The name must already fit: callers cut longer names themselves.
  Symbol(const std::string &name, std::uint8_t type, std::uint16_t value);
  void serialize(std::uint8_t *at) const;
  // What serialize writes for a record of these fields, the name cut to
  // MAX_LENGTH, without making one (a converter writes tens of thousands).
  static void serialize(std::uint8_t *at, std::string_view name,
                        std::uint8_t type, std::uint16_t value) {
    std::uint8_t record[SizeInBytes] = {};
    const std::size_t length = std::min(name.size(), MAX_LENGTH);
    record[0] = static_cast<std::uint8_t>(length);
    std::memcpy(record + 1, name.data(), length);
    record[13] = type;
    writeLE16(record + 14, value);
    std::memcpy(at, record, SizeInBytes);
  }
  std::string name() const;
  bool operator<(const Symbol &other) const { return name() < other.name(); }
  bool operator==(const Symbol &other) const { return name() == other.name(); }

  std::uint8_t NameLen;
  char Name[MAX_LENGTH];
  std::uint8_t SymbolType;
  std::uint16_t SymbolValue;
};

class SourceName {
public:
  static constexpr std::size_t SizeInBytes = 64;
  static constexpr std::size_t MAX_LENGTH = 63;

  SourceName();
  // The name must fit; the converter refuses longer names before this.
  explicit SourceName(const std::string &name);
  void serialize(std::uint8_t *at) const;
  // What serialize writes for a record of this name, cut to MAX_LENGTH.
  static void serialize(std::uint8_t *at, std::string_view name) {
    const std::size_t length = std::min(name.size(), MAX_LENGTH);
    at[0] = static_cast<std::uint8_t>(length);
    std::memcpy(at + 1, name.data(), length);
    std::memset(at + 1 + length, 0, MAX_LENGTH - length);
  }
  std::string name() const;
  bool operator<(const SourceName &other) const {
    return name() < other.name();
  }
  bool operator==(const SourceName &other) const {
    return name() == other.name();
  }

  std::uint8_t FileNameLen;
  char FileName[MAX_LENGTH];
};

// One listing row as a debugger sees it.
class LineInfo {
public:
  static constexpr std::size_t SizeInBytes = 6;

  LineInfo() = default;
  LineInfo(std::uint8_t fileNum, std::uint8_t flags, std::uint16_t line,
           std::uint16_t codeAddress)
      : FileNum(fileNum), Flags(flags), Line(line), CodeAddress(codeAddress) {}
  void serialize(std::uint8_t *at) const;
  bool operator<(const LineInfo &other) const {
    return FileNum != other.FileNum ? FileNum < other.FileNum
                                    : Line < other.Line;
  }
  bool operator==(const LineInfo &other) const {
    return FileNum == other.FileNum && Line == other.Line;
  }

  std::uint8_t FileNum = 0;
  std::uint8_t Flags = 0;
  std::uint16_t Line = 0;
  std::uint16_t CodeAddress = 0;
};

// An inclusive range of code byte offsets within one directory.
class MemoryMap {
public:
  static constexpr std::size_t SizeInBytes = 4;

  MemoryMap() = default;
  MemoryMap(std::uint16_t start, std::uint16_t last)
      : Start(start), Last(last) {}
  void serialize(std::uint8_t *at) const;
  bool operator<(const MemoryMap &other) const { return Start < other.Start; }
  bool operator==(const MemoryMap &other) const { return Start == other.Start; }

  std::uint16_t Start = 0;
  std::uint16_t Last = 0;
};

class LongSymbol {
public:
  LongSymbol() = default;
  std::size_t sizeInBytes() const { return Name.size() + 7; }
  void serialize(std::uint8_t *at) const;
  // What serialize writes for a record of these fields (name at most 255
  // characters), without making one.
  static std::size_t sizeInBytes(std::string_view name) {
    return name.size() + 7;
  }
  static void serialize(std::uint8_t *at, std::string_view name,
                        std::int16_t type, std::int32_t value) {
    at[0] = static_cast<std::uint8_t>(name.size());
    std::memcpy(at + 1, name.data(), name.size());
    writeLE16(at + 1 + name.size(), static_cast<std::uint16_t>(type));
    writeBE32(at + 3 + name.size(), static_cast<std::uint32_t>(value));
  }
  bool operator<(const LongSymbol &other) const { return Name < other.Name; }
  bool operator==(const LongSymbol &other) const { return Name == other.Name; }

  // Largest first: a converter holds one of these per symbol. The text
  // is not owned: it stays where the records' maker keeps it (the
  // converter views the bytes it read) for as long as the record is used.
  std::string_view Name;
  std::int32_t Value = 0;
  std::int16_t Type = 0;
  // Name's length; the file takes it from Name itself, which is never
  // longer than 255 characters.
  std::uint8_t NameLen = 0;
};

class DebugMsg {
public:
  DebugMsg() = default;
  DebugMsg(std::int32_t address, std::uint8_t type, std::uint8_t msgLen,
           const std::string &msg)
      : Address(address), Type(type), MsgLen(msgLen), Msg(msg) {}
  std::size_t sizeInBytes() const { return Msg.size() + 6; }
  void serialize(std::uint8_t *at) const;
  bool operator<(const DebugMsg &other) const {
    return Address < other.Address;
  }
  bool operator==(const DebugMsg &other) const {
    return Address == other.Address && Msg == other.Msg;
  }

  std::int32_t Address = 0;
  std::uint8_t Type = 0;
  std::uint8_t MsgLen = 0; // Msg's length, at most 255
  std::string Msg;
};

// A group of local symbols valid over an address range; on disk a
// "__LOCAL" header slot followed by the symbols, 16 bytes each.
class LocalGroup {
public:
  static constexpr std::size_t SlotSizeInBytes = 16;

  LocalGroup() = default;
  LocalGroup(std::int32_t startAddr, std::int32_t endAddr,
             const std::list<Symbol> &symbols)
      : StartAddr(startAddr), EndAddr(endAddr), Symbols(symbols) {}
  void serializeHeader(std::uint8_t *at) const;
  bool operator<(const LocalGroup &other) const {
    return StartAddr < other.StartAddr;
  }
  bool operator==(const LocalGroup &other) const {
    return StartAddr == other.StartAddr;
  }

  std::int32_t StartAddr = 0;
  std::int32_t EndAddr = 0;
  std::list<Symbol> Symbols;
};

// The symbol types a COD reader knows by number.
constexpr int SymbolTypeAddress = 46;  // a program-memory location
constexpr int SymbolTypeConstant = 47; // anything else, data addresses too
constexpr int SymbolTypeCount = 152;

// The name of a symbol type, or an empty text for 152 and above.
std::string symbolTypeName(int type);
