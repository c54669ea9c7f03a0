#include "Trace.h"

#include <map>

namespace {

// Built on first use so that it exists before any static initialiser asks.
std::map<std::string, int> &traceTable() {
  static std::map<std::string, int> table;
  return table;
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
int traceLevel(const std::string &name) {
  const auto found = traceTable().find(name);
  return found == traceTable().end() ? 0 : found->second;
}
