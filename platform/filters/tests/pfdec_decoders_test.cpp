// Decoders, converters and the tee, each driven alone between a push source and a
// collecting sink, on small movies made with the ffmpeg tool.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <vector>

#include "media/contract/uuids.h"
#include "media/contract/videoinfo.h"
#include "platform/filters/tests/support_pfdec.h"
#include "tests/support/testenv.h"
#include "tests/testfilters/testinplace.h"

using namespace filtertest;

// The generic decoders' identifiers (platform/filters/decoders/decoderids.h).
TAV_DEFINE_GUID(CLSID_AvVideoDecoderForTest, 0x3C1F0E2A, 0x5B7D, 0x4E61, 0x9A, 0x48, 0x2D, 0x6E, 0x81, 0xC4, 0x3F, 0x57);
TAV_DEFINE_GUID(CLSID_AvAudioDecoderForTest, 0x3C1F0E2B, 0x5B7D, 0x4E61, 0x9A, 0x48, 0x2D, 0x6E, 0x81, 0xC4, 0x3F, 0x57);

namespace {

class filters_Decoders : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg tool is not installed";
  }
  void TearDown() override { EXPECT_EQ(LibraryCanUnloadNow(), S_OK) << "filter objects leaked"; }

  // source -> filter -> sink, with the sink taking only outSubtype.
  struct Chain {
    ComPtr<IBaseFilter> filter;
    ComPtr<PushSource> source;
    ComPtr<CollectSink> sink;
  };
  // The three filters, not connected yet.
  static void Make(Chain& c, const CMediaType& in, REFCLSID clsid, const GUID& outSubtype) {
    ASSERT_EQ(CreateFilter(clsid, &c.filter), S_OK);
    c.source = new PushSource(in);
    c.sink = new CollectSink(outSubtype);
  }
  static HRESULT ConnectInput(Chain& c) {
    return c.source->Pin()->Connect(FindPin(c.filter.Get(), PINDIR_INPUT).Get(), nullptr);
  }
  static HRESULT ConnectOutput(Chain& c) {
    return FindPin(c.filter.Get(), PINDIR_OUTPUT)->Connect(c.sink->Pin(), nullptr);
  }
  static void Connect(Chain& c, const CMediaType& in, REFCLSID clsid, const GUID& outSubtype) {
    Make(c, in, clsid, outSubtype);
    ASSERT_EQ(ConnectInput(c), S_OK);
    ASSERT_EQ(ConnectOutput(c), S_OK);
  }
  static void Disconnect(Chain& c) {
    c.source->Pin()->Disconnect();
    FindPin(c.filter.Get(), PINDIR_INPUT)->Disconnect();
    FindPin(c.filter.Get(), PINDIR_OUTPUT)->Disconnect();
    c.sink->Pin()->Disconnect();
  }
};

void PcmType(DWORD rate, WORD channels, WORD bits, CMediaType* mt) {
  mt->InitMediaType();
  mt->SetType(&MEDIATYPE_Audio);
  mt->SetSubtype(&MEDIASUBTYPE_PCM);
  mt->SetFormatType(&FORMAT_WaveFormatEx);
  auto* wfx = reinterpret_cast<WAVEFORMATEX*>(mt->AllocFormatBuffer(sizeof(WAVEFORMATEX)));
  *wfx = {WAVE_FORMAT_PCM, channels, rate, rate * channels * bits / 8, WORD(channels * bits / 8), bits, 0};
  mt->SetSampleSize(wfx->nBlockAlign);
}

size_t AudioFrames(const CollectSink& sink, int blockAlign) {
  size_t bytes = 0;
  for (const Received& r : sink.samples) bytes += r.data.size();
  return bytes / size_t(blockAlign);
}

