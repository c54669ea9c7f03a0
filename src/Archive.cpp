#include "Archive.h"

#include "FileBytes.h"
#include "MemberSummary.h"
#include "Messages.h"
#include "ParallelWork.h"
#include "SafeFile.h"
#include "Trace.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <sstream>

namespace {

constexpr std::size_t kNameFieldSizeInBytes = 256;
constexpr std::size_t kDateFieldAt = 256;
constexpr std::size_t kDateTextSizeInBytes = 11; // byte 267 stays 0
constexpr std::size_t kSizeFieldAt = 268;
constexpr std::size_t kSizeTextSizeInBytes = 9; // byte 277 stays 0
constexpr std::size_t kEndFieldAt = 278;

void reportError(const std::string &context, std::ostringstream &text) {
  reportStream(MessageKind::Error, context, text, 0);
}

// "%ul" text in a field; the bytes after the text's NUL stay zero.
void setNumberField(std::uint8_t *field, std::size_t textSizeInBytes,
                    std::size_t fieldSizeInBytes, std::uint32_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "%ul", static_cast<unsigned>(value));
  std::memset(field, 0, fieldSizeInBytes);
  std::size_t length = std::strlen(text);
  std::memcpy(field, text, length < textSizeInBytes ? length : textSizeInBytes);
}

std::uint32_t getNumberField(const std::uint8_t *field,
                             std::size_t fieldSizeInBytes) {
  // Plain digits, as the writer stores them, are read without the
  // scanner: a library has thousands of headers. Up to 9 digits cannot
  // leave the 32-bit range; anything else goes to the scanner.
  std::uint32_t plain = 0;
  std::size_t digits = 0;
  while (digits < fieldSizeInBytes && field[digits] >= '0' &&
         field[digits] <= '9')
    plain = plain * 10 + (field[digits++] - '0');
  if (digits != 0 && digits <= 9)
    return plain;
  std::string text(reinterpret_cast<const char *>(field), fieldSizeInBytes);
  text = text.substr(0, text.find('\0'));
  unsigned value = 0;
  if (std::sscanf(text.c_str(), "%ul", &value) != 1)
    return 0;
  return value;
}

// Closes the library file on every path out of the reader.
struct FileCloser {
  void operator()(std::FILE *file) const { std::fclose(file); }
};

// A member's image is built in memory and then added to the library in
// one piece: writing it in place would flush and seek the library's
// stream several times per member.
bool writeMember(const Coff &member, SafeOutputFile &file) {
  char *image = nullptr;
  std::size_t sizeInBytes = 0;
  std::FILE *memory = open_memstream(&image, &sizeInBytes);
  if (memory == nullptr)
    return false;
  bool built = member.write(memory, 0) != 0;
  built = std::fclose(memory) == 0 && built;
  bool written = built && file.write(image, sizeInBytes);
  std::free(image);
  return written;
}

} // namespace

Archive::Archive() = default;

Archive::Archive(const Archive &other) { *this = other; }

Archive &Archive::operator=(const Archive &other) {
  if (this == &other)
    return *this;
  cName = other.cName;
  cMembers.clear();
  cPositions.clear();
  for (const auto &member : other.cMembers)
    cMembers.emplace_back(member ? new Coff(*member) : nullptr);
  makeSymbols();
  return *this;
}

Archive::~Archive() = default;

void Archive::setHeaderName(std::uint8_t *header, const std::string &name) {
  std::memset(header, ' ', kNameFieldSizeInBytes);
  std::string text = name.substr(0, kNameFieldSizeInBytes - 1);
  std::memcpy(header, text.data(), text.size());
  header[text.size()] = '/';
}

void Archive::setHeaderDate(std::uint8_t *header, std::uint32_t timeStamp) {
  setNumberField(header + kDateFieldAt, kDateTextSizeInBytes,
                 kSizeFieldAt - kDateFieldAt, timeStamp);
}

void Archive::setHeaderSize(std::uint8_t *header, std::uint32_t sizeInBytes) {
  setNumberField(header + kSizeFieldAt, kSizeTextSizeInBytes,
                 kEndFieldAt - kSizeFieldAt, sizeInBytes);
}

