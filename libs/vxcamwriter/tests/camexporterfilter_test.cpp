// Conformance of "VXCMN Cam Exporter Filter" and the holder object as components:
// registration, interfaces, pins and media types, file name and size limit, settings, and a
// movie streamed through the input pins' IMemInputPin.
#include <algorithm>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "clipmux/tests/moviecheck.h"
#include "libs/vxcamwriter/vxcamwriter.h"
#include "media/contract/com.h"
#include "media/contract/comptr.h"
#include "media/contract/registry.h"
#include "media/contract/strmif.h"
#include "media/contract/uuids.h"
#include "platform/streaming/base/allocator.h"
#include "platform/streaming/base/mtype.h"
#include "tests/support/filterharness.h"
#include "tests/support/standinpin.h"
#include "tests/support/testenv.h"

namespace {

template <typename Fn>
Fn Entry(const char* library, const char* name) {
  void* m = dlopen(tavtest::LibraryPath(library).c_str(), RTLD_NOW);
  return m ? reinterpret_cast<Fn>(dlsym(m, name)) : nullptr;
}

// Seeking of an upstream filter that only remembers where it was sent.
class RecordingSeeking final : public IMediaSeeking {
 public:
  STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetCapabilities(DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP CheckCapabilities(DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP IsFormatSupported(const GUID*) override { return E_NOTIMPL; }
  STDMETHODIMP QueryPreferredFormat(GUID*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTimeFormat(GUID*) override { return E_NOTIMPL; }
  STDMETHODIMP IsUsingTimeFormat(const GUID*) override { return E_NOTIMPL; }
  STDMETHODIMP SetTimeFormat(const GUID*) override { return E_NOTIMPL; }
  STDMETHODIMP GetDuration(LONGLONG*) override { return E_NOTIMPL; }
  STDMETHODIMP GetStopPosition(LONGLONG*) override { return E_NOTIMPL; }
  STDMETHODIMP GetCurrentPosition(LONGLONG*) override { return E_NOTIMPL; }
  STDMETHODIMP ConvertTimeFormat(LONGLONG*, const GUID*, LONGLONG, const GUID*) override { return E_NOTIMPL; }
  STDMETHODIMP SetPositions(LONGLONG* current, DWORD, LONGLONG*, DWORD) override {
    if (current) position = *current;
    return S_OK;
  }
  STDMETHODIMP GetPositions(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
  STDMETHODIMP GetAvailable(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
  STDMETHODIMP SetRate(double) override { return E_NOTIMPL; }
  STDMETHODIMP GetRate(double*) override { return E_NOTIMPL; }
  STDMETHODIMP GetPreroll(LONGLONG*) override { return E_NOTIMPL; }
  LONGLONG position = -1;
};

// The upstream end of a connection: an output pin that only answers what the input pin asks
// (and seeking, when given some).
class SourcePin final : public tavtest::StandInPin {
 public:
  explicit SourcePin(IMediaSeeking* seeking = nullptr) : StandInPin(PINDIR_OUTPUT), seeking_(seeking) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IMediaSeeking && seeking_) {
      *ppv = seeking_;
      return S_OK;
    }
    return StandInPin::QueryInterface(riid, ppv);
  }

 private:
  IMediaSeeking* const seeking_;
};

CMediaType VideoType(LONG height = 240, REFERENCE_TIME avgTimePerFrame = 333667) {
  CMediaType mt(&MEDIATYPE_Video);
  mt.SetSubtype(&MEDIASUBTYPE_RGB32);
  mt.SetFormatType(&FORMAT_VideoInfo);
  VIDEOINFOHEADER vih{};
  vih.AvgTimePerFrame = avgTimePerFrame;
  vih.bmiHeader = {40, 320, height, 1, 32, 0, DWORD(320 * 240 * 4), 0, 0, 0, 0};
  mt.SetFormat(reinterpret_cast<const BYTE*>(&vih), sizeof vih);
  return mt;
}

CMediaType AudioType(DWORD rate = 22050) {
  CMediaType mt(&MEDIATYPE_Audio);
  mt.SetSubtype(&MEDIASUBTYPE_PCM);
  mt.SetFormatType(&FORMAT_WaveFormatEx);
  WAVEFORMATEX w{WAVE_FORMAT_PCM, 2, rate, rate * 4, 4, 16, 0};
  mt.SetFormat(reinterpret_cast<const BYTE*>(&w), sizeof w);
  return mt;
}

class vxcamwriter_Filter : public tavtest::FilterFixture {
 protected:
  void SetUp() override {
    Start({"tavrionstreaming", "vxcamwriter"}, AtEnd::kLastLibraryUnloads);
    if (HasFatalFailure()) return;
    ASSERT_EQ(CoCreateInstance(CLSID_CamExporterFilter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               filter_.AsVoidOut()),
              S_OK);
    ComPtr<IEnumPins> pins;
    ASSERT_EQ(filter_->EnumPins(pins.ReleaseAndGetAddressOf()), S_OK);
    ULONG got = 0;
    ASSERT_EQ(pins->Next(1, video_.ReleaseAndGetAddressOf(), &got), S_OK);
    ASSERT_EQ(pins->Next(1, audio_.ReleaseAndGetAddressOf(), &got), S_OK);
  }
  void TearDown() override {
    video_ = nullptr;
    audio_ = nullptr;
    filter_ = nullptr;
    FilterFixture::TearDown();
  }

  ComPtr<IBaseFilter> filter_;
  ComPtr<IPin> video_, audio_;
  SourcePin source_;
};

TEST_F(vxcamwriter_Filter, Interfaces_Pins_AndMediaTypes) {
  ComPtr<IUnknown> unknown;
  for (const GUID* iid : {&IID_IFileSinkFilter, &IID_IExportSizeLimit, &IID_IExportConfig, &IID_IMediaSeeking,
                          &IID_IMediaPosition, &IID_IMediaFilter})
    EXPECT_EQ(filter_->QueryInterface(*iid, unknown.AsVoidOut()), S_OK) << tav::GuidToString(*iid);
  unknown = nullptr;

  PIN_INFO info{};
  video_->QueryPinInfo(&info);
  EXPECT_EQ(std::u16string(info.achName), u"Video Input");
  EXPECT_EQ(info.dir, PINDIR_INPUT);
  if (info.pFilter) info.pFilter->Release();
  audio_->QueryPinInfo(&info);
  EXPECT_EQ(std::u16string(info.achName), u"Audio Input");
  if (info.pFilter) info.pFilter->Release();

  CMediaType video = VideoType(), topDown = VideoType(-240), audio = AudioType(), audio44 = AudioType(44100);
  EXPECT_EQ(video_->QueryAccept(&video), S_OK);
  EXPECT_EQ(video_->QueryAccept(&topDown), S_FALSE) << "top-down frames are refused";
  EXPECT_EQ(video_->QueryAccept(&audio), S_FALSE);
  EXPECT_EQ(audio_->QueryAccept(&audio), S_OK);
  EXPECT_EQ(audio_->QueryAccept(&audio44), S_FALSE);
  CMediaType noFormat(&MEDIATYPE_Audio);
  noFormat.SetSubtype(&MEDIASUBTYPE_PCM);
  EXPECT_EQ(audio_->QueryAccept(&noFormat), S_FALSE);

  ComPtr<IEnumMediaTypes> types;
  ASSERT_EQ(audio_->EnumMediaTypes(types.ReleaseAndGetAddressOf()), S_OK);
  AM_MEDIA_TYPE* mt = nullptr;
  ULONG got = 0;
  ASSERT_EQ(types->Next(1, &mt, &got), S_OK);
  EXPECT_EQ(mt->formattype, FORMAT_WaveFormatEx);
  EXPECT_EQ(mt->cbFormat, 18u);
  DeleteMediaType(mt);
  EXPECT_EQ(types->Next(1, &mt, &got), S_FALSE);

  EXPECT_EQ(filter_->Pause(), S_OK) << "an unconnected exporter still changes state";
  EXPECT_EQ(filter_->Stop(), S_OK);
}

// Seeking goes upstream through the audio input, and to the video's own source through the
// video input; a movie without sound has only its video input connected, and seeking must
// reach its source through that. The graph may ask for the exporter's seeking before the
// pins connect.
TEST_F(vxcamwriter_Filter, Seeking_ReachesTheSourceThroughAudio_OrVideoWithoutSound) {
  ComPtr<IMediaSeeking> seeking;
  ASSERT_EQ(filter_->QueryInterface(IID_IMediaSeeking, seeking.AsVoidOut()), S_OK);
  RecordingSeeking videoSeeking, audioSeeking;
  SourcePin videoSource(&videoSeeking), audioSource(&audioSeeking);
  CMediaType videoType = VideoType(), audioType = AudioType();
  ASSERT_EQ(video_->ReceiveConnection(&videoSource, &videoType), S_OK);
  LONGLONG at = 5000000;
  EXPECT_EQ(seeking->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
  EXPECT_EQ(videoSeeking.position, 5000000) << "a movie without sound cannot be seeked";

  ASSERT_EQ(audio_->ReceiveConnection(&audioSource, &audioType), S_OK);
  at = 7000000;
  EXPECT_EQ(seeking->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
  EXPECT_EQ(audioSeeking.position, 7000000);
  EXPECT_EQ(videoSeeking.position, 7000000) << "the video source (a filter of its own) was not seeked";

  audio_->Disconnect();
  at = 9000000;
  EXPECT_EQ(seeking->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
  EXPECT_EQ(videoSeeking.position, 9000000);
  seeking.Reset();
  video_->Disconnect();
}

TEST_F(vxcamwriter_Filter, FileName_SizeLimit_AndSettings) {
  ComPtr<IFileSinkFilter> sink;
  ASSERT_EQ(filter_->QueryInterface(IID_IFileSinkFilter, sink.AsVoidOut()), S_OK);
  EXPECT_EQ(sink->SetFileName(nullptr, nullptr), E_POINTER);
  std::u16string tooLong(261, u'a');
  EXPECT_EQ(sink->SetFileName(tooLong.c_str(), nullptr), HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE));
  std::u16string longest(260, u'b');
  EXPECT_EQ(sink->SetFileName(longest.c_str(), nullptr), S_OK);
  LPOLESTR name = nullptr;
  AM_MEDIA_TYPE mt;
  std::memset(&mt, 0xCD, sizeof mt);
  ASSERT_EQ(sink->GetCurFile(&name, &mt), S_OK);
  EXPECT_EQ(std::u16string(name), longest);
  EXPECT_EQ(mt.majortype, GUID_NULL);
  CoTaskMemFree(name);

  ComPtr<IExportSizeLimit> limit;
  ASSERT_EQ(filter_->QueryInterface(IID_IExportSizeLimit, limit.AsVoidOut()), S_OK);
  EXPECT_EQ(limit->GetSizeLimit(nullptr), E_POINTER);
  EXPECT_EQ(limit->SetSizeLimit(33554432), S_OK);
  LONGLONG value = 0;
  EXPECT_EQ(limit->GetSizeLimit(&value), S_OK);
  EXPECT_EQ(value, 33554432);

  ComPtr<IExportConfig> config;
  ASSERT_EQ(filter_->QueryInterface(IID_IExportConfig, config.AsVoidOut()), S_OK);
  CONFIG c{};
  EXPECT_EQ(config->ResetConfig(), S_OK);
  EXPECT_EQ(config->GetConfig(&c), S_OK);
  DWORD kbps = 0;
  std::memcpy(&kbps, reinterpret_cast<const BYTE*>(&c) + 4, 4);
  EXPECT_EQ(kbps, 300u);
  c.videoKbps = 600;
  EXPECT_EQ(config->SetConfig(&c), S_OK);
  CONFIG back{};
  config->GetConfig(&back);
  EXPECT_EQ(back.videoKbps, 600u);
  EXPECT_EQ(config->SaveAVIasQVF(TRUE), S_OK);
  config->ResetConfig();
}

// A movie through the pins, closed at its size limit: the event reaches the graph once, and
// the position the exporter reports is the end of the last frame in the file.
TEST_F(vxcamwriter_Filter, MovieThroughThePins_IsAQvfClosedAtTheLimit) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "ffprobe is needed to check the movie";
  const std::string path = tavtest::MakeTempSubdir("exporter") + "/pins.qvf";
  ComPtr<IFileSinkFilter> sink;
  filter_->QueryInterface(IID_IFileSinkFilter, sink.AsVoidOut());
  std::u16string wide(path.begin(), path.end());
  ASSERT_EQ(sink->SetFileName(wide.c_str(), nullptr), S_OK);
  ComPtr<IExportConfig> config;
  filter_->QueryInterface(IID_IExportConfig, config.AsVoidOut());
  config->ResetConfig();
  config->SaveAVIasQVF(TRUE);

  CMediaType videoType = VideoType(), audioType = AudioType();
  // In a graph, so that the exporter's events reach the application's event queue.
  ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.AsVoidOut()),
            S_OK);
  ASSERT_EQ(graph->AddFilter(filter_.Get(), u"exporter"), S_OK);
  ComPtr<IMediaEvent> events;
  ASSERT_EQ(graph->QueryInterface(IID_IMediaEvent, events.AsVoidOut()), S_OK);
  ComPtr<IExportSizeLimit> limit;
  filter_->QueryInterface(IID_IExportSizeLimit, limit.AsVoidOut());
  constexpr LONGLONG kLimit = 20000;
  limit->SetSizeLimit(kLimit);

  ASSERT_EQ(video_->ReceiveConnection(&source_, &videoType), S_OK);
  ASSERT_EQ(audio_->ReceiveConnection(&source_, &audioType), S_OK);
  ComPtr<IMemInputPin> videoIn, audioIn;
  ASSERT_EQ(video_->QueryInterface(IID_IMemInputPin, videoIn.AsVoidOut()), S_OK);
  ASSERT_EQ(audio_->QueryInterface(IID_IMemInputPin, audioIn.AsVoidOut()), S_OK);
  HRESULT hr = S_OK;
  ComPtr<IMemAllocator> videoAlloc, audioAlloc;
  ASSERT_EQ(videoIn->GetAllocator(videoAlloc.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(audioIn->GetAllocator(audioAlloc.ReleaseAndGetAddressOf()), S_OK);
  ALLOCATOR_PROPERTIES props{2, 320 * 240 * 4, 1, 0}, actual{};
  videoAlloc->SetProperties(&props, &actual);
  props.cbBuffer = 8820;
  audioAlloc->SetProperties(&props, &actual);
  videoIn->NotifyAllocator(videoAlloc.Get(), FALSE);
  audioIn->NotifyAllocator(audioAlloc.Get(), FALSE);
  videoAlloc->Commit();
  audioAlloc->Commit();

  // The position the exporter reports is the media time of the video it has taken.
  ComPtr<IMediaSeeking> seeking;
  ASSERT_EQ(filter_->QueryInterface(IID_IMediaSeeking, seeking.AsVoidOut()), S_OK);
  ASSERT_EQ(filter_->Pause(), S_OK);
  ASSERT_EQ(filter_->Run(0), S_OK);
  constexpr int kFrames = 45;
  std::thread video([&] {
    for (int i = 0; i < kFrames; ++i) {
      ComPtr<IMediaSample> s;
      if (FAILED(videoAlloc->GetBuffer(s.ReleaseAndGetAddressOf(), nullptr, nullptr, 0))) break;
      BYTE* data = nullptr;
      s->GetPointer(&data);
      std::memset(data, 0x60 + i, 320 * 240 * 4);
      s->SetActualDataLength(320 * 240 * 4);
      REFERENCE_TIME a = REFERENCE_TIME(i) * 333333, b = REFERENCE_TIME(i + 1) * 333333;
      s->SetTime(&a, &b);
      videoIn->Receive(s.Get());
    }
    video_->EndOfStream();
  });
  std::thread audio([&] {
    for (int i = 0; i < 15; ++i) {
      ComPtr<IMediaSample> s;
      if (FAILED(audioAlloc->GetBuffer(s.ReleaseAndGetAddressOf(), nullptr, nullptr, 0))) break;
      BYTE* data = nullptr;
      s->GetPointer(&data);
      std::memset(data, 0, 8820);
      s->SetActualDataLength(8820);
      REFERENCE_TIME a = REFERENCE_TIME(i) * 1000000, b = REFERENCE_TIME(i + 1) * 1000000;
      s->SetTime(&a, &b);
      audioIn->Receive(s.Get());
    }
    audio_->EndOfStream();
  });
  // The streaming threads wait at the limit until the graph stops; the event tells when.
  std::vector<LONG> codes;
  LONG code = 0;
  LONG_PTR p1 = 0, p2 = 0;
  int reports = 0;
  for (int waited = 0; reports == 0 && waited < 10000; waited += 10) {
    while (events->GetEvent(&code, &p1, &p2, 10) == S_OK) {
      codes.push_back(code);
      if (code == EC_SIZE_LIMIT_REACHED) {
        ++reports;
        LONGLONG projected = LONGLONG(DWORD(p1)) | (LONGLONG(DWORD(p2)) << 32);
        EXPECT_GE(projected, kLimit);
      }
      events->FreeEventParams(code, p1, p2);
    }
  }
  ASSERT_EQ(reports, 1) << "the size limit was not reported";
  LONGLONG position = 0;
  ASSERT_EQ(seeking->GetCurrentPosition(&position), S_OK);
  seeking.Reset();
  ASSERT_EQ(filter_->Stop(), S_OK);
  video.join();
  audio.join();
  videoAlloc->Decommit();
  audioAlloc->Decommit();
  video_->Disconnect();
  audio_->Disconnect();
  (void)hr;

  // Reported once, and no error on the way.
  while (events->GetEvent(&code, &p1, &p2, 0) == S_OK) {
    codes.push_back(code);
    events->FreeEventParams(code, p1, p2);
  }
  EXPECT_EQ(std::count(codes.begin(), codes.end(), EC_SIZE_LIMIT_REACHED), 1);
  EXPECT_EQ(std::count(codes.begin(), codes.end(), EC_ERRORABORT), 0);
  graph->RemoveFilter(filter_.Get());

  EXPECT_EQ(moviecheck::ReadBytes(path, 8, 4), std::string("AVI\x19", 4));
  auto v = moviecheck::Stream(path, "v:0");
  EXPECT_EQ(v["codec_name"], "mpeg4");
  EXPECT_EQ(v["codec_tag_string"], "XVID");
  EXPECT_EQ(v["r_frame_rate"], "30/1");
  const int frames = moviecheck::DecodedFrames(path, "v:0");
  EXPECT_GT(frames, 0);
  EXPECT_LT(frames, kFrames);
  EXPECT_LE(moviecheck::FileSize(path), kLimit);
  EXPECT_EQ(position, REFERENCE_TIME(frames) * 333333) << "the position is not where the movie ends";
  auto a = moviecheck::Stream(path, "a:0");
  EXPECT_EQ(a["codec_name"], "mp3");
  EXPECT_EQ(a["sample_rate"], "22050");
}

TEST(vxcamwriter_Library, HolderKeepsTheLibrary_AndRegistrationNamesBothClasses) {
  CoInitialize(nullptr);
  auto streaming = Entry<PFN_DllRegisterServer>("tavrionstreaming", "DllRegisterServer");
  ASSERT_TRUE(streaming);
  ASSERT_EQ(streaming(), S_OK);
  auto reg = Entry<PFN_DllRegisterServer>("vxcamwriter", "DllRegisterServer");
  ASSERT_EQ(reg(), S_OK);
  ComPtr<IUnknown> holder;
  ASSERT_EQ(CoCreateInstance(CLSID_CamHolderObject, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, holder.AsVoidOut()),
            S_OK);
  ComPtr<IUnknown> other;
  EXPECT_EQ(holder->QueryInterface(IID_IBaseFilter, other.AsVoidOut()), E_NOINTERFACE);
  auto canUnload = Entry<PFN_DllCanUnloadNow>("vxcamwriter", "DllCanUnloadNow");
  EXPECT_EQ(canUnload(), S_FALSE);
  holder = nullptr;
  EXPECT_EQ(canUnload(), S_OK);

  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "CLSID\\{61E01FDD-8154-41D3-B04F-AA0E6E023EE4}\\InprocServer32", 0,
                         KEY_READ, &key),
            ERROR_SUCCESS);
  if (key) RegCloseKey(key);
  auto unreg = Entry<PFN_DllUnregisterServer>("vxcamwriter", "DllUnregisterServer");
  EXPECT_EQ(unreg(), S_OK);
  EXPECT_NE(RegOpenKeyEx(HKEY_CLASSES_ROOT, "CLSID\\{17D0A43C-156B-4051-BF29-454CACB5B644}", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  CoUninitialize();
}

}  // namespace
