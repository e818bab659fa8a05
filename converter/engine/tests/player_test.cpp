// The player's graph control on a real graph of test filters: state changes and the sink,
// positions, trim points and slider mapping, a state change that never completes, and
// events delivered through the message queue of the attaching thread.
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "converter/engine/player.h"
#include "libs/vxcamwriter/vxcamwriter.h"
#include "platform/streaming/tests/graph_testfilters.h"
#include "platform/streaming/tests/graph_testutil.h"
#include "tests/support/pushgraph.h"

namespace tav {
namespace {

using graphtest::PushSource;

TAV_DEFINE_GUID(kPushClass, 0x3C0000A1, 0x1111, 0x2222, 0x33, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66);
TAV_DEFINE_GUID(kRenderClass, 0x3C0000A2, 0x1111, 0x2222, 0x33, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66);

constexpr REFERENCE_TIME kFrame = tavtest::kPushFrame;

struct RecordingSink : PlayerEventSink {
  std::vector<LONG> events;
  std::vector<int> states;
  void OnPlayerEvent(PlayerCore*, LONG code) override { events.push_back(code); }
  bool OnMouse(PlayerCore*, MousePhase, int, int, int, int) override { return false; }
  void OnStateChanged(PlayerCore*, int state) override { states.push_back(state); }
};

class PlayerTest : public graphtest::GraphTest {
 protected:
  void SetUp() override {
    GraphTest::SetUp();
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, &graph_), S_OK);
  }
  void TearDown() override {
    player_.reset();
    graph_ = nullptr;
    EXPECT_EQ(CBaseObject::ObjectsActive(), 0) << "base-class objects leaked";
    GraphTest::TearDown();
  }
  PushSource* Build(REFERENCE_TIME duration) {
    PushSource* source = nullptr;
    EXPECT_EQ(tavtest::AddPushGraph(graph_.Get(), kPushClass, kRenderClass, duration, &source), S_OK);
    return source;
  }
  // Dispatches this thread's messages until done() or the time-out.
  template <typename F>
  bool PumpUntil(F done, int timeoutMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
      MSG msg;
      while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
    }
    return true;
  }

  ComPtr<IGraphBuilder> graph_;
  std::unique_ptr<PlayerCore> player_ = std::make_unique<PlayerCore>();
  RecordingSink sink_;
};

TEST_F(PlayerTest, WithoutGraph_CallsFailAsUnexpected) {
  REFERENCE_TIME t = 0;
  EXPECT_EQ(player_->Run(), E_UNEXPECTED);
  EXPECT_EQ(player_->Pause(), E_UNEXPECTED);
  EXPECT_EQ(player_->Stop(), E_UNEXPECTED);
  EXPECT_EQ(player_->GetPosition(&t), E_UNEXPECTED);
  EXPECT_EQ(player_->GetPosition(nullptr), E_POINTER);
  EXPECT_EQ(player_->Seek(0), E_UNEXPECTED);
  EXPECT_FALSE(player_->GetPoints(&t, &t));
  EXPECT_EQ(player_->SliderPos(0, 1000), 0);
  EXPECT_EQ(player_->GetState(), PlayerCore::kNoGraph);
  EXPECT_EQ(player_->Attach(nullptr, nullptr, 320, 240, &sink_), E_POINTER);
}

TEST_F(PlayerTest, RunToCompletion_DeliversStatesAndEventsOnThisThread) {
  Build(10 * kFrame);
  ASSERT_EQ(player_->Attach(graph_.Get(), nullptr, 320, 240, &sink_), S_OK);
  EXPECT_EQ(player_->GetState(), PlayerCore::kStopped);
  EXPECT_TRUE(player_->PointsValid());
  REFERENCE_TIME duration = 0;
  ASSERT_EQ(player_->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, 10 * kFrame);

  EXPECT_TRUE(SUCCEEDED(player_->Run()));
  EXPECT_EQ(player_->GetState(), PlayerCore::kRunning);
  EXPECT_TRUE(SUCCEEDED(player_->Run()));  // already running: nothing happens
  ASSERT_TRUE(PumpUntil([&] { return !sink_.events.empty(); })) << "completion never reached the sink";
  EXPECT_EQ(sink_.events.front(), EC_COMPLETE);
  EXPECT_EQ(player_->GetLastError(), S_OK);

  EXPECT_EQ(player_->Stop(), S_OK);
  player_->Detach();
  EXPECT_EQ(sink_.states, (std::vector<int>{PlayerCore::kRunning, PlayerCore::kStopped, PlayerCore::kNoGraph}));
  EXPECT_EQ(player_->Run(), E_UNEXPECTED);
}

