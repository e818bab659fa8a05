// The Subtitle Filter: the library's registration and creation by class identifier, media
// type negotiation, buffer size, and captions burnt into frames in a graph at their media
// times (sample time + segment start).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "libs/captionparser/burninfilter.h"
#include "libs/captionparser/tests/framecheck.h"
#include "libs/captionparser/tests/testutil.h"
#include "libs/vxvideokit/tests/testgraph.h"
#include "media/contract/registry.h"

using namespace vktest;
using tavtest::WriteTempFile;

namespace {

constexpr REFERENCE_TIME kSecond = 10'000'000;

const std::string kTwoLanguages = std::string(captiontest::kKoreanEnglishSami) +
                                  "<SYNC Start=2000><P Class=KRCC>IIIIIIIIIIIIIIIIIII\n"
                                  "<SYNC Start=2000><P Class=ENCC>MW\n"
                                  "</BODY></SAMI>";

std::string ReadClassString(REFCLSID clsid, const std::string& sub, const char* value) {
  HKEY k = nullptr;
  const std::string key = "CLSID\\" + tav::GuidToString(clsid) + sub;
  if (RegOpenKeyEx(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return "<missing>";
  char buf[512] = {};
  DWORD size = sizeof buf, type = 0;
  const LSTATUS st = RegQueryValueEx(k, value, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
  RegCloseKey(k);
  return st == ERROR_SUCCESS ? std::string(buf) : "<missing>";
}

// Keeps a temporary type alive for the rest of the test.
const CMediaType* Keep(CMediaType mt) {
  static std::vector<std::unique_ptr<CMediaType>> kept;
  kept.push_back(std::make_unique<CMediaType>(std::move(mt)));
  return kept.back().get();
}

ComPtr<CBurnInFilter> NewFilter() {
  HRESULT hr = E_FAIL;
  auto* f = static_cast<CBurnInFilter*>(CBurnInFilter::CreateInstance(nullptr, &hr));
  EXPECT_EQ(S_OK, hr);
  return ComPtr<CBurnInFilter>(f);
}

class captionparser_Library : public FilterFixture {
 protected:
  void SetUp() override { Start({"tavrionstreaming", "captionparser"}); }

  // A manager of the registered library with `text` loaded.
  ComPtr<ISubtitleManager> LoadedManager(const std::string& name, const std::string& text) {
    ComPtr<ISubtitleManager> m;
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_SubtitleManager, nullptr, CLSCTX_ALL, IID_ISubtitleManager, m.AsVoidOut()));
    if (!m) return m;
    const std::string path = WriteTempFile(name, text);
    EXPECT_EQ(S_OK, m->LoadFile(std::u16string(path.begin(), path.end()).c_str(), FALSE));
    return m;
  }
};

}  // namespace

TEST_F(captionparser_Library, RegistersBothClassesAndCreatesThemByIdentifier) {
  EXPECT_EQ("Subtitle Filter", ReadClassString(CLSID_SubtitleFilter, "", nullptr));
  EXPECT_EQ("Subtitle Manager", ReadClassString(CLSID_SubtitleManager, "", nullptr));
  for (const CLSID* clsid : {&CLSID_SubtitleFilter, &CLSID_SubtitleManager}) {
    EXPECT_EQ("Both", ReadClassString(*clsid, "\\InprocServer32", "ThreadingModel"));
    EXPECT_EQ(tavtest::LibraryPath("captionparser"), ReadClassString(*clsid, "\\InprocServer32", nullptr));
  }
  ComPtr<IBurnInFilter> filter;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SubtitleFilter, nullptr, CLSCTX_ALL, IID_IBurnInFilter, filter.AsVoidOut()));
  ComPtr<ISubtitleManager> none;
  EXPECT_EQ(S_OK, filter->GetManager(&none));
  EXPECT_EQ(nullptr, none.Get());
  EXPECT_EQ(E_ABORT, filter->GetManager(nullptr));
  EXPECT_EQ(E_ABORT, filter->SetManager(nullptr));

  ComPtr<ISubtitleManager> manager;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SubtitleManager, nullptr, CLSCTX_ALL, IID_ISubtitleManager,
                                   manager.AsVoidOut()));
  ASSERT_EQ(S_OK, filter->SetManager(manager.Get()));
  ComPtr<ISubtitleManager> back;
  ASSERT_EQ(S_OK, filter->GetManager(&back));
  EXPECT_EQ(manager.Get(), back.Get());
  EXPECT_EQ(E_ABORT, filter->SetManager(nullptr));
  back = nullptr;
  ASSERT_EQ(S_OK, filter->GetManager(&back));
  EXPECT_EQ(manager.Get(), back.Get()) << "a set manager cannot be removed";

  ComPtr<IBaseFilter> base = filter.As<IBaseFilter>();
  ASSERT_TRUE(base);
  CLSID clsid{};
  base->GetClassID(&clsid);
  EXPECT_EQ(CLSID_SubtitleFilter, clsid);
}

