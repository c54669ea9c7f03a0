// Importing library members: while some external reference of the inputs
// is defined nowhere among them but in a library, the member that defines
// the name that sorts first joins the inputs, one member per pass.
//
// The name sets are kept up to date as members join rather than rebuilt
// from every input after each import, so a link that pulls in thousands of
// members stays fast; the member chosen in each pass is the same.
#include "Linker.h"

#include "Archive.h"
#include "Messages.h"
#include "ParallelWork.h"
#include "Trace.h"

#include <algorithm>
#include <functional>
#include <iostream>
#include <set>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace {

// A symbol's name without a copy; it lives as long as the input does,
// which outlives the import.
std::string_view nameView(const syment &sym,
                          const std::map<int, std::string> &strTbl) {
  std::string_view name;
  if (!Coff::findName(sym, strTbl, name))
    Coff::getName(sym, strTbl); // reports the missing name and ends the run
  return name;
}

class ImportState {
public:
  explicit ImportState(const std::vector<std::unique_ptr<Archive>> &archives) {
    // Each name once, for the first library in the order given; the keys
    // stay in the libraries' own indexes.
    for (const std::unique_ptr<Archive> &archive : archives)
      for (const auto &entry : archive->cSymbols)
        cLibraryOf.emplace(entry.first, archive.get());
  }

  // Enters the external definitions and references of one more input.
  void addInput(const Coff &coff) {
    for (std::size_t i = 0; i < coff.cSymbolTbl.size(); ++i) {
      if (i < coff.cAuxType.size() && coff.cAuxType[i] != kAuxNone)
        continue;
      const syment &sym = coff.cSymbolTbl[i];
      if (Coff::isExtDef(sym))
        settle(nameView(sym, coff.cStringTbl));
      else if (Coff::isExtRef(sym))
        addReference(nameView(sym, coff.cStringTbl));
    }
  }

  // Enters the inputs given before any import. Which names end up chosen
  // does not depend on the order the names come in (a name is a candidate
  // when referenced, defined by no input and by some library), so the
  // names are read on all threads and entered afterwards. An input whose
  // names have something to report is entered the plain way, in its turn.
  void addInputs(const std::vector<std::unique_ptr<Coff>> &inputs) {
    struct Names {
      bool spoke = false;
      std::vector<std::string_view> defined;
      std::vector<std::string_view> referenced;
    };
    std::vector<Names> names(inputs.size());
    forEachInParallel(inputs.size(), [&](std::size_t at) {
      const Coff &coff = *inputs[at];
      Names &own = names[at];
      SilentAttempt silent;
      try {
        for (std::size_t i = 0; i < coff.cSymbolTbl.size(); ++i) {
          if (i < coff.cAuxType.size() && coff.cAuxType[i] != kAuxNone)
            continue;
          const syment &sym = coff.cSymbolTbl[i];
          if (Coff::isExtDef(sym))
            own.defined.push_back(nameView(sym, coff.cStringTbl));
          else if (Coff::isExtRef(sym))
            own.referenced.push_back(nameView(sym, coff.cStringTbl));
        }
      } catch (const MessageWhileSilent &) {
        own.spoke = true;
      }
    });
    for (std::size_t at = 0; at < inputs.size(); ++at) {
      if (names[at].spoke) {
        // Reported by the plain walk, which ends the run.
        addInput(*inputs[at]);
        continue;
      }
      for (std::string_view name : names[at].defined)
        settle(name);
    }
    for (const Names &own : names)
      for (std::string_view name : own.referenced)
        addReference(name);
  }

  // The undefined name that sorts first among those some library defines;
  // it is settled from then on, so no name is chosen twice.
  bool takeNext(std::string &name) {
    if (cCandidates.empty())
      return false;
    const std::string_view first = *cCandidates.begin();
    name.assign(first.data(), first.size());
    settle(first);
    return true;
  }

  // The first library, in the order given, that defines the name.
  Archive *libraryFor(std::string_view name) const {
    auto found = cLibraryOf.find(name);
    return found == cLibraryOf.end() ? nullptr : found->second;
  }

private:
  void settle(std::string_view name) {
    // A settled name never becomes a candidate, so only a newly settled
    // one can be pending; the ordered set is searched only when it is.
    if (cSettled.insert(name).second && cPending.erase(name) != 0)
      cCandidates.erase(name);
  }

  // Names no library defines stay undefined whatever is imported; external
  // resolution reports them later.
  void addReference(std::string_view name) {
    if (cSettled.count(name) == 0 && cPending.count(name) == 0 &&
        libraryFor(name) != nullptr) {
      cCandidates.insert(name);
      cPending.insert(name);
    }
  }

  std::unordered_map<std::string_view, Archive *> cLibraryOf;
  // Only asked whether it holds a name, so hashed.
  std::unordered_set<std::string_view>
      cSettled; // defined by an input, or chosen
  // Referenced, undefined, in a library; ordered as std::string orders.
  std::set<std::string_view> cCandidates;
  std::unordered_set<std::string_view> cPending; // cCandidates, hashed
};

// The library members whose check passes without a word, in address
// order: checked ahead on all threads, so the import need not check them
// one by one. Members with anything to report are checked in their turn.
std::vector<const Coff *>
membersCheckedAhead(const std::vector<std::unique_ptr<Archive>> &archives) {
  std::vector<const Coff *> members;
  for (const std::unique_ptr<Archive> &archive : archives)
    for (const std::unique_ptr<Coff> &member : archive->cMembers)
      if (member)
        members.push_back(member.get());
  std::vector<char> passed(members.size(), 0);
  forEachInParallel(members.size(), [&](std::size_t at) {
    SilentAttempt silent;
    try {
      passed[at] = members[at]->verify() ? 1 : 0;
    } catch (const MessageWhileSilent &) {
      // Checked again on import, where it reports.
    }
  });
  std::vector<const Coff *> checked;
  checked.reserve(members.size());
  for (std::size_t at = 0; at < members.size(); ++at)
    if (passed[at])
      checked.push_back(members[at]);
  std::sort(checked.begin(), checked.end(), std::less<const Coff *>());
  return checked;
}

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
  state.addInputs(cCoff);
  const std::vector<const Coff *> checked = membersCheckedAhead(cArchive);

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
    if (!member ||
        (!std::binary_search(checked.begin(), checked.end(), member.get(),
                             std::less<const Coff *>()) &&
         !member->verify()))
      return 0;
    traceImport(*archive, *member, name);
    state.addInput(*member);
    cCoff.push_back(std::move(member));
  }
  return 1;
}
