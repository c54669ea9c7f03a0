#include "Data.h"

#include "Assert.h"

#include <cstdio>
#include <cstring>
#include <utility>

Data::Data(std::uint32_t sizeInBytes, const std::uint8_t *source)
    : cSize(sizeInBytes) {
  if (cSize != 0) {
    cBytes.reset(new std::uint8_t[cSize]);
    std::memcpy(cBytes.get(), source, cSize);
  }
}

Data::Data(std::uint32_t sizeInBytes) : cSize(sizeInBytes) {
  if (cSize != 0)
    cBytes.reset(new std::uint8_t[cSize]());
}

Data::Data(const Data &other) : Data(other.cSize, other.cBytes.get()) {}

Data &Data::operator=(const Data &other) {
  if (this != &other) {
    Data copy(other);
    *this = std::move(copy);
  }
  return *this;
}

Data::Data(Data &&other) noexcept
    : cSize(other.cSize), cBytes(std::move(other.cBytes)) {
  other.cSize = 0;
}

Data &Data::operator=(Data &&other) noexcept {
  if (this != &other) {
    cBytes = std::move(other.cBytes);
    cSize = other.cSize;
    other.cSize = 0;
  }
  return *this;
}

void Data::append(const Data &other) {
  if (other.cSize == 0)
    return;
  std::uint32_t total = cSize + other.cSize;
  ORV_ASSERT(total >= cSize, "Data");
  std::unique_ptr<std::uint8_t[]> joined(new std::uint8_t[total]);
  if (cSize != 0)
    std::memcpy(joined.get(), cBytes.get(), cSize);
  std::memcpy(joined.get() + cSize, other.cBytes.get(), other.cSize);
  cBytes = std::move(joined);
  cSize = total;
}

void Data::print(std::ostream &out) const {
  static const char kHexDigits[] = "0123456789abcdef";
  char digits[3] = {0, 0, 0};
  for (std::uint32_t i = 0; i < cSize; ++i) {
    if (i > 0 && i % 4 == 0)
      out << ' ';
    if (i > 0 && i % 32 == 0)
      out << '\n';
    // Two lower-case digits per byte, without a printf per byte.
    digits[0] = kHexDigits[cBytes[i] >> 4];
    digits[1] = kHexDigits[cBytes[i] & 0xF];
    out << digits;
  }
  out << '\n';
}
