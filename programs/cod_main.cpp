// cirrow: turns a linked COFF file into a COD debug file and a listing.
#include "Banner.h"
#include "Coff.h"
#include "Coff2Cod.h"
#include "CommandArgs.h"
#include "FileBytes.h"
#include "Messages.h"
#include "SafeFile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

namespace {

struct CodOptions {
  std::string coffFile;
  // Set by any file argument, even an empty one, so that a second file
  // argument is always a usage error.
  bool hasCoffFile = false;
  int pageLength = 0;
  int pageLengthGiven = 0;
  int noListing = 0;
};

// Decimal with optional sign after leading blanks; no digits give 0, and
// values beyond an int are held at its limits.
int parsePageLength(const std::string &text) {
  errno = 0;
  long value = std::strtol(text.c_str(), nullptr, 10);
  if (value > INT_MAX)
    return INT_MAX;
  if (value < INT_MIN)
    return INT_MIN;
  return static_cast<int>(value);
}

// Ends the program: exit code 1 and no summary.
[[noreturn]] void usage() {
  if (isQuiet() == 0)
    std::cerr << "Usage: cirrow [-n, /n <listingPageLength>] [-d, /d] "
                 "[-q, /q] <coffFile>\n";
  std::cout.flush();
  std::cerr.flush();
  endProgram(1);
}

// Only the two-character forms are options; anything else is the file.
char optionLetter(const std::string &arg) {
  if (arg.size() != 2 || !isSwitch(arg))
    return 0;
  char letter = switchLetter(arg);
  return letter == 'n' || letter == 'q' || letter == 'v' || letter == 'd'
             ? letter
             : 0;
}

CodOptions parseCommandLine(int argc, char **argv) {
  CodOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    switch (optionLetter(arg)) {
    case 'n':
      if (++i >= argc)
        usage();
      options.pageLength = parsePageLength(argv[i]);
      options.pageLengthGiven = 1;
      break;
    case 'q':
      break; // taken by the quiet pre-scan
    case 'v':
      setVerbose(1);
      break;
    case 'd':
      options.noListing = 1;
      break;
    default:
      if (options.hasCoffFile)
        usage();
      options.coffFile = arg;
      options.hasCoffFile = true;
      break;
    }
  }
  if (!options.hasCoffFile)
    usage();
  return options;
}

// Reads the COFF file into bytes, which the converter then reads symbols,
// names, section headers and contents from: the Coff keeps none of them
// (but for an old-layout file's). A file that does not open is left to
// Coff::make to report (and read whole, should it open then).
std::unique_ptr<Coff> readCoff(const std::string &name, FileBytes &bytes) {
  std::FILE *file = std::fopen(name.c_str(), "rb");
  if (file == nullptr)
    return Coff::make(name);
  // An unreadable file reads as an empty image: the header read fails.
  bytes.read(file, 0);
  std::fclose(file);
  return Coff::make(bytes.data(), bytes.size(), name,
                    Coff::Parts::AllFromImage);
}

} // namespace

int main(int argc, char **argv) {
  initProgramStreams();
  removeTemporariesOnSignals();
  if (hasQuietSwitch(argc, argv))
    setQuiet(1);
  if (isQuiet() == 0)
    std::cout << codConverterBanner() << '\n' << noticeText() << '\n';

  CodOptions options = parseCommandLine(argc, argv);
  if (options.noListing != 0 && options.pageLengthGiven != 0)
    report(MessageKind::Warning, "main()",
           "no listing file generated: /n switch ignored", 0);

  FileBytes bytes;
  std::unique_ptr<Coff> coff = readCoff(options.coffFile, bytes);
  if (!coff)
    printSummaryAndExit(1);
  Coff2Cod cod;
  cod.setImage(bytes.data(), bytes.size());
  if (cod.convert(*coff, options.pageLength, options.noListing) == nullptr)
    printSummaryAndExit(1);
  cod.preWrite();
  if (cod.write() == 0)
    printSummaryAndExit(1);
  // The exit frees the models at once; taking them apart first would
  // only cost time.
  printSummaryAndExit(0);
}
