// The media reader filter in a graph fed by a test source: which types it takes, the one
// sample it holds, and the single completion it reports.
#include <gtest/gtest.h>

#include "libs/vxvideokit/mediareader.h"
#include "libs/vxvideokit/tests/testgraph.h"
#include "media/contract/mediatypeptr.h"

using namespace vktest;

namespace {

CMediaType Rgb24(LONG width, LONG height, bool vih2 = false) {
  return VideoType(width, height, 24, MEDIASUBTYPE_RGB24, vih2);
}

// A type with no format block: matches by major type, subtype and format type.
AM_MEDIA_TYPE Partial(const GUID& subtype, const GUID& format) {
  AM_MEDIA_TYPE mt{};
  mt.majortype = MEDIATYPE_Video;
  mt.subtype = subtype;
  mt.formattype = format;
  return mt;
}

class vxvideokit_MediaReader : public GraphFixture {
 protected:
  void SetUp() override {
    GraphFixture::SetUp();
    if (HasFatalFailure()) return;
    HRESULT hr = E_FAIL;
    CUnknown* u = CMediaReaderFilter::CreateInstance(nullptr, &hr);
    ASSERT_EQ(S_OK, hr);
    reader = AsFilter(static_cast<CMediaReaderFilter*>(u));
    control = reader.As<IMediaReaderControl>();
    ASSERT_TRUE(control);
    ASSERT_EQ(S_OK, graph->AddFilter(reader.Get(), u"Media Reader"));
  }
  void TearDown() override {
    control = nullptr;
    reader = nullptr;
    GraphFixture::TearDown();
  }

  HRESULT Connect(const CMediaType& type) {
    source = Add(new TestSource(type), u"Source");
    if (!source) return E_FAIL;
    return graph->ConnectDirect(source->OutPin(), PinOf(reader.Get(), u"Input").Get(), &type);
  }

  // EC_COMPLETE events waiting in the queue (the others are dropped).
  int Completions() {
    ComPtr<IMediaEvent> events = graph.As<IMediaEvent>();
    int n = 0;
    LONG code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    while (events->GetEvent(&code, &p1, &p2, 0) == S_OK)
      if (code == EC_COMPLETE) ++n;
    return n;
  }

  ComPtr<IBaseFilter> reader;
  ComPtr<IMediaReaderControl> control;
  TestSource* source = nullptr;  // owned by the graph
};

}  // namespace

TEST_F(vxvideokit_MediaReader, AcceptsOnlyListedTypes_AndOnly24BitRgbVideo) {
  const AM_MEDIA_TYPE anyRgb24 = Partial(MEDIASUBTYPE_RGB24, FORMAT_VideoInfo);
  const AM_MEDIA_TYPE anyRgb32 = Partial(MEDIASUBTYPE_RGB32, FORMAT_VideoInfo);
  ASSERT_EQ(S_OK, control->AddAcceptedType(&anyRgb24));
  ASSERT_EQ(S_OK, control->AddAcceptedType(&anyRgb32));
  EXPECT_EQ(E_POINTER, control->AddAcceptedType(nullptr));
  ComPtr<IPin> in = PinOf(reader.Get(), u"Input");

  CMediaType rgb24 = Rgb24(64, 48);
  EXPECT_EQ(S_OK, in->QueryAccept(&rgb24)) << "a partial type matches any block";
  CMediaType vih2 = Rgb24(64, 48, true);
  EXPECT_NE(S_OK, in->QueryAccept(&vih2)) << "the format type must match";
  CMediaType rgb32 = Rgb32(64, 48);
  EXPECT_NE(S_OK, in->QueryAccept(&rgb32)) << "uncompressed RGB must be 24-bit even when listed";

  // A listed type with a block must be equal.
  const CMediaType exact = Rgb24(32, 24, true);
  ASSERT_EQ(S_OK, control->AddAcceptedType(&exact));
  EXPECT_EQ(S_OK, in->QueryAccept(&exact));
  CMediaType other = Rgb24(32, 26, true);
  EXPECT_NE(S_OK, in->QueryAccept(&other));
}

