// Small text helpers shared by the programs.
#pragma once

#include <cstdint>
#include <istream>
#include <list>
#include <string>

// "0x"/"0X" prefix (with at least one more character) reads base 16,
// anything else base 10; stops at the first non-digit, no digits give 0,
// values beyond 32 bits saturate at 0xFFFFFFFF.
std::uint32_t parseNumber(const std::string &text);

std::string quote(const std::string &text);
std::string removeQuotes(const std::string &text);

// Every separator ends a piece, empty ones included; a trailing empty piece
// is dropped.
std::list<std::string> splitString(const std::string &text, char separator);

// Reads one white-space separated token; double quotes group and are
// dropped. 1 when something was read and no quote is left open.
int readToken(std::istream &in, std::string &token);

std::uint32_t byteSwap32(std::uint32_t value);

// "0x" and 2 x width lower-case digits; "<NaN>" for widths outside 1..4.
std::string hexText(std::uint32_t value, int widthInBytes);
