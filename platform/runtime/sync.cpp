// Events, waits, threads, critical sections, interlocked operations, clocks and the
// per-thread error code.
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <new>
#include <unordered_map>

#include "media/contract/hresult.h"
#include "platform/runtime/waitable.h"

namespace tav::rt {

SyncMutexType& SyncMutex() {
  static SyncMutexType* m = new SyncMutexType;  // never destroyed: threads may outlive static teardown
  return *m;
}

void SyncMutexType::unlock() {
  if (pending_.empty()) {
    mutex_.unlock();
    return;
  }
  // Usually one waiter or two: those are moved to the stack, so the list keeps its memory.
  constexpr size_t kInline = 4;
  std::shared_ptr<std::condition_variable> few[kInline];
  std::vector<std::shared_ptr<std::condition_variable>> many;
  const size_t count = pending_.size();
  if (count <= kInline) {
    std::move(pending_.begin(), pending_.end(), few);
    pending_.clear();
  } else {
    many.swap(pending_);
  }
  mutex_.unlock();
  for (size_t i = 0; i < count; ++i) (count <= kInline ? few[i] : many[i])->notify_all();
}

void SyncMutexType::NotifyOnUnlockLocked(std::shared_ptr<std::condition_variable> cv) {
  pending_.push_back(std::move(cv));
}

void SyncMutexType::SleepLocked(std::condition_variable& cv, std::optional<Clock::time_point> deadline) {
  // Wake-ups this thread decided cannot wait for an unlock() that happens after its sleep.
  for (const auto& other : pending_) other->notify_all();
  pending_.clear();
  std::unique_lock<std::mutex> raw(mutex_, std::adopt_lock);
  if (deadline) {
    cv.wait_until(raw, *deadline);
  } else {
    cv.wait(raw);
  }
  raw.release();  // still held, now by the caller's lock again
}

// A thread waiting in WaitLocked. Shared, so that a wake-up queued for it stays valid after
// the wait has ended.
struct Waiter : std::enable_shared_from_this<Waiter> {
  std::condition_variable cv;
  const std::vector<std::shared_ptr<Waitable>>* objects = nullptr;
  bool waitAll = false;
  bool done = false;  // guarded by SyncMutex()
  DWORD result = WAIT_TIMEOUT;
};

namespace {

// Takes the objects when the wait's condition holds now, and sets *result.
bool TrySatisfyLocked(const std::vector<std::shared_ptr<Waitable>>& objs, bool waitAll, DWORD* result) {
  if (waitAll) {
    for (const auto& o : objs)
      if (!o->SignalledLocked()) return false;
    for (const auto& o : objs) o->AcquireLocked();
    *result = WAIT_OBJECT_0;
  } else {
    size_t i = 0;
    while (i < objs.size() && !objs[i]->SignalledLocked()) ++i;
    if (i == objs.size()) return false;
    objs[i]->AcquireLocked();
    *result = WAIT_OBJECT_0 + DWORD(i);
  }
  return true;
}

bool TrySatisfyLocked(Waiter& w) {
  w.done = TrySatisfyLocked(*w.objects, w.waitAll, &w.result);
  return w.done;
}

}  // namespace

void Waitable::SignalWaitersLocked() {
  for (Waiter* w : waiters_) {
    if (!SignalledLocked()) break;
    if (!w->done && TrySatisfyLocked(*w))
      SyncMutex().NotifyOnUnlockLocked(std::shared_ptr<std::condition_variable>(w->shared_from_this(), &w->cv));
  }
}

DWORD WaitLocked(SyncLock& lock, const std::vector<std::shared_ptr<Waitable>>& objects, bool waitAll,
                 std::optional<Clock::time_point> deadline) {
  DWORD result = WAIT_TIMEOUT;
  if (TrySatisfyLocked(objects, waitAll, &result)) return result;
  if (deadline && Clock::now() >= *deadline) return WAIT_TIMEOUT;

  // Only a wait that sleeps needs a waiter; it is shared with the wake-ups queued for it.
  const auto held = std::make_shared<Waiter>();
  Waiter& w = *held;
  w.objects = &objects;
  w.waitAll = waitAll;
  for (const auto& o : objects) o->waiters_.push_back(&w);
  while (!w.done) {
    std::optional<Clock::time_point> wake = deadline;
    for (const auto& o : objects) {
      if (auto t = o->WakeTimeLocked(); t && (!wake || *t < *wake)) wake = t;
    }
    lock.mutex()->SleepLocked(w.cv, wake);
    if (w.done) break;
    // Timed objects turn signalled without anyone offering them.
    if (TrySatisfyLocked(w)) break;
    if (deadline && Clock::now() >= *deadline) break;
  }
  for (const auto& o : objects) {
    auto& list = o->waiters_;
    list.erase(std::remove(list.begin(), list.end(), &w), list.end());
  }
  return w.done ? w.result : WAIT_TIMEOUT;
}

std::optional<Clock::time_point> DeadlineAfter(DWORD timeoutMs) {
  if (timeoutMs == INFINITE) return std::nullopt;
  return Clock::now() + std::chrono::milliseconds(timeoutMs);
}

namespace {

struct HandleTable {
  std::unordered_map<uintptr_t, std::shared_ptr<Waitable>> objects;  // guarded by SyncMutex()
  uintptr_t next = 0x100;                                          // guarded by SyncMutex()
};
HandleTable& Handles() {
  static HandleTable* t = new HandleTable;  // never destroyed, like SyncMutex()
  return *t;
}

}  // namespace

HANDLE InsertHandleLocked(std::shared_ptr<Waitable> object) {
  HandleTable& t = Handles();
  const uintptr_t value = t.next;
  t.next += 4;
  t.objects.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<Waitable> LookupHandleLocked(HANDLE h) {
  HandleTable& t = Handles();
  auto it = t.objects.find(reinterpret_cast<uintptr_t>(h));
  return it == t.objects.end() ? nullptr : it->second;
}

bool LookupHandlesLocked(SyncLock& lock, const HANDLE* handles, DWORD count,
                         std::vector<std::shared_ptr<Waitable>>& objects) {
  objects.reserve(objects.size() + count);
  for (DWORD i = 0; i < count; ++i) {
    auto o = LookupHandleLocked(handles[i]);
    if (!o) {
      lock.unlock();
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    objects.push_back(std::move(o));
  }
  return true;
}

namespace {

// A thread started by CreateThread; signalled once the thread has ended.
class ThreadObject : public Waitable {
 public:
  bool SignalledLocked() const override { return ended; }
  bool ended = false;             // guarded by SyncMutex()
  DWORD exitCode = STILL_ACTIVE;  // guarded by SyncMutex()
  DWORD threadId = 0;
  pid_t kernelTid = 0;                 // guarded by SyncMutex(); 0 until the thread runs
  std::optional<int> pendingPriority;  // guarded by SyncMutex(); set before the thread ran
  pthread_t pthread{};
  LPTHREAD_START_ROUTINE start = nullptr;
  void* param = nullptr;
  std::shared_ptr<ThreadObject> self;  // keeps the object alive until the thread ends
};

std::atomic<DWORD> g_nextThreadId{1};
thread_local DWORD t_threadId = 0;
thread_local DWORD t_lastError = 0;

// Thread priorities as scheduler nice values relative to the process's own, so a
// "below normal" thread of a process started with nice 10 runs at 11, never above the
// process. Lowering always works; raising needs privileges a desktop user does not have
// and is then left as it is.
int NiceFor(int priority) {
  static const int processNice = [] {
    errno = 0;
    const int n = getpriority(PRIO_PROCESS, id_t(getpid()));
    return errno == 0 ? n : 0;
  }();
  return std::clamp(processNice - std::clamp(priority, -19, 19), -20, 19);
}
void ApplyPriority(pid_t tid, int priority) { (void)setpriority(PRIO_PROCESS, id_t(tid), NiceFor(priority)); }

void* ThreadMain(void* arg) {
  auto* raw = static_cast<ThreadObject*>(arg);
  t_threadId = raw->threadId;
  {
    std::lock_guard lock(SyncMutex());
    raw->kernelTid = pid_t(syscall(SYS_gettid));
    if (raw->pendingPriority) ApplyPriority(raw->kernelTid, *raw->pendingPriority);
  }
  const DWORD rc = raw->start(raw->param);
  ReleaseThreadQueue();
  std::shared_ptr<ThreadObject> obj;
  {
    std::lock_guard lock(SyncMutex());
    obj = std::move(raw->self);
    obj->exitCode = rc;
    obj->ended = true;
    obj->SignalWaitersLocked();
  }
  return nullptr;
}

template <typename T>
std::shared_ptr<T> LookupAs(HANDLE h) {
  return std::dynamic_pointer_cast<T>(LookupHandleLocked(h));
}

std::recursive_mutex* CsMutex(CRITICAL_SECTION* cs) {
  return std::launder(reinterpret_cast<std::recursive_mutex*>(cs->storage));
}
static_assert(sizeof(std::recursive_mutex) <= sizeof(CRITICAL_SECTION::storage));
static_assert(alignof(std::recursive_mutex) <= alignof(CRITICAL_SECTION));

timespec MonotonicNow() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts;
}

}  // namespace
}  // namespace tav::rt

using namespace tav::rt;

HANDLE CreateEvent(void*, BOOL manualReset, BOOL initialState, LPCSTR) {
  auto ev = std::make_shared<EventObject>(manualReset != FALSE, initialState != FALSE);
  std::lock_guard lock(SyncMutex());
  return InsertHandleLocked(std::move(ev));
}

namespace {
BOOL ChangeEvent(HANDLE h, void (EventObject::*change)()) {
  std::lock_guard lock(SyncMutex());
  auto ev = LookupAs<EventObject>(h);
  if (!ev) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  ((*ev).*change)();
  return TRUE;
}
}  // namespace

BOOL SetEvent(HANDLE h) { return ChangeEvent(h, &EventObject::SetLocked); }
BOOL ResetEvent(HANDLE h) { return ChangeEvent(h, &EventObject::ResetLocked); }
BOOL PulseEvent(HANDLE h) { return ChangeEvent(h, &EventObject::PulseLocked); }

DWORD WaitForSingleObject(HANDLE h, DWORD timeoutMs) { return WaitForMultipleObjects(1, &h, FALSE, timeoutMs); }

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD timeoutMs) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !handles) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  const auto deadline = DeadlineAfter(timeoutMs);
  std::unique_lock lock(SyncMutex());
  std::vector<std::shared_ptr<Waitable>> objects;
  if (!LookupHandlesLocked(lock, handles, count, objects)) return WAIT_FAILED;
  return WaitLocked(lock, objects, waitAll != FALSE, deadline);
}

