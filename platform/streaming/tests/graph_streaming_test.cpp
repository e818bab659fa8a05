// A running graph: state changes in downstream-first order, pausing until the renderer has
// a sample, completion, running with and without a clock, seeking while running or paused,
// and many run / seek / stop cycles.
#include <cmath>
#include <future>
#include <mutex>
#include <unistd.h>

#include "platform/streaming/tests/graph_testfilters.h"
#include "platform/streaming/tests/graph_testutil.h"
#include "tests/support/testenv.h"
#include "tests/support/testguid.h"

namespace {

using graphtest::CountingRenderer;
using graphtest::FirstPin;
using graphtest::PushSource;

TAVTEST_GUID(kPushClass, 0x3C000001);
TAVTEST_GUID(kRenderClass, 0x3C000002);
TAVTEST_GUID(kPassClass, 0x3C000003);

constexpr REFERENCE_TIME kMs = MILLISECONDS;

// Records the order in which filters are told to change state.
struct StateLog {
  std::mutex lock;
  std::vector<std::string> entries;
  void Add(const std::string& e) {
    std::lock_guard<std::mutex> g(lock);
    entries.push_back(e);
  }
  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> g(lock);
    return std::exchange(entries, {});
  }
};

template <typename Base>
class Logged : public Base {
 public:
  template <typename... A>
  Logged(StateLog* log, std::string name, A&&... args) : Base(std::forward<A>(args)...), log_(log), name_(name) {}
  STDMETHODIMP Pause() override {
    log_->Add(name_ + " pause");
    return Base::Pause();
  }
  STDMETHODIMP Run(REFERENCE_TIME t) override {
    log_->Add(name_ + " run");
    return Base::Run(t);
  }
  STDMETHODIMP Stop() override {
    log_->Add(name_ + " stop");
    return Base::Stop();
  }

 private:
  StateLog* log_;
  std::string name_;
};

// Passes samples through untouched.
class PassThrough : public CTransInPlaceFilter {
 public:
  explicit PassThrough(HRESULT* phr) : CTransInPlaceFilter("pass through", nullptr, kPassClass, phr, false) {}
  HRESULT CheckInputType(const CMediaType* mt) override {
    return *mt->Type() == MEDIATYPE_Video ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT Transform(IMediaSample*) override { return S_OK; }
};

class GraphStreamingTest : public graphtest::GraphTest {
 protected:
  void SetUp() override {
    GraphTest::SetUp();
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, &graph_), S_OK);
    control_ = graph_.As<IMediaControl>();
    seeking_ = graph_.As<IMediaSeeking>();
    events_ = graph_.As<IMediaEventEx>();
    filter_ = graph_.As<IMediaFilter>();
  }
  void TearDown() override {
    if (control_) control_->Stop();
    control_ = nullptr;
    seeking_ = nullptr;
    events_ = nullptr;
    filter_ = nullptr;
    graph_ = nullptr;
    kept_.clear();
    EXPECT_EQ(CBaseObject::ObjectsActive(), 0) << "base-class objects leaked";
    GraphTest::TearDown();
  }

  // source -> renderer, connected directly.
  void Build(PushSource* source, CountingRenderer* renderer, const char16_t* suffix = u"") {
    ASSERT_EQ(graph_->AddFilter(source, (std::u16string(u"Source") + suffix).c_str()), S_OK);
    ASSERT_EQ(graph_->AddFilter(renderer, (std::u16string(u"Renderer") + suffix).c_str()), S_OK);
    ASSERT_EQ(graph_->ConnectDirect(FirstPin(source, PINDIR_OUTPUT), FirstPin(renderer, PINDIR_INPUT), nullptr), S_OK);
  }

  struct Chain {
    PushSource* source;
    CountingRenderer* renderer;
  };
  // A new source of the given duration built straight into a new renderer; the fixture
  // keeps both until the graph has stopped.
  Chain AddChain(REFERENCE_TIME duration, const char16_t* suffix = u"") {
    HRESULT hr = S_OK;
    Chain chain{new PushSource(kPushClass, duration), new CountingRenderer(kRenderClass, &hr)};
    kept_.emplace_back(chain.source);
    kept_.emplace_back(chain.renderer);
    Build(chain.source, chain.renderer, suffix);
    return chain;
  }

  // Every event queued now, by code.
  std::vector<LONG> DrainEvents(LONG waitMs = 0) {
    std::vector<LONG> codes;
    LONG code;
    LONG_PTR p1, p2;
    while (events_->GetEvent(&code, &p1, &p2, waitMs) == S_OK) {
      codes.push_back(code);
      events_->FreeEventParams(code, p1, p2);
    }
    return codes;
  }

  ComPtr<IGraphBuilder> graph_;
  ComPtr<IMediaControl> control_;
  ComPtr<IMediaSeeking> seeking_;
  ComPtr<IMediaEventEx> events_;
  ComPtr<IMediaFilter> filter_;
  std::vector<ComPtr<IBaseFilter>> kept_;
};

