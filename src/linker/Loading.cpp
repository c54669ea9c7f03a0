// Finding and reading the input files: object files first, then libraries.
// A name with a directory part is taken as it stands; a bare name is
// searched for, objects in "." and then the library path, libraries in the
// library path alone.
#include "Linker.h"

#include "Archive.h"
#include "FileInfo.h"
#include "ObjectsAhead.h"
#include "ParallelWork.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>
#include <utility>
#include <vector>

#include <sys/stat.h>

namespace {

// The candidate for a name in one search directory. Only '/' counts as a
// separator here, so a directory ending in '\' still gets one.
std::string inDirectory(const std::string &dir, const std::string &name) {
  if (dir.empty())
    return name;
  if (dir.back() == '/')
    return dir + name;
  return dir + "/" + name;
}

// Whether a file exists under path, as FileInfo::fileExists tells, with
// what stat tells of it (statted false when stat cannot): the callers need
// both, and mostly one call gives both.
bool statExisting(const std::string &path, struct stat &status, bool &statted) {
  const FileInfo info(path);
  if (!info.hasName())
    return false;
  const std::string target = info.hasPath() ? info.fullName() : info.name();
  if (::stat(target.c_str(), &status) != 0)
    return false;
  // The looked-up name is the path itself, or it with one more '/' after
  // its directory, unless that ends in '\'.
  statted = !info.hasPath() || info.path().back() == '/' ||
            ::stat(path.c_str(), &status) == 0;
  return true;
}

// Sets found to the path under which name exists, and status to what stat
// tells of it (statted false when stat cannot); 0 with the error text when
// it exists nowhere.
int findFile(const std::string &name, const std::vector<std::string> &dirs,
             std::string &found, struct stat &status, bool &statted,
             std::string &error) {
  statted = false;
  if (FileInfo(name).hasPath()) {
    if (statExisting(name, status, statted)) {
      found = name;
      return 1;
    }
  } else {
    for (const std::string &dir : dirs) {
      const std::string candidate = inDirectory(dir, name);
      if (statExisting(candidate, status, statted)) {
        found = candidate;
        return 1;
      }
    }
  }
  error = "could not find file '" + name + "'.";
  return 0;
}

// Rewrites every name of the list to its found path, in order; the first
// name that cannot be found ends the walk. Each found file's stat comes
// back in statuses, in the same order, where statted is set.
int resolveNames(std::list<std::string> &names,
                 const std::vector<std::string> &dirs,
                 std::vector<struct stat> &statuses, std::vector<char> &statted,
                 std::string &error) {
  // Searched on all threads (a system call per candidate), taken in order.
  const std::vector<std::string> given(names.begin(), names.end());
  std::vector<std::string> found(given.size());
  std::vector<std::string> errors(given.size());
  std::vector<char> ok(given.size(), 0);
  statuses.resize(given.size());
  statted.assign(given.size(), 0);
  forEachInParallel(given.size(), [&](std::size_t i) {
    bool done = false;
    ok[i] = static_cast<char>(
        findFile(given[i], dirs, found[i], statuses[i], done, errors[i]));
    statted[i] = done ? 1 : 0;
  });
  std::size_t i = 0;
  for (std::string &name : names) {
    if (!ok[i]) {
      error = errors[i];
      return 0;
    }
    name = std::move(found[i++]);
  }
  return 1;
}

// One text per file, whatever spelling reached it ("x.o", "./x.o", a
// link to it).
std::string fileIdentity(const std::string &path) {
  std::error_code ec;
  const std::filesystem::path canonical = std::filesystem::canonical(path, ec);
  return ec ? path : canonical.string();
}

// The position of the first file whose identity an earlier file already
// has, or paths.size() when every file is read once. Two spellings of one
// file are one inode, so only files that share an inode with another need
// their identity worked out; resolving every path would cost a system call
// per directory level of each. statuses holds each path's stat where
// statted is set; without all of them every identity is worked out.
std::size_t firstRepeat(const std::vector<std::string> &paths,
                        const std::vector<struct stat> &statuses,
                        const std::vector<char> &statted) {
  using Inode = std::pair<dev_t, ino_t>;
  const bool everyStat =
      std::find(statted.begin(), statted.end(), 0) == statted.end();
  std::vector<Inode> inodes(everyStat ? paths.size() : 0);
  for (std::size_t at = 0; at < inodes.size(); ++at)
    inodes[at] = Inode(statuses[at].st_dev, statuses[at].st_ino);
  // Sorted, a run of equal inodes is a shared one.
  std::vector<Inode> sorted(inodes);
  std::sort(sorted.begin(), sorted.end());
  std::set<std::string> seen;
  for (std::size_t at = 0; at < paths.size(); ++at) {
    if (everyStat) {
      const auto run =
          std::equal_range(sorted.begin(), sorted.end(), inodes[at]);
      if (run.second - run.first == 1)
        continue;
    }
    if (!seen.insert(fileIdentity(paths[at])).second)
      return at;
  }
  return paths.size();
}

} // namespace

