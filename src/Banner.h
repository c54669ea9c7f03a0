// The tools' banner lines; all share the version 2.40.00.
#pragma once

#include <string>

const std::string &linkerBanner();
const std::string &librarianBanner();
const std::string &codConverterVersion();
const std::string &codConverterBanner();
const std::string &hexConverterBanner();
const std::string &coffDumpBanner();
const std::string &codDumpBanner();
const std::string &disassemblerBanner();
const std::string &noticeText();
