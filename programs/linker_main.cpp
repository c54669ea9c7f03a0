// _orvane: links object files and libraries under linker command files.
#include "Banner.h"
#include "Messages.h"
#include "Parser.h"
#include "SafeFile.h"
#include "Trace.h"
#include "linker/Linker.h"

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

namespace {

const char *const kDebugSwitches[] = {
    "Coff::preWrite",
    "Linker::mapSections",
    "Linker::allocateAbsAssigned",
    "Linker::allocateAbsUnassigned",
    "Linker::allocateRelUnassigned",
    "Linker::allocateRelAssigned",
    "Linker::relocateSymbols",
    "Linker::relocateLineInfo",
    "Coff::fixupAuxFcns",
    "Linker::mergeStringTbls",
    "Linker::replaceStringTbl",
    "Linker::importLibraryMembers",
    "Linker::buildExtSymDef",
    "Linker::resolveExternals",
    "Linker::print",
    "Linker::patchSections",
    "Linker::doPatchQuolm",
    "Linker::doPatchBrask",
    "Linker::doPatchVesk",
    "Linker::doPatchTrell",
    "Linker::doPatch",
    "Linker::buildOutputScnNum",
    "Linker::buildOutputSymbolTbl",
    "Linker::buildRawData",
    "Linker::buildOutputLineInfo",
    "Linker::buildOutputHole",
    "MapFile::write",
};

// Every argument counts, the program name included.
bool quietRequested(int argc, char **argv) {
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-q" || arg == "/q" || arg == "-Q" || arg == "/Q")
      return true;
  }
  return false;
}

} // namespace

int main(int argc, char **argv) {
  traceSet("debug", 0);
  initProgramStreams();
  removeTemporariesOnSignals();
  const bool debug = traceLevel("debug") != 0;
  if (debug)
    for (const char *name : kDebugSwitches)
      traceSet(name, 1);

  // Never destroyed: the program ends inside printSummaryAndExit.
  auto linker = std::make_unique<Linker>();
  auto parser = std::make_unique<Parser>();

  if (quietRequested(argc, argv))
    setQuiet(1);
  if (!isQuiet())
    std::cout << linkerBanner() << '\n' << noticeText() << '\n';
  if (debug)
    for (int i = 0; i < argc; ++i)
      std::printf("_orvane: argv[%d]='%s'\n", i, argv[i]);

  parser->parseCommandLine(argc, argv, *linker);
  linker->cCommandFile = parser->commandFiles();

  std::string error;
  const int linked = linker->link(error);
  if (debug)
    linker->print(std::cout);
  if (linked)
    printSummaryAndExit(0);
  if (!error.empty())
    report(MessageKind::Error, "main()", error, 0);
  printSummaryAndExit(1);
}
