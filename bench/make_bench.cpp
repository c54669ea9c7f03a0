// make_bench: writes a synthetic project of the byte-addressed family for
// timing the programs on large links.
//
//   make_bench <objects> <directory>
//
// The directory gets <objects> object files "obj/mNNNNN.o", 4 x <objects>
// library member files "lib/lNNNNN.o", the library "bench.lib" made of
// them, a linker command file "bench.lkr" with one large code page and one
// large data bank, and "objects.txt" / "members.txt" listing the object and
// member files one a line. Every object has shared and private code, idata
// and udata sections, a few dozen symbols and relocations of a dozen types,
// and calls into its neighbour objects and into two library members; those
// members call on along a chain through the first half of the library, so
// about half of the members get imported.
#include "CoffBuilder.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr std::uint16_t kDeviceCode = 0x400B; // byte-addressed, 6 banks
constexpr std::uint32_t kRomWidthBits = 8;

enum RelocType : std::uint16_t {
  kCall = 1,
  kGoto = 2,
  kHigh = 3,
  kLow = 4,
  kBanksel = 6,
  kAll = 8,
  kF = 10,
  kMovlb = 13,
  kCall2 = 14,
  kFf1 = 15,
  kLfsr1 = 17,
  kLfsr2 = 18,
  kBra = 19,
  kCondbra = 20,
  kUpper = 21,
  kAccess = 22,
};

std::string numbered(const char *prefix, unsigned value) {
  char text[32];
  std::snprintf(text, sizeof text, "%s%05u", prefix, value);
  return text;
}

std::string objectFunction(unsigned object, unsigned k) {
  return numbered("obj_fn", object) + "_" + std::to_string(k);
}
std::string objectData(unsigned object) { return numbered("obj_var", object); }
std::string memberFunction(unsigned member) {
  return numbered("lib_fn", member);
}
std::string memberData(unsigned member) { return numbered("lib_var", member); }

std::vector<std::uint16_t> codeWords(unsigned count, unsigned seed) {
  std::vector<std::uint16_t> words;
  for (unsigned i = 0; i < count; ++i)
    words.push_back(static_cast<std::uint16_t>(0x0E00 + ((seed + i) & 0xFF)));
  return words;
}

// A two-word call: CALL then its continuation word, each relocated.
void addCall(CoffBuilder &b, std::uint32_t offsetInBytes,
             const std::string &target) {
  b.reloc(offsetInBytes, target, kCall)
      .reloc(offsetInBytes + 2, target, kCall2);
}

void addLines(CoffBuilder &b, unsigned firstLine, unsigned words) {
  for (unsigned i = 0; i < words; i += 4)
    b.line(static_cast<std::uint16_t>(firstLine + i), i * 2);
}

std::string makeObject(unsigned i, unsigned objects, unsigned members) {
  const unsigned next = (i + 1) % objects;
  const unsigned other = (i + 7) % objects;
  const unsigned lib0 = (2 * i) % members;
  const unsigned lib1 = (2 * i + 1) % members;
  const std::string text = numbered("text_", i);
  const std::string idat = numbered("idat_", i);
  const std::string bss = numbered("bss_", i);
  CoffBuilder b;
  b.processor(kDeviceCode, kRomWidthBits);

  // Shared code: calls out, data addressing, short branches.
  b.section(".code", kScnTypeCode).words(codeWords(32, i));
  addCall(b, 0, memberFunction(lib0));
  addCall(b, 4, memberFunction(lib1));
  addCall(b, 8, objectFunction(next, 1));
  b.reloc(12, objectData(i), kLow)
      .reloc(14, objectData(i), kHigh)
      .reloc(16, objectData(i), kUpper)
      .reloc(18, "local_loop", kBra)
      .reloc(20, "local_skip", kCondbra)
      .reloc(22, objectData(other), kBanksel)
      .reloc(24, objectData(other), kF)
      .reloc(26, objectData(other), kAccess)
      .reloc(28, numbered("buf_", i), kLfsr1)
      .reloc(30, numbered("buf_", i), kLfsr2)
      .reloc(32, numbered("tbl_", i), kFf1)
      .reloc(34, memberData(lib0), kMovlb)
      .reloc(36, objectFunction(i, 1), kGoto)
      .reloc(40, memberData(lib1), kAll);
  addLines(b, 10, 32);

  // Private code, reached from the neighbour object.
  b.section(text, kScnTypeCode).words(codeWords(24, i + 3));
  addCall(b, 0, objectFunction(other, 0));
  b.reloc(4, "local_top", kBra)
      .reloc(6, numbered("tbl_", i), kLow)
      .reloc(8, numbered("tbl_", i), kHigh)
      .reloc(10, memberFunction(lib0), kGoto)
      .reloc(14, numbered("buf_", i), kBanksel)
      .reloc(16, numbered("buf_", i), kF);
  addLines(b, 60, 24);

  b.section(".idata", kScnTypeIdata).bytes({1, 2, 3, 4, 5, 6, 7, 8});
  b.section(idat, kScnTypeIdata).bytes({9, 8, 7, 6, 5, 4, 3, 2, 1, 0});
  b.section(".udata", kScnTypeUdata).zeros(16);
  b.section(bss, kScnTypeUdata).zeros(24);

  b.fileSymbol(numbered("src/m", i) + ".asm");
  b.function(objectFunction(i, 0), 0, ".code")
      .symbolIn("local_loop", 8, ".code", kClassLabel)
      .symbolIn("local_skip", 44, ".code", kClassLabel)
      .global(objectFunction(i, 1), 40, ".code")
      .global(objectFunction(i, 2), 0, text)
      .symbolIn("local_top", 0, text, kClassLabel)
      .symbolIn("local_end", 46, text, kClassLabel)
      .global(objectData(i), 0, ".idata")
      .global(numbered("tbl_", i), 2, idat)
      .symbolIn(numbered("cnt_", i), 8, idat, kClassStatic)
      .global(numbered("buf_", i), 0, ".udata")
      .symbolIn(numbered("tmp_", i), 4, bss, kClassStatic)
      .symbolIn(numbered("ptr_", i), 12, bss, kClassStatic);
  for (const std::string &name :
       {memberFunction(lib0), memberFunction(lib1), memberData(lib0),
        memberData(lib1), objectFunction(next, 1), objectFunction(other, 0),
        objectData(other)})
    b.external(name);
  b.symbol(".eof", 0, kScnNumDebug, kClassFile);
  return b.fileBytes();
}

