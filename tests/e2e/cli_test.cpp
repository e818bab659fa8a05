// tavrion-convert end to end: usage errors, a conversion read back by ffprobe, and a batch
// whose middle entry cannot be opened.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "tests/e2e/clirun.h"
#include "tests/support/testenv.h"

namespace {

namespace fs = std::filesystem;
using clitest::Convert;
using clitest::VideoDurationText;

std::string Movie(const std::string& dir, const std::string& name, const std::string& size) {
  const std::string path = dir + "/" + name;
  EXPECT_TRUE(tavtest::GeneratedMovie("-f lavfi -i testsrc=size=" + size +
                                           ":rate=30 -f lavfi -i sine=frequency=440:sample_rate=44100 -t 2 -c:v mpeg4 "
                                           "-vtag XVID -c:a libmp3lame -ac 2",
                                       path));
  return path;
}

TEST(CliUsage, BadOptionsExitWithTwo) {
  int status = 0;
  for (const char* args : {"", "--size 100x100 a.avi", "--fps 25 a.avi", "--split 7M a.avi", "--start 1:99 a.avi",
                           "--bogus a.avi", "--start 10 --end 5 a.avi", "--size", "--end 0 a.avi",
                           "--output-dir /nonexistent/folder a.avi"}) {
    const std::string out = Convert(args, &status);
    EXPECT_EQ(status, 2) << args << ": " << out;
    EXPECT_NE(out.find("tavrion-convert:"), std::string::npos) << args;
  }
  Convert("--help", &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(Convert("--version", &status).find("tavrion-convert"), std::string::npos);
}

TEST(CliConvert, MovieBecomesACameraMovie_AndAFailedEntryDoesNotStopTheRun) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string dir = tavtest::MakeTempSubdir("cli");
  const std::string a = Movie(dir, "a.avi", "352x240");
  const std::string c = Movie(dir, "c.avi", "320x240");
  const std::string bad = dir + "/b.avi";
  std::ofstream(bad) << "this is not a movie";

  int status = 0;
  const std::string out = Convert("--quiet --size 640x480 --fps 15 '" + a + "' '" + bad + "' '" + c + "'", &status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("a.avi -> " + dir + "/[QVF]-a.qvf: Converted"), std::string::npos) << out;
  EXPECT_NE(out.find("c.avi -> " + dir + "/[QVF]-c.qvf: Converted"), std::string::npos) << out;
  // The entry that failed names no output file: none was written.
  EXPECT_NE(out.find("b.avi -> -: "), std::string::npos) << out;
  // The probe's failure is the entry's status.
  EXPECT_NE(out.find("b.avi -> -: Cannot read. The file type is not recognised."), std::string::npos) << out;

  const std::string probe = tavtest::Capture(
      "ffprobe -v error -show_entries stream=codec_name,width,height,r_frame_rate,sample_rate,channels "
      "-show_entries format=format_name,duration -of compact '" + dir + "/[QVF]-a.qvf'");
  EXPECT_NE(probe.find("codec_name=mpeg4|width=640|height=480|r_frame_rate=15/1"), std::string::npos) << probe;
  EXPECT_NE(probe.find("codec_name=mp3|sample_rate=22050|channels=2"), std::string::npos) << probe;
  EXPECT_NE(probe.find("format_name=avi"), std::string::npos) << probe;
  // The picture lasts as long as the source, within one frame.
  const std::string video = VideoDurationText(dir + "/[QVF]-a.qvf");
  ASSERT_FALSE(video.empty());
  EXPECT_NEAR(std::stod(video), 2.0, 1.0 / 15 + 0.001) << video;
}

}  // namespace

namespace {

TEST(CliConvert, SilentMovieWithTrimPoints_SeeksTheSourceThroughTheExporter) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string dir = tavtest::MakeTempSubdir("silent");
  const std::string movie = dir + "/quiet.avi";
  ASSERT_EQ(tavtest::Run("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=320x240:rate=15 -t 3 "
                         "-c:v rawvideo -pix_fmt bgr24 -an '" + movie + "'"),
            0);
  int status = 0;
  const std::string out = Convert("--quiet --start 1 --end 0:02 '" + movie + "'", &status);
  EXPECT_EQ(status, 0) << out;
  const std::string video = VideoDurationText(dir + "/[QVF]-quiet.qvf");
  ASSERT_FALSE(video.empty()) << out;
  EXPECT_NEAR(std::stod(video), 1.0, 1.0 / 30 + 0.001) << video;
}

}  // namespace