BOOL CloseHandle(HANDLE h) {
  std::shared_ptr<Waitable> dropped;  // destroyed outside the lock
  std::lock_guard lock(SyncMutex());
  auto& table = Handles().objects;
  auto it = table.find(reinterpret_cast<uintptr_t>(h));
  if (it == table.end()) {
    t_lastError = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  dropped = std::move(it->second);
  table.erase(it);
  return TRUE;
}

BOOL DuplicateHandle(HANDLE h, HANDLE* out) {
  if (!out) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard lock(SyncMutex());
  auto o = LookupHandleLocked(h);
  if (!o) {
    t_lastError = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  *out = InsertHandleLocked(std::move(o));
  return TRUE;
}

HANDLE CreateThread(void*, SIZE_T stackSize, LPTHREAD_START_ROUTINE start, void* param, DWORD, DWORD* threadId) {
  if (!start) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto obj = std::make_shared<ThreadObject>();
  obj->start = start;
  obj->param = param;
  obj->threadId = g_nextThreadId.fetch_add(1);
  obj->self = obj;

  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  if (stackSize) pthread_attr_setstacksize(&attr, std::max<size_t>(stackSize, PTHREAD_STACK_MIN));
  HANDLE h;
  {
    std::lock_guard lock(SyncMutex());
    h = InsertHandleLocked(obj);
  }
  const int err = pthread_create(&obj->pthread, &attr, ThreadMain, obj.get());
  pthread_attr_destroy(&attr);
  if (err != 0) {
    {
      std::lock_guard lock(SyncMutex());
      obj->self.reset();
    }
    CloseHandle(h);  // never handed out: the failed creation closes its own handle
    SetLastError(DWORD(tav::Win32ErrorFromErrno(err == EAGAIN ? ENOMEM : err)));
    return nullptr;
  }
  if (threadId) *threadId = obj->threadId;
  return h;
}

BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode) {
  if (!exitCode) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard lock(SyncMutex());
  auto t = LookupAs<ThreadObject>(thread);
  if (!t) {
    t_lastError = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  *exitCode = t->exitCode;
  return TRUE;
}

BOOL SetThreadPriority(HANDLE thread, int priority) {
  std::lock_guard lock(SyncMutex());
  auto t = LookupAs<ThreadObject>(thread);
  if (!t) {
    t_lastError = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  if (t->ended) return TRUE;
  if (t->kernelTid) {
    ApplyPriority(t->kernelTid, priority);
  } else {
    t->pendingPriority = priority;  // applied when the thread starts
  }
  return TRUE;
}

DWORD GetCurrentThreadId() {
  if (t_threadId == 0) t_threadId = g_nextThreadId.fetch_add(1);
  return t_threadId;
}

DWORD GetCurrentProcessId() { return DWORD(getpid()); }

void Sleep(DWORD ms) {
  if (ms == 0) {
    sched_yield();
    return;
  }
  if (ms == INFINITE) {
    for (;;) pause();
  }
  timespec ts{time_t(ms / 1000), long(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

ULONGLONG GetTickCount64() {
  const timespec ts = MonotonicNow();
  return ULONGLONG(ts.tv_sec) * 1000u + ULONGLONG(ts.tv_nsec) / 1000000u;
}
DWORD GetTickCount() { return DWORD(GetTickCount64()); }
DWORD timeGetTime() { return DWORD(GetTickCount64()); }

BOOL QueryPerformanceCounter(LARGE_INTEGER* count) {
  if (!count) return FALSE;
  const timespec ts = MonotonicNow();
  count->QuadPart = LONGLONG(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
  return TRUE;
}
BOOL QueryPerformanceFrequency(LARGE_INTEGER* freq) {
  if (!freq) return FALSE;
  freq->QuadPart = 1000000000LL;
  return TRUE;
}

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD err) { t_lastError = err; }

LONG InterlockedIncrement(volatile LONG* v) { return __atomic_add_fetch(v, 1, __ATOMIC_SEQ_CST); }
LONG InterlockedDecrement(volatile LONG* v) { return __atomic_sub_fetch(v, 1, __ATOMIC_SEQ_CST); }
LONG InterlockedExchange(volatile LONG* v, LONG value) { return __atomic_exchange_n(v, value, __ATOMIC_SEQ_CST); }
LONG InterlockedCompareExchange(volatile LONG* v, LONG exchange, LONG comparand) {
  __atomic_compare_exchange_n(v, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return comparand;  // the value found, whether or not it was replaced
}

void InitializeCriticalSection(CRITICAL_SECTION* cs) { new (cs->storage) std::recursive_mutex; }
void DeleteCriticalSection(CRITICAL_SECTION* cs) { CsMutex(cs)->~recursive_mutex(); }
void EnterCriticalSection(CRITICAL_SECTION* cs) { CsMutex(cs)->lock(); }
BOOL TryEnterCriticalSection(CRITICAL_SECTION* cs) { return CsMutex(cs)->try_lock() ? TRUE : FALSE; }
void LeaveCriticalSection(CRITICAL_SECTION* cs) { CsMutex(cs)->unlock(); }
