// The deferred resizer on its own: control interface, type checks, and the deferred
// samples (scaled on first read, released unread, outliving the filter).
#include <gtest/gtest.h>

#include <cstring>

#include "libs/vxvideokit/deferredresizer.h"
#include "libs/vxvideokit/tests/filterhelpers.h"

using namespace vktest;

namespace {

using Resizer = DirectFilter<CDeferredResizer, IResizerControl>;

// Simulates the two connections by handing the filter its connection types.
void Connect(Resizer& r, CMediaType in, CMediaType out) {
  ASSERT_EQ(S_OK, r.impl->SetMediaType(PINDIR_INPUT, &in));
  ASSERT_EQ(S_OK, r.impl->SetMediaType(PINDIR_OUTPUT, &out));
}

ComPtr<IMemAllocator> CommitDeferred(Resizer& r, LONG size) {
  ComPtr<IMemAllocator> a(static_cast<IMemAllocator*>(r.impl->Allocator()));
  ALLOCATOR_PROPERTIES want{1, size, 1, 0}, got{};
  EXPECT_EQ(S_OK, a->SetProperties(&want, &got));
  EXPECT_EQ(S_OK, a->Commit());
  return a;
}

void Fill(IMediaSample* s, LONG width, LONG height) {
  BYTE* p = nullptr;
  ASSERT_EQ(S_OK, s->GetPointer(&p));
  auto* px = reinterpret_cast<uint32_t*>(p);
  for (LONG y = 0; y < height; ++y)
    for (LONG x = 0; x < width; ++x) px[y * width + x] = uint32_t(y << 8 | x);
  s->SetActualDataLength(width * height * 4);
}

// Configures 4 x 4 RGB32 output, connects the filter from `in` to `out` and commits its
// deferred allocator with one 64-byte buffer, which it returns.
ComPtr<IMemAllocator> WireFourByFour(Resizer& r, const CMediaType& in, const CMediaType& out = Rgb32(4, 4)) {
  EXPECT_EQ(S_OK, r.control->SetOutputType(P(Rgb32(4, 4))));
  Connect(r, in, out);
  return CommitDeferred(r, 64);
}

// Hands the filter an upstream sample of width x height filled by Fill, for `out`; the input
// sample is the filter's alone afterwards.
HRESULT TransformFilled(Resizer& r, IMemAllocator* upstream, IMediaSample* out, LONG width, LONG height) {
  ComPtr<IMediaSample> in = Buffer(upstream);
  if (!in) return E_UNEXPECTED;
  Fill(in.Get(), width, height);
  return r.impl->Transform(in.Get(), out);
}

}  // namespace

TEST(vxvideokit_DeferredResizer, AnswersItsInterfacesAndNamesItsPins) {
  Resizer r;
  ASSERT_TRUE(r.control);
  EXPECT_TRUE(r.filter.As<IMediaFilter>());
  EXPECT_FALSE(r.filter.As<IFrameRateControl>());
  ComPtr<IPin> in, out;
  ASSERT_EQ(S_OK, r.filter->FindPin(u"Input", &in));
  ASSERT_EQ(S_OK, r.filter->FindPin(u"Output", &out));
  PIN_DIRECTION dir;
  in->QueryDirection(&dir);
  EXPECT_EQ(PINDIR_INPUT, dir);
  out->QueryDirection(&dir);
  EXPECT_EQ(PINDIR_OUTPUT, dir);
  CLSID clsid;
  EXPECT_EQ(S_OK, r.filter->GetClassID(&clsid));
  EXPECT_EQ(CLSID_VxDeferredResizer, clsid);
}

