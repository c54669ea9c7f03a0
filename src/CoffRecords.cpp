#include "CoffRecords.h"

#include "ByteOrder.h"

#include <cstring>

namespace {

bool nameIsLong(const char *name) {
  return name[0] == 0 && name[1] == 0 && name[2] == 0 && name[3] == 0;
}

std::uint32_t longNameOffset(const char *name) {
  return readLE32(reinterpret_cast<const std::uint8_t *>(name) + 4);
}

void storeLongNameOffset(char *name, std::uint32_t offset) {
  std::uint8_t bytes[8] = {};
  writeLE32(bytes + 4, offset);
  std::memcpy(name, bytes, 8);
}

} // namespace

// Eight bytes at a time: a linked file's table holds a string every few
// bytes, too many for a search call per string.
std::size_t keptStringsEnd(const std::uint8_t *text, std::size_t sizeInBytes) {
  if (sizeInBytes == 0)
    return 0;
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  // Bit 7 set when the byte before the current word is a NUL; at the start
  // it counts as one, since an empty first string ends the table too.
  std::uint64_t nulBefore = 0x80;
  std::size_t at = 0;
  for (; at + 8 <= sizeInBytes; at += 8) {
    const std::uint64_t word = readLE64(text + at);
    // Bit 7 of each NUL byte, exactly.
    const std::uint64_t nuls = ~(((word & kLow7) + kLow7) | word | kLow7);
    // NULs whose previous byte is a NUL too: an empty string starts there.
    const std::uint64_t empty = nuls & ((nuls << 8) | nulBefore);
    if (empty != 0)
      return at + static_cast<std::size_t>(__builtin_ctzll(empty) / 8);
    nulBefore = nuls >> 56;
  }
  for (; at < sizeInBytes; ++at)
    if (text[at] == 0 && (at == 0 || text[at - 1] == 0))
      return at;
  // No empty string: an unterminated tail is not a string.
  const void *lastNul = memrchr(text, 0, sizeInBytes);
  return lastNul == nullptr
             ? 0
             : static_cast<std::size_t>(
                   static_cast<const std::uint8_t *>(lastNul) - text) +
                   1;
}

filehdr filehdr::decode(const std::uint8_t *bytes) {
  filehdr rec;
  rec.f_magic = readLE16(bytes + 0);
  rec.f_nscns = readLE16(bytes + 2);
  rec.f_timdat = readLE32(bytes + 4);
  rec.f_symptr = readLE32(bytes + 8);
  rec.f_nsyms = readLE32(bytes + 12);
  rec.f_opthdr = readLE16(bytes + 16);
  rec.f_flags = readLE16(bytes + 18);
  return rec;
}

void filehdr::encode(std::uint8_t *bytes) const {
  writeLE16(bytes + 0, f_magic);
  writeLE16(bytes + 2, f_nscns);
  writeLE32(bytes + 4, f_timdat);
  writeLE32(bytes + 8, f_symptr);
  writeLE32(bytes + 12, f_nsyms);
  writeLE16(bytes + 16, f_opthdr);
  writeLE16(bytes + 18, f_flags);
}

opthdr opthdr::decode(const std::uint8_t *bytes) {
  opthdr rec;
  rec.magic = readLE16(bytes + 0);
  rec.vstamp = readLE16(bytes + 2);
  rec.proc_type = readLE32(bytes + 4);
  rec.rom_width_bits = readLE32(bytes + 8);
  rec.ram_width_bits = readLE32(bytes + 12);
  return rec;
}

void opthdr::encode(std::uint8_t *bytes) const {
  writeLE16(bytes + 0, magic);
  writeLE16(bytes + 2, vstamp);
  writeLE32(bytes + 4, proc_type);
  writeLE32(bytes + 8, rom_width_bits);
  writeLE32(bytes + 12, ram_width_bits);
}

bool scnhdr::hasLongName() const { return nameIsLong(_s_name); }
std::uint32_t scnhdr::nameOffset() const { return longNameOffset(_s_name); }
void scnhdr::setNameOffset(std::uint32_t offset) {
  storeLongNameOffset(_s_name, offset);
}

scnhdr scnhdr::decode(const std::uint8_t *bytes) {
  scnhdr rec;
  std::memcpy(rec._s_name, bytes, 8);
  rec.s_paddr = readLE32(bytes + 8);
  rec.s_vaddr = readLE32(bytes + 12);
  rec.s_size = readLE32(bytes + 16);
  rec.s_scnptr = readLE32(bytes + 20);
  rec.s_relptr = readLE32(bytes + 24);
  rec.s_lnnoptr = readLE32(bytes + 28);
  rec.s_nreloc = readLE16(bytes + 32);
  rec.s_nlnno = readLE16(bytes + 34);
  rec.s_flags = readLE32(bytes + 36);
  return rec;
}

