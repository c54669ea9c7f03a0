#include "FileInfo.h"

#include <dirent.h>
#include <unistd.h>

DirInfo::DirInfo(const std::string &name) : cName(name) {}

std::string DirInfo::name() const { return cName; }

int DirInfo::dirExists() const {
  DIR *dir = opendir(cName.c_str());
  if (dir == nullptr)
    return 0;
  closedir(dir);
  return 1;
}

void DirInfo::print(std::ostream &out) const {
  out << "name()='" << name() << "' " << '\n';
  out << "dirExists()=" << dirExists() << '\n';
}

FileInfo::FileInfo(const std::string &path) {
  // No drive letters on this platform: everything up to the last separator
  // is the directory.
  const std::string::size_type lastSep = path.find_last_of("/\\");
  std::string last = path;
  if (lastSep != std::string::npos) {
    cDir = path.substr(0, lastSep + 1);
    last = path.substr(lastSep + 1);
  }
  const std::string::size_type dot = last.rfind('.');
  if (dot == std::string::npos) {
    cFname = last;
  } else {
    cFname = last.substr(0, dot);
    cExt = last.substr(dot);
  }
}

std::string FileInfo::path() const { return cDrive + cDir; }
std::string FileInfo::name() const { return cFname + cExt; }
std::string FileInfo::baseName() const { return cFname; }
std::string FileInfo::ext() const { return cExt; }

std::string FileInfo::fullName() const {
  return (hasPath() ? path() : std::string()) + "/" + name();
}

int FileInfo::hasPath() const { return cDir.empty() ? 0 : 1; }
int FileInfo::hasName() const { return cFname.empty() ? 0 : 1; }

int FileInfo::pathExists() const {
  if (!hasPath())
    return 0;
  return DirInfo(path()).dirExists();
}

int FileInfo::fileExists() const {
  if (!hasName())
    return 0;
  const std::string target = hasPath() ? fullName() : name();
  return access(target.c_str(), F_OK) == 0 ? 1 : 0;
}

void FileInfo::print(std::ostream &out) const {
  out << "path()='" << path() << "' " << '\n';
  out << "name()='" << name() << "' " << '\n';
  out << "ext()='" << ext() << "' " << '\n';
  out << "fullName()='" << fullName() << "' " << '\n';
  out << "hasName()=" << hasName() << '\n';
  out << "hasPath()=" << hasPath() << '\n';
  out << "pathExists()=" << pathExists() << '\n';
  out << "fileExists()=" << fileExists() << '\n';
}
