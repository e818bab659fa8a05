// Window handles and per-thread message queues.
//
// A queue belongs to one thread and is made on that thread's first use of messages. Every
// window handle is owned by the queue of the thread that created it; any thread may post
// to it, only the owner drains and dispatches. Timers live on the owner's queue and turn
// into WM_TIMER when the queue is read, so they never pile up. The queue's state is guarded
// by SyncMutex() like every other waitable, so MsgWaitForMultipleObjects can wait for
// handles and input at once.
//
// For event loops that are not ours (Qt, poll()), each queue exposes an epoll descriptor
// holding an eventfd, kept readable while messages wait, and a timerfd armed for the
// earliest timer.
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <unordered_map>

#include "media/contract/hresult.h"
#include "media/contract/trace.h"
#include "media/contract/window.h"
#include "platform/runtime/waitable.h"

TAV_TRACE_SOURCE(kMessages, nullptr);

namespace tav::rt {
namespace {

constexpr DWORD kErrorInvalidWindowHandle = 1400;
constexpr DWORD kErrorInvalidThreadId = 1444;
constexpr DWORD kErrorNotEnoughQuota = 1816;
// A queue that nobody drains must not eat all memory.
constexpr size_t kMaxPostedMessages = 100000;
constexpr UINT kMinTimerMs = 10;
constexpr UINT kMaxTimerMs = 0x7FFFFFFF;

// A message sent from another thread; the sender waits for done.
struct SentMessage {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  LRESULT result = 0;                                                      // guarded by SyncMutex()
  std::shared_ptr<EventObject> done = std::make_shared<EventObject>(true, false);  // manual reset
};

struct Timer {
  HWND hwnd;
  UINT_PTR id;
  UINT elapseMs;
  TIMERPROC proc;
  Clock::time_point due;
};

class Queue;

// Signalled while messages sent from other threads wait; a thread blocked in SendMessage
// waits on it so that two threads sending to each other do not deadlock.
class SentSignal : public Waitable {
 public:
  explicit SentSignal(const Queue* q) : queue_(q) {}
  bool SignalledLocked() const override;

 private:
  const Queue* queue_;
};

class Queue : public Waitable {
 public:
  explicit Queue(DWORD tid) : threadId(tid), sentSignal(std::make_shared<SentSignal>(this)) {
    eventFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    epollFd = epoll_create1(EPOLL_CLOEXEC);
    if (epollFd >= 0) {
      for (int fd : {eventFd, timerFd}) {
        if (fd < 0) continue;
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = fd;
        epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &ev);
      }
    }
  }
  ~Queue() override {
    for (int fd : {epollFd, eventFd, timerFd})
      if (fd >= 0) close(fd);
  }

  // Input that arrived since the thread last looked at its queue, or a due timer
  // (what MsgWaitForMultipleObjects waits for).
  bool SignalledLocked() const override { return alive && (newInput || !sent.empty() || DueTimerLocked()); }
  std::optional<Clock::time_point> WakeTimeLocked() const override {
    std::optional<Clock::time_point> t;
    for (const Timer& tm : timers)
      if (!t || tm.due < *t) t = tm.due;
    return t;
  }

  bool DueTimerLocked() const {
    if (timers.empty()) return false;
    const auto now = Clock::now();
    return std::any_of(timers.begin(), timers.end(), [&](const Timer& t) { return t.due <= now; });
  }

  // Call after every change of the queue's contents.
  void ChangedLocked(bool input) {
    if (input) newInput = true;
    const bool waiting = !posted.empty() || !sent.empty() || quit;
    if (eventFd >= 0 && waiting != eventFdSet) {
      uint64_t v = 1;
      if (waiting) {
        (void)!write(eventFd, &v, sizeof v);
      } else {
        (void)!read(eventFd, &v, sizeof v);
      }
      eventFdSet = waiting;
    }
    cv.notify_all();
    SignalWaitersLocked();
    sentSignal->SignalWaitersLocked();
  }

  // Arms the timerfd for the earliest timer (disarms it when there is none).
  void TimersChangedLocked() {
    if (timerFd >= 0) {
      itimerspec wake{};
      if (auto due = WakeTimeLocked()) {
        auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(due->time_since_epoch()).count();
        if (ns <= 0) ns = 1;  // zero would disarm
        wake.it_value.tv_sec = time_t(ns / 1000000000);
        wake.it_value.tv_nsec = long(ns % 1000000000);
      }
      timerfd_settime(timerFd, TFD_TIMER_ABSTIME, &wake, nullptr);
    }
    cv.notify_all();
    SignalWaitersLocked();
  }

