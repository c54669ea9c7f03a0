// The records of the object-file format (COFF, file magic 0x1234), held in
// memory with exactly the fields, widths and order of the file. Each record
// reads itself from and writes itself to its file bytes through the
// little-endian helpers of ByteOrder.h (decode/encode); nothing is ever
// copied as a whole struct.
//
// Names: `_s_name` / `_n_name` hold the 8 raw name bytes. When their first
// 4 bytes are zero the name is long and bytes 4..7 hold its string-table
// offset (`_s_offset` / `_n_offset`): read it with nameOffset(), store a
// long name's offset with setNameOffset(). Coff::getName/Coff::setName do
// the whole lookup.
//
// Auxiliary symbol entries share the 18 bytes of a symbol-table entry, so the
// symbol table keeps every entry as a `syment`; an auxiliary entry is read
// through the record of its kind with readAux<aux_fcn>(entry) and changed
// with writeAux(entry, aux), which rewrites only the fields the record names
// and keeps the reserved bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string_view>

// File header magic, and the optional-header size of the current layout.
constexpr std::uint16_t kCoffMagic = 0x1234;
constexpr std::uint16_t kOptHdrSizeInBytes = 16;

// f_flags bits.
constexpr std::uint16_t kFileExecutable = 0x0002;
constexpr std::uint16_t kFileNoLineNumbers = 0x0004;
constexpr std::uint16_t kFileNoLocalSymbols = 0x0080;
// The object only has to match the link's processor family.
constexpr std::uint16_t kFileFamilyGeneric = 0x8000;

// s_flags bits.
constexpr std::uint32_t kScnCode = 0x0020;
constexpr std::uint32_t kScnIdata = 0x0040;
constexpr std::uint32_t kScnUdata = 0x0080; // no raw data in the file
constexpr std::uint32_t kScnRomdata = 0x0100;
constexpr std::uint32_t kScnAbsolute = 0x1000;
constexpr std::uint32_t kScnShared = 0x2000;
constexpr std::uint32_t kScnOverlay = 0x4000;
constexpr std::uint32_t kScnAccess = 0x8000;

// Section type codes derived from s_flags.
constexpr std::uint8_t kScnTypeNone = 0;
constexpr std::uint8_t kScnTypeCode = 1;
constexpr std::uint8_t kScnTypeIdata = 2;
constexpr std::uint8_t kScnTypeUdata = 3;
constexpr std::uint8_t kScnTypeRomdata = 4;

// Storage classes (n_sclass).
constexpr std::uint8_t kClassExternal = 2;
constexpr std::uint8_t kClassStatic = 3;
constexpr std::uint8_t kClassLabel = 6;
constexpr std::uint8_t kClassStructTag = 10;
constexpr std::uint8_t kClassUnionTag = 12;
constexpr std::uint8_t kClassEnumTag = 15;
constexpr std::uint8_t kClassBlock = 100;
constexpr std::uint8_t kClassFunction = 101;
constexpr std::uint8_t kClassEndOfStruct = 102;
constexpr std::uint8_t kClassFile = 103;
constexpr std::uint8_t kClassSection = 109;

// Special section numbers (n_scnum) that name no section.
constexpr std::int16_t kScnNumUndefined = 0;
constexpr std::int16_t kScnNumAbsolute = -1;
constexpr std::int16_t kScnNumDebug = -2;

// n_type: base type in bits 0-3, six 2-bit derived levels from bit 4.
constexpr std::uint16_t kDerivedFunction = 2;
constexpr std::uint16_t kDerivedArray = 3;

// l_flags: l_fcnndx is valid.
constexpr std::uint16_t kLineHasFcnNdx = 0x0001;

// Aux kinds, as kept in Coff::cAuxType (0 is a symbol entry).
constexpr int kAuxNone = 0;
constexpr int kAuxFile = 1;
constexpr int kAuxScn = 2;
constexpr int kAuxTag = 3;
constexpr int kAuxEos = 4;
constexpr int kAuxFcn = 5;
constexpr int kAuxArr = 6;
constexpr int kAuxEobf = 7;
constexpr int kAuxBobf = 8;
constexpr int kAuxVar = 9;

