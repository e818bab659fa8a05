// The platform's own intelligent connection over DIV3 video: graphinfo renders an AVI as
// RenderFile does, and the chain must reach a video renderer through the subtype adapter
// (found by its registered input types) and the MPEG-4 version 3 decoder (found as a decoder
// object registered with its types). A stream nothing can take is named, with the reason.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/testenv.h"

namespace {

namespace fs = std::filesystem;

std::string Graphinfo(const std::string& movie, int* status) {
  return tavtest::Capture("timeout 60 '" + tavtest::ProgramPath("graphinfo") + "' '" + movie + "' 2>&1", status);
}

// The muxer writes no code it does not know: the stream header and the format of an XVID
// movie get the code ZZ42 here.
void PatchCode(const std::string& movie) {
  std::fstream f(movie, std::ios::in | std::ios::out | std::ios::binary);
  std::string head(4096, '\0');
  f.read(head.data(), std::streamsize(head.size()));
  head.resize(size_t(f.gcount()));
  int replaced = 0;
  for (size_t at = head.find("XVID"); at != std::string::npos; at = head.find("XVID", at + 4), ++replaced) {
    f.clear();
    f.seekp(std::streamoff(at));
    f.write("ZZ42", 4);
  }
  ASSERT_EQ(replaced, 2);
}

TEST(ShimRender, Div3Avi_ReachesAVideoRenderer_AndAStreamNothingTakesIsNamed) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string dir = tavtest::MakeTempSubdir("div3-render");
  const std::string div3 = dir + "/div3.avi";
  ASSERT_TRUE(tavtest::GeneratedMovie("-f lavfi -i testsrc=size=160x120:rate=15 -t 1 -c:v msmpeg4 -vtag DIV3", div3));
  int status = 0;
  std::string out = Graphinfo(div3, &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("VXCMN Subtype Adapter Filter"), std::string::npos) << out;
  EXPECT_NE(out.find("MPEG 4 codec version 3"), std::string::npos) << out;
  EXPECT_NE(out.find("Video Renderer/"), std::string::npos) << "no video renderer:\n" << out;
  EXPECT_EQ(out.find("is not rendered"), std::string::npos) << out;

  // Video under a code no decoder knows: the graph is built for the sound alone, and
  // graphinfo says which stream was left out and why.
  const std::string unknown = dir + "/unknown.avi";
  ASSERT_TRUE(tavtest::GeneratedMovie("-f lavfi -i testsrc=size=160x120:rate=15 -f lavfi -i sine=sample_rate=22050 -t 1 "
                                      "-c:v mpeg4 -vtag XVID -c:a pcm_s16le",
                                      unknown));
  PatchCode(unknown);
  out = Graphinfo(unknown, &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("the video ZZ42 stream of AVI Splitter/Stream 00 is not rendered: 0x"), std::string::npos) << out;
  EXPECT_NE(out.find("DirectSound Audio Renderer"), std::string::npos) << out;

  // Nothing at all can be rendered: the graph cannot be built, and the stream is still named.
  const std::string silent = dir + "/silent.avi";
  ASSERT_TRUE(tavtest::GeneratedMovie("-f lavfi -i testsrc=size=160x120:rate=15 -t 1 -c:v mpeg4 -vtag XVID", silent));
  PatchCode(silent);
  out = Graphinfo(silent, &status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("the video ZZ42 stream of AVI Splitter/Stream 00 is not rendered: 0x"), std::string::npos) << out;
}

}  // namespace
