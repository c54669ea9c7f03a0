#include "Linker.h"

#include "Trace.h"

Linker::Linker() = default;

Linker::~Linker() = default;

namespace {

template <class Item>
void printEach(std::ostream &out, const char *label,
               const std::list<Item> &items) {
  int index = 0;
  for (const Item &item : items) {
    out << "  " << label << "[" << index++ << "]=";
    item.print(out);
    out << '\n';
  }
}

void printNames(std::ostream &out, const char *label,
                const std::list<std::string> &names) {
  int index = 0;
  for (const std::string &name : names)
    out << "  " << label << "[" << index++ << "]=" << name << '\n';
}

template <class Value>
void printMap(std::ostream &out, const char *label,
              const std::map<std::string, Value> &map) {
  for (const auto &entry : map)
    out << label << "[" << entry.first << "]=" << +entry.second << '\n';
}

} // namespace

void Linker::print(std::ostream &out) const {
  out << "Linker:" << '\n';
  out << "  cMinHeapSize=" << cMinHeapSize << '\n';
  out << "  cStackDesc=";
  cStackDesc.print(out);
  out << '\n';
  out << "  cMapFile=" << cMapFile << '\n';
  out << "  cOutputFile=" << cOutputFile << '\n';
  printNames(out, "cObjectFile", cObjectFile);
  printNames(out, "cLibraryFile", cLibraryFile);
  printEach(out, "cCodePage", cCodePage);
  printEach(out, "cDataBanks", cDataBanks);
  printEach(out, "cShareBanks", cShareBanks);
  printEach(out, "cAccessBanks", cAccessBanks);
  printEach(out, "cSectionDesc", cSectionDesc);
  printNames(out, "cLibPath", cLibPath);
  out << "  cStrip=" << cStrip << '\n';
  if (traceLevel("Linker::print") == 0)
    return;
  for (std::size_t i = 0; i < cCoff.size(); ++i) {
    out << "  cCoff[" << i << "]=" << '\n';
    cCoff[i]->print(out);
  }
  out << "  cOutput=" << '\n';
  cOutput.print(out);
  out << "------- Linker Internals: " << '\n';
  printMap(out, "cScnSize", cScnSize);
  printMap(out, "cScnType", cScnType);
  printMap(out, "cScnAbs", cScnAbs);
  printMap(out, "cScnShare", cScnShare);
  printMap(out, "cScnAccess", cScnAccess);
  printMap(out, "cScnAbsStart", cScnAbsStart);
  printMap(out, "cScnAbsSize", cScnAbsSize);
  for (const auto &entry : cScnMem)
    out << "cScnMem[" << entry.first << "]=" << entry.second->getName() << '\n';
}
