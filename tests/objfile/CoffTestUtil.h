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
// section with 6-byte line entries and a 10-byte relocation, two file
// symbols whose names sit inside their aux entries ("abcde", "fghij") and
// a symbol with the long name "a_long_symbol".
std::string oldLayoutObject();

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
