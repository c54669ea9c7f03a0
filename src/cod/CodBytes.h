// Field writers for COD blocks. COD fields are little-endian except the two
// 32-bit values that a debugger reads big-endian; all of them go through
// here so the byte order is decided in one place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace codbytes {

inline void putU8(std::uint8_t *at, std::uint8_t value) { at[0] = value; }

inline void putLE16(std::uint8_t *at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void putBE32(std::uint8_t *at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 24);
  at[1] = static_cast<std::uint8_t>(value >> 16);
  at[2] = static_cast<std::uint8_t>(value >> 8);
  at[3] = static_cast<std::uint8_t>(value);
}

inline void putLE32(std::uint8_t *at, std::uint32_t value) {
  putLE16(at, static_cast<std::uint16_t>(value));
  putLE16(at + 2, static_cast<std::uint16_t>(value >> 16));
}

inline void putChars(std::uint8_t *at, const char *chars, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    at[i] = static_cast<std::uint8_t>(chars[i]);
}

} // namespace codbytes