TEST_F(filters_Decoders, AviDecompressor_DecodesXvidToRgb32_WithEveryFrameTimed) {
  const std::string avi =
      MakeMovie("xvid.avi", "-f lavfi -i testsrc=size=160x120:rate=10:duration=2 -c:v mpeg4 -vtag XVID -bf 2");
  CMediaType mt;
  std::vector<Packet> packets;
  ASSERT_TRUE(ReadStream(avi, true, &mt, &packets));
  Chain c;
  Connect(c, mt, CLSID_AVIDec, MEDIASUBTYPE_RGB32);
  // The decoder offers the stream's natural YUV first, and the RGB kinds after it.
  ComPtr<IEnumMediaTypes> types;
  FindPin(c.filter.Get(), PINDIR_OUTPUT)->EnumMediaTypes(&types);
  AM_MEDIA_TYPE* first = nullptr;
  ASSERT_EQ(types->Next(1, &first, nullptr), S_OK);
  EXPECT_EQ(first->subtype, MEDIASUBTYPE_YUY2);
  DeleteMediaType(first);

  ASSERT_EQ(PushAll(c.source.Get(), {c.filter.Get(), c.sink.Get()}, packets), S_OK);
  EXPECT_TRUE(c.sink->ended);
  EXPECT_NEAR(double(c.sink->samples.size()), 20.0, 1.0);
  ASSERT_FALSE(c.sink->samples.empty());
  EXPECT_EQ(c.sink->samples[0].data.size(), 160u * 120u * 4u);
  EXPECT_TRUE(c.sink->samples[0].discontinuity);
  for (size_t i = 1; i < c.sink->samples.size(); ++i)
    EXPECT_GT(c.sink->samples[i].start, c.sink->samples[i - 1].start) << "frame " << i;
  Disconnect(c);
}

// Decoded pictures go into the connection's few buffers over and over, and a second run
// on the same connection finds the same memory: nothing frame-sized is made per frame or
// per run.
TEST_F(filters_Decoders, DecoderOutput_ComesInTheSamePooledBuffers_RunAfterRun) {
  const std::string avi =
      MakeMovie("xvid_pool.avi", "-f lavfi -i testsrc=size=160x120:rate=10:duration=4 -c:v mpeg4 -vtag XVID");
  CMediaType mt;
  std::vector<Packet> packets;
  ASSERT_TRUE(ReadStream(avi, true, &mt, &packets));
  Chain c;
  Connect(c, mt, CLSID_AVIDec, MEDIASUBTYPE_RGB32);
  ComPtr<IMemAllocator> allocator;
  ASSERT_EQ(c.sink->Pin()->GetAllocator(&allocator), S_OK);
  ALLOCATOR_PROPERTIES props{};
  ASSERT_EQ(allocator->GetProperties(&props), S_OK);

  std::set<const BYTE*> first;
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    c.sink->samples.clear();
    ASSERT_EQ(PushAll(c.source.Get(), {c.filter.Get(), c.sink.Get()}, packets), S_OK);
    ASSERT_GE(c.sink->samples.size(), 35u);
    std::set<const BYTE*> seen;
    for (const Received& r : c.sink->samples) seen.insert(r.buffer);
    EXPECT_LE(seen.size(), size_t(props.cBuffers));
    if (run == 0) first = seen;
    else for (const BYTE* b : seen) EXPECT_TRUE(first.count(b)) << "a buffer the first run did not use";
  }
  Disconnect(c);
}

// A graph that only collects the events its filters raise.
class EventGraph final : public IFilterGraph, public IMediaEventSink {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IMediaEventSink) *ppv = static_cast<IMediaEventSink*>(this);
    else if (riid == IID_IUnknown || riid == IID_IFilterGraph) *ppv = static_cast<IFilterGraph*>(this);
    else return *ppv = nullptr, E_NOINTERFACE;
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP AddFilter(IBaseFilter*, LPCWSTR) override { return E_NOTIMPL; }
  STDMETHODIMP RemoveFilter(IBaseFilter*) override { return E_NOTIMPL; }
  STDMETHODIMP EnumFilters(IEnumFilters**) override { return E_NOTIMPL; }
  STDMETHODIMP FindFilterByName(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
  STDMETHODIMP ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  STDMETHODIMP Reconnect(IPin*) override { return E_NOTIMPL; }
  STDMETHODIMP Disconnect(IPin*) override { return E_NOTIMPL; }
  STDMETHODIMP SetDefaultSyncSource() override { return E_NOTIMPL; }
  STDMETHODIMP Notify(LONG code, LONG_PTR, LONG_PTR) override {
    codes.push_back(code);
    return S_OK;
  }
  std::vector<LONG> codes;
};

