// The librarian's work: one command on one library. ArParser fills in the
// command, the library name and the member names; run performs it.
//
// Every change to a library is all or nothing: all names and member files
// are checked before the library is written, and Archive::write replaces
// the file only when the whole new library was written.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

class Archive;
class Coff;

// Command codes, as ArParser hands them over.
enum : std::uint8_t {
  kCmdCreate = 0,  // "/c"
  kCmdList = 1,    // "/t"
  kCmdDelete = 2,  // "/d"
  kCmdReplace = 3, // "/r"
  kCmdExtract = 4  // "/x"
};

class Archiver {
public:
  Archiver();
  virtual ~Archiver();

  // 0 when a command is already set (one run, one command); else stores
  // the command and gives 1.
  virtual int setCommand(std::uint8_t cmd, const std::string &archive,
                         const std::vector<std::string> &members);
  // 1 when the command succeeded; 0 without a command or after a failure
  // (the failure has been reported).
  int run();

  int cmdCreate();
  int cmdList();
  int cmdDelete();
  int cmdReplace();
  int cmdExtract();

  void print(std::ostream &out) const;

  std::uint8_t cCmd = 0xFF;          // no command yet
  std::string cArchive;              // the library file name
  std::vector<std::string> cMembers; // member file names as typed
  int cHasCmd = 0;

private:
  void reportNotMember(const std::string &context,
                       const std::string &name) const;
  int extractMembers(const std::vector<const Coff *> &members) const;
};
