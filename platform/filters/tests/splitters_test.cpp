// Splitters and sources over fixture movies of every container the converter opens: the
// media types of their output pins, playing to completion through graphinfo's counting
// sinks with the expected sample counts and duration, seeking to the middle, damaged and
// foreign files, and the AVI splitter's conformance checklist.
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <regex>
#include <vector>

#include "platform/filters/tests/filtertest.h"
#include "platform/streaming/base/streams.h"
#include "platform/streaming/graph/graph_util.h"

namespace {

using tav::graph::PinsOf;

using filtertest::Wide;

constexpr const char* kVideo4s = "-f lavfi -i testsrc=size=160x120:rate=25:duration=4 ";
constexpr const char* kTone4s = "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=4 ";

struct PinType {
  GUID major, subtype, format;
  DWORD compression = 0;       // video: biCompression
  REFERENCE_TIME frameTime = 0;
  WORD tag = 0, channels = 0;  // audio
};

struct Movie {
  const char* name;
  std::string args;
  std::optional<GUID> videoSubtype;  // none: no video pin
  GUID videoFormat;
  DWORD compression;
  std::vector<WORD> audioTags;       // one per audio pin
  WORD channels;
  long long frames;                  // expected video samples
};

DWORD Fcc(const char* s) { return DWORD(BYTE(s[0])) | DWORD(BYTE(s[1])) << 8 | DWORD(BYTE(s[2])) << 16 | DWORD(BYTE(s[3])) << 24; }

std::vector<Movie> Movies() {
  const std::string v = kVideo4s, a = kTone4s;
  return {
      {"xvid_mp3.avi", v + a + "-c:v mpeg4 -vtag XVID -g 25 -c:a libmp3lame", FourccSubtype(Fcc("XVID")),
       FORMAT_VideoInfo, Fcc("XVID"), {0x55}, 1, 100},
      {"div3_pcm.avi", v + a + "-c:v msmpeg4 -vtag DIV3 -c:a pcm_s16le", FourccSubtype(Fcc("DIV3")), FORMAT_VideoInfo,
       Fcc("DIV3"), {1}, 1, 100},
      {"cinepak.avi", "-f lavfi -i testsrc=size=160x120:rate=25:duration=2 -c:v cinepak", FourccSubtype(Fcc("cvid")),
       FORMAT_VideoInfo, Fcc("cvid"), {}, 0, 50},
      {"mjpg.avi", v + "-c:v mjpeg -pix_fmt yuvj420p", FourccSubtype(Fcc("MJPG")), FORMAT_VideoInfo, Fcc("MJPG"), {}, 0,
       100},
      {"rgb24.avi", "-f lavfi -i testsrc=size=160x120:rate=25:duration=2 -c:v rawvideo -pix_fmt bgr24",
       MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, BI_RGB, {}, 0, 50},
      {"yuy2.avi", "-f lavfi -i testsrc=size=160x120:rate=25:duration=2 -c:v rawvideo -pix_fmt yuyv422 -vtag YUY2",
       MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, Fcc("YUY2"), {}, 0, 50},
      {"i420.avi", "-f lavfi -i testsrc=size=160x120:rate=25:duration=2 -c:v rawvideo -pix_fmt yuv420p -vtag I420",
       MEDIASUBTYPE_I420, FORMAT_VideoInfo, Fcc("I420"), {}, 0, 50},
      {"system.mpg", v + a + "-c:v mpeg1video -c:a mp2 -f mpeg", MEDIASUBTYPE_MPEG1Payload, FORMAT_MPEGVideo, 0,
       {0x50}, 1, 100},
      {"program.mpg", v + a + "-c:v mpeg2video -c:a mp2 -f vob", MEDIASUBTYPE_MPEG2_VIDEO, FORMAT_VideoInfo,
       Fcc("MPG2"), {0x50}, 1, 100},
      {"dv.avi",
       "-f lavfi -i testsrc=size=720x576:rate=25:duration=2 -f lavfi -i sine=sample_rate=48000:duration=2 "
       "-c:v dvvideo -pix_fmt yuv420p -c:a pcm_s16le -ac 2",
       FourccSubtype(Fcc("dvsd")), FORMAT_VideoInfo, Fcc("dvsd"), {1}, 2, 50},
      {"wmv2.wmv", v + a + "-c:v wmv2 -c:a wmav2", FourccSubtype(Fcc("WMV2")), FORMAT_VideoInfo, Fcc("WMV2"), {0x161},
       1, 100},
      {"mpeg4.mov", v + a + "-c:v mpeg4 -c:a aac", FourccSubtype(Fcc("mp4v")), FORMAT_VideoInfo, Fcc("mp4v"), {0xFF}, 1,
       100},
      {"h264.mp4", v + a + "-c:v libx264 -preset ultrafast -g 25 -c:a aac", FourccSubtype(Fcc("avc1")), FORMAT_VideoInfo,
       Fcc("avc1"), {0xFF}, 1, 100},
      {"h263.3gp",
       "-f lavfi -i testsrc=size=176x144:rate=25:duration=4 -f lavfi -i sine=sample_rate=8000:duration=4 -c:v h263 "
       "-c:a aac -ac 1",
       FourccSubtype(Fcc("s263")), FORMAT_VideoInfo, Fcc("s263"), {0xFF}, 1, 100},
      {"ac3_51.avi", v + "-f lavfi -i sine=sample_rate=48000:duration=4 -c:v mpeg4 -vtag XVID -c:a ac3 -ac 6",
       FourccSubtype(Fcc("XVID")), FORMAT_VideoInfo, Fcc("XVID"), {0x2000}, 6, 100},
      {"pcm_51.avi", v + "-f lavfi -i sine=sample_rate=48000:duration=4 -c:v mpeg4 -vtag XVID -c:a pcm_s16le -ac 6",
       FourccSubtype(Fcc("XVID")), FORMAT_VideoInfo, Fcc("XVID"), {0xFFFE}, 6, 100},
      {"silent.avi", v + "-c:v mpeg4 -vtag XVID", FourccSubtype(Fcc("XVID")), FORMAT_VideoInfo, Fcc("XVID"), {}, 0,
       100},
      {"two_audio.avi",
       v + a + "-f lavfi -i sine=frequency=880:duration=4 -map 0 -map 1 -map 2 -c:v mpeg4 -vtag XVID -c:a libmp3lame",
       FourccSubtype(Fcc("XVID")), FORMAT_VideoInfo, Fcc("XVID"), {0x55, 0x55}, 1, 100},
  };
}

ComPtr<IGraphBuilder> NewGraph() {
  ComPtr<IGraphBuilder> g;
  CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, g.AsVoidOut());
  return g;
}

