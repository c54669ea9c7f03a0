// A section name with its address; the memory-target tables and the COD
// converter sort these by address.
#pragma once

#include <cstdint>
#include <string>

class ScnAddr {
public:
  ScnAddr() = default;
  ScnAddr(const std::string &name, std::uint32_t address)
      : cName(name), cAddress(address) {}

  std::string cName;
  std::uint32_t cAddress = 0;
};

// Address ascending, unsigned.
inline bool scnAddrLess(const ScnAddr &a, const ScnAddr &b) {
  return a.cAddress < b.cAddress;
}
