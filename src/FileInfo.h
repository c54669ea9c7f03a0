// File and directory names taken apart once, and asked of the file system.
#pragma once

#include <ostream>
#include <string>

class DirInfo {
public:
  explicit DirInfo(const std::string &name);
  std::string name() const;
  int dirExists() const;
  void print(std::ostream &out) const;

private:
  std::string cName;
};

// A path split into drive (always empty here), directory (with its trailing
// separator), base name and extension (with its '.'). Both '/' and '\'
// separate directories; the extension starts at the last '.' of the last
// component.
class FileInfo {
public:
  explicit FileInfo(const std::string &path);

  std::string path() const;
  std::string name() const;
  std::string baseName() const;
  std::string ext() const;
  // Always puts "/" between path() and name(); use it only when hasPath().
  std::string fullName() const;
  int hasPath() const;
  int hasName() const;
  int pathExists() const;
  int fileExists() const;
  void print(std::ostream &out) const;

private:
  std::string cDrive;
  std::string cDir;
  std::string cFname;
  std::string cExt;
};
