#include "Archiver.h"

#include "Archive.h"
#include "Assert.h"
#include "Coff.h"
#include "FileInfo.h"
#include "Messages.h"
#include "ObjectsAhead.h"
#include "Trace.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <iostream>
#include <map>
#include <memory>

namespace {

// The name a member is matched and extracted by: stored names keep to the
// base-name rule of the command line ("x.o" and "dir\x" are "x").
std::string nameOf(const Coff &member) { return Archive::memberName(member); }

// A command-line member name matches a library member by its base name.
std::string baseNameOf(const std::string &file) {
  return FileInfo(file).baseName();
}

// The member's COFF time stamp as local calendar text, like
// "Thu Jan  1 00:00:00 1970" (no line feed).
std::string calendarText(std::uint32_t timeStamp) {
  // localtime() looks at the time zone files again on every call;
  // localtime_r after one tzset() does not, which matters per member.
  static const bool zoneRead = (tzset(), true);
  (void)zoneRead;
  const std::time_t seconds = static_cast<std::time_t>(timeStamp);
  std::tm parts;
  if (localtime_r(&seconds, &parts) == nullptr)
    return std::string();
  char text[64];
  if (std::strftime(text, sizeof text, "%a %b %e %H:%M:%S %Y", &parts) == 0)
    return std::string();
  return text;
}

// Members often share a time stamp, and the conversion takes a lock that
// all threads share: each thread keeps its last text (plain data, so that
// no thread has anything to clean up).
const char *cachedCalendarText(std::uint32_t timeStamp) {
  thread_local bool known = false;
  thread_local std::uint32_t lastStamp = 0;
  thread_local char text[64];
  if (!known || lastStamp != timeStamp) {
    const std::string fresh = calendarText(timeStamp);
    const std::size_t length = std::min(fresh.size(), sizeof text - 1);
    fresh.copy(text, length);
    text[length] = 0;
    lastStamp = timeStamp;
    known = true;
  }
  return text;
}

// Room for a member's line of the listing: the stored name, and the rest
// is bounded.
std::size_t listLineRoom(const Archive::Entry &entry) {
  return entry.cFileName.size() + 2 + 25 + 128;
}

// Writes a member's line of the listing at out (listLineRoom bytes);
// gives its length.
std::size_t writeListLine(char *out, const Archive::Entry &entry) {
  // "Member: %-25s  Size: %-6lu Date: %s \n" with the name quoted, written
  // without the formatter: the listing has a line per member.
  char *at = out;
  auto put = [&](std::string_view text) {
    std::memcpy(at, text.data(), text.size());
    at += text.size();
  };
  auto padTo = [&](std::size_t used, std::size_t width) {
    for (; used < width; ++used)
      *at++ = ' ';
  };
  const std::string_view name = entry.cFileName; // as the library stores it
  put("Member: '");
  put(name);
  put("'");
  padTo(name.size() + 2, 25);
  put("  Size: ");
  char digits[24];
  const std::to_chars_result number =
      std::to_chars(digits, digits + sizeof digits, entry.cSizeInBytes);
  const std::size_t digitCount = static_cast<std::size_t>(number.ptr - digits);
  put(std::string_view(digits, digitCount));
  padTo(digitCount, 6);
  put(" Date: ");
  put(cachedCalendarText(entry.cTimeStamp));
  put(" \n");
  const std::size_t length = static_cast<std::size_t>(at - out);
  ORV_ASSERT(length <= listLineRoom(entry), "Archiver");
  return length;
}

// An extracted member is written into the current directory under its own
// name; a name that could reach another directory, or is no file name at
// all, is never used.
bool isPlainFileName(const std::string &name) {
  return !name.empty() && name != "." &&
         name.find_first_of("/\\") == std::string::npos &&
         name.find("..") == std::string::npos;
}

// A member whose headers no longer describe its bytes (one stored in the
// old layout) would be written damaged; lay it out first, keeping the
// time stamp it carries.
void layOutIfStale(Coff &member) {
  if (member.isLaidOut())
    return;
  const std::uint32_t stamp = member.cFileHdr.f_timdat;
  member.cFileHdr.f_opthdr = kOptHdrSizeInBytes;
  member.preWrite();
  member.cFileHdr.f_timdat = stamp;
}

const char *commandName(std::uint8_t cmd) {
  static const char *const kNames[] = {"cmdCreate", "cmdList", "cmdDelete",
                                       "cmdReplace", "cmdExtract"};
  if (cmd > kCmdExtract)
    return "undefined";
  return kNames[cmd];
}

} // namespace

