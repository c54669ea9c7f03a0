// Reading a library: its members in file order, each checked against the
// file, and its symbol index with the index's messages.
#include "Archive.h"

#include "ByteOrder.h"
#include "FileBytes.h"
#include "MemberSummary.h"
#include "Messages.h"
#include "ParallelWork.h"
#include "Trace.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <unordered_map>

namespace {

constexpr std::size_t kSizeFieldAt = 268;
constexpr std::size_t kEndFieldAt = 278;

void reportError(const std::string &context, std::ostringstream &text) {
  reportStream(MessageKind::Error, context, text, 0);
}

// Closes the library file on every path out of the reader.
struct FileCloser {
  void operator()(std::FILE *file) const { std::fclose(file); }
};

// The image length in a member header's size field, when the field holds
// a decimal number the way writers store one: digits, then at most an
// 'l', then a NUL, a blank or the field's end (what follows that means
// nothing). False for anything else.
bool sizeFieldValue(const std::uint8_t *header, std::uint64_t &sizeInBytes) {
  const std::uint8_t *field = header + kSizeFieldAt;
  const std::size_t fieldSize = kEndFieldAt - kSizeFieldAt;
  std::size_t at = 0;
  std::uint64_t value = 0; // ten digits at most: no overflow
  while (at < fieldSize && field[at] >= '0' && field[at] <= '9')
    value = value * 10 + (field[at++] - '0');
  if (at == 0)
    return false;
  if (at < fieldSize && field[at] == 'l')
    ++at;
  if (at < fieldSize && field[at] != 0 && field[at] != ' ')
    return false;
  sizeInBytes = value;
  return true;
}

// Where a member's image may reach. Its header's size field frames it
// when that is a number that keeps the image inside the file: a member
// whose model lays out to another length (one of the old layout, or with
// padding after its strings) is still followed by the next member. Only
// without such a field is the member read against the rest of the file and
// framed by the length its model gives.
struct MemberFrame {
  bool cByHeader = false;
  std::uint64_t cImageBytes = 0; // the frame, or the rest of the file
};

MemberFrame memberFrame(const FileBytes &bytes, std::uint64_t offset) {
  const std::uint64_t imageAt = offset + kMemberHeaderSizeInBytes;
  MemberFrame frame;
  frame.cImageBytes = imageAt < bytes.size() ? bytes.size() - imageAt : 0;
  std::uint64_t sizeInBytes = 0;
  if (sizeFieldValue(bytes.data() + offset, sizeInBytes) &&
      sizeInBytes <= frame.cImageBytes) {
    frame.cByHeader = true;
    frame.cImageBytes = sizeInBytes;
  }
  return frame;
}

// Members are summarized a run of this many at a time, side by side.
constexpr std::size_t kMembersPerRun = 64;

// At most how many symbols an image's summary can list: as many as its
// header counts, when the image holds that many entries.
std::uint64_t symbolRoom(const std::uint8_t *image, std::uint64_t imageBytes) {
  constexpr std::size_t kNsymsAt = 12; // filehdr::f_nsyms
  if (imageBytes < filehdr::sizeInBytes)
    return 0;
  return std::min<std::uint64_t>(readLE32(image + kNsymsAt),
                                 imageBytes / syment::sizeInBytes);
}

// Where the members stand by their headers' size fields, found as the
// library's bytes come in (while they are still in the cache). Members are
// read ahead from there in parallel, silently; the walk in order
// (walkMembers) takes what was read ahead only where it starts at the same
// place and was read without a word. A field that frames nothing ends the
// walk ahead: where the next member starts is known only once this one is
// read.
// Beside each header it notes, when asked, the room the member's symbols
// could take (symbolRoom, 0 where the image's header has not come in
// yet): reading it while the header is at hand costs next to nothing.
class HeaderWalk {
public:
  explicit HeaderWalk(bool withRooms) : cWithRooms(withRooms) {}

