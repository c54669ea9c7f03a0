// The constant processor table behind the queries of Processor.h.
#pragma once

#include "mgproc/Processor.h"

struct ProcessorRow {
  const char *cName;
  ProcessorFamily cFamily;
  uint16_t cCode;
  uint32_t cProgMemSize; // address units; 0 without on-chip program memory
  uint32_t cDataMemSize; // bytes
  uint8_t cFirstGpr;     // offset inside a bank; unused for Quolm
  uint8_t cPageCount;    // ceil(cProgMemSize / page size)
  uint8_t cBankCount;    // ceil(cDataMemSize / bank size)
};

// Row i describes ProcessorId i + 1.
extern const ProcessorRow processorTable[lastProcessorId];