TEST_F(GraphStreamingTest, StateChanges_ReachDownstreamFiltersFirst) {
  StateLog log;
  HRESULT hr = S_OK;
  ComPtr<IBaseFilter> source(new Logged<PushSource>(&log, "source", kPushClass, 10 * UNITS));
  ComPtr<IBaseFilter> pass(new Logged<PassThrough>(&log, "transform", &hr));
  ComPtr<IBaseFilter> renderer(new Logged<CountingRenderer>(&log, "renderer", kRenderClass, &hr));
  // Added upstream first, so list order alone would give the wrong order.
  ASSERT_EQ(graph_->AddFilter(source.Get(), u"Source"), S_OK);
  ASSERT_EQ(graph_->AddFilter(pass.Get(), u"Pass"), S_OK);
  ASSERT_EQ(graph_->AddFilter(renderer.Get(), u"Renderer"), S_OK);
  ASSERT_EQ(graph_->ConnectDirect(FirstPin(source.Get(), PINDIR_OUTPUT), FirstPin(pass.Get(), PINDIR_INPUT), nullptr),
            S_OK);
  ASSERT_EQ(graph_->ConnectDirect(FirstPin(pass.Get(), PINDIR_OUTPUT), FirstPin(renderer.Get(), PINDIR_INPUT), nullptr),
            S_OK);
  using V = std::vector<std::string>;
  ASSERT_TRUE(SUCCEEDED(control_->Pause()));
  EXPECT_EQ(log.Take(), (V{"renderer pause", "transform pause", "source pause"}));
  ASSERT_TRUE(SUCCEEDED(control_->Run()));
  EXPECT_EQ(log.Take(), (V{"renderer run", "transform run", "source run"}));
  ASSERT_TRUE(SUCCEEDED(control_->Stop()));
  EXPECT_EQ(log.Take(), (V{"renderer pause", "transform pause", "source pause", "renderer stop", "transform stop",
                           "source stop"}));
}

TEST_F(GraphStreamingTest, Pause_IsIntermediateUntilTheRendererHasASample) {
  HRESULT hr = S_OK;
  auto* source = new PushSource(kPushClass, 10 * UNITS);
  ComPtr<IBaseFilter> keepSource(source);
  ComPtr<IBaseFilter> renderer(new CountingRenderer(kRenderClass, &hr));
  Build(source, static_cast<CountingRenderer*>(renderer.Get()));
  source->Pin()->Hold(true);

  EXPECT_EQ(control_->Pause(), S_FALSE);
  OAFilterState state = -1;
  EXPECT_EQ(control_->GetState(50, &state), VFW_S_STATE_INTERMEDIATE);
  EXPECT_EQ(state, State_Paused);
  source->Pin()->Hold(false);
  EXPECT_EQ(control_->GetState(5000, &state), S_OK);
  EXPECT_EQ(state, State_Paused);
  // Paused: the position is where streaming starts, and nothing has been presented.
  LONGLONG pos = -1;
  EXPECT_EQ(seeking_->GetCurrentPosition(&pos), S_OK);
  EXPECT_EQ(pos, 0);
  EXPECT_TRUE(static_cast<CountingRenderer*>(renderer.Get())->Presented().empty());
}

