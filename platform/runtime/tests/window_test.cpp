// Message queues: cross-thread posting and sending, destruction, quit, timers and the
// descriptor an outside event loop wakes on.
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>
#include <vector>

#include "media/contract/sync.h"
#include "media/contract/window.h"
#include "tests/support/testenv.h"

namespace {

using namespace std::chrono_literals;

// Everything a test window's procedure saw, in order.
struct Log {
  std::vector<MSG> seen;
};

LRESULT RecordingProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
  auto* log = static_cast<Log*>(GetWindowUserData(hwnd));
  if (log) log->seen.push_back(MSG{hwnd, msg, w, l, 0});
  return LRESULT(msg) + 1000;
}

bool Readable(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, timeoutMs) == 1 && (p.revents & POLLIN);
}

void Drain() {
  MSG m;
  while (PeekMessage(&m, nullptr, 0, 0, PM_REMOVE)) {
  }
}

TEST(RuntimeMsgQueue, PostsFromSeveralThreadsArriveCompleteAndInOrderPerSender) {
  Log log;
  HWND hwnd = CreatePlatformWindow(RecordingProc, &log);
  ASSERT_NE(hwnd, nullptr);
  constexpr int kSenders = 4;
  constexpr int kPerSender = 3000;
  std::vector<std::thread> senders;
  for (int s = 0; s < kSenders; ++s)
    senders.emplace_back([=] {
      for (int i = 0; i < kPerSender; ++i) ASSERT_TRUE(PostMessage(hwnd, WM_APP, WPARAM(s), LPARAM(i)));
    });
  MSG m;
  int received = 0;
  while (received < kSenders * kPerSender && GetMessage(&m, nullptr, 0, 0)) {
    DispatchMessage(&m);
    ++received;
  }
  for (auto& t : senders) t.join();
  ASSERT_EQ(log.seen.size(), size_t(kSenders * kPerSender));
  std::map<WPARAM, LPARAM> next;
  for (const MSG& seen : log.seen) {
    EXPECT_EQ(seen.message, WM_APP);
    EXPECT_EQ(seen.lParam, next[seen.wParam]) << "sender " << seen.wParam << " out of order";
    next[seen.wParam] = seen.lParam + 1;
  }
  for (int s = 0; s < kSenders; ++s) EXPECT_EQ(next[WPARAM(s)], kPerSender);
  DestroyWindow(hwnd);
}

TEST(RuntimeMsgQueue, SendMessageRunsOnTheOwnerThreadAndReturnsItsResult) {
  Log log;
  HWND hwnd = CreatePlatformWindow(RecordingProc, &log);
  EXPECT_EQ(SendMessage(hwnd, WM_USER, 1, 2), LRESULT(WM_USER) + 1000);  // same thread: direct
  ASSERT_EQ(log.seen.size(), 1u);

  std::atomic<LRESULT> result{0};
  std::atomic<bool> finished{false};
  std::thread sender([&] {
    result = SendMessage(hwnd, WM_USER + 1, 3, 4);
    finished = true;
  });
  // The send is served by this thread's message retrieval.
  MSG m;
  while (!finished) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    while (PeekMessage(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&m);
  }
  sender.join();
  EXPECT_EQ(result.load(), LRESULT(WM_USER + 1) + 1000);
  ASSERT_EQ(log.seen.size(), 2u);
  EXPECT_EQ(log.seen[1].wParam, 3u);
  DestroyWindow(hwnd);
}

// The worker's procedure sends back to the main thread while the main thread is itself
// blocked sending to the worker.
HWND g_mainWindow = nullptr;
LRESULT CallBackProc(HWND, UINT msg, WPARAM w, LPARAM) {
  if (msg == WM_APP) return SendMessage(g_mainWindow, WM_APP + 1, w, 0) + 1;
  if (msg == WM_APP + 1) return LRESULT(w) * 10;
  if (msg == WM_CLOSE) PostQuitMessage(0);
  return 0;
}