namespace {

TEST(CliBatch, RemoveAfter_TakesOnlyConvertedEntriesOutOfTheSavedBatch) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string dir = tavtest::MakeTempSubdir("batch");
  const std::string a = Movie(dir, "a.avi", "160x120");
  const std::string c = Movie(dir, "c.avi", "160x120");
  const std::string bad = dir + "/b.avi";
  std::ofstream(bad) << "this is not a movie";
  const std::string batch = dir + "/in.tvc", left = dir + "/left.tvc";
  const std::string badLine = bad + " -> -: Cannot read. The file type is not recognised. ";

  int status = 0;
  std::string out = Convert("--quiet --save-batch '" + batch + "' '" + a + "' '" + bad + "' '" + c + "'", &status);
  ASSERT_EQ(status, 0) << out;
  ASSERT_TRUE(fs::exists(batch));

  // Converting the batch file: the middle entry fails, the others convert and leave the
  // batch file, which is saved again.
  out = Convert("--quiet --remove-after '" + batch + "'", &status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find(a + " -> " + dir + "/[QVF]-a.qvf: Converted\n"), std::string::npos) << out;
  EXPECT_NE(out.find(badLine + "\n"), std::string::npos) << out;
  EXPECT_NE(out.find(c + " -> " + dir + "/[QVF]-c.qvf: Converted\n"), std::string::npos) << out;

  // Only the failed entry is left; converting it again keeps it, and --save-batch writes it.
  out = Convert("--quiet --remove-after --convert --save-batch '" + left + "' '" + batch + "'", &status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_EQ(out, badLine + "\n");
  out = Convert("--quiet '" + left + "'", &status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_EQ(out, badLine + "\n");
}

}  // namespace

namespace {

TEST(CliTrim, PointsBetweenKeyFramesAndReorderedPictures_AreKeptToTheFrame) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string dir = tavtest::MakeTempSubdir("trimgop");
  const std::string movie = dir + "/gop.avi";
  // One key frame a second: a start at 1.5 s lies half a second after one.
  ASSERT_EQ(tavtest::Run("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=160x120:rate=30 -f lavfi "
                         "-i sine=sample_rate=22050 -t 3 -c:v mpeg4 -g 30 -c:a libmp3lame '" + movie + "'"),
            0);
  // Reordered pictures (B-frames): the pictures shown just before the end point are decoded
  // after one shown past it.
  const std::string reordered = dir + "/bframes.mp4";
  ASSERT_EQ(tavtest::Run("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=160x120:rate=30 -t 3 "
                         "-c:v libx264 -x264-params bframes=2:b-adapt=0 -g 30 -pix_fmt yuv420p -an '" + reordered + "'"),
            0);
  int status = 0;
  const std::string out =
      Convert("--quiet --start 1.5 --end 0:02.5 '" + movie + "' '" + reordered + "'", &status);
  EXPECT_EQ(status, 0) << out;
  for (const char* name : {"/[QVF]-gop.qvf", "/[QVF]-bframes.qvf"}) {
    const std::string video = VideoDurationText(dir + name);
    ASSERT_FALSE(video.empty()) << name << ": " << out;
    EXPECT_NEAR(std::stod(video), 1.0, 1.0 / 30 + 0.001) << name;
  }
}

TEST(CliOutputDir, NameComesFromTheSourceTitle_AndBadTrimOrFolderConvertsNothing) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string dir = tavtest::MakeTempSubdir("outdir");
  const std::string out = dir + "/out";
  fs::create_directory(out);
  const std::string a = Movie(dir, "a.avi", "160x120");
  // An earlier conversion next to the source does not number the name in the output folder.
  std::ofstream(dir + "/[QVF]-a.qvf") << "earlier";

  int status = 0;
  std::string text = Convert("--quiet --start 5 --output-dir '" + out + "' '" + a + "'", &status);
  EXPECT_EQ(status, 1) << text;
  EXPECT_NE(text.find("beyond the end of the movie"), std::string::npos) << text;
  text = Convert("--quiet --output-dir '" + a + "' '" + a + "'", &status);
  EXPECT_EQ(status, 2) << text;
  EXPECT_NE(text.find("is not a folder"), std::string::npos) << text;
  EXPECT_TRUE(fs::is_empty(out));

