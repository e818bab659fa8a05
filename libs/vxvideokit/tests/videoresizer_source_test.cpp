// The bilinear video resizer behind a real file source and the AVI splitter: the interlace
// mode registry finds the file upstream, and every frame is looked up under its name.
#include <gtest/gtest.h>

#include <string>

#include "libs/vxvideokit/nearestresize.h"
#include "libs/vxvideokit/resizerproperties.h"
#include "libs/vxvideokit/tests/testgraph.h"
#include "libs/vxvideokit/videoresizer.h"

using namespace vktest;

namespace {

std::u16string Take(LPOLESTR s) {
  std::u16string out = s ? std::u16string(s) : u"<null>";
  CoTaskMemFree(s);
  return out;
}

class vxvideokit_VideoResizerSource : public FilterFixture {
 protected:
  void SetUp() override {
    Start({"tavrionstreaming", "tavrionfilters"});
    ASSERT_TRUE(MakeGraph());
    ASSERT_EQ(S_OK, CResizerProperties::Acquire(&registry));
  }
  void TearDown() override {
    if (registry) registry->Clear();
    registry = nullptr;
    resizer = nullptr;
    FilterFixture::TearDown();  // the registry object counts among those that must be gone
  }
  CVideoResizer* Impl() { return static_cast<CVideoResizer*>(static_cast<CBaseFilter*>(resizer.Get())); }

  ComPtr<IInterlaceModeRegistry> registry;
  TestSink* sink = nullptr;  // owned by the graph
  ComPtr<IBaseFilter> resizer;
};

}  // namespace

TEST_F(vxvideokit_VideoResizerSource, FindsTheFileOfARealSourceThroughTheSplitter) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg tool is needed to make the movie";
  const std::string path = tavtest::TempDir() + "/resizer source.avi";
  ASSERT_TRUE(tavtest::GeneratedMovie(
      "-f lavfi -i testsrc=size=160x120:rate=10:duration=1 -c:v rawvideo -pix_fmt bgr24", path));
  const std::u16string wide(path.begin(), path.end());
  ComPtr<IBaseFilter> file;
  ASSERT_EQ(S_OK, graph->AddSourceFilter(wide.c_str(), u"Source", &file));

  HRESULT hr = E_FAIL;
  CUnknown* made = CVideoResizer::CreateInstance(nullptr, &hr);
  ASSERT_EQ(S_OK, hr);
  ComPtr<IBaseFilter> filter;
  ASSERT_EQ(S_OK, made->NonDelegatingQueryInterface(IID_IBaseFilter, filter.AsVoidOut()));
  const CMediaType outType = VideoType(80, 60, 24, MEDIASUBTYPE_RGB24);
  ASSERT_EQ(S_OK, filter.As<IResizerControl>()->SetOutputType(&outType));
  ASSERT_EQ(S_OK, graph->AddFilter(filter.Get(), u"Video Resizer"));
  ASSERT_TRUE(sink = Add(new TestSink, u"Sink"));
  ComPtr<IEnumPins> pins;
  ASSERT_EQ(S_OK, file->EnumPins(&pins));
  ComPtr<IPin> out;
  ASSERT_EQ(S_OK, pins->Next(1, &out, nullptr));
  // The graph puts the AVI splitter between the file and the resizer.
  ASSERT_EQ(S_OK, graph->Connect(out.Get(), PinOf(filter.Get(), u"Input").Get()));
  ASSERT_EQ(S_OK, graph->ConnectDirect(PinOf(filter.Get(), u"Output").Get(), sink->InPin(), nullptr));

  EXPECT_EQ(wide, Take([&] {
              LPOLESTR n = nullptr;
              EXPECT_EQ(S_OK, registry->GetSourceFileName(filter.Get(), &n));
              return n;
            }()));
  EXPECT_EQ(wide, Take([&] {
              LPOLESTR n = nullptr;
              EXPECT_EQ(S_OK, registry->GetSourceFileName(file.Get(), &n));
              return n;
            }()))
      << "a source is its own source";
  EXPECT_EQ(E_POINTER, registry->GetSourceFileName(filter.Get(), nullptr));

  ASSERT_EQ(S_OK, registry->SetMode(wide.c_str(), -1, -1, 3, 2));
  int field = 0, prepass = 0;
  ASSERT_EQ(S_OK, registry->LookupByFilter(filter.Get(), 5'000'000, &field, &prepass));
  EXPECT_EQ(3, field);
  EXPECT_EQ(2, prepass);

  // Streaming: every frame is looked up under the file's name and scaled.
  resizer = filter;
  ASSERT_EQ(S_OK, graph.As<IMediaControl>()->Run());
  ASSERT_TRUE(tavtest::WaitFor([&] { return sink->endOfStream; }, std::chrono::seconds(60)));
  std::lock_guard<std::mutex> g(sink->framesLock);
  EXPECT_EQ(10u, sink->frames.size());
  EXPECT_EQ(3, Impl()->LastFieldMode());
  EXPECT_EQ(2, Impl()->LastPrepassType());
  ASSERT_FALSE(sink->frames.empty());
  EXPECT_EQ(size_t(DibStride(80, 24)) * 60, sink->frames.back().data.size());
}