  const DWORD threadId;
  const std::shared_ptr<SentSignal> sentSignal;
  // Woken on every change; only the owner thread waits on it (in GetMessage).
  std::condition_variable cv;

  // All guarded by SyncMutex().
  bool alive = true;
  bool newInput = false;
  std::deque<MSG> posted;
  std::deque<std::shared_ptr<SentMessage>> sent;
  std::vector<Timer> timers;
  bool quit = false;
  int quitCode = 0;
  bool eventFdSet = false;
  int eventFd = -1;
  int timerFd = -1;
  int epollFd = -1;
};

bool SentSignal::SignalledLocked() const { return !queue_->sent.empty(); }

struct WindowEntry {
  WNDPROC proc;
  void* userData;
  std::shared_ptr<Queue> owner;
};

struct Registry {
  std::unordered_map<DWORD, std::shared_ptr<Queue>> queues;  // by thread id
  std::unordered_map<uintptr_t, WindowEntry> windows;
  uintptr_t nextWindow = 0x10000;
  UINT_PTR nextTimerId = 0x7FFF0000;
};
// Guarded by SyncMutex(); never destroyed, since queues of other threads may outlive
// static destruction.
Registry& Reg() {
  static Registry* r = new Registry;
  return *r;
}

// Ends the thread's queue when the thread ends, however it was started.
struct QueueHolder {
  std::shared_ptr<Queue> queue;
  ~QueueHolder() { ReleaseThreadQueue(); }
};
thread_local QueueHolder t_queue;

Queue& CurrentQueue() {
  if (!t_queue.queue) {
    auto q = std::make_shared<Queue>(GetCurrentThreadId());
    std::lock_guard lock(SyncMutex());
    Reg().queues[q->threadId] = q;
    t_queue.queue = std::move(q);
  }
  return *t_queue.queue;
}

WindowEntry* FindWindowLocked(HWND hwnd) {
  auto it = Reg().windows.find(reinterpret_cast<uintptr_t>(hwnd));
  return it == Reg().windows.end() ? nullptr : &it->second;
}

bool MatchesFilter(HWND msgHwnd, UINT message, HWND hwnd, UINT filterMin, UINT filterMax) {
  if (hwnd == reinterpret_cast<HWND>(-1)) {
    if (msgHwnd) return false;  // thread messages only
  } else if (hwnd && msgHwnd != hwnd) {
    return false;
  }
  if (filterMin == 0 && filterMax == 0) return true;
  return message >= filterMin && message <= filterMax;
}

// Runs the window procedures of messages sent from other threads. Drops and retakes lock.
void ProcessSentLocked(Queue& q, SyncLock& lock) {
  while (!q.sent.empty()) {
    auto s = q.sent.front();
    q.sent.pop_front();
    q.ChangedLocked(false);
    WindowEntry* w = FindWindowLocked(s->hwnd);
    WNDPROC proc = w ? w->proc : nullptr;
    LRESULT r = 0;
    if (proc) {
      lock.unlock();
      r = proc(s->hwnd, s->message, s->wParam, s->lParam);
      lock.lock();
    }
    s->result = r;
    s->done->SetLocked();
  }
}

// Finishes a sent message that can no longer be delivered.
void CancelSentLocked(const std::shared_ptr<SentMessage>& s) {
  s->result = 0;
  s->done->SetLocked();
}

// The body of PeekMessage, with the lock held.
bool PeekLocked(Queue& q, SyncLock& lock, MSG* out, HWND hwnd, UINT filterMin,
                UINT filterMax, bool remove) {
  ProcessSentLocked(q, lock);
  q.newInput = false;

  for (auto it = q.posted.begin(); it != q.posted.end(); ++it) {
    if (!MatchesFilter(it->hwnd, it->message, hwnd, filterMin, filterMax)) continue;
    *out = *it;
    if (remove) {
      q.posted.erase(it);
      q.ChangedLocked(false);
    }
    return true;
  }
  if (q.quit && (!hwnd || hwnd == reinterpret_cast<HWND>(-1)) &&
      MatchesFilter(nullptr, WM_QUIT, nullptr, filterMin, filterMax)) {
    *out = MSG{nullptr, WM_QUIT, WPARAM(q.quitCode), 0, GetTickCount()};
    if (remove) {
      q.quit = false;
      q.ChangedLocked(false);
    }
    return true;
  }
  // The timer that has been due longest comes first.
  const auto now = Clock::now();
  Timer* best = nullptr;
  for (Timer& t : q.timers) {
    if (t.due > now || !MatchesFilter(t.hwnd, WM_TIMER, hwnd, filterMin, filterMax)) continue;
    if (!best || t.due < best->due) best = &t;
  }
  if (best) {
    *out = MSG{best->hwnd, WM_TIMER, WPARAM(best->id), reinterpret_cast<LPARAM>(best->proc), GetTickCount()};
    if (remove) {
      best->due = now + std::chrono::milliseconds(best->elapseMs);
      q.TimersChangedLocked();
    }
    return true;
  }
  return false;
}

}  // namespace

