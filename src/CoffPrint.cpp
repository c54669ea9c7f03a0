// Debug printers of the COFF records; reached only under trace switches.
#include "CoffRecords.h"

#include "TextUtil.h"

#include <ctime>
#include <string>

namespace {

std::string hex32(std::uint32_t value) { return hexText(value, 4); }
std::string hex16(std::uint32_t value) { return hexText(value, 2); }

std::string timeText(std::uint32_t seconds) {
  std::time_t when = static_cast<std::time_t>(seconds);
  const char *text = std::ctime(&when);
  if (text == nullptr)
    return std::string();
  std::string result(text);
  if (!result.empty() && result.back() == '\n')
    result.pop_back();
  return result;
}

std::string inlineName(const char *name) { return std::string(name, 8); }

} // namespace

void printRecord(const filehdr &rec, std::ostream &out) {
  out << "File Header: " << '\n';
  out << "f_magic=" << rec.f_magic << '\n';
  out << "f_nscns=" << rec.f_nscns << '\n';
  out << "f_timdat=" << rec.f_timdat << " (" << timeText(rec.f_timdat) << ") "
      << '\n';
  out << "f_symptr=" << hex32(rec.f_symptr) << '\n';
  out << "f_nsyms=" << rec.f_nsyms << '\n';
  out << "f_opthdr=" << rec.f_opthdr << '\n';
  out << "f_flags=" << hex16(rec.f_flags) << '\n';
}

void printRecord(const opthdr &rec, std::ostream &out) {
  out << "Optional Header: " << '\n';
  out << "magic=" << rec.magic << '\n';
  out << "vstamp=" << rec.vstamp << '\n';
  out << "proc_type=" << hex32(rec.proc_type) << '\n';
  out << "rom_width_bits=" << rec.rom_width_bits << '\n';
  out << "ram_width_bits=" << rec.ram_width_bits << '\n';
}

void printRecord(const scnhdr &rec, std::ostream &out) {
  out << "Section Header: " << '\n';
  if (rec.hasLongName())
    out << "_s_offset=" << rec.nameOffset() << '\n';
  else
    out << "_s_name=" << inlineName(rec._s_name) << '\n';
  out << "s_paddr=" << hex32(rec.s_paddr) << '\n';
  out << "s_vaddr=" << hex32(rec.s_vaddr) << '\n';
  out << "s_size=" << rec.s_size << '\n';
  out << "s_scnptr=" << hex32(rec.s_scnptr) << '\n';
  out << "s_relptr=" << hex32(rec.s_relptr) << '\n';
  out << "s_lnnoptr=" << hex32(rec.s_lnnoptr) << '\n';
  out << "s_nreloc=" << rec.s_nreloc << '\n';
  out << "s_nlnno=" << rec.s_nlnno << '\n';
  out << "s_flags=" << hex32(rec.s_flags) << '\n';
}

void printRecord(const reloc &rec, std::ostream &out) {
  out << "Relocation: r_vaddr=" << hex32(rec.r_vaddr)
      << ", r_symndx=" << rec.r_symndx << ", r_offset=" << rec.r_offset
      << ", r_type=" << rec.r_type << '\n';
}

void printRecord(const gnu_lineno &rec, std::ostream &out) {
  out << "Gnu Line Number: " << '\n';
  if (rec.l_lnno != 0) {
    out << "l_paddr=" << hex32(rec.l_paddr) << '\n';
    out << "l_lnno=" << rec.l_lnno << '\n';
  } else {
    out << "l_symndx=" << rec.l_symndx() << '\n';
  }
}

void printRecord(const coff_lineno &rec, std::ostream &out) {
  out << "Line Number: l_srcndx=" << rec.l_srcndx << ", l_lnno=" << rec.l_lnno
      << ", l_paddr=" << hex32(rec.l_paddr)
      << ", l_flags=" << hex16(rec.l_flags) << ", l_fcnndx=" << rec.l_fcnndx
      << '\n';
}

void printRecord(const syment &rec, std::ostream &out) {
  out << "Symbol: ";
  if (rec.hasLongName())
    out << "_n_offset=" << rec.nameOffset();
  else
    out << "_n_name=" << inlineName(rec._n_name);
  out << ", n_value=" << hex32(rec.n_value) << ", n_scnum=" << rec.n_scnum
      << ", n_type=" << hex16(rec.n_type)
      << ", n_sclass=" << static_cast<unsigned>(rec.n_sclass)
      << ", n_numaux=" << static_cast<unsigned>(rec.n_numaux) << '\n';
}

void printRecord(const aux_file &rec, std::ostream &out) {
  out << "Aux File: x_offset=" << rec.x_offset
      << ", x_incline=" << rec.x_incline << '\n';
}

void printRecord(const aux_scn &rec, std::ostream &out) {
  out << "Aux Scn: x_scnlen=" << rec.x_scnlen << ", x_nreloc=" << rec.x_nreloc
      << ", x_nlinno=" << rec.x_nlinno << '\n';
}

void printRecord(const aux_tag &rec, std::ostream &out) {
  out << "Aux Tag: x_size=" << rec.x_size << ", x_endndx=" << rec.x_endndx
      << '\n';
}

void printRecord(const aux_eos &rec, std::ostream &out) {
  out << "Aux Eos: x_tagndx=" << rec.x_tagndx << ", x_size=" << rec.x_size
      << '\n';
}

void printRecord(const aux_fcn &rec, std::ostream &out) {
  out << "Aux Fcn: x_tagndx=" << rec.x_tagndx << " (unused?)"
      << ", x_size=" << rec.x_size << " (unused?)"
      << ", x_lnnoptr=" << hex32(rec.x_lnnoptr) << ", x_edndx=" << rec.x_endndx
      << '\n';
}

// The only printer without a final line break.
void printRecord(const aux_arr &rec, std::ostream &out) {
  out << "Aux Arr: x_tagndx=" << rec.x_tagndx << " (unused?)"
      << ", x_lnno=" << rec.x_lnno << " (unused?)"
      << ", x_size=" << rec.x_size;
  for (int i = 0; i < 4; ++i)
    out << ", x_dimen[" << i << "]=" << rec.x_dimen[i];
}

void printRecord(const aux_eobf &rec, std::ostream &out) {
  out << "Aux Eobf: x_lnno=" << rec.x_lnno << '\n';
}

void printRecord(const aux_bobf &rec, std::ostream &out) {
  out << "Aux Bobf: x_lnno=" << rec.x_lnno << ", x_endndx=" << rec.x_endndx
      << '\n';
}

void printRecord(const aux_var &rec, std::ostream &out) {
  out << "Aux Var: x_tagndx=" << rec.x_tagndx << ", x_size=" << rec.x_size
      << '\n';
}
