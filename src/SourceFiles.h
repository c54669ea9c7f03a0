// The source files a listing shows, read whole. A project listed away from
// its sources names thousands of files in a few missing directories, so
// what could not be opened is remembered: a name that failed is not tried
// again, and once a directory is known to be missing no name inside it is
// tried at all.
#pragma once

#include "FileBytes.h"

#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>

class SourceFiles {
public:
  // False when the file cannot be opened. A file that opens but cannot be
  // read (a directory, say) leaves bytes empty and still counts as open.
  bool read(const std::string &name, FileBytes &bytes);

private:
  bool knownToFail(const std::string &name) const;
  void noteFailure(const std::string &name, int error);

  // Transparent, so that a name's directory part is looked up in place.
  std::set<std::string, std::less<>> cFailedNames;
  // Directory part of a name -> whether it exists as a directory.
  std::map<std::string, bool, std::less<>> cDirectories;
};

// Calls lineAction(text, length) for each line of the bytes: the text up to
// each line feed, and the text after the last one when there is any.
template <class LineAction>
void forEachLine(const FileBytes &bytes, LineAction lineAction) {
  const char *text = reinterpret_cast<const char *>(bytes.data());
  const std::size_t size = bytes.size();
  std::size_t pos = 0;
  while (pos < size) {
    const void *feed = std::memchr(text + pos, '\n', size - pos);
    std::size_t end =
        feed == nullptr ? size : static_cast<const char *>(feed) - text;
    lineAction(text + pos, end - pos);
    pos = end + 1;
  }
}
