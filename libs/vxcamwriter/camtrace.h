// The exporter's diagnostic trace: numbered, time-stamped lines in one file, off unless
// switched on. The file is created on first use, replacing an old one.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

class CCamTraceWriter {
 public:
  // The fixed trace file of the exporter.
  static constexpr const char* kDefaultPath = "c:\\logger_camexp.txt";

  explicit CCamTraceWriter(std::string path = kDefaultPath) : path_(std::move(path)) {}
  ~CCamTraceWriter() { Close(); }
  CCamTraceWriter(const CCamTraceWriter&) = delete;
  CCamTraceWriter& operator=(const CCamTraceWriter&) = delete;

  void SwitchOn(bool on);
  bool isOn() const { return on_; }
  // "%4d | %2d:%02d:%02d.%03d " (message number, UTC time), the message, CR LF.
  void Write(const char* message);
  // Flushes and closes the file.
  void Close();

 private:
  // Guards the file and the counter: the worker and the application thread both write.
  std::mutex lock_;
  std::string path_;
  bool on_ = false;
  FILE* file_ = nullptr;  // guarded by lock_
  int count_ = 0;         // guarded by lock_
};
