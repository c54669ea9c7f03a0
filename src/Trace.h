// Named trace switches that guard internal dumps. Every level is 0 unless a
// program sets one; operations ask before printing.
#pragma once

#include <string>
#include <string_view>

std::string traceRegister(const std::string &name);
std::string traceSet(const std::string &name, int level);
int traceLevel(std::string_view name);

// Turns every switch off again, as a program starts.
void traceResetAll();
