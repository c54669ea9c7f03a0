// The linker: every setting of a link, every piece of link state, and the
// link run that takes the inputs through the phases in a fixed order.
//
// Settings arrive only while the command line and the linker command files
// are parsed, through the thirteen virtual setting operations. Each phase
// then reads what earlier phases filled and fills its own members. Phases
// return 1, or 0 with an error text; a phase that reported its problem
// itself through the message module leaves the text empty.
//
// Per-input state is keyed by the input's position in cCoff (an InputIndex),
// never by a file name: two library members may carry one name.
#pragma once

#include "Archive.h"
#include "Coff.h"
#include "CoffRecords.h"
#include "Data.h"
#include "SectionDesc.h"
#include "StackDesc.h"
#include "linker/ExtSymDefs.h"
#include "linker/NameIndex.h"
#include "memtarg/Memory.h"

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

// The program-memory image of an idata section: its name with "_i".
std::string initSectionName(const std::string &secName);
// An image name without its "_i"; any other name unchanged.
std::string baseSectionName(const std::string &name);

// An input file as the search found it: the path (empty where none was
// found) and what stat told of it.
struct FoundObject {
  std::string cPath;
  std::uint64_t cDevice = 0;
  std::uint64_t cInode = 0;
  bool cStatted = false;
  bool cRegular = false;
};

class Linker {
public:
  Linker();
  virtual ~Linker();
  Linker(const Linker &) = delete;
  Linker &operator=(const Linker &) = delete;

  // Link settings, called by the parser in the order of the input. Each
  // returns 1, or 0 with error filled in and the linker left unchanged.
  virtual int setMinHeapSize(std::uint32_t size, std::string &error);
  virtual int setMapFile(const std::string &name, std::string &error);
  virtual int setOutputFile(const std::string &name, std::string &error);
  virtual int addObjectFile(const std::string &name, std::string &error);
  virtual int addLibraryFile(const std::string &name, std::string &error);
  virtual int addCodePage(const Memory &memory, std::string &error);
  virtual int addDataBank(const Memory &memory, std::string &error);
  virtual int addShareBank(const Memory &memory, std::string &error);
  virtual int addAccessBank(const Memory &memory, std::string &error);
  virtual int addSection(const SectionDesc &section, std::string &error);
  virtual int setStack(const StackDesc &stack, std::string &error);
  virtual int addLibPath(const std::string &dir, std::string &error);
  virtual int setStrip(int strip, std::string &error);

  // Runs the link; 1 when the output file (and the map file, when one was
  // named) was written.
  int link(std::string &error);

  void print(std::ostream &out) const;

  // ---- Checks behind the memory settings ----
  int checkDuplicateMemory(const std::string &name, int isShareBank,
                           std::string &error) const;
  int checkCodePageOverlap(const Memory &memory, std::string &error) const;
  int checkBankOverlap(const Memory &memory, std::string &error) const;

  // Refuses an output or map file that would replace one of the files the
  // link reads (objects, libraries, command files); checked before any
  // input is read.
  int checkOutputsSpareInputs(std::string &error) const;