std::optional<CMediaType> FirstType(IPin* pin) {
  ComPtr<IEnumMediaTypes> e;
  AM_MEDIA_TYPE* mt = nullptr;
  if (FAILED(pin->EnumMediaTypes(&e)) || e->Next(1, &mt, nullptr) != S_OK) return std::nullopt;
  CMediaType copy(*mt);
  DeleteMediaType(mt);
  return copy;
}

// The filter that splits the file as the converter's graph builder would: the source
// itself when it has typed pins, else the splitter its stream subtype names.
HRESULT OpenSplitter(IGraphBuilder* graph, const std::string& path, ComPtr<IBaseFilter>* splitter) {
  ComPtr<IBaseFilter> source;
  HRESULT hr = graph->AddSourceFilter(Wide(path).c_str(), u"Source", &source);
  if (FAILED(hr)) return hr;
  auto outs = PinsOf(source.Get(), PINDIR_OUTPUT);
  if (outs.empty()) return E_FAIL;
  auto type = FirstType(outs[0].Get());
  if (!type || type->majortype != MEDIATYPE_Stream) {
    *splitter = source;
    return S_OK;
  }
  const CLSID* clsid = type->subtype == MEDIASUBTYPE_Avi ? &CLSID_AviSplitter : &CLSID_MPEG1Splitter;
  hr = CoCreateInstance(*clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, splitter->AsVoidOut());
  if (FAILED(hr)) return hr;
  graph->AddFilter(splitter->Get(), u"Splitter");
  auto ins = PinsOf(splitter->Get(), PINDIR_INPUT);
  return graph->ConnectDirect(outs[0].Get(), ins[0].Get(), nullptr);
}

