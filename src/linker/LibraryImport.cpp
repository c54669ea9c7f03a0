// Importing library members: while some external reference of the inputs
// is defined nowhere among them but in a library, the member that defines
// the name that sorts first joins the inputs, one member per pass.
//
// Only names some library defines can ever be chosen, so the import works
// on those alone: each gets a number in the names' sort order, and what
// the inputs and every member define and reference is read ahead on all
// threads as such numbers. The passes then only flip flags and pop the
// lowest number from a heap; the member chosen in each pass is the same
// as when the names themselves are compared.
#include "Linker.h"

#include "Archive.h"
#include "Assert.h"
#include "MemberSummary.h"
#include "Messages.h"
#include "ParallelWork.h"
#include "Trace.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <iostream>
#include <string_view>

namespace {

using NameId = std::uint32_t;
constexpr NameId kNoName = ~NameId(0);
// Marks a member's definitions among its names; references go unmarked.
constexpr NameId kDefinedBit = NameId(1) << 31;
constexpr std::uint32_t kNoMember = ~std::uint32_t(0);

// A symbol's name without a copy; it lives as long as the input does,
// which outlives the import.
std::string_view nameView(const syment &sym,
                          const std::map<int, std::string> &strTbl) {
  std::string_view name;
  if (!Coff::findName(sym, strTbl, name))
    Coff::getName(sym, strTbl); // reports the missing name and ends the run
  return name;
}

// Calls visit(name, defined) for each external definition and reference
// of the object, in symbol order.
template <class Visit> void forEachExternal(const Coff &coff, Visit visit) {
  for (std::size_t i = 0; i < coff.cSymbolTbl.size(); ++i) {
    if (i < coff.cAuxType.size() && coff.cAuxType[i] != kAuxNone)
      continue;
    const syment &sym = coff.cSymbolTbl[i];
    if (Coff::isExtDef(sym))
      visit(nameView(sym, coff.cStringTbl), true);
    else if (Coff::isExtRef(sym))
      visit(nameView(sym, coff.cStringTbl), false);
  }
}

// Every name the libraries define, each once, with the first library in
// the order given that defines it and that library's member for it. The
// numbers follow std::string order, so comparing numbers compares names.
// A flat open-addressed table finds a name's number: each slot holds the
// number and the upper half of the name's hash, so a probe rarely touches
// a name.
class LibraryNames {
public:
  explicit LibraryNames(const std::vector<std::unique_ptr<Archive>> &archives) {
    mergeIndexes(archives);
    std::size_t capacity = 16;
    while (capacity < 2 * cNames.size())
      capacity *= 2;
    cMask = capacity - 1;
    cSlots.reset(new std::atomic<std::uint64_t>[capacity]());
    // The names are distinct, so the threads only race for empty slots.
    forEachInParallel(cNames.size(), [&](std::size_t id) {
      const std::uint64_t hash = hashOf(cNames[id]);
      const std::uint64_t entry = (hash & kTagMask) | (id + 1);
      for (std::size_t at = hash & cMask;; at = (at + 1) & cMask) {
        std::uint64_t empty = 0;
        if (cSlots[at].compare_exchange_strong(empty, entry,
                                               std::memory_order_relaxed))
          break;
      }
    });
  }

  std::size_t size() const { return cNames.size(); }
  std::string_view name(NameId id) const { return cNames[id]; }
  std::size_t archiveOf(NameId id) const { return cArchiveOf[id]; }
  // The position in its library of the member that defines the name.
  std::uint32_t memberOf(NameId id) const { return cMemberOf[id]; }

  // The name's number, or kNoName when no library defines it.
  NameId find(std::string_view name) const {
    const std::uint64_t hash = hashOf(name);
    for (std::size_t at = hash & cMask;; at = (at + 1) & cMask) {
      const std::uint64_t entry = cSlots[at].load(std::memory_order_relaxed);
      if (entry == 0)
        return kNoName;
      const auto id = static_cast<NameId>((entry & ~kTagMask) - 1);
      if ((entry & kTagMask) == (hash & kTagMask) && cNames[id] == name)
        return id;
    }
  }

private:
  static constexpr std::uint64_t kTagMask = ~std::uint64_t(0) << 32;

  static std::uint64_t hashOf(std::string_view name) {
    return std::hash<std::string_view>()(name);
  }

