// pelmat: linked COFF file to Intel HEX.
#include "HexCommandLine.h"
#include "Messages.h"

int main(int argc, char **argv) {
  initProgramStreams();
  return hexConverterMain(argc, argv);
}
