// Whole-file reads. The readers parse from memory: one read per file costs
// far less than a seek and a read per record.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

// Reads everything from byteOffset to the end of an open stream into out.
// False when the stream cannot be positioned or read; out is then empty.
bool readFileBytes(std::FILE *file, long byteOffset,
                   std::vector<std::uint8_t> &out);
