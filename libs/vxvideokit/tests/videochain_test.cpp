// The conversion graph's video chain: source -> deferred resizer -> frame rate converter ->
// sink, in a real graph. Frames the converter drops are never scaled; the resizer scales
// exactly the frames the sink reads; connections renegotiate as the filters ask.
#include <gtest/gtest.h>

#include "libs/vxvideokit/deferredresizer.h"
#include "libs/vxvideokit/framerateconverter.h"
#include "libs/vxvideokit/tests/testgraph.h"

using namespace vktest;

namespace {

REFERENCE_TIME PeriodOf(const CMediaType& mt) {
  if (!mt.pbFormat) return -1;
  if (mt.formattype == FORMAT_VideoInfo2) return reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat)->AvgTimePerFrame;
  return reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->AvgTimePerFrame;
}
LONG WidthOf(const CMediaType& mt) {
  return mt.pbFormat ? reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader.biWidth : -1;
}

class vxvideokit_VideoChain : public GraphFixture {
 protected:
  void TearDown() override {
    resizer = frc = nullptr;
    GraphFixture::TearDown();
  }

  // Source of `srcType`, resizer to an RGB32 frame of outW x outH in `mode`, converter at `fps`.
  void Build(const CMediaType& srcType, LONG outW, LONG outH, int mode, double fps) {
    HRESULT hr = E_FAIL;
    CUnknown* u = CDeferredResizer::CreateInstance(nullptr, &hr);
    ASSERT_EQ(S_OK, hr);
    resizerImpl = static_cast<CDeferredResizer*>(u);
    resizer = AsFilter(resizerImpl);
    u = CFrameRateConverter::CreateInstance(nullptr, &hr);
    ASSERT_EQ(S_OK, hr);
    frc = AsFilter(static_cast<CFrameRateConverter*>(u));

    ComPtr<IResizerControl> rc = resizer.As<IResizerControl>();
    const CMediaType out = Rgb32(outW, outH);
    ASSERT_EQ(S_OK, rc->SetOutputType(&out));
    ASSERT_EQ(S_OK, rc->SetOutputSize(outH, outW, mode));
    ASSERT_EQ(S_OK, frc.As<IFrameRateControl>()->SetFrameRate(fps));

    ASSERT_TRUE(source = Add(new TestSource(srcType), u"Source"));
    ASSERT_EQ(S_OK, graph->AddFilter(resizer.Get(), u"Video Resizer"));
    ASSERT_EQ(S_OK, graph->AddFilter(frc.Get(), u"KORVA Frame Rate Converter"));
    ASSERT_TRUE(sink = Add(new TestSink, u"Sink"));
  }
  void Connect() {
    ASSERT_EQ(S_OK, graph->Connect(source->OutPin(), PinOf(resizer.Get(), u"Input").Get()));
    ASSERT_EQ(S_OK, graph->ConnectDirect(PinOf(resizer.Get(), u"Output").Get(), PinOf(frc.Get(), u"XFormIn").Get(), nullptr));
    ASSERT_EQ(S_OK, graph->ConnectDirect(PinOf(frc.Get(), u"XFormOut").Get(), sink->InPin(), nullptr));
  }
  void Run() {
    ASSERT_EQ(S_OK, graph.As<IMediaControl>()->Run());
    ASSERT_EQ(S_OK, source->NewSegment());
  }

  TestSource* source = nullptr;  // owned by the graph
  TestSink* sink = nullptr;      // owned by the graph
  CDeferredResizer* resizerImpl = nullptr;
  ComPtr<IBaseFilter> resizer, frc;
};

}  // namespace

TEST_F(vxvideokit_VideoChain, ThirtyToFifteenDropsEverySecondFrameWithoutScalingIt) {
  Build(Rgb32(64, 48), 32, 24, VXRESIZE_FIT, 15.0);
  Connect();
  Run();
  for (int i = 0; i < 8; ++i) {
    const REFERENCE_TIME start = REFERENCE_TIME(i * 10'000'000.0 / 30 + 0.5);
    ASSERT_EQ(S_OK, source->Push(start, start + 333333, uint32_t(i + 1)));
  }
  ASSERT_EQ(4u, sink->frames.size());
  const REFERENCE_TIME starts[] = {0, 666666, 1333333, 1999999, 2666666};
  for (size_t k = 0; k < 4; ++k) {
    EXPECT_EQ(starts[k], sink->frames[k].start) << k;
    EXPECT_EQ(starts[k + 1], sink->frames[k].stop) << k;
    EXPECT_EQ(uint32_t(2 * k + 1), sink->frames[k].firstPixel) << "frame " << 2 * k << " scaled into slot " << k;
  }
  EXPECT_EQ(4, resizerImpl->ResizeCount()) << "dropped frames are never scaled";
}

TEST_F(vxvideokit_VideoChain, TheResizerScalesExactlyTheFramesTheSinkReads) {
  Build(Rgb32(64, 48), 32, 24, VXRESIZE_STRETCH, 30.0);
  Connect();
  sink->readPolicy = [](size_t index) { return index % 3 == 1; };
  Run();
  for (int i = 0; i < 9; ++i) {
    const REFERENCE_TIME start = REFERENCE_TIME(i * 10'000'000.0 / 30 + 0.5);
    ASSERT_EQ(S_OK, source->Push(start, start + 333333, uint32_t(i + 1)));
  }
  ASSERT_EQ(9u, sink->frames.size());
  int read = 0;
  for (const auto& f : sink->frames) read += f.read;
  EXPECT_EQ(3, read);
  EXPECT_EQ(3, resizerImpl->ResizeCount());
  EXPECT_EQ(5u, sink->frames[4].firstPixel);
}

