// A fresh directory for one test, removed with everything in it afterwards.
#pragma once

#include <string>

class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;

  const std::string &path() const { return cPath; }
  // path() + "/" + name
  std::string file(const std::string &name) const;
  // Writes bytes to path()/name, creating subdirectories as needed.
  void write(const std::string &name, const std::string &bytes) const;
  std::string read(const std::string &name) const;
  bool exists(const std::string &name) const;

private:
  std::string cPath;
};

// Whole-file helpers on absolute paths; read gives "" for a missing file.
std::string readFile(const std::string &path);
void writeFile(const std::string &path, const std::string &bytes);