TEST(vxvideokit_DeferredResizer, ControlInterfaceStoresTypeSizeAndMode) {
  Resizer r;
  int h = 0, w = 0, m = 0;
  EXPECT_EQ(E_POINTER, r.control->GetOutputSize(nullptr, &w, &m));
  EXPECT_EQ(E_UNEXPECTED, r.control->GetOutputSize(&h, &w, &m)) << "no output type yet";
  EXPECT_EQ(E_UNEXPECTED, r.control->SetOutputSize(480, 640, 2));
  EXPECT_EQ(E_POINTER, r.control->GetInputSize(&h, &w)) << "no input type known";
  EXPECT_EQ(E_POINTER, r.control->SetOutputType(nullptr));
  EXPECT_EQ(E_POINTER, r.control->GetOutputType(nullptr));

  CMediaType audio;
  audio.InitMediaType();
  audio.SetType(&MEDIATYPE_Audio);
  audio.SetFormatType(&FORMAT_VideoInfo);
  audio.SetSampleSize(4);
  EXPECT_EQ(VFW_E_INVALID_MEDIA_TYPE, r.control->SetOutputType(&audio));
  EXPECT_EQ(VFW_E_INVALID_MEDIA_TYPE, r.control->SetOutputType(P(Rgb32(640, 480, true)))) << "VIDEOINFOHEADER2";
  CMediaType noSize = Rgb32(640, 480);
  noSize.lSampleSize = 0;
  EXPECT_EQ(VFW_E_INVALID_MEDIA_TYPE, r.control->SetOutputType(&noSize));

  CMediaType type = Rgb32(320, 240);
  ASSERT_EQ(S_OK, r.control->SetOutputType(&type));
  ASSERT_EQ(S_OK, r.control->SetOutputSize(480, 640, 3));
  ASSERT_EQ(S_OK, r.control->GetOutputSize(&h, &w, &m));
  EXPECT_EQ(480, h);
  EXPECT_EQ(640, w);
  EXPECT_EQ(3, m);

  AM_MEDIA_TYPE copy{};
  ASSERT_EQ(S_OK, r.control->GetOutputType(&copy));
  ASSERT_NE(nullptr, copy.pbFormat);
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(copy.pbFormat);
  EXPECT_EQ(640 * 480 * 4u, vih->bmiHeader.biSizeImage);
  EXPECT_EQ(640 * 480 * 4u, copy.lSampleSize);
  EXPECT_EQ(MEDIASUBTYPE_RGB32, copy.subtype);
  FreeMediaType(copy);

  // Only the mode changes: no size work, the mode is kept.
  ASSERT_EQ(S_OK, r.control->SetOutputSize(480, 640, 1));
  ASSERT_EQ(S_OK, r.control->GetOutputSize(&h, &w, &m));
  EXPECT_EQ(1, m);
  EXPECT_EQ(E_INVALIDARG, r.control->SetOutputSize(-480, 640, 1));
  EXPECT_EQ(E_INVALIDARG, r.control->SetOutputSize(480, 100000, 1));
}

TEST(vxvideokit_DeferredResizer, AcceptsBottomUpFramesOfTheConfiguredSubtype) {
  Resizer r;
  CMediaType configured = Rgb32(640, 480);
  ASSERT_EQ(S_OK, r.control->SetOutputType(&configured));
  EXPECT_EQ(S_OK, r.impl->CheckInputType(P(Rgb32(352, 240))));
  EXPECT_EQ(S_OK, r.impl->CheckInputType(P(Rgb32(352, 240, true))));
  EXPECT_EQ(E_FAIL, r.impl->CheckInputType(P(Rgb32(352, -240)))) << "top-down";
  EXPECT_EQ(E_FAIL, r.impl->CheckInputType(P(Rgb32(0, 240))));
  EXPECT_EQ(E_FAIL, r.impl->CheckInputType(P(VideoType(352, 240, 24, MEDIASUBTYPE_RGB24))));

  EXPECT_EQ(S_OK, r.impl->CheckTransform(P(Rgb32(352, 240)), P(Rgb32(640, 480))));
  EXPECT_EQ(E_FAIL, r.impl->CheckTransform(P(Rgb32(352, 240)), P(Rgb32(320, 240))));
  EXPECT_EQ(E_FAIL, r.impl->CheckTransform(P(Rgb32(352, -240)), P(Rgb32(640, 480))));
  CMediaType mt;
  EXPECT_EQ(E_UNEXPECTED, r.impl->GetMediaType(0, &mt)) << "input not connected";
}

