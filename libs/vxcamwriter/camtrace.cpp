#include "libs/vxcamwriter/camtrace.h"

#include <sys/time.h>

#include <ctime>

void CCamTraceWriter::SwitchOn(bool on) {
  std::lock_guard lock(lock_);
  on_ = on;
}

void CCamTraceWriter::Write(const char* message) {
  std::lock_guard lock(lock_);
  if (!on_ || !message) return;
  if (!file_) file_ = std::fopen(path_.c_str(), "wb");
  if (!file_) return;
  timeval now{};
  gettimeofday(&now, nullptr);
  tm utc{};
  gmtime_r(&now.tv_sec, &utc);
  std::fprintf(file_, "%4d | %2d:%02d:%02d.%03d %s\r\n", ++count_, utc.tm_hour, utc.tm_min, utc.tm_sec,
               int(now.tv_usec / 1000), message);
}

void CCamTraceWriter::Close() {
  std::lock_guard lock(lock_);
  if (file_) {
    std::fflush(file_);
    std::fclose(file_);
    file_ = nullptr;
  }
}
