// Objects and libraries built with the test object builder: the seeds of
// the fuzz corpora and the fixed inputs of the fuzz targets.
#pragma once

#include <string>
#include <utility>
#include <vector>

// The processor every seed is built for (four pages, four banks).
constexpr unsigned kSeedDeviceCode = 0x1055;

// Named object files covering every section kind, relocations, line
// numbers, auxiliary entries and long names.
std::vector<std::pair<std::string, std::string>> seedObjects();

// The object the library targets link: it calls the library members.
std::string seedMainObject();

// Named libraries of seed objects, one of them empty.
std::vector<std::pair<std::string, std::string>> seedLibraries();
