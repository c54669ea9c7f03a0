#include "Hex.h"

#include "Coff.h"
#include "FileInfo.h"
#include "Messages.h"
#include "SafeFile.h"
#include "TextUtil.h"

#include <algorithm>
#include <memory>

namespace {

constexpr std::uint64_t kAddressSpaceBytes = 0x100000000ull;

bool isProgramMemory(const scnhdr &hdr) {
  std::uint8_t type = Coff::scnType(hdr);
  return type == kScnTypeCode || type == kScnTypeRomdata;
}

// The text is written out whenever it has grown this far, and a range goes
// to the writer in pieces of at most kPieceBytes: a large image never
// stands in memory as text. A piece ends at a multiple of 32 bytes (16
// words), where the records of every format break anyway.
constexpr std::size_t kTextBytes = 64 * 1024;
constexpr std::uint32_t kPieceBytes = 16 * 1024;

} // namespace

void AddrRange::print(std::ostream &out) const {
  out << "AddrRange:  cStart=" << hexText(cStart, 4)
      << "cEnd=" << hexText(cEnd, 4) << '\n';
}

int inRanges(std::uint32_t address, const std::list<AddrRange> &ranges) {
  for (const AddrRange &range : ranges)
    if (range.contains(address))
      return 1;
  return 0;
}

void HexRange::print(std::ostream &out) const {
  out << "HexRange: cStart=" << hexText(cStart, 4) << ", cData=";
  Data(cSize, cBytes).print(out);
}

bool hexRangeLess(const HexRange &a, const HexRange &b) {
  return a.cStart < b.cStart;
}

coff2hex *coff2hex::convert(const Coff &coff,
                            const std::list<AddrRange> &ranges) {
  // Bytes per program-memory address unit: 2 for word-addressed memory,
  // 1 for byte-addressed memory.
  const std::uint64_t unitBytes =
      (static_cast<std::uint64_t>(coff.cOptHdr.rom_width_bits) + 7) / 8;
  if (unitBytes == 0) {
    report(MessageKind::Error, "Hex::convert()",
           "Program memory width of 0 bits in '" + coff.cFileName + "'.", 0);
    return nullptr;
  }
  static const Data empty;
  if (ranges.empty())
    cRanges.reserve(cRanges.size() + coff.cRawData.size());
  // Headers and contents are both ordered by name: one walk pairs them
  // without a search per section.
  auto raw = coff.cRawData.begin();
  for (const auto &entry : coff.cScnHdr) {
    int order = 1;
    while (raw != coff.cRawData.end() &&
           (order = raw->first.compare(entry.first)) < 0)
      ++raw;
    if (!isProgramMemory(entry.second))
      continue;
    const Data &contents = order == 0 ? raw->second : empty;
    if (!addSection(entry.first, entry.second.s_paddr, contents, unitBytes,
                    ranges))
      return nullptr;
  }
  if (!ranges.empty() && cRanges.empty())
    return nullptr;
  cFileBaseName = FileInfo(coff.cFileName).baseName();
  return this;
}

bool coff2hex::addSection(const std::string &name, std::uint32_t startLoc,
                          const Data &contents, std::uint64_t unitBytes,
                          const std::list<AddrRange> &ranges) {
  if (contents.size() == 0)
    return true;
  // Contents are padded to whole words: an odd length gets one 0x00 byte.
  // Byte-addressed memory needs no padding, and padding there would write
  // a byte at an address the next section may own.
  const std::uint8_t *data = contents.bytes();
  std::size_t size = contents.size();
  if (unitBytes > 1 && size % 2 != 0) {
    cPadded.emplace_back(data, data + size);
    cPadded.back().push_back(0x00);
    data = cPadded.back().data();
    size = cPadded.back().size();
  }
  const std::uint64_t startByte = unitBytes * startLoc;
  if (startByte + size > kAddressSpaceBytes) {
    report(MessageKind::Error, "Hex::convert()",
           "Section '" + name + "' extends beyond byte address 0xffffffff.", 0);
    return false;
  }
  if (ranges.empty()) {
    addRange(startByte, data, size);
    return true;
  }
  // One address unit at a time; each run of selected units becomes one
  // range holding just their bytes.
  std::size_t runStart = 0;
  bool inRun = false;
  for (std::size_t i = 0; i < size; i += unitBytes) {
    std::uint64_t loc = startLoc + i / unitBytes;
    bool selected =
        loc <= 0xFFFFFFFFu && inRanges(static_cast<std::uint32_t>(loc), ranges);
    if (selected && !inRun)
      runStart = i;
    if (!selected && inRun)
      addRange(startByte + runStart, data + runStart, i - runStart);
    inRun = selected;
  }
  if (inRun)
    addRange(startByte + runStart, data + runStart, size - runStart);
  return true;
}