void scnhdr::encode(std::uint8_t *bytes) const {
  std::memcpy(bytes, _s_name, 8);
  writeLE32(bytes + 8, s_paddr);
  writeLE32(bytes + 12, s_vaddr);
  writeLE32(bytes + 16, s_size);
  writeLE32(bytes + 20, s_scnptr);
  writeLE32(bytes + 24, s_relptr);
  writeLE32(bytes + 28, s_lnnoptr);
  writeLE16(bytes + 32, s_nreloc);
  writeLE16(bytes + 34, s_nlnno);
  writeLE32(bytes + 36, s_flags);
}

reloc reloc::decode(const std::uint8_t *bytes) {
  reloc rec;
  rec.r_vaddr = readLE32(bytes + 0);
  rec.r_symndx = readLE32(bytes + 4);
  rec.r_offset = static_cast<std::int16_t>(readLE16(bytes + 8));
  rec.r_type = readLE16(bytes + 10);
  return rec;
}

void reloc::encode(std::uint8_t *bytes) const {
  writeLE32(bytes + 0, r_vaddr);
  writeLE32(bytes + 4, r_symndx);
  writeLE16(bytes + 8, static_cast<std::uint16_t>(r_offset));
  writeLE16(bytes + 10, r_type);
}

bool operator<(const reloc &a, const reloc &b) { return a.r_vaddr < b.r_vaddr; }
bool operator==(const reloc &a, const reloc &b) {
  return a.r_vaddr == b.r_vaddr && a.r_symndx == b.r_symndx &&
         a.r_type == b.r_type;
}

coff_lineno coff_lineno::decode(const std::uint8_t *bytes) {
  coff_lineno rec;
  rec.l_srcndx = readLE32(bytes + 0);
  rec.l_lnno = readLE16(bytes + 4);
  rec.l_paddr = readLE32(bytes + 6);
  rec.l_flags = readLE16(bytes + 10);
  rec.l_fcnndx = readLE32(bytes + 12);
  return rec;
}

void coff_lineno::encode(std::uint8_t *bytes) const {
  writeLE32(bytes + 0, l_srcndx);
  writeLE16(bytes + 4, l_lnno);
  writeLE32(bytes + 6, l_paddr);
  writeLE16(bytes + 10, l_flags);
  writeLE32(bytes + 12, l_fcnndx);
}

bool operator<(const coff_lineno &a, const coff_lineno &b) {
  return a.l_lnno < b.l_lnno;
}
bool operator==(const coff_lineno &a, const coff_lineno &b) {
  return a.l_srcndx == b.l_srcndx && a.l_lnno == b.l_lnno &&
         a.l_paddr == b.l_paddr;
}

gnu_lineno gnu_lineno::decode(const std::uint8_t *bytes) {
  gnu_lineno rec;
  rec.l_paddr = readLE32(bytes + 0);
  rec.l_lnno = readLE16(bytes + 4);
  return rec;
}

gnu_reloc gnu_reloc::decode(const std::uint8_t *bytes) {
  gnu_reloc rec;
  rec.r_vaddr = readLE32(bytes + 0);
  rec.r_symndx = readLE32(bytes + 4);
  rec.r_type = readLE16(bytes + 8);
  return rec;
}

bool syment::hasLongName() const { return nameIsLong(_n_name); }
std::uint32_t syment::nameOffset() const { return longNameOffset(_n_name); }

std::string_view syment::inlineName() const {
  const void *nul = std::memchr(_n_name, 0, sizeof _n_name);
  return std::string_view(
      _n_name, nul == nullptr ? sizeof _n_name
                              : static_cast<const char *>(nul) - _n_name);
}

void syment::setNameOffset(std::uint32_t offset) {
  storeLongNameOffset(_n_name, offset);
}

syment syment::decode(const std::uint8_t *bytes) {
  syment rec;
  std::memcpy(rec._n_name, bytes, 8);
  rec.n_value = readLE32(bytes + 8);
  rec.n_scnum = static_cast<std::int16_t>(readLE16(bytes + 12));
  rec.n_type = readLE16(bytes + 14);
  rec.n_sclass = bytes[16];
  rec.n_numaux = bytes[17];
  return rec;
}