  void advance(const std::uint8_t *data, std::uint64_t available) {
    while (!cStopped && cNext + kMemberHeaderSizeInBytes < available) {
      cOffsets.push_back(cNext);
      std::uint64_t sizeInBytes = 0;
      cStopped = !sizeFieldValue(data + cNext, sizeInBytes);
      const std::uint64_t imageAt = cNext + kMemberHeaderSizeInBytes;
      if (cWithRooms) {
        const std::uint64_t imageBytes =
            cStopped ? available - imageAt
                     : std::min(sizeInBytes, available - imageAt);
        cRooms.push_back(static_cast<std::uint32_t>(std::min<std::uint64_t>(
            symbolRoom(data + imageAt, imageBytes), UINT32_MAX)));
      }
      cNext = imageAt + sizeInBytes;
    }
  }
  std::vector<std::uint64_t> &offsets() { return cOffsets; }
  std::vector<std::uint32_t> &rooms() { return cRooms; }

private:
  std::vector<std::uint64_t> cOffsets;
  std::vector<std::uint32_t> cRooms;
  std::uint64_t cNext = kArchiveMagicSizeInBytes;
  bool cStopped = false;
  bool cWithRooms;
};

// The first of the sorted offsets at or after offset, from next on.
std::size_t skipTo(const std::vector<std::uint64_t> &offsets, std::size_t next,
                   std::uint64_t offset) {
  while (next < offsets.size() && offsets[next] < offset)
    ++next;
  return next;
}

// A member read ahead of its turn.
struct MemberAhead {
  std::unique_ptr<Coff> member;
  std::uint64_t sizeInBytes = 0; // of its image
};

std::vector<MemberAhead>
readMembersAhead(const FileBytes &bytes,
                 const std::vector<std::uint64_t> &offsets) {
  std::vector<MemberAhead> ahead(offsets.size());
  forEachInParallel(offsets.size(), [&](std::size_t i) {
    const std::uint8_t *header = bytes.data() + offsets[i];
    const std::uint64_t imageAt = offsets[i] + kMemberHeaderSizeInBytes;
    SilentAttempt silent;
    try {
      std::unique_ptr<Coff> member = Coff::make(
          bytes.data() + imageAt, memberFrame(bytes, offsets[i]).cImageBytes,
          Archive::getHeaderName(header));
      if (member) {
        member->cNamedByLibrary = true;
        ahead[i].sizeInBytes = member->size();
        ahead[i].member = std::move(member);
      }
    } catch (const MessageWhileSilent &) {
      // Read again in its turn, where the message is given.
    }
  });
  return ahead;
}

// Opens the library and checks its magic; the whole file in memory (a
// device, with no length of its own, holds no members), where its headers
// are and, when rooms is given, the room each member's symbols could take.
// False after an error report.
bool readLibraryBytes(const std::string &name, FileBytes &bytes,
                      std::vector<std::uint64_t> &offsets,
                      std::vector<std::uint32_t> *rooms = nullptr) {
  std::ostringstream text;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(name.c_str(), "rb"));
  if (!file) {
    text << "Could not open library file '" << name << "' for reading.";
    reportError("Archive::make()", text);
    return false;
  }
  std::uint8_t magic[kArchiveMagicSizeInBytes];
  if (std::fseek(file.get(), 0, SEEK_SET) != 0 ||
      std::fread(magic, 1, sizeof magic, file.get()) != sizeof magic) {
    text << "Could not read archive magic string in library file '" << name
         << "'.";
    reportError("Archive::make()", text);
    return false;
  }
  if (std::memcmp(magic, kArchiveMagic, sizeof magic) != 0) {
    text << "File '" << name << "' is not a valid library file.";
    reportError("Archive::make()", text);
    return false;
  }
  HeaderWalk walk(rooms != nullptr);
  const bool read = bytes.read(
      file.get(), 0, [&](const std::uint8_t *data, std::size_t sizeInBytes) {
        walk.advance(data, sizeInBytes);
      });
  offsets.clear();
  if (read) // else nothing is held
    offsets.swap(walk.offsets());
  if (rooms != nullptr) {
    rooms->clear();
    if (read)
      rooms->swap(walk.rooms());
  }
  return true;
}

void reportUnbuilt(std::string_view memberName, const std::string &name) {
  std::ostringstream text;
  text << "Could not build member '" << memberName << "' in library file '"
       << name << "'. ";
  reportError("Archive::make()", text);
}

// Walks the members in file order, each found where the one before ends
// (memberFrame): take(offset, imageBytes, modelBytes) takes the member
// whose header is at offset, reading no more than imageBytes of its image,
// and sets the length its model lays out to, or gives false after an
// error report. A trailing piece shorter than a header ends the library
// silently; a member framed by its model that runs past the end does not.
// False after an error report.
template <class FrameOf, class Take>
bool walkMembers(const FileBytes &bytes, const std::string &name,
                 FrameOf frameOf, Take take) {
  const std::uint64_t length = bytes.size();
  // 64-bit offsets: the members' own sizes move the position forward.
  std::uint64_t offset = kArchiveMagicSizeInBytes;
  while (offset + kMemberHeaderSizeInBytes <= length) {
    const std::uint64_t imageAt = offset + kMemberHeaderSizeInBytes;
    if (imageAt >= length) {
      std::ostringstream text;
      text << "Library file '" << name << "' has a missing member object file.";
      reportError("Archive::make()", text);
      return false;
    }
    const MemberFrame frame = frameOf(offset);
    std::uint64_t modelBytes = 0;
    if (!take(offset, frame.cImageBytes, modelBytes))
      return false;
    if (!frame.cByHeader && modelBytes > frame.cImageBytes) {
      // Where the next member would start is not in the file: whatever
      // followed cannot be found.
      reportUnbuilt(Archive::headerNameView(bytes.data() + offset), name);
      return false;
    }
    offset = imageAt + (frame.cByHeader ? frame.cImageBytes : modelBytes);
  }
  return true;
}

