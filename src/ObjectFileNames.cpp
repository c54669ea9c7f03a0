#include "ObjectFileNames.h"

#include "FileInfo.h"

namespace {

bool isAsciiAlnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= '0' && c <= '9');
}

bool equalsIgnoringCase(const std::string &a, const std::string &b) {
  if (a.size() != b.size())
    return false;
  for (std::string::size_type i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z')
      x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z')
      y = static_cast<char>(y - 'A' + 'a');
    if (x != y)
      return false;
  }
  return true;
}

bool hasNamedExtension(const std::string &path, const std::string &ext) {
  const FileInfo info(path);
  const std::string name = info.name();
  return name.size() > ext.size() && isAsciiAlnum(name[0]) &&
         equalsIgnoringCase(info.ext(), ext);
}

} // namespace

bool isObjectFile(const std::string &path) {
  return hasNamedExtension(path, ".o");
}

bool isLibraryFile(const std::string &path) {
  return hasNamedExtension(path, ".lib");
}

bool isCommandFile(const std::string &path) {
  return hasNamedExtension(path, ".lkr");
}
