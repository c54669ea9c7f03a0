// One COFF object file, library member or linked executable in memory.
//
// The members are public: the programs read and change them directly.
// Sections are kept by number (cScnNum, file order) and by name (the other
// maps); everything that follows file order walks cScnNum. A symbol index
// is a position in cSymbolTbl with auxiliary entries counted; cAuxType runs
// parallel to it (0 for a symbol, the aux kind 1-9 for an auxiliary entry).
//
// Life cycle: Coff::make reads (and returns an object the caller owns),
// verify checks, preWrite lays out, write writes. The header counts and file
// pointers are valid only right after reading or preWrite; isLaidOut tells
// whether they still agree with the contents.
#pragma once

#include "CoffRecords.h"
#include "Data.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

class Coff {
public:
  Coff();
  Coff(const Coff &other);
  Coff &operator=(const Coff &other);
  ~Coff();

  // Reading and checking.

  // What a reader keeps: everything; only the code and romdata sections,
  // their headers and contents by name (for a program that needs nothing
  // else: no section numbers, symbols, line numbers, relocations or
  // string table); or the headers by name and the contents of code and
  // romdata sections (for a converter that reads symbols, names, line
  // numbers and numbered headers in the image's own bytes; an old-layout
  // image, whose symbols, line numbers and file names the reader changes,
  // keeps its symbol table, its line numbers and the moved file names); or
  // that and, for a current-layout image, no sections at all (for a
  // converter that reads headers and contents in the image too). Where
  // sections share a name, the header that stays decides whether they are
  // code or romdata. Every block is checked against the file in every
  // case, with the same messages.
  enum class Parts { All, ProgramMemory, NamesFromImage, AllFromImage };

  // Reads the named file from its first byte; null after an error report.
  static std::unique_ptr<Coff> make(const std::string &name);
  static std::unique_ptr<Coff> make(const std::string &name, Parts parts);
  // Reads one image starting at byteOffset of an open stream (a library
  // member); file pointers inside the image count from byteOffset.
  static std::unique_ptr<Coff> make(std::FILE *file, long byteOffset,
                                    const std::string &name);
  // Reads one image held in memory: sizeInBytes bytes from bytes (which
  // may run on past the image, as a library's later members do).
  static std::unique_ptr<Coff> make(const std::uint8_t *bytes,
                                    std::uint64_t sizeInBytes,
                                    const std::string &name);
  static std::unique_ptr<Coff> make(const std::uint8_t *bytes,
                                    std::uint64_t sizeInBytes,
                                    const std::string &name, Parts parts);
  // 1 when every index and name checks out; reports each failure.
  int verify() const;

  // Layout and writing.

  // Sets every count and file pointer of the headers from the contents
  // and a new time stamp.
  void preWrite();
  // The line pointers of function auxiliary entries (last step of preWrite).
  void fixupAuxFcns();
  // Length in bytes of the file this object gives.
  std::uint32_t size() const;
  // 1 when the header counts and file pointers (time stamp aside) are what
  // preWrite would set, so write() gives a consistent file.
  int isLaidOut() const;
  // Writes to cFileName (atomically: the old file survives any failure).
  int write() const;
  // Writes at byteOffset of an open stream, header fields as they stand.
  int write(std::FILE *file, long byteOffset) const;

  // Debug dump of the whole object.
  void print(std::ostream &out) const;

  // Names between records and a string table. Failed lookups are fatal.
  static std::string getName(const scnhdr &hdr,
                             const std::map<int, std::string> &strTbl);
  static std::string getName(const syment &sym,
                             const std::map<int, std::string> &strTbl);
  static std::string getName(const aux_file &aux,
                             const std::map<int, std::string> &strTbl);
  // The name without a copy: a view of the inline bytes or of the table's
  // entry, valid while the symbol and the table are. False, reporting
  // nothing, when a long name is missing from the table.
  static bool findName(const syment &sym,
                       const std::map<int, std::string> &strTbl,
                       std::string_view &name);
  // Up to 8 characters inline; a longer name must already be in the table
  // (the lowest offset holding it is used).
  static void setName(scnhdr &hdr, const std::map<int, std::string> &strTbl,
                      const std::string &name);
  static void setName(syment &sym, const std::map<int, std::string> &strTbl,
                      const std::string &name);

  // Section tests (1 or 0).
  static int isCode(const scnhdr &hdr);
  static int isIdata(const scnhdr &hdr);
  static int isUdata(const scnhdr &hdr);
  static int isRomdata(const scnhdr &hdr);
  static int isAbsolute(const scnhdr &hdr);
  static int isShared(const scnhdr &hdr);
  static int isOverlay(const scnhdr &hdr);
  static int isAccess(const scnhdr &hdr);
  static int hasLongName(const scnhdr &hdr);
  // kScnTypeNone..kScnTypeRomdata; code wins over idata, udata, romdata.
  static std::uint8_t scnType(const scnhdr &hdr);
  // Clears s_flags, then sets the type bit and the three attribute bits.
  static void setScnFlags(scnhdr &hdr, int type, int absolute, int shared,
                          int access);

  // Symbol tests (1 or 0).
  static int isExtDef(const syment &sym);
  static int isExtRef(const syment &sym);
  static int needsRelocation(const syment &sym);
  static int isFunction(const syment &sym);
  static int isArray(const syment &sym);
  static int isTag(const syment &sym);
  static int isTagType(const syment &sym);
  static int isSection(const syment &sym);
  static int hasLongName(const syment &sym);
  // Aux kind (kAuxNone..kAuxVar) of the entry that follows the symbol.
  static int auxType(const syment &sym);

  static int hasFcnNdx(const coff_lineno &line);

  std::string cFileName;
  // Set when the object was read from a library: cFileName is then the
  // name its member header stores, which a rewrite of the library keeps.
  bool cNamedByLibrary = false;
  filehdr cFileHdr;
  opthdr cOptHdr;
  std::map<int, std::string> cScnNum;               // number -> name
  std::map<std::string, scnhdr> cScnHdr;            // name -> header
  std::map<std::string, Data> cRawData;             // name -> contents
  std::map<std::string, std::vector<reloc>> cReloc; // name -> relocations
  std::map<std::string, std::vector<coff_lineno>> cLineNum; // name -> lines
  std::vector<syment> cSymbolTbl;        // symbols and their auxiliary entries
  std::vector<int> cAuxType;             // parallel to cSymbolTbl
  std::map<int, std::string> cStringTbl; // offset (from 4) -> string

private:
  struct Layout;
  // The section headers with their laid-out fields only when asked for:
  // the file's length alone needs none of them.
  Layout computeLayout(bool withSectionHeaders = true) const;
  // A section the writer emits, with what it holds (null: nothing).
  struct WrittenSection {
    const std::string *name;
    const scnhdr *hdr;
    const Data *rawData;
    const std::vector<reloc> *relocs;
    const std::vector<coff_lineno> *lines;
  };
  // The sections in the order the writer emits their headers.
  std::vector<WrittenSection> writtenSections() const;
  std::uint64_t stringTblSize() const;
  // The length of the file write() gives, counted without 32-bit limits.
  std::uint64_t imageSizeInBytes(const std::vector<WrittenSection> &sections,
                                 std::uint64_t stringTblBytes) const;
  class ImageWriter;
  // The image at byteOffset, or where the stream stands when null.
  int writeImage(ImageWriter &out, const std::vector<WrittenSection> &sections,
                 const long *byteOffset) const;
};
