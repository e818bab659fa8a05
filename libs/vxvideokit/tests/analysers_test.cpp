// The two analysing filters in a graph fed by a test source: when the interlace checker
// decides and completes, and the scenes the video analyser hands out.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "libs/vxvideokit/interlacechecker.h"
#include "libs/vxvideokit/tests/testgraph.h"
#include "libs/vxvideokit/videoanalyzer.h"

using namespace vktest;

namespace {

constexpr REFERENCE_TIME kFrame = 400000;  // 25 fps

class vxvideokit_Analysers : public GraphFixture {
 protected:
  void TearDown() override {
    filter = nullptr;
    GraphFixture::TearDown();
  }

  // source -> the filter -> sink, running.
  void Build(CUnknown* made, const CMediaType& type) {
    ASSERT_TRUE(made);
    filter = AsFilter(static_cast<CTransInPlaceFilter*>(made));
    ASSERT_TRUE(source = Add(new TestSource(type), u"Source"));
    ASSERT_EQ(S_OK, graph->AddFilter(filter.Get(), u"Analyser"));
    ASSERT_TRUE(sink = Add(new TestSink, u"Sink"));
    ASSERT_EQ(S_OK, graph->ConnectDirect(source->OutPin(), PinOf(filter.Get(), u"Input").Get(), &type));
    ASSERT_EQ(S_OK, graph->ConnectDirect(PinOf(filter.Get(), u"Output").Get(), sink->InPin(), nullptr));
    ASSERT_EQ(S_OK, graph.As<IMediaControl>()->Run());
    ASSERT_EQ(S_OK, source->NewSegment());
  }

  bool Completed() {
    LONG code = 0;
    return graph.As<IMediaEvent>()->WaitForCompletion(0, &code) == S_OK && code == EC_COMPLETE;
  }

  ComPtr<IBaseFilter> filter;
  TestSource* source = nullptr;  // owned by the graph
  TestSink* sink = nullptr;      // owned by the graph
};

CMediaType Rgb24(LONG width, LONG height, bool vih2 = false) {
  return VideoType(width, height, 24, MEDIASUBTYPE_RGB24, vih2);
}

int ModeOf(IBaseFilter* f) {
  int mode = -1;
  EXPECT_EQ(S_OK, ComPtr<IBaseFilter>(f).As<IInterlaceModeCheck>()->GetInterlaceMode(&mode));
  return mode;
}

// A picture of random 2 x 2 squares (the analyser's grid cells at 128 x 96): every frame of
// one seed looks alike, frames of two seeds share nothing.
std::vector<BYTE> Squares(const CMediaType& type, unsigned seed) {
  const BITMAPINFOHEADER& h = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
  std::mt19937 random(seed);
  std::vector<BYTE> values(size_t(h.biWidth / 2) * size_t(h.biHeight / 2));
  for (auto& v : values) v = BYTE(random() & 0xFF);
  std::vector<BYTE> bytes(type.lSampleSize);
  const size_t stride = size_t(h.biWidth) * 3;
  for (LONG y = 0; y < h.biHeight; ++y)
    for (LONG x = 0; x < h.biWidth * 3; ++x)
      bytes[size_t(y) * stride + size_t(x)] = values[size_t(y / 2) * size_t(h.biWidth / 2) + size_t(x / 6)];
  return bytes;
}

// A still, smooth picture: rows brighten steadily downwards.
std::vector<BYTE> Ramp(const CMediaType& type) {
  const BITMAPINFOHEADER& h = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
  std::vector<BYTE> bytes(type.lSampleSize);
  const size_t stride = size_t(h.biWidth) * 3;
  for (LONG y = 0; y < h.biHeight; ++y)
    std::fill_n(bytes.begin() + ptrdiff_t(size_t(y) * stride), stride, BYTE((y * 3) & 0xFF));
  return bytes;
}

std::vector<double> Take(int count, double* times) {
  std::vector<double> out(times, times + count);
  CoTaskMemFree(times);
  return out;
}

}  // namespace

TEST_F(vxvideokit_Analysers, InterlaceChecker_SmallPictureIsProgressive_AtTheFirstFrame) {
  HRESULT hr = E_FAIL;
  Build(CInterlaceModeChecker::CreateInstance(nullptr, &hr), Rgb24(320, 240));
  EXPECT_EQ(0, ModeOf(filter.Get())) << "nothing seen yet";
  EXPECT_EQ(S_OK, source->Push(0, kFrame, 0x10203040));
  EXPECT_EQ(1, ModeOf(filter.Get()));
  EXPECT_TRUE(Completed());
  EXPECT_EQ(1u, sink->frames.size()) << "the sample goes on";
  EXPECT_EQ(E_POINTER, filter.As<IInterlaceModeCheck>()->GetInterlaceMode(nullptr));
  CMediaType rgb32 = Rgb32(320, 240);
  EXPECT_NE(S_OK, PinOf(filter.Get(), u"Input")->QueryAccept(&rgb32));
}

