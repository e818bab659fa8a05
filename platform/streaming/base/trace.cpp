#include "platform/streaming/base/trace.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace tav::strm {

bool TraceEnabled(const char* category) {
  static const char* setting = std::getenv("TAVRION_TRACE");
  if (!setting || !*setting) return false;
  if (std::strcmp(setting, "all") == 0) return true;
  const size_t len = std::strlen(category);
  for (const char* p = setting; (p = std::strstr(p, category)) != nullptr; p += len) {
    const bool startOk = p == setting || p[-1] == ',';
    const bool endOk = p[len] == '\0' || p[len] == ',';
    if (startOk && endOk) return true;
  }
  return false;
}

void TraceLine(const char* category, const char* fmt, ...) {
  static std::mutex lock;
  char text[512];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(text, sizeof text, fmt, args);
  va_end(args);
  std::lock_guard<std::mutex> guard(lock);
  std::fprintf(stderr, "[%s] %s\n", category, text);
}

}  // namespace tav::strm