  text = Convert("--quiet --output-dir '" + out + "' '" + a + "'", &status);
  EXPECT_EQ(status, 0) << text;
  EXPECT_EQ(text, a + " -> " + out + "/[QVF]-a.qvf: Converted\n");
  EXPECT_TRUE(fs::exists(out + "/[QVF]-a.qvf"));
}

}  // namespace

namespace {

// Bright pixels in the lower third of the frame one second into a movie: a caption burnt
// into a dark picture.
int BrightPixelsBelow(const std::string& movie) {
  const std::string raw = movie + ".gray";
  EXPECT_EQ(tavtest::Run("ffmpeg -nostdin -loglevel error -y -ss 1 -i '" + movie +
                         "' -frames:v 1 -vf crop=320:80:0:160 -f rawvideo -pix_fmt gray '" + raw + "'"),
            0);
  std::ifstream in(raw, std::ios::binary);
  const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(bytes.size(), 320u * 80u) << movie;
  int bright = 0;
  for (unsigned char b : bytes) bright += b > 200;
  return bright;
}

TEST(CliSubtitles, FileWithoutTheDefaultLanguage_BurnsItsFirstLanguage_AndAMissingOneIsAUsageError) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string dir = tavtest::MakeTempSubdir("sublang");
  const std::string movie = dir + "/clip.avi";
  ASSERT_EQ(tavtest::Run("ffmpeg -nostdin -loglevel error -y -f lavfi -i color=c=0x202060:size=320x240:rate=15 "
                         "-t 2 -c:v mpeg4 -q:v 2 -an '" + movie + "'"),
            0);
  // Next to the movie, so it is taken without --subtitles; one language, not the default.
  std::ofstream(dir + "/clip.smi") << "<SAMI><HEAD><STYLE TYPE=\"text/css\"><!--\n"
                                      ".KRCC {Name:Korean; lang:ko-KR; SAMIType:CC;}\n"
                                      "--></STYLE></HEAD><BODY>\n"
                                      "<SYNC Start=0><P Class=KRCC>HELLO HELLO HELLO\n"
                                      "</BODY></SAMI>\n";
  int status = 0;
  std::string out = Convert("--quiet --language fr-FR '" + movie + "'", &status);
  EXPECT_EQ(status, 2) << out;
  EXPECT_NE(out.find("has no language fr-FR (it has ko-KR)"), std::string::npos) << out;

  out = Convert("--quiet '" + movie + "'", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_GT(BrightPixelsBelow(dir + "/[QVF]-clip.qvf"), 50) << "no caption burnt in";
  out = Convert("--quiet --subtitles none '" + movie + "'", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(BrightPixelsBelow(dir + "/[QVF]-clip[1].qvf"), 0);
}

}  // namespace

namespace {

TEST(CliBadInputs, NamedPipesAsMovieOrSubtitles_AreErrorsNotHangs_AndTheOthersConvert) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string dir = tavtest::MakeTempSubdir("pipes");
  const std::string a = Movie(dir, "a.avi", "160x120");
  const std::string pipe = dir + "/pipe.avi", subs = dir + "/pipe.srt";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(subs.c_str(), 0600), 0);
  int status = 0;
  // Opening a pipe waits for a writer: the timeout turns a hang into a failure.
  std::string out = tavtest::Capture("timeout 30 '" + tavtest::ProgramPath("tavrion-convert") + "' --quiet '" +
                                         pipe + "' '" + a + "' 2>&1",
                                     &status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find(pipe + " -> -: Error: "), std::string::npos) << out;
  EXPECT_NE(out.find(a + " -> " + dir + "/[QVF]-a.qvf: Converted"), std::string::npos) << out;

  out = tavtest::Capture("timeout 30 '" + tavtest::ProgramPath("tavrion-convert") + "' --quiet --subtitles '" +
                             subs + "' '" + a + "' 2>&1",
                         &status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("Invalid file of subtitles (0x80040301)"), std::string::npos) << out;

  const std::string batch = dir + "/pipe.tvc";
  ASSERT_EQ(mkfifo(batch.c_str(), 0600), 0);
  out = tavtest::Capture("timeout 30 '" + tavtest::ProgramPath("tavrion-convert") + "' --quiet '" + batch + "' 2>&1",
                         &status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("Cannot open the batch file"), std::string::npos) << out;
}

}  // namespace
