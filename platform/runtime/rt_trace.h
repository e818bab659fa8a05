// Trace lines of the runtime's message queues, object table and modules, each switched on
// by its own environment variable (TAVRION_TRACE_MSG, TAVRION_TRACE_ROT,
// TAVRION_TRACE_MODULES, TAVRION_TRACE_CODEPAGE, TAVRION_TRACE_SCREENSAVER); off by default.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace tav::rt {
inline bool TraceEnabled(const char* variable) {
  const char* v = std::getenv(variable);
  return v && *v && *v != '0';
}
}  // namespace tav::rt

#define RT_TRACE(variable, category, ...)                                \
  do {                                                                   \
    static const bool traceOn_ = ::tav::rt::TraceEnabled(variable);      \
    if (traceOn_) {                                                      \
      std::fprintf(stderr, category ": " __VA_ARGS__);                   \
      std::fputc('\n', stderr);                                          \
    }                                                                    \
  } while (0)
