// tavrion-probe run as a user runs it: the preview snapshot of a movie at a frame size with
// the fit and the caption of the chosen language, read back with ffmpeg; the decoded picture
// at a time against ffmpeg's own, and a time past the end refused; wrong command lines.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/testenv.h"

namespace {

std::string Quote(const std::string& s) { return "'" + s + "'"; }

std::string Probe() { return Quote(tavtest::ProgramPath("tavrion-probe")); }

std::string WriteFile(const std::string& name, const std::string& text) {
  const std::string path = tavtest::TempDir() + "/" + name;
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  return path;
}

// A PNG's pixels as top-down RGB24 rows, decoded by ffmpeg.
std::string Pixels(const std::string& png, const char* format = "rgb24") {
  return tavtest::Capture("ffmpeg -nostdin -loglevel error -i " + Quote(png) + " -f rawvideo -pix_fmt " + format +
                          " -");
}

bool RowBlack(const std::string& rgb, int width, int y) {
  for (int x = 0; x < width * 3; ++x)
    if (uint8_t(rgb[size_t(y) * width * 3 + x]) > 16) return false;
  return true;
}

int RowsDiffering(const std::string& a, const std::string& b, int width, int from, int to) {
  int n = 0;
  for (int y = from; y < to; ++y)
    if (a.compare(size_t(y) * width * 3, size_t(width) * 3, b, size_t(y) * width * 3, size_t(width) * 3) != 0) ++n;
  return n;
}

class ProbeTool : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make and read test pictures";
    ASSERT_EQ(access(tavtest::ProgramPath("tavrion-probe").c_str(), X_OK), 0) << "tavrion-probe is not built";
  }
  // The snapshot's pixels; empty when the tool failed.
  std::string Snapshot(const std::string& movie, const std::string& args, const std::string& name) {
    const std::string png = tavtest::TempDir() + "/" + name;
    int status = -1;
    const std::string out = tavtest::Capture(
        Probe() + " --preview " + Quote(movie) + " " + args + " --snapshot " + Quote(png) + " 2>&1", &status);
    EXPECT_EQ(status, 0) << args << "\n" << out;
    if (status != 0) return std::string();
    EXPECT_NE(out.find("snapshot " + png), std::string::npos) << out;
    return Pixels(png);
  }
};

// A 352 x 240 movie at 640 x 480 with Fit has black rows at top and bottom, and the caption
// of the chosen language.
TEST_F(ProbeTool, PreviewSnapshotFitsTheMovieAndDrawsTheChosenLanguage) {
  const std::string movie = tavtest::TempDir() + "/ntsc.avi";
  ASSERT_TRUE(
      tavtest::GeneratedMovie("-f lavfi -i color=c=0x305070:size=352x240:rate=30 -c:v mpeg4 -vtag XVID -t 2", movie));
  const std::string sami = WriteFile("snap.smi",
                                     "<SAMI><HEAD><STYLE TYPE=\"text/css\"><!--\n"
                                     "P { text-align:center; color:white; }\n"
                                     ".ENCC { Name:English; lang:en-US; SAMIType:CC; }\n"
                                     ".KRCC { Name:Korean; lang:ko-KR; SAMIType:CC; }\n"
                                     "--></STYLE></HEAD><BODY>\n"
                                     "<SYNC Start=0><P Class=ENCC>Lights\n"
                                     "<SYNC Start=0><P Class=KRCC>MMMMMMMMMMMMMMMMMMMM\n"
                                     "</BODY></SAMI>\n");
  const std::string base = "--size 640x480 --fit fit --subtitles " + Quote(sami);
  const std::string english = Snapshot(movie, base + " --language en-us", "en.png");
  const std::string korean = Snapshot(movie, base + " --language ko-kr --subtitle-size bigger", "ko.png");
  const std::string none = Snapshot(movie, "--size 640x480 --fit fit", "none.png");
  ASSERT_EQ(english.size(), size_t(640 * 480 * 3));
  ASSERT_EQ(korean.size(), english.size());
  ASSERT_EQ(none.size(), english.size());
  // 352 x 240 fitted into 640 x 480 is 640 x 436 at top 22.
  for (int y : {0, 10, 21, 458, 470, 479}) EXPECT_TRUE(RowBlack(none, 640, y)) << "row " << y;
  for (int y : {23, 240, 456}) EXPECT_FALSE(RowBlack(none, 640, y)) << "row " << y;
  // Captions sit in the lower part of the picture, and differ between the languages.
  EXPECT_GT(RowsDiffering(english, none, 640, 240, 480), 10);
  EXPECT_GT(RowsDiffering(korean, none, 640, 240, 480), 10);
  EXPECT_GT(RowsDiffering(korean, english, 640, 240, 480), 10);
  EXPECT_EQ(RowsDiffering(english, none, 640, 0, 120), 0) << "nothing but the caption changes";
}

// --frame writes the picture ffmpeg decodes at that time; a time past the end writes none.
TEST_F(ProbeTool, FrameIsThePictureAtItsTimeAndPastTheEndFails) {
  const std::string avi = tavtest::TempDir() + "/pattern.avi";
  // Every picture differs from the next, so a wrong frame shows.
  ASSERT_TRUE(tavtest::GeneratedMovie("-f lavfi -i testsrc2=size=320x240:rate=25:duration=4 -c:v mpeg4 -q:v 2", avi));
  const std::string png = tavtest::MakeTempSubdir("frame") + "/frame.png";
  int status = -1;
  std::string out = tavtest::Capture(Probe() + " --frame 1.2 " + Quote(avi) + " " + Quote(png) + " 2>&1", &status);
  ASSERT_EQ(status, 0) << out;
  const std::string written = Pixels(png);
  const std::string ffmpeg = tavtest::Capture("ffmpeg -nostdin -loglevel error -ss 1.200 -i " + Quote(avi) +
                                              " -frames:v 1 -f rawvideo -pix_fmt rgb24 -");
  ASSERT_EQ(written.size(), size_t(320 * 240 * 3));
  ASSERT_EQ(ffmpeg.size(), written.size());
  double sum = 0;
  for (size_t i = 0; i < written.size(); ++i) sum += std::abs(int(uint8_t(written[i])) - int(uint8_t(ffmpeg[i])));
  EXPECT_LT(sum / double(written.size()), 2.0) << "not the picture at 1.2 s";

  out = tavtest::Capture(Probe() + " --frame 30 " + Quote(avi) + " " + Quote(png + ".late") + " 2>&1", &status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(access((png + ".late").c_str(), F_OK), 0);
}

TEST_F(ProbeTool, WrongCommandLinesAreUsageErrors) {
  const std::string movie = tavtest::TempDir() + "/any.avi";
  for (const std::string& args :
       std::vector<std::string>{"", "--preview", "--frame 1 " + movie, "--frame -1 " + movie + " out.png",
                                "--preview " + movie + " --size 0x240", "--preview " + movie + " --fit wide",
                                "--preview " + movie + " --subtitle-size huge", "--preview " + movie + " --seek soon",
                                "--preview " + movie + " " + movie, movie + " --snapshot out.png"}) {
    int status = -1;
    const std::string out = tavtest::Capture(Probe() + " " + args + " 2>&1", &status);
    EXPECT_EQ(status, 2) << args << "\n" << out;
    EXPECT_NE(out.find("usage: tavrion-probe"), std::string::npos) << args;
  }
  int status = -1;
  const std::string out = tavtest::Capture(Probe() + " --preview " + Quote(movie + ".missing") + " 2>&1", &status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("tavrion-probe: " + movie + ".missing: "), std::string::npos) << out;
}

}  // namespace