// The graph stops its renderer first: the decoder's next delivery then finds the allocator
// decommitted. That is how streaming ends, and no error goes to the application.
TEST_F(filters_Decoders, DeliveryRefusedByAStoppingGraph_RaisesNoError) {
  const std::string avi = MakeMovie("stop.avi", "-f lavfi -i testsrc=size=160x120:rate=10:duration=1 -c:v mpeg4");
  CMediaType mt;
  std::vector<Packet> packets;
  ASSERT_TRUE(ReadStream(avi, true, &mt, &packets));
  ASSERT_GE(packets.size(), 4u);
  Chain c;
  Connect(c, mt, CLSID_AVIDec, MEDIASUBTYPE_RGB32);
  EventGraph graph;
  c.filter->JoinFilterGraph(&graph, u"decoder");
  c.sink->Pause();
  c.filter->Pause();
  c.source->Pause();
  EXPECT_EQ(c.source->Pin()->Push(packets[0], true), S_OK);
  c.sink->Stop();
  bool refused = false;
  for (size_t i = 1; i < packets.size() && !refused; ++i) refused = FAILED(c.source->Pin()->Push(packets[i], false));
  EXPECT_TRUE(refused) << "the stopped renderer took every frame";
  EXPECT_EQ(graph.codes, std::vector<LONG>()) << "a stop in progress was reported as an error";
  c.source->Stop();
  c.filter->Stop();
  c.filter->JoinFilterGraph(nullptr, nullptr);
  Disconnect(c);
}

TEST_F(filters_Decoders, DmoWrapper_TakesStreamsOnlyAfterInit) {
  const std::string asf =
      MakeMovie("wmv2.asf", "-f lavfi -i testsrc=size=160x120:rate=10:duration=1 -c:v wmv2 -an");
  CMediaType mt;
  std::vector<Packet> packets;
  ASSERT_TRUE(ReadStream(asf, true, &mt, &packets));
  Chain c;
  Make(c, mt, CLSID_DMOWrapperFilter, MEDIASUBTYPE_RGB32);
  EXPECT_NE(ConnectInput(c), S_OK);
  ComPtr<IDMOWrapperFilter> init;
  ASSERT_EQ(c.filter->QueryInterface(IID_IDMOWrapperFilter, init.AsVoidOut()), S_OK);
  EXPECT_EQ(init->Init(CLSID_CWMADecMediaObject, DMOCATEGORY_VIDEO_DECODER), REGDB_E_CLASSNOTREG);
  ASSERT_EQ(init->Init(CLSID_CWMVDecMediaObject, DMOCATEGORY_VIDEO_DECODER), S_OK);
  ASSERT_EQ(ConnectInput(c), S_OK);
  ASSERT_EQ(ConnectOutput(c), S_OK);
  ASSERT_EQ(PushAll(c.source.Get(), {c.filter.Get(), c.sink.Get()}, packets), S_OK);
  EXPECT_NEAR(double(c.sink->samples.size()), 10.0, 1.0);
  Disconnect(c);
}

TEST_F(filters_Decoders, Mp3Decoder_GivesPcmWithTheStreamsSampleCount) {
  const std::string avi = MakeMovie("mp3.avi", "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 -ac 2 -c:a libmp3lame");
  CMediaType mt;
  std::vector<Packet> packets;
  ASSERT_TRUE(ReadStream(avi, false, &mt, &packets));
  Chain c;
  Connect(c, mt, CLSID_MPEGLayer3Decoder, MEDIASUBTYPE_PCM);
  ASSERT_EQ(PushAll(c.source.Get(), {c.filter.Get(), c.sink.Get()}, packets), S_OK);
  // Encoder delay and padding add up to about two frames of 1152 samples.
  EXPECT_NEAR(double(AudioFrames(*c.sink, 4)), 88200.0, 2 * 1152.0 + 1);
  Disconnect(c);
}

