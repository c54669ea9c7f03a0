// Reading an object image, of the current layout or the old one, into a
// Coff. Every count and file pointer comes from the file, so each block is
// checked against the bytes the file holds (in 64 bits) before anything is
// allocated or read.
#include "Coff.h"

#include "ByteOrder.h"
#include "Messages.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <sstream>

namespace {

// No memory of the supported processors comes near this; a zero-filled
// section claiming more is a damaged file, not something to allocate.
constexpr std::uint64_t kMaxZeroFilledSectionBytes = 16u * 1024u * 1024u;

// Positioned reads inside one image of an open stream, bounded by the
// stream's length.
class ImageReader {
public:
  ImageReader(std::FILE *file, long byteOffset) : cFile(file) {
    if (byteOffset < 0 || std::fseek(file, 0, SEEK_END) != 0)
      return;
    long end = std::ftell(file);
    if (end < 0 || end < byteOffset)
      return;
    cBase = static_cast<std::uint64_t>(byteOffset);
    cBytesLeft = static_cast<std::uint64_t>(end - byteOffset);
  }

  // Reads count bytes at offset (from the image's start); false when they
  // are not all in the file.
  bool read(std::uint64_t offset, std::uint64_t count,
            std::vector<std::uint8_t> &out) {
    if (offset > cBytesLeft || count > cBytesLeft - offset)
      return false;
    out.resize(count);
    if (count == 0)
      return true;
    std::uint64_t position = cBase + offset;
    if (position > static_cast<std::uint64_t>(LONG_MAX) ||
        std::fseek(cFile, static_cast<long>(position), SEEK_SET) != 0)
      return false;
    return std::fread(out.data(), 1, count, cFile) == count;
  }

  bool fits(std::uint64_t offset, std::uint64_t count) const {
    return offset <= cBytesLeft && count <= cBytesLeft - offset;
  }

private:
  std::FILE *cFile;
  std::uint64_t cBase = 0;
  std::uint64_t cBytesLeft = 0;
};

class CoffReader {
public:
  CoffReader(std::FILE *file, long byteOffset, const std::string &name)
      : cIn(file, byteOffset), cName(name) {}

  std::unique_ptr<Coff> read();

private:
  bool fail(const std::string &what);
  bool readHeaders();
  bool readStringTable();
  void splitStrings(const std::vector<std::uint8_t> &text);
  bool readSymbolTable();
  void moveOldFileName(syment &aux);
  bool readSections();
  bool readSection(int number);
  bool readRawData(const scnhdr &hdr, const std::string &name);
  bool readLineNumbers(const scnhdr &hdr, const std::string &name);
  bool readRelocations(const scnhdr &hdr, const std::string &name);
  std::uint64_t endOfSectionBlocks();

  ImageReader cIn;
  std::string cName;
  std::unique_ptr<Coff> cCoff;
  bool cOldLayout = false;
  std::uint32_t cNextStringOffset = 4;
};

bool CoffReader::fail(const std::string &what) {
  std::ostringstream text;
  text << "Coff file '" << cName << "' " << what;
  reportStream(MessageKind::Error, "Coff::make()", text, 0);
  return false;
}

bool CoffReader::readHeaders() {
  std::vector<std::uint8_t> bytes;
  if (!cIn.read(0, filehdr::sizeInBytes, bytes))
    return fail("could not read file header.");
  cCoff->cFileHdr = filehdr::decode(bytes.data());
  if (cCoff->cFileHdr.f_magic != kCoffMagic)
    return fail("does not appear to be a valid COFF file.");
  cOldLayout = cCoff->cFileHdr.f_opthdr != kOptHdrSizeInBytes;
  if (cOldLayout) {
    // Counted, but the object is still read.
    fail("missing optional file header.");
    return true;
  }
  if (!cIn.read(filehdr::sizeInBytes, opthdr::sizeInBytes, bytes))
    return fail("could not read optional file header.");
  cCoff->cOptHdr = opthdr::decode(bytes.data());
  return true;
}

// Strings follow each other from offset 4; the first empty string, or text
// without a closing NUL, ends the table.
void CoffReader::splitStrings(const std::vector<std::uint8_t> &text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    const void *nul = std::memchr(text.data() + pos, 0, text.size() - pos);
    if (nul == nullptr)
      break;
    std::size_t end = static_cast<const std::uint8_t *>(nul) - text.data();
    if (end == pos)
      break;
    // Offsets ascend, so each entry goes in at the end without a search.
    auto entry = cCoff->cStringTbl.emplace_hint(
        cCoff->cStringTbl.end(), static_cast<int>(4 + pos), std::string());
    entry->second.assign(reinterpret_cast<const char *>(text.data() + pos),
                         end - pos);
    pos = end + 1;
  }
  cNextStringOffset = static_cast<std::uint32_t>(4 + pos);
}

