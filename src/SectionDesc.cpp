#include "SectionDesc.h"

void SectionDesc::print(std::ostream &out) const {
  out << "SectionDesc:  cName=" << cName << ", cLoadMemory=" << cLoadMemory
      << ", cRunMemory=" << cRunMemory << '\n';
}
