#include "tests/support/fakescreensaver.h"

#include <dbus/dbus.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>

#include "tests/support/testenv.h"

namespace tavtest {

namespace {
constexpr char kName[] = "org.freedesktop.ScreenSaver";
}

FakeScreenSaver::FakeScreenSaver(Mode mode) : mode_(mode) {
  dbus_threads_init_default();
  const std::string dir = MakeTempSubdir("fakebus");
  folder_ = dir;
  std::ofstream(dir + "/bus.conf")
      << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
         " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
         "<busconfig><type>session</type><listen>unix:path=" << dir << "/bus</listen>"
      << "<auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\"/>"
         "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>\n";
  int out[2];
  if (pipe(out) != 0) {
    error_ = "pipe failed";
    return;
  }
  const std::string config = "--config-file=" + dir + "/bus.conf";
  const std::string print = "--print-address=" + std::to_string(out[1]);
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive the test
    close(out[0]);
    // The daemon's complaints (such as an fd limit it may not raise) are not the test's output.
    if (const int null = open("/dev/null", O_WRONLY); null >= 0) dup2(null, STDERR_FILENO);
    execlp("dbus-daemon", "dbus-daemon", config.c_str(), "--nofork", "--nopidfile", print.c_str(), nullptr);
    _exit(127);
  }
  close(out[1]);
  daemonPid_ = pid;
  char buffer[512];
  ssize_t n = 0, got = 0;
  while (got < ssize_t(sizeof buffer) - 1 && (n = read(out[0], buffer + got, sizeof buffer - 1 - got)) > 0) {
    got += n;
    if (buffer[got - 1] == '\n') break;
  }
  close(out[0]);
  address_.assign(buffer, got > 0 ? size_t(got) : 0);
  while (!address_.empty() && address_.back() == '\n') address_.pop_back();
  if (address_.empty()) {
    error_ = "dbus-daemon did not start (is the dbus-daemon package installed?)";
    return;
  }
  setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
  if (mode_ == Mode::kBusOnly) return;

  DBusError err;
  dbus_error_init(&err);
  DBusConnection* c = dbus_connection_open_private(address_.c_str(), &err);
  if (c && dbus_bus_register(c, &err) &&
      dbus_bus_request_name(c, kName, DBUS_NAME_FLAG_DO_NOT_QUEUE, &err) == DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER) {
    thread_ = std::thread([this, c] { Serve(c); });
  } else {
    error_ = std::string("the service could not be registered: ") + (err.message ? err.message : "?");
    if (c) {
      dbus_connection_close(c);
      dbus_connection_unref(c);
    }
  }
  dbus_error_free(&err);
}

FakeScreenSaver::~FakeScreenSaver() {
  {
    std::lock_guard lock(lock_);
    stop_ = true;
  }
  if (thread_.joinable()) thread_.join();
  if (daemonPid_ > 0) {
    kill(daemonPid_, SIGTERM);
    waitpid(daemonPid_, nullptr, 0);
  }
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

void FakeScreenSaver::Serve(void* connection) {
  auto* c = static_cast<DBusConnection*>(connection);
  uint32_t nextCookie = 41;
  for (;;) {
    {
      std::lock_guard lock(lock_);
      if (stop_) break;
    }
    dbus_connection_read_write(c, 20);
    while (DBusMessage* m = dbus_connection_pop_message(c)) {
      Call call;
      DBusMessage* reply = nullptr;
      if (dbus_message_is_method_call(m, kName, "Inhibit")) {
        const char* app = "";
        const char* reason = "";
        dbus_message_get_args(m, nullptr, DBUS_TYPE_STRING, &app, DBUS_TYPE_STRING, &reason, DBUS_TYPE_INVALID);
        call = {"Inhibit", app, reason, ++nextCookie};
        reply = dbus_message_new_method_return(m);
        dbus_message_append_args(reply, DBUS_TYPE_UINT32, &call.cookie, DBUS_TYPE_INVALID);
      } else if (dbus_message_is_method_call(m, kName, "UnInhibit")) {
        call.method = "UnInhibit";
        dbus_message_get_args(m, nullptr, DBUS_TYPE_UINT32, &call.cookie, DBUS_TYPE_INVALID);
        reply = dbus_message_new_method_return(m);
      }
      if (reply && mode_ == Mode::kAnswers) dbus_connection_send(c, reply, nullptr);
      if (reply) dbus_message_unref(reply);
      dbus_message_unref(m);
      if (!call.method.empty()) {
        std::lock_guard lock(lock_);
        calls_.push_back(call);
        changed_.notify_all();
      }
    }
  }
  dbus_connection_flush(c);
  dbus_connection_close(c);
  dbus_connection_unref(c);
}

std::vector<FakeScreenSaver::Call> FakeScreenSaver::Calls(size_t count, int timeoutMs) {
  std::unique_lock lock(lock_);
  changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return calls_.size() >= count; });
  return calls_;
}

void FakeScreenSaver::ClearCalls() {
  std::lock_guard lock(lock_);
  calls_.clear();
}

}  // namespace tavtest
