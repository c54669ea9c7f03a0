#include "HexCommandLine.h"

#include "Banner.h"
#include "Coff.h"
#include "CommandArgs.h"
#include "Hex.h"
#include "Messages.h"
#include "TextUtil.h"

#include <iostream>
#include <list>
#include <memory>
#include <string>

namespace {

const char kUsage[] =
    "Usage: pelmat [/a <hexformat>] [/r 0xBBBB-0xEEEE]... [/q] <coffFile>\n"
    "   where, <hexformat> is {INHX32, INHX8S, INHX8M} \n"
    "          0xBBBB is the beginning program memory address of a range to "
    "include\n"
    "          0xEEEE is the ending program memory address of a range to "
    "include\n"
    "   If no /r option is present, all rom sections will be included.\n";
const char kRangeError[] = "/r requires 0xBBBB-0xEEEE where 0xEEEE >= 0xBBBB";
const char kFormatError[] = "-a switch requires {INHX32, INHX8S, INHX8M}";

struct HexOptions {
  HexFormat cFormat = HexFormat::Inhx32;
  std::list<AddrRange> cRanges;
  std::string cCoffFile;
  // Set by any file argument, even an empty one, so that a second file
  // argument is always a usage error.
  bool cHasCoffFile = false;
};

// Command-line errors end the run at once, without the summary.
int commandLineError(const std::string &text) {
  if (!isQuiet())
    std::cerr << text << std::endl;
  return 1;
}

bool parseRange(const std::string &text, AddrRange &range) {
  std::list<std::string> pieces = splitString(text, '-');
  if (pieces.size() != 2)
    return false;
  range.cStart = parseNumber(pieces.front());
  range.cEnd = parseNumber(pieces.back());
  return range.cEnd >= range.cStart;
}

bool parseFormat(const std::string &name, HexFormat &format) {
  if (name == "INHX8M")
    format = HexFormat::Inhx8m;
  else if (name == "INHX8S")
    format = HexFormat::Inhx8s;
  else if (name == "INHX32")
    format = HexFormat::Inhx32;
  else
    return false;
  return true;
}

// 0 when the options are good, else the exit code after the message.
int parseOptions(int argc, char **argv, HexOptions &options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    char letter = isSwitch(arg) && arg.size() == 2 ? switchLetter(arg) : 0;
    if (letter == 'r') {
      if (i + 1 >= argc)
        return commandLineError(kUsage);
      AddrRange range;
      if (!parseRange(argv[++i], range))
        return commandLineError(kRangeError);
      options.cRanges.push_back(range);
    } else if (letter == 'q') {
      // Taken by the quiet pre-scan.
    } else if (letter == 'v') {
      setVerbose(1);
    } else if (letter == 'a') {
      if (i + 1 >= argc || !parseFormat(argv[++i], options.cFormat))
        return commandLineError(kFormatError);
    } else if (!options.cHasCoffFile) {
      options.cCoffFile = arg;
      options.cHasCoffFile = true;
    } else {
      return commandLineError(kUsage);
    }
  }
  if (!options.cHasCoffFile)
    return commandLineError(kUsage);
  return 0;
}

} // namespace

int hexConverterMain(int argc, char **argv) {
  if (hasQuietSwitch(argc, argv))
    setQuiet(1);
  if (!isQuiet())
    std::cout << hexConverterBanner() << '\n' << noticeText() << '\n';

  HexOptions options;
  if (int code = parseOptions(argc, argv, options))
    return code;

  // Only code and romdata sections become HEX records.
  std::unique_ptr<Coff> coff =
      Coff::make(options.cCoffFile, Coff::Parts::ProgramMemory);
  if (!coff)
    printSummaryAndExit(1);
  coff2hex converter;
  if (converter.convert(*coff, options.cRanges) == nullptr)
    printSummaryAndExit(1);
  if (converter.write(options.cFormat) == 0)
    printSummaryAndExit(1);
  // The exit gives the model's memory back at once; taking its thousands
  // of sections apart first would only cost time. It stays reachable
  // until then.
  printSummaryAndExit(0);
}
