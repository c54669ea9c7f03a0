#include "Trace.h"

#include <atomic>
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

// Whether some switch may be on: most runs set none, and operations that
// run thousands of times ask before every dump. Atomic, as workers ask too.
std::atomic<bool> gAnySet{false};

} // namespace

std::string traceRegister(const std::string &name) {
  traceTable().emplace(name, 0);
  return name;
}

std::string traceSet(const std::string &name, int level) {
  traceTable()[name] = level;
  if (level != 0)
    gAnySet.store(true, std::memory_order_relaxed);
  return name;
}

// Only reads the table, so patchers on worker threads may ask too.
int traceLevel(std::string_view name) {
  if (!gAnySet.load(std::memory_order_relaxed))
    return 0;
  const auto found = traceTable().find(name);
  return found == traceTable().end() ? 0 : found->second;
}

void traceResetAll() {
  for (auto &entry : traceTable())
    entry.second = 0;
  gAnySet.store(false, std::memory_order_relaxed);
}