TEST_F(PlayerTest, ErrorEvent_IsKeptAsTheLastError) {
  Build(10 * kFrame);
  ASSERT_EQ(player_->Attach(graph_.Get(), nullptr, 320, 240, &sink_), S_OK);
  auto notify = graph_.As<IMediaEventSink>();
  ASSERT_TRUE(notify);
  // Raised from another thread, as a streaming thread would.
  std::thread([&] { notify->Notify(EC_ERRORABORT, static_cast<LONG_PTR>(VFW_E_INVALID_FILE_FORMAT), 0); }).join();
  ASSERT_TRUE(PumpUntil([&] { return !sink_.events.empty(); }));
  EXPECT_EQ(sink_.events.front(), EC_ERRORABORT);
  EXPECT_EQ(player_->GetLastError(), VFW_E_INVALID_FILE_FORMAT);
}

// A split conversion stops its graph on an event and attaches the same graph again from
// inside the sink. What the old run raised (an error while it stopped) must not reach the
// new attachment; what the new run raises must.
TEST_F(PlayerTest, EventsOfADetachedRun_NeverReachTheNextAttachment) {
  Build(10 * kFrame);
  auto notify = graph_.As<IMediaEventSink>();
  ASSERT_TRUE(notify);
  struct RestartingSink : RecordingSink {
    std::function<void()> restart;
    void OnPlayerEvent(PlayerCore* p, LONG code) override {
      RecordingSink::OnPlayerEvent(p, code);
      if (code == EC_SIZE_LIMIT_REACHED && restart) restart();
    }
  } sink;
  sink.restart = [&] {
    // Raised by the old run while it stops, as a decoder whose allocator went away would.
    notify->Notify(EC_ERRORABORT, static_cast<LONG_PTR>(VFW_E_NOT_COMMITTED), 0);
    player_->Detach();
    ASSERT_EQ(player_->Attach(graph_.Get(), nullptr, 320, 240, &sink), S_OK);
  };
  ASSERT_EQ(player_->Attach(graph_.Get(), nullptr, 320, 240, &sink), S_OK);
  // Both waiting in the queue when the player fetches them.
  notify->Notify(EC_SIZE_LIMIT_REACHED, 0, 0);
  notify->Notify(EC_ERRORABORT, static_cast<LONG_PTR>(VFW_E_NOT_COMMITTED), 0);
  ASSERT_TRUE(PumpUntil([&] { return !sink.events.empty(); }));
  PumpUntil([] { return false; }, 200);
  EXPECT_EQ(sink.events, std::vector<LONG>(1, EC_SIZE_LIMIT_REACHED));
  EXPECT_EQ(player_->GetLastError(), S_OK);

  sink.restart = nullptr;
  std::thread([&] { notify->Notify(EC_ERRORABORT, static_cast<LONG_PTR>(E_FAIL), 0); }).join();
  ASSERT_TRUE(PumpUntil([&] { return sink.events.size() == 2; }));
  EXPECT_EQ(sink.events.back(), EC_ERRORABORT);
  EXPECT_EQ(player_->GetLastError(), E_FAIL);
  player_->Detach();
}