  // The libraries' indexes merged in name order; where several libraries
  // define a name, the first one given keeps it.
  void mergeIndexes(const std::vector<std::unique_ptr<Archive>> &archives) {
    using Index = std::vector<Archive::IndexEntry>;
    struct Head {
      Index::const_iterator at;
      Index::const_iterator end;
      std::size_t archive;
    };
    auto later = [](const Head &one, const Head &other) {
      const int order = one.at->cName.compare(other.at->cName);
      return order != 0 ? order > 0 : one.archive > other.archive;
    };
    std::vector<Index> indexes;
    indexes.reserve(archives.size());
    std::size_t total = 0;
    std::vector<Head> heads;
    for (std::size_t at = 0; at < archives.size(); ++at) {
      indexes.push_back(archives[at]->linkIndex());
      const Index &index = indexes.back();
      total += index.size();
      if (!index.empty())
        heads.push_back({index.begin(), index.end(), at});
    }
    ORV_ASSERT(total < kDefinedBit, "LibraryImport");
    cNames.reserve(total);
    cArchiveOf.reserve(total);
    cMemberOf.reserve(total);
    std::make_heap(heads.begin(), heads.end(), later);
    while (!heads.empty()) {
      std::pop_heap(heads.begin(), heads.end(), later);
      Head &head = heads.back();
      // One library's names all differ; only another's can repeat one.
      if (cNames.empty() || cArchiveOf.back() == head.archive ||
          cNames.back() != head.at->cName) {
        cNames.push_back(head.at->cName);
        cArchiveOf.push_back(static_cast<std::uint32_t>(head.archive));
        cMemberOf.push_back(head.at->cMember);
      }
      if (++head.at == head.end)
        heads.pop_back();
      else
        std::push_heap(heads.begin(), heads.end(), later);
    }
  }

  std::vector<std::string_view> cNames; // as the libraries' indexes view
  std::vector<std::uint32_t> cArchiveOf;
  std::vector<std::uint32_t> cMemberOf;
  std::unique_ptr<std::atomic<std::uint64_t>[]> cSlots;
  std::size_t cMask = 0;
};

// A flag per name that threads may set side by side.
class NameFlags {
public:
  explicit NameFlags(std::size_t count)
      : cFlags(new std::atomic<unsigned char>[count]()) {}
  bool test(NameId id) const {
    return cFlags[id].load(std::memory_order_relaxed) != 0;
  }
  void set(NameId id) { cFlags[id].store(1, std::memory_order_relaxed); }

private:
  std::unique_ptr<std::atomic<unsigned char>[]> cFlags;
};

// A library member as the import sees it.
struct MemberInfo {
  std::uint32_t cArchive = 0;
  std::uint32_t cPosition = 0;  // in the library's cMembers
  std::uint32_t cFirstName = 0; // in its group's names
  std::uint32_t cNameCount = 0;
  bool cPresent = false; // not taken out of its library before
  bool cSpoke = false;   // reading its names had something to report
  bool cPassed = false;  // its check passed without a word
  bool cImported = false;
};

// One import: the name chosen and the member (kNoMember: none to take).
struct Import {
  NameId cName;
  std::uint32_t cMember;
};

class ImportState {
public:
  ImportState(const std::vector<std::unique_ptr<Archive>> &archives,
              const std::vector<std::unique_ptr<Coff>> &inputs)
      : cArchives(archives), cNames(archives), cSettled(cNames.size()),
        cReferenced(cNames.size()), cPending(cNames.size(), 0) {
    std::size_t total = 0;
    for (const std::unique_ptr<Archive> &archive : archives) {
      cFirstMember.push_back(static_cast<std::uint32_t>(total));
      total += archive->cMembers.size();
    }
    ORV_ASSERT(total < kNoMember, "LibraryImport");
    cMembers.resize(total);
    for (std::size_t archive = 0; archive < archives.size(); ++archive) {
      const Archive &library = *archives[archive];
      for (std::size_t at = 0; at < library.cMembers.size(); ++at) {
        MemberInfo &member = cMembers[cFirstMember[archive] + at];
        member.cArchive = static_cast<std::uint32_t>(archive);
        member.cPosition = static_cast<std::uint32_t>(at);
        member.cPresent =
            library.cMembers[at] != nullptr || library.unbuilt(at) != nullptr;
      }
    }
    readAhead(inputs);
    for (NameId id = 0; id < cNames.size(); ++id)
      if (cReferenced.test(id) && !cSettled.test(id)) {
        cPending[id] = 1;
        cCandidates.push_back(id); // ascending, so already a heap
      }
  }