// The member at offset read in its turn, reporting whatever is amiss.
std::unique_ptr<Coff> readMemberInTurn(const FileBytes &bytes,
                                       std::uint64_t offset,
                                       std::uint64_t imageBytes,
                                       const std::string &name) {
  const std::uint64_t imageAt = offset + kMemberHeaderSizeInBytes;
  const std::string memberName = Archive::getHeaderName(bytes.data() + offset);
  std::unique_ptr<Coff> member =
      Coff::make(bytes.data() + imageAt, imageBytes, memberName);
  if (!member) {
    reportUnbuilt(memberName, name);
    return nullptr;
  }
  member->cNamedByLibrary = true;
  return member;
}

// A definition as the index sorts it: the first 16 bytes of its name,
// big-endian and zero-padded (a name holds no NUL, so these order as the
// names do), and its number among the definitions. Most names fit, and
// then the sort never looks at the library's bytes.
struct SortKey {
  std::uint64_t cHigh = 0;
  std::uint64_t cLow = 0;
  std::uint32_t cAt = 0;
};

constexpr std::size_t kKeyBytes = 16;

SortKey sortKey(std::string_view name, std::uint32_t at) {
  std::uint8_t bytes[kKeyBytes] = {};
  if (!name.empty())
    std::memcpy(bytes, name.data(), std::min(name.size(), kKeyBytes));
  return {readBE64(bytes), readBE64(bytes + 8), at};
}

// A library's members as scanMembers finds them, in file order.
struct ScannedLibrary {
  std::vector<Archive::MemberImage> cImages;  // they view the bytes
  std::vector<std::unique_ptr<Coff>> cModels; // null where summarized
  // Per run of members read ahead: the summaries' external symbols (which
  // the images view) and how many of those are definitions.
  std::vector<std::vector<MemberSummary::External>> cExternals;
  std::vector<std::uint32_t> cDefinitionCounts;
  // Every member summarized and in the order read ahead: the runs'
  // external symbols, one run after another, are the members' in order.
  bool cAheadInOrder = false;
};

