// The STACK directive: its size and, optionally, the bank it must go to.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

class StackDesc {
public:
  StackDesc() = default;
  StackDesc(std::uint32_t sizeInBytes, const std::string &runMemory)
      : cSize(sizeInBytes), cRunMemory(runMemory) {}

  std::uint32_t getSize() const { return cSize; }
  // Empty when RAM= was not given.
  std::string getRunMemory() const { return cRunMemory; }

  void print(std::ostream &out) const;

private:
  std::uint32_t cSize = 0; // bytes
  std::string cRunMemory;
};
