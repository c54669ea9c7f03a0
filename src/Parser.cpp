#include "Parser.h"

#include "CommandArgs.h"
#include "FileInfo.h"
#include "Messages.h"
#include "ObjectFileNames.h"
#include "SectionDesc.h"
#include "StackDesc.h"
#include "TextUtil.h"
#include "linker/Linker.h"

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <sys/stat.h>
#include <vector>

namespace {

bool isAsciiAlnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= '0' && c <= '9');
}

const char *const kHelpLines[] = {
    "Syntax:   orvane { cmdfile | [objfile] | [libfile] | [option] } ...  ",
    "  'cmdfile' is the name of a linker command file.              ",
    "       All linker command files must have the extension '.lkr' ",
    "  'objfile' is the name of an assembler or compiler generated object "
    "file. ",
    "       All object files must have the extension '.o'.          ",
    "  'libfile' is the name of a librarian created library file.   ",
    "       All library files must have the extension '.lib'.       ",
    "  'option'  is a linker command line option described below.   ",
    "",
    "Linker command line options:                                   ",
    "   /o <filename>   : specify output file 'filename', default is 'a.out'  ",
    "   /m <filename>   : create map file 'filename'                          ",
    "   /l <pathlist>   : list of directories to search for library/object "
    "files",
    "   /k <pathlist>   : list of directories to search for linker command "
    "files",
    "   /n <length>     : number of lines per listing page (0 = no "
    "pagination)",
    "   /h, /?          : show this help screen                   ",
    "   /a <hexformat>  : specify format of hex programming file  ",
    "                     valid formats are INHX8M, INHX8S, INHX32",
    "   /d              : don't create listing file               ",
    "   /q              : quiet mode operation (display no warnings or "
    "errors)",
    "   /v              : verbose mode operation (display all warnings and "
    "errors)",
};

// Reads one line as a 1024-character buffer holds it: at most 1023
// characters; the rest of a longer line comes as the next piece. The line
// end is consumed, also right after a full piece.
bool readLinePiece(std::istream &in, std::string &piece) {
  static const std::string::size_type kMaxPiece = 1023;
  piece.clear();
  bool readAny = false;
  for (;;) {
    const int c = in.get();
    if (c == std::char_traits<char>::eof())
      return readAny;
    readAny = true;
    if (c == '\n')
      return true;
    piece += static_cast<char>(c);
    if (piece.size() == kMaxPiece) {
      if (in.peek() == '\n')
        in.get();
      return true;
    }
  }
}

// Far beyond any real project; each level holds an open file.
constexpr std::size_t kMaxIncludeDepth = 256;

std::string where(const std::string &file, int line) {
  return "'" + file + ":" + std::to_string(line) + "'";
}

// Reads one token that must be there: false when the line is at its end,
// the token is empty ("") or a quote is left open.
bool readRequiredToken(std::istream &in, std::string &token) {
  in >> std::ws;
  if (in.peek() == std::char_traits<char>::eof())
    return false;
  return readToken(in, token) != 0;
}

// True when only blanks are left on the line.
bool atLineEnd(std::istream &in) {
  in >> std::ws;
  return in.peek() == std::char_traits<char>::eof();
}

// Splits key=value; false for a word without '=' or without a value.
bool splitAttribute(const std::string &word, std::string &key,
                    std::string &value) {
  const std::string::size_type eq = word.find('=');
  if (eq == std::string::npos || eq + 1 == word.size())
    return false;
  key = word.substr(0, eq);
  value = word.substr(eq + 1);
  return true;
}

// A hexadecimal FILL is widened with leading zeros to whole 16-bit words.
std::string normaliseFill(const std::string &fill) {
  if (fill.size() <= 2 || (fill[1] != 'x' && fill[1] != 'X'))
    return fill;
  std::string result = fill;
  while ((result.size() - 2) % 4 != 0)
    result = "0x0" + result.substr(2);
  return result;
}

} // namespace

bool isValidFileName(const std::string &path) {
  const std::string name = FileInfo(path).name();
  return !name.empty() && isAsciiAlnum(name[0]);
}

bool isValidDirName(const std::string &dir) {
  return !DirInfo(dir).name().empty();
}

bool isDigits(const std::string &text) {
  if (text.empty())
    return false;
  for (char c : text)
    if (c < '0' || c > '9')
      return false;
  return true;
}

void stripComment(std::string &line) {
  const std::string::size_type at = line.find("//");
  if (at != std::string::npos)
    line.erase(at);
}

