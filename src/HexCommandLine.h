// The command line of the HEX converter pelmat.
#pragma once

// Runs the whole program and gives its exit code.
int hexConverterMain(int argc, char **argv);
