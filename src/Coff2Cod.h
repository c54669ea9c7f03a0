// Turns a linked COFF file into the COD model and writes the listing file
// beside it. The listing also feeds the COD file's line information, so
// without a listing the COD file has none.
#pragma once

#include "ByteOrder.h"
#include "Coff.h"
#include "SourceFiles.h"
#include "StringTableIndex.h"
#include "cod/Cod.h"
#include "cod/StringTableBytes.h"

#include <cstdint>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class SafeOutputFile;

// The bytes of a section's contents, held by the Coff being converted or
// by the image it was read from; null for none, and for zero-filled
// contents, which read as 0 all the same.
struct SectionBytes {
  const std::uint8_t *bytes = nullptr;
  std::uint32_t size = 0;
};

// One COFF line-number entry of a code section, as read, with the section
// it belongs to (held by the Coff being converted or its image).
class LstLine {
public:
  std::string_view secName;
  std::uint32_t sectionAddress = 0; // s_paddr of the section's header
  SectionBytes contents;
  std::uint32_t l_srcndx = 0;
  std::uint16_t l_lnno = 0;
  std::uint32_t l_paddr = 0; // program address, in address units
  std::uint16_t l_flags = 0;
  std::uint32_t l_fcnndx = 0;
};

class Coff2Cod : public Cod {
public:
  // Include nesting the listing follows; deeper files are left out.
  static constexpr int MaxIncludeDepth = 256;
  // Symbol-table entries a piece of parallel work takes.
  static constexpr std::size_t SymbolsPerPiece = 4096;
  static constexpr std::size_t FilesPerPiece = 1024;

  Coff2Cod();
  ~Coff2Cod() override;

  // The bytes the Coff to convert was read from, kept by the caller until
  // the conversion is done: names are then read from its string table in
  // place instead of through an index of the Coff's, and symbols from its
  // symbol table when the Coff was read without one.
  void setImage(const std::uint8_t *bytes, std::uint64_t sizeInBytes);

  // This object, or null after an error report.
  Coff2Cod *convert(const Coff &coff, int pageLength, int noListing);

  void buildLineMap(const Coff &coff);
  void createDirectory(const Coff &coff);
  int createRawDataAndMemoryMap(const Coff &coff);
  int createSourceFileInfo(const Coff &coff);
  void createSymbols(const Coff &coff);

  // The listing (Listing.cpp). The symbol position moves forward through
  // the symbol table as source files are listed.
  int createListFile(const Coff &coff);
  int doNextFile(const Coff &coff, std::uint32_t &position);
  int findNextFile(const Coff &coff, std::uint32_t &position);
  int findEndOfFile(const Coff &coff, std::uint32_t &position);
  bool hasInclude(const Coff &coff, std::uint32_t position, int line);
  void checkListDirective(const Coff &coff, std::uint32_t position, int line);
  void writePageHeader(int firstPage);
  void nextListLine();

  int cListOn = 1;
  int cPageLength = 0; // rows a page; 0 is one page
  int cLineCount = 0;  // listing rows written so far
  std::string cSrcLine;
  std::string cLstRow;
  SafeOutputFile *cLstFile = nullptr; // open only inside createListFile
  // Symbol index of each ".file" symbol and its source-name record
  // number, by ascending index.
  std::vector<std::pair<std::uint32_t, int>> cSourceNum;
  // Every entry, ordered by l_srcndx, then l_lnno, then file order; the
  // entries of one source line are one run (see lineEntries).
  std::vector<LstLine> cLine;

protected:
  // The records are packed from the converter's own lists below; the
  // model's lists stay empty.
  std::uint32_t packSymbolTable(BlockPacker &packer) const override;
  std::uint32_t packSourceNameTable(BlockPacker &packer) const override;
  std::uint32_t packLongSymbolTable(BlockPacker &packer) const override;
  // The code blocks are made from the sections as they are written; the
  // model's slice maps stay empty.
  void codeSlices(std::size_t directory,
                  std::vector<int> &slices) const override;
  void codeBlock(std::size_t directory, int slice, Block &block) const override;

private:
  // A symbol both symbol tables list: its name, viewed where it stays for
  // the run, cut to what a long symbol holds. Left uninitialised when
  // made: every one is filled in its place.
  struct ListedSymbol {
    const char *name;
    std::uint32_t value;
    std::uint8_t nameLength;
    std::uint8_t type;
  };

