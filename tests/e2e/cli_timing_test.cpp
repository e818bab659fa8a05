// tavrion-convert and time: damaged time stamps never make a movie run away, every picture
// comes at its time and for its length, the last picture lasts as long as the source holds it
// (or its sound), and the sound stays with its pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/e2e/clirun.h"
#include "tests/e2e/moviefacts.h"
#include "tests/e2e/timingmutants.h"
#include "tests/support/testenv.h"

namespace {

namespace fs = std::filesystem;
using clitest::Convert;
using clitest::FrameNumbers;
using clitest::Quote;

double Probe(const std::string& movie, const std::string& entries, const std::string& stream = "") {
  const std::string out = tavtest::Capture("ffprobe -v error " + (stream.empty() ? "" : "-select_streams " + stream + " ") +
                                           "-show_entries " + entries + " -of default=nw=1:nk=1 " + Quote(movie));
  return std::strtod(out.c_str(), nullptr);
}
double VideoSeconds(const std::string& movie) { return Probe(movie, "stream=duration", "v:0"); }
double AudioSeconds(const std::string& movie) { return Probe(movie, "stream=duration", "a:0"); }
double LongestSeconds(const std::string& movie) {
  return std::max({Probe(movie, "format=duration"), VideoSeconds(movie), AudioSeconds(movie)});
}

std::vector<std::string> Movies(const std::string& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().extension() == ".qvf") out.push_back(e.path().string());
  return out;
}

// Converts one movie into a folder of its own at 320 x 240 and the rate given; the output.
std::string ConvertOne(const std::string& movie, int fps, const std::string& tag) {
  const std::string dir = tavtest::MakeTempSubdir(tag);
  int status = 0;
  const std::string out = Convert("--quiet --size 320x240 --fps " + std::to_string(fps) + " --output-dir " +
                                      Quote(dir) + " " + Quote(movie),
                                  &status);
  EXPECT_EQ(status, 0) << out;
  const std::vector<std::string> movies = Movies(dir);
  if (movies.size() != 1) {
    ADD_FAILURE() << movie << ": no output; " << out;
    return {};
  }
  return movies.front();
}

// A 320 x 240 picture that shows its frame number in 8 boxes along the bottom rows.
std::string CounterVideo(int fps, double seconds) {
  std::string video = "testsrc2=s=320x240:r=" + std::to_string(fps) + ":d=" + std::to_string(seconds) +
                      ",drawbox=x=0:y=200:w=320:h=40:c=black:t=fill";
  for (int bit = 0; bit < 8; ++bit)
    video += ",drawbox=x=" + std::to_string(40 * bit) + ":y=200:w=40:h=40:c=white:t=fill:enable='gt(bitand(n\\," +
             std::to_string(1 << bit) + ")\\,0)'";
  return "-f lavfi -i \"" + video + "\"";
}

std::string Sine(double seconds) {
  return "-f lavfi -i sine=frequency=440:sample_rate=22050:d=" + std::to_string(seconds);
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Sets a field of the video stream's header of an AVI; false when there is none.
constexpr size_t kScale = 20, kRate = 24, kLength = 32;
bool SetVideoHeader(std::vector<uint8_t>& bytes, size_t field, uint32_t value) {
  for (size_t at = 0; at + 48 <= bytes.size(); ++at) {
    if (std::memcmp(&bytes[at], "strh", 4) != 0 || std::memcmp(&bytes[at + 8], "vids", 4) != 0) continue;
    for (size_t i = 0; i < 4; ++i) bytes[at + 8 + field + i] = uint8_t(value >> (8 * i));
    return true;
  }
  return false;
}

}  // namespace