TEST_F(filters_Decoders, AcmWrapper_ConvertsPcmToTheForcedFormat) {
  const std::string wav = MakeMovie("mono.wav", "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=1 -ac 1 -c:a pcm_s16le");
  CMediaType mt;
  std::vector<Packet> packets;
  ASSERT_TRUE(ReadStream(wav, false, &mt, &packets));
  Chain c;
  Make(c, mt, CLSID_ACMWrapper, MEDIASUBTYPE_PCM);
  ASSERT_EQ(ConnectInput(c), S_OK);
  ComPtr<IAMStreamConfig> config;
  ASSERT_EQ(FindPin(c.filter.Get(), PINDIR_OUTPUT)->QueryInterface(IID_IAMStreamConfig, config.AsVoidOut()), S_OK);
  CMediaType target;
  CMediaType bad;
  ASSERT_EQ(config->SetFormat(&bad), VFW_E_INVALIDMEDIATYPE);
  PcmType(22050, 2, 16, &target);
  ASSERT_EQ(config->SetFormat(&target), S_OK);
  ASSERT_EQ(ConnectOutput(c), S_OK);
  auto* wfx = reinterpret_cast<WAVEFORMATEX*>(c.sink->Pin()->CurrentMediaType().Format());
  EXPECT_EQ(wfx->nSamplesPerSec, 22050u);
  EXPECT_EQ(wfx->nChannels, 2);
  EXPECT_EQ(wfx->wBitsPerSample, 16);
  ASSERT_EQ(PushAll(c.source.Get(), {c.filter.Get(), c.sink.Get()}, packets), S_OK);
  EXPECT_NEAR(double(AudioFrames(*c.sink, 4)), 22050.0, 64.0);
  ASSERT_FALSE(c.sink->samples.empty());
  EXPECT_EQ(c.sink->samples.front().start, 0);
  Disconnect(c);
}

TEST_F(filters_Decoders, ColourConverter_TurnsYuvIntoBottomUpRgb32) {
  for (const char* kind : {"yuyv422", "yuv420p"}) {
    SCOPED_TRACE(kind);
    const std::string avi = MakeMovie(std::string("raw_") + kind + ".avi",
                                      "-f lavfi -i color=c=0xC02040:size=64x48:rate=5:duration=1 -c:v rawvideo -pix_fmt " +
                                          std::string(kind) + (std::string(kind) == "yuyv422" ? " -vtag YUY2" : " -vtag I420"));
    CMediaType mt;
    std::vector<Packet> packets;
    ASSERT_TRUE(ReadStream(avi, true, &mt, &packets));
    Chain c;
    Connect(c, mt, CLSID_Colour, MEDIASUBTYPE_RGB32);
    ASSERT_EQ(PushAll(c.source.Get(), {c.filter.Get(), c.sink.Get()}, packets), S_OK);
    ASSERT_NEAR(double(c.sink->samples.size()), 5.0, 1.0);
    const std::vector<BYTE>& px = c.sink->samples[0].data;
    ASSERT_EQ(px.size(), 64u * 48u * 4u);
    for (size_t at : {size_t(0), px.size() / 2, px.size() - 4}) {
      EXPECT_NEAR(px[at + 2], 0xC0, 6);  // red
      EXPECT_NEAR(px[at + 1], 0x20, 6);  // green
      EXPECT_NEAR(px[at + 0], 0x40, 6);  // blue
    }
    Disconnect(c);
  }
}