  // The symbol table as the reader pairs symbols with their auxiliary
  // entries: the Coff's own, or, for a Coff read without one, the image's
  // entries, read in place.
  class SymbolEntries {
  public:
    void take(const Coff &coff, const std::uint8_t *image,
              std::uint64_t imageSizeInBytes);
    std::size_t size() const { return cCount; }
    int auxKind(std::size_t index) const {
      return cModel != nullptr ? (*cModelAux)[index] : cAux[index];
    }
    syment entry(std::size_t index) const {
      return cModel != nullptr ? (*cModel)[index] : syment::decode(at(index));
    }
    std::uint8_t storageClass(std::size_t index) const {
      return cModel != nullptr ? (*cModel)[index].n_sclass : at(index)[16];
    }
    // The 8 name bytes of an entry, where they stay for the run.
    const char *nameBytes(std::size_t index) const {
      return cModel != nullptr ? (*cModel)[index]._n_name
                               : reinterpret_cast<const char *>(at(index));
    }
    std::uint32_t value(std::size_t index) const {
      return cModel != nullptr ? (*cModel)[index].n_value
                               : readLE32(at(index) + 8);
    }
    std::int16_t sectionNumber(std::size_t index) const {
      return cModel != nullptr ? (*cModel)[index].n_scnum
                               : static_cast<std::int16_t>(at(index)[12] |
                                                           at(index)[13] << 8);
    }

  private:
    const std::uint8_t *at(std::size_t index) const {
      return cBytes + syment::sizeInBytes * index;
    }

    const std::vector<syment> *cModel = nullptr;
    const std::vector<int> *cModelAux = nullptr;
    const std::uint8_t *cBytes = nullptr;
    std::vector<std::uint8_t> cAux; // aux kind of each image entry
    std::size_t cCount = 0;
  };

  // What a symbol-table entry means to the listing's scans.
  enum class ScanKind : std::uint8_t { Other, File, Eof, List, NoList };
  // The symbols from a position up to the next ".file" or ".eof": where
  // that boundary is and the first ".list"/".nolist" of each line.
  struct ScanRegion {
    bool valid = false;
    std::uint32_t position = 0;
    std::uint32_t boundary = 0; // index of the ".file"/".eof", or none
    bool hasBoundary = false;
    std::map<std::uint32_t, int> listSwitch; // line -> new cListOn
  };

  // The process-wide facts the steps share, from the optional header.
  void setProcessor(const Coff &coff);
  std::uint32_t unitBytes() const { return cUnitBytes; }
  int addSourceName(const Coff &coff, std::uint32_t index);
  // The source-name record number of a ".file" symbol, or null.
  const int *sourceNumber(std::uint32_t index) const;

  // Names from the image's string table or through an index of the
  // Coff's; a name the table lacks is reported as Coff::getName reports it.
  // A view stays valid while the Coff, the image and scratch do.
  const StringTableIndex &names(const Coff &coff);
  bool tableName(const Coff &coff, std::uint32_t offset,
                 std::string_view &name);
  std::string_view symbolName(const Coff &coff, const syment &sym,
                              std::string &scratch);
  // The same name where it is found without a report (for work spread
  // over threads); false when only symbolName, reporting it missing,
  // could give it. Names in the Coff's table need names() made first.
  bool nameInPlace(const syment &sym, std::string_view &name) const;
  bool fileNameInPlace(const syment &auxEntry, std::string_view &name) const;
  // The same for entry index (sym), viewed where it stays for the run (the
  // long symbols keep the view).
  bool lastingName(std::size_t index, std::string_view &name) const;
  // Fills record slot of both symbol lists; name must last.
  void setSymbol(std::size_t slot, std::uint32_t value, std::string_view name,
                 std::uint8_t type);
  std::string_view fileName(const Coff &coff, const syment &auxEntry,
                            std::string &scratch);
  bool isListedSymbol(std::size_t index) const;
  // Whether each section number names a code or romdata section.
  std::vector<bool> programMemorySections(const Coff &coff) const;
  // Views the name of a header read from the image (while hdr lives, for
  // an inline one); false when the reader could not have named it.
  bool sectionName(const Coff &coff, const scnhdr &hdr,
                   std::string_view &name) const;
  // The run of cLine entries of one source line.
  std::pair<const LstLine *, const LstLine *> lineEntries(std::uint32_t fileKey,
                                                          int line) const;