void ReleaseThreadQueue() {
  std::shared_ptr<Queue> q = std::move(t_queue.queue);
  if (!q) return;
  std::lock_guard lock(SyncMutex());
  q->alive = false;
  auto& reg = Reg();
  if (auto it = reg.queues.find(q->threadId); it != reg.queues.end() && it->second == q) reg.queues.erase(it);
  for (auto it = reg.windows.begin(); it != reg.windows.end();) {
    it = it->second.owner == q ? reg.windows.erase(it) : std::next(it);
  }
  for (auto& s : q->sent) CancelSentLocked(s);
  q->sent.clear();
  q->posted.clear();
  q->timers.clear();
  q->quit = false;
  q->ChangedLocked(false);
  q->TimersChangedLocked();
}

}  // namespace tav::rt

using namespace tav::rt;

HWND CreatePlatformWindow(WNDPROC proc, void* userData) {
  CurrentQueue();
  std::lock_guard lock(SyncMutex());
  auto& reg = Reg();
  const uintptr_t value = reg.nextWindow;
  reg.nextWindow += 4;
  reg.windows.emplace(value, WindowEntry{proc, userData, t_queue.queue});
  TAV_TRACE("CreatePlatformWindow -> %#lx on thread %u", (unsigned long)value, GetCurrentThreadId());
  return reinterpret_cast<HWND>(value);
}

BOOL DestroyWindow(HWND hwnd) {
  TAV_TRACE("DestroyWindow(%p)", static_cast<void*>(hwnd));
  WNDPROC proc = nullptr;
  bool ownThread = false;
  {
    std::lock_guard lock(SyncMutex());
    WindowEntry* w = FindWindowLocked(hwnd);
    if (!w) {
      SetLastError(kErrorInvalidWindowHandle);
      return FALSE;
    }
    proc = w->proc;
    ownThread = w->owner->threadId == GetCurrentThreadId();
  }
  // WM_DESTROY reaches the procedure only on the owner thread; a handle released from
  // another thread (a filter torn down on a worker) is simply dropped.
  if (ownThread && proc) proc(hwnd, WM_DESTROY, 0, 0);

  std::lock_guard lock(SyncMutex());
  auto& reg = Reg();
  auto it = reg.windows.find(reinterpret_cast<uintptr_t>(hwnd));
  if (it == reg.windows.end()) return TRUE;  // destroyed from within WM_DESTROY
  std::shared_ptr<Queue> q = it->second.owner;
  reg.windows.erase(it);
  std::erase_if(q->posted, [&](const MSG& m) { return m.hwnd == hwnd; });
  std::erase_if(q->timers, [&](const Timer& t) { return t.hwnd == hwnd; });
  for (auto s = q->sent.begin(); s != q->sent.end();) {
    if ((*s)->hwnd == hwnd) {
      CancelSentLocked(*s);
      s = q->sent.erase(s);
    } else {
      ++s;
    }
  }
  q->ChangedLocked(false);
  q->TimersChangedLocked();
  return TRUE;
}

BOOL IsWindow(HWND hwnd) {
  std::lock_guard lock(SyncMutex());
  return FindWindowLocked(hwnd) ? TRUE : FALSE;
}

