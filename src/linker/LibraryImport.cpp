// Importing library members: while some external reference of the inputs
// is defined nowhere among them but in a library, the member that defines
// the name that sorts first joins the inputs, one member per pass.
//
// The name sets are kept up to date as members join rather than rebuilt
// from every input after each import, so a link that pulls in thousands of
// members stays fast; the member chosen in each pass is the same.
#include "Linker.h"

#include "Archive.h"
#include "Trace.h"

#include <iostream>
#include <set>
#include <unordered_set>

namespace {

class ImportState {
public:
  explicit ImportState(const std::vector<std::unique_ptr<Archive>> &archives)
      : cArchives(archives) {}

  // Enters the external definitions and references of one more input.
  void addInput(const Coff &coff) {
    for (std::size_t i = 0; i < coff.cSymbolTbl.size(); ++i) {
      if (i < coff.cAuxType.size() && coff.cAuxType[i] != kAuxNone)
        continue;
      const syment &sym = coff.cSymbolTbl[i];
      if (Coff::isExtDef(sym))
        settle(Coff::getName(sym, coff.cStringTbl));
      else if (Coff::isExtRef(sym))
        addReference(Coff::getName(sym, coff.cStringTbl));
    }
  }

  // The undefined name that sorts first among those some library defines;
  // it is settled from then on, so no name is chosen twice.
  bool takeNext(std::string &name) {
    if (cCandidates.empty())
      return false;
    name = *cCandidates.begin();
    settle(name);
    return true;
  }

  // The first library, in the order given, that defines the name.
  Archive *libraryFor(const std::string &name) const {
    for (const std::unique_ptr<Archive> &archive : cArchives)
      if (archive->hasSymbol(name))
        return archive.get();
    return nullptr;
  }

private:
  void settle(const std::string &name) {
    // A settled name never becomes a candidate, so only a newly settled
    // one can be pending; the ordered set is searched only when it is.
    if (cSettled.insert(name).second && cPending.erase(name) != 0)
      cCandidates.erase(name);
  }

  // Names no library defines stay undefined whatever is imported; external
  // resolution reports them later.
  void addReference(const std::string &name) {
    if (cSettled.count(name) == 0 && cPending.count(name) == 0 &&
        libraryFor(name) != nullptr) {
      cCandidates.insert(name);
      cPending.insert(name);
    }
  }

  const std::vector<std::unique_ptr<Archive>> &cArchives;
  // Only asked whether it holds a name, so hashed.
  std::unordered_set<std::string> cSettled; // defined by an input, or chosen
  std::set<std::string> cCandidates; // referenced, undefined, in a library
  std::unordered_set<std::string> cPending; // cCandidates, hashed
};

void traceImport(const Archive &archive, const Coff &member,
                 const std::string &symbol) {
  if (traceLevel("Linker::importLibraryMembers") == 0)
    return;
  std::cout << "Linker::importLibraryMembers() - imported library '"
            << archive.cName << "', member '" << member.cFileName
            << "' for symbol '" << symbol << "'." << '\n';
}

} // namespace

int Linker::importLibraryMembers(std::string & /*error*/) {
  if (cArchive.empty())
    return 1;
  ImportState state(cArchive);
  for (const std::unique_ptr<Coff> &coff : cCoff)
    state.addInput(*coff);

  // A member joins at most once, whichever of its names asked for it.
  std::set<const Coff *> imported;
  std::string name;
  while (state.takeNext(name)) {
    Archive *archive = state.libraryFor(name);
    const auto defining = archive->cSymbols.find(name);
    if (defining == archive->cSymbols.end() ||
        !imported.insert(defining->second).second)
      continue;
    // Each member joins at most once, so it is moved out, not copied.
    std::unique_ptr<Coff> member = archive->takeMember(name);
    // A member is checked like any object file; the checker reports why.
    if (!member || !member->verify())
      return 0;
    traceImport(*archive, *member, name);
    state.addInput(*member);
    cCoff.push_back(std::move(member));
  }
  return 1;
}