void coff2hex::addRange(std::uint64_t startByte, const std::uint8_t *bytes,
                        std::size_t count) {
  HexRange range;
  range.cStart = static_cast<std::uint32_t>(startByte);
  range.cBytes = bytes;
  range.cSize = static_cast<std::uint32_t>(count);
  cRanges.push_back(range);
}

void coff2hex::sortRanges() {
  std::stable_sort(cRanges.begin(), cRanges.end(), hexRangeLess);
}

int coff2hex::write(HexFormat format) {
  if (format != HexFormat::Inhx8m && format != HexFormat::Inhx8s &&
      format != HexFormat::Inhx32)
    return 0;
  sortRanges();
  HexRecordWriter writer(format);
  // An address the format cannot hold is found before any file is created,
  // so it leaves no file behind.
  for (const HexRange &range : cRanges)
    if (!writer.fits(range.cStart, range.cSize))
      report(MessageKind::Error, "Hex::doLinearAddressRecord()",
             "Selected hex format does not support byte addresses above "
             "64kb; use INHX32 format!",
             1);
  std::vector<std::string> names;
  if (format == HexFormat::Inhx8s) {
    names.push_back(cFileBaseName + ".hxl");
    names.push_back(cFileBaseName + ".hxh");
  } else {
    names.push_back(cFileBaseName + ".hex");
  }
  // The files of a set belong together: every one is opened, written and
  // closed before any replaces its target, so a failure leaves all the old
  // files as they were.
  std::vector<std::unique_ptr<SafeOutputFile>> outputs;
  for (const std::string &name : names) {
    outputs.push_back(std::make_unique<SafeOutputFile>(name));
    if (!outputs.back()->open()) {
      report(MessageKind::Error, "Hex::write()",
             "Could not open hex file '" + name + "' for writing.", 0);
      return 0;
    }
  }
  // A failed write is remembered by its file and reported at its close.
  auto writeText = [&] {
    outputs[0]->write(writer.text());
    if (outputs.size() > 1)
      outputs[1]->write(writer.highText());
    writer.clearText();
  };
  for (const HexRange &range : cRanges) {
    std::uint32_t done = 0;
    while (done < range.cSize) {
      const std::uint32_t at = range.cStart + done;
      const std::uint32_t piece =
          std::min(range.cSize - done, kPieceBytes - at % kPieceBytes);
      writer.addBytes(at, range.cBytes + done, piece);
      done += piece;
      if (writer.text().size() + writer.highText().size() >= kTextBytes)
        writeText();
    }
  }
  writer.finish();
  writeText();
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    if (!outputs[i]->close()) {
      report(MessageKind::Error, "Hex::write()",
             "Could not write hex file '" + names[i] + "'.", 0);
      return 0;
    }
  }
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    if (!outputs[i]->commit()) {
      report(MessageKind::Error, "Hex::write()",
             "Could not write hex file '" + names[i] + "'.", 0);
      return 0;
    }
  }
  return 1;
}

void coff2hex::print(std::ostream &out) const {
  out << "Hex: cFileBaseName=" << cFileBaseName << ", cRanges:\n";
  for (const HexRange &range : cRanges)
    range.print(out);
}