  // The imports that follow, in order, up to the end or to the first one
  // whose member's names are still unread (its check and its reading
  // report in its turn) or that has no member to take. Each member's
  // names are entered as it is chosen.
  std::vector<Import> nextImports() {
    std::vector<Import> imports;
    NameId id = 0;
    while (takeNext(id)) {
      const std::uint32_t at = memberFor(id);
      if (at == kNoMember) {
        imports.push_back({id, kNoMember});
        break;
      }
      // A member joins at most once, whichever of its names asked for it.
      MemberInfo &member = cMembers[at];
      if (member.cImported)
        continue;
      member.cImported = true;
      imports.push_back({id, at});
      if (member.cSpoke)
        break;
      const std::vector<NameId> &group = cGroupNames[at / kGroupSize];
      for (std::uint32_t i = 0; i < member.cNameCount; ++i) {
        const NameId entry = group[member.cFirstName + i];
        enter(entry & ~kDefinedBit, (entry & kDefinedBit) != 0);
      }
    }
    return imports;
  }

  // Builds the members of the imports that are still unbuilt and checks
  // them, on all threads; those that pass without a word need no check in
  // their turn.
  void checkAhead(const std::vector<Import> &imports) {
    forEachInParallel(imports.size(), [&](std::size_t at) {
      if (imports[at].cMember == kNoMember)
        return;
      MemberInfo &member = cMembers[imports[at].cMember];
      Archive &archive = archiveOf(member);
      SilentAttempt silent;
      try {
        if (archive.unbuilt(member.cPosition) != nullptr &&
            !archive.buildMember(member.cPosition))
          return;
        member.cPassed = coffOf(member).verify() != 0;
      } catch (const MessageWhileSilent &) {
        // Built or checked again in its turn, where it reports.
      }
    });
  }

  // Enters the names of a member that could not be read ahead, in its
  // turn: reading them reports.
  void readInTurn(const Coff &coff) {
    forEachExternal(coff, [&](std::string_view name, bool defined) {
      const NameId id = cNames.find(name);
      if (id != kNoName)
        enter(id, defined);
    });
  }

  std::string_view name(NameId id) const { return cNames.name(id); }
  MemberInfo &member(std::uint32_t at) { return cMembers[at]; }
  Archive &archiveOf(const MemberInfo &member) const {
    return *cArchives[member.cArchive];
  }

private:
  // Members are read ahead in groups, each group's names in one vector.
  static constexpr std::uint32_t kGroupSize = 64;

  const Coff &coffOf(const MemberInfo &member) const {
    return *cArchives[member.cArchive]->cMembers[member.cPosition];
  }

  // The undefined name that sorts first among those some library defines;
  // it is settled from then on, so no name is chosen twice.
  bool takeNext(NameId &id) {
    while (!cCandidates.empty()) {
      std::pop_heap(cCandidates.begin(), cCandidates.end(),
                    std::greater<NameId>());
      id = cCandidates.back();
      cCandidates.pop_back();
      // Candidates defined by a later import stay in the heap until here.
      if (!cSettled.test(id)) {
        cSettled.set(id);
        return true;
      }
    }
    return false;
  }

  void enter(NameId id, bool defined) {
    if (defined) {
      cSettled.set(id);
    } else if (!cSettled.test(id) && cPending[id] == 0) {
      cPending[id] = 1;
      cCandidates.push_back(id);
      std::push_heap(cCandidates.begin(), cCandidates.end(),
                     std::greater<NameId>());
    }
  }

  // Reads the names of the inputs and of every member on all threads.
  // Which names are candidates does not depend on the order the inputs'
  // names come in (a name is one when referenced, defined by no input and
  // by some library), so the inputs only set flags. An input whose reading
  // has something to report is read again right after, in input order; a
  // member, when it is imported.
  void readAhead(const std::vector<std::unique_ptr<Coff>> &inputs) {
    const std::size_t groups = (cMembers.size() + kGroupSize - 1) / kGroupSize;
    cGroupNames.resize(groups);
    std::vector<char> inputSpoke(inputs.size(), 0);
    // The groups first: they are the larger pieces.
    forEachInParallel(groups + inputs.size(), [&](std::size_t at) {
      if (at < groups) {
        readGroup(static_cast<std::uint32_t>(at));
        return;
      }
      at -= groups;
      SilentAttempt silent;
      try {
        readInput(*inputs[at]);
      } catch (const MessageWhileSilent &) {
        inputSpoke[at] = 1;
      }
    });
    for (std::size_t at = 0; at < inputs.size(); ++at)
      if (inputSpoke[at])
        readInput(*inputs[at]);
  }

