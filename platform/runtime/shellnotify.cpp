// Shell change notifications. There is no desktop shell to tell on this platform: the
// notifications are kept in order so that components' registration can be checked.
#include <mutex>

#include "media/contract/shellapi.h"

namespace {
// Guards the list of notifications sent by this process.
std::mutex g_notifyLock;
std::vector<tav::ShellNotification>& Sent() {
  static std::vector<tav::ShellNotification> sent;  // guarded by g_notifyLock
  return sent;
}
}  // namespace

void SHChangeNotify(LONG eventId, UINT flags, LPCVOID item1, LPCVOID item2) {
  std::lock_guard lock(g_notifyLock);
  Sent().push_back({eventId, flags, item1, item2});
}

namespace tav {
std::vector<ShellNotification> ShellNotificationsSent() {
  std::lock_guard lock(g_notifyLock);
  return Sent();
}
}  // namespace tav