TEST(captionparser_BurnInFilter, AcceptsOnlyBottomUpRgbOfFixedSize) {
  ComPtr<CBurnInFilter> f = NewFilter();
  EXPECT_EQ(E_POINTER, f->CheckInputType(nullptr));
  EXPECT_EQ(S_OK, f->CheckInputType(Keep(VideoType(320, 240, 32, MEDIASUBTYPE_RGB32))));
  EXPECT_EQ(S_OK, f->CheckInputType(Keep(VideoType(320, 240, 24, MEDIASUBTYPE_RGB24))));
  EXPECT_EQ(S_OK, f->CheckInputType(Keep(VideoType(320, 240, 16, MEDIASUBTYPE_RGB555))));
  EXPECT_EQ(S_OK, f->CheckInputType(Keep(VideoType(320, 240, 16, MEDIASUBTYPE_RGB565, true))));
  EXPECT_EQ(E_INVALIDARG, f->CheckInputType(Keep(VideoType(320, -240, 32, MEDIASUBTYPE_RGB32)))) << "top-down";
  EXPECT_EQ(E_INVALIDARG, f->CheckInputType(Keep(VideoType(320, 240, 16, FourccSubtype(0x32595559))))) << "YUY2";
  CMediaType variable = VideoType(320, 240, 32, MEDIASUBTYPE_RGB32);
  variable.SetVariableSize();
  EXPECT_EQ(E_INVALIDARG, f->CheckInputType(&variable));
  CMediaType noFormat = VideoType(320, 240, 32, MEDIASUBTYPE_RGB32);
  noFormat.ResetFormatBuffer();
  EXPECT_EQ(E_INVALIDARG, f->CheckInputType(&noFormat));
  CMediaType audio = VideoType(320, 240, 32, MEDIASUBTYPE_RGB32);
  audio.SetType(&MEDIATYPE_Audio);
  EXPECT_EQ(E_INVALIDARG, f->CheckInputType(&audio));

  const CMediaType in = VideoType(320, 240, 32, MEDIASUBTYPE_RGB32);
  EXPECT_EQ(S_OK, f->CheckTransform(&in, &in));
  EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, f->CheckTransform(&in, Keep(VideoType(640, 480, 32, MEDIASUBTYPE_RGB32))));
  const CMediaType topDown = VideoType(320, -240, 32, MEDIASUBTYPE_RGB32);
  EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, f->CheckTransform(&topDown, &topDown));
  CMediaType any;
  EXPECT_EQ(E_INVALIDARG, f->GetMediaType(-1, &any));
  EXPECT_EQ(VFW_S_NO_MORE_ITEMS, f->GetMediaType(1, &any));
}

// ---- in a graph ----------------------------------------------------------------------------

class captionparser_BurnInGraph : public captionparser_Library {
 protected:
  void SetUp() override {
    captionparser_Library::SetUp();
    ASSERT_TRUE(MakeGraph());
  }
  void TearDown() override {
    filter = nullptr;
    captionparser_Library::TearDown();
  }
  void Build(const CMediaType& type) {
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SubtitleFilter, nullptr, CLSCTX_ALL, IID_IBaseFilter, filter.AsVoidOut()));
    ASSERT_TRUE(source = Add(new TestSource(type), u"Source"));
    ASSERT_EQ(S_OK, graph->AddFilter(filter.Get(), u"KORVA Subtitles Parser"));
    ASSERT_TRUE(sink = Add(new TestSink, u"Sink"));
    ASSERT_EQ(S_OK, graph->ConnectDirect(source->OutPin(), PinOf(filter.Get(), u"In").Get(), nullptr));
    ASSERT_EQ(S_OK, graph->ConnectDirect(PinOf(filter.Get(), u"Out").Get(), sink->InPin(), nullptr));
  }
  void Run(REFERENCE_TIME segmentStart) {
    ASSERT_EQ(S_OK, graph.As<IMediaControl>()->Run());
    // The segment as the source would announce it, straight to the filter's input.
    ASSERT_EQ(S_OK, PinOf(filter.Get(), u"In")->NewSegment(segmentStart, MAX_TIME, 1.0));
  }
  // Pushes one grey frame at sample time `t` and returns what the sink got.
  std::vector<BYTE> Frame(REFERENCE_TIME t, const CMediaType& type) {
    std::vector<BYTE> grey(type.lSampleSize, 0x80);
    const size_t before = sink->frames.size();
    EXPECT_EQ(S_OK, source->PushBytes(t, t + 1, grey));
    std::lock_guard<std::mutex> g(sink->framesLock);
    if (sink->frames.size() != before + 1) return {};
    return sink->frames.back().data;
  }

  TestSource* source = nullptr;  // owned by the graph
  TestSink* sink = nullptr;      // owned by the graph
  ComPtr<IBaseFilter> filter;
};

