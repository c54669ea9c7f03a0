// One SECTION directive: a section name and the memories it must go to.
#pragma once

#include <ostream>
#include <string>

class SectionDesc {
public:
  SectionDesc() = default;
  SectionDesc(const std::string &name, const std::string &loadMemory,
              const std::string &runMemory)
      : cName(name), cLoadMemory(loadMemory), cRunMemory(runMemory) {}

  std::string getName() const { return cName; }
  // The CODEPAGE of ROM=, empty when not given.
  std::string getLoadMemory() const { return cLoadMemory; }
  // The bank of RAM=, empty when not given.
  std::string getRunMemory() const { return cRunMemory; }

  bool operator<(const SectionDesc &other) const { return cName < other.cName; }
  // One directive per section name: only the names are compared.
  bool operator==(const SectionDesc &other) const {
    return cName == other.cName;
  }

  void print(std::ostream &out) const;

private:
  std::string cName;
  std::string cLoadMemory;
  std::string cRunMemory;
};
