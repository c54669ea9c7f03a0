#include "TempDir.h"

#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

int removeEntry(const char *path, const struct stat *, int, struct FTW *) {
  // Restore write access first so tests that lock a directory still clean up.
  chmod(path, 0700);
  return remove(path);
}

void makeParents(const std::string &path) {
  for (std::string::size_type pos = path.find('/', 1); pos != std::string::npos;
       pos = path.find('/', pos + 1))
    mkdir(path.substr(0, pos).c_str(), 0777);
}

} // namespace

TempDir::TempDir() {
  const char *base = std::getenv("TMPDIR");
  std::string pattern = std::string(base ? base : "/tmp") + "/orvtest.XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) == nullptr)
    throw std::runtime_error("mkdtemp failed");
  cPath = name.data();
}

TempDir::~TempDir() {
  chmod(cPath.c_str(), 0700);
  nftw(cPath.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string TempDir::file(const std::string &name) const {
  return cPath + "/" + name;
}

void TempDir::write(const std::string &name, const std::string &bytes) const {
  writeFile(file(name), bytes);
}

std::string TempDir::read(const std::string &name) const {
  return readFile(file(name));
}

bool TempDir::exists(const std::string &name) const {
  return access(file(name).c_str(), F_OK) == 0;
}

std::string readFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void writeFile(const std::string &path, const std::string &bytes) {
  makeParents(path);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out)
    throw std::runtime_error("cannot write " + path);
}

FifoReader::FifoReader(const std::string &path) : cPath(path) {
  cThread = std::thread([this] {
    const int fd = open(cPath.c_str(), O_RDONLY);
    if (fd < 0) {
      cDone = true;
      return;
    }
    char buffer[65536];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
      cBytes.append(buffer, static_cast<std::size_t>(n));
    close(fd);
    cDone = true;
  });
}

const std::string &FifoReader::finish() {
  if (cThread.joinable()) {
    // A writer that opens and closes at once lets a reader still waiting
    // in open() go; one that already read to the end needs nothing.
    while (!cDone) {
      const int fd = open(cPath.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0)
        close(fd);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    cThread.join();
  }
  return cBytes;
}

std::set<std::string> fileNamesIn(const std::string &path) {
  std::set<std::string> names;
  if (DIR *dir = opendir(path.c_str())) {
    while (const dirent *entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..")
        names.insert(name);
    }
    closedir(dir);
  }
  return names;
}