TEST_F(filters_Decoders, InfTee_CopiesToEveryOutput_AndAlwaysHasAFreePin) {
  CMediaType mt(&MEDIATYPE_Audio);
  PcmType(8000, 1, 16, &mt);
  ComPtr<IBaseFilter> tee;
  ASSERT_EQ(CreateFilter(CLSID_InfTee, &tee), S_OK);
  ComPtr<PushSource> src = new PushSource(mt);
  ASSERT_EQ(src->Pin()->Connect(FindPin(tee.Get(), PINDIR_INPUT).Get(), nullptr), S_OK);
  std::vector<ComPtr<CollectSink>> sinks;
  for (int i = 0; i < 3; ++i) {
    ComPtr<IPin> out = FindPin(tee.Get(), PINDIR_OUTPUT, i);
    ASSERT_TRUE(out) << "no free output " << i;
    PIN_INFO info;
    out->QueryPinInfo(&info);
    if (info.pFilter) info.pFilter->Release();
    EXPECT_EQ(std::u16string(info.achName), u"Output" + std::u16string(1, char16_t(u'1' + i)));
    sinks.push_back(new CollectSink(MEDIASUBTYPE_PCM));
    ASSERT_EQ(out->Connect(sinks.back()->Pin(), nullptr), S_OK);
  }
  EXPECT_TRUE(FindPin(tee.Get(), PINDIR_OUTPUT, 3)) << "a fourth, free output";
  std::vector<Packet> packets(4);
  for (int i = 0; i < 4; ++i) {
    packets[i].data.assign(1600, BYTE(i));
    packets[i].timed = true;
    packets[i].start = i * 1000000;
    packets[i].stop = (i + 1) * 1000000;
  }
  ASSERT_EQ(PushAll(src.Get(), {tee.Get(), sinks[0].Get(), sinks[1].Get(), sinks[2].Get()}, packets), S_OK);
  for (auto& s : sinks) {
    ASSERT_EQ(s->samples.size(), 4u);
    EXPECT_EQ(s->samples[2].data, packets[2].data);
    EXPECT_EQ(s->samples[3].start, 3000000);
    EXPECT_TRUE(s->ended);
  }
  src->Pin()->Disconnect();
  FindPin(tee.Get(), PINDIR_INPUT)->Disconnect();
  for (int i = 0; i < 3; ++i) {
    FindPin(tee.Get(), PINDIR_OUTPUT, i)->Disconnect();
    sinks[size_t(i)]->Pin()->Disconnect();
  }
}

// The tee hands every output the same sample, so an output whose downstream filter writes
// into its input must have been told the buffers are read-only: the in-place stamper behind
// Output1 then stamps a copy, and Output2 still sees the frames as they came in.
TEST_F(filters_Decoders, InfTee_SharedSamples_AreReadOnlyForAnInPlaceFilterBehindOneOutput) {
  CMediaType mt(&MEDIATYPE_Video);
  mt.SetSubtype(&MEDIASUBTYPE_RGB32);
  mt.SetFormatType(&FORMAT_VideoInfo);
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
  *vih = {};
  vih->bmiHeader = {sizeof(BITMAPINFOHEADER), 8, 2, 1, 32, BI_RGB, 64, 0, 0, 0, 0};
  mt.SetSampleSize(64);
  ComPtr<IBaseFilter> tee, stamperFilter;
  ASSERT_EQ(CreateFilter(CLSID_InfTee, &tee), S_OK);
  tavtest::CTestInPlace* stamper = tavtest::CTestInPlace::Create({}, stamperFilter);
  ComPtr<PushSource> src = new PushSource(mt);
  ComPtr<CollectSink> stamped = new CollectSink(MEDIASUBTYPE_RGB32), plain = new CollectSink(MEDIASUBTYPE_RGB32);
  ASSERT_EQ(src->Pin()->Connect(FindPin(tee.Get(), PINDIR_INPUT).Get(), nullptr), S_OK);
  // Outside a graph nobody reconnects the stamper's input once its output is connected, so
  // the test does, as the graph would: that connection settles the allocators.
  ComPtr<IPin> out1 = FindPin(tee.Get(), PINDIR_OUTPUT, 0);
  ASSERT_EQ(out1->Connect(stamper->GetPin(0), nullptr), S_OK);
  ASSERT_EQ(stamper->GetPin(1)->Connect(stamped->Pin(), nullptr), S_OK);
  out1->Disconnect();
  stamper->GetPin(0)->Disconnect();
  ASSERT_EQ(out1->Connect(stamper->GetPin(0), nullptr), S_OK);
  ASSERT_EQ(FindPin(tee.Get(), PINDIR_OUTPUT, 1)->Connect(plain->Pin(), nullptr), S_OK);
  std::vector<Packet> packets(3);
  for (int i = 0; i < 3; ++i) {
    packets[i].data.assign(64, BYTE(10 * i));
    packets[i].timed = true;
    packets[i].start = i * 333333;
    packets[i].stop = (i + 1) * 333333;
  }
  ASSERT_EQ(PushAll(src.Get(), {tee.Get(), stamperFilter.Get(), stamped.Get(), plain.Get()}, packets), S_OK);
  ASSERT_EQ(stamped->samples.size(), 3u);
  ASSERT_EQ(plain->samples.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(plain->samples[size_t(i)].data, packets[size_t(i)].data) << "frame " << i << " changed behind Output2";
    std::vector<BYTE> expect = packets[size_t(i)].data;
    ++expect[4];
    EXPECT_EQ(stamped->samples[size_t(i)].data, expect) << "frame " << i;
    EXPECT_EQ(plain->samples[size_t(i)].start, i * 333333);
  }
  EXPECT_EQ(stamper->Transforms(), 3);
  src->Pin()->Disconnect();
  FindPin(tee.Get(), PINDIR_INPUT)->Disconnect();
  out1->Disconnect();
  stamper->GetPin(0)->Disconnect();
  stamper->GetPin(1)->Disconnect();
  stamped->Pin()->Disconnect();
  FindPin(tee.Get(), PINDIR_OUTPUT, 1)->Disconnect();
  plain->Pin()->Disconnect();
}

