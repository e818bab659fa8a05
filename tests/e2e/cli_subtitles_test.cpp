// tavrion-convert with WebVTT, SSA/ASS and loosely written SubRip files: the captions are burnt
// in at their times, and the result line says which reader took the file.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/e2e/clirun.h"
#include "tests/support/testenv.h"

namespace {

using clitest::Convert;

// Bright pixels in the lower third of the frame at `seconds` into a movie of the given size
// (320 x 240 unless said): a caption burnt into a dark picture.
int BrightPixelsAt(const std::string& movie, const char* seconds, int width = 320, int height = 240) {
  const std::string raw = movie + "." + seconds + ".gray";
  const int third = height / 3;
  EXPECT_EQ(tavtest::Run(std::string("ffmpeg -nostdin -loglevel error -y -ss ") + seconds + " -i '" + movie +
                         "' -frames:v 1 -vf crop=" + std::to_string(width) + ":" + std::to_string(third) + ":0:" +
                         std::to_string(height - third) + " -f rawvideo -pix_fmt gray '" + raw + "'"),
            0);
  std::ifstream in(raw, std::ios::binary);
  const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(bytes.size(), size_t(width) * size_t(third)) << movie;
  int bright = 0;
  for (unsigned char b : bytes) bright += b > 200;
  return bright;
}

class CliLenientSubtitles : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
    dir_ = tavtest::MakeTempSubdir("lenientsubs");
    movie_ = dir_ + "/clip.avi";
    ASSERT_EQ(tavtest::Run("ffmpeg -nostdin -loglevel error -y -f lavfi -i color=c=0x202060:size=320x240:rate=15 "
                           "-t 4 -c:v mpeg4 -q:v 2 -an '" + movie_ + "'"),
              0);
  }

  // Converts the movie with `subtitles` (written as `name`); the captions run from 1.5 s to
  // 2.5 s, so the picture is plain at 0.5 s and 3.5 s.
  void ExpectBurntInFromOneAndAHalfSeconds(const std::string& name, const std::string& subtitles,
                                           const std::string& reader) {
    SCOPED_TRACE(name);
    const std::string file = dir_ + "/" + name;
    std::ofstream(file) << subtitles;
    const std::string output = dir_ + "/" + name + ".qvf";
    int status = 0;
    const std::string out =
        Convert("--quiet --subtitles '" + file + "' --output-dir '" + dir_ + "' '" + movie_ + "'", &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_NE(out.find(": Converted (subtitles read as " + reader + ")"), std::string::npos) << out;
    const size_t arrow = out.find(" -> "), colon = out.find(": Converted");
    ASSERT_TRUE(arrow != std::string::npos && colon != std::string::npos) << out;
    const std::string qvf = out.substr(arrow + 4, colon - arrow - 4);
    EXPECT_EQ(BrightPixelsAt(qvf, "0.5"), 0) << "nothing before the caption";
    EXPECT_GT(BrightPixelsAt(qvf, "2"), 50) << "the caption is burnt in while it is due";
    EXPECT_EQ(BrightPixelsAt(qvf, "3.5"), 0) << "the caption is gone after its end";
  }

  std::string dir_, movie_;
};

TEST_F(CliLenientSubtitles, WebVttAssAndLooseSubRipBurnInAtTheirTimes) {
  ExpectBurntInFromOneAndAHalfSeconds("cues.vtt",
                                      "WEBVTT\n\nNOTE made by hand\n\nfirst\n00:01.500 --> 00:02.500 align:center\n"
                                      "<v Ann>HELLO <b>THERE</b>\n",
                                      "WebVTT");
  ExpectBurntInFromOneAndAHalfSeconds("show.ass",
                                      "[Script Info]\nScriptType: v4.00+\n\n[Events]\n"
                                      "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
                                      "Comment: 0,0:00:00.00,0:00:04.00,Default,,0,0,0,,NOT SHOWN\n"
                                      "Dialogue: 0,0:00:01.50,0:00:02.50,Default,,0,0,0,,{\\an2}HELLO\\NTHERE\n",
                                      "SSA/ASS");
  ExpectBurntInFromOneAndAHalfSeconds("loose.srt", "0\n00:00:01.5 --> 00:00:02.5\nHELLO THERE\n",
                                      "SubRip (tolerant)");
}