TEST_F(GraphStreamingTest, Completion_IsReportedOnceAfterEveryRenderer) {
  HRESULT hr = S_OK;
  const auto [shortSource, shortRenderer] = AddChain(5 * 400000, u" 1");
  const auto [longSource, longRenderer] = AddChain(40 * 400000, u" 2");
  // A renderer left unconnected reports its end as soon as it runs: it does not end the run.
  ComPtr<IBaseFilter> idle(new CountingRenderer(kRenderClass, &hr));
  ASSERT_EQ(graph_->AddFilter(idle.Get(), u"Idle renderer"), S_OK);
  ASSERT_EQ(filter_->SetSyncSource(nullptr), S_OK);
  ASSERT_TRUE(SUCCEEDED(control_->Run()));

  LONG code = 0;
  ASSERT_EQ(events_->WaitForCompletion(10000, &code), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);
  EXPECT_EQ(shortRenderer->Presented().size(), 5u);
  EXPECT_EQ(longRenderer->Presented().size(), 40u);
  std::vector<LONG> codes = DrainEvents(100);
  EXPECT_EQ(std::count(codes.begin(), codes.end(), EC_COMPLETE), 1);

  // Without the clock, the position is how far the renderers got.
  LONGLONG pos = 0;
  EXPECT_EQ(seeking_->GetCurrentPosition(&pos), S_OK);
  EXPECT_GE(pos, 39 * 400000);
}

TEST_F(GraphStreamingTest, WithoutClock_SamplesFlowAsFastAsTheyCan) {
  const auto [source, renderer] = AddChain(300 * 400000);  // 12 s of media
  ASSERT_EQ(filter_->SetSyncSource(nullptr), S_OK);
  ComPtr<IReferenceClock> clock;
  EXPECT_EQ(filter_->GetSyncSource(&clock), S_OK);
  EXPECT_FALSE(clock);

  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(SUCCEEDED(control_->Run()));
  LONG code = 0;
  ASSERT_EQ(events_->WaitForCompletion(10000, &code), S_OK);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(renderer->Presented().size(), 300u);
  EXPECT_LT(took, std::chrono::seconds(4)) << "12 s of media must not play in real time";
}

TEST_F(GraphStreamingTest, WithSystemClock_ThirtyFramesASecondArePresentedOnTime) {
  const auto [source, renderer] = AddChain(30 * 333333);
  source->Pin()->frameTime = 333333;
  ASSERT_TRUE(SUCCEEDED(control_->Run()));
  ComPtr<IReferenceClock> clock;
  ASSERT_EQ(filter_->GetSyncSource(&clock), S_OK);
  EXPECT_TRUE(clock) << "the system clock is chosen by default";
  LONG code = 0;
  ASSERT_EQ(events_->WaitForCompletion(10000, &code), S_OK);

  auto shown = renderer->Presented();
  ASSERT_EQ(shown.size(), 30u);
  // Measured tolerantly: the machine is shared and may be heavily loaded. Presentation
  // times against stream times have slope 1, and frames keep to their slots: lateness is
  // measured from the frame that was least late.
  double n = static_cast<double>(shown.size()), sx = 0, sy = 0, sxx = 0, sxy = 0;
  std::vector<double> offsets;
  for (auto& p : shown) {
    double x = p.streamTime / 10000.0;
    double y = std::chrono::duration<double, std::milli>(p.wall - shown[0].wall).count();
    sx += x;
    sy += y;
    sxx += x * x;
    sxy += x * y;
    offsets.push_back(y - x);
  }
  double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
  // Late first frames that the later ones catch up on bend the line by a few percent on a
  // loaded machine; a clock that ran fast or slow, or no clock at all, is far outside.
  EXPECT_NEAR(slope, 1.0, 0.1) << "presentation rate against stream time";
  double anchor = *std::min_element(offsets.begin(), offsets.end());
  std::vector<double> lateness;
  for (double o : offsets) lateness.push_back(o - anchor);
  std::sort(lateness.begin(), lateness.end());
  // The bounds are in frame slots (33 ms), not in the scheduler's latency: a loaded machine
  // wakes the streaming thread late by whole milliseconds, which says nothing of the clock.
  // A renderer that ignored the clock would show the frames together (slope 0, above).
  EXPECT_LT(lateness[lateness.size() / 2], 16.0) << "median lateness in ms: within half a frame";
  EXPECT_LT(lateness[lateness.size() * 9 / 10], 100.0) << "90th percentile lateness in ms: within three frames";
}