  // ---- Link phases, in the order the link run calls them ----
  // Loading inputs and importing library members.
  int loadObjectFiles(std::string &error);
  int loadLibraryFiles(std::string &error);
  int importLibraryMembers(std::string &error);
  // Input consistency checks.
  int checkProcessor(std::string &error);
  int mergeSections(std::string &error);
  int checkSectionAttributes(std::string &error);
  // Section allocation, stack and initialisation table.
  int mapSections(std::string &error);
  // The allocators behind mapSections. Start in locations, length in
  // bytes; on success the section is entered in cScnMem.
  int allocateAbsAssigned(std::list<Memory> &memories,
                          const std::string &memName,
                          const std::string &secName, std::uint32_t startLoc,
                          std::uint32_t lengthInBytes, int isOverlay,
                          std::string &error);
  int allocateAbsUnassigned(std::list<Memory> &memories,
                            const std::string &secName, std::uint32_t startLoc,
                            std::uint32_t lengthInBytes, int isOverlay,
                            std::string &error);
  int allocateRelAssigned(std::list<Memory> &memories,
                          const std::string &memName,
                          const std::string &secName,
                          std::uint32_t lengthInBytes, int isOverlay,
                          std::string &error);
  int allocateRelUnassigned(std::list<Memory> &memories,
                            const std::string &secName,
                            std::uint32_t lengthInBytes, int isOverlay,
                            std::string &error);
  // The same with the alignment already known.
  int allocateRelUnassigned(std::list<Memory> &memories,
                            const std::string &secName,
                            std::uint32_t lengthInBytes, int isOverlay,
                            std::uint32_t alignment, std::string &error);
  // Places the program-memory image ("_i") of an idata section.
  int allocateInitSection(const std::string &imageName, std::string &error);
  // Bytes of program memory that hold sizeInBytes bytes of initial data.
  std::uint32_t romImageSize(std::uint32_t sizeInBytes) const;
  int isStackAssigned() const;
  int allocateStack(std::string &error);
  int isInitTableAssigned() const;
  std::uint32_t initTableSize() const; // bytes
  int allocateInitTable(std::string &error);
  // Written whatever allocation returned; the result is not looked at.
  int writeErrorMapFile();
  // The error map file's text for the allocation as it stands.
  std::string errorMapText(const std::string &timeText) const;
  int loadSections(std::string &error);
  int buildInitTable(std::string &error);
  // Symbols, string tables and externals.
  int relocateSymbols(std::string &error);
  int relocateLineInfo(std::string &error);
  int mergeStringTbls(std::string &error);
  // Section number and the amount its symbols move by (sectionDeltas).
  using SectionDeltas = std::vector<std::pair<int, std::uint32_t>>;
  // Where one string of an input's table moves in the merged table.
  struct StringMove {
    int oldOffset;           // key in the input's table
    std::uint32_t newOffset; // offset in the merged table
    const std::string *text; // the string, still in the input's table
  };
  // Rewrites one input's name offsets into the merged table; moves holds
  // every string of its table, in offset order. The input keeps only its
  // own strings, each at its merged offset.
  int replaceStringTbl(Coff &coff, const std::vector<StringMove> &moves);
  int replaceStringTbl(Coff &coff, const StringMove *moves, std::size_t count);
  int buildExtSymDef(std::string &error);
  int resolveExternals(std::string &error);
  // Relocation patching.
  int verifyRelocations(std::string &error);
  int patchSections(std::string &error);
  // Patches one relocation of an input section with the rules of cFamily.
  // loadStart is where the input's piece of the section lies (locations).
  int doPatch(std::uint32_t loadStart, Data &raw, const reloc &rel,
              const std::vector<syment> &symbols,
              const std::map<int, std::string> &strings, std::string &error);
  int doPatchTrell(Data &raw, const reloc &rel,
                   const std::vector<syment> &symbols, std::string &error);
  int doPatchBrask(Data &raw, const reloc &rel,
                   const std::vector<syment> &symbols, std::string &error);
  int doPatchVesk(Data &raw, const reloc &rel,
                  const std::vector<syment> &symbols, std::string &error);
  int doPatchQuolm(std::uint32_t loadStart, Data &raw, const reloc &rel,
                   const std::vector<syment> &symbols,
                   const std::map<int, std::string> &strings,
                   std::string &error);
  // Output building.
  int buildOutputScnNum(std::string &error);
  int buildOutputSymbolTbl(std::string &error);
  int buildOutputRawData(std::string &error);
  int buildOutputLineInfo(std::string &error);
  int addInitSectionNames(std::string &error);
  int buildOutputScnHdrs(std::string &error);
  int buildOutputFileHdr(std::string &error);
  int buildOutputHoles(std::string &error);
  // Lays the output out, checks it and writes it to cOutputFile.
  int writeOutputFile(std::string &error);
  // Writes the map file cMapFile describing the written output.
  int writeMapFile(std::string &error);
  // Program-memory addresses of all code pages (locations).
  std::uint32_t programMemorySize() const;

