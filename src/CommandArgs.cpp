#include "CommandArgs.h"

#include <cctype>

bool isSwitch(const std::string &arg) {
  if (arg.empty())
    return false;
  if (arg[0] == '-')
    return true;
  if (arg[0] == '/')
    return arg.find('/', 1) == std::string::npos;
  return false;
}

char switchLetter(const std::string &arg) {
  if (arg.size() < 2)
    return 0;
  return static_cast<char>(std::tolower(static_cast<unsigned char>(arg[1])));
}