TEST_F(filters_Decoders, DvDecoder_HalfResolution_GivesQuarterSizedFrames) {
  const std::string avi =
      MakeMovie("dv.avi", "-f lavfi -i testsrc=size=720x480:rate=30000/1001:duration=1 -c:v dvvideo -pix_fmt yuv411p -vtag dvsd");
  CMediaType mt;
  std::vector<Packet> packets;
  ASSERT_TRUE(ReadStream(avi, true, &mt, &packets));
  Chain c;
  Make(c, mt, CLSID_DVVideoCodec, MEDIASUBTYPE_RGB32);
  ComPtr<IIPDVDec> display;
  ASSERT_EQ(c.filter->QueryInterface(IID_IIPDVDec, display.AsVoidOut()), S_OK);
  EXPECT_EQ(display->put_IPDisplay(999), E_INVALIDARG);
  ASSERT_EQ(display->put_IPDisplay(DVDECODERRESOLUTION_360x240), S_OK);
  int value = 0;
  display->get_IPDisplay(&value);
  EXPECT_EQ(value, DVDECODERRESOLUTION_360x240);
  ASSERT_EQ(ConnectInput(c), S_OK);
  ASSERT_EQ(ConnectOutput(c), S_OK);
  EXPECT_EQ(display->put_IPDisplay(DVDECODERRESOLUTION_720x480), VFW_E_ALREADY_CONNECTED);
  ASSERT_EQ(PushAll(c.source.Get(), {c.filter.Get(), c.sink.Get()}, packets), S_OK);
  EXPECT_NEAR(double(c.sink->samples.size()), 30.0, 1.0);
  ASSERT_FALSE(c.sink->samples.empty());
  EXPECT_EQ(c.sink->samples[0].data.size(), 360u * 240u * 4u);
  Disconnect(c);
}

