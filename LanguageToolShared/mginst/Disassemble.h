// Instruction text for listings, and mnemonic lookup by name.
//
// Offers disassemble (one instruction, or two words for the two-word Quolm
// instructions, as text such as "ADDWF     0x5,0x1") and lookupMnemonic (a
// mnemonic's name, any letter case, to its code), each for a family byte or,
// for disassembly, as a family-specific entry point.
//
// The returned text lives in a buffer per family that the next disassembly
// for that family overwrites. A family outside 1-4, or a first word that is
// no instruction of the family (test it with isValidWord first), stops the
// program with an assertion naming "mginst".
#pragma once

#include "mginst/Mnemonic.h"

// address: where the first word sits (a byte address in Quolm program memory;
// only Quolm branches use it). *wordsUsed is set to 1, or 2 when a two-word
// Quolm instruction took secondWord as its continuation.
const char *disassemble(uint32_t address, uint16_t word, uint16_t secondWord,
                        uint8_t *wordsUsed, ProcessorFamily family);
const char *disassembleTrell(uint32_t address, uint16_t word,
                             uint16_t secondWord, uint8_t *wordsUsed);
const char *disassembleBrask(uint32_t address, uint16_t word,
                             uint16_t secondWord, uint8_t *wordsUsed);
const char *disassembleVesk(uint32_t address, uint16_t word,
                            uint16_t secondWord, uint8_t *wordsUsed);
const char *disassembleQuolm(uint32_t address, uint16_t word,
                             uint16_t secondWord, uint8_t *wordsUsed);

// Compares the whole text (no trimming) with the family's mnemonics, ASCII
// letters folded; on a match stores the code and returns true, otherwise
// leaves *code untouched. BANKSEL and PAGESEL are never found.
bool lookupMnemonic(const char *text, MnemonicCode *code,
                    ProcessorFamily family);