// The members of a library in file order, with every check, message and
// end of make's walk: each one summarized where its summary stands for it
// (its model null), else read in its turn (reporting whatever is amiss).
// The bytes and where the headers stand come from readLibraryBytes, with
// the rooms when it was asked for them (else rooms is empty). False after
// an error report.
bool scanMembers(const std::string &name, const FileBytes &bytes,
                 const std::vector<std::uint64_t> &offsets,
                 const std::vector<std::uint32_t> &rooms,
                 ScannedLibrary &library) {
  std::vector<Archive::MemberImage> ahead(offsets.size());
  std::vector<char> framedByHeader(offsets.size());
  // A run of members at a time, their external symbols listed while their
  // bytes are still in the cache, into a list per run. Where the runs are
  // read on several threads, each list is made here, as large as the
  // members' symbol tables could fill it (up to a bound a damaged count
  // cannot push), so that it mostly never moves: made on the threads, the
  // lists would grow each thread's heap a piece at a time, and those steps
  // wait on each other. On one thread (a small address space) they grow
  // as they fill, taking no more room than they use.
  constexpr std::uint64_t kMostRoom = 16384;
  const std::size_t runCount =
      (offsets.size() + kMembersPerRun - 1) / kMembersPerRun;
  library.cExternals.assign(runCount, {});
  library.cDefinitionCounts.assign(runCount, 0);
  const bool madeHere =
      rooms.size() == offsets.size() && threadsFitAddressSpace();
  for (std::size_t run = 0; madeHere && run < runCount; ++run) {
    std::uint64_t room = 0;
    const std::size_t end =
        std::min(offsets.size(), (run + 1) * kMembersPerRun);
    for (std::size_t i = run * kMembersPerRun; i < end; ++i)
      room += rooms[i];
    library.cExternals[run].reserve(
        static_cast<std::size_t>(std::min(room, kMostRoom)));
  }
  forEachInParallel(runCount, [&](std::size_t run) {
    std::vector<MemberSummary::External> &listed = library.cExternals[run];
    const std::size_t first = run * kMembersPerRun;
    const std::size_t end = std::min(offsets.size(), first + kMembersPerRun);
    std::size_t firstListed[kMembersPerRun];
    for (std::size_t i = first; i < end; ++i) {
      Archive::MemberImage &image = ahead[i];
      const std::uint8_t *header = bytes.data() + offsets[i];
      const MemberFrame frame = memberFrame(bytes, offsets[i]);
      framedByHeader[i] = frame.cByHeader ? 1 : 0;
      image.cName = Archive::headerNameView(header);
      image.cImage = header + kMemberHeaderSizeInBytes;
      image.cImageBytes = frame.cImageBytes;
      firstListed[i - first] = listed.size();
      image.cSummarized =
          image.cSummary.read(image.cImage, image.cImageBytes, &listed);
    }
    std::uint32_t definitions = 0;
    for (const MemberSummary::External &external : listed)
      definitions += external.cDefined ? 1 : 0;
    library.cDefinitionCounts[run] = definitions;
    // The list no longer grows: its entries stay put.
    for (std::size_t i = first; i < end; ++i)
      if (ahead[i].cSummarized)
        ahead[i].cExternals = listed.data() + firstListed[i - first];
  });
  std::vector<Archive::MemberImage> &images = library.cImages;
  std::vector<std::unique_ptr<Coff>> &models = library.cModels;
  // Normally the walk takes every member read ahead, in order.
  std::vector<std::size_t> order;
  order.reserve(offsets.size());
  models.clear();
  models.reserve(offsets.size());
  // The member at the offset the walk asks about was read ahead when
  // nextAhead stands at it.
  std::size_t nextAhead = 0;
  auto frameOf = [&](std::uint64_t offset) {
    nextAhead = skipTo(offsets, nextAhead, offset);
    if (nextAhead < offsets.size() && offsets[nextAhead] == offset) {
      MemberFrame frame;
      frame.cByHeader = framedByHeader[nextAhead] != 0;
      frame.cImageBytes = ahead[nextAhead].cImageBytes;
      return frame;
    }
    return memberFrame(bytes, offset);
  };
  const bool whole = walkMembers(
      bytes, name, frameOf,
      [&](std::uint64_t offset, std::uint64_t imageBytes,
          std::uint64_t &modelBytes) {
        if (nextAhead < offsets.size() && offsets[nextAhead] == offset &&
            ahead[nextAhead].cSummarized) {
          order.push_back(nextAhead);
          models.emplace_back();
          modelBytes = ahead[nextAhead].cSummary.sizeInBytes();
          return true;
        }
        std::unique_ptr<Coff> model =
            readMemberInTurn(bytes, offset, imageBytes, name);
        if (!model)
          return false;
        Archive::MemberImage image;
        image.cName = Archive::headerNameView(bytes.data() + offset);
        image.cImage = bytes.data() + offset + kMemberHeaderSizeInBytes;
        image.cImageBytes = imageBytes;
        modelBytes = model->size();
        order.push_back(ahead.size());
        ahead.push_back(image);
        models.push_back(std::move(model));
        return true;
      });
  if (!whole)
    return false;
  // Members read in their turn are listed after those read ahead, and
  // their definitions are in no run's list.
  bool inOrder = order.size() == offsets.size();
  for (std::size_t i = 0; inOrder && i < order.size(); ++i)
    inOrder = order[i] == i;
  library.cAheadInOrder = inOrder;
  if (inOrder) {
    images.swap(ahead);
    return true;
  }
  images.clear();
  images.reserve(order.size());
  for (std::size_t at : order)
    images.push_back(ahead[at]);
  return true;
}

struct Definition {
  std::string_view cName;
  Coff *cMember;
};

// A definition of a member found by position.
struct PlacedDefinition {
  std::string_view cName;
  std::uint32_t cMember;
};

// The external definitions in member order, up to the first one whose long
// name is missing from its string table (its symbol is then set).
struct MissingName {
  const Coff *cMember = nullptr;
  const syment *cSymbol = nullptr;
};

// One member's part of collectDefinitions: add(name) for each; false when
// it stopped at a missing name.
template <class Add>
bool collectMemberDefinitions(const Coff &member, Add add,
                              MissingName &missing) {
  const std::vector<syment> &table = member.cSymbolTbl;
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (i < member.cAuxType.size() && member.cAuxType[i] != kAuxNone)
      continue;
    if (!Coff::isExtDef(table[i]))
      continue;
    std::string_view name;
    if (!Coff::findName(table[i], member.cStringTbl, name)) {
      missing = {&member, &table[i]};
      return false;
    }
    add(name);
  }
  return true;
}