void Archive::setHeaderEnd(std::uint8_t *header) {
  header[kEndFieldAt] = 0x60;
  header[kEndFieldAt + 1] = 0x0A;
}

namespace {
std::string_view headerNameView(const std::uint8_t *header);
} // namespace

std::string Archive::getHeaderName(const std::uint8_t *header) {
  return std::string(headerNameView(header));
}

namespace {

std::string_view headerNameView(const std::uint8_t *header) {
  // Bounded: a name field without any NUL ends with the field.
  const char *text = reinterpret_cast<const char *>(header);
  const void *nul = std::memchr(text, 0, kNameFieldSizeInBytes);
  std::size_t length = nul == nullptr ? kNameFieldSizeInBytes
                                      : static_cast<const char *>(nul) - text;
  const void *slash = std::memchr(text, '/', length);
  if (slash != nullptr)
    length = static_cast<const char *>(slash) - text;
  return std::string_view(text, length);
}

} // namespace

std::uint32_t Archive::getHeaderDate(const std::uint8_t *header) {
  return getNumberField(header + kDateFieldAt, kSizeFieldAt - kDateFieldAt);
}

std::uint32_t Archive::getHeaderSize(const std::uint8_t *header) {
  return getNumberField(header + kSizeFieldAt, kEndFieldAt - kSizeFieldAt);
}

std::string Archive::storedName(const Coff &member) {
  if (member.cNamedByLibrary)
    return member.cFileName;
  return memberName(member.cFileName);
}

std::string Archive::memberName(const Coff &member) {
  return memberName(member.cFileName);
}

std::string Archive::memberName(const std::string &fileName) {
  return std::string(memberNameView(fileName));
}

// The file name without its directory, and without an ".o" extension.
std::string_view Archive::memberNameView(std::string_view fileName) {
  const std::size_t lastSep = fileName.find_last_of("/\\");
  const std::string_view last = lastSep == std::string_view::npos
                                    ? fileName
                                    : fileName.substr(lastSep + 1);
  const std::size_t dot = last.rfind('.');
  const bool objectExt =
      dot != std::string_view::npos && last.size() - dot == 2 &&
      std::tolower(static_cast<unsigned char>(last[dot + 1])) == 'o';
  return objectExt ? last.substr(0, dot) : last;
}