TEST_F(CliLenientSubtitles, StrictFilesSayNothingMore_AndAFileWithoutCaptionsIsRefused) {
  std::ofstream(dir_ + "/strict.srt") << "1\n00:00:01,500 --> 00:00:02,500\nHELLO\n";
  int status = 0;
  std::string out = Convert("--quiet --subtitles '" + dir_ + "/strict.srt' '" + movie_ + "'", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find(": Converted\n"), std::string::npos) << out;

  std::ofstream(dir_ + "/empty.vtt") << "WEBVTT\n\nNOTE nothing to show\n";
  out = Convert("--quiet --subtitles '" + dir_ + "/empty.vtt' '" + movie_ + "'", &status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("Invalid file of subtitles (0x80040301)"), std::string::npos) << out;
}

TEST_F(CliLenientSubtitles, AVttFileBesideTheMovieIsTakenByDefault) {
  std::ofstream(dir_ + "/clip.vtt") << "WEBVTT\n\n00:01.500 --> 00:02.500\nHELLO THERE\n";
  int status = 0;
  const std::string out = Convert("--quiet '" + movie_ + "'", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find(": Converted (subtitles read as WebVTT)"), std::string::npos) << out;
  EXPECT_GT(BrightPixelsAt(dir_ + "/[QVF]-clip.qvf", "2"), 50);
}

// At 640 x 480 from a 640 x 480 movie the frames reach the subtitle filter in the decoder's
// own buffers (no resize is needed): the caption must still be drawn, only while it is due.
TEST_F(CliLenientSubtitles, AFullSizeMovieAtFullSize_HasItsCaptionOnlyWhileDue) {
  const std::string movie = dir_ + "/full.avi";
  ASSERT_EQ(tavtest::Run("ffmpeg -nostdin -loglevel error -y -f lavfi -i color=c=0x202060:size=640x480:rate=15 "
                         "-t 4 -c:v mpeg4 -q:v 2 -an '" + movie + "'"),
            0);
  std::ofstream(dir_ + "/full.srt") << "1\n00:00:01,500 --> 00:00:02,500\nHELLO THERE\n";
  int status = 0;
  const std::string out = Convert("--quiet --size 640x480 --output-dir '" + dir_ + "' '" + movie + "'", &status);
  ASSERT_EQ(status, 0) << out;
  const std::string qvf = dir_ + "/[QVF]-full.qvf";
  EXPECT_EQ(BrightPixelsAt(qvf, "0.5", 640, 480), 0) << "nothing before the caption";
  EXPECT_GT(BrightPixelsAt(qvf, "2", 640, 480), 100) << "the caption is burnt in while it is due";
  EXPECT_EQ(BrightPixelsAt(qvf, "3.5", 640, 480), 0) << "the caption left nothing behind in later frames";
}

}  // namespace

namespace {

TEST_F(CliLenientSubtitles, VerboseSaysTheEncodingFound_AndAForcedOneIsTaken) {
  const std::string utf8 = dir_ + "/korean.utf8.srt";
  std::ofstream(utf8) << "1\n00:00:01,500 --> 00:00:02,500\n안녕하세요 여러분, 오늘은 날씨가 좋습니다\n\n";
  const std::string srt = dir_ + "/korean.srt";
  ASSERT_EQ(tavtest::Run("iconv -f UTF-8 -t CP949 '" + utf8 + "' > '" + srt + "'"), 0);
  int status = 0;
  std::string out = Convert("--verbose --quiet --subtitles '" + srt + "' '" + movie_ + "'", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("  subtitles " + srt + " read in CP949\n"), std::string::npos) << out;

  out = Convert("--quiet --subtitles '" + srt + "' '" + movie_ + "'", &status);
  EXPECT_EQ(out.find("read in"), std::string::npos) << "only --verbose says it: " << out;

  out = Convert("--verbose --quiet --subtitle-encoding CP1252 --subtitles '" + srt + "' '" + movie_ + "'", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("  subtitles " + srt + " read in CP1252\n"), std::string::npos) << out;

  out = Convert("--subtitle-encoding NO-SUCH-THING '" + movie_ + "'", &status);
  EXPECT_EQ(status, 2) << out;
  EXPECT_NE(out.find("unknown encoding"), std::string::npos) << out;
}

}  // namespace
