#include "ArParser.h"

#include "Archiver.h"
#include "CommandArgs.h"
#include "Messages.h"
#include "ObjectFileNames.h"

#include <cstdlib>
#include <iostream>
#include <vector>

namespace {

// The command a switch letter chooses, or -1.
int commandOf(char letter) {
  switch (letter) {
  case 'c':
    return kCmdCreate;
  case 't':
    return kCmdList;
  case 'd':
    return kCmdDelete;
  case 'r':
    return kCmdReplace;
  case 'x':
    return kCmdExtract;
  default:
    return -1;
  }
}

// Only the switch letter is case-free; file names are taken as typed.
char letterOf(const std::string &arg) {
  return isSwitch(arg) && arg.size() == 2 ? switchLetter(arg) : 0;
}

// The library and the members after the command; everything after the
// command belongs to it, so a later switch is a bad member name.
void parseCommand(int cmd, int first, int argc, char **argv,
                  Archiver &archiver) {
  if (first >= argc || !isLibraryFile(argv[first]))
    ArParser::usage("library filename is required");
  std::vector<std::string> members;
  for (int i = first + 1; i < argc; ++i) {
    if (!isObjectFile(argv[i]))
      ArParser::usage("invalid object filename");
    members.emplace_back(argv[i]);
  }
  if (archiver.setCommand(static_cast<std::uint8_t>(cmd), argv[first],
                          members) == 0)
    ArParser::usage("");
}

} // namespace

ArParser::ArParser(int argc, char **argv, Archiver &archiver) {
  for (int i = 1; i < argc; ++i) {
    const char letter = letterOf(argv[i]);
    const int cmd = commandOf(letter);
    if (cmd >= 0) {
      parseCommand(cmd, i + 1, argc, argv, archiver);
      return; // one run, one command
    }
    if (letter != 'q') // "/h", "/?" and anything else before the command
      help();
  }
  // No command: the help screen, or nothing at all when quiet (the run
  // then fails without a word).
  if (isQuiet() == 0)
    help();
}

void ArParser::usage(const std::string &text) {
  report(MessageKind::Error, "ArParser::usage()",
         text.empty() ? "Usage:  tessil [/q] /{ctdrx} LIBRARY [MEMBER...] "
                      : text,
         0);
  printSummaryAndExit(1);
}

void ArParser::help() {
  std::cout.flush();
  std::cerr << "Syntax:   tessil [/q] /{ctdrxh} LIBRARY [MEMBER...]  " << '\n'
            << "  /q      : quiet mode                       " << '\n'
            << "  /c      : create library LIBRARY           " << '\n'
            << "  /t      : list library LIBRARY             " << '\n'
            << "  /d      : delete MEMBER from LIBRARY       " << '\n'
            << "  /r      : add or replace MEMBER in LIBRARY " << '\n'
            << "  /x      : extract MEMBER from LIBRARY      " << '\n'
            << "  /h, /?  : show this help screen            " << '\n'
            << '\n';
  std::cerr.flush();
  endProgram(255);
}