std::vector<PinType> OutputTypes(IBaseFilter* splitter) {
  std::vector<PinType> out;
  for (auto& pin : PinsOf(splitter, PINDIR_OUTPUT)) {
    auto mt = FirstType(pin.Get());
    if (!mt) continue;
    PinType t{mt->majortype, mt->subtype, mt->formattype};
    if (mt->formattype == FORMAT_VideoInfo && mt->FormatLength() >= sizeof(VIDEOINFOHEADER)) {
      auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt->Format());
      t.compression = vih->bmiHeader.biCompression;
      t.frameTime = vih->AvgTimePerFrame;
    } else if (mt->formattype == FORMAT_MPEGVideo && mt->FormatLength() >= sizeof(MPEG1VIDEOINFO)) {
      t.frameTime = reinterpret_cast<const MPEG1VIDEOINFO*>(mt->Format())->hdr.AvgTimePerFrame;
    } else if (mt->formattype == FORMAT_WaveFormatEx && mt->FormatLength() >= sizeof(WAVEFORMATEX)) {
      auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt->Format());
      t.tag = wfx->wFormatTag;
      t.channels = wfx->nChannels;
    }
    out.push_back(t);
  }
  return out;
}

struct PlayResult {
  int status = -1;
  std::string json;
  long long event = -1, duration = 0;
  struct Stream {
    std::string major;
    long long samples = 0, first = 0, last = 0;
  };
  std::vector<Stream> streams;
};

PlayResult Play(const std::string& path, const std::string& options) {
  PlayResult r;
  r.json = tavtest::Capture("timeout 60 '" + tavtest::ProgramPath("graphinfo") + "' --play --json " + options + " '" +
                                path + "' 2>/dev/null",
                            &r.status);
  std::smatch m;
  if (std::regex_search(r.json, m, std::regex("\"event\":(-?\\d+),\"duration\":(-?\\d+)"))) {
    r.event = std::stoll(m[1]);
    r.duration = std::stoll(m[2]);
  }
  std::regex stream("\\{\"major\":\"([^\"]*)\",\"subtype\":\"[^\"]*\",\"samples\":(\\d+),\"first\":(-?\\d+|null),"
                    "\"last\":(-?\\d+|null)\\}");
  for (auto it = std::sregex_iterator(r.json.begin(), r.json.end(), stream); it != std::sregex_iterator(); ++it) {
    PlayResult::Stream s;
    s.major = (*it)[1];
    s.samples = std::stoll((*it)[2]);
    s.first = (*it)[3] == "null" ? 0 : std::stoll((*it)[3]);
    s.last = (*it)[4] == "null" ? 0 : std::stoll((*it)[4]);
    r.streams.push_back(s);
  }
  return r;
}

const std::string kVideoMajor = tav::GuidToString(MEDIATYPE_Video);

class filters_Splitters : public filtertest::FilterTest {
 protected:
  void SetUp() override {
    filtertest::FilterTest::SetUp();
    if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg tool is needed to make the fixture movies";
  }
};

