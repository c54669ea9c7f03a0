#include "SourceFiles.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

namespace {

// The directory part of a name, or an empty text when there is none to
// check (no slash, or just the root).
std::string_view directoryOf(std::string_view name) {
  std::size_t slash = name.rfind('/');
  if (slash == std::string_view::npos || slash == 0)
    return std::string_view();
  return name.substr(0, slash);
}

} // namespace

bool SourceFiles::knownToFail(const std::string &name) const {
  if (cFailedNames.count(name) != 0)
    return true;
  auto directory = cDirectories.find(directoryOf(name));
  return directory != cDirectories.end() && !directory->second;
}

// A name that does not resolve may lie in a missing directory; that is
// checked once per directory, and every later name in it then fails
// without a system call.
void SourceFiles::noteFailure(const std::string &name, int error) {
  cFailedNames.insert(name);
  if (error != ENOENT && error != ENOTDIR)
    return;
  const std::string directory(directoryOf(name));
  if (directory.empty() || cDirectories.count(directory) != 0)
    return;
  struct stat info;
  if (stat(directory.c_str(), &info) == 0)
    cDirectories[directory] = S_ISDIR(info.st_mode);
  else if (errno == ENOENT || errno == ENOTDIR)
    cDirectories[directory] = false;
}

bool SourceFiles::read(const std::string &name, FileBytes &bytes) {
  if (knownToFail(name))
    return false;
  std::FILE *file = std::fopen(name.c_str(), "rb");
  if (file == nullptr) {
    noteFailure(name, errno);
    return false;
  }
  bytes.read(file, 0);
  std::fclose(file);
  return true;
}