// Movies whose container times were damaged in a few bytes: every one ends within seconds,
// and no output holds more than the source's length and a second, whatever the run said.
TEST(CliTiming, DamagedTimesNeverRunAway) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string dir = tavtest::MakeTempSubdir("mutants");
  constexpr double kSeconds = 2.0;
  const std::string small = "-f lavfi -i testsrc2=s=160x120:r=15:d=2 " + Sine(kSeconds) + " ";
  struct Kind {
    const char* name;
    std::string args;
  };
  const Kind kinds[] = {
      {"avi", small + "-c:v mpeg4 -c:a libmp3lame"},
      {"mp4", small + "-c:v libx264 -pix_fmt yuv420p -c:a aac"},
      {"mov", small + "-c:v mjpeg -c:a pcm_s16le"},
      {"wmv", small + "-c:v wmv2 -c:a wmav2"},
      {"mpg", small + "-c:v mpeg1video -r 25 -c:a mp2"},
  };
  std::vector<std::string> sources;
  for (const Kind& k : kinds) {
    const std::string path = dir + "/source." + k.name;
    ASSERT_TRUE(tavtest::GeneratedMovie(k.args, path)) << k.name;
    sources.push_back(path);
  }
  // The camera's own movie, as the converter writes it.
  const std::string qvf = ConvertOne(sources.front(), 15, "mutants_qvf");
  ASSERT_FALSE(qvf.empty());
  sources.push_back(qvf);

  constexpr int kMutantsEach = 6;
  for (const std::string& source : sources) {
    const std::vector<uint8_t> original = ReadBytes(source);
    ASSERT_FALSE(clitest::TimingFields(original).empty()) << source;
    for (int i = 0; i < kMutantsEach; ++i) {
      const uint32_t seed = uint32_t(1000 * (&source - sources.data()) + i);
      std::vector<uint8_t> bytes = original;
      const std::string what = clitest::DamageTiming(bytes, seed, 1 + i % 3);
      const std::string mutant = dir + "/mutant" + std::to_string(seed) + fs::path(source).extension().string();
      WriteBytes(mutant, bytes);
      SCOPED_TRACE(mutant + ": " + what);
      const std::string out = tavtest::MakeTempSubdir("mutant" + std::to_string(seed));
      const auto start = std::chrono::steady_clock::now();
      int status = 0;
      const std::string said =
          tavtest::Capture("timeout -s KILL 60 " + Quote(tavtest::ProgramPath("tavrion-convert")) + " --output-dir " +
                               Quote(out) + " " + Quote(mutant) + " 2>&1",
                           &status);
      const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      EXPECT_TRUE(status == 0 || status == 1) << "status " << status << "\n" << said;
      EXPECT_LT(took, 20.0) << said;
      for (const std::string& movie : Movies(out)) {
        const double length = LongestSeconds(movie);
        EXPECT_LE(length, kSeconds + 1.0 + 1.0 / 15) << movie << "\n" << said;
      }
    }
  }
}

// A movie without sound whose video rate was damaged (every picture claims more than a
// minute): nothing but the pictures to go by. The run ends within seconds, says the times are
// damaged and keeps no more than ten seconds of a picture that never changes.
TEST(CliTiming, WithoutSoundADamagedRateEndsWithinSeconds) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string dir = tavtest::MakeTempSubdir("silentrate");
  const std::string source = dir + "/silent.avi";
  ASSERT_TRUE(tavtest::GeneratedMovie("-f lavfi -i testsrc2=s=160x120:r=15:d=2 -c:v mpeg4", source));
  std::vector<uint8_t> bytes = ReadBytes(source);
  ASSERT_TRUE(SetVideoHeader(bytes, kScale, 1u << 20));
  WriteBytes(source, bytes);
  const std::string out = tavtest::MakeTempSubdir("silentrate_out");
  const auto start = std::chrono::steady_clock::now();
  int status = 0;
  const std::string said = tavtest::Capture("timeout -s KILL 60 " + Quote(tavtest::ProgramPath("tavrion-convert")) +
                                                " --output-dir " + Quote(out) + " " + Quote(source) + " 2>&1",
                                            &status);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 20.0) << said;
  EXPECT_EQ(status, 1) << said;
  EXPECT_EQ(said.find("Converted"), std::string::npos) << said;
  const std::vector<std::string> movies = Movies(out);
  ASSERT_EQ(movies.size(), 1u) << said;
  EXPECT_LE(VideoSeconds(movies.front()), 10.0 + 1.0 / 15) << said;
}

// A video header whose rate says two pictures a second and whose length claims half a day:
// the file holds 30 pictures, and the movie ends a margin after its two seconds of sound.
TEST(CliTiming, AVideoHeaderThatClaimsMorePicturesThanTheFileHoldsIsNotBelieved) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string source = tavtest::MakeTempSubdir("longheader") + "/longheader.avi";
  ASSERT_TRUE(tavtest::GeneratedMovie("-f lavfi -i testsrc2=s=160x120:r=15:d=2 " + Sine(2) +
                                          " -c:v mpeg4 -c:a libmp3lame",
                                      source));
  std::vector<uint8_t> bytes = ReadBytes(source);
  ASSERT_TRUE(SetVideoHeader(bytes, kRate, 2) && SetVideoHeader(bytes, kLength, 86400));
  WriteBytes(source, bytes);
  const std::string out = tavtest::MakeTempSubdir("longheader_out");
  int status = 0;
  const std::string said = Convert("--quiet --output-dir " + Quote(out) + " " + Quote(source), &status);
  EXPECT_EQ(said.find("Converted"), std::string::npos) << said;
  const std::vector<std::string> movies = Movies(out);
  ASSERT_EQ(movies.size(), 1u) << said;
  EXPECT_LE(LongestSeconds(movies.front()), 2.0 + 1.0) << said;
}