TEST_F(PlayerTest, TrimPointsAndSlider) {
  Build(100 * kFrame);  // 4 s
  ASSERT_EQ(player_->Attach(graph_.Get(), nullptr, 320, 240, &sink_), S_OK);
  REFERENCE_TIME t = -1, start = -1, end = -1;

  // Slider mapping over the whole movie.
  ASSERT_EQ(player_->SeekToSlider(250, 0, 1000), S_OK);
  ASSERT_EQ(player_->GetPosition(&t), S_OK);
  EXPECT_EQ(t, 25 * kFrame);
  EXPECT_EQ(player_->SliderPos(0, 1000), 250);
  EXPECT_EQ(player_->SliderPos(100, 200), 125);
  EXPECT_EQ(player_->SeekToSlider(1, 5, 5), E_INVALIDARG);

  // Points around the current position: only the stop moves.
  ASSERT_EQ(player_->SetPoints(10 * kFrame, 50 * kFrame), S_OK);
  ASSERT_TRUE(player_->GetPoints(&start, &end));
  EXPECT_EQ(start, 10 * kFrame);
  EXPECT_EQ(end, 50 * kFrame);
  player_->GetPosition(&t);
  EXPECT_EQ(t, 25 * kFrame);

  // A seek before the start point is raised to it.
  ASSERT_EQ(player_->Seek(2 * kFrame), S_OK);
  player_->GetPosition(&t);
  EXPECT_EQ(t, 10 * kFrame);

  // A start point after the position moves the position with it.
  ASSERT_EQ(player_->SetPoints(30 * kFrame, -1), S_OK);
  player_->GetPosition(&t);
  EXPECT_EQ(t, 30 * kFrame);
  ASSERT_TRUE(player_->GetPoints(&start, &end));
  EXPECT_EQ(end, 100 * kFrame) << "end -1 runs to the end of the movie";

  // Moving the end marker before the position seeks back to it.
  ASSERT_EQ(player_->Seek(80 * kFrame), S_OK);
  ASSERT_EQ(player_->SetEndFromSlider(500, 0, 1000), S_OK);
  player_->GetPosition(&t);
  EXPECT_EQ(t, 50 * kFrame);
  ASSERT_TRUE(player_->GetPoints(&start, &end));
  EXPECT_EQ(end, 50 * kFrame);

  ASSERT_EQ(player_->SetStartFromSlider(100, 0, 1000), S_OK);
  ASSERT_TRUE(player_->GetPoints(&start, &end));
  EXPECT_EQ(start, 10 * kFrame);

  ASSERT_EQ(player_->ResetPoints(), S_OK);
  ASSERT_TRUE(player_->GetPoints(&start, &end));
  EXPECT_EQ(start, 0);
  EXPECT_EQ(end, 100 * kFrame);

  // Detaching forgets the points and rewinds the graph.
  player_->Detach();
  EXPECT_FALSE(player_->GetPoints(&start, &end));
  ComPtr<IMediaSeeking> seeking = graph_.As<IMediaSeeking>();
  seeking->GetCurrentPosition(&t);
  EXPECT_EQ(t, 0);
}

TEST_F(PlayerTest, StateChangeThatNeverCompletes_FailsAfterTheAttempts) {
  PushSource* source = Build(10 * kFrame);
  source->Pin()->Hold(true);  // the renderer never gets a sample: pausing stays intermediate
  ASSERT_EQ(player_->Attach(graph_.Get(), nullptr, 320, 240, &sink_), S_OK);
  player_->SetStateWaitMs(20);
  EXPECT_EQ(player_->Pause(), VFW_E_STATE_CHANGED);
  EXPECT_EQ(player_->GetState(), PlayerCore::kNoGraph);
  EXPECT_TRUE(sink_.states.empty());
  // In that state only Stop is taken.
  EXPECT_EQ(player_->Pause(), E_UNEXPECTED);
  EXPECT_EQ(player_->Run(), E_UNEXPECTED);
  EXPECT_EQ(player_->GetState(), PlayerCore::kNoGraph);
  // Released, the same player can still be stopped and run.
  source->Pin()->Hold(false);
  EXPECT_EQ(player_->Stop(), S_OK);
  EXPECT_EQ(player_->GetState(), PlayerCore::kStopped);
  player_->SetStateWaitMs(5000);
  EXPECT_TRUE(SUCCEEDED(player_->Pause()));
  EXPECT_EQ(player_->GetState(), PlayerCore::kPaused);
  player_->Detach();
}

}  // namespace
}  // namespace tav