TEST_F(vxvideokit_Analysers, InterlaceChecker_TakesTheModeFromAVideoInfoHeader2) {
  HRESULT hr = E_FAIL;
  CMediaType type = Rgb24(640, 480, true);
  reinterpret_cast<VIDEOINFOHEADER2*>(type.pbFormat)->dwInterlaceFlags = 0x1;  // interlaced, field 2 first
  Build(CInterlaceModeChecker::CreateInstance(nullptr, &hr), type);
  EXPECT_EQ(3, ModeOf(filter.Get())) << "decided when streaming starts";
  EXPECT_FALSE(Completed());
  EXPECT_EQ(S_OK, source->Push(0, kFrame, 0));
  EXPECT_TRUE(Completed());
}

TEST_F(vxvideokit_Analysers, InterlaceChecker_CompletesAfterTheEleventhFullSizeFrame) {
  HRESULT hr = E_FAIL;
  const CMediaType type = Rgb24(640, 480);
  Build(CInterlaceModeChecker::CreateInstance(nullptr, &hr), type);
  for (int i = 0; i < 10; ++i) ASSERT_EQ(S_OK, source->PushBytes(i * kFrame, (i + 1) * kFrame, Ramp(type)));
  EXPECT_FALSE(Completed());
  EXPECT_EQ(1, ModeOf(filter.Get())) << "a still picture does not comb";
  ASSERT_EQ(S_OK, source->PushBytes(10 * kFrame, 11 * kFrame, Ramp(type)));
  EXPECT_TRUE(Completed());
}

TEST_F(vxvideokit_Analysers, VideoAnalyser_HandsOutSceneStarts_AllAndNew) {
  HRESULT hr = E_FAIL;
  const CMediaType type = Rgb24(128, 96);
  Build(CVideoAnalyzer::CreateInstance(nullptr, &hr), type);
  ComPtr<ISceneAnalyser> scenes = filter.As<ISceneAnalyser>();
  ASSERT_TRUE(scenes);
  int frame = 0;
  auto scene = [&](unsigned seed, int frames) {
    for (int i = 0; i < frames; ++i, ++frame)
      ASSERT_EQ(S_OK, source->PushBytes(frame * kFrame, (frame + 1) * kFrame, Squares(type, seed)));
  };
  scene(1, 15);
  scene(2, 15);
  int count = 0;
  double* times = nullptr;
  ASSERT_EQ(S_OK, scenes->GetNewSceneStarts(&count, &times));
  EXPECT_EQ((std::vector<double>{0.0, 0.6}), Take(count, times));
  ASSERT_EQ(S_OK, scenes->GetNewSceneStarts(&count, &times));
  EXPECT_EQ(0, count);
  EXPECT_EQ(nullptr, times) << "nothing new";
  scene(3, 15);
  ASSERT_EQ(S_OK, scenes->GetNewSceneStarts(&count, &times));
  EXPECT_EQ((std::vector<double>{1.2}), Take(count, times));
  ASSERT_EQ(S_OK, scenes->GetSceneStarts(&count, &times));
  EXPECT_EQ((std::vector<double>{0.0, 0.6, 1.2}), Take(count, times));
  EXPECT_EQ(45u, sink->frames.size()) << "every sample goes on";

  // Disabled, frames pass unanalysed and there are no scenes to give.
  ASSERT_EQ(S_OK, scenes->Reset(FALSE));
  EXPECT_EQ(E_UNEXPECTED, scenes->GetSceneStarts(&count, &times));
  EXPECT_EQ(E_UNEXPECTED, scenes->GetNewSceneStarts(&count, &times));
  scene(4, 2);
  ASSERT_EQ(S_OK, scenes->Reset(TRUE));
  ASSERT_EQ(S_OK, scenes->GetSceneStarts(&count, &times));
  EXPECT_EQ((std::vector<double>{0.0}), Take(count, times));
  EXPECT_EQ(E_POINTER, scenes->GetSceneStarts(nullptr, &times));
}

TEST_F(vxvideokit_Analysers, VideoAnalyser_GivesItsPins) {
  HRESULT hr = E_FAIL;
  CUnknown* made = CVideoAnalyzer::CreateInstance(nullptr, &hr);
  ASSERT_EQ(S_OK, hr);
  filter = AsFilter(static_cast<CTransInPlaceFilter*>(made));
  ComPtr<ISceneAnalyser> scenes = filter.As<ISceneAnalyser>();
  ComPtr<IPin> pin;
  ASSERT_EQ(S_OK, scenes->GetPin(1, &pin));
  PIN_DIRECTION dir = PINDIR_INPUT;
  pin->QueryDirection(&dir);
  EXPECT_EQ(PINDIR_OUTPUT, dir);
  EXPECT_EQ(VFW_E_NOT_FOUND, scenes->GetPin(2, &pin));
  EXPECT_EQ(E_POINTER, scenes->GetPin(0, nullptr));
  CMediaType vih2 = Rgb24(64, 48, true), rgb32 = Rgb32(64, 48);
  EXPECT_EQ(S_OK, PinOf(filter.Get(), u"Input")->QueryAccept(&vih2));
  EXPECT_NE(S_OK, PinOf(filter.Get(), u"Input")->QueryAccept(&rgb32));
}