int Linker::loadObjectFiles(std::string &error) {
  if (cObjectFile.empty()) {
    error = "no input object files specified.";
    return 0;
  }
  const std::vector<std::string> givenNames(cObjectFile.begin(),
                                            cObjectFile.end());
  std::vector<std::string> dirs{"."};
  dirs.insert(dirs.end(), cLibPath.begin(), cLibPath.end());
  std::vector<struct stat> statuses;
  std::vector<char> statted;
  if (!resolveNames(cObjectFile, dirs, statuses, statted, error))
    return 0;

  // Reading one file twice would define each of its symbols twice.
  const std::vector<std::string> paths(cObjectFile.begin(), cObjectFile.end());
  const std::size_t repeat = firstRepeat(paths, statuses, statted);
  if (repeat < givenNames.size()) {
    error = "mutliple inclusion of object file '" + givenNames[repeat] + "' ";
    return 0;
  }

  std::vector<char> regular(paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i)
    regular[i] = statted[i] && S_ISREG(statuses[i].st_mode) ? 1 : 0;
  std::vector<std::unique_ptr<Coff>> ahead =
      readObjectsAhead(paths, /*verify=*/true, &regular);
  for (std::size_t i = 0; i < paths.size(); ++i) {
    std::unique_ptr<Coff> coff = std::move(ahead[i]);
    if (!coff) {
      coff = Coff::make(paths[i]);
      // The reader and the checker report their own findings.
      if (!coff || !coff->verify())
        return 0;
    }
    cCoff.push_back(std::move(coff));
  }
  return 1;
}

int Linker::loadLibraryFiles(std::string &error) {
  const std::vector<std::string> dirs(cLibPath.begin(), cLibPath.end());
  std::vector<struct stat> statuses;
  std::vector<char> statted;
  if (!resolveNames(cLibraryFile, dirs, statuses, statted, error))
    return 0;
  for (const std::string &path : cLibraryFile) {
    // A link takes only some members: the others are checked, not built.
    std::unique_ptr<Archive> archive = Archive::makeForLink(path);
    // The archive reader reports why.
    if (!archive)
      return 0;
    cArchive.push_back(std::move(archive));
  }
  return 1;
}

int Linker::checkOutputsSpareInputs(std::string &error) const {
  struct Output {
    const std::string &name;
    const char *what;
  };
  std::vector<Output> outputs;
  std::vector<struct stat> outputStatus;
  for (const Output output :
       {Output{cOutputFile, "Output file"}, Output{cMapFile, "Map file"}}) {
    struct stat status;
    // A name that reaches no file yet cannot be an input's.
    if (!output.name.empty() && ::stat(output.name.c_str(), &status) == 0) {
      outputs.push_back(output);
      outputStatus.push_back(status);
    }
  }
  if (outputs.empty())
    return 1;

  // The inputs as loading will find them; one not found is loading's to
  // report.
  std::vector<std::string> given;
  std::vector<const std::vector<std::string> *> searched;
  std::vector<std::string> objectDirs{"."};
  objectDirs.insert(objectDirs.end(), cLibPath.begin(), cLibPath.end());
  const std::vector<std::string> libraryDirs(cLibPath.begin(), cLibPath.end());
  for (const std::string &name : cObjectFile) {
    given.push_back(name);
    searched.push_back(&objectDirs);
  }
  for (const std::string &name : cLibraryFile) {
    given.push_back(name);
    searched.push_back(&libraryDirs);
  }
  for (const std::string &name : cCommandFile) {
    given.push_back(name);
    searched.push_back(nullptr); // already as found
  }
  std::vector<std::string> found(given.size());
  std::vector<struct stat> status(given.size());
  std::vector<char> statted(given.size(), 0);
  forEachInParallel(given.size(), [&](std::size_t i) {
    std::string unused;
    // Finding a file tells what stat does.
    bool done = false;
    if (searched[i] != nullptr)
      findFile(given[i], *searched[i], found[i], status[i], done, unused);
    else
      done = ::stat((found[i] = given[i]).c_str(), &status[i]) == 0;
    statted[i] = done ? 1 : 0;
  });

  // Only a file the output reaches under its resolved name is replaced:
  // another hard link to it keeps the input as it is.
  for (std::size_t at = 0; at < outputs.size(); ++at) {
    for (std::size_t i = 0; i < given.size(); ++i) {
      if (!statted[i] || status[i].st_dev != outputStatus[at].st_dev ||
          status[i].st_ino != outputStatus[at].st_ino)
        continue;
      if (fileIdentity(found[i]) == fileIdentity(outputs[at].name)) {
        error = std::string(outputs[at].what) + " '" + outputs[at].name +
                "' would replace an input file.";
        return 0;
      }
    }
  }
  return 1;
}
