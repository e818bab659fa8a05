// The video header adapter: format blocks rewritten between VIDEOINFOHEADER2 and
// VIDEOINFOHEADER, interlaced and plain VIDEOINFOHEADER input refused, and in a graph a
// VIDEOINFOHEADER2-only source feeding a sink through it with the pixels untouched.
#include <gtest/gtest.h>

#include "libs/vxvideokit/headeradapter.h"
#include "libs/vxvideokit/tests/testgraph.h"

using namespace vktest;

namespace {

CMediaType Progressive2(LONG w, LONG h, DWORD interlace = 0) {
  CMediaType mt(&MEDIATYPE_Video);
  mt.SetSubtype(&MEDIASUBTYPE_RGB32);
  mt.SetFormatType(&FORMAT_VideoInfo2);
  auto* v = reinterpret_cast<VIDEOINFOHEADER2*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER2)));
  std::memset(v, 0, sizeof *v);
  SetRect(&v->rcSource, 0, 0, w, h);
  SetRect(&v->rcTarget, 0, 0, w, h);
  v->dwBitRate = 1234;
  v->AvgTimePerFrame = 333667;
  v->dwInterlaceFlags = interlace;
  v->dwPictAspectRatioX = DWORD(w);
  v->dwPictAspectRatioY = DWORD(h);
  v->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  v->bmiHeader.biWidth = w;
  v->bmiHeader.biHeight = h;
  v->bmiHeader.biPlanes = 1;
  v->bmiHeader.biBitCount = 32;
  v->bmiHeader.biSizeImage = DWORD(w * h * 4);
  mt.SetSampleSize(v->bmiHeader.biSizeImage);
  return mt;
}

TEST(vxvideokit_HeaderAdapter, ConvertsBetweenTheTwoHeadersKeepingRectanglesPeriodAndBitmap) {
  const CMediaType in = Progressive2(640, 480);
  const CMediaType out = VideoInfo2ToVideoInfo(in);
  ASSERT_EQ(out.formattype, FORMAT_VideoInfo);
  ASSERT_EQ(out.cbFormat, 48u + 40u);
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(out.pbFormat);
  const auto* vih2 = reinterpret_cast<const VIDEOINFOHEADER2*>(in.pbFormat);
  EXPECT_TRUE(EqualRect(&vih->rcSource, &vih2->rcSource));
  EXPECT_TRUE(EqualRect(&vih->rcTarget, &vih2->rcTarget));
  EXPECT_EQ(vih->dwBitRate, 1234u);
  EXPECT_EQ(vih->AvgTimePerFrame, 333667);
  EXPECT_EQ(std::memcmp(&vih->bmiHeader, &vih2->bmiHeader, sizeof(BITMAPINFOHEADER)), 0);
  EXPECT_EQ(out.subtype, MEDIASUBTYPE_RGB32);

  const CMediaType back = VideoInfoToVideoInfo2(out);
  ASSERT_EQ(back.formattype, FORMAT_VideoInfo2);
  ASSERT_EQ(back.cbFormat, 72u + 40u);
  EXPECT_TRUE(back == in) << "aspect from the picture size, flags zero";
  // A top-down picture's aspect uses the absolute height.
  CMediaType topDown = out;
  reinterpret_cast<VIDEOINFOHEADER*>(topDown.pbFormat)->bmiHeader.biHeight = -480;
  EXPECT_EQ(reinterpret_cast<const VIDEOINFOHEADER2*>(VideoInfoToVideoInfo2(topDown).pbFormat)->dwPictAspectRatioY,
            480u);
  // Other formats pass unchanged.
  CMediaType audio(&MEDIATYPE_Audio);
  EXPECT_TRUE(VideoInfo2ToVideoInfo(audio) == audio);
}

