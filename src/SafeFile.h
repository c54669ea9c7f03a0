// Output files are written under a temporary name beside their target and
// renamed over it only when every write and the close succeeded, so a
// failed run never leaves a partial file or destroys an existing one.
//
// A target that is a device, a FIFO or a socket is not a file to replace:
// it is opened and written in place, as a plain create would. A symbolic
// link is followed, and the file it names is replaced; the link stays.
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

  // Creates the temporary file (or opens a special file in place); false
  // (with errno set) when it cannot. A directory gives EISDIR.
  bool open();
  // The open file, for callers that format with stdio.
  std::FILE *stream() { return cStream; }
  // Writes all bytes; a short write marks the file as failed.
  bool write(const void *bytes, std::size_t count);
  bool write(const std::string &text) {
    return write(text.data(), text.size());
  }
  // Flushes and closes the file without replacing the target yet, so that
  // several outputs can all be complete before any of them replaces its
  // target. False when any write or the close failed; the temporary is
  // then gone.
  bool close();
  // Closes (unless close() was called) and renames over the target. False
  // when any write, the close or the rename failed; the target is then
  // left as it was.
  bool commit();
  // Drops the temporary without touching the target.
  void discard();

  const std::string &target() const { return cTarget; }

private:
  std::string cTarget;
  std::string cReplaced; // the file the rename replaces: links followed
  std::string cTempName; // empty when writing in place
  std::FILE *cStream = nullptr;
  int cSlot = -1; // entry in the table of live temporaries, or -1
  bool cFailed = false;
  bool cClosed = false; // close() succeeded; only the rename is left
};

// One-shot form: the whole contents at once.
bool writeFileAtomically(const std::string &target, const std::string &bytes);

// Makes SIGTERM, SIGINT and SIGHUP remove the temporaries open at that
// moment before the program ends as killed by the signal. Call once from
// main, before any other thread starts; a signal the program was started
// with ignored stays ignored.
void removeTemporariesOnSignals();
