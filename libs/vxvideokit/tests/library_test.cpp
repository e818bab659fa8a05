// The component library as the converter meets it: registered by DllRegisterServer, its
// filters created by class identifier, and the audio channel mixer in a graph.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "libs/vxvideokit/tests/testgraph.h"
#include "libs/vxvideokit/vxvideokit.h"
#include "media/contract/registry.h"
#include "tests/support/classtable.h"

using namespace vktest;

namespace {

std::string ClassKey(REFCLSID clsid) { return "CLSID\\" + tav::GuidToString(clsid); }

class vxvideokit_Library : public FilterFixture {
 protected:
  void SetUp() override { Start({"tavrionstreaming", "vxvideokit"}, AtEnd::kLastLibraryUnloads); }
};

}  // namespace

TEST_F(vxvideokit_Library, RegistersItsClassesAndCreatesThemByIdentifier) {
  struct Row {
    const CLSID* clsid;
    const char* name;
  };
  const Row rows[] = {{&CLSID_VxDeferredResizer, "VXCMN Deferred Resizer"},
                      {&CLSID_VxFrameRateConverter, "VXCMN Frame Rate Converter"},
                      {&CLSID_VxChannelDownmixer, "VXCMN Audio channel mixer"}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(r.name, tavtest::ClassesRootString(ClassKey(*r.clsid), nullptr));
    EXPECT_EQ("Both", tavtest::ClassesRootString(ClassKey(*r.clsid) + "\\InprocServer32", "ThreadingModel"));
    EXPECT_EQ(tavtest::LibraryPath("vxvideokit"),
              tavtest::ClassesRootString(ClassKey(*r.clsid) + "\\InprocServer32", nullptr));
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, CoCreateInstance(*r.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.AsVoidOut()));
    CLSID clsid{};
    filter->GetClassID(&clsid);
    EXPECT_EQ(*r.clsid, clsid);
  }
  ComPtr<IResizerControl> resizer;
  EXPECT_EQ(S_OK, CoCreateInstance(CLSID_VxDeferredResizer, nullptr, CLSCTX_INPROC_SERVER, IID_IResizerControl,
                                   resizer.AsVoidOut()));
  ComPtr<IFrameRateControl> frc;
  EXPECT_EQ(S_OK, CoCreateInstance(CLSID_VxFrameRateConverter, nullptr, CLSCTX_INPROC_SERVER, IID_IFrameRateControl,
                                   frc.AsVoidOut()));
  ComPtr<IChannelDownmixerSettings> mixer;
  EXPECT_EQ(S_OK, CoCreateInstance(CLSID_VxChannelDownmixer, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IChannelDownmixerSettings, mixer.AsVoidOut()));
}

TEST_F(vxvideokit_Library, TheMapperFindsTheFiltersWithTheirPins) {
  const GUID audioPcm[] = {MEDIATYPE_Audio, MEDIASUBTYPE_PCM};
  EXPECT_TRUE(tavtest::MapperListsByName(audioPcm, audioPcm, "VXCMN Audio channel mixer"));
}

