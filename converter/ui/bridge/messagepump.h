// MessagePump: runs the GUI thread's platform message queue from Qt's event loop.
//
// The platform gives every thread a queue of window messages and timers (media/contract/
// window.h) with a descriptor that is readable while something waits. The pump watches that
// descriptor with a QSocketNotifier, so posted and sent messages, graph events posted to a
// window and WM_TIMER reach their window procedures on the GUI thread while Qt's loop (or a
// modal dialog's nested loop) runs, and nothing wakes while the queue is empty.
//
// Make one pump on the GUI thread after the QApplication and keep it for the life of the
// loop. A WM_QUIT on the queue (PostQuitMessage) ends the application's loop with its exit
// code, unless another quit handler was installed.
#pragma once

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace tav::ui {

class MessagePump : public QObject {
  Q_OBJECT

 public:
  explicit MessagePump(QObject* parent = nullptr);
  ~MessagePump() override;

  // Dispatches what waits on the calling thread's queue now (at most maxMessages, so a
  // flood cannot starve Qt's own events; the rest wakes the notifier again). Returns the
  // number of messages dispatched.
  int DispatchPending(int maxMessages = kBatchLimit);

  // What WM_QUIT does (QCoreApplication::exit by default).
  void SetQuitHandler(std::function<void(int exitCode)> handler) { quitHandler_ = std::move(handler); }

  // True while the queue's descriptor is watched (false when the platform gave none).
  bool IsWatching() const;

 signals:
  // After a batch of platform messages was dispatched (the application's idle update
  // listens, since a message may have changed what the controls show).
  void messagesDispatched();

 private:
  static constexpr int kBatchLimit = 256;

  std::unique_ptr<QSocketNotifier> notifier_;
  std::function<void(int)> quitHandler_;
};

}  // namespace tav::ui