TEST_F(GraphStreamingTest, SeekWhileRunning_FlushesAndRestartsAtTheNewPosition) {
  const auto [source, renderer] = AddChain(10 * UNITS);
  DWORD caps = 0;
  ASSERT_EQ(seeking_->GetCapabilities(&caps), S_OK);
  EXPECT_EQ(caps & 0x37, 0x37u);
  LONGLONG duration = 0;
  ASSERT_EQ(seeking_->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, 10 * UNITS);

  ASSERT_TRUE(SUCCEEDED(control_->Run()));
  ASSERT_TRUE(tavtest::WaitFor([&] { return !renderer->Presented().empty(); })) << "the graph never streamed";
  LONGLONG pos = 5 * UNITS, stop = 6 * UNITS;
  ASSERT_EQ(seeking_->SetPositions(&pos, AM_SEEKING_AbsolutePositioning | AM_SEEKING_SeekToKeyFrame, &stop,
                                   AM_SEEKING_AbsolutePositioning),
            S_OK);
  // The new segment starts on the source's new streaming thread.
  tavtest::WaitFor([&] { return source->Pin()->segments >= 2; });
  EXPECT_EQ(source->Pin()->segments, 2);
  EXPECT_EQ(source->Pin()->lastSegmentStart, 5 * UNITS);
  LONGLONG now = 0, end = 0;
  ASSERT_EQ(seeking_->GetCurrentPosition(&now), S_OK);
  EXPECT_GE(now, 5 * UNITS);
  EXPECT_LT(now, 5 * UNITS + 300 * kMs);
  ASSERT_EQ(seeking_->GetStopPosition(&end), S_OK);
  EXPECT_EQ(end, 6 * UNITS);

  LONG code = 0;
  ASSERT_EQ(events_->WaitForCompletion(5000, &code), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);
  auto shown = renderer->Presented();
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.back().mediaTime, 6 * UNITS - 400000) << "the last frame before the stop position";
  size_t afterSeek = std::count_if(shown.begin(), shown.end(), [](auto& p) { return p.mediaTime >= 5 * UNITS; });
  EXPECT_EQ(afterSeek, 25u);
  ASSERT_EQ(seeking_->GetCurrentPosition(&now), S_OK);
  EXPECT_EQ(now, 6 * UNITS) << "a finished stream stands at its stop position";
}

