// The driver: one command line runs the linker, then the COD converter,
// then the HEX converter, each only when the one before succeeded.
#pragma once

#include <string>
#include <vector>

class Driver {
public:
  // The arguments after the program name, exactly as the user gave them.
  explicit Driver(std::vector<std::string> args);

  // The linker sees every argument unchanged.
  const std::vector<std::string> &linkerArgs() const { return cArgs; }
  // "/v", "/q", "/d", "/n" page-length, then the output name.
  std::vector<std::string> codConverterArgs() const;
  // "/v", "/q", "/a" format, then the output name.
  std::vector<std::string> hexConverterArgs() const;

  // Runs the children in turn and gives the driver's exit code.
  int run() const;

private:
  void readOptions();
  std::string takeValue(std::size_t &index) const;

  std::vector<std::string> cArgs;
  bool cAFlag = false;
  std::string cAValue; // HEX format name, passed as typed
  bool cDFlag = false;
  bool cNFlag = false;
  std::string cNValue; // listing page length
  std::string cOut = "a.out";
  bool cQFlag = false;
  bool cVFlag = false;
};

// What programs/driver_main.cpp runs.
int driverMain(int argc, char **argv);