void Parser::usage(const std::string &message) {
  report(MessageKind::Error, "Parser::usage()", message, 0);
  printSummaryAndExit(1);
}

void Parser::help() {
  std::cout.flush();
  for (const char *line : kHelpLines)
    std::cerr << line << '\n';
  std::cerr.flush();
  endProgram(255);
}

void Parser::checkSetting(int accepted, const std::string &error) {
  if (!accepted)
    usage(error);
}

void Parser::addPathList(const std::string &list, const std::string &message,
                         bool toLinker, Linker &linker) {
  const std::list<std::string> dirs = splitString(list, ';');
  if (dirs.empty())
    usage(message);
  for (const std::string &dir : dirs)
    if (!isValidDirName(dir))
      usage(message);
  for (const std::string &dir : dirs) {
    if (toLinker) {
      std::string error;
      checkSetting(linker.addLibPath(dir, error), error);
    } else {
      cLkrPath.push_back(dir);
    }
  }
}

void Parser::parseCommandLine(int argc, char **argv, Linker &linker) {
  bool sawCommandFile = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    std::string error;
    if (isSwitch(arg)) {
      parseSwitch(arg, argc, argv, i, linker);
    } else if (isObjectFile(arg)) {
      checkSetting(linker.addObjectFile(arg, error), error);
    } else if (isLibraryFile(arg)) {
      checkSetting(linker.addLibraryFile(arg, error), error);
    } else if (isCommandFile(arg)) {
      // Read at once: its settings come before those of later arguments.
      parseCommandFile(arg, linker);
      sawCommandFile = true;
    } else {
      usage("unrecognized input: " + arg);
    }
  }
  if (argc <= 1)
    help();
  if (!sawCommandFile)
    usage("linker command file required.");
}

void Parser::parseSwitch(const std::string &arg, int argc, char **argv,
                         int &index, Linker &linker) {
  const char letter = switchLetter(arg);
  const bool takesValue = letter == 'o' || letter == 'm' || letter == 'l' ||
                          letter == 'k' || letter == 'n' || letter == 'a';
  std::string value;
  if (takesValue) {
    if (arg.size() > 2)
      value = arg.substr(2);
    else if (index + 1 < argc)
      value = argv[++index];
  }
  std::string error;
  switch (letter) {
  case 'o':
    if (!isValidFileName(value))
      usage("-o switch requires <filename>");
    checkSetting(linker.setOutputFile(value, error), error);
    return;
  case 'm':
    if (!isValidFileName(value))
      usage("-m switch requires <filename>");
    checkSetting(linker.setMapFile(value, error), error);
    return;
  case 'l':
    addPathList(value, "-l switch requires <pathlist>", true, linker);
    return;
  case 'k':
    addPathList(value, "-k switch requires <pathlist>", false, linker);
    return;
  case 'n':
    // Only for the listing; checked so that the driver's value is sound.
    if (!isDigits(value))
      usage("-n switch requires <length>");
    return;
  case 'a':
    // Only for the HEX converter; checked the same way.
    if (value != "INHX8M" && value != "INHX8S" && value != "INHX32")
      usage("-a switch requires <hexformat>");
    return;
  case 'd':
    return;
  case 'q':
    setQuiet(1);
    return;
  case 'v':
    setVerbose(1);
    return;
  case 's':
    checkSetting(linker.setStrip(1, error), error);
    return;
  case 'h':
  case '?':
    help();
  default: {
    std::string shown = arg;
    if (shown.size() > 1)
      shown[1] = letter;
    usage("unknown switch: " + shown);
  }
  }
}

std::string Parser::findCommandFile(const std::string &name) const {
  if (FileInfo(name).hasPath())
    return FileInfo(name).fileExists() ? name : std::string();
  std::list<std::string> dirs = cLkrPath;
  dirs.push_front(".");
  for (const std::string &dir : dirs) {
    const bool hasSlash = !dir.empty() && dir.back() == '/';
    const std::string candidate = dir + (hasSlash ? "" : "/") + name;
    if (FileInfo(candidate).fileExists())
      return candidate;
  }
  return std::string();
}

// A command file being read. An INCLUDE line keeps the rest of its line
// here while each file it names is read, one after another.
struct Parser::OpenCommandFile {
  std::string cName; // as found
  std::ifstream cIn;
  int cLine = 0; // the number of the last line read
  std::string cIncludes;
};

