// Window handles and per-thread message queues.
#include "platform/runtime/waitable.h"

namespace tav::rt {
// Threads own no queue yet.
void ReleaseThreadQueue() {}
}  // namespace tav::rt