struct filehdr {
  static constexpr std::size_t sizeInBytes = 20;
  std::uint16_t f_magic = 0;
  std::uint16_t f_nscns = 0;
  std::uint32_t f_timdat = 0;
  std::uint32_t f_symptr = 0;
  std::uint32_t f_nsyms = 0;
  std::uint16_t f_opthdr = 0;
  std::uint16_t f_flags = 0;

  static filehdr decode(const std::uint8_t *bytes);
  void encode(std::uint8_t *bytes) const;
};

struct opthdr {
  static constexpr std::size_t sizeInBytes = 16;
  std::uint16_t magic = 0;
  std::uint16_t vstamp = 0;
  std::uint32_t proc_type = 0; // 16-bit device code, zero-extended
  std::uint32_t rom_width_bits = 0;
  std::uint32_t ram_width_bits = 0;

  static opthdr decode(const std::uint8_t *bytes);
  void encode(std::uint8_t *bytes) const;
};

struct scnhdr {
  static constexpr std::size_t sizeInBytes = 40;
  char _s_name[8] = {}; // inline name, or 4 zero bytes and _s_offset
  std::uint32_t s_paddr = 0;
  std::uint32_t s_vaddr = 0;
  std::uint32_t s_size = 0; // contents in bytes
  std::uint32_t s_scnptr = 0;
  std::uint32_t s_relptr = 0;
  std::uint32_t s_lnnoptr = 0;
  std::uint16_t s_nreloc = 0;
  std::uint16_t s_nlnno = 0;
  std::uint32_t s_flags = 0;

  bool hasLongName() const;
  std::uint32_t nameOffset() const; // _s_offset
  void setNameOffset(std::uint32_t offset);

  static scnhdr decode(const std::uint8_t *bytes);
  void encode(std::uint8_t *bytes) const;
};

struct reloc {
  static constexpr std::size_t sizeInBytes = 12;
  std::uint32_t r_vaddr = 0;
  std::uint32_t r_symndx = 0;
  std::int16_t r_offset = 0; // signed addend
  std::uint16_t r_type = 0;

  static reloc decode(const std::uint8_t *bytes);
  void encode(std::uint8_t *bytes) const;
};
// Ordered by r_vaddr; r_offset takes no part in equality.
bool operator<(const reloc &a, const reloc &b);
bool operator==(const reloc &a, const reloc &b);

// Line numbers: l_paddr sits unaligned at offset 6.
struct coff_lineno {
  static constexpr std::size_t sizeInBytes = 16;
  std::uint32_t l_srcndx = 0;
  std::uint16_t l_lnno = 0;
  std::uint32_t l_paddr = 0;
  std::uint16_t l_flags = 0;
  std::uint32_t l_fcnndx = 0;

  static coff_lineno decode(const std::uint8_t *bytes);
  void encode(std::uint8_t *bytes) const;
};
// Ordered by l_lnno; l_flags and l_fcnndx take no part in equality.
bool operator<(const coff_lineno &a, const coff_lineno &b);
bool operator==(const coff_lineno &a, const coff_lineno &b);

// Old layout, read only: the first field is the function's symbol index
// when l_lnno is 0 and the line's address otherwise.
struct gnu_lineno {
  static constexpr std::size_t sizeInBytes = 6;
  std::uint32_t l_paddr = 0;
  std::uint16_t l_lnno = 0;

  std::uint32_t l_symndx() const { return l_paddr; }
  static gnu_lineno decode(const std::uint8_t *bytes);
};

// Old layout relocation, read only.
struct gnu_reloc {
  static constexpr std::size_t sizeInBytes = 10;
  std::uint32_t r_vaddr = 0;
  std::uint32_t r_symndx = 0;
  std::uint16_t r_type = 0;

  static gnu_reloc decode(const std::uint8_t *bytes);
};

struct syment {
  static constexpr std::size_t sizeInBytes = 18;
  char _n_name[8] = {}; // inline name, or 4 zero bytes and _n_offset
  std::uint32_t n_value = 0;
  std::int16_t n_scnum = 0;
  std::uint16_t n_type = 0;
  std::uint8_t n_sclass = 0;
  std::uint8_t n_numaux = 0;

  bool hasLongName() const;
  std::uint32_t nameOffset() const; // _n_offset
  void setNameOffset(std::uint32_t offset);
  // A short name in place: up to the first NUL, or all 8 bytes.
  std::string_view inlineName() const;

  static syment decode(const std::uint8_t *bytes);
  void encode(std::uint8_t *bytes) const;
};

