// Helpers shared by the object-file tests: reading images from memory and
// catching the messages they produce.
#pragma once

#include "Coff.h"

#include <memory>
#include <string>

// Reads an image held in memory through Coff::make's stream form.
std::unique_ptr<Coff> makeFromBytes(const std::string &bytes,
                                    const std::string &name = "t.o",
                                    long byteOffset = 0);

// The bytes Coff::write writes for the object as it stands.
std::string writtenBytes(const Coff &coff);

// Runs f and returns what it printed on standard error.
template <class F> std::string capturedErrors(F f);

// A small object of the old layout: no optional header, one ".code"
// section with 6-byte line entries (function 7, then lineCount lines) and
// a 10-byte relocation, two file symbols whose names (at most 18
// characters) sit inside their aux entries and a symbol with the long
// name "a_long_symbol".
std::string oldLayoutObject(std::uint16_t lineCount = 2,
                            const std::string &firstFile = "abcde",
                            const std::string &secondFile = "fghij");

// A current-layout image with NUL bytes of padding after its strings,
// counted in the string table's length (as other tools write them).
std::string withPaddedStringTable(std::string image, std::size_t padBytes);

// Little-endian patching of an image in place.
void patch16(std::string &bytes, std::size_t at, std::uint16_t value);
void patch32(std::string &bytes, std::size_t at, std::uint32_t value);
std::uint32_t peek32(const std::string &bytes, std::size_t at);
std::uint16_t peek16(const std::string &bytes, std::size_t at);

#include <gtest/gtest.h>

template <class F> std::string capturedErrors(F f) {
  testing::internal::CaptureStderr();
  f();
  return testing::internal::GetCapturedStderr();
}