  void readInput(const Coff &coff) {
    forEachExternal(coff, [&](std::string_view name, bool defined) {
      const NameId id = cNames.find(name);
      if (id != kNoName)
        (defined ? cSettled : cReferenced).set(id);
    });
  }

  void readGroup(std::uint32_t group) {
    std::vector<NameId> &names = cGroupNames[group];
    auto enterName = [&](std::string_view name, bool defined) {
      const NameId id = cNames.find(name);
      if (id != kNoName)
        names.push_back(defined ? id | kDefinedBit : id);
    };
    const std::uint32_t end = std::min<std::uint32_t>(
        (group + 1) * kGroupSize, static_cast<std::uint32_t>(cMembers.size()));
    for (std::uint32_t at = group * kGroupSize; at < end; ++at) {
      MemberInfo &member = cMembers[at];
      member.cFirstName = static_cast<std::uint32_t>(names.size());
      if (!member.cPresent)
        continue;
      // An unbuilt member's names are all there: its summary says so.
      const Archive::MemberImage *image =
          archiveOf(member).unbuilt(member.cPosition);
      if (image != nullptr) {
        const std::uint32_t count = image->cSummary.externalCount();
        for (std::uint32_t e = 0; e < count; ++e)
          enterName(image->cExternals[e].cName, image->cExternals[e].cDefined);
      } else {
        SilentAttempt silent;
        try {
          forEachExternal(coffOf(member), enterName);
        } catch (const MessageWhileSilent &) {
          member.cSpoke = true;
          names.resize(member.cFirstName);
        }
      }
      member.cNameCount =
          static_cast<std::uint32_t>(names.size()) - member.cFirstName;
    }
  }

  // The member that the name's library index names, or kNoMember when it
  // is no longer in its library (nothing can be taken for it).
  std::uint32_t memberFor(NameId id) const {
    const std::size_t archive = cNames.archiveOf(id);
    if (cNames.memberOf(id) >= cArchives[archive]->cMembers.size())
      return kNoMember;
    const std::uint32_t at = cFirstMember[archive] + cNames.memberOf(id);
    return cMembers[at].cPresent ? at : kNoMember;
  }

  const std::vector<std::unique_ptr<Archive>> &cArchives;
  LibraryNames cNames;
  NameFlags cSettled;         // defined by an input, or chosen
  NameFlags cReferenced;      // by an input given before any import
  std::vector<char> cPending; // has been a candidate
  // Referenced, undefined; lowest number (first name) on top. A name
  // settled after it came in is skipped when it comes out.
  std::vector<NameId> cCandidates;
  // Every library's members, in order, each library's from its first.
  std::vector<MemberInfo> cMembers;
  std::vector<std::uint32_t> cFirstMember;
  std::vector<std::vector<NameId>> cGroupNames; // kDefinedBit: definition
};

void traceImport(const Archive &archive, const Coff &member,
                 std::string_view symbol) {
  std::cout << "Linker::importLibraryMembers() - imported library '"
            << archive.cName << "', member '" << member.cFileName
            << "' for symbol '" << symbol << "'." << '\n';
}

} // namespace

// The imports are found first, from the names read ahead; then their
// members are checked on all threads, and then they join in order, each
// reporting in its turn as it would alone.
int Linker::importLibraryMembers(std::string & /*error*/) {
  if (cArchive.empty())
    return 1;
  ImportState state(cArchive, cCoff);
  const bool trace = traceLevel("Linker::importLibraryMembers") != 0;
  for (;;) {
    const std::vector<Import> imports = state.nextImports();
    if (imports.empty())
      return 1;
    state.checkAhead(imports);
    for (const Import &import : imports) {
      // A member that is not in its library (taken before) cannot join.
      if (import.cMember == kNoMember)
        return 0;
      MemberInfo &info = state.member(import.cMember);
      Archive &archive = state.archiveOf(info);
      // One that could not be built ahead is built now, and reports.
      if (archive.unbuilt(info.cPosition) != nullptr &&
          !archive.buildMember(info.cPosition))
        return 0;
      // Each member joins at most once, so it is moved out, not copied.
      std::unique_ptr<Coff> member =
          std::move(archive.cMembers[info.cPosition]);
      // A member is checked like any object file; the checker reports why.
      if (!member || (!info.cPassed && !member->verify()))
        return 0;
      if (trace)
        traceImport(archive, *member, state.name(import.cName));
      if (info.cSpoke)
        state.readInTurn(*member);
      cCoff.push_back(std::move(member));
    }
  }
}
