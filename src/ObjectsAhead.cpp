#include "ObjectsAhead.h"

#include "Messages.h"
#include "ParallelWork.h"

#include <sys/stat.h>

std::vector<std::unique_ptr<Coff>>
readObjectsAhead(const std::vector<std::string> &names, bool verify) {
  std::vector<std::unique_ptr<Coff>> objects(names.size());
  forEachInParallel(names.size(), [&](std::size_t i) {
    struct stat info;
    if (stat(names[i].c_str(), &info) != 0 || !S_ISREG(info.st_mode))
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