// Auxiliary entries. decode reads the named fields; encode writes only them
// into an existing 18-byte entry, so reserved bytes survive.
struct aux_file {
  std::uint32_t x_offset = 0; // string-table offset of the file name
  std::uint32_t x_incline = 0;
  static aux_file decode(const std::uint8_t *bytes);
  void encode(std::uint8_t *bytes) const;
};

struct aux_scn {
  std::uint32_t x_scnlen = 0;
  std::uint16_t x_nreloc = 0;
  std::uint16_t x_nlinno = 0;
  static aux_scn decode(const std::uint8_t *bytes);
  void encode(std::uint8_t *bytes) const;
};

struct aux_tag {
  std::uint16_t x_size = 0;
  std::uint32_t x_endndx = 0;
  static aux_tag decode(const std::uint8_t *bytes);
  void encode(std::uint8_t *bytes) const;
};

struct aux_eos {
  std::uint32_t x_tagndx = 0;
  std::uint16_t x_size = 0;
  static aux_eos decode(const std::uint8_t *bytes);
  void encode(std::uint8_t *bytes) const;
};

struct aux_fcn {
  std::uint32_t x_tagndx = 0;
  std::uint32_t x_size = 0;
  std::uint32_t x_lnnoptr = 0;
  std::uint32_t x_endndx = 0;
  static aux_fcn decode(const std::uint8_t *bytes);
  void encode(std::uint8_t *bytes) const;
};

struct aux_arr {
  std::uint32_t x_tagndx = 0;
  std::uint16_t x_lnno = 0;
  std::uint16_t x_size = 0;
  std::uint16_t x_dimen[4] = {};
  static aux_arr decode(const std::uint8_t *bytes);
  void encode(std::uint8_t *bytes) const;
};

struct aux_eobf {
  std::uint16_t x_lnno = 0;
  static aux_eobf decode(const std::uint8_t *bytes);
  void encode(std::uint8_t *bytes) const;
};

struct aux_bobf {
  std::uint16_t x_lnno = 0;
  std::uint32_t x_endndx = 0;
  static aux_bobf decode(const std::uint8_t *bytes);
  void encode(std::uint8_t *bytes) const;
};

struct aux_var {
  std::uint32_t x_tagndx = 0;
  std::uint16_t x_size = 0;
  static aux_var decode(const std::uint8_t *bytes);
  void encode(std::uint8_t *bytes) const;
};

// The string table's text (the bytes after its length field) holds the
// strings a reader keeps from its start up to the first empty string, or,
// without one, up to the last NUL. Gives the length of that stretch, NULs
// included: 4 + it is the first offset past the kept strings.
std::size_t keptStringsEnd(const std::uint8_t *text, std::size_t sizeInBytes);

// Reads a symbol-table entry as the auxiliary record Aux.
template <class Aux> Aux readAux(const syment &entry) {
  std::uint8_t bytes[syment::sizeInBytes];
  entry.encode(bytes);
  return Aux::decode(bytes);
}

// Stores the fields of an auxiliary record into a symbol-table entry.
template <class Aux> void writeAux(syment &entry, const Aux &aux) {
  std::uint8_t bytes[syment::sizeInBytes];
  entry.encode(bytes);
  aux.encode(bytes);
  entry = syment::decode(bytes);
}

// Debug printers, reached only under trace switches.
void printRecord(const filehdr &rec, std::ostream &out);
void printRecord(const opthdr &rec, std::ostream &out);
void printRecord(const scnhdr &rec, std::ostream &out);
void printRecord(const reloc &rec, std::ostream &out);
void printRecord(const gnu_lineno &rec, std::ostream &out);
void printRecord(const coff_lineno &rec, std::ostream &out);
void printRecord(const syment &rec, std::ostream &out);
void printRecord(const aux_file &rec, std::ostream &out);
void printRecord(const aux_scn &rec, std::ostream &out);
void printRecord(const aux_tag &rec, std::ostream &out);
void printRecord(const aux_eos &rec, std::ostream &out);
void printRecord(const aux_fcn &rec, std::ostream &out);
void printRecord(const aux_arr &rec, std::ostream &out);
void printRecord(const aux_eobf &rec, std::ostream &out);
void printRecord(const aux_bobf &rec, std::ostream &out);
void printRecord(const aux_var &rec, std::ostream &out);