// Each slot shows the frame on screen at its start: every frame fills both of its slots (the
// last one too, until its end), and a repeat is scaled once.
TEST_F(vxvideokit_VideoChain, FifteenToThirtyDeliversEachFrameInBothItsSlotsAndScalesItOnce) {
  Build(Rgb32(64, 48), 32, 24, VXRESIZE_CROP, 30.0);
  Connect();
  Run();
  const REFERENCE_TIME in[] = {0, 666667, 1333333};
  for (int i = 0; i < 3; ++i) ASSERT_EQ(S_OK, source->Push(in[i], in[i] + 666667, uint32_t(10 + i)));
  ASSERT_EQ(6u, sink->frames.size());
  const REFERENCE_TIME slots[] = {0, 333333, 666666, 999999, 1333333, 1666666, 1999999};
  const uint32_t values[] = {10, 10, 11, 11, 12, 12};
  for (size_t k = 0; k < 6; ++k) {
    EXPECT_EQ(slots[k], sink->frames[k].start) << k;
    EXPECT_EQ(slots[k + 1], sink->frames[k].stop) << k;
    EXPECT_EQ(values[k], sink->frames[k].firstPixel) << k;
  }
  EXPECT_EQ(sink->frames[2].sample, sink->frames[3].sample) << "a repeat is the same sample";
  EXPECT_EQ(3, resizerImpl->ResizeCount());
}

TEST_F(vxvideokit_VideoChain, TheConverterOffersTheNewFramePeriodAndKeepsTheOriginalUpstream) {
  Build(Rgb32(64, 48), 32, 24, VXRESIZE_FIT, 15.0);
  Connect();
  const CMediaType downstream = sink->ConnectionType();
  EXPECT_EQ(666666, PeriodOf(downstream));
  const CMediaType upstream = ConnectionTypeOf(PinOf(frc.Get(), u"XFormIn").Get());
  EXPECT_EQ(333667, PeriodOf(upstream)) << "the resizer's own type, as configured";
  EXPECT_EQ(32, WidthOf(downstream));
}

TEST_F(vxvideokit_VideoChain, ResizerConnectionRules) {
  // A top-down source is refused.
  Build(Rgb32(64, -48), 32, 24, VXRESIZE_FIT, 15.0);
  EXPECT_NE(S_OK, graph->ConnectDirect(source->OutPin(), PinOf(resizer.Get(), u"Input").Get(), nullptr));
}

TEST_F(vxvideokit_VideoChain, ANewOutputSizeReconnectsAllTheWayDown) {
  Build(Rgb32(64, 48), 32, 24, VXRESIZE_FIT, 15.0);
  Connect();
  ComPtr<IResizerControl> rc = resizer.As<IResizerControl>();
  const CMediaType other = Rgb32(16, 12);
  EXPECT_EQ(VFW_E_ALREADY_CONNECTED, rc->SetOutputType(&other));
  int h = 0, w = 0;
  ASSERT_EQ(S_OK, rc->GetInputSize(&h, &w));
  EXPECT_EQ(48, h);
  EXPECT_EQ(64, w);

  ASSERT_EQ(S_OK, rc->SetOutputSize(36, 48, VXRESIZE_STRETCH));
  const CMediaType downstream = sink->ConnectionType();
  EXPECT_EQ(48, WidthOf(downstream));
  EXPECT_EQ(666666, PeriodOf(downstream));
  EXPECT_EQ(48, WidthOf(ConnectionTypeOf(PinOf(resizer.Get(), u"Output").Get())));

  // Streaming at the new size.
  Run();
  ASSERT_EQ(S_OK, source->Push(0, 333333, 7));
  ASSERT_EQ(1u, sink->frames.size());
  EXPECT_EQ(7u, sink->frames[0].firstPixel);
}

TEST_F(vxvideokit_VideoChain, StateChangesFlushAndEndOfStreamPassThrough) {
  Build(Rgb32(64, 48), 32, 24, VXRESIZE_FIT, 15.0);
  // Unconnected, every filter changes state freely.
  for (IBaseFilter* f : {resizer.Get(), frc.Get()}) {
    EXPECT_EQ(S_OK, f->Pause());
    EXPECT_EQ(S_OK, f->Run(0));
    EXPECT_EQ(S_OK, f->Stop());
  }
  Connect();
  Run();
  ASSERT_EQ(S_OK, source->Push(0, 333333, 1));
  ASSERT_EQ(S_OK, source->Flush());
  EXPECT_EQ(1, sink->flushes);
  ASSERT_EQ(S_OK, source->NewSegment());
  ASSERT_EQ(S_OK, source->Push(0, 333333, 2));
  ASSERT_EQ(S_OK, source->EndOfStream());
  EXPECT_TRUE(sink->endOfStream);
  ASSERT_EQ(2u, sink->frames.size());
  EXPECT_EQ(0, sink->frames[1].start) << "the new segment restarted the slots";
  EXPECT_EQ(2u, sink->frames[1].firstPixel);
}