// Member k calls member k + 1 while k + 1 is in the first half, so the
// objects' calls into the first half import all of it and none of the rest.
std::string makeMember(unsigned k, unsigned members) {
  const unsigned half = members / 2;
  const bool chained = k + 1 < half;
  CoffBuilder b;
  b.processor(kDeviceCode, kRomWidthBits);
  b.section(".code", kScnTypeCode).words(codeWords(12, k));
  if (chained)
    addCall(b, 0, memberFunction(k + 1));
  b.reloc(4, memberData(k), kLow)
      .reloc(6, memberData(k), kHigh)
      .reloc(8, memberData(k), kBanksel)
      .reloc(10, "lib_loop", kBra);
  addLines(b, 5, 12);
  b.section(".udata", kScnTypeUdata).zeros(8);
  b.fileSymbol(numbered("src/l", k) + ".asm");
  b.function(memberFunction(k), 0, ".code")
      .symbolIn("lib_loop", 2, ".code", kClassLabel)
      .global(memberData(k), 0, ".udata")
      .symbolIn(numbered("lib_tmp", k), 4, ".udata", kClassStatic);
  if (chained)
    b.external(memberFunction(k + 1));
  b.symbol(".eof", 0, kScnNumDebug, kClassFile);
  return b.fileBytes();
}

void writeFile(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush())
    throw std::runtime_error("cannot write " + path);
}

const char *const kCommandFile =
    "// Synthetic benchmark target: memories far larger than any device.\n"
    "CODEPAGE NAME=rom START=0x0 END=0x1FFFFF\n"
    "DATABANK NAME=ram START=0x0 END=0xFFFFF\n";

} // namespace

int main(int argc, char **argv) {
  if (argc != 3 || std::atoi(argv[1]) < 1) {
    std::fprintf(stderr, "usage: make_bench <objects> <directory>\n");
    return 1;
  }
  const unsigned objects = static_cast<unsigned>(std::atoi(argv[1]));
  const unsigned members = 4 * objects;
  const std::string dir = argv[2];
  try {
    for (const std::string &sub : {dir, dir + "/obj", dir + "/lib"})
      if (mkdir(sub.c_str(), 0777) != 0 && errno != EEXIST)
        throw std::runtime_error("cannot make " + sub);
    std::string objectList;
    for (unsigned i = 0; i < objects; ++i) {
      const std::string name = "obj/" + numbered("m", i) + ".o";
      writeFile(dir + "/" + name, makeObject(i, objects, members));
      objectList += name + "\n";
    }
    std::string memberList;
    std::vector<LibraryMember> library;
    for (unsigned k = 0; k < members; ++k) {
      const std::string base = numbered("l", k);
      std::string bytes = makeMember(k, members);
      writeFile(dir + "/lib/" + base + ".o", bytes);
      memberList += "lib/" + base + ".o\n";
      library.push_back({base, std::move(bytes)});
    }
    writeFile(dir + "/bench.lib", CoffBuilder::libraryBytes(library));
    writeFile(dir + "/bench.lkr", kCommandFile);
    writeFile(dir + "/objects.txt", objectList);
    writeFile(dir + "/members.txt", memberList);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "make_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