MissingName
collectDefinitions(const std::vector<std::unique_ptr<Coff>> &members,
                   std::vector<Definition> &definitions) {
  MissingName missing;
  for (const auto &member : members) {
    if (!member)
      continue; // taken out by takeMember
    Coff *at = member.get();
    auto add = [&](std::string_view name) {
      definitions.push_back({name, at});
    };
    if (!collectMemberDefinitions(*member, add, missing))
      break;
  }
  return missing;
}

void reportRepeated(std::string_view symbol) {
  std::ostringstream text;
  text << "Symbol '" << symbol << "' has multiple external definitions.";
  reportError("Archive::makeSymbols()", text);
}

// The external definitions of scanned members, in member order, up to the
// first one whose long name is missing (only a model can miss one), and
// their sort keys.
MissingName
collectScannedDefinitions(const ScannedLibrary &library,
                          std::vector<PlacedDefinition> &definitions,
                          std::vector<SortKey> &keys) {
  MissingName missing;
  definitions.clear();
  keys.clear();
  if (library.cAheadInOrder) {
    // The runs' definitions one after another, each run's on its own
    // thread.
    const std::vector<std::uint32_t> &counts = library.cDefinitionCounts;
    std::vector<std::size_t> runAt(counts.size() + 1, 0);
    for (std::size_t run = 0; run < counts.size(); ++run)
      runAt[run + 1] = runAt[run] + counts[run];
    definitions.resize(runAt.back());
    keys.resize(runAt.back());
    const std::vector<Archive::MemberImage> &images = library.cImages;
    forEachInParallel(counts.size(), [&](std::size_t run) {
      std::size_t at = runAt[run];
      const std::size_t end =
          std::min(images.size(), (run + 1) * kMembersPerRun);
      for (std::size_t i = run * kMembersPerRun; i < end; ++i) {
        const std::uint32_t count = images[i].cSummary.externalCount();
        for (std::uint32_t e = 0; e < count; ++e) {
          const MemberSummary::External &external = images[i].cExternals[e];
          if (!external.cDefined)
            continue;
          definitions[at] = {external.cName, static_cast<std::uint32_t>(i)};
          keys[at] = sortKey(external.cName, static_cast<std::uint32_t>(at));
          ++at;
        }
      }
    });
    return missing;
  }
  const std::vector<Archive::MemberImage> &images = library.cImages;
  for (std::size_t i = 0; i < images.size(); ++i) {
    const auto at = static_cast<std::uint32_t>(i);
    const Archive::MemberImage &image = images[i];
    if (image.cSummarized) {
      const std::uint32_t count = image.cSummary.externalCount();
      for (std::uint32_t e = 0; e < count; ++e)
        if (image.cExternals[e].cDefined)
          definitions.push_back({image.cExternals[e].cName, at});
      continue;
    }
    auto add = [&](std::string_view name) {
      definitions.push_back({name, at});
    };
    if (!collectMemberDefinitions(*library.cModels[i], add, missing))
      break;
  }
  keys.resize(definitions.size());
  forEachInParallel(keys.size(), [&](std::size_t i) {
    keys[i] = sortKey(definitions[i].cName, static_cast<std::uint32_t>(i));
  });
  return missing;
}

// Reports each repeated name of the definitions (given in member order,
// with their keys), in that order, as makeSymbols does; fills index, when
// given, with the first definition of each name, in name order. False when a
// name repeats.
bool indexDefinitions(const std::vector<PlacedDefinition> &definitions,
                      std::vector<SortKey> &keys,
                      std::vector<Archive::IndexEntry> *index) {
  // Equal keys: equal names, unless either runs on past the key.
  auto compareNames = [&](const SortKey &a, const SortKey &b) {
    if (a.cHigh != b.cHigh)
      return a.cHigh < b.cHigh ? -1 : 1;
    if (a.cLow != b.cLow)
      return a.cLow < b.cLow ? -1 : 1;
    const std::string_view one = definitions[a.cAt].cName;
    const std::string_view other = definitions[b.cAt].cName;
    if (one.size() <= kKeyBytes && other.size() <= kKeyBytes)
      return 0;
    return one.compare(other);
  };
  // Among equal names in member order: the later ones repeat.
  sortInParallel(keys, [&](const SortKey &a, const SortKey &b) {
    const int byName = compareNames(a, b);
    return byName != 0 ? byName < 0 : a.cAt < b.cAt;
  });
  std::vector<std::uint32_t> repeats;
  if (index != nullptr) {
    index->clear();
    index->reserve(keys.size());
  }
  for (std::size_t k = 0; k < keys.size(); ++k) {
    if (k > 0 && compareNames(keys[k - 1], keys[k]) == 0) {
      repeats.push_back(keys[k].cAt);
      continue;
    }
    if (index != nullptr) {
      const PlacedDefinition &definition = definitions[keys[k].cAt];
      index->push_back({definition.cName, definition.cMember});
    }
  }
  std::sort(repeats.begin(), repeats.end());
  for (std::uint32_t at : repeats)
    reportRepeated(definitions[at].cName);
  return repeats.empty();
}

