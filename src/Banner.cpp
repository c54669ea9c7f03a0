#include "Banner.h"

#define ORV_VERSION "2.40.00"

#define ORV_BANNER(function, text)                                             \
  const std::string &function() {                                              \
    static const std::string line = text;                                      \
    return line;                                                               \
  }

ORV_BANNER(linkerBanner, "ORVANE " ORV_VERSION ", Linker")
ORV_BANNER(librarianBanner, "TESSIL " ORV_VERSION ", Librarian")
ORV_BANNER(codConverterVersion, "CIRROW " ORV_VERSION)
ORV_BANNER(codConverterBanner,
           "CIRROW " ORV_VERSION ", COFF to COD File Converter")
ORV_BANNER(hexConverterBanner,
           "PELMAT " ORV_VERSION ", COFF to HEX File Converter")
ORV_BANNER(coffDumpBanner, "DORRIN " ORV_VERSION ", COFF Dump Utility")
ORV_BANNER(codDumpBanner, "KAVREL " ORV_VERSION ", COD Dump Utility")
ORV_BANNER(disassemblerBanner, "LUTRAY " ORV_VERSION ", COFF Disassembler")
ORV_BANNER(noticeText, "Copyright (c) 2026 The Orvane Toolchain Authors")
