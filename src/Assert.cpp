#include "Assert.h"

#include <cstdio>
#include <cstdlib>

void assertionFailed(const char *expr, const char *source, int line) {
  std::fflush(stdout);
  std::fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", expr, source,
               line);
  std::fflush(stderr);
  std::abort();
}
