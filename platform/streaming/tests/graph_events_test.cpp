// The graph's event queue as the application sees it: events from filters, default
// handling, notification of a window, waiting for completion.
#include <thread>

#include "media/contract/sync.h"
#include "media/contract/window.h"
#include "platform/streaming/tests/graph_testutil.h"
#include "tests/support/testenv.h"

namespace {

constexpr LONG kSizeLimitReached = 0x501;

class GraphEventsTest : public graphtest::GraphTest {
 protected:
  void SetUp() override {
    GraphTest::SetUp();
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, &events_), S_OK);
    sink_ = events_.As<IMediaEventSink>();
    ASSERT_TRUE(sink_);
  }
  void TearDown() override {
    sink_ = nullptr;
    events_ = nullptr;
    GraphTest::TearDown();
  }
  ComPtr<IMediaEventEx> events_;
  ComPtr<IMediaEventSink> sink_;
};

TEST_F(GraphEventsTest, CustomAndErrorCodes_ReachTheApplicationInOrder) {
  OAEVENT handle = 0;
  ASSERT_EQ(events_->GetEventHandle(&handle), S_OK);
  EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(handle), 0), static_cast<DWORD>(WAIT_TIMEOUT));

  EXPECT_EQ(sink_->Notify(kSizeLimitReached, 7, 8), S_OK);
  EXPECT_EQ(sink_->Notify(EC_ERRORABORT, VFW_E_INVALID_FILE_FORMAT, 0), S_OK);
  EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(handle), 0), WAIT_OBJECT_0);

  LONG code = 0;
  LONG_PTR p1 = 0, p2 = 0;
  ASSERT_EQ(events_->GetEvent(&code, &p1, &p2, 0), S_OK);
  EXPECT_EQ(code, kSizeLimitReached);
  EXPECT_EQ(p1, 7);
  EXPECT_EQ(p2, 8);
  EXPECT_EQ(events_->FreeEventParams(code, p1, p2), S_OK);
  ASSERT_EQ(events_->GetEvent(&code, &p1, &p2, 0), S_OK);
  EXPECT_EQ(code, EC_ERRORABORT);
  EXPECT_EQ(static_cast<HRESULT>(p1), VFW_E_INVALID_FILE_FORMAT);
  // Drained: the handle is reset and a wait times out.
  EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(handle), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(events_->GetEvent(&code, &p1, &p2, 20), E_ABORT);
}

TEST_F(GraphEventsTest, GetEvent_WaitsForAnEventFromAnotherThread) {
  // The event comes while this thread is blocked in GetEvent.
  const int me = tavtest::CurrentThreadId();
  std::thread later([&] {
    tavtest::WaitFor([&] { return tavtest::ThreadIsBlocked(me); });
    sink_->Notify(EC_USER + 5, 0, 0);
  });
  LONG code = 0;
  LONG_PTR p1 = 0, p2 = 0;
  EXPECT_EQ(events_->GetEvent(&code, &p1, &p2, 10000), S_OK);
  EXPECT_EQ(code, EC_USER + 5);
  later.join();
}

TEST_F(GraphEventsTest, DefaultHandledCodes_StayInsideUnlessCancelled) {
  sink_->Notify(EC_REPAINT, 0, 0);
  sink_->Notify(EC_CLOCK_CHANGED, 0, 0);
  LONG code = 0;
  LONG_PTR p1 = 0, p2 = 0;
  EXPECT_EQ(events_->GetEvent(&code, &p1, &p2, 0), E_ABORT);
  EXPECT_EQ(events_->CancelDefaultHandling(EC_REPAINT), S_OK);
  sink_->Notify(EC_REPAINT, 0, 0);
  ASSERT_EQ(events_->GetEvent(&code, &p1, &p2, 0), S_OK);
  EXPECT_EQ(code, EC_REPAINT);
  EXPECT_EQ(events_->RestoreDefaultHandling(EC_REPAINT), S_OK);
  sink_->Notify(EC_REPAINT, 0, 0);
  EXPECT_EQ(events_->GetEvent(&code, &p1, &p2, 0), E_ABORT);
}

TEST_F(GraphEventsTest, Completion_OutsideARunIsNotReported) {
  // A stopped graph has no run to complete: a late end of stream is dropped.
  sink_->Notify(EC_COMPLETE, S_OK, 0);
  LONG code = 0;
  LONG_PTR p1 = 0, p2 = 0;
  EXPECT_EQ(events_->GetEvent(&code, &p1, &p2, 0), E_ABORT);
  EXPECT_EQ(events_->WaitForCompletion(10, &code), VFW_E_WRONG_STATE);
}

LRESULT CountingProc(HWND hwnd, UINT msg, WPARAM, LPARAM lParam) {
  if (msg == WM_APP + 1) *static_cast<LPARAM*>(GetWindowUserData(hwnd)) += lParam;
  return 0;
}

TEST_F(GraphEventsTest, NotifyWindow_GetsOneMessagePerEvent) {
  LPARAM received = 0;
  HWND hwnd = CreatePlatformWindow(&CountingProc, &received);
  ASSERT_TRUE(hwnd);
  // An event already waiting is announced when the window is set.
  sink_->Notify(kSizeLimitReached, 0, 0);
  ASSERT_EQ(events_->SetNotifyWindow(reinterpret_cast<OAHWND>(hwnd), WM_APP + 1, 100), S_OK);
  std::thread streaming([&] { sink_->Notify(EC_USER, 0, 0); });
  streaming.join();
  MSG msg;
  while (PeekMessage(&msg, hwnd, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
  EXPECT_EQ(received, 200);

  // With notification switched off the queue still fills but no message is posted.
  ASSERT_EQ(events_->SetNotifyFlags(AM_MEDIAEVENT_NONOTIFY), S_OK);
  sink_->Notify(EC_USER, 0, 0);
  while (PeekMessage(&msg, hwnd, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
  EXPECT_EQ(received, 200);
  events_->SetNotifyWindow(0, 0, 0);
  DestroyWindow(hwnd);
}

}  // namespace
