// The one place where byte order is decided. Every file record is read and
// written field by field through these helpers, never by copying a struct,
// so host padding and host byte order never reach a file.
//
//   readLE16/32/64, writeLE16/32/64   little-endian fields (COFF, archives)
//   readBE16/32/64, writeBE16/32/64   big-endian fields
//   appendLE16/32, appendBE16/32      the same, added to the end of a string
//
// Pointers name the field's first byte; the caller guarantees the bytes
// exist.
#pragma once

#include <cstdint>
#include <string>

inline std::uint8_t readU8(const std::uint8_t *p) { return p[0]; }
inline void writeU8(std::uint8_t *p, std::uint8_t value) { p[0] = value; }

inline std::uint16_t readLE16(const std::uint8_t *p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t readLE32(const std::uint8_t *p) {
  return static_cast<std::uint32_t>(p[0]) |
         (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) |
         (static_cast<std::uint32_t>(p[3]) << 24);
}

inline std::uint64_t readLE64(const std::uint8_t *p) {
  return static_cast<std::uint64_t>(readLE32(p)) |
         (static_cast<std::uint64_t>(readLE32(p + 4)) << 32);
}

inline void writeLE16(std::uint8_t *p, std::uint16_t value) {
  p[0] = static_cast<std::uint8_t>(value);
  p[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void writeLE32(std::uint8_t *p, std::uint32_t value) {
  p[0] = static_cast<std::uint8_t>(value);
  p[1] = static_cast<std::uint8_t>(value >> 8);
  p[2] = static_cast<std::uint8_t>(value >> 16);
  p[3] = static_cast<std::uint8_t>(value >> 24);
}

inline void writeLE64(std::uint8_t *p, std::uint64_t value) {
  writeLE32(p, static_cast<std::uint32_t>(value));
  writeLE32(p + 4, static_cast<std::uint32_t>(value >> 32));
}

inline std::uint16_t readBE16(const std::uint8_t *p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

inline std::uint32_t readBE32(const std::uint8_t *p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) |
         (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) |
         static_cast<std::uint32_t>(p[3]);
}

inline std::uint64_t readBE64(const std::uint8_t *p) {
  return (static_cast<std::uint64_t>(readBE32(p)) << 32) |
         static_cast<std::uint64_t>(readBE32(p + 4));
}

inline void writeBE16(std::uint8_t *p, std::uint16_t value) {
  p[0] = static_cast<std::uint8_t>(value >> 8);
  p[1] = static_cast<std::uint8_t>(value);
}

inline void writeBE32(std::uint8_t *p, std::uint32_t value) {
  p[0] = static_cast<std::uint8_t>(value >> 24);
  p[1] = static_cast<std::uint8_t>(value >> 16);
  p[2] = static_cast<std::uint8_t>(value >> 8);
  p[3] = static_cast<std::uint8_t>(value);
}

inline void writeBE64(std::uint8_t *p, std::uint64_t value) {
  writeBE32(p, static_cast<std::uint32_t>(value >> 32));
  writeBE32(p + 4, static_cast<std::uint32_t>(value));
}

inline void appendLE16(std::string &out, std::uint16_t value) {
  std::uint8_t bytes[2];
  writeLE16(bytes, value);
  out.append(reinterpret_cast<const char *>(bytes), 2);
}

inline void appendLE32(std::string &out, std::uint32_t value) {
  std::uint8_t bytes[4];
  writeLE32(bytes, value);
  out.append(reinterpret_cast<const char *>(bytes), 4);
}

inline void appendBE16(std::string &out, std::uint16_t value) {
  std::uint8_t bytes[2];
  writeBE16(bytes, value);
  out.append(reinterpret_cast<const char *>(bytes), 2);
}

inline void appendBE32(std::string &out, std::uint32_t value) {
  std::uint8_t bytes[4];
  writeBE32(bytes, value);
  out.append(reinterpret_cast<const char *>(bytes), 4);
}
