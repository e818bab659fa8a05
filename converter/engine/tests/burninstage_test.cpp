// The burn-in stage and subtitle manager creation in a graph of their own: a test source, the
// stage, a recording sink; the caption library registered in the test's private registry.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "converter/engine/burninstage.h"
#include "converter/engine/graphwalk.h"
#include "media/contract/codepage.h"
#include "libs/vxvideokit/tests/testgraph.h"
#include "tests/support/testenv.h"

using namespace vktest;
using tav::HRChecker;
using tav::SubtitleSettings;

namespace {

constexpr REFERENCE_TIME kSecond = 10'000'000;

std::string WriteFile(const std::string& name, const std::string& text) {
  const std::string path = tavtest::TempDir() + "/" + name;
  FILE* f = fopen(path.c_str(), "wb");
  if (f) {
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
  }
  return path;
}

int FilterCount(IGraphBuilder* graph) { return int(tav::FiltersOf(graph).size()); }

class engine_BurnInStage : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    ASSERT_EQ(S_OK, RegisterLibrary("tavrionstreaming"));
    ASSERT_EQ(S_OK, RegisterLibrary("captionparser"));
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                     graph.AsVoidOut()));
    ASSERT_EQ(S_OK, graph.As<IMediaFilter>()->SetSyncSource(nullptr));
    settings.file = WriteFile("clip.srt", "1\n00:00:02,000 --> 00:00:04,000\nHello there\n\n");
    settings.sizeId = "9F0194EA-D60A-43d2-B994-CB0FDDE02C3E";
    settings.language = "en-us";
  }
  void TearDown() override {
    if (graph) graph.As<IMediaControl>()->Stop();
    srcFilter = sinkFilter = nullptr;
    graph = nullptr;
    CoFreeUnusedLibraries();
    CoUninitialize();
  }
  void AddSource(const CMediaType& type) {
    source = new TestSource(type);
    srcFilter = AsFilter(source);
    ASSERT_EQ(S_OK, graph->AddFilter(srcFilter.Get(), u"Source"));
  }

  ComPtr<IGraphBuilder> graph;
  TestSource* source = nullptr;
  ComPtr<IBaseFilter> srcFilter, sinkFilter;
  SubtitleSettings settings;
  HRChecker checker;
};

}  // namespace

TEST_F(engine_BurnInStage, ManagerIsCreatedLoadedAndSelected) {
  ComPtr<ISubtitleManager> a = tav::CreateSubtitleManager(checker, settings);
  ASSERT_TRUE(a);
  WCHAR* name = nullptr;
  ASSERT_EQ(S_OK, a->GetFileName(&name));
  EXPECT_EQ(tav::AnsiToWide(settings.file), std::u16string(name));
  CoTaskMemFree(name);
  ComPtr<ISubtitleManager> b = tav::CreateSubtitleManager(checker, settings);
  EXPECT_NE(a.Get(), b.Get()) << "every chain gets its own manager";

  settings.file = WriteFile("junk.smi", "this is not a subtitle file");
  try {
    tav::CreateSubtitleManager(checker, settings);
    FAIL() << "a file the manager cannot load must throw";
  } catch (const HRChecker& e) {
    EXPECT_EQ(TAV_HR(0x80040301), e.GetHr());
    EXPECT_EQ("Subtitle Manager Object", e.GetContext());
  }
}

TEST_F(engine_BurnInStage, EmptyFileFailsBeforeAnyFilterIsMade) {
  AddSource(VideoType(64, 48, 32, MEDIASUBTYPE_RGB32));
  settings.file.clear();
  try {
    tav::AddBurnInStage(checker, graph.Get(), source->OutPin(), settings);
    FAIL() << "an empty subtitle file must throw";
  } catch (const HRChecker& e) {
    EXPECT_EQ(TAV_HR(0x80040301), e.GetHr());
    EXPECT_EQ("Subtitle Filter", e.GetContext());
  }
  EXPECT_EQ(1, FilterCount(graph.Get()));
}

TEST_F(engine_BurnInStage, UnconnectableStreamThrowsAndLeavesNoFilter) {
  AddSource(VideoType(64, 48, 16, FourccSubtype(0x32595559)));  // YUY2: not RGB
  try {
    tav::AddBurnInStage(checker, graph.Get(), source->OutPin(), settings);
    FAIL() << "a refused connection must throw";
  } catch (const HRChecker& e) {
    EXPECT_EQ(VFW_E_CANNOT_CONNECT, e.GetHr());
  }
  EXPECT_EQ(1, FilterCount(graph.Get()));
}

TEST_F(engine_BurnInStage, StageJoinsTheChainOnceAndStreams) {
  const CMediaType type = VideoType(320, 240, 32, MEDIASUBTYPE_RGB32);
  AddSource(type);
  ComPtr<IPin> out = tav::AddBurnInStage(checker, graph.Get(), source->OutPin(), settings);
  ASSERT_TRUE(out);
  ComPtr<IBaseFilter> stage;
  ASSERT_EQ(S_OK, graph->FindFilterByName(tav::kBurnInFilterName, &stage));
  ComPtr<ISubtitleManager> manager;
  ASSERT_EQ(S_OK, stage.As<IBurnInFilter>()->GetManager(&manager));
  ASSERT_TRUE(manager) << "the stage hands its filter a manager";

  // Run again on the stage's output: the pin's owner is a subtitle filter, nothing is added.
  ComPtr<IPin> again = tav::AddBurnInStage(checker, graph.Get(), out.Get(), settings);
  EXPECT_EQ(out.Get(), again.Get());
  EXPECT_EQ(2, FilterCount(graph.Get()));

  auto* sink = new TestSink;
  sinkFilter = AsFilter(sink);
  ASSERT_EQ(S_OK, graph->AddFilter(sinkFilter.Get(), u"Sink"));
  ASSERT_EQ(S_OK, graph->ConnectDirect(out.Get(), sink->InPin(), nullptr));
  ASSERT_EQ(S_OK, graph.As<IMediaControl>()->Run());
  ASSERT_EQ(S_OK, source->NewSegment());
  const std::vector<BYTE> grey(type.lSampleSize, 0x80);
  ASSERT_EQ(S_OK, source->PushBytes(0, 1, grey));
  ASSERT_EQ(1u, sink->frames.size());
  EXPECT_EQ(grey, sink->frames[0].data) << "nothing is due before the first caption";
  ASSERT_EQ(S_OK, source->PushBytes(2 * kSecond, 2 * kSecond + 1, grey));
  ASSERT_EQ(2u, sink->frames.size());
  EXPECT_NE(grey, sink->frames[1].data) << "the caption is burnt in from its start";
}