TEST_F(captionparser_BurnInGraph, AsksForTwiceTheFrameAndPassesTheTypeThrough) {
  const CMediaType type = VideoType(320, 240, 24, MEDIASUBTYPE_RGB24);
  Build(type);
  ComPtr<IMemAllocator> allocator;
  ComPtr<IMemInputPin> input;
  ASSERT_EQ(S_OK, sink->InPin()->QueryInterface(IID_IMemInputPin, input.AsVoidOut()));
  ASSERT_EQ(S_OK, input->GetAllocator(&allocator));
  ALLOCATOR_PROPERTIES props{};
  ASSERT_EQ(S_OK, allocator->GetProperties(&props));
  EXPECT_EQ(460'800, props.cbBuffer);
  EXPECT_GE(props.cBuffers, 1);
  EXPECT_TRUE(sink->ConnectionType() == type);
}

TEST_F(captionparser_BurnInGraph, FramesPassUnchangedWithoutManagerOrCaption) {
  const CMediaType type = VideoType(64, 48, 32, MEDIASUBTYPE_RGB32);
  Build(type);
  ComPtr<ISubtitleManager> m = LoadedManager("late.srt", "1\n00:01:00,000 --> 00:01:02,000\nlate\n\n");
  Run(0);
  std::vector<BYTE> grey(type.lSampleSize, 0x80);
  EXPECT_EQ(grey, Frame(0, type)) << "no manager set";
  ASSERT_EQ(S_OK, filter.As<IBurnInFilter>()->SetManager(m.Get()));
  EXPECT_EQ(grey, Frame(kSecond, type)) << "no caption due yet";
  EXPECT_EQ(2u, sink->frames.size());
}

TEST_F(captionparser_BurnInGraph, ManagerWithoutFileStopsTheStream) {
  const CMediaType type = VideoType(64, 48, 32, MEDIASUBTYPE_RGB32);
  Build(type);
  ComPtr<ISubtitleManager> empty;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SubtitleManager, nullptr, CLSCTX_ALL, IID_ISubtitleManager,
                                   empty.AsVoidOut()));
  ASSERT_EQ(S_OK, filter.As<IBurnInFilter>()->SetManager(empty.Get()));
  Run(0);
  std::vector<BYTE> grey(type.lSampleSize, 0x80);
  EXPECT_NE(S_OK, source->PushBytes(0, 1, grey));
  EXPECT_TRUE(sink->frames.empty());
}

TEST_F(captionparser_BurnInGraph, CaptionsAppearFromTheirStartInMediaTime) {
  const CMediaType type = VideoType(320, 240, 32, MEDIASUBTYPE_RGB32);
  Build(type);
  ComPtr<ISubtitleManager> m = LoadedManager("two.smi", kTwoLanguages);
  ASSERT_EQ(S_OK, m->SelectLanguageByCode(u"en-us"));
  ASSERT_EQ(S_OK, filter.As<IBurnInFilter>()->SetManager(m.Get()));
  // Segment start 1.5 s: sample time 0.5 s is media time 2 s, where the caption starts.
  Run(15 * kSecond / 10);
  std::vector<BYTE> grey(type.lSampleSize, 0x80);
  EXPECT_EQ(grey, Frame(kSecond / 2 - 1, type)) << "just before the caption";
  const std::vector<BYTE> at = Frame(kSecond / 2, type);
  EXPECT_NE(grey, at) << "at the caption's start";
  EXPECT_NE(grey, Frame(3 * kSecond, type)) << "after the start: it stays until the next one";

  const captiontest::Extent english = captiontest::ChangedExtent(at, grey, 320, 240, 32);
  ASSERT_TRUE(english.any());
  EXPECT_GE(english.top, 150) << "captions stay in the lower part of the frame";

  // The other language draws other text: the long line of narrow letters is wider.
  ASSERT_EQ(S_OK, m->SelectLanguageByCode(u"KO-KR"));
  const captiontest::Extent korean = captiontest::ChangedExtent(Frame(kSecond, type), grey, 320, 240, 32);
  ASSERT_TRUE(korean.any());
  EXPECT_GT(korean.right - korean.left, english.right - english.left + 20);

  // The size classes change the character height.
  ASSERT_EQ(S_OK, m->SelectSizeById(kCaptionSizeSmall));
  const captiontest::Extent small = captiontest::ChangedExtent(Frame(kSecond, type), grey, 320, 240, 32);
  ASSERT_EQ(S_OK, m->SelectSizeById(kCaptionSizeBig));
  const captiontest::Extent big = captiontest::ChangedExtent(Frame(kSecond, type), grey, 320, 240, 32);
  ASSERT_TRUE(small.any() && big.any());
  EXPECT_GT(big.bottom - big.top, small.bottom - small.top);
}
