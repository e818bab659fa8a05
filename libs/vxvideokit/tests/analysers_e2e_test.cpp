// The analysing filters as an application would use them: created by class identifier from
// a fresh registry, found by the mapper, and the interlace checker between the platform's
// decoder and a null renderer telling woven fields (ffmpeg's tinterlace, either field first)
// from progressive pictures.
#include <gtest/gtest.h>

#include <string>

#include "libs/vxvideokit/tests/testgraph.h"
#include "libs/vxvideokit/vxvideokit.h"
#include "media/contract/codepage.h"
#include "tests/support/classtable.h"

using namespace vktest;

namespace {

// Diagonal waves drifting sideways at 50 pictures a second, made into 25 interlaced or
// progressive frames a second by `filter`.
std::string WavesArgs(const std::string& filter) {
  return "-f lavfi -i \"nullsrc=size=640x480:rate=50,geq=lum='128+100*sin(X/23+Y/20+N*0.4)':cb=128:cr=128\" "
         "-vf " + filter + " -frames:v 14 -c:v mpeg4 -q:v 2";
}

class vxvideokit_AnalysersE2E : public FilterFixture {
 protected:
  void SetUp() override {
    if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the platform filters decode with FFmpeg";
    Start({"tavrionstreaming", "tavrionfilters", "vxvideokit"});
  }

  // The checker's verdict on a movie: source -> decoder -> checker -> null renderer, run
  // until the checker completes.
  static int CheckedMode(const std::string& movie) {
    ComPtr<IGraphBuilder> graph = NewGraph();
    if (!graph) return -1;
    ComPtr<IBaseFilter> checker, renderer, source;
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_VxInterlaceModeChecker, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                     checker.AsVoidOut()));
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                     renderer.AsVoidOut()));
    if (!checker || !renderer) return -1;
    graph->AddFilter(checker.Get(), u"Interlace Mode Checker");
    graph->AddFilter(renderer.Get(), u"Null Renderer");
    const std::u16string file = tav::Utf8ToUtf16(movie);
    EXPECT_EQ(S_OK, graph->AddSourceFilter(file.c_str(), file.c_str(), &source));
    ComPtr<ICaptureGraphBuilder2> builder;
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_ICaptureGraphBuilder2, builder.AsVoidOut()));
    builder->SetFiltergraph(graph.Get());
    EXPECT_EQ(S_OK, builder->RenderStream(nullptr, nullptr, source.Get(), checker.Get(), renderer.Get()));
    ComPtr<IMediaControl> control = graph.As<IMediaControl>();
    EXPECT_EQ(S_OK, control->Run());
    LONG code = 0;
    EXPECT_EQ(S_OK, graph.As<IMediaEvent>()->WaitForCompletion(60000, &code));
    EXPECT_EQ(EC_COMPLETE, code);
    control->Stop();
    int mode = -1;
    EXPECT_EQ(S_OK, checker.As<IInterlaceModeCheck>()->GetInterlaceMode(&mode));
    return mode;
  }
};

}  // namespace

TEST_F(vxvideokit_AnalysersE2E, InterlaceChecker_FindsTheFieldOrderOfWovenFields) {
  const std::string dir = tavtest::MakeTempSubdir("interlace");
  ASSERT_TRUE(tavtest::GeneratedMovie(WavesArgs("tinterlace=interleave_top"), dir + "/top.avi"));
  ASSERT_TRUE(tavtest::GeneratedMovie(WavesArgs("tinterlace=interleave_bottom"), dir + "/bottom.avi"));
  ASSERT_TRUE(tavtest::GeneratedMovie(WavesArgs("fps=25"), dir + "/progressive.avi"));
  EXPECT_EQ(2, CheckedMode(dir + "/top.avi")) << "top field (field 1) first";
  EXPECT_EQ(3, CheckedMode(dir + "/bottom.avi")) << "bottom field (field 2) first";
  EXPECT_EQ(1, CheckedMode(dir + "/progressive.avi"));
}

TEST_F(vxvideokit_AnalysersE2E, BothAnalysersAreRegistered_AndFoundByTheirTypes) {
  ComPtr<ISceneAnalyser> scenes;
  EXPECT_EQ(S_OK, CoCreateInstance(CLSID_VxVideoAnalyzer, nullptr, CLSCTX_INPROC_SERVER, IID_ISceneAnalyser,
                                   scenes.AsVoidOut()));
  const GUID rgb24[] = {MEDIATYPE_Video, MEDIASUBTYPE_RGB24};
  for (const char* name : {"VXCMN Interlace Mode Checker", "VXCMN Video Analizer Filter"})
    EXPECT_TRUE(tavtest::MapperListsByName(rgb24, rgb24, name, MERIT_DO_NOT_USE, true)) << name;
}
