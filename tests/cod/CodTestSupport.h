// Runs the converter and reads back what it wrote: COD blocks and fields by
// offset, listing files split into lines and rows.
#pragma once

#include "ProcessRunner.h"
#include "TempDir.h"

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

class CodFileReader {
public:
  explicit CodFileReader(const std::string &bytes) : cBytes(bytes) {}

  std::size_t blockCount() const { return cBytes.size() / 512; }
  std::uint8_t u8(unsigned block, unsigned offset) const {
    return static_cast<std::uint8_t>(cBytes.at(block * 512 + offset));
  }
  unsigned u16(unsigned block, unsigned offset) const {
    return u8(block, offset) | (u8(block, offset + 1) << 8);
  }
  // A counted text: the length byte at offset, the characters after it.
  std::string text(unsigned block, unsigned offset) const {
    return cBytes.substr(block * 512 + offset + 1, u8(block, offset));
  }

  // Directory fields.
  unsigned index(unsigned dir, unsigned slice) const {
    return u16(dir, 2 * slice);
  }
  unsigned symTab(unsigned dir) const { return u16(dir, 426); }
  unsigned symEnd(unsigned dir) const { return u16(dir, 428); }
  unsigned namTab(unsigned dir) const { return u16(dir, 430); }
  unsigned lineTab(unsigned dir) const { return u16(dir, 434); }
  unsigned lineEnd(unsigned dir) const { return u16(dir, 436); }
  unsigned highAddr(unsigned dir) const { return u16(dir, 439); }
  unsigned nextDir(unsigned dir) const { return u16(dir, 441); }
  unsigned memMapOfs(unsigned dir) const { return u16(dir, 443); }
  unsigned memMapEnd(unsigned dir) const { return u16(dir, 445); }
  unsigned lSymTab(unsigned dir) const { return u16(dir, 462); }
  unsigned lSymEnd(unsigned dir) const { return u16(dir, 464); }

  struct LineRecord {
    unsigned fileNum, flags, line, codeAddress;
    bool operator==(const LineRecord &o) const {
      return fileNum == o.fileNum && flags == o.flags && line == o.line &&
             codeAddress == o.codeAddress;
    }
  };
  // Every non-empty line-information slot of one directory, in order.
  std::vector<LineRecord> lineInfo(unsigned dir) const {
    std::vector<LineRecord> records;
    if (lineTab(dir) == 0)
      return records;
    for (unsigned b = lineTab(dir); b <= lineEnd(dir); ++b)
      for (unsigned slot = 0; slot < 85; ++slot) {
        LineRecord r{u8(b, slot * 6), u8(b, slot * 6 + 1), u16(b, slot * 6 + 2),
                     u16(b, slot * 6 + 4)};
        if (r.fileNum != 0 || r.line != 0 || r.codeAddress != 0)
          records.push_back(r);
      }
    return records;
  }

private:
  std::string cBytes;
};

inline std::vector<std::string> splitLines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

// One listing row as the converter formats it.
inline std::string listRow(const std::string &address, const std::string &value,
                           const std::string &disassembly,
                           const std::string &source, const std::string &file) {
  char text[512];
  std::snprintf(text, sizeof text, "%-6s   %-6s   %-24s %-80s %-s",
                address.c_str(), value.c_str(), disassembly.c_str(),
                source.c_str(), file.c_str());
  return text;
}

// The listing's rows after the first page header; later page headers stay.
inline std::vector<std::string> bodyRows(const std::string &listing) {
  std::vector<std::string> lines = splitLines(listing);
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (lines[i].rfind("-------  -------", 0) == 0)
      return std::vector<std::string>(lines.begin() + i + 1, lines.end());
  return {};
}

// Runs cirrow in the directory, as a user would from there.
inline ProcessResult runCirrow(const TempDir &dir,
                               const std::vector<std::string> &args) {
  ProcessOptions options;
  options.workDir = dir.path();
  return runProcess(programPath("cirrow"), args, options);
}