  // ---- Output helpers ----
  // Bytes of one location of program (kProgramMemory) or data memory.
  std::uint16_t bytesPerLocation(std::uint8_t memType) const;
  // Program-memory image of initial data (the "_i" sections, ".cinit").
  Data romImage(const Data &bytes) const;
  // Start location of an allocated section in its memory.
  std::uint32_t outputSectionStart(const std::string &name) const;
  // Offset for a string appended to the output's string table.
  int nextFreeStringOffset() const;
  // Names, places and flags one output section header.
  void setOutputScnHdr(const std::string &name, std::uint32_t startLoc,
                       int type, int absolute, int shared, int access);
  // One ".fill_<n>" section for the free locations [startLoc, endLoc].
  // 0 when the hole is too large for a section.
  int buildOutputHole(const Memory &memory, std::uint32_t startLoc,
                      std::uint32_t endLoc, const std::string &fill);

  // ---- Settings (filled while parsing) ----
  int cMinHeapSizeSet = 0;
  int cStackDescSet = 0;
  std::uint32_t cMinHeapSize = 32; // bytes; stored and printed only
  StackDesc cStackDesc;
  std::string cStackScnName = ".stack";
  std::string cMapFile;                // empty: no map file
  std::string cOutputFile;             // "a.out" when still empty at link time
  std::list<std::string> cObjectFile;  // in the order given
  std::list<std::string> cLibraryFile; // in the order given
  // Memories in declaration order. Never changed after parsing, so
  // pointers into them (cScnMem) stay valid.
  std::list<Memory> cCodePage;
  std::list<Memory> cDataBanks;
  std::list<Memory> cShareBanks;
  std::list<Memory> cAccessBanks;
  std::list<SectionDesc> cSectionDesc; // in declaration order
  std::list<std::string> cLibPath;
  int cStrip = 0;
  // The linker command files read, as the parser found them: inputs too,
  // which no output may replace.
  std::list<std::string> cCommandFile;

  // ---- Link state (filled by the phases) ----
  // Opened libraries in the order given. Declared before cCoff so that the
  // inputs are destroyed first.
  std::vector<std::unique_ptr<Archive>> cArchive;
  // Input objects, then imported library members, in load order; a
  // position in this list is the input's InputIndex.
  std::vector<std::unique_ptr<Coff>> cCoff;
  Coff cOutput; // the linked object being built
  std::uint16_t cRomWidthBits = 0;
  std::uint16_t cRamWidthBits = 0;
  std::uint8_t cProcessor = 0; // 0 until the processor check
  std::uint8_t cFamily = 0;    // 0 until the processor check
  // Per section name, merged over all inputs.
  std::map<std::string, std::uint32_t> cScnSize; // bytes
  std::map<std::string, std::uint8_t>
      cScnType; // 1 code 2 idata 3 udata 4 romdata
  std::map<std::string, int> cScnAbs;
  std::map<std::string, int> cScnShare;
  std::map<std::string, int> cScnOverlay;
  std::map<std::string, int> cScnAccess;
  std::map<std::string, std::uint32_t> cScnAbsStart; // locations
  std::map<std::string, std::uint32_t> cScnAbsSize;  // bytes
  // The memory that holds each allocated section; owns nothing.
  std::map<std::string, Memory *> cScnMem;
  // Index of each input's first symbol in the output symbol table.
  std::map<InputIndex, std::uint32_t> cSymIndexBase;
  // Every external definition by name; points into the inputs' symbol
  // tables and at the three entries below, which never move.
  ExtSymDefs cExtSymDef;
  std::string cInitScnName = ".cinit";
  Data cInitTable;    // little-endian count, then the entries
  syment cInitSym;    // "_cinit"
  syment cStackSym;   // "_stack"
  syment cStkSizeSym; // "_stksize"
  int cFillCount = 0; // numbers the ".fill_" sections

private:
  // Section merging: the size a piece adds (whole locations in program
  // memory), and the record of a name met first or again.
  std::uint32_t pieceSizeInBytes(const scnhdr &hdr, std::uint8_t type) const;
  // The merged records of one section name, in the cScn* maps (whose
  // elements never move).
  struct MergedRecords {
    std::uint32_t *size = nullptr;
    std::uint8_t *type = nullptr;
    int *absolute = nullptr;
    int *shared = nullptr;
    int *access = nullptr;
    int *overlay = nullptr;
  };
  MergedRecords mergedRecords(const std::string &name);
  int mergeFirstPiece(const Coff &coff, const std::string &name,
                      const scnhdr &hdr, MergedRecords &merged,
                      std::string &error);
  int mergeNextPiece(const MergedRecords &merged, const std::string &name,
                     const scnhdr &hdr, std::string &error);

