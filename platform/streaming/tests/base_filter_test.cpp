// Conformance of the base filter, pins and renderer through the test source and the
// counting renderer, connected directly (no graph manager): interfaces, pins, media types,
// unconnected state changes, connection, streaming, flushing, end of stream, scheduling
// against a clock, and no leaked references.
#include <gtest/gtest.h>

#include "tests/support/testenv.h"

#include <thread>

#include "platform/streaming/tests/base_testutil.h"

using namespace tavtest;
using namespace basetest;

namespace {

constexpr REFERENCE_TIME kFrame = 333333;

class StrmBaseFilter : public BaseTest {};

TEST_F(StrmBaseFilter, InterfacesAndPins) {
  ComPtr<IBaseFilter> src;
  CTestPushSource::Create({}, src);
  CLSID clsid{};
  ASSERT_EQ(src->GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_TestPushSource);
  EXPECT_TRUE(src.As<IMediaFilter>());
  EXPECT_TRUE(src.As<IPersist>());
  EXPECT_FALSE(src.As<IMemInputPin>());

  ComPtr<IEnumPins> pins;
  ASSERT_EQ(src->EnumPins(pins.ReleaseAndGetAddressOf()), S_OK);
  IPin* raw[2] = {};
  ULONG fetched = 0;
  EXPECT_EQ(pins->Next(2, raw, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  ComPtr<IPin> out = ComPtr<IPin>::Adopt(raw[0]);
  EXPECT_EQ(pins->Next(1, raw, nullptr), S_FALSE);
  EXPECT_EQ(pins->Reset(), S_OK);
  EXPECT_EQ(pins->Skip(1), S_OK);
  EXPECT_EQ(pins->Skip(1), S_FALSE);

  PIN_INFO info{};
  ASSERT_EQ(out->QueryPinInfo(&info), S_OK);
  EXPECT_EQ(info.dir, PINDIR_OUTPUT);
  EXPECT_EQ(std::u16string(info.achName), u"Output");
  EXPECT_EQ(info.pFilter, src.Get());
  info.pFilter->Release();
  LPWSTR id = nullptr;
  ASSERT_EQ(out->QueryId(&id), S_OK);
  EXPECT_EQ(std::u16string(id), u"Output");
  CoTaskMemFree(id);
  ComPtr<IPin> found;
  EXPECT_EQ(src->FindPin(u"Output", found.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(found.Get(), out.Get());
  EXPECT_EQ(src->FindPin(u"Nope", found.ReleaseAndGetAddressOf()), VFW_E_NOT_FOUND);

  ComPtr<IPin> peer;
  EXPECT_EQ(out->ConnectedTo(peer.ReleaseAndGetAddressOf()), VFW_E_NOT_CONNECTED);
  AM_MEDIA_TYPE mt{};
  EXPECT_EQ(out->ConnectionMediaType(&mt), VFW_E_NOT_CONNECTED);
  EXPECT_TRUE(out.As<IMediaSeeking>());

  FILTER_INFO finfo{};
  ASSERT_EQ(src->QueryFilterInfo(&finfo), S_OK);
  EXPECT_EQ(finfo.pGraph, nullptr);
  EXPECT_EQ(finfo.achName[0], 0);
}

TEST_F(StrmBaseFilter, MediaTypeEnumerationAndQueryAccept) {
  ComPtr<IBaseFilter> src;
  CTestPushSource* source = CTestPushSource::Create({}, src);
  ComPtr<IPin> out = PinOf(src.Get(), PINDIR_OUTPUT);
  ComPtr<IEnumMediaTypes> types;
  ASSERT_EQ(out->EnumMediaTypes(types.ReleaseAndGetAddressOf()), S_OK);
  AM_MEDIA_TYPE* mt = nullptr;
  ASSERT_EQ(types->Next(1, &mt, nullptr), S_OK);
  EXPECT_TRUE(MediaTypesEqual(*mt, source->Type()));
  EXPECT_EQ(out->QueryAccept(mt), S_OK);
  DeleteMediaType(mt);
  EXPECT_EQ(types->Next(1, &mt, nullptr), S_FALSE);
  ComPtr<IEnumMediaTypes> clone;
  ASSERT_EQ(types->Clone(clone.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(clone->Next(1, &mt, nullptr), S_FALSE) << "a clone keeps the position";
  clone->Reset();
  ASSERT_EQ(clone->Next(1, &mt, nullptr), S_OK);
  DeleteMediaType(mt);

  CMediaType other = MakeVideoType(MEDIASUBTYPE_RGB24, 64, 48, kFrame);
  EXPECT_EQ(out->QueryAccept(&other), S_FALSE);
}

TEST_F(StrmBaseFilter, UnconnectedStateChanges) {
  ComPtr<IBaseFilter> src, rnd;
  CTestPushSource::Create({}, src);
  CTestRenderer::Create({}, rnd);
  FILTER_STATE state;
  for (IBaseFilter* f : {src.Get(), rnd.Get()}) {
    ASSERT_EQ(f->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
    EXPECT_EQ(f->Pause(), S_OK) << "an unconnected filter pauses at once";
    EXPECT_EQ(f->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Paused);
    EXPECT_EQ(f->Run(0), S_OK);
    EXPECT_EQ(f->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Running);
    EXPECT_EQ(f->Stop(), S_OK);
    EXPECT_EQ(f->Stop(), S_OK);
    EXPECT_EQ(f->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
  }
}

TEST_F(StrmBaseFilter, DirectConnectionAgreesOnTypeAndRefusesWhatItMust) {
  ComPtr<IBaseFilter> src, rnd, rgb24Only, src2;
  CTestPushSource* source = CTestPushSource::Create({}, src);
  CTestRenderer::Create({}, rnd);
  CTestRenderer::Create({MEDIASUBTYPE_RGB24}, rgb24Only);
  CTestPushSource::Create({}, src2);

  ComPtr<IPin> out = PinOf(src.Get(), PINDIR_OUTPUT);
  ComPtr<IPin> in = PinOf(rnd.Get(), PINDIR_INPUT);
  // Refusals leave both pins unconnected.
  EXPECT_EQ(ConnectFilters(src.Get(), rgb24Only.Get()), VFW_E_NO_ACCEPTABLE_TYPES);
  CMediaType rgb24 = MakeVideoType(MEDIASUBTYPE_RGB24, 64, 48, kFrame);
  EXPECT_EQ(out->Connect(in.Get(), &rgb24), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(out->Connect(PinOf(src2.Get(), PINDIR_OUTPUT).Get(), nullptr), VFW_E_INVALID_DIRECTION);
  ComPtr<IPin> peer;
  EXPECT_EQ(out->ConnectedTo(peer.ReleaseAndGetAddressOf()), VFW_E_NOT_CONNECTED);

  ASSERT_EQ(out->Connect(in.Get(), nullptr), S_OK);
  ASSERT_EQ(in->ConnectedTo(peer.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(peer.Get(), out.Get());
  CMediaType agreed;
  ASSERT_EQ(in->ConnectionMediaType(&agreed), S_OK);
  EXPECT_TRUE(agreed == source->Type());
  EXPECT_EQ(out->Connect(in.Get(), nullptr), VFW_E_ALREADY_CONNECTED);

  // No disconnection while active.
  ASSERT_TRUE(SUCCEEDED(PauseAll({src.Get(), rnd.Get()})));
  EXPECT_EQ(in->Disconnect(), VFW_E_NOT_STOPPED);
  ASSERT_EQ(StopAll({src.Get(), rnd.Get()}), S_OK);
  EXPECT_EQ(in->Disconnect(), S_OK);
  EXPECT_EQ(out->Disconnect(), S_OK);
  EXPECT_EQ(out->Disconnect(), S_FALSE);
}

TEST_F(StrmBaseFilter, PauseCompletesWithFirstSampleThenRunsToEndOfStream) {
  FakeGraph graph;
  ComPtr<IBaseFilter> src, rnd;
  CTestPushSource::Create({.frames = 10}, src);
  CTestRenderer* renderer = CTestRenderer::Create({}, rnd);
  graph.Join({src.Get(), rnd.Get()});
  ASSERT_EQ(ConnectFilters(src.Get(), rnd.Get()), S_OK);

  // The renderer goes first: it has no sample yet, so its pause is not complete.
  ASSERT_EQ(rnd->Pause(), S_FALSE);
  FILTER_STATE state;
  EXPECT_EQ(rnd->GetState(0, &state), VFW_S_STATE_INTERMEDIATE);
  EXPECT_EQ(state, State_Paused);
  ASSERT_EQ(src->Pause(), S_OK);
  EXPECT_EQ(rnd->GetState(5000, &state), S_OK);
  EXPECT_EQ(renderer->FirstSamples(), 1);
  EXPECT_EQ(renderer->Count(), 0) << "nothing is presented while paused";

  ASSERT_EQ(RunAll({src.Get(), rnd.Get()}, 0), S_OK);
  ASSERT_TRUE(renderer->WaitForEndOfStream(5000));
  tavtest::WaitFor([&] { return graph.CountOf(EC_COMPLETE) != 0; });
  auto records = renderer->Records();
  ASSERT_EQ(records.size(), 10u);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(records[i].frame, DWORD(i));
    EXPECT_EQ(records[i].start, i * kFrame);
    EXPECT_EQ(records[i].stop, (i + 1) * kFrame);
  }
  EXPECT_EQ(graph.CountOf(EC_COMPLETE), 1);
  auto events = graph.Events();
  for (auto& e : events) {
    if (std::get<0>(e) == EC_COMPLETE) {
      EXPECT_EQ(std::get<2>(e), reinterpret_cast<LONG_PTR>(rnd.Get()));
    }
  }

  ASSERT_EQ(StopAll({src.Get(), rnd.Get()}), S_OK);
  DisconnectAll({src.Get(), rnd.Get()});
  graph.Leave({src.Get(), rnd.Get()});
}

TEST_F(StrmBaseFilter, EmptyStreamCompletesPauseAndReportsCompletionOnRun) {
  FakeGraph graph;
  ComPtr<IBaseFilter> src, rnd;
  CTestPushSource::Create({.frames = 0}, src);
  CTestRenderer::Create({}, rnd);
  graph.Join({src.Get(), rnd.Get()});
  ASSERT_EQ(ConnectFilters(src.Get(), rnd.Get()), S_OK);
  ASSERT_TRUE(SUCCEEDED(PauseAll({src.Get(), rnd.Get()})));
  FILTER_STATE state;
  EXPECT_EQ(rnd->GetState(5000, &state), S_OK) << "end of stream completes a pause";
  EXPECT_EQ(graph.CountOf(EC_COMPLETE), 0) << "completion waits until the graph runs";
  ASSERT_EQ(RunAll({src.Get(), rnd.Get()}, 0), S_OK);
  EXPECT_EQ(graph.CountOf(EC_COMPLETE), 1);
  ASSERT_EQ(StopAll({src.Get(), rnd.Get()}), S_OK);
  DisconnectAll({src.Get(), rnd.Get()});
  graph.Leave({src.Get(), rnd.Get()});
}

TEST_F(StrmBaseFilter, SeekWhilePausedFlushesAndStartsANewSegment) {
  ComPtr<IBaseFilter> src, rnd;
  CTestPushSource::Create({.frames = 10}, src);
  CTestRenderer* renderer = CTestRenderer::Create({}, rnd);
  ASSERT_EQ(ConnectFilters(src.Get(), rnd.Get()), S_OK);
  ASSERT_TRUE(SUCCEEDED(PauseAll({src.Get(), rnd.Get()})));
  FILTER_STATE state;
  ASSERT_EQ(rnd->GetState(5000, &state), S_OK);

  // The renderer's seeking goes upstream to the source.
  ComPtr<IMediaSeeking> seeking = rnd.As<IMediaSeeking>();
  ASSERT_TRUE(seeking);
  DWORD caps = 0;
  ASSERT_EQ(seeking->GetCapabilities(&caps), S_OK);
  EXPECT_EQ(caps, 0x37u);
  LONGLONG duration = 0;
  ASSERT_EQ(seeking->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, 10 * kFrame);
  LONGLONG pos = 5 * kFrame;
  ASSERT_EQ(seeking->SetPositions(&pos, AM_SEEKING_AbsolutePositioning | AM_SEEKING_SeekToKeyFrame, nullptr,
                                  AM_SEEKING_NoPositioning),
            S_OK);
  EXPECT_EQ(renderer->Flushes(), 1);
  EXPECT_EQ(rnd->GetState(5000, &state), S_OK) << "the new segment's first sample completes the pause";

  ASSERT_EQ(RunAll({src.Get(), rnd.Get()}, 0), S_OK);
  ASSERT_TRUE(renderer->WaitForEndOfStream(5000));
  auto records = renderer->Records();
  ASSERT_EQ(records.size(), 5u);
  EXPECT_EQ(records[0].frame, 5u);
  EXPECT_EQ(records[0].start, 0) << "sample times start again at the segment";
  EXPECT_EQ(records[0].segmentStart, 5 * kFrame);
  LONGLONG current = 0, stop = 0;
  ASSERT_EQ(seeking->GetCurrentPosition(&current), S_OK);
  ASSERT_EQ(seeking->GetStopPosition(&stop), S_OK);
  EXPECT_EQ(stop, 10 * kFrame);
  EXPECT_EQ(current, 10 * kFrame) << "at the end the position is the stop position";
  ASSERT_EQ(StopAll({src.Get(), rnd.Get()}), S_OK);
  DisconnectAll({src.Get(), rnd.Get()});
}

TEST_F(StrmBaseFilter, ClockSchedulesSamplesAndStopReleasesAWaitingStream) {
  ManualClock clock;
  ComPtr<IBaseFilter> src, rnd;
  CTestPushSource::Create({.frames = 10}, src);
  CTestRenderer* renderer = CTestRenderer::Create({}, rnd);
  ASSERT_EQ(ConnectFilters(src.Get(), rnd.Get()), S_OK);
  SetClockAll({src.Get(), rnd.Get()}, &clock);
  ASSERT_TRUE(SUCCEEDED(PauseAll({src.Get(), rnd.Get()})));
  FILTER_STATE state;
  ASSERT_EQ(rnd->GetState(5000, &state), S_OK);
  ASSERT_EQ(RunAll({src.Get(), rnd.Get()}, 1000), S_OK);
  EXPECT_EQ(renderer->Count(), 0) << "frame 0 is due at 1000";
  clock.Advance(1000);
  ASSERT_TRUE(renderer->WaitForCount(1, 5000));
  // Frame 1 waits for its time on the clock rather than being shown.
  EXPECT_TRUE(tavtest::WaitFor([&] { return clock.PendingAdvises() == 1 || renderer->Count() > 1; }));
  EXPECT_EQ(renderer->Count(), 1) << "frame 1 is not due yet";
  clock.Advance(1000 + 2 * kFrame);
  ASSERT_TRUE(renderer->WaitForCount(3, 5000));
  auto records = renderer->Records();
  EXPECT_EQ(records[0].streamTime, 0);
  EXPECT_EQ(records[2].frame, 2u);

  // The stream now waits for frame 3; Stop must release it at once.
  ASSERT_EQ(StopAll({src.Get(), rnd.Get()}), S_OK);
  EXPECT_EQ(clock.PendingAdvises(), 0u) << "stopping cancels the advise";
  SetClockAll({src.Get(), rnd.Get()}, nullptr);
  EXPECT_EQ(clock.Refs(), 0u);
  DisconnectAll({src.Get(), rnd.Get()});
}

TEST_F(StrmBaseFilter, RepeatedRunStopCyclesDoNotHang) {
  ComPtr<IBaseFilter> src, rnd;
  CTestPushSource::Create({.frames = 30, .frameDuration = 10000}, src);
  CTestRenderer* renderer = CTestRenderer::Create({}, rnd);
  ASSERT_EQ(ConnectFilters(src.Get(), rnd.Get()), S_OK);
  ComPtr<IMediaSeeking> seeking = rnd.As<IMediaSeeking>();
  for (int i = 0; i < 100; ++i) {
    const int before = renderer->Count();
    ASSERT_TRUE(SUCCEEDED(PauseAll({src.Get(), rnd.Get()})));
    ASSERT_EQ(RunAll({src.Get(), rnd.Get()}, 0), S_OK);
    ASSERT_TRUE(renderer->WaitForCount(before + 1, 5000)) << "cycle " << i;
    LONGLONG pos = (i % 30) * 10000;
    seeking->SetPositions(&pos, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
    ASSERT_EQ(StopAll({src.Get(), rnd.Get()}), S_OK);
  }
  DisconnectAll({src.Get(), rnd.Get()});
}

TEST_F(StrmBaseFilter, ClassFactoryAggregationAndUnloadCount) {
  int count = 0;
  const CFactoryTemplate* table = TestFilterTemplates(&count);
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(AMovieDllGetClassObject(table, count, CLSID_TestRenderer, IID_IClassFactory, factory.AsVoidOut()), S_OK);
  EXPECT_EQ(AMovieDllGetClassObject(table, count, GUID_NULL, IID_IClassFactory, factory.AsVoidOut()),
            CLASS_E_CLASSNOTAVAILABLE);
  ASSERT_EQ(AMovieDllGetClassObject(table, count, CLSID_TestRenderer, IID_IClassFactory, factory.AsVoidOut()), S_OK);
  const LONG before = CBaseObject::ObjectsActive();
  {
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IBaseFilter, filter.AsVoidOut()), S_OK);
    EXPECT_GT(CBaseObject::ObjectsActive(), before);
    EXPECT_EQ(AMovieDllCanUnloadNow(), S_FALSE);
    // An outer object may only ask for the inner unknown.
    ComPtr<IUnknown> inner;
    EXPECT_EQ(factory->CreateInstance(filter.Get(), IID_IBaseFilter, inner.AsVoidOut()), CLASS_E_NOAGGREGATION);
  }
  EXPECT_EQ(CBaseObject::ObjectsActive(), before);
  factory->LockServer(TRUE);
  EXPECT_EQ(DllLockCount(), 1);
  factory->LockServer(FALSE);
  EXPECT_EQ(DllLockCount(), 0);
}

// An outer object that aggregates a renderer and counts its own references.
class Outer final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    return inner ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  IUnknown* inner = nullptr;
  ULONG refs = 1;
};

TEST_F(StrmBaseFilter, AggregatedObjectDelegatesToItsOuterUnknown) {
  Outer outer;
  int count = 0;
  const CFactoryTemplate* table = TestFilterTemplates(&count);
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(AMovieDllGetClassObject(table, count, CLSID_TestRenderer, IID_IClassFactory, factory.AsVoidOut()), S_OK);
  ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
  {
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(outer.QueryInterface(IID_IBaseFilter, filter.AsVoidOut()), S_OK);
    EXPECT_EQ(outer.refs, 2u) << "references through the inner object count on the outer";
    ComPtr<IUnknown> identity;
    filter->QueryInterface(IID_IUnknown, identity.AsVoidOut());
    EXPECT_EQ(identity.Get(), static_cast<IUnknown*>(&outer));
  }
  EXPECT_EQ(outer.refs, 1u);
  outer.inner->Release();
}

}  // namespace
