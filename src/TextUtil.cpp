#include "TextUtil.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

std::uint32_t parseNumber(const std::string &text) {
  const char *digits = text.c_str();
  int base = 10;
  if (text.size() >= 3 && (text[1] == 'x' || text[1] == 'X')) {
    digits += 2;
    base = 16;
  }
  errno = 0;
  unsigned long value = std::strtoul(digits, nullptr, base);
  // Behave as a 32-bit unsigned long would: a negated magnitude that fits
  // in 32 bits wraps modulo 2^32, anything else too large saturates.
  if (value >= 0xFFFFFFFF00000001ul && errno != ERANGE)
    return static_cast<std::uint32_t>(value);
  if (errno == ERANGE || value > 0xFFFFFFFFul)
    return 0xFFFFFFFFu;
  return static_cast<std::uint32_t>(value);
}

std::string quote(const std::string &text) { return "\"" + text + "\""; }

std::string removeQuotes(const std::string &text) {
  std::string result;
  for (char c : text)
    if (c != '"')
      result += c;
  return result;
}

std::list<std::string> splitString(const std::string &text, char separator) {
  std::list<std::string> pieces;
  std::string current;
  for (char c : text) {
    if (c == separator) {
      pieces.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty())
    pieces.push_back(current);
  return pieces;
}

namespace {
bool isSpace(int c) { return std::isspace(static_cast<unsigned char>(c)); }
} // namespace

int readToken(std::istream &in, std::string &token) {
  token.clear();
  while (in.good() && isSpace(in.peek()))
    in.get();
  bool inQuote = false;
  bool appended = false;
  while (!in.fail() && !in.bad()) {
    int c = in.get();
    if (c == std::char_traits<char>::eof())
      break;
    if (c == '"') {
      inQuote = !inQuote;
    } else if (!inQuote && isSpace(c)) {
      break;
    } else {
      token += static_cast<char>(c);
      appended = true;
    }
  }
  return (appended && !inQuote) ? 1 : 0;
}

std::uint32_t byteSwap32(std::uint32_t value) {
  return ((value & 0x000000FFu) << 24) | ((value & 0x0000FF00u) << 8) |
         ((value & 0x00FF0000u) >> 8) | ((value & 0xFF000000u) >> 24);
}

std::string hexText(std::uint32_t value, int widthInBytes) {
  static const std::uint32_t masks[] = {0xFFu, 0xFFFFu, 0xFFFFFFu, 0xFFFFFFFFu};
  if (widthInBytes < 1 || widthInBytes > 4)
    return "<NaN>";
  // "0x" and two lower-case digits per byte, without a printf per call:
  // map files print several of these for every symbol.
  static const char digits[] = "0123456789abcdef";
  const int digitCount = 2 * widthInBytes;
  std::string text(static_cast<std::size_t>(2 + digitCount), '0');
  text[1] = 'x';
  std::uint32_t rest = value & masks[widthInBytes - 1];
  for (int i = digitCount + 1; i >= 2; --i, rest >>= 4)
    text[static_cast<std::size_t>(i)] = digits[rest & 0xF];
  return text;
}
