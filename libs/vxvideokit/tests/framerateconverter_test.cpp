// The frame rate converter on its own: control interface, type rewriting and its table,
// and the time stamps Transform gives (repeats need a downstream pin: see the graph test).
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "libs/vxvideokit/framerateconverter.h"
#include "libs/vxvideokit/tests/filterhelpers.h"

using namespace vktest;

namespace {

using Frc = DirectFilter<CFrameRateConverter, IFrameRateControl>;

REFERENCE_TIME PeriodOf(const CMediaType& mt) {
  if (mt.formattype == FORMAT_VideoInfo2) return reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat)->AvgTimePerFrame;
  return reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->AvgTimePerFrame;
}

struct Stamp {
  HRESULT hr;
  REFERENCE_TIME start, stop;
};

Stamp Push(Frc& f, IMediaSample* s, REFERENCE_TIME start, bool withTime = true) {
  if (withTime) {
    REFERENCE_TIME stop = start + 1;
    s->SetTime(&start, &stop);
  } else {
    s->SetTime(nullptr, nullptr);
  }
  Stamp out{f.impl->Transform(s), -1, -1};
  s->GetTime(&out.start, &out.stop);
  return out;
}

}  // namespace

TEST(vxvideokit_FrameRateConverter, ControlInterfaceKeepsTheTargetRate) {
  Frc f;
  ASSERT_TRUE(f.control);
  double fps = 0;
  EXPECT_EQ(E_POINTER, f.control->GetFrameRate(nullptr));
  ASSERT_EQ(S_OK, f.control->GetFrameRate(&fps));
  EXPECT_EQ(30.0, fps);
  EXPECT_EQ(E_INVALIDARG, f.control->SetFrameRate(-1.0));
  EXPECT_EQ(E_INVALIDARG, f.control->SetFrameRate(std::nan("")));
  EXPECT_EQ(S_OK, f.control->SetFrameRate(15.0));
  EXPECT_EQ(S_OK, f.control->SetFrameRate(0.0));
  ASSERT_EQ(S_OK, f.control->GetFrameRate(&fps));
  EXPECT_EQ(0.0, fps);

  ComPtr<IPin> in, out;
  EXPECT_EQ(S_OK, f.filter->FindPin(u"XFormIn", &in));
  EXPECT_EQ(S_OK, f.filter->FindPin(u"XFormOut", &out));
  EXPECT_EQ(S_OK, f.impl->CheckInputType(P(Rgb32(4, 4))));
  CMediaType audio;
  audio.InitMediaType();
  audio.SetType(&MEDIATYPE_Audio);
  EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, f.impl->CheckInputType(&audio));
  EXPECT_EQ(E_POINTER, f.impl->CheckInputType(nullptr));
  EXPECT_EQ(VFW_E_NOT_IN_GRAPH, f.impl->CompleteConnect(PINDIR_INPUT, nullptr));
}

TEST(vxvideokit_FrameRateConverter, RewritesTheFramePeriodAndRemembersWhereTypesCameFrom) {
  Frc f;
  ASSERT_EQ(S_OK, f.control->SetFrameRate(15.0));
  const CMediaType vih = Rgb32(320, 240), vih2 = Rgb32(320, 240, true);
  const CMediaType out = f.impl->RewriteType(vih, true);
  const CMediaType out2 = f.impl->RewriteType(vih2, true);
  EXPECT_EQ(666666, PeriodOf(out));
  EXPECT_EQ(666666, PeriodOf(out2));
  EXPECT_EQ(333667, PeriodOf(vih));
  EXPECT_TRUE(f.impl->UpstreamTypeOf(out) == vih);
  EXPECT_TRUE(f.impl->UpstreamTypeOf(out2) == vih2);
  const CMediaType other = Rgb32(640, 480);
  EXPECT_TRUE(f.impl->UpstreamTypeOf(other) == other) << "types not in the table pass as they are";

  // Without a video header, or at rate 0, nothing is rewritten.
  CMediaType audio;
  audio.InitMediaType();
  audio.SetType(&MEDIATYPE_Audio);
  EXPECT_TRUE(f.impl->RewriteType(audio, true) == audio);
  ASSERT_EQ(S_OK, f.control->SetFrameRate(0.0));
  EXPECT_TRUE(f.impl->RewriteType(vih, false) == vih);
  ASSERT_EQ(S_OK, f.control->SetFrameRate(30.0));
  EXPECT_EQ(333333, PeriodOf(f.impl->RewriteType(vih, false)));
}

TEST(vxvideokit_FrameRateConverter, DropsAndRestampsThirtyToFifteen) {
  Frc f;
  ASSERT_EQ(S_OK, f.control->SetFrameRate(15.0));
  f.impl->NewSegment(0, MAX_TIME, 1.0);
  ComPtr<IMemAllocator> a = CommittedAllocator(1, 16);
  ComPtr<IMediaSample> s = Buffer(a.Get());
  const REFERENCE_TIME in[] = {0, 333333, 666667, 1000000, 1333333};
  std::vector<Stamp> got;
  for (REFERENCE_TIME t : in) got.push_back(Push(f, s.Get(), t));
  EXPECT_EQ(S_OK, got[0].hr);
  EXPECT_EQ(0, got[0].start);
  EXPECT_EQ(666666, got[0].stop);
  EXPECT_EQ(S_FALSE, got[1].hr);
  EXPECT_EQ(S_OK, got[2].hr);
  EXPECT_EQ(666666, got[2].start);
  EXPECT_EQ(1333333, got[2].stop);
  EXPECT_EQ(S_FALSE, got[3].hr);
  EXPECT_EQ(S_OK, got[4].hr);
  EXPECT_EQ(1333333, got[4].start);
}

TEST(vxvideokit_FrameRateConverter, LateBaseUntimedSamplesAndRateZero) {
  Frc f;
  ASSERT_EQ(S_OK, f.control->SetFrameRate(30.0));
  f.impl->NewSegment(0, MAX_TIME, 1.0);
  ComPtr<IMemAllocator> a = CommittedAllocator(1, 16);
  ComPtr<IMediaSample> s = Buffer(a.Get());
  Stamp first = Push(f, s.Get(), 5'000'000);
  EXPECT_EQ(S_OK, first.hr);
  EXPECT_EQ(5'000'000, first.start);
  EXPECT_EQ(5'333'333, first.stop);
  Stamp untimed = Push(f, s.Get(), 0, false);
  EXPECT_EQ(S_OK, untimed.hr);
  EXPECT_EQ(VFW_E_SAMPLE_TIME_NOT_SET, s->GetTime(&untimed.start, &untimed.stop)) << "passes unchanged";
  // The untimed sample used up slot 1, so a frame in slot 1's time is now early.
  EXPECT_EQ(S_FALSE, Push(f, s.Get(), 5'400'000).hr);
  Stamp third = Push(f, s.Get(), 5'700'000);
  EXPECT_EQ(S_OK, third.hr);
  EXPECT_EQ(5'666'666, third.start);

  // A new segment restarts the slots at its first frame.
  f.impl->NewSegment(0, MAX_TIME, 1.0);
  EXPECT_EQ(0, Push(f, s.Get(), 0).start);

  ASSERT_EQ(S_OK, f.control->SetFrameRate(0.0));
  Stamp passed = Push(f, s.Get(), 123);
  EXPECT_EQ(S_OK, passed.hr);
  EXPECT_EQ(123, passed.start);
  EXPECT_EQ(124, passed.stop);
}
