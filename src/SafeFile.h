// Output files are written under a temporary name beside their target and
// renamed over it only when every write and the close succeeded, so a
// failed run never leaves a partial file or destroys an existing one.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

class SafeOutputFile {
public:
  explicit SafeOutputFile(const std::string &target);
  ~SafeOutputFile(); // an uncommitted temporary is removed
  SafeOutputFile(const SafeOutputFile &) = delete;
  SafeOutputFile &operator=(const SafeOutputFile &) = delete;

  // Creates the temporary file; false (with errno set) when it cannot.
  bool open();
  // The open temporary, for callers that format with stdio.
  std::FILE *stream() { return cStream; }
  // Writes all bytes; a short write marks the file as failed.
  bool write(const void *bytes, std::size_t count);
  bool write(const std::string &text) {
    return write(text.data(), text.size());
  }
  // Flushes, closes and renames over the target. False when any write,
  // the close or the rename failed; the target is then left as it was.
  bool commit();
  // Drops the temporary without touching the target.
  void discard();

  const std::string &target() const { return cTarget; }

private:
  std::string cTarget;
  std::string cTempName;
  std::FILE *cStream = nullptr;
  bool cFailed = false;
};

// One-shot form: the whole contents at once.
bool writeFileAtomically(const std::string &target, const std::string &bytes);
