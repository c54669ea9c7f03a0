// The librarian's command line: an optional quiet switch, one command
// switch, the library, then member object files. The parser hands what it
// read to the Archiver and ends the program itself on the help screen or a
// usage error.
#pragma once

#include <string>

class Archiver;

class ArParser {
public:
  ArParser(int argc, char **argv, Archiver &archiver);

  // Reports the text (the usage line when empty), then the summary; exit 1.
  [[noreturn]] static void usage(const std::string &text);
  // The help screen on the error stream; exit 255 without the summary.
  [[noreturn]] static void help();
};
