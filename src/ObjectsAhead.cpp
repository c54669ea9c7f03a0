#include "ObjectsAhead.h"

#include "Messages.h"
#include "ParallelWork.h"

#include <sys/stat.h>

std::vector<std::unique_ptr<Coff>>
readObjectsAhead(const std::vector<std::string> &names, bool verify,
                 const std::vector<char> *regular) {
  std::vector<std::unique_ptr<Coff>> objects(names.size());
  forEachInParallel(names.size(), [&](std::size_t i) {
    struct stat info;
    const bool isRegular =
        regular != nullptr
            ? (*regular)[i] != 0
            : stat(names[i].c_str(), &info) == 0 && S_ISREG(info.st_mode);
    if (!isRegular)
      return;
    SilentAttempt silent;
    try {
      std::unique_ptr<Coff> coff = Coff::make(names[i]);
      if (coff && (!verify || coff->verify()))
        objects[i] = std::move(coff);
    } catch (const MessageWhileSilent &) {
      // Read again in order, where the message is given.
    }
  });
  return objects;
}
