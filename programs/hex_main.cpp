// pelmat: linked COFF file to Intel HEX.
#include "HexCommandLine.h"
#include "Messages.h"
#include "SafeFile.h"

int main(int argc, char **argv) {
  initProgramStreams();
  removeTemporariesOnSignals();
  return hexConverterMain(argc, argv);
}
