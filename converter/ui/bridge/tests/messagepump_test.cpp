// The platform message queue pumped by Qt's event loop: posted and sent messages, timers and
// graph events reach their window procedures on the GUI thread, WM_QUIT ends the loop, and
// an idle loop with a timer running costs no CPU.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "converter/ui/bridge/messagepump.h"
#include "media/contract/sync.h"
#include "media/contract/window.h"

#include "media/contract/strmif.h"
#include "media/contract/uuids.h"
#include "platform/streaming/tests/graph_testfilters.h"
#include "platform/streaming/tests/graph_testutil.h"

namespace tav::ui {
namespace {

// What a window procedure saw: the message and the thread it ran on.
struct Seen {
  UINT msg;
  WPARAM wParam;
  DWORD thread;
};

struct Recorder {
  std::vector<Seen> seen;
  bool Has(UINT msg) const {
    for (const Seen& s : seen)
      if (s.msg == msg) return true;
    return false;
  }
  int Count(UINT msg) const {
    int n = 0;
    for (const Seen& s : seen) n += s.msg == msg;
    return n;
  }
  static LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM) {
    auto* self = static_cast<Recorder*>(GetWindowUserData(hwnd));
    if (!self) return 0;
    self->seen.push_back({msg, wParam, GetCurrentThreadId()});
    return msg == WM_USER + 2 ? 42 : 0;
  }
};

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Runs Qt's loop (not a polling wait) for ms milliseconds.
void RunLoopFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

TEST(MessagePump, PostedSentAndTimerMessages_ReachTheWindowOnTheGuiThread) {
  MessagePump pump;
  ASSERT_TRUE(pump.IsWatching());
  Recorder rec;
  HWND hwnd = CreatePlatformWindow(&Recorder::Proc, &rec);
  ASSERT_NE(hwnd, nullptr);
  const DWORD gui = GetCurrentThreadId();

  std::atomic<LRESULT> sentResult{0};
  std::thread worker([&] {
    PostMessage(hwnd, WM_USER + 1, 7, 0);
    sentResult = SendMessage(hwnd, WM_USER + 2, 0, 0);  // waits for the GUI thread's loop
  });
  ASSERT_NE(SetTimer(hwnd, 5, 20, nullptr), 0u);
  EXPECT_TRUE(QTest::qWaitFor([&] { return sentResult == 42 && rec.Count(WM_TIMER) >= 2; }, 5000));
  worker.join();
  KillTimer(hwnd, 5);

  ASSERT_TRUE(rec.Has(WM_USER + 1));
  for (const Seen& s : rec.seen) EXPECT_EQ(s.thread, gui) << "message " << s.msg;
  DestroyWindow(hwnd);
}

TEST(MessagePump, PostQuitMessage_ReachesTheQuitHandlerWithItsCode) {
  MessagePump pump;
  QEventLoop loop;
  // (The default, QCoreApplication::exit, would end every later loop of this process too.)
  pump.SetQuitHandler([&](int code) { loop.exit(code); });
  QTimer::singleShot(0, [] { PostQuitMessage(3); });
  QTimer::singleShot(5000, &loop, [&] { loop.exit(-1); });  // the test's own time-out
  EXPECT_EQ(loop.exec(), 3);
}

TEST(MessagePump, IdleLoopWithATimer_UsesNoCpu) {
  MessagePump pump;
  Recorder rec;
  HWND hwnd = CreatePlatformWindow(&Recorder::Proc, &rec);
  // A message dispatched and a timer that fires during the second: afterwards the queue's
  // descriptor must not stay readable, or the notifier would spin.
  PostMessage(hwnd, WM_USER + 1, 0, 0);
  SetTimer(hwnd, 1, 100, nullptr);
  RunLoopFor(50);
  const double before = CpuSeconds();
  RunLoopFor(1000);
  const double used = CpuSeconds() - before;
  KillTimer(hwnd, 1);
  DestroyWindow(hwnd);
  EXPECT_GE(rec.Count(WM_TIMER), 5);
  EXPECT_LT(used, 0.15) << "the loop used " << used << " s of CPU in one idle second";
}

constexpr UINT kGraphNotify = WM_APP + 1;
TAV_DEFINE_GUID(kPumpPushClass, 0x3C0010A1, 0x1111, 0x2222, 0x33, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66);
TAV_DEFINE_GUID(kPumpRenderClass, 0x3C0010A2, 0x1111, 0x2222, 0x33, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66);

class PumpGraphTest : public graphtest::GraphTest {};

// The graph posts its notification to the window from a streaming thread; the window then
// reads EC_COMPLETE on the GUI thread.
TEST_F(PumpGraphTest, GraphEvents_ReachTheNotifyWindowOnTheGuiThread) {
  MessagePump pump;
  struct Events {
    ComPtr<IMediaEventEx> events;
    std::vector<LONG> codes;
    DWORD thread = 0;
  } state;
  HWND hwnd = CreatePlatformWindow(
      [](HWND h, UINT msg, WPARAM, LPARAM) -> LRESULT {
        auto* s = static_cast<Events*>(GetWindowUserData(h));
        if (msg != kGraphNotify || !s) return 0;
        s->thread = GetCurrentThreadId();
        LONG code;
        LONG_PTR p1, p2;
        while (s->events->GetEvent(&code, &p1, &p2, 0) == S_OK) {
          s->codes.push_back(code);
          s->events->FreeEventParams(code, p1, p2);
        }
        return 0;
      },
      &state);

  {
    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, &graph), S_OK);
    HRESULT hr = S_OK;
    auto* source = new graphtest::PushSource(kPumpPushClass, 400000 * 5);
    ComPtr<IBaseFilter> keepSource(source);
    ComPtr<IBaseFilter> renderer(new graphtest::CountingRenderer(kPumpRenderClass, &hr));
    ASSERT_EQ(graph->AddFilter(source, u"Source"), S_OK);
    ASSERT_EQ(graph->AddFilter(renderer.Get(), u"Renderer"), S_OK);
    ASSERT_EQ(graph->ConnectDirect(graphtest::FirstPin(source, PINDIR_OUTPUT),
                                   graphtest::FirstPin(renderer.Get(), PINDIR_INPUT), nullptr),
              S_OK);
    state.events = graph.As<IMediaEventEx>();
    ASSERT_TRUE(state.events);
    ASSERT_EQ(state.events->SetNotifyWindow(reinterpret_cast<OAHWND>(hwnd), kGraphNotify, 0), S_OK);
    ComPtr<IMediaControl> control = graph.As<IMediaControl>();
    ASSERT_TRUE(control);
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return std::find(state.codes.begin(), state.codes.end(), EC_COMPLETE) != state.codes.end(); }, 10000));
    EXPECT_EQ(state.thread, GetCurrentThreadId());
    control->Stop();
    state.events->SetNotifyWindow(0, 0, 0);
    state.events = nullptr;
  }
  DestroyWindow(hwnd);
}

}  // namespace
}  // namespace tav::ui
