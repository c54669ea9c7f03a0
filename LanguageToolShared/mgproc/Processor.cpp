#include "mgproc/Processor.h"

#include "Assert.h"
#include "mgproc/ProcessorTable.h"

namespace {

// What every processor of one family shares.
struct FamilyGeometry {
  uint32_t cAddrUnitBits;
  uint32_t cPageSize; // address units
  uint32_t cBankSize; // bytes
  uint32_t cProgAddrMask;
  uint32_t cDataAddrMask;
  uint32_t cBankShift;
  uint32_t cBankOffsetMask;
};

const FamilyGeometry &familyGeometry(ProcessorFamily family) {
  static const FamilyGeometry trell = {14, 0x800, 0x80, 0x1FFF, 0x1FF, 7, 0x7F};
  static const FamilyGeometry brask = {16,    0x2000, 0x100, 0xFFFF,
                                       0xFFF, 8,      0xFF};
  static const FamilyGeometry vesk = {12, 0x200, 0x20, 0x7FF, 0x7F, 5, 0x1F};
  static const FamilyGeometry quolm = {8,     0x200000, 0x100, 0x1FFFFF,
                                       0xFFF, 8,        0xFF};
  switch (family) {
  case Trell:
    return trell;
  case Brask:
    return brask;
  case Vesk:
    return vesk;
  case Quolm:
    return quolm;
  }
  ORV_FAIL("mgproc");
}

const ProcessorRow &row(ProcessorId id) {
  if (id < 1 || id > lastProcessorId)
    ORV_FAIL("mgproc");
  return processorTable[id - 1];
}

const FamilyGeometry &geometry(ProcessorId id) {
  return familyGeometry(row(id).cFamily);
}

char foldCase(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool equalFolded(const char *a, const char *b) {
  for (; *a && *b; ++a, ++b)
    if (foldCase(*a) != foldCase(*b))
      return false;
  return *a == *b;
}

// Index into processorTable, or -1.
int findCode(uint16_t deviceCode) {
  for (int i = 0; i < lastProcessorId; ++i)
    if (processorTable[i].cCode == deviceCode)
      return i;
  return -1;
}

} // namespace

ProcessorFamily procFamily(ProcessorId id) { return row(id).cFamily; }

const char *procName(ProcessorId id) { return row(id).cName; }

uint16_t procCode(ProcessorId id) { return row(id).cCode; }

ProcessorId procFromCode(uint16_t deviceCode) {
  int index = findCode(deviceCode);
  if (index < 0)
    ORV_FAIL("mgproc");
  return ProcessorId(index + 1);
}

bool isKnownProcCode(uint16_t deviceCode) { return findCode(deviceCode) >= 0; }

bool procFromName(const char *name, ProcessorId *id) {
  ORV_ASSERT(id != nullptr, "mgproc");
  if (name == nullptr)
    return false;
  for (int i = 0; i < lastProcessorId; ++i) {
    if (equalFolded(name, processorTable[i].cName)) {
      *id = ProcessorId(i + 1);
      return true;
    }
  }
  return false;
}

uint32_t bankOf(ProcessorId id, uint32_t dataAddr) {
  return dataAddr >> geometry(id).cBankShift;
}

uint32_t bankOffset(ProcessorId id, uint32_t dataAddr) {
  return dataAddr & geometry(id).cBankOffsetMask;
}

bool isGpr(ProcessorId id, uint32_t dataAddr) {
  const ProcessorRow &r = row(id);
  if (r.cFamily == Quolm)
    return true;
  return bankOffset(id, dataAddr) >= r.cFirstGpr;
}

uint32_t addrUnitBits(ProcessorId id) { return geometry(id).cAddrUnitBits; }

uint32_t dataWidthBits(ProcessorId id) {
  row(id);
  return 8;
}

uint32_t progPageCount(ProcessorId id) { return row(id).cPageCount; }

uint32_t progMemSize(ProcessorId id) { return row(id).cProgMemSize; }

uint32_t pageSize(ProcessorId id) { return geometry(id).cPageSize; }

uint32_t dataBankCount(ProcessorId id) { return row(id).cBankCount; }

uint32_t dataMemSize(ProcessorId id) { return row(id).cDataMemSize; }

uint32_t bankSize(ProcessorId id) { return geometry(id).cBankSize; }

uint32_t progAddrMask(ProcessorId id) { return geometry(id).cProgAddrMask; }

uint32_t dataAddrMask(ProcessorId id) { return geometry(id).cDataAddrMask; }
