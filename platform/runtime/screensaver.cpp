// The screen-saver switch of SystemParametersInfo over the desktop session's
// org.freedesktop.ScreenSaver service (session bus, libdbus).
//
// Switching the screen saver off opens a private bus connection and calls Inhibit(program
// name, reason); the connection and the cookie are kept until the screen saver is switched
// on again (UnInhibit(cookie), then the connection closes). The service drops an inhibition
// whose connection goes away, so a crash cannot leave the screen saver off.
//
// Every bus call waits at most kBusCallTimeoutMs: a service or bus that never answers costs
// that much once and is then treated as absent. The session bus is found only through
// DBUS_SESSION_BUS_ADDRESS or $XDG_RUNTIME_DIR/bus, never by auto-launching a bus.
#include <dbus/dbus.h>
#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

#include "media/contract/folders.h"
#include "media/contract/hresult.h"
#include "media/contract/sync.h"
#include "media/contract/sysparams.h"
#include "media/contract/trace.h"

TAV_TRACE_SOURCE(kScreenSaver, nullptr);

namespace {

constexpr int kBusCallTimeoutMs = 500;
constexpr char kService[] = "org.freedesktop.ScreenSaver";
constexpr char kInterface[] = "org.freedesktop.ScreenSaver";
// The standard object path first; older desktops serve only the short one.
constexpr const char* kObjectPaths[] = {"/org/freedesktop/ScreenSaver", "/ScreenSaver"};
constexpr char kReason[] = "The program holds the screen saver off while it works";

struct ConnectionCloser {
  void operator()(DBusConnection* c) const {
    dbus_connection_close(c);
    dbus_connection_unref(c);
  }
};
using Connection = std::unique_ptr<DBusConnection, ConnectionCloser>;
struct MessageUnref {
  void operator()(DBusMessage* m) const { dbus_message_unref(m); }
};
using Message = std::unique_ptr<DBusMessage, MessageUnref>;

// A DBusError that frees itself.
struct BusError {
  DBusError e;
  BusError() { dbus_error_init(&e); }
  ~BusError() { dbus_error_free(&e); }
  BusError(const BusError&) = delete;
  BusError& operator=(const BusError&) = delete;
};

// The inhibition this process holds. Guarded by g_saverLock, which also serialises the bus
// calls so two threads never inhibit twice.
std::mutex g_saverLock;
struct Inhibition {
  DBusConnection* connection = nullptr;  // open exactly while held; owned (closed on release)
  dbus_uint32_t cookie = 0;
  const char* path = nullptr;  // the object path that gave the cookie
};
Inhibition g_held;

std::string SessionBusAddress() {
  if (const char* a = std::getenv("DBUS_SESSION_BUS_ADDRESS"); a && *a) return a;
  // The per-user bus of a systemd session, announced by its socket alone.
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (!runtime || runtime[0] != '/') return {};
  const std::string socketPath = std::string(runtime) + "/bus";
  struct stat st {};
  if (stat(socketPath.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) return {};
  char* escaped = dbus_address_escape_value(socketPath.c_str());
  if (!escaped) return {};
  std::string address = std::string("unix:path=") + escaped;
  dbus_free(escaped);
  return address;
}

// Sends call and waits for its reply; null on an error reply, a broken bus or the time-out.
Message Call(DBusConnection* c, DBusMessage* call, std::string* errorName = nullptr) {
  BusError err;
  Message reply(dbus_connection_send_with_reply_and_block(c, call, kBusCallTimeoutMs, &err.e));
  if (!reply) {
    TAV_TRACE("%s failed: %s", dbus_message_get_member(call), err.e.message ? err.e.message : "?");
    if (errorName && err.e.name) *errorName = err.e.name;
  }
  return reply;
}

// A private connection to the session bus, registered with the bus; null when there is none.
// The registration is made here rather than by dbus_bus_register, whose wait has no limit.
Connection ConnectSessionBus() {
  static std::once_flag threadsOnce;
  std::call_once(threadsOnce, [] { dbus_threads_init_default(); });
  const std::string address = SessionBusAddress();
  if (address.empty()) {
    TAV_TRACE("no session bus");
    return nullptr;
  }
  BusError err;
  Connection c(dbus_connection_open_private(address.c_str(), &err.e));
  if (!c) {
    TAV_TRACE("cannot connect to %s: %s", address.c_str(), err.e.message ? err.e.message : "?");
    return nullptr;
  }
  dbus_connection_set_exit_on_disconnect(c.get(), FALSE);
  // A blocking call would wait for the authentication without limit: drive it here.
  const ULONGLONG deadline = GetTickCount64() + kBusCallTimeoutMs;
  while (!dbus_connection_get_is_authenticated(c.get())) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline || !dbus_connection_get_is_connected(c.get()) ||
        !dbus_connection_read_write(c.get(), int(deadline - now))) {
      TAV_TRACE("%s does not authenticate", address.c_str());
      return nullptr;
    }
  }
  Message hello(dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "Hello"));
  if (!hello) return nullptr;
  Message reply = Call(c.get(), hello.get());
  const char* uniqueName = nullptr;
  if (!reply || !dbus_message_get_args(reply.get(), nullptr, DBUS_TYPE_STRING, &uniqueName, DBUS_TYPE_INVALID))
    return nullptr;
  dbus_bus_set_unique_name(c.get(), uniqueName);
  return c;
}

