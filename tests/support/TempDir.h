// A fresh directory for one test, removed with everything in it afterwards.
#pragma once

#include <atomic>
#include <set>
#include <string>
#include <thread>

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
// The names in a directory, without "." and ".."; none for a missing one.
std::set<std::string> fileNamesIn(const std::string &path);

// Reads a FIFO on a thread of its own until its writer closes it, as a
// program downstream of an output would.
class FifoReader {
public:
  explicit FifoReader(const std::string &path);
  ~FifoReader() { finish(); }
  FifoReader(const FifoReader &) = delete;
  FifoReader &operator=(const FifoReader &) = delete;

  // What was read; a reader no writer came to is released with nothing.
  const std::string &finish();

private:
  std::string cPath;
  std::string cBytes;
  std::atomic<bool> cDone{false};
  std::thread cThread;
};
