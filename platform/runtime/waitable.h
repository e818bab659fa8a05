// The machinery behind every waitable object of the runtime: events, thread ends and
// message queues are Waitables; HANDLEs name them through one table.
//
// Design: one process-wide mutex (SyncMutex) guards the state of every Waitable, its list
// of waiters and the handle table. A waiting thread registers a Waiter (its own condition
// variable) with each object it waits for. Whoever makes an object signalled offers it to
// that object's waiters, oldest first; a waiter whose condition now holds takes its
// objects (an auto-reset event is consumed by exactly that waiter) and is woken. Because
// the decision is made under the one lock, a wait-all takes all its objects atomically and
// no wake-up is ever lost or duplicated. The woken thread is notified only once the
// signalling thread has let go of the lock (see SyncMutexType), so it does not wake up just
// to block on the lock again.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "media/contract/sync.h"

namespace tav::rt {

using Clock = std::chrono::steady_clock;

// The lock behind SyncMutex(): a plain mutex that also delivers the wake-ups decided while
// it was held. A thread notified while the signalling thread still holds the lock wakes only
// to block on it again, which costs a second context switch for every signal; so waiters'
// condition variables are queued (NotifyOnUnlockLocked) and notified by unlock() after the
// mutex is released. The queue keeps each condition variable alive until it is notified,
// since a waiter that timed out meanwhile may already have returned.
class SyncMutexType {
 public:
  void lock() { mutex_.lock(); }
  bool try_lock() { return mutex_.try_lock(); }
  void unlock();

  // Wakes the threads sleeping on cv once the lock is released. Lock held.
  void NotifyOnUnlockLocked(std::shared_ptr<std::condition_variable> cv);
  // Releases the lock while sleeping on cv until notified or until deadline (none: no
  // limit); holds it again on return. Wake-ups may be spurious.
  void SleepLocked(std::condition_variable& cv, std::optional<std::chrono::steady_clock::time_point> deadline);

 private:
  std::mutex mutex_;
  std::vector<std::shared_ptr<std::condition_variable>> pending_;  // guarded by mutex_
};

using SyncLock = std::unique_lock<SyncMutexType>;

// Guards every Waitable's state and waiter list, and the handle table.
SyncMutexType& SyncMutex();

struct Waiter;

class Waitable {
 public:
  virtual ~Waitable() = default;
  virtual bool SignalledLocked() const = 0;
  // Called once a wait is satisfied by this object (an auto-reset event clears itself).
  virtual void AcquireLocked() {}
  // When the object turns signalled by itself at a known time (message-queue timers).
  virtual std::optional<Clock::time_point> WakeTimeLocked() const { return std::nullopt; }

  // Offers the object's signalled state to the threads waiting on it, oldest first.
  void SignalWaitersLocked();

 private:
  friend DWORD WaitLocked(SyncLock&, const std::vector<std::shared_ptr<Waitable>>&, bool,
                          std::optional<Clock::time_point>);
  std::vector<Waiter*> waiters_;  // guarded by SyncMutex()
};

// A manual- or auto-reset event; also used inside the runtime without a handle.
class EventObject : public Waitable {
 public:
  EventObject(bool manualReset, bool initialState) : manual_(manualReset), signalled_(initialState) {}
  bool SignalledLocked() const override { return signalled_; }
  void AcquireLocked() override {
    if (!manual_) signalled_ = false;
  }
  void SetLocked() {
    signalled_ = true;
    SignalWaitersLocked();
  }
  void ResetLocked() { signalled_ = false; }
  void PulseLocked() {
    SetLocked();
    signalled_ = false;
  }

 private:
  const bool manual_;
  bool signalled_;  // guarded by SyncMutex()
};

// Waits until all (waitAll) or any of objects are signalled, or until deadline (none:
// forever). Returns WAIT_OBJECT_0 + the lowest signalled index (WAIT_OBJECT_0 for wait-all)
// or WAIT_TIMEOUT. lock holds SyncMutex(); it is released while the thread sleeps.
DWORD WaitLocked(SyncLock& lock, const std::vector<std::shared_ptr<Waitable>>& objects,
                 bool waitAll, std::optional<Clock::time_point> deadline);

// Converts a time-out in milliseconds to a deadline (INFINITE: none).
std::optional<Clock::time_point> DeadlineAfter(DWORD timeoutMs);

// The handle table. Handles are never reused, so a stale handle fails cleanly.
HANDLE InsertHandleLocked(std::shared_ptr<Waitable> object);
std::shared_ptr<Waitable> LookupHandleLocked(HANDLE h);
// Appends the objects of count handles to objects. False when one of them is not a live
// handle: the last error is then ERROR_INVALID_HANDLE and lock (on SyncMutex()) is released.
bool LookupHandlesLocked(SyncLock& lock, const HANDLE* handles, DWORD count,
                         std::vector<std::shared_ptr<Waitable>>& objects);

// Ends the calling thread's message queue (implemented with the queues); called by
// threads the runtime started before their handle becomes signalled.
void ReleaseThreadQueue();

}  // namespace tav::rt