std::unique_ptr<Parser::OpenCommandFile>
Parser::openCommandFile(const std::string &name) {
  const std::string found = findCommandFile(name);
  if (found.empty())
    usage("Could not find linker command file '" + name + "'.");
  auto file = std::make_unique<OpenCommandFile>();
  file->cName = found;
  // A directory opens as a stream on some systems but never reads.
  struct stat info;
  if (stat(found.c_str(), &info) == 0 && !S_ISDIR(info.st_mode))
    file->cIn.open(found);
  if (!file->cIn.is_open())
    usage("Could not open '" + found + "'");
  for (const std::string &done : cLkrFile)
    if (done == found)
      usage("Multliple inclusion of linker command file '" + found + "' ");
  cLkrFile.push_back(found);
  return file;
}

// Takes the next file name of the INCLUDE line being read, if any.
bool Parser::nextInclude(OpenCommandFile &file, std::string &name) {
  std::istringstream in(file.cIncludes);
  if (atLineEnd(in)) {
    file.cIncludes.clear();
    return false;
  }
  if (!readRequiredToken(in, name) || !isCommandFile(name))
    usage("Illegal <filename> for INCLUDE in " + where(file.cName, file.cLine));
  file.cIncludes.assign(std::istreambuf_iterator<char>(in),
                        std::istreambuf_iterator<char>());
  return true;
}

// Depth first, as if each INCLUDE read its file at once; the files being
// read are kept on the heap, so no depth of nesting costs stack.
void Parser::parseCommandFile(const std::string &name, Linker &linker) {
  std::vector<std::unique_ptr<OpenCommandFile>> open;
  open.push_back(openCommandFile(name));
  while (!open.empty()) {
    OpenCommandFile &file = *open.back();
    std::string included;
    if (nextInclude(file, included)) {
      if (open.size() > kMaxIncludeDepth)
        usage("INCLUDE nested deeper than " +
              std::to_string(kMaxIncludeDepth) + " levels in " +
              where(file.cName, file.cLine));
      open.push_back(openCommandFile(included));
      continue;
    }
    std::string text;
    if (readLinePiece(file.cIn, text)) {
      ++file.cLine;
      parseLine(text, file.cName, file.cLine, linker, file.cIncludes);
      continue;
    }
    if (file.cIn.bad())
      usage("Could not open '" + file.cName + "'");
    open.pop_back();
  }
}

void Parser::parseLine(const std::string &text, const std::string &file,
                       int line, Linker &linker, std::string &includes) {
  std::string stripped = text;
  stripComment(stripped);
  std::istringstream in(stripped + " ");
  std::string word;
  std::string error;
  while (in >> word) {
    if (word == "LIBPATH" || word == "LKRPATH") {
      const bool isLib = word == "LIBPATH";
      const std::string message =
          isLib ? "Illegal <libpath> for LIBPATH in " + where(file, line)
                : "Illegal <lkrpath> for LKRPATH in " + where(file, line);
      std::string token;
      if (!readRequiredToken(in, token))
        usage(message);
      addPathList(token, message, isLib, linker);
    } else if (word == "FILES") {
      const std::string message =
          "Illegal <filename> for FILES in " + where(file, line);
      if (atLineEnd(in))
        usage(message);
      std::string token;
      while (!atLineEnd(in)) {
        if (!readRequiredToken(in, token))
          usage(message);
        if (isObjectFile(token))
          checkSetting(linker.addObjectFile(token, error), error);
        else if (isLibraryFile(token))
          checkSetting(linker.addLibraryFile(token, error), error);
        else
          usage(message);
      }
    } else if (word == "INCLUDE") {
      if (atLineEnd(in))
        usage("Illegal <filename> for INCLUDE in " + where(file, line));
      // The names take the rest of the line; the caller reads each file.
      includes.assign(std::istreambuf_iterator<char>(in),
                      std::istreambuf_iterator<char>());
      return;
    } else if (word == "CODEPAGE") {
      Memory memory = parseMemory(in, word, kProgramMemory, file, line);
      checkSetting(linker.addCodePage(memory, error), error);
    } else if (word == "DATABANK") {
      Memory memory = parseMemory(in, word, kDataMemory, file, line);
      checkSetting(linker.addDataBank(memory, error), error);
    } else if (word == "SHAREBANK") {
      Memory memory = parseMemory(in, word, kDataMemory, file, line);
      checkSetting(linker.addShareBank(memory, error), error);
    } else if (word == "ACCESSBANK") {
      Memory memory = parseMemory(in, word, kDataMemory, file, line);
      checkSetting(linker.addAccessBank(memory, error), error);
    } else if (word == "SECTION") {
      SectionDesc section = parseSection(in, file, line);
      checkSetting(linker.addSection(section, error), error);
    } else if (word == "STACK") {
      StackDesc stack = parseStack(in, file, line);
      checkSetting(linker.setStack(stack, error), error);
    } else if (word == "HEAP") {
      const std::uint32_t size = parseHeap(in, file, line);
      checkSetting(linker.setMinHeapSize(size, error), error);
    } else {
      usage("Unrecognized input in " + where(file, line) + ": " + word);
    }
  }
}

