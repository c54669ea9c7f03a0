// The instruction patterns of the four families, transcribed as text; the
// masks and operand fields are derived from the text at compile time.
#include "mginst/InstructionPatterns.h"

#include "Assert.h"

#include <array>

namespace {

// clang-format off
// Trell: 14-bit words; operand letters in operand order.
constexpr InstructionPattern trellRows[] = {
    makePattern(Mnem::ADDLW, "11 111x AAAA AAAA"), // k
    makePattern(Mnem::ADDWF, "00 0111 BAAA AAAA"), // f, d
    makePattern(Mnem::ANDLW, "11 1001 AAAA AAAA"), // k
    makePattern(Mnem::ANDWF, "00 0101 BAAA AAAA"), // f, d
    makePattern(Mnem::BCF, "01 00BB BAAA AAAA"), // f, b
    makePattern(Mnem::BSF, "01 01BB BAAA AAAA"), // f, b
    makePattern(Mnem::BTFSC, "01 10BB BAAA AAAA"), // f, b
    makePattern(Mnem::BTFSS, "01 11BB BAAA AAAA"), // f, b
    makePattern(Mnem::CALL, "10 0AAA AAAA AAAA"), // address
    makePattern(Mnem::CLRF, "00 0001 1AAA AAAA"), // f
    makePattern(Mnem::CLRW, "00 0001 0xxx xxxx"), // -
    makePattern(Mnem::CLRWDT, "00 0000 0110 0100"), // -
    makePattern(Mnem::COMF, "00 1001 BAAA AAAA"), // f, d
    makePattern(Mnem::DECF, "00 0011 BAAA AAAA"), // f, d
    makePattern(Mnem::DECFSZ, "00 1011 BAAA AAAA"), // f, d
    makePattern(Mnem::GOTO, "10 1AAA AAAA AAAA"), // address
    makePattern(Mnem::INCF, "00 1010 BAAA AAAA"), // f, d
    makePattern(Mnem::INCFSZ, "00 1111 BAAA AAAA"), // f, d
    makePattern(Mnem::IORLW, "11 1000 AAAA AAAA"), // k
    makePattern(Mnem::IORWF, "00 0100 BAAA AAAA"), // f, d
    makePattern(Mnem::MOVF, "00 1000 BAAA AAAA"), // f, d
    makePattern(Mnem::MOVLW, "11 00xx AAAA AAAA"), // k
    makePattern(Mnem::MOVWF, "00 0000 1AAA AAAA"), // f
    makePattern(Mnem::NOP, "00 0000 0xx0 0000"), // -
    makePattern(Mnem::OPTION, "00 0000 0110 0010"), // -
    makePattern(Mnem::RETFIE, "00 0000 0000 1001"), // -
    makePattern(Mnem::RETLW, "11 01xx AAAA AAAA"), // k
    makePattern(Mnem::RETURN, "00 0000 0000 1000"), // -
    makePattern(Mnem::RLF, "00 1101 BAAA AAAA"), // f, d
    makePattern(Mnem::RRF, "00 1100 BAAA AAAA"), // f, d
    makePattern(Mnem::SLEEP, "00 0000 0110 0011"), // -
    makePattern(Mnem::SUBLW, "11 110x AAAA AAAA"), // k
    makePattern(Mnem::SUBWF, "00 0010 BAAA AAAA"), // f, d
    makePattern(Mnem::SWAPF, "00 1110 BAAA AAAA"), // f, d
    makePattern(Mnem::TRIS, "00 0000 0110 0AAA"), // port
    makePattern(Mnem::XORLW, "11 1010 AAAA AAAA"), // k
    makePattern(Mnem::XORWF, "00 0110 BAAA AAAA"), // f, d
};

// Brask: 16-bit words; operand letters in operand order.
constexpr InstructionPattern braskRows[] = {
    makePattern(Mnem::ADDLW, "1011 0001 AAAA AAAA"), // k
    makePattern(Mnem::ADDWF, "0000 111B AAAA AAAA"), // f, d
    makePattern(Mnem::ADDWFC, "0001 000B AAAA AAAA"), // f, d
    makePattern(Mnem::ANDLW, "1011 0101 AAAA AAAA"), // k
    makePattern(Mnem::ANDWF, "0000 101B AAAA AAAA"), // f, d
    makePattern(Mnem::BCF, "1000 1BBB AAAA AAAA"), // f, b
    makePattern(Mnem::BSF, "1000 0BBB AAAA AAAA"), // f, b
    makePattern(Mnem::BTFSC, "1001 1BBB AAAA AAAA"), // f, b
    makePattern(Mnem::BTFSS, "1001 0BBB AAAA AAAA"), // f, b
    makePattern(Mnem::BTG, "0011 1BBB AAAA AAAA"), // f, b
    makePattern(Mnem::CALL, "111A AAAA AAAA AAAA"), // address
    makePattern(Mnem::CLRF, "0010 100B AAAA AAAA"), // f, d
    makePattern(Mnem::CLRWDT, "0000 0000 0000 0100"), // -
    makePattern(Mnem::COMF, "0001 001B AAAA AAAA"), // f, d
    makePattern(Mnem::CPFSEQ, "0011 0001 AAAA AAAA"), // f
    makePattern(Mnem::CPFSGT, "0011 0010 AAAA AAAA"), // f
    makePattern(Mnem::CPFSLT, "0011 0000 AAAA AAAA"), // f
    makePattern(Mnem::DAW, "0010 111B AAAA AAAA"), // f, d
    makePattern(Mnem::DCFSNZ, "0010 011B AAAA AAAA"), // f, d
    makePattern(Mnem::DECF, "0000 011B AAAA AAAA"), // f, d
    makePattern(Mnem::DECFSZ, "0001 011B AAAA AAAA"), // f, d
    makePattern(Mnem::GOTO, "110A AAAA AAAA AAAA"), // address
    makePattern(Mnem::INCF, "0001 010B AAAA AAAA"), // f, d
    makePattern(Mnem::INCFSZ, "0001 111B AAAA AAAA"), // f, d
    makePattern(Mnem::INFSNZ, "0010 010B AAAA AAAA"), // f, d
    makePattern(Mnem::IORLW, "1011 0011 AAAA AAAA"), // k
    makePattern(Mnem::IORWF, "0000 100B AAAA AAAA"), // f, d
    makePattern(Mnem::LCALL, "1011 0111 AAAA AAAA"), // k
    makePattern(Mnem::LOG, "0000 0000 0000 1000"), // -
    makePattern(Mnem::MOVFP, "011B BBBB AAAA AAAA"), // f, p
    makePattern(Mnem::MOVLB, "1011 1000 xxxx AAAA"), // k (bank)
    makePattern(Mnem::MOVLR, "1011 101x AAAA xxxx"), // k (bank)
    makePattern(Mnem::MOVLW, "1011 0000 AAAA AAAA"), // k
    makePattern(Mnem::MOVPF, "010A AAAA BBBB BBBB"), // p, f
    makePattern(Mnem::MOVWF, "0000 0001 AAAA AAAA"), // f
    makePattern(Mnem::MULLW, "1011 1100 AAAA AAAA"), // k
    makePattern(Mnem::MULWF, "0011 0100 AAAA AAAA"), // f
    makePattern(Mnem::NEGW, "0010 110B AAAA AAAA"), // f, d
    makePattern(Mnem::NOP, "0000 0000 0000 0000"), // -
    makePattern(Mnem::PAUSE, "0000 0000 0000 1110"), // -
    makePattern(Mnem::RETFIE, "0000 0000 0000 0101"), // -
    makePattern(Mnem::RETLW, "1011 0110 AAAA AAAA"), // k
    makePattern(Mnem::RETURN, "0000 0000 0000 0010"), // -
    makePattern(Mnem::RLCF, "0001 101B AAAA AAAA"), // f, d
    makePattern(Mnem::RLNCF, "0010 001B AAAA AAAA"), // f, d
    makePattern(Mnem::RRCF, "0001 100B AAAA AAAA"), // f, d
    makePattern(Mnem::RRNCF, "0010 000B AAAA AAAA"), // f, d
    makePattern(Mnem::SETF, "0010 101B AAAA AAAA"), // f, d
    makePattern(Mnem::SLEEP, "0000 0000 0000 0011"), // -
    makePattern(Mnem::STOP, "0000 0000 0000 0001"), // -
    makePattern(Mnem::SUBLW, "1011 0010 AAAA AAAA"), // k
    makePattern(Mnem::SUBWF, "0000 010B AAAA AAAA"), // f, d
    makePattern(Mnem::SUBWFB, "0000 001B AAAA AAAA"), // f, d
    makePattern(Mnem::SWAPF, "0001 110B AAAA AAAA"), // f, d
    makePattern(Mnem::TABLRD, "1010 10AB EEEE EEEE"), // t, i, f
    makePattern(Mnem::TABLWT, "1010 11AB EEEE EEEE"), // t, i, f
    makePattern(Mnem::TLRD, "1010 00Ax BBBB BBBB"), // t, f
    makePattern(Mnem::TLWT, "1010 01Ax BBBB BBBB"), // t, f
    makePattern(Mnem::TSTFSZ, "0011 0011 AAAA AAAA"), // f
    makePattern(Mnem::XORLW, "1011 0100 AAAA AAAA"), // k
    makePattern(Mnem::XORWF, "0000 110B AAAA AAAA"), // f, d
};

// Vesk: 12-bit words; operand letters in operand order.
constexpr InstructionPattern veskRows[] = {
    makePattern(Mnem::ADDWF, "0001 11BA AAAA"), // f, d
    makePattern(Mnem::ANDLW, "1110 AAAA AAAA"), // k
    makePattern(Mnem::ANDWF, "0001 01BA AAAA"), // f, d
    makePattern(Mnem::BCF, "0100 BBBA AAAA"), // f, b
    makePattern(Mnem::BSF, "0101 BBBA AAAA"), // f, b
    makePattern(Mnem::BTFSC, "0110 BBBA AAAA"), // f, b
    makePattern(Mnem::BTFSS, "0111 BBBA AAAA"), // f, b
    makePattern(Mnem::CALL, "1001 AAAA AAAA"), // address
    makePattern(Mnem::CLRF, "0000 011A AAAA"), // f
    makePattern(Mnem::CLRW, "0000 0100 0000"), // -
    makePattern(Mnem::CLRWDT, "0000 0000 0100"), // -
    makePattern(Mnem::COMF, "0010 01BA AAAA"), // f, d
    makePattern(Mnem::DECF, "0000 11BA AAAA"), // f, d
    makePattern(Mnem::DECFSZ, "0010 11BA AAAA"), // f, d
    makePattern(Mnem::GOTO, "101A AAAA AAAA"), // address
    makePattern(Mnem::INCF, "0010 10BA AAAA"), // f, d
    makePattern(Mnem::INCFSZ, "0011 11BA AAAA"), // f, d
    makePattern(Mnem::IORLW, "1101 AAAA AAAA"), // k
    makePattern(Mnem::IORWF, "0001 00BA AAAA"), // f, d
    makePattern(Mnem::MOVF, "0010 00BA AAAA"), // f, d
    makePattern(Mnem::MOVLW, "1100 AAAA AAAA"), // k
    makePattern(Mnem::MOVWF, "0000 001A AAAA"), // f
    makePattern(Mnem::NOP, "0000 0000 0000"), // -
    makePattern(Mnem::OPTION, "0000 0000 0010"), // -
    makePattern(Mnem::RETLW, "1000 AAAA AAAA"), // k
    makePattern(Mnem::RLF, "0011 01BA AAAA"), // f, d
    makePattern(Mnem::RRF, "0011 00BA AAAA"), // f, d
    makePattern(Mnem::SLEEP, "0000 0000 0011"), // -
    makePattern(Mnem::SUBWF, "0000 10BA AAAA"), // f, d
    makePattern(Mnem::SWAPF, "0011 10BA AAAA"), // f, d
    makePattern(Mnem::TRIS, "0000 0000 0AAA"), // port
    makePattern(Mnem::XORLW, "1111 AAAA AAAA"), // k
    makePattern(Mnem::XORWF, "0001 10BA AAAA"), // f, d
};

// Quolm: 16-bit words; operand letters in operand order.
constexpr InstructionPattern quolmRows[] = {
    makePattern(Mnem::ADDLW, "0000 1111 AAAA AAAA"), // k
    makePattern(Mnem::ADDWF, "0010 01BE AAAA AAAA"), // f, d, a
    makePattern(Mnem::ADDWFC, "0010 00BE AAAA AAAA"), // f, d, a
    makePattern(Mnem::ANDLW, "0000 1011 AAAA AAAA"), // k
    makePattern(Mnem::ANDWF, "0001 01BE AAAA AAAA"), // f, d, a
    makePattern(Mnem::BC, "1110 0010 AAAA AAAA"), // n (8 bits)
    makePattern(Mnem::BCF, "1001 BBBE AAAA AAAA"), // f, b, a
    makePattern(Mnem::BN, "1110 0110 AAAA AAAA"), // n (8 bits)
    makePattern(Mnem::BNC, "1110 0011 AAAA AAAA"), // n (8 bits)
    makePattern(Mnem::BNN, "1110 0111 AAAA AAAA"), // n (8 bits)
    makePattern(Mnem::BNOV, "1110 0101 AAAA AAAA"), // n (8 bits)
    makePattern(Mnem::BNZ, "1110 0001 AAAA AAAA"), // n (8 bits)
    makePattern(Mnem::BOV, "1110 0100 AAAA AAAA"), // n (8 bits)
    makePattern(Mnem::BRA, "1101 0AAA AAAA AAAA"), // n (11 bits)
    makePattern(Mnem::BSF, "1000 BBBE AAAA AAAA"), // f, b, a
    makePattern(Mnem::BTFSC, "1011 BBBE AAAA AAAA"), // f, b, a
    makePattern(Mnem::BTFSS, "1010 BBBE AAAA AAAA"), // f, b, a
    makePattern(Mnem::BTG, "0111 BBBE AAAA AAAA"), // f, b, a
    makePattern(Mnem::BZ, "1110 0000 AAAA AAAA"), // n (8 bits)
    makePattern(Mnem::CALL, "1110 110B AAAA AAAA"), // address (low 8 bits), s
    makePattern(Mnem::CLRF, "0110 101B AAAA AAAA"), // f, a
    makePattern(Mnem::CLRWDT, "0000 0000 0000 0100"), // -
    makePattern(Mnem::COMF, "0001 11BE AAAA AAAA"), // f, d, a
    makePattern(Mnem::CPFSEQ, "0110 001B AAAA AAAA"), // f, a
    makePattern(Mnem::CPFSGT, "0110 010B AAAA AAAA"), // f, a
    makePattern(Mnem::CPFSLT, "0110 000B AAAA AAAA"), // f, a
    makePattern(Mnem::DAW, "0000 0000 0000 0111"), // -
    makePattern(Mnem::DCFSNZ, "0100 11BE AAAA AAAA"), // f, d, a
    makePattern(Mnem::DECF, "0000 01BE AAAA AAAA"), // f, d, a
    makePattern(Mnem::DECFSZ, "0010 11BE AAAA AAAA"), // f, d, a
    makePattern(Mnem::GOTO, "1110 1111 AAAA AAAA"), // address (low 8 bits)
    makePattern(Mnem::HALT, "0000 0000 0000 0001"), // -
    makePattern(Mnem::INCF, "0010 10BE AAAA AAAA"), // f, d, a
    makePattern(Mnem::INCFSZ, "0011 11BE AAAA AAAA"), // f, d, a
    makePattern(Mnem::INFSNZ, "0100 10BE AAAA AAAA"), // f, d, a
    makePattern(Mnem::IORLW, "0000 1001 AAAA AAAA"), // k
    makePattern(Mnem::IORWF, "0001 00BE AAAA AAAA"), // f, d, a
    makePattern(Mnem::LFSR, "1110 1110 00AA BBBB"), // FSR, k (high 4 bits)
    makePattern(Mnem::LOG, "0000 0000 0010 0001"), // -
    makePattern(Mnem::MOVF, "0101 00BE AAAA AAAA"), // f, d, a
    makePattern(Mnem::MOVFF, "1100 AAAA AAAA AAAA"), // source f (12 bits)
    makePattern(Mnem::MOVLB, "0000 0001 AAAA AAAA"), // k
    makePattern(Mnem::MOVLW, "0000 1110 AAAA AAAA"), // k
    makePattern(Mnem::MOVWF, "0110 111B AAAA AAAA"), // f, a
    makePattern(Mnem::MULLW, "0000 1101 AAAA AAAA"), // k
    makePattern(Mnem::MULWF, "0000 001B AAAA AAAA"), // f, a
    makePattern(Mnem::NEGF, "0110 110B AAAA AAAA"), // f, a
    makePattern(Mnem::NOP, "0000 0000 0000 0000"), // -
    makePattern(Mnem::PAUSE, "0000 0000 0010 0010"), // -
    makePattern(Mnem::POP, "0000 0000 0000 0110"), // -
    makePattern(Mnem::PUSH, "0000 0000 0000 0101"), // -
    makePattern(Mnem::RCALL, "1101 1AAA AAAA AAAA"), // n (11 bits)
    makePattern(Mnem::RESET, "0000 0000 1111 1111"), // -
    makePattern(Mnem::RETFIE, "0000 0000 0001 000A"), // s
    makePattern(Mnem::RETLW, "0000 1100 AAAA AAAA"), // k
    makePattern(Mnem::RETURN, "0000 0000 0001 001A"), // s
    makePattern(Mnem::RLCF, "0011 01BE AAAA AAAA"), // f, d, a
    makePattern(Mnem::RLNCF, "0100 01BE AAAA AAAA"), // f, d, a
    makePattern(Mnem::RRCF, "0011 00BE AAAA AAAA"), // f, d, a
    makePattern(Mnem::RRNCF, "0100 00BE AAAA AAAA"), // f, d, a
    makePattern(Mnem::SETF, "0110 100B AAAA AAAA"), // f, a
    makePattern(Mnem::SLEEP, "0000 0000 0000 0011"), // -
    makePattern(Mnem::STOP, "0000 0000 0010 0000"), // -
    makePattern(Mnem::SUBFWB, "0101 01BE AAAA AAAA"), // f, d, a
    makePattern(Mnem::SUBLW, "0000 1000 AAAA AAAA"), // k
    makePattern(Mnem::SUBWF, "0101 11BE AAAA AAAA"), // f, d, a
    makePattern(Mnem::SUBWFB, "0101 10BE AAAA AAAA"), // f, d, a
    makePattern(Mnem::SWAPF, "0011 10BE AAAA AAAA"), // f, d, a
    makePattern(Mnem::TBLRD, "0000 0000 0000 1000"), // -
    makePattern(Mnem::TBLRDPOSTDEC, "0000 0000 0000 1010"), // -
    makePattern(Mnem::TBLRDPOSTINC, "0000 0000 0000 1001"), // -
    makePattern(Mnem::TBLRDPREINC, "0000 0000 0000 1011"), // -
    makePattern(Mnem::TBLWT, "0000 0000 0000 1100"), // -
    makePattern(Mnem::TBLWTPOSTDEC, "0000 0000 0000 1110"), // -
    makePattern(Mnem::TBLWTPOSTINC, "0000 0000 0000 1101"), // -
    makePattern(Mnem::TBLWTPREINC, "0000 0000 0000 1111"), // -
    makePattern(Mnem::TRAP, "0000 0000 1110 0000"), // -
    makePattern(Mnem::TRET, "0000 0000 1110 0001"), // -
    makePattern(Mnem::TSTFSZ, "0110 011B AAAA AAAA"), // f, a
    makePattern(Mnem::WORD2, "1111 AAAA AAAA AAAA"), // continuation field
    makePattern(Mnem::XORLW, "0000 1010 AAAA AAAA"), // k
    makePattern(Mnem::XORWF, "0001 10BE AAAA AAAA"), // f, d, a
};

// clang-format on

template <size_t N>
constexpr bool rowsWellFormed(const InstructionPattern (&rows)[N],
                              int widthBits) {
  bool seen[Mnem::PAGESEL + 1] = {};
  for (size_t i = 0; i < N; ++i) {
    const InstructionPattern &p = rows[i];
    if (!p.cWellFormed || p.cWidthBits != widthBits)
      return false;
    if (p.cCode == Mnem::NONE || p.cCode >= Mnem::BANKSEL || seen[p.cCode])
      return false;
    seen[p.cCode] = true;
  }
  return true;
}

template <size_t N>
constexpr std::array<int8_t, Mnem::PAGESEL + 1>
indexByCode(const InstructionPattern (&rows)[N]) {
  std::array<int8_t, Mnem::PAGESEL + 1> index{};
  for (size_t code = 0; code < index.size(); ++code)
    index[code] = -1;
  for (size_t i = 0; i < N; ++i)
    index[rows[i].cCode] = int8_t(i);
  return index;
}

static_assert(rowsWellFormed(trellRows, 14), "Trell pattern table");
static_assert(rowsWellFormed(braskRows, 16), "Brask pattern table");
static_assert(rowsWellFormed(veskRows, 12), "Vesk pattern table");
static_assert(rowsWellFormed(quolmRows, 16), "Quolm pattern table");

constexpr auto trellIndex = indexByCode(trellRows);
constexpr auto braskIndex = indexByCode(braskRows);
constexpr auto veskIndex = indexByCode(veskRows);
constexpr auto quolmIndex = indexByCode(quolmRows);

// TRIS's pattern covers NOP, OPTION, SLEEP and CLRWDT words, which must win:
// decoding takes the first match, so TRIS has to come after them.
template <size_t N>
constexpr bool trisComesLast(const std::array<int8_t, N> &index) {
  for (MnemonicCode code : {Mnem::NOP, Mnem::OPTION, Mnem::SLEEP, Mnem::CLRWDT})
    if (index[code] > index[Mnem::TRIS])
      return false;
  return true;
}
static_assert(trisComesLast(trellIndex), "Trell decoding order");
static_assert(trisComesLast(veskIndex), "Vesk decoding order");

template <size_t N>
constexpr FamilyPatterns
familyOf(const InstructionPattern (&rows)[N],
         const std::array<int8_t, Mnem::PAGESEL + 1> &index) {
  return FamilyPatterns{rows, N, index.data()};
}

constexpr FamilyPatterns trellFamily = familyOf(trellRows, trellIndex);
constexpr FamilyPatterns braskFamily = familyOf(braskRows, braskIndex);
constexpr FamilyPatterns veskFamily = familyOf(veskRows, veskIndex);
constexpr FamilyPatterns quolmFamily = familyOf(quolmRows, quolmIndex);

} // namespace