// A slide show of one picture a second: each picture at its time and for its whole second,
// the last one too, and the sound to its end.
TEST(CliTiming, ASlideShowKeepsEachPictureAtItsTimeAndForItsLength) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string source = tavtest::MakeTempSubdir("slides") + "/slides.mp4";
  ASSERT_TRUE(tavtest::GeneratedMovie(CounterVideo(1, 5) + " " + Sine(5) + " -c:v libx264 -pix_fmt yuv420p -c:a aac",
                                      source));
  const std::string out = ConvertOne(source, 15, "slides_out");
  ASSERT_FALSE(out.empty());
  EXPECT_NEAR(VideoSeconds(out), 5.0, 1.0 / 15);
  EXPECT_NEAR(AudioSeconds(out), 5.0, 1.0 / 15);
  std::vector<int> expected;
  for (int k = 0; k < 75; ++k) expected.push_back(k / 15);
  EXPECT_EQ(FrameNumbers(out), expected);
}

// Sound that goes on two seconds after the last picture: the picture stays until the sound
// ends.
TEST(CliTiming, SoundThatOutlastsThePicturesHoldsTheLastPicture) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string source = tavtest::MakeTempSubdir("longsound") + "/longsound.avi";
  ASSERT_TRUE(tavtest::GeneratedMovie(CounterVideo(15, 3) + " " + Sine(5) + " -c:v mpeg4 -q:v 3 -c:a pcm_s16le", source));
  const std::string out = ConvertOne(source, 15, "longsound_out");
  ASSERT_FALSE(out.empty());
  EXPECT_NEAR(VideoSeconds(out), 5.0, 1.0 / 15);
  EXPECT_NEAR(AudioSeconds(out), 5.0, 1.0 / 15);
  const std::vector<int> numbers = FrameNumbers(out);
  ASSERT_EQ(numbers.size(), 75u);
  for (size_t k = 45; k < numbers.size(); ++k) EXPECT_EQ(numbers[k], 44) << "frame " << k;
}

// Pictures that run far longer than their sound (a screen recording whose sound stops early):
// the whole movie converts, the sound's end cuts nothing.
TEST(CliTiming, PicturesThatOutlastTheirSoundConvertWhole) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string source = tavtest::MakeTempSubdir("shortsound") + "/shortsound.avi";
  ASSERT_TRUE(tavtest::GeneratedMovie(CounterVideo(15, 8) + " " + Sine(2) + " -c:v mpeg4 -q:v 5 -c:a libmp3lame", source));
  const std::string dir = tavtest::MakeTempSubdir("shortsound_out");
  int status = 0;
  const std::string said =
      Convert("--quiet --size 320x240 --fps 15 --output-dir " + Quote(dir) + " " + Quote(source), &status);
  EXPECT_EQ(status, 0) << said;
  EXPECT_NE(said.find("Converted"), std::string::npos) << said;
  const std::vector<std::string> movies = Movies(dir);
  ASSERT_EQ(movies.size(), 1u) << said;
  // The source's pictures run 8 s (the encoder may add a frame); every one of them is kept.
  const double pictures = VideoSeconds(source);
  ASSERT_NEAR(pictures, 8.0, 0.1);
  EXPECT_NEAR(VideoSeconds(movies.front()), pictures, 1.0 / 15 + 0.001) << said;
  const std::vector<int> numbers = FrameNumbers(movies.front());
  const size_t frames = size_t(std::lround(pictures * 15));
  ASSERT_EQ(numbers.size(), frames);
  EXPECT_EQ(numbers.back(), 8 * 15 - 1);  // the counter's last picture
}

// Sources whose sound and pictures end together: the same frames as ever, each slot showing
// the picture on screen at its start (30 to 15 keeps every second frame; 25 to 30 never shows
// a picture before its time).
TEST(CliTiming, PicturesComeAtTheirTimeAndMoviesThatEndTogetherKeepTheirLength) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  struct Case {
    int from, to;
  };
  for (const Case c : {Case{30, 15}, Case{25, 30}, Case{15, 15}}) {
    SCOPED_TRACE(std::to_string(c.from) + " to " + std::to_string(c.to));
    const std::string tag = "rate" + std::to_string(c.from) + "_" + std::to_string(c.to);
    const std::string source = tavtest::MakeTempSubdir(tag) + "/counter.avi";
    ASSERT_TRUE(tavtest::GeneratedMovie(
        CounterVideo(c.from, 2) + " " + Sine(2) + " -c:v mpeg4 -q:v 3 -c:a pcm_s16le", source));
    const std::string out = ConvertOne(source, c.to, tag + "_out");
    ASSERT_FALSE(out.empty());
    std::vector<int> expected;
    for (int k = 0; k < 2 * c.to; ++k) expected.push_back(k * c.from / c.to);
    EXPECT_EQ(FrameNumbers(out), expected);
    // The sound track ends on whole MP3 frames (1152 samples, 52 ms).
    EXPECT_NEAR(AudioSeconds(out), 2.0, 0.06);
  }
}

