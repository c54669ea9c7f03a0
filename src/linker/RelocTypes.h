// Relocation types: the r_type values of a relocation entry. Each processor
// family accepts its own subset; every other value is refused.
#pragma once

#include <cstdint>

constexpr std::uint16_t RELOCT_CALL = 1;
constexpr std::uint16_t RELOCT_GOTO = 2;
constexpr std::uint16_t RELOCT_HIGH = 3;
constexpr std::uint16_t RELOCT_LOW = 4;
constexpr std::uint16_t RELOCT_P = 5;
constexpr std::uint16_t RELOCT_BANKSEL = 6;
constexpr std::uint16_t RELOCT_PAGESEL = 7;
constexpr std::uint16_t RELOCT_ALL = 8;
constexpr std::uint16_t RELOCT_IBANKSEL = 9;
constexpr std::uint16_t RELOCT_F = 10;
constexpr std::uint16_t RELOCT_TRIS = 11;
constexpr std::uint16_t RELOCT_MOVLR = 12;
constexpr std::uint16_t RELOCT_MOVLB = 13;
constexpr std::uint16_t RELOCT_CALL2 = 14;
constexpr std::uint16_t RELOCT_FF1 = 15;
constexpr std::uint16_t RELOCT_FF2 = 16;
constexpr std::uint16_t RELOCT_LFSR1 = 17;
constexpr std::uint16_t RELOCT_LFSR2 = 18;
constexpr std::uint16_t RELOCT_BRA = 19;
constexpr std::uint16_t RELOCT_CONDBRA = 20;
constexpr std::uint16_t RELOCT_UPPER = 21;
constexpr std::uint16_t RELOCT_ACCESS = 22;
constexpr std::uint16_t RELOCT_PAGESEL_WREG = 23;
constexpr std::uint16_t RELOCT_PAGESEL_BITS = 24;
constexpr std::uint16_t RELOCT_SCNSZ_LOW = 25;
constexpr std::uint16_t RELOCT_SCNSZ_HIGH = 26;
constexpr std::uint16_t RELOCT_SCNSZ_UPPER = 27;
constexpr std::uint16_t RELOCT_SCNEND_LOW = 28;
constexpr std::uint16_t RELOCT_SCNEND_HIGH = 29;
constexpr std::uint16_t RELOCT_SCNEND_UPPER = 30;
constexpr std::uint16_t RELOCT_SCNEND_LFSR1 = 31;
constexpr std::uint16_t RELOCT_SCNEND_LFSR2 = 32;