  int allocateSection(const std::string &secName, int assigned,
                      std::string &error);
  std::list<Memory> &memoriesFor(const std::string &secName);
  std::string memoryNameFor(const std::string &secName);
  std::uint32_t alignmentFor(const std::string &secName) const;
  // The first SECTION directive of a name, or null.
  const SectionDesc *findDirective(const std::string &name);
  int loadPiece(InputIndex input, const std::string &secName, const scnhdr &hdr,
                Memory &memory, std::string &error);
  int loadPiece(InputIndex input, const std::string &secName, const scnhdr &hdr,
                Memory &memory, bool isAbsolute, std::string &error);
  int loadPiece(InputIndex input, const std::string &secName, const scnhdr &hdr,
                Memory &memory, const Range &range, bool isAbsolute,
                std::string &error);
  // Per section number of one input, in number order: what its symbols
  // move by. memories indexes cScnMem.
  using MemoryIndex = NameIndex<std::map<std::string, Memory *>>;
  // Where an allocated section lies: its memory and, once allocated there,
  // its range. Looked up per input piece by the phases after loading.
  struct Place {
    Memory *memory = nullptr;
    const Range *range = nullptr;
  };
  using PlaceIndex = FlatNameIndex<Place>;
  // Indexes cScnMem for one phase. A link run builds it once allocation is
  // done and keeps it (cHeldPlaces) for every later phase until output:
  // no phase between adds a section or a range.
  std::shared_ptr<const PlaceIndex> placeIndex() const;
  PlaceIndex buildPlaceIndex() const;
  std::shared_ptr<const PlaceIndex> cHeldPlaces;
  // The section names the output phases share, each with a number of its
  // own (Output.cpp). A link run keeps them (cHeldSectionIds, while
  // cHoldSectionIds is set) from the first output phase to the last.
  struct SectionIds;
  std::shared_ptr<const SectionIds> sectionIds();
  std::shared_ptr<const SectionIds> cHeldSectionIds;
  bool cHoldSectionIds = false;
  // Where the input's piece of a section starts (locations).
  std::uint32_t loadStartOf(const PlaceIndex &places, InputIndex input,
                            const std::string &secName) const;
  SectionDeltas sectionDeltas(InputIndex input, const PlaceIndex &places) const;

  // First directive per name, rebuilt when cSectionDesc changes size.
  std::map<std::string, const SectionDesc *> cDirectiveIndex;
  std::size_t cIndexedDirectives = static_cast<std::size_t>(-1);

  // Output string offset per long section name while the section headers
  // are built; kNoNameOffset for a name the table lacks.
  static constexpr std::uint32_t kNoNameOffset = 0xFFFFFFFFu;
  std::unordered_map<std::string, std::uint32_t> cOutputNameOffset;

  // Set when writeOutputFile made the map file while writing the output.
  bool cMapWritten = false;

  // The names of cObjectFile and cLibraryFile, for the repeat checks.
  std::set<std::string> cObjectFileNames;
  std::set<std::string> cLibraryFileNames;
  // The names of cSectionDesc, for the duplicate check.
  std::set<std::string> cSectionNames;

  // Where loading put each input's piece of each of its sections, for the
  // phases after it: in the walk over the inputs and their section
  // numbers, an input's pieces from cFirstPiece[input] on. Filled by a
  // loadSections that succeeded; empty otherwise.
  struct PieceLoad {
    std::uint32_t loadStart; // locations
    std::uint32_t delta;     // what the piece's addresses move by
    std::uint8_t type;       // the merged section's type
  };
  std::vector<PieceLoad> cPieceLoad;
  std::vector<std::size_t> cFirstPiece;
  // An input's pieces in section-number order, or null before loading.
  const PieceLoad *pieceLoads(InputIndex input) const;

  // What checkOutputsSpareInputs found of each object file, in order, for
  // loading to take instead of searching again (nothing when it searched
  // none).
  mutable std::vector<FoundObject> cFoundObjects;
};
