// Shell change notifications: components tell the desktop shell that file associations or
// icons changed. Implemented by the platform runtime (libtavrionrt), which has no desktop
// shell to tell; it keeps the notifications so that callers can be checked.
#pragma once

#include <vector>

#include "media/contract/wintypes.h"

constexpr LONG SHCNE_UPDATEIMAGE = 0x00008000;
constexpr LONG SHCNE_ASSOCCHANGED = 0x08000000;
constexpr UINT SHCNF_IDLIST = 0x0000;
constexpr UINT SHCNF_DWORD = 0x0003;

void SHChangeNotify(LONG eventId, UINT flags, LPCVOID item1, LPCVOID item2);

namespace tav {
struct ShellNotification {
  LONG eventId;
  UINT flags;
  LPCVOID item1;
  LPCVOID item2;
};
// The notifications this process has sent, oldest first.
std::vector<ShellNotification> ShellNotificationsSent();
}  // namespace tav