TEST_F(filters_Decoders, Decimation_GivesEveryFrameAtTheAskedSize_OnlyWhileTheOutputIsFree) {
  const std::string mp4 =
      MakeMovie("big.mp4", "-f lavfi -i testsrc=size=640x360:rate=25:duration=1 -c:v libx264 -preset ultrafast");
  CMediaType mt;
  std::vector<Packet> packets;
  ASSERT_TRUE(ReadStream(mp4, true, &mt, &packets));
  Chain c;
  Make(c, mt, CLSID_AvVideoDecoderForTest, MEDIASUBTYPE_RGB32);
  ComPtr<IDecimateVideoImage> decimate;
  ASSERT_EQ(c.filter->QueryInterface(IID_IDecimateVideoImage, decimate.AsVoidOut()), S_OK);
  EXPECT_EQ(decimate->SetDecimationImageSize(160, 90), E_FAIL) << "no input: no size to shrink from";
  ASSERT_EQ(ConnectInput(c), S_OK);
  EXPECT_EQ(decimate->SetDecimationImageSize(641, 360), E_FAIL) << "never larger than the picture";
  EXPECT_EQ(decimate->SetDecimationImageSize(0, 90), E_FAIL);
  ASSERT_EQ(decimate->SetDecimationImageSize(161, 91), S_OK);
  ASSERT_EQ(ConnectOutput(c), S_OK);
  const BITMAPINFOHEADER* bih = VideoBitmapHeader(c.sink->Pin()->CurrentMediaType());
  ASSERT_NE(bih, nullptr);
  EXPECT_EQ(bih->biWidth, 161);
  EXPECT_EQ(std::abs(bih->biHeight), 91);
  EXPECT_EQ(decimate->SetDecimationImageSize(320, 180), E_FAIL) << "the size is part of the connection";
  EXPECT_EQ(decimate->ResetDecimationImageSize(), E_FAIL);
  ASSERT_EQ(PushAll(c.source.Get(), {c.filter.Get(), c.sink.Get()}, packets), S_OK);
  EXPECT_EQ(c.sink->samples.size(), 25u);
  ASSERT_FALSE(c.sink->samples.empty());
  EXPECT_EQ(c.sink->samples[0].data.size(), size_t(161 * 4) * 91u);
  Disconnect(c);
  // Audio decoders have no pictures to shrink.
  ComPtr<IBaseFilter> audio;
  ASSERT_EQ(CreateFilter(CLSID_AvAudioDecoderForTest, &audio), S_OK);
  EXPECT_EQ(audio->QueryInterface(IID_IDecimateVideoImage, decimate.AsVoidOut()), E_NOINTERFACE);
}

TEST_F(filters_Decoders, GenericDecoders_TakeH264AndAac_AndSixChannelsComeOutExtensible) {
  const std::string mp4 = MakeMovie("h264.mp4",
                                    "-f lavfi -i testsrc=size=160x120:rate=25:duration=2 -f lavfi "
                                    "-i sine=sample_rate=48000:duration=2 -c:v libx264 -preset ultrafast -c:a aac -ac 6");
  CMediaType video, audio;
  std::vector<Packet> vp, ap;
  ASSERT_TRUE(ReadStream(mp4, true, &video, &vp));
  ASSERT_TRUE(ReadStream(mp4, false, &audio, &ap));
  // As an MP4 source labels them: H264 and AAC (0xFF).
  const GUID h264 = MEDIASUBTYPE_H264, aac = MEDIASUBTYPE_AAC;
  video.SetSubtype(&h264);
  reinterpret_cast<VIDEOINFOHEADER*>(video.Format())->bmiHeader.biCompression = h264.Data1;
  audio.SetSubtype(&aac);
  reinterpret_cast<WAVEFORMATEX*>(audio.Format())->wFormatTag = 0xFF;
  {
    Chain c;
    Connect(c, video, CLSID_AvVideoDecoderForTest, MEDIASUBTYPE_RGB32);
    ASSERT_EQ(PushAll(c.source.Get(), {c.filter.Get(), c.sink.Get()}, vp), S_OK);
    EXPECT_NEAR(double(c.sink->samples.size()), 50.0, 1.0);
    Disconnect(c);
  }
  {
    Chain c;
    Connect(c, audio, CLSID_AvAudioDecoderForTest, MEDIASUBTYPE_PCM);
    const CMediaType& out = c.sink->Pin()->CurrentMediaType();
    auto* wfx = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(out.Format());
    EXPECT_EQ(wfx->Format.wFormatTag, WAVE_FORMAT_EXTENSIBLE);
    EXPECT_EQ(wfx->Format.nChannels, 6);
    EXPECT_EQ(wfx->Format.wBitsPerSample, 16);
    EXPECT_EQ(wfx->SubFormat, KSDATAFORMAT_SUBTYPE_PCM);
    ASSERT_EQ(PushAll(c.source.Get(), {c.filter.Get(), c.sink.Get()}, ap), S_OK);
    // AAC priming adds a frame of 1024 samples at most.
    EXPECT_NEAR(double(AudioFrames(*c.sink, 12)), 96000.0, 2048.0);
    Disconnect(c);
  }
}

