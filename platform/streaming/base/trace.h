// Trace lines for the base classes: one category per file, off by default. Setting
// TAVRION_TRACE to a comma-separated list of categories (or "all") writes a line to
// stderr for each traced call.
#pragma once

#include <cstdio>

namespace tav::strm {

// True when the category is switched on; the environment is read once per category.
bool TraceEnabled(const char* category);
void TraceLine(const char* category, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

}  // namespace tav::strm

#define TAV_TRACE_CATEGORY(name) static constexpr const char* kTraceCategory = name
#define TAV_TRACE(...)                                                              \
  do {                                                                              \
    if (tav::strm::TraceEnabled(kTraceCategory)) tav::strm::TraceLine(kTraceCategory, __VA_ARGS__); \
  } while (0)