const FamilyPatterns &familyPatterns(ProcessorFamily family) {
  switch (family) {
  case Trell:
    return trellFamily;
  case Brask:
    return braskFamily;
  case Vesk:
    return veskFamily;
  case Quolm:
    return quolmFamily;
  }
  ORV_FAIL("mginst");
}

const InstructionPattern *matchPattern(const FamilyPatterns &family,
                                       uint16_t word) {
  for (size_t i = 0; i < family.cCount; ++i) {
    const InstructionPattern &p = family.cRows[i];
    if ((word & p.cMask) == p.cValue)
      return &p;
  }
  return nullptr;
}

const InstructionPattern *findPattern(const FamilyPatterns &family,
                                      MnemonicCode code) {
  if (code > Mnem::PAGESEL || family.cIndexByCode[code] < 0)
    return nullptr;
  return &family.cRows[family.cIndexByCode[code]];
}

const InstructionPattern &patternOf(const FamilyPatterns &family,
                                    MnemonicCode code) {
  const InstructionPattern *p = findPattern(family, code);
  if (p == nullptr)
    ORV_FAIL("mginst");
  return *p;
}

const InstructionPattern &decodedPattern(const FamilyPatterns &family,
                                         uint16_t word) {
  const InstructionPattern *p = matchPattern(family, word);
  if (p == nullptr)
    ORV_FAIL("mginst");
  return *p;
}