  // One name's sections of an image whose reader kept none: the header
  // that stays (the last) and the last with contents, by position in the
  // image's header table.
  struct ImageSection {
    std::uint32_t kept = 0;
    std::uint32_t contents = 0; // position + 1, or 0 for none
  };
  // Whether the sections are read where the image holds them: a
  // current-layout image, of which the reader keeps no sections.
  bool sectionsInImage(const Coff &coff) const;
  // Groups the image's sections by name (cImageSections, cSectionOf).
  void takeImageSections(const Coff &coff);
  // The group of a section number (from 1).
  const ImageSection &imageSection(std::size_t number) const {
    return cImageSections[cSectionOf[number - 1]];
  }
  const std::uint8_t *imageHeaderBytes(std::uint32_t position) const;
  scnhdr imageHeader(std::uint32_t position) const {
    return scnhdr::decode(imageHeaderBytes(position));
  }
  // The name of the header at position, viewed in the image.
  std::string_view imageSectionName(const Coff &coff,
                                    std::uint32_t position) const;
  SectionBytes imageContents(const ImageSection &section) const;

  // Whether the Coff was read without its line numbers, which are then
  // read where the image holds them.
  bool linesInImage(const Coff &coff) const;
  void appendImageLines(const Coff &coff);

  void classifySymbols(const Coff &coff);
  // Sets the scan kind of one entry; false when its name could only be
  // had with a report, which is left to the caller.
  bool classifySymbol(std::size_t index);
  ScanKind scanKind(std::string_view name, std::uint32_t index) const;
  std::uint32_t scanEnd() const;
  const ScanRegion &regionAt(const Coff &coff, std::uint32_t position);
  void listSourceFile(const Coff &coff, std::uint32_t &position,
                      std::uint32_t fileKey, const std::string &fileName,
                      const FileBytes &source);
  std::string disassembly(std::uint32_t address, std::uint16_t word,
                          std::uint16_t nextWord, std::uint8_t &wordsPending);
  void writeRows(const Coff &coff, std::uint32_t fileKey, int sourceNum,
                 int line, const std::string &fileName,
                 std::uint8_t &wordsPending);
  void writeCodeRow(const Coff &coff, const LstLine &entry, int sourceNum,
                    int line, bool firstOfLine, const std::string &fileName,
                    std::uint8_t &wordsPending);
  void writeListText(const std::string &text);
  void addLineInfo(std::size_t directory, const LineInfo &record);

  std::uint8_t cProcessor = 0;
  std::uint8_t cFamily = 0;
  std::uint32_t cUnitBytes = 2;
  std::vector<ScanKind> cScanKind;
  ScanRegion cRegion;
  bool cLineMapBuilt = false;
  SourceFiles cSources;
  StringTableIndex cNames;
  const std::uint8_t *cImage = nullptr;
  std::uint64_t cImageSizeInBytes = 0;
  StringTableBytes cImageNames; // empty without an image
  SymbolEntries cSymbols;
  std::vector<ImageSection> cImageSections; // in first-number order
  // A code or romdata section in the code image: its byte addresses.
  struct PlacedSection {
    std::uint64_t first;
    std::uint64_t last;
    SectionBytes contents;
  };
  std::vector<PlacedSection> cPlaced; // in placing order
  // Each slice a section covers: (directory * SlicesPerDirectory + slice)
  // << 32 | the section's place in cPlaced, ascending.
  std::vector<std::uint64_t> cCodePieces;
  const std::uint8_t *cImageHeaders = nullptr;
  std::vector<std::uint32_t> cSectionOf;     // number - 1 -> its group
  int cIncludeDepth = 0;
  // Names only Coff::getName gave, kept for the records' views.
  std::deque<std::string> cOwnedNames;
  // In symbol-table order; made without touching them, so that their
  // pages are first written by the threads that fill them.
  std::unique_ptr<ListedSymbol[]> cListed;
  std::size_t cListedCount = 0;
  std::vector<std::string_view> cSourceNames; // by source-name number
  std::string cListTime; // first page header's time, used on every page
  std::string cMessage;  // a warning's text, built in place
};