TEST_F(filters_Splitters, EveryContainer_PinTypesAndPlayToCompletion) {
  for (const Movie& movie : Movies()) {
    SCOPED_TRACE(movie.name);
    const std::string path = filtertest::Fixture(movie.name, movie.args);
    ASSERT_FALSE(path.empty()) << "fixture not made";
    {
      ComPtr<IGraphBuilder> graph = NewGraph();
      ComPtr<IBaseFilter> splitter;
      ASSERT_EQ(OpenSplitter(graph.Get(), path, std::addressof(splitter)), S_OK);
      std::vector<PinType> types = OutputTypes(splitter.Get());
      std::vector<WORD> tags;
      bool sawVideo = false;
      for (const PinType& t : types) {
        if (t.major == MEDIATYPE_Video) {
          ASSERT_TRUE(movie.videoSubtype.has_value());
          sawVideo = true;
          EXPECT_EQ(tav::GuidToString(t.subtype), tav::GuidToString(*movie.videoSubtype));
          EXPECT_EQ(t.format, movie.videoFormat);
          if (movie.videoFormat == FORMAT_VideoInfo) {
            EXPECT_EQ(t.compression, movie.compression);
          }
          EXPECT_NEAR(double(t.frameTime), 400000.0, 1000.0);
        } else if (t.major == MEDIATYPE_Audio) {
          EXPECT_EQ(t.format, FORMAT_WaveFormatEx);
          tags.push_back(t.tag);
          EXPECT_EQ(t.channels, movie.channels);
          if (t.tag != WAVE_FORMAT_EXTENSIBLE) EXPECT_EQ(t.subtype, FourccSubtype(t.tag));
          else EXPECT_EQ(t.subtype, MEDIASUBTYPE_PCM);
        }
      }
      EXPECT_EQ(sawVideo, movie.videoSubtype.has_value());
      EXPECT_EQ(tags, movie.audioTags);
      graph.Reset();
    }

    PlayResult r = Play(path, "");
    ASSERT_EQ(r.status, 0) << r.json;
    EXPECT_EQ(r.event, EC_COMPLETE);
    const double seconds = double(movie.frames) / 25.0;
    EXPECT_NEAR(double(r.duration) / UNITS, seconds, 0.15);
    ASSERT_EQ(r.streams.size(), movie.audioTags.size() + 1);
    for (const auto& s : r.streams) {
      if (s.major == kVideoMajor) {
        EXPECT_NEAR(double(s.samples), double(movie.frames), 1.0);
        EXPECT_NEAR(double(s.last - s.first) / UNITS, seconds - 0.04, 0.1);
      } else {
        EXPECT_GT(s.samples, 0);
        EXPECT_NEAR(double(s.last) / UNITS, seconds, 0.25);
      }
    }
  }
}

TEST_F(filters_Splitters, SeekToMiddle_DeliversFromTheKeyFrameThere) {
  for (const char* name : {"xvid_mp3.avi", "system.mpg", "wmv2.wmv", "h264.mp4"}) {
    SCOPED_TRACE(name);
    std::string path;
    for (const Movie& m : Movies())
      if (std::strcmp(m.name, name) == 0) path = filtertest::Fixture(m.name, m.args);
    ASSERT_FALSE(path.empty());
    PlayResult whole = Play(path, "");
    PlayResult half = Play(path, "--seek 2");
    ASSERT_EQ(half.status, 0) << half.json;
    EXPECT_EQ(half.event, EC_COMPLETE);
    ASSERT_EQ(half.streams.size(), whole.streams.size()) << half.json;
    // Times after the seek count from the key frame the segment starts at, so a stream that
    // runs to the end of the file ends that far short of where the whole movie's ends.
    long long segmentStart = -1;
    for (size_t i = 0; i < half.streams.size(); ++i) {
      if (half.streams[i].major != kVideoMajor) continue;
      const PlayResult::Stream& w = whole.streams[i];
      const PlayResult::Stream& h = half.streams[i];
      // From a key frame at most a second and a half before the middle.
      EXPECT_LT(h.samples, w.samples - 10);
      EXPECT_GT(h.samples, 40);
      EXPECT_LE(h.samples, 90);
      EXPECT_GE(h.first, -UNITS / 2);
      segmentStart = w.last - h.last;
      EXPECT_LE(segmentStart, 2 * UNITS + UNITS / 100) << "starts after the target, or ends early";
      EXPECT_GE(segmentStart, UNITS / 2);
      // Every frame from the key frame to the end, none lost on the way.
      const long long frame = (w.last - w.first) / (w.samples - 1);
      EXPECT_NEAR(h.samples, w.samples - (segmentStart - w.first + frame / 2) / frame, 2) << half.json;
    }
    ASSERT_GE(segmentStart, 0) << "no video stream: " << half.json;
    for (size_t i = 0; i < half.streams.size(); ++i) {
      if (half.streams[i].major == kVideoMajor) continue;
      // The other streams run to the end too (a decoder's running count of samples may
      // drift a little after the cut the seek makes in their packets).
      EXPECT_NEAR(whole.streams[i].last - half.streams[i].last, segmentStart, UNITS / 4) << half.json;
    }
  }
}

