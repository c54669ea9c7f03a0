// Folds the sections of all inputs into one record per section name and
// refuses inputs whose sections of one name disagree.
#include "Linker.h"

#include "Assert.h"

#include <algorithm>
#include <set>
#include <string_view>
#include <unordered_map>

namespace {

constexpr const char *kModule = "SectionMerge";
constexpr const char *kImageSuffix = "_i";

// Every input section in link order: inputs in cCoff order, sections in
// section-number order.
template <class Visit>
int forEachSection(const std::vector<std::unique_ptr<Coff>> &inputs,
                   Visit visit) {
  for (const std::unique_ptr<Coff> &coff : inputs) {
    for (const auto &numbered : coff->cScnNum) {
      const auto hdr = coff->cScnHdr.find(numbered.second);
      ORV_ASSERT(hdr != coff->cScnHdr.end(), kModule);
      if (!visit(*coff, hdr->first, hdr->second))
        return 0;
    }
  }
  return 1;
}

// Sections the linker makes itself may not come from an input: the
// initialisation table, the stack when one is declared, and the program
// memory image of every initialised-data section.
int checkReservedNames(const std::vector<std::unique_ptr<Coff>> &inputs,
                       const std::string &initScnName,
                       const std::string &stackScnName, std::string &error) {
  std::set<std::string> idataNames;
  forEachSection(inputs,
                 [&](const Coff &, const std::string &name, const scnhdr &hdr) {
                   if (Coff::scnType(hdr) == kScnTypeIdata)
                     idataNames.insert(name);
                   return 1;
                 });
  const std::size_t suffixLength = std::char_traits<char>::length(kImageSuffix);
  auto isImageName = [&](const std::string &name) {
    return name.size() > suffixLength &&
           name.compare(name.size() - suffixLength, suffixLength,
                        kImageSuffix) == 0 &&
           idataNames.count(name.substr(0, name.size() - suffixLength)) != 0;
  };
  return forEachSection(inputs, [&](const Coff &coff, const std::string &name,
                                    const scnhdr &) {
    if (name == initScnName ||
        (!stackScnName.empty() && name == stackScnName) || isImageName(name)) {
      error = "Section '" + name + "' in '" + coff.cFileName +
              "' has a name reserved for the linker.";
      return 0;
    }
    return 1;
  });
}

} // namespace

std::uint32_t Linker::pieceSizeInBytes(const scnhdr &hdr,
                                       std::uint8_t type) const {
  // Program memory is filled in whole locations: an odd-sized code piece
  // on a 2-byte-word family still takes its last location entirely.
  if (type != kScnTypeCode && type != kScnTypeRomdata)
    return hdr.s_size;
  const std::uint64_t bytesPerLoc =
      std::max<std::uint64_t>(1, (cRomWidthBits + 7u) / 8u);
  const std::uint64_t rounded =
      (hdr.s_size + bytesPerLoc - 1) / bytesPerLoc * bytesPerLoc;
  return static_cast<std::uint32_t>(
      std::min<std::uint64_t>(rounded, UINT32_MAX));
}

int Linker::mergeFirstPiece(const Coff &coff, const std::string &name,
                            const scnhdr &hdr, MergedRecords &merged,
                            std::string &error) {
  const std::uint8_t type = Coff::scnType(hdr);
  merged.size = &(cScnSize[name] = pieceSizeInBytes(hdr, type));
  merged.type = &(cScnType[name] = type);
  if (type == kScnTypeNone) {
    error = "unknown section type for '" + name + "' in file '" +
            coff.cFileName + "'.";
    return 0;
  }
  merged.absolute = &(cScnAbs[name] = Coff::isAbsolute(hdr));
  merged.shared = &(cScnShare[name] = Coff::isShared(hdr));
  merged.access = &(cScnAccess[name] = Coff::isAccess(hdr));
  if (Coff::isAbsolute(hdr)) {
    cScnAbsStart[name] = hdr.s_paddr;
    cScnAbsSize[name] = *merged.size;
  }
  merged.overlay = &(cScnOverlay[name] = Coff::isOverlay(hdr));
  return 1;
}

Linker::MergedRecords Linker::mergedRecords(const std::string &name) {
  return MergedRecords{&cScnSize[name],  &cScnType[name],   &cScnAbs[name],
                       &cScnShare[name], &cScnAccess[name], &cScnOverlay[name]};
}

int Linker::mergeNextPiece(const MergedRecords &merged, const std::string &name,
                           const scnhdr &hdr, std::string &error) {
  const std::uint8_t type = Coff::scnType(hdr);
  const std::uint32_t pieceSize = pieceSizeInBytes(hdr, type);
  const int isOverlay = *merged.overlay;
  const int isAbs = *merged.absolute;
  auto quoted = [&]() { return "'" + name + "'"; };
  if (Coff::isOverlay(hdr) != isOverlay) {
    error = "section overlay types for " + quoted() +
            " do not match across input files.";
    return 0;
  }
  std::uint32_t &size = *merged.size;
  if (isOverlay) {
    size = std::max(size, pieceSize);
    if (Coff::isAbsolute(hdr) != isAbs) {
      error = "section absolute types for " + quoted() +
              " do not match across input files.";
      return 0;
    }
    if (isAbs) {
      if (hdr.s_paddr != cScnAbsStart[name]) {
        error = "starting addresses for absolute overlay section " + quoted() +
                " do not match across all input files.";
        return 0;
      }
      cScnAbsSize[name] = size;
    }
  } else {
    // A sum that no longer fits 32 bits fits no memory either.
    if (static_cast<std::uint64_t>(size) + pieceSize > UINT32_MAX) {
      error = "section " + quoted() + " is too large.";
      return 0;
    }
    size += pieceSize;
  }
  if (type != *merged.type) {
    error =
        "section types for " + quoted() + " do not match across input files.";
    return 0;
  }
  if (Coff::isShared(hdr) != *merged.shared) {
    error = "section share types for " + quoted() +
            " do not match across input files.";
    return 0;
  }
  if (Coff::isAccess(hdr) != *merged.access) {
    error = "section access types for " + quoted() +
            " do not match across input files.";
    return 0;
  }
  if (!isOverlay && (Coff::isAbsolute(hdr) || isAbs)) {
    error = "section " + quoted() +
            " type is non-overlay and absolute but occurs in more than one "
            "input file.";
    return 0;
  }
  return 1;
}

int Linker::mergeSections(std::string &error) {
  if (!checkReservedNames(cCoff, cInitScnName,
                          cStackDescSet ? cStackScnName : std::string(), error))
    return 0;
  // The records of each name met, found by hashing the name rather than
  // by a search of every record map for every piece.
  std::unordered_map<std::string_view, MergedRecords> met;
  return forEachSection(
      cCoff, [&](const Coff &coff, const std::string &name, const scnhdr &hdr) {
        const auto known = met.find(name);
        if (known != met.end())
          return mergeNextPiece(known->second, name, hdr, error);
        const auto typed = cScnType.find(name);
        MergedRecords merged;
        if (typed == cScnType.end()) {
          if (!mergeFirstPiece(coff, name, hdr, merged, error))
            return 0;
        } else {
          merged = mergedRecords(name);
          if (!mergeNextPiece(merged, name, hdr, error))
            return 0;
        }
        // Keyed by the name held in the record maps, which outlive the walk.
        met.emplace(cScnType.find(name)->first, merged);
        return 1;
      });
}