// Conformance: every filter of this set has its pins, runs its state changes unconnected,
// and (for the decoders) comes back from a flush in the middle of a stream.
TEST_F(filters_Decoders, Conformance_PinsUnconnectedStatesAndFlush) {
  struct Expect {
    const CLSID* clsid;
    int pins;
    const char16_t* firstPin;
  };
  const Expect all[] = {{&CLSID_AVIDec, 2, u"XForm In"},           {&CLSID_CMpegVideoCodec, 2, u"XForm In"},
                        {&CLSID_DVVideoCodec, 2, u"XForm In"},     {&CLSID_MPEGLayer3Decoder, 2, u"XForm In"},
                        {&CLSID_CMpegAudioCodec, 2, u"XForm In"},  {&CLSID_AvVideoDecoderForTest, 2, u"XForm In"},
                        {&CLSID_AvAudioDecoderForTest, 2, u"XForm In"}, {&CLSID_Colour, 2, u"XForm In"},
                        {&CLSID_ACMWrapper, 2, u"Input"},          {&CLSID_DMOWrapperFilter, 2, u"in0"},
                        {&CLSID_InfTee, 3, u"Input"},              {&CLSID_NullRenderer, 1, u"In"}};
  for (const Expect& e : all) {
    SCOPED_TRACE(tav::GuidToString(*e.clsid));
    ComPtr<IBaseFilter> f;
    ASSERT_EQ(CreateFilter(*e.clsid, &f), S_OK);
    CLSID clsid{};
    f->GetClassID(&clsid);
    EXPECT_EQ(clsid, *e.clsid);
    ComPtr<IEnumPins> pins;
    f->EnumPins(&pins);
    int count = 0;
    ComPtr<IPin> pin;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
      if (count++ == 0) {
        PIN_INFO info;
        pin->QueryPinInfo(&info);
        if (info.pFilter) info.pFilter->Release();
        EXPECT_EQ(std::u16string(info.achName), std::u16string(e.firstPin));
      }
    }
    EXPECT_EQ(count, e.pins);
    EXPECT_GE(f->Pause(), S_OK);
    EXPECT_EQ(f->Run(0), S_OK);
    EXPECT_EQ(f->Stop(), S_OK);
    FILTER_STATE state;
    EXPECT_EQ(f->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
  }

  // A flush in the middle: decoding resumes at the next key frame, marked as a discontinuity.
  const std::string avi =
      MakeMovie("flush.avi", "-f lavfi -i testsrc=size=160x120:rate=10:duration=2 -c:v mpeg4 -vtag XVID -g 5");
  CMediaType mt;
  std::vector<Packet> packets;
  ASSERT_TRUE(ReadStream(avi, true, &mt, &packets));
  Chain c;
  Connect(c, mt, CLSID_AVIDec, MEDIASUBTYPE_RGB32);
  c.sink->Pause();
  c.filter->Pause();
  c.source->Pause();
  for (size_t i = 0; i < 7; ++i) c.source->Pin()->Push(packets[i], i == 0);
  IPin* in = FindPin(c.filter.Get(), PINDIR_INPUT).Get();
  ASSERT_EQ(in->BeginFlush(), S_OK);
  ASSERT_EQ(in->EndFlush(), S_OK);
  in->NewSegment(0, 20000000, 1.0);
  const size_t before = c.sink->samples.size();
  for (size_t i = 10; i < packets.size(); ++i) c.source->Pin()->Push(packets[i], i == 10);
  c.source->Pin()->DeliverEndOfStream();
  c.source->Stop();
  c.filter->Stop();
  c.sink->Stop();
  ASSERT_GT(c.sink->samples.size(), before);
  EXPECT_TRUE(c.sink->samples[before].discontinuity);
  EXPECT_EQ(c.sink->samples[before].start, packets[10].start);
  EXPECT_NEAR(double(c.sink->samples.size() - before), double(packets.size() - 10), 1.0);
  EXPECT_TRUE(c.sink->ended);
  Disconnect(c);
}

}  // namespace