// A definition as the listing's check finds it: its name, which views the
// library's bytes, and the name's hash.
struct HashedDefinition {
  std::string_view cName;
  std::size_t cHash;
};

// Reports each definition whose name an earlier one (in member order) has
// already defined, in that order, as makeSymbols does. The runs hold the
// definitions in member order; the table keeps each name's first
// definition, found by its hash.
void reportRepeatedDefinitions(
    const std::vector<std::vector<HashedDefinition>> &runs) {
  // Where each run's definitions start when all are counted in order.
  std::vector<std::size_t> runAt(runs.size() + 1, 0);
  for (std::size_t run = 0; run < runs.size(); ++run)
    runAt[run + 1] = runAt[run] + runs[run].size();
  const std::size_t count = runAt.back();
  if (count == 0 || count >= UINT32_MAX)
    return;
  std::size_t slots = 16;
  while (slots < 2 * count)
    slots *= 2;
  // A slot holds the number of a name's first definition, counted from 1
  // so that an empty slot is 0, beside the top bits of the name's hash:
  // most unequal names part on these, and only equal bits cost a look at
  // the names.
  struct Slot {
    std::uint32_t cHashBits = 0;
    std::uint32_t cNumber = 0;
  };
  std::vector<Slot> table(slots);
  const std::size_t mask = slots - 1;
  auto nameOf = [&](std::uint32_t number) {
    const std::size_t at = number - 1;
    const std::size_t run = static_cast<std::size_t>(
        std::upper_bound(runAt.begin(), runAt.end(), at) - runAt.begin() - 1);
    return runs[run][at - runAt[run]].cName;
  };
  std::uint32_t number = 0;
  for (const std::vector<HashedDefinition> &run : runs) {
    for (const HashedDefinition &definition : run) {
      ++number;
      const auto hashBits =
          static_cast<std::uint32_t>(std::uint64_t(definition.cHash) >> 32);
      for (std::size_t probe = definition.cHash & mask;;
           probe = (probe + 1) & mask) {
        Slot &slot = table[probe];
        if (slot.cNumber == 0) {
          slot = {hashBits, number};
          break;
        }
        if (slot.cHashBits == hashBits &&
            nameOf(slot.cNumber) == definition.cName) {
          reportRepeated(definition.cName);
          break;
        }
      }
    }
  }
}

enum class QuickListing { Listed, Failed, Unsure };

// The listing's usual case, where every member in file order reads without
// a word: the entries come from the members' summaries, and the
// definitions are checked for repeats without building or sorting
// anything. Listed, or Failed after the walk's own error report; Unsure,
// having reported and kept nothing, as soon as a member would be read in
// full (which may have a message to give): the full scan then reads it.
QuickListing listFromSummaries(const std::string &name, const FileBytes &bytes,
                               const std::vector<std::uint64_t> &offsets,
                               std::vector<Archive::Entry> &entries) {
  const std::size_t count = offsets.size();
  if (count > UINT32_MAX)
    return QuickListing::Unsure;
  entries.assign(count, {});
  std::vector<char> framedByHeader(count);
  std::vector<char> summarized(count);
  const std::size_t runCount = (count + kMembersPerRun - 1) / kMembersPerRun;
  std::vector<std::vector<HashedDefinition>> definitions(runCount);
  forEachInParallel(runCount, [&](std::size_t run) {
    std::vector<MemberSummary::External> externals;
    externals.reserve(4 * kMembersPerRun);
    const std::size_t first = run * kMembersPerRun;
    const std::size_t end = std::min(count, first + kMembersPerRun);
    for (std::size_t i = first; i < end; ++i) {
      const std::uint8_t *header = bytes.data() + offsets[i];
      const MemberFrame frame = memberFrame(bytes, offsets[i]);
      framedByHeader[i] = frame.cByHeader ? 1 : 0;
      MemberSummary summary;
      if (!summary.read(header + kMemberHeaderSizeInBytes, frame.cImageBytes,
                        &externals))
        continue;
      summarized[i] = 1;
      entries[i] = {Archive::headerNameView(header), summary.timeStamp(),
                    summary.sizeInBytes()};
    }
    std::size_t defined = 0;
    for (const MemberSummary::External &external : externals)
      defined += external.cDefined ? 1 : 0;
    std::vector<HashedDefinition> &hashed = definitions[run];
    hashed.reserve(defined);
    const std::hash<std::string_view> hash;
    for (const MemberSummary::External &external : externals)
      if (external.cDefined)
        hashed.push_back({external.cName, hash(external.cName)});
  });
  // The walk in file order takes each member where the one before ends;
  // every one must be the next summarized member.
  std::size_t next = 0;
  bool unsure = false;
  auto frameOf = [&](std::uint64_t offset) {
    // A member its header frames ends where the next header was found.
    MemberFrame frame;
    if (next + 1 < count && offsets[next] == offset &&
        framedByHeader[next] != 0) {
      frame.cByHeader = true;
      frame.cImageBytes =
          offsets[next + 1] - (offset + kMemberHeaderSizeInBytes);
      return frame;
    }
    return memberFrame(bytes, offset);
  };
  auto take = [&](std::uint64_t offset, std::uint64_t,
                  std::uint64_t &modelBytes) {
    if (next >= count || offsets[next] != offset || summarized[next] == 0) {
      unsure = true;
      return false;
    }
    modelBytes = entries[next++].cSizeInBytes;
    return true;
  };
  const bool whole = walkMembers(bytes, name, frameOf, take);
  if (unsure || (whole && next != count)) {
    entries.clear();
    return QuickListing::Unsure;
  }
  if (!whole)
    return QuickListing::Failed;
  reportRepeatedDefinitions(definitions);
  return QuickListing::Listed;
}

} // namespace