bool ServicePresent(DBusConnection* c) {
  Message ask(dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "NameHasOwner"));
  const char* name = kService;
  if (!ask || !dbus_message_append_args(ask.get(), DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID)) return false;
  Message reply = Call(c, ask.get());
  dbus_bool_t has = FALSE;
  return reply && dbus_message_get_args(reply.get(), nullptr, DBUS_TYPE_BOOLEAN, &has, DBUS_TYPE_INVALID) && has;
}

std::string ProgramName() {
  const std::string file = tav::ProgramFileName();
  const size_t slash = file.rfind('/');
  const std::string name = slash == std::string::npos ? file : file.substr(slash + 1);
  return name.empty() ? std::string("tavrion") : name;
}

// Holds the screen saver off; needs the lock. True when held afterwards.
bool InhibitLocked() {
  if (g_held.connection) return true;
  Connection c = ConnectSessionBus();
  if (!c || !ServicePresent(c.get())) return false;
  const std::string app = ProgramName();
  for (const char* path : kObjectPaths) {
    Message call(dbus_message_new_method_call(kService, path, kInterface, "Inhibit"));
    const char* appText = app.c_str();
    const char* reasonText = kReason;
    if (!call || !dbus_message_append_args(call.get(), DBUS_TYPE_STRING, &appText, DBUS_TYPE_STRING, &reasonText,
                                           DBUS_TYPE_INVALID))
      return false;
    dbus_message_set_auto_start(call.get(), FALSE);
    std::string errorName;
    Message reply = Call(c.get(), call.get(), &errorName);
    dbus_uint32_t cookie = 0;
    if (reply && dbus_message_get_args(reply.get(), nullptr, DBUS_TYPE_UINT32, &cookie, DBUS_TYPE_INVALID)) {
      TAV_TRACE("inhibited by %s at %s, cookie %u", app.c_str(), path, unsigned(cookie));
      g_held = {c.release(), cookie, path};
      return true;
    }
    // Only a service that lacks the object is worth asking at the other path; a silent one
    // has already cost its time-out.
    if (errorName != DBUS_ERROR_UNKNOWN_OBJECT && errorName != DBUS_ERROR_UNKNOWN_METHOD &&
        errorName != "org.freedesktop.DBus.Error.UnknownInterface")
      return false;
  }
  return false;
}

// Ends the inhibition; needs the lock. Closing the connection ends it too, so the outcome
// of UnInhibit itself does not matter.
void UnInhibitLocked() {
  if (!g_held.connection) return;
  Connection c(g_held.connection);
  const dbus_uint32_t cookie = g_held.cookie;
  Message call(dbus_message_new_method_call(kService, g_held.path, kInterface, "UnInhibit"));
  g_held = {};
  if (call && dbus_message_append_args(call.get(), DBUS_TYPE_UINT32, &cookie, DBUS_TYPE_INVALID)) {
    dbus_message_set_auto_start(call.get(), FALSE);
    Call(c.get(), call.get());
  }
  TAV_TRACE("uninhibited cookie %u", unsigned(cookie));
}

}  // namespace

BOOL SystemParametersInfo(UINT action, UINT uiParam, void* pvParam, UINT winIni) {
  TAV_TRACE("SystemParametersInfo(0x%x, %u, %p, 0x%x)", action, uiParam, pvParam, winIni);
  std::lock_guard lock(g_saverLock);
  switch (action) {
    case SPI_GETSCREENSAVEACTIVE: {
      if (!pvParam) break;
      if (g_held.connection) {
        *static_cast<BOOL*>(pvParam) = FALSE;
        return TRUE;
      }
      Connection c = ConnectSessionBus();
      if (!c || !ServicePresent(c.get())) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
      }
      *static_cast<BOOL*>(pvParam) = TRUE;
      return TRUE;
    }
    case SPI_SETSCREENSAVEACTIVE:
      if (uiParam) {
        UnInhibitLocked();
        return TRUE;
      }
      if (InhibitLocked()) return TRUE;
      SetLastError(ERROR_NOT_SUPPORTED);
      return FALSE;
    default:
      break;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}
