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

std::string notFound(const std::string &name) {
  return "could not find file '" + name + "'.";
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
  error = notFound(name);
  return 0;
}

// Each name as findFile finds it, with what stat tells of it.
std::vector<FoundObject> findAll(const std::vector<std::string> &given,
                                 const std::vector<std::string> &dirs) {
  // Searched on all threads (a system call per candidate).
  std::vector<FoundObject> found(given.size());
  forEachInParallel(given.size(), [&](std::size_t i) {
    FoundObject &file = found[i];
    struct stat status;
    bool statted = false;
    std::string unused;
    if (!findFile(given[i], dirs, file.cPath, status, statted, unused) ||
        !statted)
      return;
    file.cStatted = true;
    file.cDevice = status.st_dev;
    file.cInode = status.st_ino;
    file.cRegular = S_ISREG(status.st_mode);
  });
  return found;
}

// Rewrites every name of the list to its found path, in order; the first
// name that was not found ends the walk.
int takeFound(std::list<std::string> &names,
              const std::vector<FoundObject> &found, std::string &error) {
  std::size_t i = 0;
  for (std::string &name : names) {
    if (found[i].cPath.empty()) {
      error = notFound(name);
      return 0;
    }
    name = found[i++].cPath;
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
// per directory level of each. Without every file's stat every identity is
// worked out.
std::size_t firstRepeat(const std::vector<std::string> &paths,
                        const std::vector<FoundObject> &found) {
  using Inode = std::pair<std::uint64_t, std::uint64_t>;
  bool everyStat = true;
  for (const FoundObject &file : found)
    everyStat = everyStat && file.cStatted;
  std::vector<Inode> inodes(everyStat ? paths.size() : 0);
  for (std::size_t at = 0; at < inodes.size(); ++at)
    inodes[at] = Inode(found[at].cDevice, found[at].cInode);
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
  // The output check may have searched already.
  std::vector<FoundObject> found;
  found.swap(cFoundObjects);
  if (found.size() != givenNames.size())
    found = findAll(givenNames, dirs);
  if (!takeFound(cObjectFile, found, error))
    return 0;

  // Reading one file twice would define each of its symbols twice.
  const std::vector<std::string> paths(cObjectFile.begin(), cObjectFile.end());
  const std::size_t repeat = firstRepeat(paths, found);
  if (repeat < givenNames.size()) {
    error = "mutliple inclusion of object file '" + givenNames[repeat] + "' ";
    return 0;
  }

  std::vector<char> regular(paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i)
    regular[i] = found[i].cRegular ? 1 : 0;
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
  const std::vector<std::string> given(cLibraryFile.begin(),
                                       cLibraryFile.end());
  if (!takeFound(cLibraryFile, findAll(given, dirs), error))
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
  // Loading takes what is found of the objects.
  cFoundObjects.assign(cObjectFile.size(), FoundObject());
  forEachInParallel(given.size(), [&](std::size_t i) {
    std::string unused;
    // Finding a file tells what stat does.
    bool done = false;
    if (searched[i] != nullptr)
      findFile(given[i], *searched[i], found[i], status[i], done, unused);
    else
      done = ::stat((found[i] = given[i]).c_str(), &status[i]) == 0;
    statted[i] = done ? 1 : 0;
    if (i >= cFoundObjects.size())
      return;
    FoundObject &object = cFoundObjects[i];
    object.cPath = found[i];
    object.cStatted = done;
    if (done) {
      object.cDevice = status[i].st_dev;
      object.cInode = status[i].st_ino;
      object.cRegular = S_ISREG(status[i].st_mode);
    }
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