std::unique_ptr<Archive> Archive::make(const std::string &name) {
  FileBytes bytes;
  std::vector<std::uint64_t> offsets;
  if (!readLibraryBytes(name, bytes, offsets))
    return nullptr;
  std::unique_ptr<Archive> archive(new Archive);
  archive->cName = name;
  std::vector<MemberAhead> ahead = readMembersAhead(bytes, offsets);
  std::size_t nextAhead = 0;
  auto take = [&](std::uint64_t offset, std::uint64_t imageBytes,
                  std::uint64_t &modelBytes) {
    nextAhead = skipTo(offsets, nextAhead, offset);
    std::unique_ptr<Coff> member;
    if (nextAhead < offsets.size() && offsets[nextAhead] == offset &&
        ahead[nextAhead].member) {
      member = std::move(ahead[nextAhead].member);
      modelBytes = ahead[nextAhead].sizeInBytes;
    } else {
      member = readMemberInTurn(bytes, offset, imageBytes, name);
      if (!member)
        return false;
      modelBytes = member->size();
    }
    archive->cMembers.push_back(std::move(member));
    return true;
  };
  auto frameOf = [&](std::uint64_t offset) {
    return memberFrame(bytes, offset);
  };
  if (!walkMembers(bytes, name, frameOf, take))
    return nullptr;
  archive->makeSymbols();
  return archive;
}

bool Archive::readListing(const std::string &name, Listing &listing) {
  std::vector<std::uint64_t> offsets;
  if (!readLibraryBytes(name, listing.cBytes, offsets))
    return false;
  switch (listFromSummaries(name, listing.cBytes, offsets, listing.cEntries)) {
  case QuickListing::Listed:
    return true;
  case QuickListing::Failed:
    return false;
  case QuickListing::Unsure:
    break;
  }
  ScannedLibrary library;
  if (!scanMembers(name, listing.cBytes, offsets, {}, library))
    return false;
  const std::vector<MemberImage> &images = library.cImages;
  std::vector<Entry> &entries = listing.cEntries;
  entries.resize(images.size());
  for (std::size_t i = 0; i < images.size(); ++i) {
    Entry &entry = entries[i];
    entry.cFileName = images[i].cName;
    if (images[i].cSummarized) {
      entry.cTimeStamp = images[i].cSummary.timeStamp();
      entry.cSizeInBytes = images[i].cSummary.sizeInBytes();
    } else {
      entry.cTimeStamp = library.cModels[i]->cFileHdr.f_timdat;
      entry.cSizeInBytes = library.cModels[i]->size();
    }
  }
  std::vector<PlacedDefinition> definitions;
  std::vector<SortKey> keys;
  const MissingName missing =
      collectScannedDefinitions(library, definitions, keys);
  indexDefinitions(definitions, keys, nullptr);
  if (missing.cSymbol != nullptr)
    Coff::getName(*missing.cSymbol, missing.cMember->cStringTbl);
  return true;
}

