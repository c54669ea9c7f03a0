// The supported processors and their memory geometry.
//
// Offers one free function per property of a processor: family, name, device
// code, program and data memory sizes, page and bank geometry, word widths,
// address masks and where general-purpose registers start in a bank. Every
// query is keyed by a ProcessorId (the row of the processor table); the device
// code is the only identity stored in object files, so readers turn it into an
// id with procFromCode after testing it with isKnownProcCode.
//
// An id outside 1..lastProcessorId, or procFromCode with an unknown code, is
// an internal error and stops the program with an assertion naming "mgproc".
#pragma once

#include <cstdint>

using ProcessorId = uint8_t;
using ProcessorFamily = uint8_t;

constexpr ProcessorFamily Trell = 1; // 14-bit words, word-addressed
constexpr ProcessorFamily Brask = 2; // older 16-bit words, word-addressed
constexpr ProcessorFamily Vesk = 3;  // 12-bit words, word-addressed
constexpr ProcessorFamily Quolm = 4; // 16-bit words, byte-addressed

// Ids run contiguously from 1 to this value.
constexpr ProcessorId lastProcessorId = 158;

ProcessorFamily procFamily(ProcessorId id);
// Constant text owned by the module.
const char *procName(ProcessorId id);
uint16_t procCode(ProcessorId id);

// Device-code lookups compare the low 16 bits only.
ProcessorId procFromCode(uint16_t deviceCode);
bool isKnownProcCode(uint16_t deviceCode);

// Case-insensitive (ASCII) name lookup; *id is untouched when nothing matches.
bool procFromName(const char *name, ProcessorId *id);

// Bank number of a data address; the address is deliberately not masked with
// dataAddrMask first, so addresses beyond the data space give high banks.
uint32_t bankOf(ProcessorId id, uint32_t dataAddr);
uint32_t bankOffset(ProcessorId id, uint32_t dataAddr);
// Whether the address's offset in its bank lies at or above the first
// general-purpose register; every address of a Quolm processor counts.
bool isGpr(ProcessorId id, uint32_t dataAddr);

// Bits per program-memory address unit: 14, 16, 12 or 8.
uint32_t addrUnitBits(ProcessorId id);
uint32_t dataWidthBits(ProcessorId id);

// Program memory sizes count address units (words, bytes for Quolm); data
// memory sizes count bytes.
uint32_t progPageCount(ProcessorId id);
uint32_t progMemSize(ProcessorId id);
uint32_t pageSize(ProcessorId id);
uint32_t dataBankCount(ProcessorId id);
uint32_t dataMemSize(ProcessorId id);
uint32_t bankSize(ProcessorId id);
uint32_t progAddrMask(ProcessorId id);
uint32_t dataAddrMask(ProcessorId id);