TEST_F(vxvideokit_Library, TheMixerFoldsFivePointOneToStereoInAGraph) {
  ASSERT_TRUE(MakeGraph());

  WAVEFORMATEXTENSIBLE x{};
  x.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  x.Format.nChannels = 6;
  x.Format.nSamplesPerSec = 48000;
  x.Format.wBitsPerSample = 16;
  x.Format.nBlockAlign = 12;
  x.Format.nAvgBytesPerSec = 48000 * 12;
  x.Format.cbSize = 22;
  x.Samples.wValidBitsPerSample = 16;
  x.dwChannelMask = 0x3F;
  x.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
  CMediaType type;
  type.InitMediaType();
  type.SetType(&MEDIATYPE_Audio);
  type.SetSubtype(&MEDIASUBTYPE_PCM);
  type.SetFormatType(&FORMAT_WaveFormatEx);
  type.SetFormat(reinterpret_cast<const BYTE*>(&x), sizeof x);
  type.SetSampleSize(1200);  // ten 12-byte frames... per buffer, for the source's allocator

  ComPtr<IBaseFilter> mixer;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_VxChannelDownmixer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                   mixer.AsVoidOut()));
  TestSource* source = Add(new TestSource(type), u"Source");
  ASSERT_TRUE(source);
  ASSERT_EQ(S_OK, graph->AddFilter(mixer.Get(), u"Downmixer"));
  TestSink* sink = Add(new TestSink, u"Sink");
  ASSERT_TRUE(sink);
  sink->acceptMajor = MEDIATYPE_Audio;
  ASSERT_EQ(S_OK, graph->ConnectDirect(source->OutPin(), PinOf(mixer.Get(), u"Input").Get(), nullptr));
  ASSERT_EQ(S_OK, graph->ConnectDirect(PinOf(mixer.Get(), u"Output").Get(), sink->InPin(), nullptr));

  const CMediaType out = sink->ConnectionType();
  ASSERT_EQ(FORMAT_WaveFormatEx, out.formattype);
  const auto* w = reinterpret_cast<const WAVEFORMATEX*>(out.pbFormat);
  EXPECT_EQ(WAVE_FORMAT_PCM, w->wFormatTag);
  EXPECT_EQ(2, w->nChannels);
  EXPECT_EQ(16, w->wBitsPerSample);
  EXPECT_EQ(48000u, w->nSamplesPerSec);
  EXPECT_EQ(4, w->nBlockAlign);
  ALLOCATOR_PROPERTIES props{};
  ComPtr<IMemAllocator> alloc;
  ComPtr<IMemInputPin> sinkInput;
  ASSERT_EQ(S_OK, sink->InPin()->QueryInterface(IID_IMemInputPin, sinkInput.AsVoidOut()));
  ASSERT_EQ(S_OK, sinkInput->GetAllocator(&alloc));
  ASSERT_EQ(S_OK, alloc->GetProperties(&props));
  EXPECT_EQ(10, props.cBuffers);
  EXPECT_GE(props.cbBuffer, 2 * 1200 * 2 / 2 / 6 + 200);

  ASSERT_EQ(S_OK, graph.As<IMediaControl>()->Run());
  const int16_t frames[12] = {0, 0, 10000, 0, 0, 0, 30000, 30000, 0, 0, 30000, 30000};
  std::vector<BYTE> bytes(sizeof frames);
  std::memcpy(bytes.data(), frames, sizeof frames);
  ASSERT_EQ(S_OK, source->PushBytes(0, 10000, bytes));
  ASSERT_EQ(1u, sink->frames.size());
  ASSERT_EQ(8u, sink->frames[0].data.size());
  int16_t got[4];
  std::memcpy(got, sink->frames[0].data.data(), 8);
  EXPECT_EQ(7071, got[0]);
  EXPECT_EQ(7071, got[1]);
  EXPECT_EQ(32767, got[2]);
  EXPECT_EQ(32767, got[3]);
  EXPECT_EQ(0, sink->frames[0].start);
  EXPECT_EQ(10000, sink->frames[0].stop);
}

TEST_F(vxvideokit_Library, TheVideoResizerAndTheSingleResizerPropertiesObject) {
  EXPECT_EQ("VXCMN Video Resizer", tavtest::ClassesRootString(ClassKey(CLSID_VxVideoResizer), nullptr));
  EXPECT_EQ("VXCMN Resizer Properties", tavtest::ClassesRootString(ClassKey(CLSID_VxResizerProperties), nullptr));
  EXPECT_EQ("Both",
            tavtest::ClassesRootString(ClassKey(CLSID_VxResizerProperties) + "\\InprocServer32", "ThreadingModel"));

  ComPtr<IResizerControl> resizer;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_VxVideoResizer, nullptr, CLSCTX_INPROC_SERVER, IID_IResizerControl,
                                   resizer.AsVoidOut()));
  EXPECT_TRUE(resizer.As<IBaseFilter>());

  // Every creation while one is alive yields the same object; aggregation is refused.
  ComPtr<IInterlaceModeRegistry> a, b;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_VxResizerProperties, nullptr, CLSCTX_INPROC_SERVER, IID_IInterlaceModeRegistry,
                                   a.AsVoidOut()));
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_VxResizerProperties, nullptr, CLSCTX_INPROC_SERVER, IID_IInterlaceModeRegistry,
                                   b.AsVoidOut()));
  EXPECT_EQ(a.Get(), b.Get());
  EXPECT_FALSE(a.As<IBaseFilter>()) << "a plain object, not a filter";
  ComPtr<IUnknown> inner;
  EXPECT_EQ(CLASS_E_NOAGGREGATION, CoCreateInstance(CLSID_VxResizerProperties, a.Get(), CLSCTX_INPROC_SERVER,
                                                    IID_IUnknown, inner.AsVoidOut()));
}