TEST(RuntimeMsgQueue, NestedSendsBetweenTwoThreadsDoNotDeadlock) {
  g_mainWindow = CreatePlatformWindow(CallBackProc, nullptr);
  HANDLE ready = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  HWND worker = nullptr;
  std::thread t([&] {
    worker = CreatePlatformWindow(CallBackProc, nullptr);
    SetEvent(ready);
    MSG m;
    while (GetMessage(&m, nullptr, 0, 0)) DispatchMessage(&m);
    DestroyWindow(worker);
  });
  ASSERT_EQ(WaitForSingleObject(ready, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(SendMessage(worker, WM_APP, 7, 0), 71);
  PostMessage(worker, WM_CLOSE, 0, 0);
  t.join();
  DestroyWindow(g_mainWindow);
  CloseHandle(ready);
}

TEST(RuntimeMsgQueue, SendToAWindowWhoseThreadEndsReturnsInsteadOfHanging) {
  HANDLE ready = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  HANDLE go = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  HWND hwnd = nullptr;
  std::thread owner([&] {
    hwnd = CreatePlatformWindow(RecordingProc, nullptr);
    SetEvent(ready);
    WaitForSingleObject(go, 5000);  // never pumps
  });
  ASSERT_EQ(WaitForSingleObject(ready, 5000), WAIT_OBJECT_0);
  std::atomic<bool> returned{false};
  std::atomic<int> senderId{0};
  std::thread sender([&] {
    senderId = tavtest::CurrentThreadId();
    SendMessage(hwnd, WM_USER, 0, 0);
    returned = true;
  });
  // The send waits for a thread that does not pump.
  EXPECT_TRUE(tavtest::WaitFor([&] { return returned || (senderId && tavtest::ThreadIsBlocked(senderId)); }));
  EXPECT_FALSE(returned.load());
  SetEvent(go);
  owner.join();
  sender.join();
  EXPECT_TRUE(returned.load());
  EXPECT_FALSE(IsWindow(hwnd));  // the thread's windows went with it
  EXPECT_FALSE(PostMessage(hwnd, WM_USER, 0, 0));
  CloseHandle(ready);
  CloseHandle(go);
}

TEST(RuntimeMsgQueue, DestroyWindowDropsItsMessagesAndLaterPostsFail) {
  Drain();
  Log keptLog, goneLog;
  HWND kept = CreatePlatformWindow(RecordingProc, &keptLog);
  HWND gone = CreatePlatformWindow(RecordingProc, &goneLog);
  PostMessage(gone, WM_USER, 1, 0);
  PostMessage(kept, WM_USER, 2, 0);
  PostMessage(gone, WM_USER, 3, 0);
  EXPECT_TRUE(DestroyWindow(gone));
  ASSERT_EQ(goneLog.seen.size(), 1u);
  EXPECT_EQ(goneLog.seen[0].message, WM_DESTROY);
  EXPECT_FALSE(IsWindow(gone));
  EXPECT_FALSE(PostMessage(gone, WM_USER, 4, 0));
  EXPECT_FALSE(DestroyWindow(gone));
  MSG m;
  ASSERT_TRUE(PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.hwnd, kept);
  EXPECT_EQ(m.wParam, 2u);
  EXPECT_FALSE(PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
  DestroyWindow(kept);
}

TEST(RuntimeMsgQueue, PeekFiltersByWindowAndRangeAndQuitComesAfterPostedMessages) {
  Drain();
  HWND a = CreatePlatformWindow(RecordingProc, nullptr);
  HWND b = CreatePlatformWindow(RecordingProc, nullptr);
  PostMessage(a, WM_USER, 0, 0);
  PostMessage(b, WM_APP, 0, 0);
  PostThreadMessage(GetCurrentThreadId(), WM_USER + 5, 0, 0);
  PostQuitMessage(3);
  MSG m;
  ASSERT_TRUE(PeekMessage(&m, b, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(m.message, WM_APP);
  ASSERT_TRUE(PeekMessage(&m, nullptr, WM_APP, WM_APP, PM_REMOVE));
  EXPECT_EQ(m.hwnd, b);
  ASSERT_TRUE(PeekMessage(&m, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE));  // thread messages only
  EXPECT_EQ(m.message, WM_USER + 5u);
  EXPECT_EQ(m.hwnd, nullptr);
  ASSERT_EQ(GetMessage(&m, nullptr, 0, 0), TRUE);
  EXPECT_EQ(m.hwnd, a);
  EXPECT_EQ(GetMessage(&m, nullptr, 0, 0), FALSE);
  EXPECT_EQ(m.message, WM_QUIT);
  EXPECT_EQ(m.wParam, 3u);
  EXPECT_FALSE(PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
  DestroyWindow(a);
  DestroyWindow(b);

  EXPECT_FALSE(PostThreadMessage(0x7FFFFFF0, WM_USER, 0, 0));  // no such thread
}

TEST(RuntimeMsgTimers, TimerPostsWmTimerOnTheQueueWithoutPilingUp) {
  Drain();
  Log log;
  HWND hwnd = CreatePlatformWindow(RecordingProc, &log);
  ASSERT_EQ(SetTimer(hwnd, 10, 40, nullptr), 10u);
  const auto start = std::chrono::steady_clock::now();
  MSG m;
  ASSERT_TRUE(GetMessage(&m, nullptr, 0, 0));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 38ms);
  EXPECT_EQ(m.message, WM_TIMER);
  EXPECT_EQ(m.hwnd, hwnd);
  EXPECT_EQ(m.wParam, 10u);
  DispatchMessage(&m);
  ASSERT_EQ(log.seen.size(), 1u);
  EXPECT_EQ(log.seen[0].message, WM_TIMER);

  // A slow reader sees one WM_TIMER, not a backlog: it reads after several periods.
  std::this_thread::sleep_for(150ms);
  ASSERT_TRUE(PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_TIMER);
  EXPECT_FALSE(PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));

  EXPECT_TRUE(KillTimer(hwnd, 10));
  EXPECT_FALSE(KillTimer(hwnd, 10));
  // More than a period: a timer that still ran would have posted by now.
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
  DestroyWindow(hwnd);
}

std::atomic<int> g_timerProcCalls{0};
void CountingTimerProc(HWND, UINT msg, UINT_PTR, DWORD) {
  if (msg == WM_TIMER) g_timerProcCalls++;
}

TEST(RuntimeMsgTimers, ThreadTimerWithProcIsDispatchedToTheProc) {
  Drain();
  g_timerProcCalls = 0;
  const UINT_PTR id = SetTimer(nullptr, 0, 15, CountingTimerProc);
  ASSERT_NE(id, 0u);
  MSG m;
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(GetMessage(&m, nullptr, 0, 0));
    EXPECT_EQ(m.message, WM_TIMER);
    EXPECT_EQ(m.wParam, id);
    DispatchMessage(&m);
  }
  EXPECT_EQ(g_timerProcCalls.load(), 2);
  EXPECT_TRUE(KillTimer(nullptr, id));
}

TEST(RuntimeMsgFd, DescriptorIsReadableWhileMessagesOrDueTimersWait) {
  Drain();
  const int fd = tav::MessageQueueFd();
  ASSERT_GE(fd, 0);
  EXPECT_FALSE(Readable(fd, 0));

  HWND hwnd = CreatePlatformWindow(RecordingProc, nullptr);
  // The post comes while this thread is blocked in poll().
  const int me = tavtest::CurrentThreadId();
  std::thread poster([&] {
    tavtest::WaitFor([&] { return tavtest::ThreadIsBlocked(me); });
    PostMessage(hwnd, WM_USER, 0, 0);
  });
  EXPECT_TRUE(Readable(fd, 10000));
  poster.join();
  EXPECT_TRUE(Readable(fd, 0));  // stays readable until read
  MSG m;
  ASSERT_TRUE(PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_FALSE(Readable(fd, 0));

  // The player's kind of timer: poll() wakes when it comes due.
  const auto start = std::chrono::steady_clock::now();
  SetTimer(hwnd, 1, 60, nullptr);
  EXPECT_FALSE(Readable(fd, 0));
  EXPECT_TRUE(Readable(fd, 2000));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 59ms);
  ASSERT_TRUE(PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_TIMER);
  EXPECT_FALSE(Readable(fd, 0));  // re-armed for the next period
  KillTimer(hwnd, 1);
  DestroyWindow(hwnd);
}

TEST(RuntimeMsgWait, MsgWaitReportsHandlesFirstThenInputThenTimeout) {
  Drain();
  HANDLE ev = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &ev, FALSE, 10, QS_ALLINPUT), WAIT_TIMEOUT);
  SetEvent(ev);
  PostThreadMessage(GetCurrentThreadId(), WM_USER, 0, 0);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &ev, FALSE, 0, QS_ALLINPUT), WAIT_OBJECT_0);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &ev, FALSE, 0, QS_ALLINPUT), WAIT_OBJECT_0 + 1);
  Drain();
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &ev, FALSE, 0, QS_ALLINPUT), WAIT_TIMEOUT);

  // The post comes while this thread is blocked in the wait.
  const DWORD me = GetCurrentThreadId();
  const int meKernel = tavtest::CurrentThreadId();
  std::thread poster([&] {
    tavtest::WaitFor([&] { return tavtest::ThreadIsBlocked(meKernel); });
    PostThreadMessage(me, WM_USER, 0, 0);
  });
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &ev, FALSE, 10000, QS_ALLINPUT), WAIT_OBJECT_0 + 1);
  poster.join();
  Drain();
  CloseHandle(ev);
}

}  // namespace
