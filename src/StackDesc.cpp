#include "StackDesc.h"

void StackDesc::print(std::ostream &out) const {
  out << "StackDesc:  cSize=" << cSize << ", cRunMemory=" << cRunMemory;
}
