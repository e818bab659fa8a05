#include "converter/ui/bridge/messagepump.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QSocketNotifier>

#include "media/contract/window.h"

Q_LOGGING_CATEGORY(lcPump, "tavrion.ui.pump", QtWarningMsg)

namespace tav::ui {

MessagePump::MessagePump(QObject* parent) : QObject(parent) {
  const int fd = tav::MessageQueueFd();
  if (fd < 0) {
    qCWarning(lcPump) << "the platform message queue has no descriptor; platform messages will not arrive";
    return;
  }
  notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { DispatchPending(); });
}

MessagePump::~MessagePump() = default;

bool MessagePump::IsWatching() const { return notifier_ != nullptr; }

int MessagePump::DispatchPending(int maxMessages) {
  int count = 0;
  MSG msg;
  // PeekMessage also runs the procedures of messages sent from other threads.
  while (count < maxMessages && PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
    ++count;
    if (msg.message == WM_QUIT) {
      qCDebug(lcPump) << "WM_QUIT" << int(msg.wParam);
      if (quitHandler_) {
        quitHandler_(int(msg.wParam));
      } else {
        QCoreApplication::exit(int(msg.wParam));
      }
      break;
    }
    DispatchMessage(&msg);
  }
  if (count) emit messagesDispatched();
  return count;
}

}  // namespace tav::ui
