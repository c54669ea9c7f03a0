// An object library: "!<arch>\n", then per member a 280-byte header and the
// member's COFF image. The file has no symbol index; it is rebuilt from the
// members' symbol tables whenever the library is read (cSymbols by
// makeSymbols, or a link's index by makeForLink).
//
// Member header: name (256 bytes: base name, '/', blanks), date (12 bytes:
// f_timdat as "%ul", byte 267 always 0), size (10 bytes: image length as
// "%ul", byte 277 always 0), end (0x60 0x0A).
#pragma once

#include "Coff.h"
#include "FileBytes.h"
#include "MemberSummary.h"

#include <cstdint>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

constexpr char kArchiveMagic[] = "!<arch>\n";
constexpr std::size_t kArchiveMagicSizeInBytes = 8;
constexpr std::size_t kMemberHeaderSizeInBytes = 280;

class Archive {
public:
  Archive();
  Archive(const Archive &other);
  Archive &operator=(const Archive &other);
  ~Archive();

  // Reads a library; null after an error report.
  static std::unique_ptr<Archive> make(const std::string &name);

  // Reads a library for a link, which takes only some of its members:
  // every member is checked as make checks it, with the same messages and
  // ends (those of the symbol index included), but one whose image reads
  // without a word is left unbuilt, its place in cMembers empty, until
  // buildMember makes its model. cSymbols stays empty: linkIndex() is the
  // index. Null after an error report.
  static std::unique_ptr<Archive> makeForLink(const std::string &name);

  // An index entry by place: a name and the position in cMembers of the
  // first member that defines it.
  struct IndexEntry {
    std::string_view cName;
    std::uint32_t cMember = 0;
  };
  // The index in name order: makeForLink's, or else cSymbols' (where a
  // member taken out has the position cMembers.size()). The names view the
  // library's bytes or the members' models, valid while those models are
  // kept as they are.
  std::vector<IndexEntry> linkIndex() const;

  // A member's image in a library's bytes, as makeForLink and
  // readListing find it; cSummarized while its summary stands for it,
  // cExternals then holding the summary's external symbols.
  struct MemberImage {
    std::string_view cName; // as its header gives it
    const std::uint8_t *cImage = nullptr;
    std::uint64_t cImageBytes = 0;
    MemberSummary cSummary;
    bool cSummarized = false;
    const MemberSummary::External *cExternals = nullptr;
  };
  // The member at position at while it is unbuilt; null once it is built
  // (or for a library read by make).
  const MemberImage *unbuilt(std::size_t at) const;
  // Builds the unbuilt member at position at into cMembers, reporting as
  // make would; false after the report. Members at different positions
  // may be built at the same time.
  bool buildMember(std::size_t at);

  // A member as a listing shows it.
  struct Entry {
    std::string_view cFileName; // as its header names it
    std::uint32_t cTimeStamp = 0;
    std::uint32_t cSizeInBytes = 0;
  };
  // A library read for its listing: its bytes, which the entries view,
  // and each member's entry, in file order.
  struct Listing {
    FileBytes cBytes;
    std::vector<Entry> cEntries;
  };
  // Reads a library as make does, with the same checks, messages and ends
  // (those of the symbol index included), but builds no member's model.
  // False where make gives null.
  static bool readListing(const std::string &name, Listing &listing);

  // Writes the library to cName; the old file survives any failure.
  // Members whose headers no longer match their layout (old-layout objects
  // among them) are laid out first, keeping their time stamps.
  int write();
  // Rebuilds cSymbols; 0 (after an error per name) when a name is defined
  // by more than one member, the first member keeping it.
  int makeSymbols();
  int hasSymbol(const std::string &symbol) const;
  // A copy of the member that defines the symbol, or null.
  std::unique_ptr<Coff> getMember(const std::string &symbol) const;
  // The member that defines the symbol, moved out of the library without a
  // copy (null when there is none or it was taken before). Its place in
  // cMembers is left empty; cSymbols still points at it, which stays valid
  // as long as the caller keeps the member.
  std::unique_ptr<Coff> takeMember(const std::string &symbol);
  void print(std::ostream &out) const;

  // The name a member is stored under: a name read from a library exactly
  // as its header gave it, else the file name without directory and
  // without an ".o" extension.
  static std::string storedName(const Coff &member);
  // The name a member is matched and extracted by: its file name (or the
  // name its header gave it) without directory and without an ".o"
  // extension. A name like "a.b" stays as it is.
  static std::string memberName(const Coff &member);
  static std::string memberName(const std::string &fileName);
  static std::string_view memberNameView(std::string_view fileName);

  // Member header fields, on a buffer of kMemberHeaderSizeInBytes.
  static void setHeaderName(std::uint8_t *header, const std::string &name);
  static void setHeaderDate(std::uint8_t *header, std::uint32_t timeStamp);
  static void setHeaderSize(std::uint8_t *header, std::uint32_t sizeInBytes);
  static void setHeaderEnd(std::uint8_t *header);
  static std::string getHeaderName(const std::uint8_t *header);
  static std::string_view headerNameView(const std::uint8_t *header);
  static std::uint32_t getHeaderDate(const std::uint8_t *header);
  static std::uint32_t getHeaderSize(const std::uint8_t *header);

  std::string cName;                           // the library's file name
  std::vector<std::unique_ptr<Coff>> cMembers; // in file order
  std::map<std::string, Coff *> cSymbols;      // symbol -> defining member

private:
  // Where each member stands in cMembers, for takeMember; rebuilt whenever
  // it no longer agrees with cMembers.
  std::unordered_map<const Coff *, std::size_t> cPositions;
  // Kept by makeForLink: the library's bytes, which the images, their
  // summaries and the index view; an image per member, in cMembers'
  // order; the lists its images' external symbols stand in; the index.
  std::shared_ptr<const FileBytes> cBytes;
  std::vector<MemberImage> cImages;
  std::vector<std::vector<MemberSummary::External>> cExternals;
  std::vector<IndexEntry> cIndex;
};
