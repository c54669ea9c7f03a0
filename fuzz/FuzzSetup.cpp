#include "FuzzSetup.h"

#include "CoffBuilder.h"
#include "InputRunner.h"
#include "SeedObjects.h"

const char *const kFixedCommandFile =
    "// The fuzz targets' memory: two pages, two banks, a shared bank\n"
    "LIBPATH .\n"
    "CODEPAGE NAME=page0 START=0x0 END=0x7FF\n"
    "CODEPAGE NAME=page1 START=0x800 END=0xFFF\n"
    "CODEPAGE NAME=.idlocs START=0x2000 END=0x2003 PROTECTED\n"
    "CODEPAGE NAME=.config START=0x2007 END=0x2007 PROTECTED\n"
    "DATABANK NAME=gpr0 START=0x20 END=0x6F\n"
    "DATABANK NAME=gpr1 START=0xA0 END=0xEF\n"
    "SHAREBANK NAME=gprnobnk START=0x70 END=0x7F\n"
    "SHAREBANK NAME=gprnobnk START=0xF0 END=0xFF\n"
    "SECTION NAME=STARTUP ROM=page0\n"
    "SECTION NAME=shared RAM=gprnobnk\n"
    "STACK SIZE=0x10 RAM=gpr1\n";

void writeFixedInputs() {
  static const bool written = [] {
    writeWorkFile("fixed.lkr", kFixedCommandFile);
    writeWorkFile("main.o", seedMainObject());
    writeWorkFile("code.o", seedObjects().front().second);
    return true;
  }();
  (void)written;
}