void* GetWindowUserData(HWND hwnd) {
  std::lock_guard lock(SyncMutex());
  WindowEntry* w = FindWindowLocked(hwnd);
  return w ? w->userData : nullptr;
}

void SetWindowUserData(HWND hwnd, void* data) {
  std::lock_guard lock(SyncMutex());
  if (WindowEntry* w = FindWindowLocked(hwnd)) w->userData = data;
}

namespace {
BOOL PostToQueueLocked(Queue& q, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!q.alive) {
    SetLastError(kErrorInvalidThreadId);
    return FALSE;
  }
  if (q.posted.size() >= kMaxPostedMessages) {
    SetLastError(kErrorNotEnoughQuota);
    return FALSE;
  }
  q.posted.push_back(MSG{hwnd, msg, wParam, lParam, GetTickCount()});
  q.ChangedLocked(true);
  return TRUE;
}
}  // namespace

BOOL PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  TAV_TRACE("PostMessage(%p, %#x, %#lx, %#lx)", static_cast<void*>(hwnd), msg, (unsigned long)wParam, (long)lParam);
  if (!hwnd) return PostThreadMessage(GetCurrentThreadId(), msg, wParam, lParam);
  std::lock_guard lock(SyncMutex());
  WindowEntry* w = FindWindowLocked(hwnd);
  if (!w) {
    SetLastError(kErrorInvalidWindowHandle);
    return FALSE;
  }
  return PostToQueueLocked(*w->owner, hwnd, msg, wParam, lParam);
}

BOOL PostThreadMessage(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam) {
  TAV_TRACE("PostThreadMessage(%u, %#x, %#lx, %#lx)", threadId, msg, (unsigned long)wParam, (long)lParam);
  if (threadId == GetCurrentThreadId()) CurrentQueue();
  std::lock_guard lock(SyncMutex());
  auto it = Reg().queues.find(threadId);
  if (it == Reg().queues.end()) {
    SetLastError(kErrorInvalidThreadId);
    return FALSE;
  }
  return PostToQueueLocked(*it->second, nullptr, msg, wParam, lParam);
}

LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  TAV_TRACE("SendMessage(%p, %#x, %#lx, %#lx)", static_cast<void*>(hwnd), msg, (unsigned long)wParam, (long)lParam);
  std::unique_lock lock(SyncMutex());
  WindowEntry* w = FindWindowLocked(hwnd);
  if (!w) {
    SetLastError(kErrorInvalidWindowHandle);
    return 0;
  }
  if (w->owner->threadId == GetCurrentThreadId()) {
    WNDPROC proc = w->proc;
    lock.unlock();
    return proc ? proc(hwnd, msg, wParam, lParam) : 0;
  }
  std::shared_ptr<Queue> target = w->owner;
  auto s = std::make_shared<SentMessage>();
  s->hwnd = hwnd;
  s->message = msg;
  s->wParam = wParam;
  s->lParam = lParam;
  target->sent.push_back(s);
  target->ChangedLocked(true);

  // Serve messages sent to this thread while waiting, if it has a queue.
  std::shared_ptr<Queue> own = t_queue.queue;
  std::vector<std::shared_ptr<Waitable>> objects{s->done};
  if (own) objects.push_back(own->sentSignal);
  for (;;) {
    const DWORD r = WaitLocked(lock, objects, false, std::nullopt);
    if (r == WAIT_OBJECT_0) return s->result;
    ProcessSentLocked(*own, lock);
  }
}

void PostQuitMessage(int exitCode) {
  TAV_TRACE("PostQuitMessage(%d)", exitCode);
  Queue& q = CurrentQueue();
  std::lock_guard lock(SyncMutex());
  q.quit = true;
  q.quitCode = exitCode;
  q.ChangedLocked(true);
}

BOOL PeekMessage(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeMsg) {
  if (!msg) return FALSE;
  Queue& q = CurrentQueue();
  std::unique_lock lock(SyncMutex());
  return PeekLocked(q, lock, msg, hwnd, filterMin, filterMax, (removeMsg & PM_REMOVE) != 0) ? TRUE : FALSE;
}