TEST(vxvideokit_HeaderAdapter, RefusesInterlacedAndPlainHeaders) {
  HRESULT hr = S_OK;
  CUnknown* u = CVideoHeaderAdapter::CreateInstance(nullptr, &hr);
  ComPtr<IBaseFilter> f = AsFilter(static_cast<CVideoHeaderAdapter*>(u));
  auto* adapter = static_cast<CVideoHeaderAdapter*>(u);
  const CMediaType progressive = Progressive2(320, 240);
  EXPECT_EQ(adapter->CheckInputType(&progressive), S_OK);
  const CMediaType interlaced = Progressive2(320, 240, 0x1);
  EXPECT_EQ(adapter->CheckInputType(&interlaced), VFW_E_TYPE_NOT_ACCEPTED);
  const CMediaType plain = VideoInfo2ToVideoInfo(progressive);
  EXPECT_EQ(adapter->CheckInputType(&plain), VFW_E_TYPE_NOT_ACCEPTED) << "biSize sits where the flags would";
  CMediaType audio(&MEDIATYPE_Audio);
  EXPECT_EQ(adapter->CheckInputType(&audio), VFW_E_TYPE_NOT_ACCEPTED);
  // Unconnected, the output has no types to offer.
  ComPtr<IEnumMediaTypes> types;
  ASSERT_EQ(PinOf(f.Get(), u"Output")->EnumMediaTypes(types.ReleaseAndGetAddressOf()), S_OK);
  AM_MEDIA_TYPE* next = nullptr;
  EXPECT_NE(types->Next(1, &next, nullptr), S_OK);
}

using vxvideokit_HeaderAdapterGraph = GraphFixture;

TEST_F(vxvideokit_HeaderAdapterGraph, FeedsAVideoInfoSinkFromAVideoInfo2SourceInAGraph) {
  HRESULT hr = S_OK;
  ComPtr<IBaseFilter> adapter =
      AsFilter(static_cast<CVideoHeaderAdapter*>(CVideoHeaderAdapter::CreateInstance(nullptr, &hr)));
  TestSource* source = Add(new TestSource(Progressive2(32, 16)), u"Source");
  ASSERT_TRUE(source);
  ASSERT_EQ(S_OK, graph->AddFilter(adapter.Get(), u"Video Header Adapter"));
  TestSink* sink = Add(new TestSink, u"Sink");
  ASSERT_TRUE(sink);
  ASSERT_EQ(S_OK, graph->ConnectDirect(source->OutPin(), PinOf(adapter.Get(), u"Input").Get(), nullptr));
  // The output offers the source's type as VIDEOINFOHEADER.
  ComPtr<IEnumMediaTypes> types;
  PinOf(adapter.Get(), u"Output")->EnumMediaTypes(types.ReleaseAndGetAddressOf());
  AM_MEDIA_TYPE* offered = nullptr;
  ASSERT_EQ(types->Next(1, &offered, nullptr), S_OK);
  EXPECT_EQ(offered->formattype, FORMAT_VideoInfo);
  DeleteMediaType(offered);
  EXPECT_EQ(types->Next(1, &offered, nullptr), S_FALSE) << "one upstream type, one offer";

  ASSERT_EQ(S_OK, graph->ConnectDirect(PinOf(adapter.Get(), u"Output").Get(), sink->InPin(), nullptr));
  EXPECT_EQ(sink->ConnectionType().formattype, FORMAT_VideoInfo);
  EXPECT_EQ(ConnectionTypeOf(source->OutPin()).formattype, FORMAT_VideoInfo2) << "upstream stays VIDEOINFOHEADER2";

  ASSERT_EQ(S_OK, graph.As<IMediaControl>()->Pause());
  ASSERT_EQ(S_OK, source->Push(0, 400000, 0x00ABCDEF));
  ASSERT_EQ(S_OK, source->Push(400000, 800000, 0x00123456));
  graph.As<IMediaControl>()->Stop();
  std::lock_guard<std::mutex> lock(sink->framesLock);
  ASSERT_EQ(sink->frames.size(), 2u);
  EXPECT_EQ(sink->frames[0].firstPixel, 0x00ABCDEFu) << "pixels untouched";
  EXPECT_EQ(sink->frames[1].start, 400000);
}

}  // namespace