Memory Parser::parseMemory(std::istream &in, const std::string &keyword,
                           std::uint8_t type, const std::string &file,
                           int line) {
  const std::string message =
      "Invalid attributes for " + keyword + " in " + where(file, line);
  std::string name, start, end, fill;
  bool hasName = false, hasStart = false, hasEnd = false, hasFill = false;
  bool isProtected = false;
  std::string word, key, value;
  while (in >> word) {
    if (word == "PROTECTED") {
      if (isProtected)
        usage(message);
      isProtected = true;
      continue;
    }
    if (!splitAttribute(word, key, value))
      usage(message);
    bool *seen = nullptr;
    std::string *target = nullptr;
    if (key == "NAME") {
      seen = &hasName;
      target = &name;
    } else if (key == "START") {
      seen = &hasStart;
      target = &start;
    } else if (key == "END") {
      seen = &hasEnd;
      target = &end;
    } else if (key == "FILL" && type == kProgramMemory) {
      seen = &hasFill;
      target = &fill;
    } else {
      usage(message);
    }
    if (*seen)
      usage(message);
    *seen = true;
    *target = value;
  }
  if (!hasName || !hasStart || !hasEnd)
    usage(message);
  const std::uint32_t startLoc = parseNumber(start);
  const std::uint32_t endLoc = parseNumber(end);
  // A memory needs at least one location, and its size in locations must
  // fit in 32 bits.
  if (endLoc < startLoc || (startLoc == 0 && endLoc == 0xFFFFFFFFu))
    usage(message);
  return Memory(name, startLoc, endLoc, type, isProtected ? 1 : 0,
                hasFill ? 1 : 0, hasFill ? normaliseFill(fill) : "");
}

StackDesc Parser::parseStack(std::istream &in, const std::string &file,
                             int line) {
  const std::string message =
      "Invalid attributes for STACK in " + where(file, line);
  std::string size, ram;
  bool hasSize = false, hasRam = false;
  std::string word, key, value;
  while (in >> word) {
    if (!splitAttribute(word, key, value))
      usage(message);
    if (key == "SIZE" && !hasSize) {
      hasSize = true;
      size = value;
    } else if (key == "RAM" && !hasRam) {
      hasRam = true;
      ram = value;
    } else {
      usage(message);
    }
  }
  if (!hasSize)
    usage(message);
  return StackDesc(parseNumber(size), ram);
}

std::uint32_t Parser::parseHeap(std::istream &in, const std::string &file,
                                int line) {
  const std::string message =
      "Invalid attributes for HEAP in " + where(file, line);
  std::string size;
  bool hasSize = false;
  std::string word, key, value;
  while (in >> word) {
    if (!splitAttribute(word, key, value) || key != "MINSIZE" || hasSize)
      usage(message);
    hasSize = true;
    size = value;
  }
  if (!hasSize)
    usage(message);
  return parseNumber(size);
}

SectionDesc Parser::parseSection(std::istream &in, const std::string &file,
                                 int line) {
  const std::string message =
      "Invalid attributes for SECTION in " + where(file, line);
  std::string name, rom, ram;
  bool hasName = false, hasRom = false, hasRam = false;
  std::string word, key, value;
  while (in >> word) {
    if (!splitAttribute(word, key, value))
      usage(message);
    if (key == "NAME" && !hasName) {
      hasName = true;
      name = value;
    } else if (key == "ROM" && !hasRom) {
      hasRom = true;
      rom = value;
    } else if (key == "RAM" && !hasRam) {
      hasRam = true;
      ram = value;
    } else {
      usage(message);
    }
  }
  if (!hasName || (!hasRom && !hasRam))
    usage(message);
  return SectionDesc(name, rom, ram);
}