namespace {

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

// Where the members stand by their headers' size fields, found as the
// library's bytes come in (while they are still in the cache). Members are
// read ahead from there in parallel, silently; the walk in order
// (walkMembers) takes what was read ahead only where it starts at the same
// place and was read without a word. A field that frames nothing ends the
// walk ahead: where the next member starts is known only once this one is
// read.
class HeaderWalk {
public:
  void advance(const std::uint8_t *data, std::uint64_t available) {
    while (!cStopped && cNext + kMemberHeaderSizeInBytes < available) {
      cOffsets.push_back(cNext);
      std::uint64_t sizeInBytes = 0;
      cStopped = !sizeFieldValue(data + cNext, sizeInBytes);
      cNext += kMemberHeaderSizeInBytes + sizeInBytes;
    }
  }
  std::vector<std::uint64_t> &offsets() { return cOffsets; }

private:
  std::vector<std::uint64_t> cOffsets;
  std::uint64_t cNext = kArchiveMagicSizeInBytes;
  bool cStopped = false;
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
// device, with no length of its own, holds no members) and where its
// headers are. False after an error report.
bool readLibraryBytes(const std::string &name, FileBytes &bytes,
                      std::vector<std::uint64_t> &offsets) {
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
  HeaderWalk walk;
  const bool read = bytes.read(
      file.get(), 0, [&](const std::uint8_t *data, std::size_t sizeInBytes) {
        walk.advance(data, sizeInBytes);
      });
  offsets.clear();
  if (read) // else nothing is held
    offsets.swap(walk.offsets());
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
template <class Take>
bool walkMembers(const FileBytes &bytes, const std::string &name, Take take) {
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
    const MemberFrame frame = memberFrame(bytes, offset);
    std::uint64_t modelBytes = 0;
    if (!take(offset, frame.cImageBytes, modelBytes))
      return false;
    if (!frame.cByHeader && modelBytes > frame.cImageBytes) {
      // Where the next member would start is not in the file: whatever
      // followed cannot be found.
      reportUnbuilt(headerNameView(bytes.data() + offset), name);
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
  if (!walkMembers(bytes, name, take))
    return nullptr;
  archive->makeSymbols();
  return archive;
}

namespace {

struct Definition {
  std::string_view cName;
  Coff *cMember;
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

// Names seen so far, in one block (open addressing): a library's index
// holds tens of thousands of them.
class NameSet {
public:
  explicit NameSet(std::size_t expected) {
    std::size_t slots = 16;
    while (slots < 2 * expected)
      slots *= 2;
    cSlots.assign(slots, std::string_view());
    cUsed.assign(slots, false);
  }
  // False when the name was seen before.
  bool insert(std::string_view name) {
    if (2 * (cCount + 1) > cSlots.size())
      grow();
    std::size_t mask = cSlots.size() - 1;
    std::size_t at = std::hash<std::string_view>()(name) & mask;
    while (cUsed[at]) {
      if (cSlots[at] == name)
        return false;
      at = (at + 1) & mask;
    }
    cUsed[at] = true;
    cSlots[at] = name;
    ++cCount;
    return true;
  }

private:
  void grow() {
    NameSet bigger(cSlots.size());
    for (std::size_t i = 0; i < cSlots.size(); ++i)
      if (cUsed[i])
        bigger.insert(cSlots[i]);
    *this = std::move(bigger);
  }

  std::vector<std::string_view> cSlots;
  std::vector<bool> cUsed;
  std::size_t cCount = 0;
};

// The members of a listed library in file order: each one's summary, or
// null where the summary left it to the reader; their models then follow
// each other in models.
struct ListedMembers {
  std::vector<const MemberSummary *> cSummaries;
  std::vector<std::unique_ptr<Coff>> cModels;
};

// Gives the symbol index's messages (and its end), as makeSymbols would
// for these members: each repeated name in member order, then the first
// missing one.
void checkDefinitions(const ListedMembers &members, std::size_t expectedNames) {
  NameSet seen(expectedNames);
  MissingName missing;
  std::vector<std::string_view> names;
  std::size_t nextModel = 0;
  for (const MemberSummary *summary : members.cSummaries) {
    bool whole = true;
    if (summary != nullptr) {
      names.resize(summary->definitionCount());
      summary->definitions(names.data());
    } else {
      names.clear();
      auto add = [&](std::string_view name) { names.push_back(name); };
      whole =
          collectMemberDefinitions(*members.cModels[nextModel++], add, missing);
    }
    for (std::string_view name : names)
      if (!seen.insert(name))
        reportRepeated(name);
    if (!whole)
      break;
  }
  if (missing.cSymbol != nullptr)
    Coff::getName(*missing.cSymbol, missing.cMember->cStringTbl);
}

} // namespace

bool Archive::readListing(const std::string &name, Listing &listing) {
  const FileBytes &bytes = listing.cBytes;
  std::vector<std::uint64_t> offsets;
  if (!readLibraryBytes(name, listing.cBytes, offsets))
    return false;
  struct Summarized {
    MemberSummary cSummary;
    bool cWhole = false;
  };
  std::vector<Summarized> ahead(offsets.size());
  forEachInParallel(offsets.size(), [&](std::size_t i) {
    const std::uint64_t imageAt = offsets[i] + kMemberHeaderSizeInBytes;
    ahead[i].cWhole = ahead[i].cSummary.read(
        bytes.data() + imageAt, memberFrame(bytes, offsets[i]).cImageBytes);
  });
  ListedMembers members;
  members.cSummaries.reserve(offsets.size());
  std::size_t expectedNames = 0;
  std::size_t nextAhead = 0;
  std::vector<Entry> &entries = listing.cEntries;
  entries.clear();
  entries.reserve(offsets.size());
  const bool whole = walkMembers(
      bytes, name,
      [&](std::uint64_t offset, std::uint64_t imageBytes,
          std::uint64_t &modelBytes) {
        nextAhead = skipTo(offsets, nextAhead, offset);
        Entry entry;
        entry.cFileName = headerNameView(bytes.data() + offset);
        if (nextAhead < offsets.size() && offsets[nextAhead] == offset &&
            ahead[nextAhead].cWhole) {
          const MemberSummary &summary = ahead[nextAhead].cSummary;
          members.cSummaries.push_back(&summary);
          entry.cTimeStamp = summary.timeStamp();
          entry.cSizeInBytes = summary.sizeInBytes();
          expectedNames += summary.definitionCount();
        } else {
          std::unique_ptr<Coff> model =
              readMemberInTurn(bytes, offset, imageBytes, name);
          if (!model)
            return false;
          entry.cTimeStamp = model->cFileHdr.f_timdat;
          entry.cSizeInBytes = model->size();
          members.cSummaries.push_back(nullptr);
          members.cModels.push_back(std::move(model));
        }
        modelBytes = entry.cSizeInBytes;
        entries.push_back(entry);
        return true;
      });
  if (!whole)
    return false;
  checkDefinitions(members, expectedNames);
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

int Archive::hasSymbol(const std::string &symbol) const {
  return cSymbols.count(symbol) != 0;
}

std::unique_ptr<Coff> Archive::getMember(const std::string &symbol) const {
  auto found = cSymbols.find(symbol);
  if (found == cSymbols.end())
    return nullptr;
  return std::unique_ptr<Coff>(new Coff(*found->second));
}

std::unique_ptr<Coff> Archive::takeMember(const std::string &symbol) {
  auto found = cSymbols.find(symbol);
  if (found == cSymbols.end())
    return nullptr;
  const Coff *wanted = found->second;
  auto at = [&]() -> std::unique_ptr<Coff> * {
    auto position = cPositions.find(wanted);
    if (position == cPositions.end() || position->second >= cMembers.size() ||
        cMembers[position->second].get() != wanted)
      return nullptr;
    return &cMembers[position->second];
  };
  std::unique_ptr<Coff> *slot = at();
  if (slot == nullptr) {
    cPositions.clear();
    for (std::size_t i = 0; i < cMembers.size(); ++i)
      if (cMembers[i])
        cPositions.emplace(cMembers[i].get(), i);
    slot = at();
  }
  return slot == nullptr ? nullptr : std::move(*slot);
}

int Archive::write() {
  std::ostringstream text;
  // A member whose headers no longer describe its bytes would be stored
  // damaged; lay it out first, keeping the time stamp it carries.
  for (const auto &member : cMembers) {
    if (member->isLaidOut())
      continue;
    std::uint32_t stamp = member->cFileHdr.f_timdat;
    member->cFileHdr.f_opthdr = kOptHdrSizeInBytes;
    member->preWrite();
    member->cFileHdr.f_timdat = stamp;
  }
  SafeOutputFile file(cName);
  if (!file.open()) {
    text << "Could not open library file '" << cName << "' for writing.";
    reportError("Archive::write()", text);
    return 0;
  }
  if (!file.write(kArchiveMagic, kArchiveMagicSizeInBytes)) {
    text << "Could not write archive magic string in library file '" << cName
         << "'. ";
    reportError("Archive::write()", text);
    return 0;
  }
  for (const auto &member : cMembers) {
    std::uint8_t header[kMemberHeaderSizeInBytes];
    setHeaderName(header, storedName(*member));
    setHeaderDate(header, member->cFileHdr.f_timdat);
    setHeaderSize(header, member->size());
    setHeaderEnd(header);
    if (!file.write(header, sizeof header)) {
      text << "Could not write member header for '" << member->cFileName
           << "' in library file '" << cName << "'. ";
      reportError("Archive::write()", text);
      return 0;
    }
    if (!writeMember(*member, file)) {
      text << "Could not write library file '" << cName << "'.";
      reportError("Archive::write()", text);
      return 0;
    }
  }
  if (!file.commit()) {
    text << "Could not write library file '" << cName << "'.";
    reportError("Archive::write()", text);
    return 0;
  }
  return 1;
}

void Archive::print(std::ostream &out) const {
  out << "Archive: " << '\n';
  out << "  Symbols: " << '\n';
  for (const auto &entry : cSymbols)
    out << "    '" << entry.first << "' -> " << entry.second->cFileName << '\n';
  out << '\n';
  out << "  Members: " << '\n';
  for (std::size_t i = 0; i < cMembers.size(); ++i) {
    out << "    Member[" << i << "] = " << '\n';
    if (cMembers[i])
      cMembers[i]->print(out);
    out << '\n';
  }
}
