#include "Archive.h"

#include "Messages.h"
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
  cBytes.reset();
  cImages.clear();
  cExternals.clear();
  cIndex.clear();
  // A member that makeForLink left unbuilt is built for the copy.
  for (std::size_t i = 0; i < other.cMembers.size(); ++i) {
    const std::unique_ptr<Coff> &member = other.cMembers[i];
    const MemberImage *image = other.unbuilt(i);
    if (member) {
      cMembers.emplace_back(new Coff(*member));
    } else if (image != nullptr) {
      cMembers.push_back(Coff::make(image->cImage, image->cImageBytes,
                                    std::string(image->cName)));
      if (cMembers.back())
        cMembers.back()->cNamedByLibrary = true;
    } else {
      cMembers.emplace_back();
    }
  }
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

std::string Archive::getHeaderName(const std::uint8_t *header) {
  return std::string(headerNameView(header));
}

std::string_view Archive::headerNameView(const std::uint8_t *header) {
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