Archiver::Archiver() = default;

Archiver::~Archiver() = default;

int Archiver::setCommand(std::uint8_t cmd, const std::string &archive,
                         const std::vector<std::string> &members) {
  if (cHasCmd != 0)
    return 0;
  cCmd = cmd;
  cArchive = archive;
  cMembers = members;
  cHasCmd = 1;
  return 1;
}

int Archiver::run() {
  if (cHasCmd == 0)
    return 0;
  switch (cCmd) {
  case kCmdCreate:
    return cmdCreate();
  case kCmdList:
    return cmdList();
  case kCmdDelete:
    return cmdDelete();
  case kCmdReplace:
    return cmdReplace();
  case kCmdExtract:
    return cmdExtract();
  default:
    return 0;
  }
}

void Archiver::reportNotMember(const std::string &context,
                               const std::string &name) const {
  report(MessageKind::Error, context,
         "'" + name + "' is not a member of library '" + cArchive + "'.", 0);
}

int Archiver::cmdCreate() {
  Archive archive;
  archive.cName = cArchive;
  std::vector<std::unique_ptr<Coff>> ahead =
      readObjectsAhead(cMembers, /*verify=*/false);
  for (std::size_t i = 0; i < cMembers.size(); ++i) {
    std::unique_ptr<Coff> member = std::move(ahead[i]);
    if (!member)
      member = Coff::make(cMembers[i]);
    if (!member)
      return 0; // reported by the reader; nothing is written
    archive.cMembers.push_back(std::move(member));
  }
  if (traceLevel(traceRegister("Archiver::cmdCreate")) != 0)
    archive.print(std::cout);
  if (archive.makeSymbols() == 0)
    return 0;
  return archive.write();
}

int Archiver::cmdList() {
  // A listing needs no member's model: the entries are read with every
  // check a full read makes. The library's bytes stay until the program
  // ends, which gives them back at once: unmapping them first would only
  // cost time.
  static Archive::Listing *const listing = new Archive::Listing();
  if (!Archive::readListing(cArchive, *listing))
    return 0;
  const std::vector<Archive::Entry> &entries = listing->cEntries;
  if (isQuiet() != 0)
    return 1;
  // Lines made into one small block that is written whenever the next
  // line might not fit: a few dozen writes, and no memory as large as the
  // listing to fill and give back.
  constexpr std::size_t kBlockBytes = 64 * 1024;
  std::unique_ptr<char[]> block(new char[kBlockBytes]);
  std::size_t used = 0;
  for (const Archive::Entry &entry : entries) {
    if (used + listLineRoom(entry) > kBlockBytes) {
      std::fwrite(block.get(), 1, used, stdout);
      used = 0;
    }
    used += writeListLine(block.get() + used, entry);
  }
  std::fwrite(block.get(), 1, used, stdout);
  return 1;
}