void syment::encode(std::uint8_t *bytes) const {
  std::memcpy(bytes, _n_name, 8);
  writeLE32(bytes + 8, n_value);
  writeLE16(bytes + 12, static_cast<std::uint16_t>(n_scnum));
  writeLE16(bytes + 14, n_type);
  bytes[16] = n_sclass;
  bytes[17] = n_numaux;
}

aux_file aux_file::decode(const std::uint8_t *bytes) {
  aux_file rec;
  rec.x_offset = readLE32(bytes + 0);
  rec.x_incline = readLE32(bytes + 4);
  return rec;
}

void aux_file::encode(std::uint8_t *bytes) const {
  writeLE32(bytes + 0, x_offset);
  writeLE32(bytes + 4, x_incline);
}

aux_scn aux_scn::decode(const std::uint8_t *bytes) {
  aux_scn rec;
  rec.x_scnlen = readLE32(bytes + 0);
  rec.x_nreloc = readLE16(bytes + 4);
  rec.x_nlinno = readLE16(bytes + 6);
  return rec;
}

void aux_scn::encode(std::uint8_t *bytes) const {
  writeLE32(bytes + 0, x_scnlen);
  writeLE16(bytes + 4, x_nreloc);
  writeLE16(bytes + 6, x_nlinno);
}

aux_tag aux_tag::decode(const std::uint8_t *bytes) {
  aux_tag rec;
  rec.x_size = readLE16(bytes + 6);
  rec.x_endndx = readLE32(bytes + 12);
  return rec;
}

void aux_tag::encode(std::uint8_t *bytes) const {
  writeLE16(bytes + 6, x_size);
  writeLE32(bytes + 12, x_endndx);
}

aux_eos aux_eos::decode(const std::uint8_t *bytes) {
  aux_eos rec;
  rec.x_tagndx = readLE32(bytes + 0);
  rec.x_size = readLE16(bytes + 6);
  return rec;
}

void aux_eos::encode(std::uint8_t *bytes) const {
  writeLE32(bytes + 0, x_tagndx);
  writeLE16(bytes + 6, x_size);
}

aux_fcn aux_fcn::decode(const std::uint8_t *bytes) {
  aux_fcn rec;
  rec.x_tagndx = readLE32(bytes + 0);
  rec.x_size = readLE32(bytes + 4);
  rec.x_lnnoptr = readLE32(bytes + 8);
  rec.x_endndx = readLE32(bytes + 12);
  return rec;
}

void aux_fcn::encode(std::uint8_t *bytes) const {
  writeLE32(bytes + 0, x_tagndx);
  writeLE32(bytes + 4, x_size);
  writeLE32(bytes + 8, x_lnnoptr);
  writeLE32(bytes + 12, x_endndx);
}

aux_arr aux_arr::decode(const std::uint8_t *bytes) {
  aux_arr rec;
  rec.x_tagndx = readLE32(bytes + 0);
  rec.x_lnno = readLE16(bytes + 4);
  rec.x_size = readLE16(bytes + 6);
  for (int i = 0; i < 4; ++i)
    rec.x_dimen[i] = readLE16(bytes + 8 + 2 * i);
  return rec;
}

void aux_arr::encode(std::uint8_t *bytes) const {
  writeLE32(bytes + 0, x_tagndx);
  writeLE16(bytes + 4, x_lnno);
  writeLE16(bytes + 6, x_size);
  for (int i = 0; i < 4; ++i)
    writeLE16(bytes + 8 + 2 * i, x_dimen[i]);
}

aux_eobf aux_eobf::decode(const std::uint8_t *bytes) {
  aux_eobf rec;
  rec.x_lnno = readLE16(bytes + 4);
  return rec;
}

void aux_eobf::encode(std::uint8_t *bytes) const {
  writeLE16(bytes + 4, x_lnno);
}

aux_bobf aux_bobf::decode(const std::uint8_t *bytes) {
  aux_bobf rec;
  rec.x_lnno = readLE16(bytes + 4);
  rec.x_endndx = readLE32(bytes + 12);
  return rec;
}

void aux_bobf::encode(std::uint8_t *bytes) const {
  writeLE16(bytes + 4, x_lnno);
  writeLE32(bytes + 12, x_endndx);
}

aux_var aux_var::decode(const std::uint8_t *bytes) {
  aux_var rec;
  rec.x_tagndx = readLE32(bytes + 0);
  rec.x_size = readLE16(bytes + 6);
  return rec;
}

void aux_var::encode(std::uint8_t *bytes) const {
  writeLE32(bytes + 0, x_tagndx);
  writeLE16(bytes + 6, x_size);
}