TEST_F(GraphStreamingTest, SeekWhilePaused_ShowsTheNewFrameAndRunsOnFromIt) {
  const auto [source, renderer] = AddChain(10 * UNITS);
  control_->Pause();
  OAFilterState state;
  ASSERT_EQ(control_->GetState(5000, &state), S_OK);

  LONGLONG pos = 2 * UNITS;
  ASSERT_EQ(seeking_->SetPositions(&pos, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
  ASSERT_EQ(control_->GetState(5000, &state), S_OK);
  EXPECT_EQ(state, State_Paused);
  EXPECT_EQ(source->Pin()->segments, 2);  // the renderer has the new segment's first frame
  LONGLONG now = 0;
  ASSERT_EQ(seeking_->GetCurrentPosition(&now), S_OK);
  EXPECT_EQ(now, 2 * UNITS);
  ComPtr<IMediaPosition> position = graph_.As<IMediaPosition>();
  REFTIME seconds = 0;
  ASSERT_EQ(position->get_CurrentPosition(&seconds), S_OK);
  EXPECT_DOUBLE_EQ(seconds, 2.0);

  renderer->Clear();
  ASSERT_TRUE(SUCCEEDED(control_->Run()));
  ASSERT_TRUE(tavtest::WaitFor([&] { return renderer->Presented().size() >= 2; })) << "the graph never ran on";
  auto shown = renderer->Presented();
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.front().mediaTime, 2 * UNITS);
  ASSERT_EQ(seeking_->GetCurrentPosition(&now), S_OK);
  EXPECT_GT(now, 2 * UNITS);
  EXPECT_LT(now, 2 * UNITS + 2 * UNITS);
}

TEST_F(GraphStreamingTest, StopKeepsThePosition_AndSeekingWhileStoppedMovesTheStart) {
  const auto [source, renderer] = AddChain(10 * UNITS);
  LONGLONG pos = 3 * UNITS;
  ASSERT_EQ(seeking_->SetPositions(&pos, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
  LONGLONG now = 0;
  seeking_->GetCurrentPosition(&now);
  EXPECT_EQ(now, 3 * UNITS);
  ASSERT_TRUE(SUCCEEDED(control_->Pause()));
  OAFilterState state;
  ASSERT_EQ(control_->GetState(5000, &state), S_OK);
  auto shown = renderer->Presented();
  ASSERT_EQ(control_->Stop(), S_OK);
  seeking_->GetCurrentPosition(&now);
  EXPECT_EQ(now, 3 * UNITS);
  EXPECT_EQ(source->Pin()->lastSegmentStart, 3 * UNITS);
}

TEST_F(GraphStreamingTest, ThousandRunSeekStopCycles_NeverDeadlock) {
  AddChain(50 * 400000);
  ASSERT_EQ(filter_->SetSyncSource(nullptr), S_OK);
  auto cycles = std::async(std::launch::async, [&] {
    unsigned seed = 1;
    for (int i = 0; i < 1000; ++i) {
      if (FAILED(control_->Run())) return i;
      seed = seed * 1103515245 + 12345;
      LONGLONG pos = (seed >> 8) % (50 * 400000);
      if (FAILED(seeking_->SetPositions(&pos, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning)))
        return i;
      if (i % 3 == 0) control_->Pause();
      if (FAILED(control_->Stop())) return i;
      DrainEvents();
    }
    return 1000;
  });
  if (cycles.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
    ADD_FAILURE() << "run / seek / stop cycles deadlocked";
    _exit(1);  // the graph is stuck: no clean way out of this process
  }
  EXPECT_EQ(cycles.get(), 1000);
}

TEST_F(GraphStreamingTest, CompletedRun_SeekingRunsAgainToANewCompletion) {
  // A reader that fetches single frames: seek, run, wait for completion, and again while
  // the graph still runs.
  const auto [source, renderer] = AddChain(10 * UNITS);
  ASSERT_EQ(filter_->SetSyncSource(nullptr), S_OK);
  for (int read = 0; read < 3; ++read) {
    LONGLONG pos = (2 + 3 * read) * UNITS, stop = pos + 400000;
    // Cleared before the seek: seeking a running graph restarts the source at once, so the
    // frame may be presented before SetPositions returns.
    renderer->Clear();
    ASSERT_EQ(seeking_->SetPositions(&pos, AM_SEEKING_AbsolutePositioning, &stop, AM_SEEKING_AbsolutePositioning),
              S_OK);
    ASSERT_TRUE(SUCCEEDED(control_->Run()));
    LONG code = 0;
    ASSERT_EQ(events_->WaitForCompletion(5000, &code), S_OK) << "read " << read;
    EXPECT_EQ(code, EC_COMPLETE);
    auto shown = renderer->Presented();
    ASSERT_EQ(shown.size(), 1u) << "read " << read;
    EXPECT_EQ(shown[0].mediaTime, pos);
  }
  std::vector<LONG> left = DrainEvents();
  EXPECT_EQ(std::count(left.begin(), left.end(), EC_COMPLETE), 3) << "one completion per read";
}

TEST_F(GraphStreamingTest, CancelledDefaultHandling_PassesEveryRenderersCompletion) {
  const auto [a, ra] = AddChain(3 * 400000, u" a");
  const auto [b, rb] = AddChain(6 * 400000, u" b");
  ASSERT_EQ(filter_->SetSyncSource(nullptr), S_OK);
  ASSERT_EQ(events_->CancelDefaultHandling(EC_COMPLETE), S_OK);
  ASSERT_TRUE(SUCCEEDED(control_->Run()));
  std::vector<LONG> codes;
  LONG code;
  LONG_PTR p1, p2;
  while (codes.size() < 2 && events_->GetEvent(&code, &p1, &p2, 5000) == S_OK) {
    codes.push_back(code);
    // Each one names the renderer that finished.
    if (code == EC_COMPLETE) {
      EXPECT_TRUE(p2 == reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(ra)) ||
                  p2 == reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(rb)));
    }
    events_->FreeEventParams(code, p1, p2);
  }
  EXPECT_EQ(codes, (std::vector<LONG>{EC_COMPLETE, EC_COMPLETE}));
}

}  // namespace