// An object without symbols (a stripped link output) records no symbol
// table pointer; its string table, if any, follows the last section block.
std::uint64_t CoffReader::endOfSectionBlocks() {
  const filehdr &fh = cCoff->cFileHdr;
  std::uint64_t end = filehdr::sizeInBytes + std::uint64_t(fh.f_opthdr) +
                      scnhdr::sizeInBytes * std::uint64_t(fh.f_nscns);
  std::size_t lineSize =
      cOldLayout ? gnu_lineno::sizeInBytes : coff_lineno::sizeInBytes;
  std::size_t relocSize =
      cOldLayout ? gnu_reloc::sizeInBytes : reloc::sizeInBytes;
  std::vector<std::uint8_t> bytes;
  for (std::uint32_t i = 0; i < fh.f_nscns; ++i) {
    std::uint64_t at = filehdr::sizeInBytes + std::uint64_t(fh.f_opthdr) +
                       scnhdr::sizeInBytes * std::uint64_t(i);
    if (!cIn.read(at, scnhdr::sizeInBytes, bytes))
      break;
    scnhdr hdr = scnhdr::decode(bytes.data());
    if (hdr.s_scnptr != 0 && !(hdr.s_flags & kScnUdata))
      end = std::max(end, std::uint64_t(hdr.s_scnptr) + hdr.s_size);
    if (hdr.s_relptr != 0)
      end =
          std::max(end, hdr.s_relptr + relocSize * std::uint64_t(hdr.s_nreloc));
    if (hdr.s_lnnoptr != 0)
      end =
          std::max(end, hdr.s_lnnoptr + lineSize * std::uint64_t(hdr.s_nlnno));
  }
  return end;
}

bool CoffReader::readStringTable() {
  const filehdr &fh = cCoff->cFileHdr;
  std::vector<std::uint8_t> bytes;
  if (fh.f_nsyms == 0) {
    // Without symbols the string table is optional: take it only when a
    // whole one is there.
    std::uint64_t at = endOfSectionBlocks();
    if (!cIn.read(at, 4, bytes))
      return true;
    std::uint32_t length = readLE32(bytes.data());
    if (length > 4 && cIn.read(at + 4, length - 4, bytes))
      splitStrings(bytes);
    return true;
  }
  std::uint64_t at = std::uint64_t(fh.f_symptr) +
                     syment::sizeInBytes * std::uint64_t(fh.f_nsyms);
  if (!cIn.read(at, 4, bytes))
    return fail("could not read string table length.");
  std::uint32_t length = readLE32(bytes.data());
  if (length <= 4)
    return true;
  if (!cIn.read(at + 4, length - 4, bytes))
    return fail("could not read string table.");
  splitStrings(bytes);
  return true;
}

// The old layout keeps a source file's name inside its aux entry; move it
// to the string table so that the entry reads like a current one.
void CoffReader::moveOldFileName(syment &aux) {
  std::uint8_t bytes[syment::sizeInBytes];
  aux.encode(bytes);
  const void *nul = std::memchr(bytes, 0, sizeof bytes);
  std::size_t length = nul == nullptr
                           ? sizeof bytes
                           : static_cast<const std::uint8_t *>(nul) - bytes;
  cCoff->cStringTbl[static_cast<int>(cNextStringOffset)] =
      std::string(reinterpret_cast<const char *>(bytes), length);
  aux_file file;
  file.x_offset = cNextStringOffset;
  file.x_incline = 0;
  writeAux(aux, file);
  cNextStringOffset += static_cast<std::uint32_t>(length + 1);
}

bool CoffReader::readSymbolTable() {
  const filehdr &fh = cCoff->cFileHdr;
  if (fh.f_nsyms == 0)
    return true;
  std::vector<std::uint8_t> bytes;
  std::uint64_t length = syment::sizeInBytes * std::uint64_t(fh.f_nsyms);
  if (!cIn.read(fh.f_symptr, length, bytes))
    return fail("could not read symbol table.");
  std::vector<syment> &table = cCoff->cSymbolTbl;
  table.reserve(fh.f_nsyms);
  cCoff->cAuxType.reserve(fh.f_nsyms);
  for (std::uint32_t i = 0; i < fh.f_nsyms; ++i) {
    syment sym = syment::decode(bytes.data() + syment::sizeInBytes * i);
    table.push_back(sym);
    cCoff->cAuxType.push_back(kAuxNone);
    int kind = Coff::auxType(sym);
    if (kind == kAuxNone || i + 1 >= fh.f_nsyms)
      continue;
    ++i;
    syment aux = syment::decode(bytes.data() + syment::sizeInBytes * i);
    if (cOldLayout && kind == kAuxFile)
      moveOldFileName(aux);
    table.push_back(aux);
    cCoff->cAuxType.push_back(kind);
  }
  return true;
}

