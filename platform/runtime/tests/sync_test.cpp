// Events, waits and threads: the semantics the streaming filters' hand-over protocols rely on.
// The tests close their handles by hand: CloseHandle is part of what they check.
#include <gtest/gtest.h>

#include "tests/support/testenv.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "media/contract/hresult.h"
#include "media/contract/sync.h"

namespace {

using namespace std::chrono_literals;

// Polls cond for up to ten seconds (only to observe other threads, never inside the runtime).
template <typename F>
bool Eventually(F cond) {
  return tavtest::WaitFor(cond, 10s);
}

// Kernel ids of threads a test starts, each filled in by the thread itself.
class ThreadIds {
 public:
  explicit ThreadIds(size_t count) : ids_(count) {}
  void Record(size_t i) { ids_[i] = tavtest::CurrentThreadId(); }
  // Every thread has started and is blocked (in the wait under test: they do nothing else).
  bool AllBlocked() const {
    for (const auto& id : ids_)
      if (id == 0 || !tavtest::ThreadIsBlocked(id)) return false;
    return true;
  }

 private:
  std::vector<std::atomic<int>> ids_;
};

// Threads that each wait (up to ten seconds) for one event and count themselves in
// released when the wait succeeds.
class EventWaiters {
 public:
  EventWaiters(HANDLE ev, int count) : ids_(size_t(count)) {
    for (int i = 0; i < count; ++i)
      threads_.emplace_back([this, ev, i] {
        ids_.Record(size_t(i));
        if (WaitForSingleObject(ev, 10000) == WAIT_OBJECT_0) released++;
      });
  }
  ~EventWaiters() { Join(); }
  // Every thread waits, or one has been released already (which the test then sees).
  bool Waiting() const { return ids_.AllBlocked() || released.load() > 0; }
  void Join() {
    for (auto& t : threads_)
      if (t.joinable()) t.join();
  }

  std::atomic<int> released{0};

 private:
  ThreadIds ids_;
  std::vector<std::thread> threads_;
};

TEST(RuntimeSyncEvents, AutoResetReleasesExactlyOneWaiterPerSet) {
  HANDLE ev = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  ASSERT_NE(ev, nullptr);
  constexpr int kWaiters = 8;
  EventWaiters waiters(ev, kWaiters);
  ASSERT_TRUE(Eventually([&] { return waiters.Waiting(); }));
  EXPECT_EQ(waiters.released.load(), 0);
  for (int k = 1; k <= kWaiters; ++k) {
    ASSERT_TRUE(SetEvent(ev));
    ASSERT_TRUE(Eventually([&] { return waiters.released.load() >= k; })) << "set " << k;
    // A second waiter released by the same set would show within this window; nothing can
    // announce that none will.
    std::this_thread::sleep_for(5ms);
    ASSERT_EQ(waiters.released.load(), k) << "one SetEvent released more than one waiter";
  }
  waiters.Join();
  // Every set was consumed by a waiter.
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);
  CloseHandle(ev);
}

TEST(RuntimeSyncEvents, AutoResetStaysSignalledUntilOneWaitConsumesIt) {
  HANDLE ev = CreateEvent(nullptr, FALSE, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);
  SetEvent(ev);
  SetEvent(ev);  // sets do not count up
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);
  CloseHandle(ev);
}

TEST(RuntimeSyncEvents, ManualResetStaysSignalledAndReleasesEveryWaiter) {
  HANDLE ev = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  EventWaiters waiters(ev, 5);
  ASSERT_TRUE(Eventually([&] { return waiters.Waiting(); }));
  EXPECT_EQ(waiters.released.load(), 0);
  SetEvent(ev);
  waiters.Join();
  EXPECT_EQ(waiters.released.load(), 5);
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_OBJECT_0);
  ResetEvent(ev);
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);
  CloseHandle(ev);
}

