#include "Trace.h"

#include <functional>
#include <map>

namespace {

// Built on first use so that it exists before any static initialiser asks,
// and never destroyed: a worker may still ask while another thread ends
// the program ("out of memory"). Transparent, so a name is looked up
// without being copied.
std::map<std::string, int, std::less<>> &traceTable() {
  static auto *table = new std::map<std::string, int, std::less<>>();
  return *table;
}

} // namespace

std::string traceRegister(const std::string &name) {
  traceTable().emplace(name, 0);
  return name;
}

std::string traceSet(const std::string &name, int level) {
  traceTable()[name] = level;
  return name;
}

// Only reads the table, so patchers on worker threads may ask too.
int traceLevel(std::string_view name) {
  const auto found = traceTable().find(name);
  return found == traceTable().end() ? 0 : found->second;
}

void traceResetAll() {
  for (auto &entry : traceTable())
    entry.second = 0;
}
