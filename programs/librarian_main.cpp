// tessil: creates object libraries and lists, deletes, adds or replaces,
// and extracts their members.
#include "ArParser.h"
#include "Archiver.h"
#include "Banner.h"
#include "Messages.h"
#include "SafeFile.h"

#include <iostream>

int main(int argc, char **argv) {
  initProgramStreams();
  removeTemporariesOnSignals();
  Archiver archiver;
  if (hasQuietSwitch(argc, argv))
    setQuiet(1);
  if (!isQuiet())
    std::cout << librarianBanner() << '\n' << noticeText() << '\n' << '\n';
  ArParser parser(argc, argv, archiver);
  printSummaryAndExit(archiver.run() == 0 ? 1 : 0);
}
