// orvane: runs the linker, the COD converter and the HEX converter in turn.
#include "Driver.h"
#include "Messages.h"

int main(int argc, char **argv) {
  initProgramStreams();
  return driverMain(argc, argv);
}
