// Internal invariants that stay checked in every build type.
#pragma once

// Prints the run-time assertion message naming the expression, the source
// module and the line, then stops the program.
[[noreturn]] void assertionFailed(const char *expr, const char *source,
                                  int line);

#define ORV_ASSERT(expr, source)                                               \
  ((expr) ? (void)0 : assertionFailed(#expr, source, __LINE__))

// For unreachable cases (a family, id or code outside the tables).
#define ORV_FAIL(source) assertionFailed("0", source, __LINE__)
