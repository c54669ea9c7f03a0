// Telling object, library and linker command files apart by their names.
// The linker and the librarian share these tests.
#pragma once

#include <string>

// The name part (without directory) is longer than its extension, begins
// with an ASCII letter or digit, and has the extension ".o" (".lib",
// ".lkr"), in any case.
bool isObjectFile(const std::string &path);
bool isLibraryFile(const std::string &path);
bool isCommandFile(const std::string &path);