TEST(vxvideokit_DeferredResizer, ScalesOnFirstReadOnlyAndHoldsTheInputUntilThen) {
  Resizer r;
  ComPtr<IMemAllocator> outAlloc = WireFourByFour(r, Rgb32(8, 8));
  ComPtr<IMemAllocator> upstream = CommittedAllocator(1, 256);

  ComPtr<IMediaSample> in = Buffer(upstream.Get());
  Fill(in.Get(), 8, 8);
  in->SetPreroll(TRUE);
  ComPtr<IMediaSample> out = Buffer(outAlloc.Get());
  ASSERT_EQ(S_OK, r.impl->Transform(in.Get(), out.Get()));
  EXPECT_EQ(E_FAIL, r.impl->Transform(in.Get(), out.Get())) << "one input per output sample";
  EXPECT_EQ(64, out->GetActualDataLength());
  EXPECT_EQ(S_OK, out->IsPreroll());
  in = nullptr;
  EXPECT_FALSE(Buffer(upstream.Get(), AM_GBF_NOWAIT)) << "the output sample still holds the input";
  EXPECT_EQ(0, r.impl->ResizeCount());

  BYTE* p = nullptr;
  ASSERT_EQ(S_OK, out->GetPointer(&p));
  EXPECT_EQ(1, r.impl->ResizeCount());
  const auto* px = reinterpret_cast<const uint32_t*>(p);
  for (LONG y = 0; y < 4; ++y)
    for (LONG x = 0; x < 4; ++x) EXPECT_EQ(uint32_t((2 * y) << 8 | (2 * x)), px[y * 4 + x]) << x << "," << y;
  EXPECT_TRUE(Buffer(upstream.Get(), AM_GBF_NOWAIT)) << "the input went back once read";
  ASSERT_EQ(S_OK, out->GetPointer(&p));
  EXPECT_EQ(1, r.impl->ResizeCount()) << "a second read does not scale again";
}

TEST(vxvideokit_DeferredResizer, SameSizeFramesAreLentNotCopied_AndTheOwnBufferComesBack) {
  Resizer r;
  ComPtr<IMemAllocator> outAlloc = WireFourByFour(r, Rgb32(4, 4));
  ComPtr<IMemAllocator> upstream = CommittedAllocator(1, 64);

  ComPtr<IMediaSample> out = Buffer(outAlloc.Get());
  BYTE* own = nullptr;
  ASSERT_EQ(S_OK, out->GetPointer(&own));
  std::memset(own, 0xAB, 64);
  BYTE* inBits = nullptr;
  {
    ComPtr<IMediaSample> in = Buffer(upstream.Get());
    Fill(in.Get(), 4, 4);
    in->GetPointer(&inBits);
    ASSERT_EQ(S_OK, r.impl->Transform(in.Get(), out.Get()));
  }
  BYTE* p = nullptr;
  ASSERT_EQ(S_OK, out->GetPointer(&p));
  EXPECT_EQ(inBits, p) << "the input's own buffer, not a copy";
  EXPECT_EQ(64, out->GetActualDataLength());
  EXPECT_GE(out->GetSize(), 64);
  AM_SAMPLE2_PROPERTIES props{};
  ASSERT_EQ(S_OK, out.As<IMediaSample2>()->GetProperties(sizeof props, reinterpret_cast<BYTE*>(&props)));
  EXPECT_EQ(inBits, props.pbBuffer);
  EXPECT_EQ(uint32_t(3 << 8 | 2), reinterpret_cast<const uint32_t*>(p)[3 * 4 + 2]);
  EXPECT_EQ(0, r.impl->ResizeCount());
  EXPECT_EQ(1, r.impl->LentCount());
  EXPECT_FALSE(Buffer(upstream.Get(), AM_GBF_NOWAIT)) << "held while downstream may still read it";
  for (int i = 0; i < 64; ++i) ASSERT_EQ(0xAB, own[i]) << "own buffer untouched at " << i;

  out = nullptr;
  EXPECT_TRUE(Buffer(upstream.Get(), AM_GBF_NOWAIT)) << "given back with the output sample";
  out = Buffer(outAlloc.Get());
  ASSERT_EQ(S_OK, out->GetPointer(&p));
  EXPECT_EQ(own, p) << "the sample shows its own memory again";
}

