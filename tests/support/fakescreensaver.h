// A private session bus (its own dbus-daemon) with a stand-in for the desktop's
// org.freedesktop.ScreenSaver service, served on a thread of the test process. While it
// lives, DBUS_SESSION_BUS_ADDRESS points at that bus, so the code under test and the
// programs the test starts never reach the user's real session.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tavtest {

class FakeScreenSaver {
 public:
  enum class Mode {
    kAnswers,   // replies to Inhibit with a new cookie and to UnInhibit
    kSilent,    // owns the name but never replies
    kBusOnly,   // the bus without the service
  };
  struct Call {
    std::string method;  // "Inhibit" or "UnInhibit"
    std::string application, reason;  // Inhibit's arguments
    uint32_t cookie = 0;  // given by Inhibit, received by UnInhibit
  };

  explicit FakeScreenSaver(Mode mode = Mode::kAnswers);
  ~FakeScreenSaver();
  FakeScreenSaver(const FakeScreenSaver&) = delete;
  FakeScreenSaver& operator=(const FakeScreenSaver&) = delete;

  // False when the bus could not be started (the test then fails with Error()).
  bool Ready() const { return error_.empty(); }
  const std::string& Error() const { return error_; }
  const std::string& Address() const { return address_; }
  // The folder of the bus socket ("bus"), as a systemd user session lays it out.
  const std::string& SocketFolder() const { return folder_; }
  // The calls so far; waits up to timeoutMs for at least count of them.
  std::vector<Call> Calls(size_t count = 0, int timeoutMs = 0);
  void ClearCalls();

 private:
  void Serve(void* connection);

  Mode mode_;
  std::string error_, address_, folder_;
  int daemonPid_ = -1;
  std::thread thread_;
  bool stop_ = false;  // guarded by lock_
  std::mutex lock_;    // guards calls_ and stop_
  std::condition_variable changed_;
  std::vector<Call> calls_;
};

}  // namespace tavtest
