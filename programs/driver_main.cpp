// orvane: runs the linker, the COD converter and the HEX converter in turn.
#include "Driver.h"
#include "Messages.h"
#include "SafeFile.h"

int main(int argc, char **argv) {
  initProgramStreams();
  removeTemporariesOnSignals();
  return driverMain(argc, argv);
}