int Archiver::cmdDelete() {
  std::unique_ptr<Archive> archive = Archive::make(cArchive);
  if (!archive)
    return 0;
  std::vector<std::unique_ptr<Coff>> &members = archive->cMembers;
  // Positions of the members under each name in library order; each given
  // name takes the first one that no earlier name took.
  std::map<std::string, std::deque<std::size_t>> positions;
  for (std::size_t i = 0; i < members.size(); ++i)
    positions[nameOf(*members[i])].push_back(i);
  std::vector<bool> doomed(members.size(), false);
  int result = 1;
  for (const std::string &name : cMembers) {
    auto found = positions.find(baseNameOf(name));
    if (found == positions.end() || found->second.empty()) {
      reportNotMember("Archiver::cmdDelete", name);
      result = 0;
      continue;
    }
    doomed[found->second.front()] = true;
    found->second.pop_front();
  }
  if (result == 0)
    return 0; // the library stays untouched
  std::vector<std::unique_ptr<Coff>> kept;
  for (std::size_t i = 0; i < members.size(); ++i)
    if (!doomed[i])
      kept.push_back(std::move(members[i]));
  members = std::move(kept);
  if (archive->makeSymbols() == 0)
    return 0;
  return archive->write();
}

int Archiver::cmdReplace() {
  std::unique_ptr<Archive> archive = Archive::make(cArchive);
  if (!archive)
    return 0;
  std::vector<std::unique_ptr<Coff>> &members = archive->cMembers;
  // The first member under each name is the one a new object replaces.
  std::map<std::string, std::size_t> positionOf;
  for (std::size_t i = 0; i < members.size(); ++i)
    positionOf.emplace(nameOf(*members[i]), i);
  for (const std::string &file : cMembers) {
    std::unique_ptr<Coff> member = Coff::make(file);
    if (!member)
      return 0; // reported by the reader; nothing is written
    auto placed = positionOf.emplace(nameOf(*member), members.size());
    if (placed.second)
      members.push_back(std::move(member));
    else
      members[placed.first->second] = std::move(member);
  }
  if (archive->makeSymbols() == 0)
    return 0;
  return archive->write();
}

int Archiver::cmdExtract() {
  std::unique_ptr<Archive> archive = Archive::make(cArchive);
  if (!archive)
    return 0;
  std::vector<const Coff *> chosen;
  if (cMembers.empty()) {
    for (const auto &member : archive->cMembers)
      chosen.push_back(member.get());
    return extractMembers(chosen);
  }
  std::map<std::string, const Coff *> byName; // first member under a name
  for (const auto &member : archive->cMembers)
    byName.emplace(nameOf(*member), member.get());
  int result = 1;
  for (const std::string &name : cMembers) {
    auto found = byName.find(baseNameOf(name));
    if (found == byName.end()) {
      reportNotMember("Archiver::cmdExtract", name);
      result = 0;
      continue;
    }
    chosen.push_back(found->second);
  }
  if (result == 0)
    return 0; // nothing is extracted
  return extractMembers(chosen);
}

// Checks every name before the first file is written, then writes each
// member atomically under its name in the current directory.
int Archiver::extractMembers(const std::vector<const Coff *> &members) const {
  int result = 1;
  for (const Coff *member : members) {
    // The name as stored in the library, before any extension is dropped.
    if (!isPlainFileName(member->cFileName) ||
        !isPlainFileName(nameOf(*member))) {
      report(MessageKind::Error, "Archiver::cmdExtract",
             "Member name '" + member->cFileName + "' in library '" + cArchive +
                 "' is not a plain file name; nothing is extracted.",
             0);
      result = 0;
    }
  }
  if (result == 0)
    return 0;
  for (const Coff *member : members) {
    const std::string name = nameOf(*member);
    if (isQuiet() == 0)
      std::printf("Extracting member '%s'.\n", name.c_str());
    Coff copy(*member);
    copy.cFileName = name;
    layOutIfStale(copy);
    if (copy.write() == 0)
      return 0; // reported by the writer
  }
  return 1;
}

void Archiver::print(std::ostream &out) const {
  out << "Archiver:" << '\n';
  out << "  cCmd=" << commandName(cCmd) << '\n';
  out << "  cArchive=" << cArchive << '\n';
  out << "  cMembers=" << '\n';
  for (const std::string &member : cMembers)
    out << "    " << member << '\n';
  out << "  cHasCmd=" << cHasCmd << '\n';
}