TEST_F(filters_Splitters, DamagedAndForeignFiles_FailWithAResult) {
  const std::string good = filtertest::Fixture("xvid_mp3.avi", Movies()[0].args);
  ASSERT_FALSE(good.empty());
  std::string bytes;
  {
    FILE* f = std::fopen(good.c_str(), "rb");
    ASSERT_TRUE(f);
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
    std::fclose(f);
  }
  const std::string headerCut = filtertest::WriteFile("cut_header.avi", bytes.substr(0, 200));
  const std::string dataCut = filtertest::WriteFile("cut_data.avi", bytes.substr(0, bytes.size() / 3));
  std::string noise(20000, '\0');
  unsigned state = 12345;
  for (char& c : noise) c = char((state = state * 1103515245u + 12345u) >> 16);
  const std::string random = filtertest::WriteFile("random.avi", noise);
  const std::string riffNoise = filtertest::WriteFile("riff_noise.avi", bytes.substr(0, 12) + noise);

  for (const std::string& path : {headerCut, random, riffNoise}) {
    SCOPED_TRACE(path);
    PlayResult r = Play(path, "");
    EXPECT_EQ(r.status, 1) << "a clean failure, not a crash or a time-out";
    // In process: the splitter refuses the stream with a result code.
    ComPtr<IGraphBuilder> graph = NewGraph();
    ComPtr<IBaseFilter> splitter;
    HRESULT hr = OpenSplitter(graph.Get(), path, std::addressof(splitter));
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
  }
  // A file cut short in its data plays what there is and ends.
  PlayResult r = Play(dataCut, "");
  EXPECT_TRUE(r.status == 0 || r.status == 1) << r.status;
}

// The AVI splitter's conformance checklist.
TEST_F(filters_Splitters, AviSplitter_Conformance) {
  const std::string path = filtertest::Fixture("xvid_mp3.avi", Movies()[0].args);
  ASSERT_FALSE(path.empty());
  ComPtr<IGraphBuilder> graph = NewGraph();
  ComPtr<IBaseFilter> splitter;
  ASSERT_EQ(CoCreateInstance(CLSID_AviSplitter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, splitter.AsVoidOut()),
            S_OK);
  // Interfaces and pins before connection.
  EXPECT_FALSE(splitter.As<IFileSourceFilter>());
  auto ins = PinsOf(splitter.Get(), PINDIR_INPUT);
  ASSERT_EQ(ins.size(), 1u);
  EXPECT_TRUE(PinsOf(splitter.Get(), PINDIR_OUTPUT).empty());
  CMediaType video(&MEDIATYPE_Video);
  EXPECT_NE(ins[0]->QueryAccept(&video), S_OK);
  CMediaType avi(&MEDIATYPE_Stream);
  avi.SetSubtype(&MEDIASUBTYPE_Avi);
  EXPECT_EQ(ins[0]->QueryAccept(&avi), S_OK);
  // Unconnected state changes.
  EXPECT_EQ(splitter->Pause(), S_OK);
  EXPECT_EQ(splitter->Run(0), S_OK);
  EXPECT_EQ(splitter->Stop(), S_OK);

  // Connection makes one output pin per stream, each with seeking.
  ASSERT_EQ(graph->AddFilter(splitter.Get(), u"AVI Splitter"), S_OK);
  ComPtr<IBaseFilter> source;
  ASSERT_EQ(graph->AddSourceFilter(Wide(path).c_str(), u"Source", &source), S_OK);
  ASSERT_EQ(graph->ConnectDirect(PinsOf(source.Get(), PINDIR_OUTPUT)[0].Get(), ins[0].Get(), nullptr), S_OK);
  auto outs = PinsOf(splitter.Get(), PINDIR_OUTPUT);
  ASSERT_EQ(outs.size(), 2u);
  ComPtr<IMediaSeeking> seeking = outs[0].As<IMediaSeeking>();
  ASSERT_TRUE(seeking);
  DWORD caps = 0;
  EXPECT_EQ(seeking->GetCapabilities(&caps), S_OK);
  EXPECT_EQ(caps, 0x37u);
  LONGLONG duration = 0, stop = 0;
  EXPECT_EQ(seeking->GetDuration(&duration), S_OK);
  EXPECT_NEAR(double(duration) / UNITS, 4.0, 0.1);
  LONGLONG pos = 2 * UNITS, end = 3 * UNITS;
  EXPECT_EQ(seeking->SetPositions(&pos, AM_SEEKING_AbsolutePositioning | AM_SEEKING_SeekToKeyFrame |
                                            AM_SEEKING_ReturnTime,
                                  &end, AM_SEEKING_AbsolutePositioning),
            S_OK);
  EXPECT_LE(pos, 2 * UNITS);
  EXPECT_GT(pos, UNITS / 2) << "the key frame before the middle";
  EXPECT_EQ(seeking->GetStopPosition(&stop), S_OK);
  EXPECT_EQ(stop, 3 * UNITS);
  EXPECT_EQ(seeking->SetTimeFormat(&TIME_FORMAT_FRAME), E_INVALIDARG);

  // Streaming with no downstream connection: state changes still complete.
  EXPECT_EQ(splitter->Pause(), S_OK);
  EXPECT_EQ(splitter->Stop(), S_OK);

  // Disconnecting the input takes the output pins away.
  ASSERT_EQ(graph->Disconnect(ins[0].Get()), S_OK);
  graph->Disconnect(PinsOf(source.Get(), PINDIR_OUTPUT)[0].Get());
  EXPECT_TRUE(PinsOf(splitter.Get(), PINDIR_OUTPUT).empty());
  outs.clear();
  seeking.Reset();
  graph->RemoveFilter(splitter.Get());
  graph->RemoveFilter(source.Get());
}

}  // namespace

