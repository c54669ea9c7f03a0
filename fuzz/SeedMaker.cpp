// Writes the seed corpora of the fuzz targets:
//   fuzz_seeds <corpus dir> <directory of the built programs>
// objects/ and libraries/ come from the test object builder,
// command_files/ from the fixed command file and variants of it, and
// linked/ from linking the seeds with the built linker.
#include "FuzzSetup.h"
#include "SeedObjects.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <sys/stat.h>

namespace {

void writeFile(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  if (!out) {
    std::cerr << "cannot write " << path << '\n';
    std::exit(1);
  }
}

std::string makeDir(const std::string &root, const std::string &name) {
  const std::string dir = root + "/" + name;
  mkdir(dir.c_str(), 0755);
  return dir;
}

void link(const std::string &programs, const std::string &dir,
          const std::string &inputs, const std::string &output) {
  const std::string command = "cd '" + dir + "' && '" + programs +
                              "/_orvane' /q fixed.lkr " + inputs + " /o '" +
                              output + "'";
  if (std::system(command.c_str()) != 0) {
    std::cerr << "link failed: " << command << '\n';
    std::exit(1);
  }
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::cerr << "usage: fuzz_seeds <corpus dir> <program dir>\n";
    return 2;
  }
  const std::string root = argv[1];
  const std::string programs = argv[2];
  mkdir(root.c_str(), 0755);
  const std::string objects = makeDir(root, "objects");
  const std::string libraries = makeDir(root, "libraries");
  const std::string commandFiles = makeDir(root, "command_files");
  const std::string linked = makeDir(root, "linked");
  const std::string work = makeDir(root, "work");

  for (const auto &object : seedObjects()) {
    writeFile(objects + "/" + object.first, object.second);
    writeFile(work + "/" + object.first, object.second);
  }
  writeFile(objects + "/main.o", seedMainObject());
  writeFile(work + "/main.o", seedMainObject());
  for (const auto &library : seedLibraries()) {
    writeFile(libraries + "/" + library.first, library.second);
    writeFile(work + "/" + library.first, library.second);
  }

  const std::string fixed = kFixedCommandFile;
  writeFile(commandFiles + "/fixed.lkr", fixed);
  writeFile(work + "/fixed.lkr", fixed);
  writeFile(commandFiles + "/paths.lkr",
            "LIBPATH .;lib\nLKRPATH .\nFILES code.o\n" + fixed);
  writeFile(commandFiles + "/access.lkr",
            "CODEPAGE NAME=vectors START=0x0 END=0x29 PROTECTED\n"
            "CODEPAGE NAME=page START=0x2A END=0x7FFF\n"
            "ACCESSBANK NAME=accessram START=0x0 END=0x5F\n"
            "DATABANK NAME=gpr0 START=0x60 END=0xFF\n"
            "DATABANK NAME=sfr START=0xF60 END=0xFFF PROTECTED\n"
            "SECTION NAME=CONFIG ROM=vectors\n"
            "STACK SIZE=0x20\n");

  link(programs, work, "code.o", linked + "/code.cof");
  link(programs, work, "data.o", linked + "/data.cof");
  link(programs, work, "main.o two.lib", linked + "/library.cof");
  std::system(("rm -rf '" + work + "'").c_str());
  return 0;
}