TEST_F(vxvideokit_MediaReader, HoldsOneSample_RefusesTheNext_CompletesOnce) {
  const AM_MEDIA_TYPE anyRgb24 = Partial(MEDIASUBTYPE_RGB24, FORMAT_VideoInfo);
  ASSERT_EQ(S_OK, control->AddAcceptedType(&anyRgb24));
  BYTE* data = nullptr;
  LONG length = 0;
  EXPECT_EQ(E_UNEXPECTED, control->TakeSample(&data, &length, nullptr)) << "not connected";
  tav::ScopedMediaType connected;
  EXPECT_EQ(VFW_E_NOT_CONNECTED, control->GetConnectedType(connected.Out()));

  const CMediaType type = Rgb24(16, 4);
  ASSERT_EQ(S_OK, Connect(type));
  ASSERT_EQ(S_OK, control->GetConnectedType(connected.Out()));
  EXPECT_EQ(MEDIASUBTYPE_RGB24, connected->subtype);

  ASSERT_EQ(S_OK, graph.As<IMediaControl>()->Run());
  ASSERT_EQ(S_OK, source->NewSegment());
  EXPECT_EQ(S_OK, source->Push(0, 400000, 0x11223344));
  EXPECT_EQ(S_FALSE, source->Push(400000, 800000, 0x55555555)) << "a second sample before the first is taken";
  EXPECT_EQ(S_OK, source->EndOfStream());
  LONG code = 0;
  ASSERT_EQ(S_OK, graph.As<IMediaEvent>()->WaitForCompletion(20000, &code));
  EXPECT_EQ(EC_COMPLETE, code);
  EXPECT_EQ(1, Completions()) << "the reader's own end and upstream's end make one completion";

  EXPECT_EQ(E_POINTER, control->TakeSample(nullptr, &length, nullptr));
  tav::ScopedMediaType taken;
  ASSERT_EQ(S_OK, control->TakeSample(&data, &length, taken.Out()));
  ASSERT_EQ(LONG(type.lSampleSize), length);
  uint32_t first = 0;
  std::memcpy(&first, data, 4);
  EXPECT_EQ(0x11223344u, first) << "the first sample is held, not the refused one";
  EXPECT_EQ(MEDIASUBTYPE_RGB24, taken->subtype);
  CoTaskMemFree(data);
  EXPECT_EQ(E_FAIL, control->TakeSample(&data, &length, nullptr)) << "taken already";

  // Once taken, the next sample is caught again.
  EXPECT_EQ(S_OK, source->Push(800000, 1200000, 0x66666666));
  ASSERT_EQ(S_OK, control->TakeSample(&data, &length, nullptr));
  std::memcpy(&first, data, 4);
  EXPECT_EQ(0x66666666u, first);
  CoTaskMemFree(data);
}

TEST_F(vxvideokit_MediaReader, EndWhilePaused_IsReportedWhenRunning_FlushDropsHeldSample) {
  const AM_MEDIA_TYPE anyRgb24 = Partial(MEDIASUBTYPE_RGB24, FORMAT_VideoInfo);
  ASSERT_EQ(S_OK, control->AddAcceptedType(&anyRgb24));
  ASSERT_EQ(S_OK, Connect(Rgb24(16, 4)));
  ComPtr<IMediaControl> mc = graph.As<IMediaControl>();
  ASSERT_EQ(S_OK, mc->Pause());
  EXPECT_EQ(S_OK, source->Push(0, 400000, 0x01010101));
  EXPECT_EQ(0, Completions()) << "no completion while paused";

  // A seek's flush makes the held picture stale.
  ASSERT_EQ(S_OK, source->Flush());
  BYTE* data = nullptr;
  LONG length = 0;
  EXPECT_EQ(E_FAIL, control->TakeSample(&data, &length, nullptr));

  // A picture decoded only to reach the target is passed over, but the new type it brings
  // is kept.
  CMediaType changed = Rgb24(16, 4);
  reinterpret_cast<VIDEOINFOHEADER*>(changed.pbFormat)->AvgTimePerFrame = 200000;
  {
    ComPtr<IMediaSample> s;
    ASSERT_EQ(S_OK, static_cast<CBaseOutputPin*>(source->GetPin(0))->GetDeliveryBuffer(&s, nullptr, nullptr, 0));
    s->SetActualDataLength(s->GetSize());
    s->SetPreroll(TRUE);
    s->SetMediaType(&changed);
    EXPECT_EQ(S_OK, static_cast<CBaseOutputPin*>(source->GetPin(0))->Deliver(s.Get()));
  }
  EXPECT_EQ(E_FAIL, control->TakeSample(&data, &length, nullptr));

  EXPECT_EQ(S_OK, source->Push(400000, 800000, 0x02020202));
  ASSERT_EQ(S_OK, mc->Run());
  LONG code = 0;
  ASSERT_EQ(S_OK, graph.As<IMediaEvent>()->WaitForCompletion(20000, &code));
  EXPECT_EQ(EC_COMPLETE, code);
  tav::ScopedMediaType type;
  ASSERT_EQ(S_OK, control->TakeSample(&data, &length, type.Out()));
  EXPECT_EQ(0x02, data[0]);
  CoTaskMemFree(data);
  ASSERT_EQ(sizeof(VIDEOINFOHEADER), type->cbFormat);
  EXPECT_EQ(200000, reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat)->AvgTimePerFrame);
}

TEST_F(vxvideokit_MediaReader, ReservedMethods) {
  int a = 0;
  EXPECT_EQ(E_NOTIMPL, control->Reserved3(&a, &a, &a, &a, &a));
  EXPECT_EQ(E_POINTER, control->Reserved3(&a, &a, &a, &a, nullptr));
  EXPECT_EQ(E_NOTIMPL, control->Reserved4(&a, &a));
  EXPECT_EQ(E_POINTER, control->Reserved4(nullptr, &a));
  EXPECT_EQ(E_NOTIMPL, control->Reserved5());
}
