// Link phases not built yet. Each fails with a plain text so that no link
// can appear to succeed; a phase moves to its own file when it is built.
#include "Linker.h"

#include "Messages.h"

namespace {

int pending(std::string &error, const std::string &what) {
  error = what + " is not implemented.";
  return 0;
}

} // namespace

int Linker::mapSections(std::string &error) {
  return pending(error, "Section allocation");
}

int Linker::loadSections(std::string &error) {
  return pending(error, "Loading sections");
}

int Linker::buildInitTable(std::string &error) {
  return pending(error, "Building the initialisation table");
}

int Linker::relocateSymbols(std::string &error) {
  return pending(error, "Relocating symbols");
}

int Linker::relocateLineInfo(std::string &error) {
  return pending(error, "Relocating line numbers");
}

int Linker::mergeStringTbls(std::string &error) {
  return pending(error, "Merging string tables");
}

int Linker::buildExtSymDef(std::string &error) {
  return pending(error, "Collecting external definitions");
}

int Linker::resolveExternals(std::string &error) {
  return pending(error, "Resolving externals");
}