BOOL GetMessage(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax) {
  if (!msg) return -1;
  Queue& q = CurrentQueue();
  std::unique_lock lock(SyncMutex());
  if (hwnd && hwnd != reinterpret_cast<HWND>(-1) && !FindWindowLocked(hwnd)) {
    SetLastError(kErrorInvalidWindowHandle);
    return -1;
  }
  while (!PeekLocked(q, lock, msg, hwnd, filterMin, filterMax, true)) {
    // Sleep until the queue changes or the next timer that could match comes due.
    std::optional<Clock::time_point> wake;
    for (const Timer& t : q.timers) {
      if (!MatchesFilter(t.hwnd, WM_TIMER, hwnd, filterMin, filterMax)) continue;
      if (!wake || t.due < *wake) wake = t.due;
    }
    SyncMutex().SleepLocked(q.cv, wake);
  }
  return msg->message == WM_QUIT ? FALSE : TRUE;
}

LRESULT DispatchMessage(const MSG* msg) {
  if (!msg) return 0;
  if (msg->message == WM_TIMER && msg->lParam) {
    reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, UINT_PTR(msg->wParam), GetTickCount());
    return 0;
  }
  if (!msg->hwnd) return 0;
  WNDPROC proc = nullptr;
  {
    std::lock_guard lock(SyncMutex());
    if (WindowEntry* w = FindWindowLocked(msg->hwnd)) proc = w->proc;
  }
  return proc ? proc(msg->hwnd, msg->message, msg->wParam, msg->lParam) : 0;
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD timeoutMs, DWORD) {
  if (count >= MAXIMUM_WAIT_OBJECTS || (count && !handles)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  const auto deadline = DeadlineAfter(timeoutMs);
  CurrentQueue();
  std::unique_lock lock(SyncMutex());
  std::vector<std::shared_ptr<Waitable>> objects;
  if (!LookupHandlesLocked(lock, handles, count, objects)) return WAIT_FAILED;
  objects.push_back(t_queue.queue);
  return WaitLocked(lock, objects, waitAll != FALSE, deadline);
}

namespace {

// The queue that holds hwnd's timers: its owner's, or with no window the calling thread's,
// which must exist already. Null, with the last error set, for an unknown window.
std::shared_ptr<Queue> TimerQueueLocked(HWND hwnd) {
  if (!hwnd) return t_queue.queue;
  WindowEntry* w = FindWindowLocked(hwnd);
  if (!w) {
    SetLastError(kErrorInvalidWindowHandle);
    return nullptr;
  }
  return w->owner;
}

}  // namespace

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc) {
  TAV_TRACE("SetTimer(%p, %lu, %u ms)", static_cast<void*>(hwnd), (unsigned long)id, elapseMs);
  const UINT elapse = std::clamp(elapseMs, kMinTimerMs, kMaxTimerMs);
  if (!hwnd) CurrentQueue();  // made outside the lock, which it takes
  std::lock_guard lock(SyncMutex());
  const std::shared_ptr<Queue> q = TimerQueueLocked(hwnd);
  if (!q) return 0;
  const auto due = Clock::now() + std::chrono::milliseconds(elapse);
  auto existing = std::find_if(q->timers.begin(), q->timers.end(),
                               [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
  if (existing != q->timers.end() && (hwnd || id)) {
    *existing = Timer{hwnd, id, elapse, proc, due};
  } else {
    if (!hwnd) {
      // Timers without a window get an identifier of their own.
      auto& reg = Reg();
      do {
        id = reg.nextTimerId++;
        if (reg.nextTimerId == 0) reg.nextTimerId = 0x7FFF0000;
      } while (std::any_of(q->timers.begin(), q->timers.end(), [&](const Timer& t) { return t.id == id; }));
    }
    q->timers.push_back(Timer{hwnd, id, elapse, proc, due});
  }
  q->TimersChangedLocked();
  return hwnd ? (id ? id : 1) : id;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
  TAV_TRACE("KillTimer(%p, %lu)", static_cast<void*>(hwnd), (unsigned long)id);
  if (!hwnd) CurrentQueue();  // made outside the lock, which it takes
  std::lock_guard lock(SyncMutex());
  const std::shared_ptr<Queue> q = TimerQueueLocked(hwnd);
  if (!q) return FALSE;
  const size_t removed = std::erase_if(q->timers, [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
  if (!removed) return FALSE;
  q->TimersChangedLocked();
  return TRUE;
}

namespace tav {
int MessageQueueFd() { return CurrentQueue().epollFd; }
}  // namespace tav