namespace {

// The time of the first bright picture of a 320 x 240 output at fps.
double FlashSeconds(const std::string& movie, int fps) {
  const std::string raw =
      tavtest::Capture("ffmpeg -v error -i " + Quote(movie) + " -map 0:v -vf scale=8:8 -pix_fmt gray -f rawvideo -");
  for (size_t at = 0, frame = 0; at + 64 <= raw.size(); at += 64, ++frame) {
    int sum = 0;
    for (size_t i = 0; i < 64; ++i) sum += uint8_t(raw[at + i]);
    if (sum / 64 > 128) return double(frame) / fps;
  }
  return -1;
}

// The time the tone starts in a movie's sound.
double ToneSeconds(const std::string& movie) {
  const std::string raw = tavtest::Capture("ffmpeg -v error -i " + Quote(movie) + " -map 0:a -ac 1 -ar 22050 -f s16le -");
  for (size_t i = 0; i + 1 < raw.size(); i += 2) {
    const int16_t v = int16_t(uint16_t(uint8_t(raw[i])) | uint16_t(uint8_t(raw[i + 1])) << 8);
    if (std::abs(v) > 1000) return double(i / 2) / 22050;
  }
  return -1;
}

// The time of a source's first bright picture as ffmpeg shows it (its own time stamp).
double SourceFlashSeconds(const std::string& movie) {
  const std::string rows = tavtest::Capture("ffprobe -v error -f lavfi -i " + Quote("movie=" + movie + ",signalstats") +
                                            " -show_entries frame=pts_time:frame_tags=lavfi.signalstats.YAVG -of csv");
  for (size_t at = 0; at < rows.size();) {
    const size_t end = std::min(rows.find('\n', at), rows.size());
    const std::string row = rows.substr(at, end - at);  // frame,<time>,<mean luma>
    const size_t a = row.find(','), b = row.find(',', a + 1);
    if (a != std::string::npos && b != std::string::npos && std::strtod(row.c_str() + b + 1, nullptr) > 128)
      return std::strtod(row.c_str() + a + 1, nullptr);
    at = end + 1;
  }
  return -1;
}

}  // namespace

// A flash and a tone at the same moment, 1.5 s in: after the conversion the sound is where it
// was against the pictures in the source (as ffmpeg plays it), within one output frame, for
// every kind of movie.
TEST(CliTiming, EveryKindKeepsItsSoundWithItsPictures) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string flash =
      "-f lavfi -i \"color=c=black:s=320x240:r=25:d=3,drawbox=x=0:y=0:w=iw:h=ih:c=white:t=fill:enable='gte(t\\,1.5)'\" "
      "-f lavfi -i \"sine=frequency=440:sample_rate=44100:d=3,volume=volume=0:enable='lt(t\\,1.5)'\" ";
  const std::pair<const char*, const char*> kinds[] = {
      {"wmv", "-c:v wmv2 -c:a wmav2"},
      {"mp4", "-c:v libx264 -pix_fmt yuv420p -c:a aac"},
      {"avi", "-c:v mpeg4 -c:a libmp3lame"},
      {"mpg", "-c:v mpeg1video -c:a mp2"},
  };
  for (const auto& [ext, codecs] : kinds) {
    const std::string source = tavtest::MakeTempSubdir(std::string("sync_") + ext) + "/sync." + ext;
    ASSERT_TRUE(tavtest::GeneratedMovie(flash + codecs, source)) << ext;
    // Both on the source's own clock: its sound starts at the audio stream's start time.
    const double sourcePicture = SourceFlashSeconds(source);
    const double sourceSound = ToneSeconds(source) + Probe(source, "stream=start_time", "a:0");
    ASSERT_GT(sourcePicture, 0) << ext;
    ASSERT_GT(sourceSound, 0) << ext;
    for (int fps : {15, 30}) {
      SCOPED_TRACE(std::string(ext) + " at " + std::to_string(fps));
      const std::string out = ConvertOne(source, fps, std::string("sync_") + ext + std::to_string(fps));
      if (out.empty()) continue;
      const double picture = FlashSeconds(out, fps), sound = ToneSeconds(out);
      EXPECT_NEAR(sound - picture, sourceSound - sourcePicture, 1.0 / fps)
          << "sound " << sound << " s, picture " << picture << " s; in the source " << sourceSound << " s and "
          << sourcePicture << " s";
    }
  }
}
