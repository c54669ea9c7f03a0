// Instruction text for listings, and mnemonic lookup by name.
#include "mginst/Disassemble.h"

#include "Assert.h"
#include "mginst/Encode.h"
#include "mginst/InstructionPatterns.h"

#include <cstdio>
#include <cstring>

namespace {

// Per family: the result the caller sees, and scratch space for each piece.
struct TextBuffers {
  char cText[80];
  char cWork[80];
};

TextBuffers &buffersOf(ProcessorFamily family) {
  static TextBuffers buffers[4];
  if (family < Trell || family > Quolm)
    ORV_FAIL("mginst");
  return buffers[family - 1];
}

// Appends the formatted piece, never beyond the buffer.
void append(TextBuffers &b, const char *format, unsigned long value = 0) {
  std::snprintf(b.cWork, sizeof b.cWork, format, value);
  size_t used = std::strlen(b.cText);
  size_t length = std::strlen(b.cWork);
  if (length > sizeof b.cText - 1 - used)
    length = sizeof b.cText - 1 - used;
  std::memcpy(b.cText + used, b.cWork, length);
  b.cText[used + length] = '\0';
}

void startText(TextBuffers &b, MnemonicCode code) {
  std::snprintf(b.cText, sizeof b.cText, "%-10s", mnemonicName(code));
}

// The operand fields in operand order, as the pattern has them.
void appendFields(TextBuffers &b, const InstructionPattern &p, uint16_t word) {
  bool first = true;
  for (unsigned i = 0; i < 3; ++i) {
    if (p.cField[i] == 0)
      continue;
    append(b, first ? "0x%lx" : ",0x%lx", fieldValue(p, i, word));
    first = false;
  }
}

const char *disassembleOneWord(uint16_t word, uint8_t *wordsUsed,
                               ProcessorFamily family) {
  ORV_ASSERT(wordsUsed != nullptr, "mginst");
  TextBuffers &b = buffersOf(family);
  const InstructionPattern &p = decodedPattern(familyPatterns(family), word);
  *wordsUsed = 1;
  startText(b, p.cCode);
  appendFields(b, p, word);
  return b.cText;
}

bool isContinuation(uint16_t word) {
  return isValidWord(word, Quolm) && decodeOpcode(word, Quolm) == Mnem::WORD2;
}

// Branch target: the following instruction plus the signed offset in words,
// in unsigned 32-bit arithmetic so a target below 0 wraps.
uint32_t branchTarget(uint32_t address, uint16_t offset, unsigned offsetBits) {
  uint32_t signBit = 1u << (offsetBits - 1);
  uint32_t extended = (uint32_t(offset) ^ signBit) - signBit;
  return address + 2u + 2u * extended;
}

bool isByteBranch(MnemonicCode code) {
  switch (code) {
  case Mnem::BC:
  case Mnem::BN:
  case Mnem::BNC:
  case Mnem::BNN:
  case Mnem::BNOV:
  case Mnem::BNZ:
  case Mnem::BOV:
  case Mnem::BZ:
    return true;
  default:
    return false;
  }
}

// CALL and GOTO: 20-bit word address, low 8 bits here and high 12 in the
// continuation; shown as a byte address.
void appendCallTarget(TextBuffers &b, uint16_t word, uint16_t secondWord,
                      uint8_t *wordsUsed) {
  if (!isContinuation(secondWord)) {
    append(b, "???");
    return;
  }
  uint32_t wordAddr = (word & 0xFFu) | (uint32_t(secondWord & 0xFFFu) << 8);
  append(b, "0x%lx", 2ul * wordAddr);
  *wordsUsed = 2;
}

void appendSecondWordOperand(TextBuffers &b, uint16_t secondWord,
                             unsigned long value, uint8_t *wordsUsed) {
  if (!isContinuation(secondWord)) {
    append(b, ",???");
    return;
  }
  append(b, ",0x%lx", value);
  *wordsUsed = 2;
}

} // namespace

const char *disassembleTrell(uint32_t, uint16_t word, uint16_t,
                             uint8_t *wordsUsed) {
  return disassembleOneWord(word, wordsUsed, Trell);
}

const char *disassembleBrask(uint32_t, uint16_t word, uint16_t,
                             uint8_t *wordsUsed) {
  return disassembleOneWord(word, wordsUsed, Brask);
}

const char *disassembleVesk(uint32_t, uint16_t word, uint16_t,
                            uint8_t *wordsUsed) {
  return disassembleOneWord(word, wordsUsed, Vesk);
}

const char *disassembleQuolm(uint32_t address, uint16_t word,
                             uint16_t secondWord, uint8_t *wordsUsed) {
  ORV_ASSERT(wordsUsed != nullptr, "mginst");
  TextBuffers &b = buffersOf(Quolm);
  const InstructionPattern &p = decodedPattern(familyPatterns(Quolm), word);
  *wordsUsed = 1;
  startText(b, p.cCode);
  uint16_t op0 = fieldValue(p, 0, word);
  uint16_t op1 = fieldValue(p, 1, word);
  switch (p.cCode) {
  case Mnem::BRA:
  case Mnem::RCALL:
    append(b, "0x%lx", branchTarget(address, op0, 11));
    break;
  case Mnem::CALL:
    appendCallTarget(b, word, secondWord, wordsUsed);
    append(b, ",0x%lx", op1);
    break;
  case Mnem::GOTO:
    appendCallTarget(b, word, secondWord, wordsUsed);
    break;
  case Mnem::LFSR:
    append(b, "0x%lx", op0);
    appendSecondWordOperand(b, secondWord,
                            (unsigned long)op1 * 256u | (secondWord & 0xFFu),
                            wordsUsed);
    break;
  case Mnem::MOVFF:
    append(b, "0x%lx", op0);
    appendSecondWordOperand(b, secondWord, secondWord & 0xFFFu, wordsUsed);
    break;
  default:
    if (isByteBranch(p.cCode))
      append(b, "0x%lx", branchTarget(address, op0, 8));
    else
      appendFields(b, p, word);
  }
  return b.cText;
}

const char *disassemble(uint32_t address, uint16_t word, uint16_t secondWord,
                        uint8_t *wordsUsed, ProcessorFamily family) {
  switch (family) {
  case Trell:
    return disassembleTrell(address, word, secondWord, wordsUsed);
  case Brask:
    return disassembleBrask(address, word, secondWord, wordsUsed);
  case Vesk:
    return disassembleVesk(address, word, secondWord, wordsUsed);
  case Quolm:
    return disassembleQuolm(address, word, secondWord, wordsUsed);
  }
  ORV_FAIL("mginst");
}

namespace {

char foldCase(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool equalFolded(const char *a, const char *b) {
  for (; *a && *b; ++a, ++b)
    if (foldCase(*a) != foldCase(*b))
      return false;
  return *a == *b;
}

} // namespace

bool lookupMnemonic(const char *text, MnemonicCode *code,
                    ProcessorFamily family) {
  ORV_ASSERT(code != nullptr, "mginst");
  const FamilyPatterns &patterns = familyPatterns(family);
  if (text == nullptr)
    return false;
  for (size_t i = 0; i < patterns.cCount; ++i) {
    if (equalFolded(text, mnemonicName(patterns.cRows[i].cCode))) {
      *code = patterns.cRows[i].cCode;
      return true;
    }
  }
  return false;
}