namespace {

TEST_F(filters_Splitters, Graphinfo_JsonNamesFiltersConnectionsAndStreams) {
  const std::string path = filtertest::Fixture("xvid_mp3.avi", Movies()[0].args);
  ASSERT_FALSE(path.empty());
  PlayResult r = Play(path, "");
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(r.json.find("{\"name\":\"AVI Splitter\",\"clsid\":\"{1B544C20-FD0B-11CE-8C63-00AA0044B51E}\"}"),
            std::string::npos)
      << r.json;
  EXPECT_NE(r.json.find("\"to\":\"AVI Splitter/Input\",\"major\":\"" + tav::GuidToString(MEDIATYPE_Stream) +
                        "\",\"subtype\":\"" + tav::GuidToString(MEDIASUBTYPE_Avi) + "\""),
            std::string::npos)
      << r.json;
  EXPECT_NE(r.json.find("\"from\":\"AVI Splitter/Stream 01\""), std::string::npos) << r.json;
  EXPECT_EQ(r.json.front(), '{');

  // --rgb32: the video arrives decoded as RGB32 frames, every one of them.
  PlayResult rgb = Play(path, "--rgb32");
  ASSERT_EQ(rgb.status, 0) << rgb.json;
  EXPECT_NE(rgb.json.find("{\"major\":\"" + kVideoMajor + "\",\"subtype\":\"" +
                          tav::GuidToString(MEDIASUBTYPE_RGB32) + "\""),
            std::string::npos)
      << rgb.json;
  ASSERT_EQ(rgb.streams.size(), r.streams.size()) << rgb.json;
  for (size_t i = 0; i < r.streams.size(); ++i) {
    if (r.streams[i].major == kVideoMajor) {
      EXPECT_NEAR(rgb.streams[i].samples, r.streams[i].samples, 1);
    }
  }

  int status = 0;
  const std::string tool = "'" + tavtest::ProgramPath("graphinfo") + "'";
  tavtest::Capture(tool + " 2>/dev/null", &status);
  EXPECT_EQ(status, 2) << "usage";
  std::string err = tavtest::Capture(tool + " --play '" + tavtest::TempDir() + "/none.avi' 2>&1", &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(err.find("0x80070002"), std::string::npos) << err;
}

}  // namespace
