// The fixed inputs that the whole-program fuzz targets run against.
#pragma once

#include <string>

// A command file for the processor of the seed objects: pages, protected
// pages, banks, shared banks, sections and the stack.
extern const char *const kFixedCommandFile;

// Writes into the work directory, once: the fixed command file
// ("fixed.lkr"), the object that calls the library seeds' members
// ("main.o") and the seed code object ("code.o").
void writeFixedInputs();
