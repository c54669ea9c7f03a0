// Telling switches from file arguments, the same way in every program.
#pragma once

#include <string>

// '-' always starts a switch. '/' starts one too, unless the rest of the
// argument holds another '/': then it is an absolute file path such as
// "/home/u/x.o".
bool isSwitch(const std::string &arg);

// The switch letter in lower case, or 0 for a lone "-" or "/" (an unknown
// switch to every program). Only meaningful when isSwitch(arg).
char switchLetter(const std::string &arg);
