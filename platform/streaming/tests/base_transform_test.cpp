// Conformance of the transform and in-place transform base classes through the test
// filters: pin names and types, connection order, type conversion, a custom allocator
// whose samples do their work in GetPointer, seeking and flushing through the filters,
// an in-place filter that delivers one sample twice, allocator sharing after a
// reconnection, and no leaked references.
#include <gtest/gtest.h>

#include "platform/streaming/tests/base_testutil.h"

using namespace tavtest;
using namespace basetest;

namespace {

constexpr REFERENCE_TIME kFrame = 400000;

class StrmBaseTransform : public BaseTest {};

TEST_F(StrmBaseTransform, PinsAreNamedAndOutputNeedsInputFirst) {
  ComPtr<IBaseFilter> src, xf, rnd;
  CTestPushSource::Create({}, src);
  CTestTransform::Create({}, xf);
  CTestRenderer::Create({}, rnd);
  ComPtr<IPin> in = PinOf(xf.Get(), PINDIR_INPUT);
  ComPtr<IPin> out = PinOf(xf.Get(), PINDIR_OUTPUT);
  PIN_INFO info{};
  in->QueryPinInfo(&info);
  info.pFilter->Release();
  EXPECT_EQ(std::u16string(info.achName), u"XForm In");
  out->QueryPinInfo(&info);
  info.pFilter->Release();
  EXPECT_EQ(std::u16string(info.achName), u"XForm Out");
  ComPtr<IPin> byId;
  EXPECT_EQ(xf->FindPin(u"In", byId.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(byId.Get(), in.Get());

  // Nothing to offer and nothing to connect before the input knows its type.
  ComPtr<IEnumMediaTypes> types;
  ASSERT_EQ(out->EnumMediaTypes(types.ReleaseAndGetAddressOf()), S_OK);
  AM_MEDIA_TYPE* mt = nullptr;
  EXPECT_EQ(types->Next(1, &mt, nullptr), S_FALSE);
  EXPECT_TRUE(FAILED(ConnectFilters(xf.Get(), rnd.Get())));
  ComPtr<IPin> peer;
  EXPECT_EQ(out->ConnectedTo(peer.ReleaseAndGetAddressOf()), VFW_E_NOT_CONNECTED);

  ASSERT_EQ(ConnectFilters(src.Get(), xf.Get()), S_OK);
  ASSERT_EQ(ConnectFilters(xf.Get(), rnd.Get()), S_OK);
  DisconnectAll({src.Get(), xf.Get(), rnd.Get()});
}

TEST_F(StrmBaseTransform, ConvertsTypesAndStreamsEveryFrame) {
  ComPtr<IBaseFilter> src, xf, rnd, wrong;
  CTestPushSource::Create({.subtype = MEDIASUBTYPE_RGB24, .width = 16, .height = 8, .frames = 6}, src);
  CTestTransform* transform =
      CTestTransform::Create({.inputSubtype = MEDIASUBTYPE_RGB24, .outputSubtype = MEDIASUBTYPE_RGB32}, xf);
  CTestRenderer* renderer = CTestRenderer::Create({.subtype = MEDIASUBTYPE_RGB32}, rnd);
  CTestRenderer::Create({.subtype = MEDIASUBTYPE_RGB24}, wrong);
  ASSERT_EQ(ConnectFilters(src.Get(), xf.Get()), S_OK);
  EXPECT_EQ(ConnectFilters(xf.Get(), wrong.Get()), VFW_E_NO_ACCEPTABLE_TYPES);
  ASSERT_EQ(ConnectFilters(xf.Get(), rnd.Get()), S_OK);
  CMediaType outType;
  ASSERT_EQ(PinOf(rnd.Get(), PINDIR_INPUT)->ConnectionMediaType(&outType), S_OK);
  EXPECT_EQ(outType.subtype, MEDIASUBTYPE_RGB32);
  EXPECT_EQ(outType.GetSampleSize(), 16u * 8 * 4);

  const std::vector<IBaseFilter*> chain = {src.Get(), xf.Get(), rnd.Get()};
  ASSERT_TRUE(SUCCEEDED(PauseAll(chain)));
  ASSERT_EQ(RunAll(chain, 0), S_OK);
  ASSERT_TRUE(renderer->WaitForEndOfStream(5000));
  auto records = renderer->Records();
  ASSERT_EQ(records.size(), 6u);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(records[i].frame, DWORD(i));
  EXPECT_EQ(transform->Transforms(), 6);
  EXPECT_EQ(transform->StreamingStarts(), 1);
  ASSERT_EQ(StopAll(chain), S_OK);
  DisconnectAll(chain);
}

TEST_F(StrmBaseTransform, DeferredSamplesConvertOnlyWhenRead) {
  ComPtr<IBaseFilter> src, xf, rnd;
  CTestPushSource::Create({.frames = 8, .frameDuration = kFrame}, src);
  CTestTransform* transform = CTestTransform::Create({.deferred = true}, xf);
  CTestRenderer* renderer = CTestRenderer::Create({}, rnd);
  ASSERT_EQ(ConnectFilters(src.Get(), xf.Get()), S_OK);
  ASSERT_EQ(ConnectFilters(xf.Get(), rnd.Get()), S_OK);
  // The output pin uses the filter's own allocator whatever the renderer offers.
  ComPtr<IMemInputPin> rin = PinOf(rnd.Get(), PINDIR_INPUT).As<IMemInputPin>();
  ComPtr<IMemAllocator> used;
  ASSERT_EQ(rin->GetAllocator(used.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(used.Get(), transform->DeferredAllocator());

  const std::vector<IBaseFilter*> chain = {src.Get(), xf.Get(), rnd.Get()};
  ASSERT_TRUE(SUCCEEDED(PauseAll(chain)));
  FILTER_STATE state;
  ASSERT_EQ(rnd->GetState(5000, &state), S_OK);
  EXPECT_EQ(transform->Transforms(), 1);
  EXPECT_EQ(transform->Conversions(), 0) << "no conversion before anybody reads the frame";
  ASSERT_EQ(RunAll(chain, 0), S_OK);
  ASSERT_TRUE(renderer->WaitForEndOfStream(5000));
  auto records = renderer->Records();
  ASSERT_EQ(records.size(), 8u);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(records[i].frame, DWORD(i)) << "the frame was read through GetPointer";
  EXPECT_EQ(transform->Conversions(), 8);
  ASSERT_EQ(StopAll(chain), S_OK);
  DisconnectAll(chain);
}

TEST_F(StrmBaseTransform, DeferredSampleReturnedUnreadReleasesItsInput) {
  ComPtr<IBaseFilter> src, xf, rnd;
  CTestPushSource::Create({.frames = 3, .buffers = 1}, src);
  CTestTransform* transform = CTestTransform::Create({.deferred = true}, xf);
  CTestRenderer::Create({}, rnd);
  ASSERT_EQ(ConnectFilters(src.Get(), xf.Get()), S_OK);
  ASSERT_EQ(ConnectFilters(xf.Get(), rnd.Get()), S_OK);
  const std::vector<IBaseFilter*> chain = {src.Get(), xf.Get(), rnd.Get()};
  ASSERT_TRUE(SUCCEEDED(PauseAll(chain)));
  FILTER_STATE state;
  ASSERT_EQ(rnd->GetState(5000, &state), S_OK);
  // The renderer holds the unread output sample, which holds the source's only buffer;
  // stopping returns it unread and must free the input sample too, or the source's
  // allocator could never be released.
  ASSERT_EQ(StopAll(chain), S_OK);
  EXPECT_EQ(transform->Conversions(), 0);
  DisconnectAll(chain);
}

TEST_F(StrmBaseTransform, SeekingPassesThroughAndFlushReachesTheRenderer) {
  ComPtr<IBaseFilter> src, xf, rnd;
  CTestPushSource::Create({.frames = 10, .frameDuration = kFrame}, src);
  CTestTransform::Create({}, xf);
  CTestRenderer* renderer = CTestRenderer::Create({}, rnd);
  ASSERT_EQ(ConnectFilters(src.Get(), xf.Get()), S_OK);
  ASSERT_EQ(ConnectFilters(xf.Get(), rnd.Get()), S_OK);
  const std::vector<IBaseFilter*> chain = {src.Get(), xf.Get(), rnd.Get()};
  ComPtr<IMediaSeeking> seeking = rnd.As<IMediaSeeking>();
  ComPtr<IMediaPosition> position = rnd.As<IMediaPosition>();
  ASSERT_TRUE(seeking && position);
  REFTIME length = 0;
  ASSERT_EQ(position->get_Duration(&length), S_OK);
  EXPECT_DOUBLE_EQ(length, 0.4);

  ASSERT_TRUE(SUCCEEDED(PauseAll(chain)));
  ASSERT_EQ(RunAll(chain, 0), S_OK);
  ASSERT_TRUE(renderer->WaitForCount(2, 5000));
  LONGLONG pos = 7 * kFrame;
  LONGLONG stop = 9 * kFrame;
  ASSERT_EQ(seeking->SetPositions(&pos, AM_SEEKING_AbsolutePositioning, &stop, AM_SEEKING_AbsolutePositioning), S_OK);
  EXPECT_GE(renderer->Flushes(), 1);
  ASSERT_TRUE(renderer->WaitForEndOfStream(5000));
  auto records = renderer->Records();
  ASSERT_GE(records.size(), 2u);
  EXPECT_EQ(records.back().frame, 8u) << "the stop position ends the stream";
  EXPECT_EQ(records.back().segmentStart, 7 * kFrame);
  LONGLONG current = 0;
  ASSERT_EQ(seeking->GetCurrentPosition(&current), S_OK);
  EXPECT_EQ(current, 9 * kFrame);
  LONGLONG gotStop = 0;
  ASSERT_EQ(seeking->GetStopPosition(&gotStop), S_OK);
  EXPECT_EQ(gotStop, 9 * kFrame);
  ASSERT_EQ(StopAll(chain), S_OK);
  DisconnectAll(chain);
}

TEST_F(StrmBaseTransform, InPlaceFilterDeliversOneSampleTwice) {
  ComPtr<IBaseFilter> src, ip, rnd;
  CTestPushSource::Create({.frames = 5}, src);
  CTestInPlace* inplace = CTestInPlace::Create({.deliveries = 2}, ip);
  CTestRenderer* renderer = CTestRenderer::Create({}, rnd);
  PIN_INFO info{};
  PinOf(ip.Get(), PINDIR_INPUT)->QueryPinInfo(&info);
  info.pFilter->Release();
  EXPECT_EQ(std::u16string(info.achName), u"Input");
  ASSERT_EQ(ConnectFilters(src.Get(), ip.Get()), S_OK);
  ASSERT_EQ(ConnectFilters(ip.Get(), rnd.Get()), S_OK);
  // Without a graph nothing is reconnected: the two sides keep their own allocators and
  // every sample is copied before it is changed.
  EXPECT_FALSE(inplace->SharesAllocator());

  const std::vector<IBaseFilter*> chain = {src.Get(), ip.Get(), rnd.Get()};
  ASSERT_TRUE(SUCCEEDED(PauseAll(chain)));
  ASSERT_EQ(RunAll(chain, 0), S_OK);
  ASSERT_TRUE(renderer->WaitForEndOfStream(5000));
  auto records = renderer->Records();
  ASSERT_EQ(records.size(), 10u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(records[2 * i].frame, DWORD(i));
    EXPECT_EQ(records[2 * i + 1].frame, DWORD(i));
    EXPECT_EQ(records[2 * i].sample, records[2 * i + 1].sample) << "the same sample, delivered twice";
    EXPECT_EQ(records[2 * i].stamp, BYTE(i + 1)) << "transformed once";
    EXPECT_EQ(records[2 * i + 1].stamp, BYTE(i + 1));
  }
  EXPECT_EQ(inplace->Transforms(), 5);
  EXPECT_EQ(inplace->ExtraDeliveryFailures(), 0);
  ASSERT_EQ(StopAll(chain), S_OK);
  DisconnectAll(chain);
}

TEST_F(StrmBaseTransform, InPlaceFilterInAGraphSharesOneAllocator) {
  FakeGraph graph;
  ComPtr<IBaseFilter> src, ip, rnd;
  CTestPushSource::Create({.frames = 4}, src);
  CTestInPlace* inplace = CTestInPlace::Create({}, ip);
  CTestRenderer* renderer = CTestRenderer::Create({}, rnd);
  const std::vector<IBaseFilter*> chain = {src.Get(), ip.Get(), rnd.Get()};
  graph.Join(chain);
  ASSERT_EQ(ConnectFilters(src.Get(), ip.Get()), S_OK);
  ASSERT_EQ(ConnectFilters(ip.Get(), rnd.Get()), S_OK);
  EXPECT_EQ(graph.Reconnects(), 1) << "the input is reconnected once the output is";
  EXPECT_TRUE(inplace->SharesAllocator());
  ComPtr<IMemAllocator> upstream, downstream;
  PinOf(ip.Get(), PINDIR_INPUT).As<IMemInputPin>()->GetAllocator(upstream.ReleaseAndGetAddressOf());
  PinOf(rnd.Get(), PINDIR_INPUT).As<IMemInputPin>()->GetAllocator(downstream.ReleaseAndGetAddressOf());
  EXPECT_EQ(upstream.Get(), downstream.Get());

  ASSERT_TRUE(SUCCEEDED(PauseAll(chain)));
  ASSERT_EQ(RunAll(chain, 0), S_OK);
  ASSERT_TRUE(renderer->WaitForEndOfStream(5000));
  auto records = renderer->Records();
  ASSERT_EQ(records.size(), 4u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(records[i].stamp, BYTE(i + 1));
  ASSERT_EQ(StopAll(chain), S_OK);
  DisconnectAll(chain);
  graph.Leave(chain);
  EXPECT_EQ(graph.Refs(), 0u);
}

TEST_F(StrmBaseTransform, PullSourceServesReadsAndFlushReleasesWaiters) {
  ComPtr<IBaseFilter> src;
  CTestPullSource* source = CTestPullSource::Create({.size = 1000}, src);
  ComPtr<IAsyncReader> reader = PinOf(src.Get(), PINDIR_OUTPUT).As<IAsyncReader>();
  ASSERT_TRUE(reader);
  LONGLONG total = 0, available = 0;
  ASSERT_EQ(reader->Length(&total, &available), S_OK);
  EXPECT_EQ(total, 1000);
  BYTE buf[16];
  ASSERT_EQ(reader->SyncRead(990, 10, buf), S_OK);
  EXPECT_EQ(buf[0], CTestPullSource::ExpectedByte(990));
  EXPECT_EQ(reader->SyncRead(995, 10, buf), S_FALSE) << "a read past the end is short";

  ALLOCATOR_PROPERTIES props{2, 100, 0, 0};
  ComPtr<IMemAllocator> allocator;
  ASSERT_EQ(reader->RequestAllocator(nullptr, &props, allocator.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(allocator->Commit(), S_OK);
  IMediaSample* sample = nullptr;
  ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
  REFERENCE_TIME start = 100 * UNITS, stop = 150 * UNITS;
  sample->SetTime(&start, &stop);
  ASSERT_EQ(reader->Request(sample, 42), S_OK);
  sample->Release();
  IMediaSample* done = nullptr;
  DWORD_PTR user = 0;
  ASSERT_EQ(reader->WaitForNext(1000, &done, &user), S_OK);
  EXPECT_EQ(user, 42u);
  EXPECT_EQ(done->GetActualDataLength(), 50);
  BYTE* data = nullptr;
  done->GetPointer(&data);
  EXPECT_EQ(data[0], source->Data()[100]);
  done->Release();

  EXPECT_EQ(reader->WaitForNext(10, &done, &user), VFW_E_TIMEOUT);
  ASSERT_EQ(reader->BeginFlush(), S_OK);
  EXPECT_EQ(reader->WaitForNext(INFINITE, &done, &user), VFW_E_WRONG_STATE) << "a flush must not leave waiters";
  ASSERT_EQ(reader->EndFlush(), S_OK);
  allocator->Decommit();
}

}  // namespace