TEST(vxvideokit_DeferredResizer, AShortSameSizeInputIsNotLent_AndFailsOnRead) {
  Resizer r;
  ComPtr<IMemAllocator> outAlloc = WireFourByFour(r, Rgb32(4, 4));
  ComPtr<IMemAllocator> upstream = CommittedAllocator(1, 32);
  ComPtr<IMediaSample> out = Buffer(outAlloc.Get());
  {
    ComPtr<IMediaSample> in = Buffer(upstream.Get());
    ASSERT_EQ(S_OK, r.impl->Transform(in.Get(), out.Get()));
  }
  EXPECT_EQ(0, r.impl->LentCount());
  BYTE* p = nullptr;
  EXPECT_EQ(E_FAIL, out->GetPointer(&p)) << "half a frame is not shown as a whole one";
}

TEST(vxvideokit_DeferredResizer, AFrameReleasedUnreadLeavesTheBufferUntouched) {
  Resizer r;
  ComPtr<IMemAllocator> outAlloc = WireFourByFour(r, Rgb32(8, 8));
  ComPtr<IMemAllocator> upstream = CommittedAllocator(1, 256);

  ComPtr<IMediaSample> out = Buffer(outAlloc.Get());
  BYTE* p = nullptr;
  ASSERT_EQ(S_OK, out->GetPointer(&p));
  std::memset(p, 0xAB, 64);
  ASSERT_EQ(S_OK, TransformFilled(r, upstream.Get(), out.Get(), 8, 8));
  out = nullptr;  // back to the allocator unread
  EXPECT_TRUE(Buffer(upstream.Get(), AM_GBF_NOWAIT)) << "the input was released unread";
  EXPECT_EQ(0, r.impl->ResizeCount());
  out = Buffer(outAlloc.Get());
  ASSERT_EQ(S_OK, out->GetPointer(&p));
  for (int i = 0; i < 64; ++i) ASSERT_EQ(0xAB, p[i]) << i;
}

TEST(vxvideokit_DeferredResizer, AFailedResizeStillReleasesTheInput) {
  Resizer r;
  CMediaType bitfields = Rgb32(4, 4);
  HeaderOf(bitfields)->biCompression = BI_BITFIELDS;  // not a destination the resize writes
  ComPtr<IMemAllocator> outAlloc = WireFourByFour(r, Rgb32(8, 8), bitfields);
  ComPtr<IMemAllocator> upstream = CommittedAllocator(1, 256);
  ComPtr<IMediaSample> out = Buffer(outAlloc.Get());
  ASSERT_EQ(S_OK, TransformFilled(r, upstream.Get(), out.Get(), 8, 8));
  BYTE* p = nullptr;
  EXPECT_EQ(E_FAIL, out->GetPointer(&p));
  EXPECT_TRUE(Buffer(upstream.Get(), AM_GBF_NOWAIT));
  EXPECT_EQ(S_OK, out->GetPointer(&p)) << "later reads just return the buffer";
}

TEST(vxvideokit_DeferredResizer, SamplesOutlivingTheFilterFailWithoutTouchingIt) {
  ComPtr<IMemAllocator> upstream = CommittedAllocator(1, 256);
  ComPtr<IMediaSample> out;
  {
    Resizer r;
    ComPtr<IMemAllocator> outAlloc = WireFourByFour(r, Rgb32(8, 8));
    out = Buffer(outAlloc.Get());
    ASSERT_EQ(S_OK, TransformFilled(r, upstream.Get(), out.Get(), 8, 8));
    outAlloc->Decommit();
  }
  BYTE* p = nullptr;
  EXPECT_EQ(E_POINTER, out->GetPointer(&p));
  EXPECT_TRUE(Buffer(upstream.Get(), AM_GBF_NOWAIT));
  out = nullptr;
}

TEST(vxvideokit_DeferredResizer, RegistersTwoVideoPinsAtMeritTwoMillionHex) {
  EXPECT_EQ(0x200000u, sudDeferredResizer.dwMerit);
  ASSERT_EQ(2u, sudDeferredResizer.nPins);
  for (UINT i = 0; i < 2; ++i) {
    const AMOVIESETUP_PIN& pin = sudDeferredResizer.lpPin[i];
    EXPECT_FALSE(pin.bRendered);
    EXPECT_FALSE(pin.bZero);
    EXPECT_FALSE(pin.bMany);
    EXPECT_EQ(BOOL(i == 1), pin.bOutput);
    EXPECT_EQ(CLSID_NULL, *pin.clsConnectsToFilter);
    EXPECT_EQ(MEDIATYPE_Video, *pin.lpMediaType[0].clsMajorType);
  }
}
