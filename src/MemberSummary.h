// What listing a library, checking its symbol index and choosing the
// members a link imports need of a member, found in the member's bytes
// without building its model: its time stamp, the length its model gives
// (and so where the next member starts) and its external symbols. Defined
// beside the object reader, whose rules it follows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

class MemberSummary {
public:
  // An external symbol's name (viewing the image) and whether it is a
  // definition rather than a reference, as Coff::isExtDef and
  // Coff::isExtRef pick them.
  struct External {
    std::string_view cName;
    bool cDefined = false;
  };

  // Looks over the image at bytes (which may run on past it, as a
  // library's later members do). True when reading it in full would give
  // a model without a single message and every external symbol (defined
  // or referenced) has its name; the summary then holds what that model
  // would give, and the external symbols, in symbol-table order, have been
  // added to externals when it is given. False otherwise, having reported
  // and added nothing: the caller reads the image in full, which reports
  // whatever is amiss.
  bool read(const std::uint8_t *bytes, std::uint64_t sizeInBytes,
            std::vector<External> *externals = nullptr);

  std::uint32_t timeStamp() const { return cTimeStamp; }
  // As Coff::size() gives it for the model read from the image.
  std::uint32_t sizeInBytes() const { return cSizeInBytes; }
  // How many external symbols read added.
  std::uint32_t externalCount() const { return cExternalCount; }

private:
  std::uint32_t cTimeStamp = 0;
  std::uint32_t cSizeInBytes = 0;
  std::uint32_t cExternalCount = 0;
};