TEST(RuntimeSyncEvents, PulseReleasesCurrentWaitersAndLeavesEventReset) {
  // Only threads already blocked are released, so the pulse comes once all three wait.
  HANDLE ev = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  EventWaiters waiters(ev, 3);
  ASSERT_TRUE(Eventually([&] { return waiters.Waiting(); }));
  PulseEvent(ev);
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);
  waiters.Join();
  EXPECT_EQ(waiters.released.load(), 3);
  CloseHandle(ev);
}

TEST(RuntimeSyncWaits, WaitAnyReportsLowestSignalledIndexAndConsumesOnlyThatEvent) {
  HANDLE evs[4];
  for (auto& e : evs) e = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  SetEvent(evs[3]);
  SetEvent(evs[1]);
  EXPECT_EQ(WaitForMultipleObjects(4, evs, FALSE, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(4, evs, FALSE, 0), WAIT_OBJECT_0 + 3);
  EXPECT_EQ(WaitForMultipleObjects(4, evs, FALSE, 0), WAIT_TIMEOUT);

  // A blocked waiter is released by the event set later, with that event's index.
  DWORD result = WAIT_FAILED;
  ThreadIds id(1);
  std::thread t([&] {
    id.Record(0);
    result = WaitForMultipleObjects(4, evs, FALSE, 10000);
  });
  ASSERT_TRUE(Eventually([&] { return id.AllBlocked(); }));
  SetEvent(evs[2]);
  t.join();
  EXPECT_EQ(result, WAIT_OBJECT_0 + 2);
  for (auto e : evs) CloseHandle(e);
}

TEST(RuntimeSyncWaits, WaitAllTakesEveryObjectAtOnceOrNone) {
  HANDLE manual = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  HANDLE autoEv = CreateEvent(nullptr, FALSE, TRUE, nullptr);
  HANDLE both[2] = {manual, autoEv};
  // Only one signalled: the wait times out and the auto-reset event is left alone.
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 20), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(autoEv, 0), WAIT_OBJECT_0);

  DWORD result = WAIT_FAILED;
  ThreadIds id(1);
  std::thread t([&] {
    id.Record(0);
    result = WaitForMultipleObjects(2, both, TRUE, 10000);
  });
  ASSERT_TRUE(Eventually([&] { return id.AllBlocked(); }));
  SetEvent(autoEv);
  // A wait-all that wrongly took the auto event alone would do so within this window.
  std::this_thread::sleep_for(10ms);
  // The wait-all must not have taken the auto event yet; a wait-any for it still can.
  EXPECT_EQ(WaitForSingleObject(autoEv, 0), WAIT_OBJECT_0);
  SetEvent(autoEv);
  SetEvent(manual);
  t.join();
  EXPECT_EQ(result, WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(autoEv, 0), WAIT_TIMEOUT);  // consumed by the wait-all
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  CloseHandle(manual);
  CloseHandle(autoEv);
}

TEST(RuntimeSyncWaits, TimeoutsAreHonoured) {
  HANDLE ev = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForSingleObject(ev, 60), WAIT_TIMEOUT);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, 59ms);
  EXPECT_LT(waited, 1500ms);
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);
  CloseHandle(ev);
}

// Waiters are woken after the signalling thread lets go of the runtime's lock, so a waiter
// can time out and return between being chosen and being woken. Every set must still go to
// exactly one waiter, and the late wake-up must not touch a wait that has ended.
TEST(RuntimeSyncWaits, SetsRacingShortTimeoutsReachExactlyOneWaiterEach) {
  HANDLE ev = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  ASSERT_NE(ev, nullptr);
  constexpr int kWaiters = 4;
  constexpr int kSets = 2000;
  std::atomic<int> taken{0};
  std::atomic<bool> stop{false};
  std::vector<std::thread> waiters;
  for (int i = 0; i < kWaiters; ++i) {
    waiters.emplace_back([&] {
      while (!stop.load()) {
        if (WaitForSingleObject(ev, 1) == WAIT_OBJECT_0) taken++;
      }
    });
  }
  for (int k = 1; k <= kSets; ++k) {
    ASSERT_TRUE(SetEvent(ev));
    ASSERT_TRUE(tavtest::WaitFor([&] { return taken.load() >= k; }, 10s)) << "set " << k << " was lost";
    ASSERT_EQ(taken.load(), k) << "set " << k << " released more than one waiter";
  }
  stop = true;
  for (auto& t : waiters) t.join();
  EXPECT_EQ(taken.load(), kSets);
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);
  CloseHandle(ev);
}

