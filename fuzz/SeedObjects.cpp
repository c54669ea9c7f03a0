#include "SeedObjects.h"

#include "CoffBuilder.h"
#include "linker/RelocTypes.h"

namespace {

// Relocatable code with calls, jumps, bank and page selection, line numbers,
// a function with its auxiliary entry, ROM data and a shared section.
std::string codeObject() {
  aux_fcn fcn;
  fcn.x_size = 8;
  return CoffBuilder()
      .processor(kSeedDeviceCode)
      .section("STARTUP", kScnTypeCode)
      .words({0x2800, 0x0000})
      .reloc(0, "main", RELOCT_GOTO)
      .section(".code_main", kScnTypeCode)
      .words({0x0000, 0x0000, 0x2000, 0x0080, 0x3000, 0x0000, 0x0008})
      .reloc(0, "counter", RELOCT_BANKSEL)
      .reloc(2, "helper", RELOCT_PAGESEL)
      .reloc(4, "helper", RELOCT_CALL)
      .reloc(6, "counter", RELOCT_F)
      .reloc(8, "table", RELOCT_HIGH)
      .reloc(10, "table", RELOCT_LOW, 1)
      .line(10, 0, 0)
      .line(11, 2, 0)
      .line(12, 4, 0)
      .section(".udata_main", kScnTypeUdata)
      .zeros(4)
      .section("shared", kScnTypeUdata, kScnShared)
      .zeros(2)
      .section(".code_helper", kScnTypeCode)
      .words({0x0008})
      .section("table_rom", kScnTypeRomdata)
      .words({0x3401, 0x3402})
      .fileSymbol("main_with_a_long_source_name.asm")
      .sectionSymbol(".code_main")
      .function("main", 0, ".code_main")
      .aux(fcn)
      .global("counter", 0, ".udata_main")
      .global("flags_in_shared_bank", 0, "shared")
      .global("helper", 0, ".code_helper")
      .global("table", 0, "table_rom")
      .fileBytes();
}

// Initialised and ROM data, an absolute section and an absolute symbol.
std::string dataObject() {
  return CoffBuilder()
      .processor(kSeedDeviceCode)
      .section(".code_helper", kScnTypeCode)
      .words({0x0000, 0x0008})
      .reloc(0, "counter", RELOCT_IBANKSEL)
      .section(".idata_values", kScnTypeIdata)
      .bytes({1, 2, 3, 4})
      .section("table_rom", kScnTypeRomdata)
      .words({0x3401, 0x3402, 0x3403})
      .section("vectors", kScnTypeCode)
      .at(0x4)
      .words({0x2800})
      .reloc(0, "helper", RELOCT_GOTO)
      .fileSymbol("helper.asm", 1)
      .global("helper", 0, ".code_helper")
      .global("table", 0, "table_rom")
      .section(".udata_counter", kScnTypeUdata)
      .zeros(1)
      .global("values", 0, ".idata_values")
      .global("counter", 0, ".udata_counter")
      .symbol("FSR", 4, kScnNumAbsolute, kClassExternal)
      .fileBytes();
}

// A library member that defines one function and needs another.
std::string memberObject(const std::string &defines, const std::string &needs) {
  CoffBuilder builder;
  builder.processor(kSeedDeviceCode)
      .section(".code_" + defines, kScnTypeCode)
      .words({0x2000, 0x0008});
  if (!needs.empty())
    builder.reloc(0, needs, RELOCT_CALL).external(needs);
  return builder.global(defines, 0, ".code_" + defines).fileBytes();
}

} // namespace

std::vector<std::pair<std::string, std::string>> seedObjects() {
  return {
      {"code.o", codeObject()},
      {"data.o", dataObject()},
      {"member.o", memberObject("library_entry", "library_helper")},
      {"empty.o", CoffBuilder().processor(kSeedDeviceCode).fileBytes()},
  };
}

std::string seedMainObject() {
  return CoffBuilder()
      .processor(kSeedDeviceCode)
      .section("STARTUP", kScnTypeCode)
      .words({0x2000, 0x2800})
      .reloc(0, "library_entry", RELOCT_CALL)
      .reloc(2, "library_helper", RELOCT_GOTO)
      .external("library_entry")
      .external("library_helper")
      .fileBytes();
}

std::vector<std::pair<std::string, std::string>> seedLibraries() {
  const std::string entry = memberObject("library_entry", "library_helper");
  const std::string helper = memberObject("library_helper", "");
  const std::string other = memberObject("library_other", "library_helper");
  return {
      {"two.lib",
       CoffBuilder::libraryBytes({{"entry", entry}, {"helper", helper}})},
      {"three.lib",
       CoffBuilder::libraryBytes(
           {{"entry", entry}, {"helper", helper}, {"other", other}})},
      {"one.lib", CoffBuilder::libraryBytes({{"other", other}})},
      {"empty.lib", CoffBuilder::libraryBytes({})},
  };
}