bool CoffReader::readRawData(const scnhdr &hdr, const std::string &name) {
  if (hdr.s_scnptr == 0) {
    if (hdr.s_size > kMaxZeroFilledSectionBytes)
      return fail("could not read raw data.");
    cCoff->cRawData[name] = Data(hdr.s_size);
    return true;
  }
  std::vector<std::uint8_t> bytes;
  if (!cIn.read(hdr.s_scnptr, hdr.s_size, bytes))
    return fail("could not read raw data.");
  cCoff->cRawData[name] = Data(hdr.s_size, bytes.data());
  return true;
}

bool CoffReader::readLineNumbers(const scnhdr &hdr, const std::string &name) {
  if (hdr.s_nlnno == 0)
    return true;
  std::size_t entrySize =
      cOldLayout ? gnu_lineno::sizeInBytes : coff_lineno::sizeInBytes;
  std::vector<std::uint8_t> bytes;
  if (!cIn.read(hdr.s_lnnoptr, entrySize * std::uint64_t(hdr.s_nlnno), bytes))
    return fail("could not read line numbers.");
  std::vector<coff_lineno> &lines = cCoff->cLineNum[name];
  // Old entries name their function once (line 0) before its lines.
  std::uint32_t function = 0;
  for (std::size_t j = 0; j < hdr.s_nlnno; ++j) {
    const std::uint8_t *at = bytes.data() + entrySize * j;
    if (!cOldLayout) {
      lines.push_back(coff_lineno::decode(at));
      continue;
    }
    gnu_lineno old = gnu_lineno::decode(at);
    if (old.l_lnno == 0) {
      function = old.l_symndx();
      continue;
    }
    coff_lineno line;
    line.l_srcndx = 0;
    line.l_lnno = old.l_lnno;
    line.l_paddr = old.l_paddr;
    line.l_flags = kLineHasFcnNdx;
    line.l_fcnndx = function;
    lines.push_back(line);
  }
  if (lines.empty())
    cCoff->cLineNum.erase(name);
  return true;
}

bool CoffReader::readRelocations(const scnhdr &hdr, const std::string &name) {
  if (hdr.s_nreloc == 0)
    return true;
  std::size_t entrySize =
      cOldLayout ? gnu_reloc::sizeInBytes : reloc::sizeInBytes;
  std::vector<std::uint8_t> bytes;
  if (!cIn.read(hdr.s_relptr, entrySize * std::uint64_t(hdr.s_nreloc), bytes))
    return fail("could not read relocation info.");
  std::vector<reloc> &relocs = cCoff->cReloc[name];
  for (std::size_t j = 0; j < hdr.s_nreloc; ++j) {
    const std::uint8_t *at = bytes.data() + entrySize * j;
    if (!cOldLayout) {
      relocs.push_back(reloc::decode(at));
      continue;
    }
    // Old entries carry a type of their own that means nothing here.
    gnu_reloc old = gnu_reloc::decode(at);
    reloc rel;
    rel.r_vaddr = old.r_vaddr;
    rel.r_symndx = old.r_symndx;
    rel.r_offset = 0;
    rel.r_type = 4;
    relocs.push_back(rel);
  }
  return true;
}

bool CoffReader::readSection(int number) {
  const filehdr &fh = cCoff->cFileHdr;
  std::uint64_t at = filehdr::sizeInBytes + std::uint64_t(fh.f_opthdr) +
                     scnhdr::sizeInBytes * std::uint64_t(number - 1);
  std::vector<std::uint8_t> bytes;
  if (!cIn.read(at, scnhdr::sizeInBytes, bytes))
    return fail("could not read section header.");
  scnhdr hdr = scnhdr::decode(bytes.data());
  std::string name = Coff::getName(hdr, cCoff->cStringTbl);
  cCoff->cScnHdr[name] = hdr;
  cCoff->cScnNum[number] = name;
  // An empty section has nothing more, whatever its counts say.
  if (hdr.s_size == 0)
    return true;
  return readRawData(hdr, name) && readLineNumbers(hdr, name) &&
         readRelocations(hdr, name);
}

bool CoffReader::readSections() {
  for (int i = 0; i < cCoff->cFileHdr.f_nscns; ++i)
    if (!readSection(i + 1))
      return false;
  return true;
}

std::unique_ptr<Coff> CoffReader::read() {
  cCoff.reset(new Coff);
  cCoff->cFileName = cName;
  if (!readHeaders() || !readStringTable() || !readSymbolTable() ||
      !readSections())
    return nullptr;
  return std::move(cCoff);
}

} // namespace

std::unique_ptr<Coff> Coff::make(const std::string &name) {
  std::FILE *file = std::fopen(name.c_str(), "rb");
  if (file == nullptr) {
    report(MessageKind::Error, "Coff::make()",
           "Could not open Coff file '" + name + "' for reading.", 0);
    return nullptr;
  }
  std::unique_ptr<Coff> coff = make(file, 0, name);
  std::fclose(file);
  return coff;
}

std::unique_ptr<Coff> Coff::make(std::FILE *file, long byteOffset,
                                 const std::string &name) {
  CoffReader reader(file, byteOffset, name);
  return reader.read();
}
