#include "Driver.h"

#include "ChildProcess.h"
#include "CommandArgs.h"

#include <cstring>
#include <iostream>
#include <utility>

namespace {

// An empty value gives no word at all, as it would vanish from a command
// line split at blanks.
void addOption(std::vector<std::string> &words, const char *option,
               const std::string &value) {
  words.push_back(option);
  if (!value.empty())
    words.push_back(value);
}

// Runs one child; false when it could not be started (already reported).
bool runStep(const char *program, const std::vector<std::string> &args,
             int &exitCode) {
  ChildOutcome outcome = runChild(program, args);
  if (!outcome.cStarted) {
    std::cerr << "exec error for " << program << ": "
              << std::strerror(outcome.cErrorNumber) << std::endl;
    exitCode = 1;
    return false;
  }
  exitCode = outcome.cExitCode;
  return true;
}

} // namespace

Driver::Driver(std::vector<std::string> args) : cArgs(std::move(args)) {
  readOptions();
}

void Driver::readOptions() {
  for (std::size_t i = 0; i < cArgs.size(); ++i) {
    if (!isSwitch(cArgs[i]))
      continue;
    switch (switchLetter(cArgs[i])) {
    case 'a':
      cAFlag = true;
      cAValue = takeValue(i);
      break;
    case 'n':
      cNFlag = true;
      cNValue = takeValue(i);
      break;
    case 'o':
      cOut = takeValue(i);
      break;
    case 'd':
      cDFlag = true;
      break;
    case 'q':
      cQFlag = true;
      break;
    case 'v':
      cVFlag = true;
      break;
    default:
      break; // the linker's business alone
    }
  }
}

// The value joined to the letter, else the next argument (which is then
// consumed), else empty.
std::string Driver::takeValue(std::size_t &index) const {
  const std::string &arg = cArgs[index];
  if (arg.size() > 2)
    return arg.substr(2);
  if (index + 1 < cArgs.size())
    return cArgs[++index];
  return std::string();
}

std::vector<std::string> Driver::codConverterArgs() const {
  std::vector<std::string> words;
  if (cVFlag)
    words.push_back("/v");
  if (cQFlag)
    words.push_back("/q");
  if (cDFlag)
    words.push_back("/d");
  if (cNFlag)
    addOption(words, "/n", cNValue);
  words.push_back(cOut);
  return words;
}

std::vector<std::string> Driver::hexConverterArgs() const {
  std::vector<std::string> words;
  if (cVFlag)
    words.push_back("/v");
  if (cQFlag)
    words.push_back("/q");
  if (cAFlag)
    addOption(words, "/a", cAValue);
  words.push_back(cOut);
  return words;
}

int Driver::run() const {
  int exitCode = 0;
  if (!runStep("_orvane", linkerArgs(), exitCode) || exitCode != 0)
    return exitCode;
  if (!runStep("cirrow", codConverterArgs(), exitCode) || exitCode != 0)
    return exitCode;
  runStep("pelmat", hexConverterArgs(), exitCode);
  return exitCode;
}

int driverMain(int argc, char **argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i)
    args.push_back(argv[i]);
  return Driver(std::move(args)).run();
}
