// Reads the linker's command line and its linker command files and hands
// every setting to the Linker as it meets it. Any error ends the program
// with exit code 1; the help screen ends it with 255.
#pragma once

#include <cstdint>
#include <istream>
#include <list>
#include <memory>
#include <string>

class Linker;
class Memory;
class SectionDesc;
class StackDesc;

class Parser {
public:
  // Returns only when the whole command line was read without error.
  void parseCommandLine(int argc, char **argv, Linker &linker);
  // Finds, reads and hands on one command file; INCLUDEs depth first.
  void parseCommandFile(const std::string &name, Linker &linker);

  // The command files read so far, as found.
  const std::list<std::string> &commandFiles() const { return cLkrFile; }

  [[noreturn]] void usage(const std::string &message);
  [[noreturn]] void help();

  // Attribute readers: each reads the rest of a directive's line.
  Memory parseMemory(std::istream &in, const std::string &keyword,
                     std::uint8_t type, const std::string &file, int line);
  StackDesc parseStack(std::istream &in, const std::string &file, int line);
  std::uint32_t parseHeap(std::istream &in, const std::string &file, int line);
  SectionDesc parseSection(std::istream &in, const std::string &file, int line);

private:
  void parseSwitch(const std::string &arg, int argc, char **argv, int &index,
                   Linker &linker);
  std::string findCommandFile(const std::string &name) const;
  struct OpenCommandFile;
  std::unique_ptr<OpenCommandFile> openCommandFile(const std::string &name);
  bool nextInclude(OpenCommandFile &file, std::string &name);
  void parseLine(const std::string &text, const std::string &file, int line,
                 Linker &linker, std::string &includes);
  void addPathList(const std::string &list, const std::string &message,
                   bool toLinker, Linker &linker);
  void checkSetting(int accepted, const std::string &error);

  std::list<std::string> cLkrFile; // command files read, as found
  std::list<std::string> cLkrPath; // command-file search directories
};

// Name tests of the command line and the command files.
bool isValidFileName(const std::string &path);
bool isValidDirName(const std::string &dir);
bool isDigits(const std::string &text);
// Cuts the line at its first "//", quoted or not.
void stripComment(std::string &line);