std::unique_ptr<Archive> Archive::makeForLink(const std::string &name) {
  std::shared_ptr<FileBytes> bytes = std::make_shared<FileBytes>();
  std::vector<std::uint64_t> offsets;
  std::vector<std::uint32_t> rooms;
  if (!readLibraryBytes(name, *bytes, offsets, &rooms))
    return nullptr;
  ScannedLibrary library;
  if (!scanMembers(name, *bytes, offsets, rooms, library))
    return nullptr;
  std::unique_ptr<Archive> archive(new Archive);
  archive->cName = name;
  std::vector<PlacedDefinition> definitions;
  std::vector<SortKey> keys;
  const MissingName missing =
      collectScannedDefinitions(library, definitions, keys);
  indexDefinitions(definitions, keys, &archive->cIndex);
  archive->cMembers = std::move(library.cModels);
  archive->cImages = std::move(library.cImages);
  archive->cExternals = std::move(library.cExternals);
  archive->cBytes = std::move(bytes);
  // After the repeats, as makeSymbols has it.
  if (missing.cSymbol != nullptr)
    Coff::getName(*missing.cSymbol, missing.cMember->cStringTbl);
  if (traceLevel(traceRegister("Archive::makeSymbols")) != 0) {
    std::cout << "  Symbols: " << '\n';
    for (const IndexEntry &entry : archive->cIndex)
      std::cout << "    '" << entry.cName << "' -> "
                << archive->cImages[entry.cMember].cName << '\n';
  }
  return archive;
}

std::vector<Archive::IndexEntry> Archive::linkIndex() const {
  if (cBytes)
    return cIndex;
  std::unordered_map<const Coff *, std::uint32_t> positions;
  for (std::size_t i = 0; i < cMembers.size(); ++i)
    if (cMembers[i])
      positions.emplace(cMembers[i].get(), static_cast<std::uint32_t>(i));
  std::vector<IndexEntry> index;
  index.reserve(cSymbols.size());
  const auto gone = static_cast<std::uint32_t>(cMembers.size());
  for (const auto &entry : cSymbols) {
    const auto found = positions.find(entry.second);
    index.push_back(
        {entry.first, found != positions.end() ? found->second : gone});
  }
  return index;
}

const Archive::MemberImage *Archive::unbuilt(std::size_t at) const {
  if (at >= cImages.size() || !cImages[at].cSummarized)
    return nullptr;
  return &cImages[at];
}

bool Archive::buildMember(std::size_t at) {
  if (at >= cImages.size() || !cImages[at].cSummarized)
    return at < cMembers.size() && cMembers[at] != nullptr;
  const MemberImage &image = cImages[at];
  const std::string memberName(image.cName);
  std::unique_ptr<Coff> member =
      Coff::make(image.cImage, image.cImageBytes, memberName);
  if (!member) {
    reportUnbuilt(memberName, cName);
    return false;
  }
  member->cNamedByLibrary = true;
  cMembers[at] = std::move(member);
  cImages[at].cSummarized = false;
  return true;
}

int Archive::makeSymbols() {
  cSymbols.clear();
  int result = 1;
  std::vector<Definition> definitions;
  const MissingName missing = collectDefinitions(cMembers, definitions);
  // Sorted by name, member order kept among equal names: the index fills
  // from its end, and the later definitions of a name are the repeats,
  // reported in member order.
  std::vector<std::size_t> order(definitions.size());
  for (std::size_t i = 0; i < order.size(); ++i)
    order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) {
                     return definitions[a].cName < definitions[b].cName;
                   });
  std::vector<std::size_t> repeats;
  for (std::size_t k = 0; k < order.size(); ++k) {
    const Definition &definition = definitions[order[k]];
    if (k > 0 && definitions[order[k - 1]].cName == definition.cName) {
      repeats.push_back(order[k]);
      continue;
    }
    cSymbols.emplace_hint(cSymbols.end(), std::string(definition.cName),
                          definition.cMember);
  }
  std::sort(repeats.begin(), repeats.end());
  for (std::size_t at : repeats) {
    reportRepeated(definitions[at].cName);
    result = 0;
  }
  // After the repeats before it, the missing name is reported and ends
  // the program, as a walk in member order would have it.
  if (missing.cSymbol != nullptr)
    Coff::getName(*missing.cSymbol, missing.cMember->cStringTbl);
  if (traceLevel(traceRegister("Archive::makeSymbols")) != 0) {
    std::cout << "  Symbols: " << '\n';
    for (const auto &entry : cSymbols)
      std::cout << "    '" << entry.first << "' -> " << entry.second->cFileName
                << '\n';
  }
  return result;
}