TEST(RuntimeSyncWaits, BadHandlesFailCleanly) {
  HANDLE bogus = reinterpret_cast<HANDLE>(0x12345678);
  SetLastError(0);
  EXPECT_EQ(WaitForSingleObject(bogus, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
  EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
  EXPECT_FALSE(SetEvent(bogus));
  HANDLE ev = CreateEvent(nullptr, TRUE, TRUE, nullptr);
  HANDLE mixed[2] = {ev, bogus};
  EXPECT_EQ(WaitForMultipleObjects(2, mixed, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(WaitForMultipleObjects(0, mixed, FALSE, 0), WAIT_FAILED);
  EXPECT_TRUE(CloseHandle(ev));
  EXPECT_FALSE(CloseHandle(ev));
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_FAILED);
}

TEST(RuntimeSyncHandles, DuplicateKeepsObjectAliveAndClosingDuringWaitIsSafe) {
  // The waiter is blocked before its handle is closed: it keeps the object.
  HANDLE ev = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  HANDLE dup = nullptr;
  ASSERT_TRUE(DuplicateHandle(ev, &dup));
  EXPECT_NE(dup, ev);
  DWORD result = WAIT_FAILED;
  ThreadIds id(1);
  std::thread t([&] {
    id.Record(0);
    result = WaitForSingleObject(ev, 10000);
  });
  ASSERT_TRUE(Eventually([&] { return id.AllBlocked(); }));
  EXPECT_TRUE(CloseHandle(ev));
  SetEvent(dup);
  t.join();
  EXPECT_EQ(result, WAIT_OBJECT_0);
  CloseHandle(dup);

  // Closing the last handle while a thread waits: the waiter simply times out.
  HANDLE last = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  result = WAIT_FAILED;
  std::atomic<bool> returned{false};
  ThreadIds id2(1);
  std::thread t2([&] {
    id2.Record(0);
    result = WaitForSingleObject(last, 200);
    returned = true;
  });
  ASSERT_TRUE(Eventually([&] { return id2.AllBlocked() || returned; }));
  EXPECT_TRUE(CloseHandle(last));
  t2.join();
  EXPECT_TRUE(result == WAIT_TIMEOUT || result == WAIT_FAILED) << result;
}

DWORD WaitThenReturn(void* param) {
  WaitForSingleObject(static_cast<HANDLE>(param), 5000);
  return 42;
}

TEST(RuntimeSyncThreads, HandleSignalsWhenThreadEndsWithItsExitCode) {
  HANDLE go = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  DWORD id = 0;
  HANDLE th = CreateThread(nullptr, 0, WaitThenReturn, go, 0, &id);
  ASSERT_NE(th, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_NE(id, GetCurrentThreadId());
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(th, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(th, 10), WAIT_TIMEOUT);
  SetEvent(go);
  EXPECT_EQ(WaitForSingleObject(th, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(th, 0), WAIT_OBJECT_0);  // stays signalled
  ASSERT_TRUE(GetExitCodeThread(th, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_TRUE(SetThreadPriority(th, THREAD_PRIORITY_ABOVE_NORMAL));
  CloseHandle(th);
  CloseHandle(go);
}

// Returns the thread's scheduler nice value (+100) once released.
DWORD ReportNice(void* param) {
  WaitForSingleObject(static_cast<HANDLE>(param), 5000);
  errno = 0;
  return DWORD(getpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid))) + 100);
}

TEST(RuntimeSyncThreads, LoweredPriorityReachesTheThread) {
  const int base = getpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)));
  if (base >= 19) GTEST_SKIP() << "already at the lowest priority";
  HANDLE go = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  HANDLE th = CreateThread(nullptr, 0, ReportNice, go, 0, nullptr);
  EXPECT_TRUE(SetThreadPriority(th, THREAD_PRIORITY_BELOW_NORMAL));
  SetEvent(go);
  ASSERT_EQ(WaitForSingleObject(th, 5000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeThread(th, &code);
  EXPECT_EQ(int(code) - 100, base + 1);
  EXPECT_FALSE(SetThreadPriority(go, THREAD_PRIORITY_NORMAL));  // not a thread
  CloseHandle(th);
  CloseHandle(go);
}

TEST(RuntimeSyncThreads, ThreadsOutliveTheirClosedHandles) {
  HANDLE go = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  std::vector<HANDLE> threads;
  for (int i = 0; i < 4; ++i) threads.push_back(CreateThread(nullptr, 64 * 1024, WaitThenReturn, go, 0, nullptr));
  HANDLE keep = threads[0];
  for (size_t i = 1; i < threads.size(); ++i) CloseHandle(threads[i]);
  SetEvent(go);
  EXPECT_EQ(WaitForSingleObject(keep, 5000), WAIT_OBJECT_0);
  CloseHandle(keep);
  CloseHandle(go);
}

TEST(RuntimeSyncLocks, CriticalSectionIsRecursiveAndExcludesOtherThreads) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EXPECT_TRUE(TryEnterCriticalSection(&cs));
  bool otherGotIt = true;
  std::thread([&] { otherGotIt = TryEnterCriticalSection(&cs); }).join();
  EXPECT_FALSE(otherGotIt);
  LeaveCriticalSection(&cs);
  LeaveCriticalSection(&cs);
  std::thread([&] {
    otherGotIt = TryEnterCriticalSection(&cs);
    if (otherGotIt) LeaveCriticalSection(&cs);
  }).join();
  EXPECT_TRUE(otherGotIt);
  DeleteCriticalSection(&cs);
}

TEST(RuntimeSyncLocks, InterlockedOperationsAreAtomicAndLastErrorIsPerThread) {
  volatile LONG counter = 0;
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&] {
      for (int k = 0; k < 20000; ++k) {
        InterlockedIncrement(&counter);
        InterlockedDecrement(&counter);
        InterlockedIncrement(&counter);
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 80000);
  EXPECT_EQ(InterlockedExchange(&counter, 5), 80000);
  EXPECT_EQ(InterlockedCompareExchange(&counter, 9, 4), 5);  // no swap
  EXPECT_EQ(InterlockedCompareExchange(&counter, 9, 5), 5);
  EXPECT_EQ(counter, 9);

  SetLastError(1234);
  DWORD other = 1;
  std::thread([&] { other = GetLastError(); }).join();
  EXPECT_EQ(other, 0u);
  EXPECT_EQ(GetLastError(), 1234u);
}

TEST(RuntimeSyncClocks, ClocksAdvanceTogether) {
  LARGE_INTEGER f{}, a{}, b{};
  ASSERT_TRUE(QueryPerformanceFrequency(&f));
  ASSERT_TRUE(QueryPerformanceCounter(&a));
  const ULONGLONG t0 = GetTickCount64();
  Sleep(30);  // the time the clocks are compared over
  ASSERT_TRUE(QueryPerformanceCounter(&b));
  const ULONGLONG t1 = GetTickCount64();
  EXPECT_GE(t1 - t0, 29u);
  EXPECT_GE((b.QuadPart - a.QuadPart) * 1000 / f.QuadPart, 29);
  EXPECT_LE(DWORD(t1) - GetTickCount(), 5u);
  EXPECT_EQ(GetCurrentProcessId(), DWORD(getpid()));
}

}  // namespace
