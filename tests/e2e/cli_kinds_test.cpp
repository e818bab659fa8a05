// tavrion-convert on kinds of movie people bring, compared picture by picture with the ffmpeg
// program's own rendering of the source: H.263 from a phone's 3GP, Sorenson Spark Flash video
// with sound, an MPEG program stream copied from a DVD with its navigation packets, and a
// video stream its decoder can only conceal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/moviefacts.h"
#include "tests/support/testenv.h"

namespace {

namespace fs = std::filesystem;
using clitest::Quote;
using clitest::ReadBytes;

constexpr int kWidth = 320, kHeight = 240, kFps = 15;

using Picture = std::vector<unsigned char>;  // 320 x 240 RGB24

// Every picture ffmpeg decodes with the arguments, in order, at 320 x 240.
std::vector<Picture> Pictures(const std::string& ffmpegArgs) {
  const std::string raw = tavtest::Capture("ffmpeg -nostdin -loglevel error " + ffmpegArgs +
                                           " -fps_mode passthrough -f rawvideo -pix_fmt rgb24 -");
  const size_t size = size_t(kWidth) * kHeight * 3;
  std::vector<Picture> pictures;
  for (size_t at = 0; at + size <= raw.size(); at += size)
    pictures.emplace_back(raw.begin() + long(at), raw.begin() + long(at + size));
  return pictures;
}

// ffmpeg's rendering of the source's pictures, fitted into the frame with black bars as the
// converter's Fit does.
std::vector<Picture> SourcePictures(const std::string& movie) {
  return Pictures("-i " + Quote(movie) +
                  " -map 0:v:0 -vf 'scale=iw*sar:ih,scale=320:240:force_original_aspect_ratio=decrease,"
                  "pad=320:240:(ow-iw)/2:(oh-ih)/2'");
}

// PSNR of two pictures averaged down to 80 x 60: the scalers' and the encoder's fine detail
// does not count, which picture it is does.
double Psnr(const Picture& a, const Picture& b) {
  if (a.empty() || b.size() != a.size()) return 0;
  constexpr int kBlock = 4;
  double sum = 0;
  int n = 0;
  for (int by = 0; by < kHeight / kBlock; ++by)
    for (int bx = 0; bx < kWidth / kBlock; ++bx)
      for (int c = 0; c < 3; ++c) {
        double da = 0, db = 0;
        for (int y = 0; y < kBlock; ++y)
          for (int x = 0; x < kBlock; ++x) {
            const size_t i = (size_t(by * kBlock + y) * kWidth + size_t(bx * kBlock + x)) * 3 + size_t(c);
            da += a[i];
            db += b[i];
          }
        const double d = (da - db) / (kBlock * kBlock);
        sum += d * d;
        ++n;
      }
  const double mse = sum / n;
  return mse <= 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

// How well output frame k shows the source at its time: the best PSNR against the source's
// picture there and the one either side (which source picture fills a slot is the frame-rate
// converter's business; that it is the source's picture of that moment is ours).
double Match(const std::vector<Picture>& output, int k, const std::vector<Picture>& source, double sourceFps) {
  if (k >= int(output.size())) {
    ADD_FAILURE() << "the output has no frame " << k;
    return 0;
  }
  const int n = int(std::lround(double(k) / kFps * sourceFps));
  double best = 0;
  for (int i = std::max(0, n - 1); i <= n + 1 && i < int(source.size()); ++i)
    best = std::max(best, Psnr(output[size_t(k)], source[size_t(i)]));
  return best;
}

double StreamDuration(const std::string& movie, const char* stream) {
  return std::strtod(tavtest::Capture(std::string("ffprobe -v error -select_streams ") + stream +
                                      " -show_entries stream=duration -of default=nw=1:nk=1 " + Quote(movie))
                         .c_str(),
                     nullptr);
}

// Where the movie's sound ends as ffmpeg decodes it (the last frame's time plus its samples,
// from the movie's start): an AAC track's last frame runs on past the length its container
// declares.
double DecodedSoundEnd(const std::string& movie) {
  const double start =
      std::strtod(tavtest::Capture("ffprobe -v error -show_entries format=start_time -of default=nw=1:nk=1 " +
                                   Quote(movie))
                      .c_str(),
                  nullptr);
  const double rate =
      std::strtod(tavtest::Capture("ffprobe -v error -select_streams a:0 -show_entries stream=sample_rate "
                                   "-of default=nw=1:nk=1 " + Quote(movie))
                      .c_str(),
                  nullptr);
  const std::string said = tavtest::Capture(
      "ffprobe -v error -select_streams a:0 -show_entries frame=pts_time,nb_samples -of csv=p=0 " + Quote(movie));
  double end = 0;
  size_t at = 0;
  while (rate > 0 && at < said.size()) {
    const size_t eol = said.find('\n', at);
    const std::string line = said.substr(at, eol == std::string::npos ? std::string::npos : eol - at);
    const size_t comma = line.find(',');
    if (comma != std::string::npos)
      end = std::max(end, std::strtod(line.c_str(), nullptr) + std::strtod(line.c_str() + comma + 1, nullptr) / rate);
    if (eol == std::string::npos) break;
    at = eol + 1;
  }
  return end - start;
}

// Converts one movie at 320 x 240, 15 fps, Fit, into a folder of its own; the output's path,
// empty when there is none. *said is what the program printed.
std::string Convert(const std::string& movie, int* status, std::string* said) {
  const std::string dir = tavtest::MakeTempSubdir("out_" + fs::path(movie).stem().string());
  *said = tavtest::Capture(Quote(tavtest::ProgramPath("tavrion-convert")) +
                               " --size 320x240 --fps 15 --fit fit --output-dir " + Quote(dir) + " " + Quote(movie) +
                               " 2>&1",
                           status);
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().extension() == ".qvf") return e.path().string();
  return {};
}

std::string Source(const std::string& name, const std::string& args) {
  const std::string path = tavtest::TempDir() + "/" + name;
  EXPECT_TRUE(tavtest::GeneratedMovie(args, path)) << name;
  return path;
}

// A converted movie shows the source's pictures through its length, and lasts as long as the
// source's video, or its sound where that runs on (within one output frame).
void ExpectSourcePictures(const std::string& source, double sourceFps, double seconds) {
  int status = 0;
  std::string said;
  const std::string out = Convert(source, &status, &said);
  EXPECT_EQ(status, 0) << said;
  EXPECT_NE(said.find("Converted"), std::string::npos) << said;
  ASSERT_FALSE(out.empty()) << said;
  const std::vector<Picture> output = Pictures("-i " + Quote(out));
  const std::vector<Picture> pictures = SourcePictures(source);
  ASSERT_FALSE(pictures.empty()) << source;
  const int last = int(seconds * kFps) - 1;
  for (int k : {0, kFps / 2, int(2.4 * kFps), last})
    EXPECT_GT(Match(output, k, pictures, sourceFps), 25.0) << "output frame " << k;
  // The sound is kept to its end, and the last picture is held for sound that outlasts the
  // pictures.
  const double soundEnd = DecodedSoundEnd(source);
  const double frame = 1.0 / kFps + 0.002;
  EXPECT_NEAR(StreamDuration(out, "a:0"), soundEnd, frame);
  EXPECT_GE(StreamDuration(out, "v:0"), seconds - frame);
  EXPECT_LE(StreamDuration(out, "v:0"), std::max(seconds, soundEnd) + frame);
}

TEST(CliKinds, H263PhoneMovieConvertsToItsPictures) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  // 3GP names H.263 "s263", which the Flash codec's decoder would turn into grey pictures.
  ExpectSourcePictures(Source("h263.3gp",
                              "-f lavfi -i testsrc2=size=176x144:rate=15:duration=4 -f lavfi -i "
                              "sine=d=4:sample_rate=8000 -c:v h263 -c:a aac -ac 1"),
                       15, 4);
}

TEST(CliKinds, SparkFlashVideoWithSoundKeepsItsStart) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  // The MP3 encoder's delay puts the first picture at 0.05 s, after the first sound.
  const std::string flv = Source("spark.flv",
                                 "-f lavfi -i testsrc2=size=320x240:rate=25:duration=4 -f lavfi -i "
                                 "sine=d=4:sample_rate=22050 -c:v flv -b:v 500k -c:a libmp3lame");
  ExpectSourcePictures(flv, 25, 4);
  // The platform's own reading of it: every sample from the first.
  int status = 0;
  const std::string played =
      tavtest::Capture(Quote(tavtest::ProgramPath("graphinfo")) + " --play " + Quote(flv), &status);
  EXPECT_EQ(status, 0) << played;
  // "  {major} {subtype}: N samples, first T, last T" per stream; video is 'vids'.
  long long videoSamples = 0, videoFirst = -1, audioSamples = 0, audioFirst = -1;
  std::istringstream lines(played);
  for (std::string line; std::getline(lines, line);) {
    const size_t colon = line.find("}: ");
    if (colon == std::string::npos) continue;
    long long samples = 0, first = 0;
    if (std::sscanf(line.c_str() + colon + 3, "%lld samples, first %lld", &samples, &first) != 2) continue;
    const bool video = line.find("{73646976-") != std::string::npos;
    (video ? videoSamples : audioSamples) = samples;
    (video ? videoFirst : audioFirst) = first;
  }
  EXPECT_EQ(videoSamples, 100) << played;
  EXPECT_EQ(videoFirst, 500000) << played;
  EXPECT_EQ(audioFirst, 0) << played;
  EXPECT_GE(audioSamples, 4 * 22050 / 576) << played;  // MPEG-2 layer III: 576 samples a frame
}

TEST(CliKinds, DvdProgramStreamWithNavigationPacketsConverts) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string vob =
      Source("nav.vob",
             "-f lavfi -i testsrc2=size=720x576:rate=25:duration=3 -f lavfi -i sine=d=3:sample_rate=48000 "
             "-c:v mpeg2video -b:v 6M -c:a ac3 -f dvd");
  ExpectSourcePictures(vob, 25, 3);
  // The navigation stream is listed as left out of the graph, and the preview opens.
  const std::string graphinfo = Quote(tavtest::ProgramPath("graphinfo"));
  int status = 0;
  const std::string graph = tavtest::Capture(graphinfo + " " + Quote(vob), &status);
  EXPECT_EQ(status, 0) << graph;
  const size_t left = graph.find("Left out:\n  " + vob + "/Data\n    {E06D802E-DB46-11CF-B4D1-00805F6CBBEA}");
  EXPECT_NE(left, std::string::npos) << graph;
  const std::string preview =
      tavtest::Capture(Quote(tavtest::ProgramPath("tavrion-probe")) + " --preview " + Quote(vob) + " 2>&1", &status);
  EXPECT_EQ(status, 0) << preview;
}

TEST(CliKinds, VideoItsDecoderCanOnlyConcealFailsAndLeavesNoMovie) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  // H.263 labelled as the Flash codec: every picture the Flash decoder makes of it is
  // concealed, a flat grey.
  const std::string avi = Source("mislabelled.avi",
                                 "-f lavfi -i testsrc2=size=176x144:rate=15:duration=2 -f lavfi -i "
                                 "sine=d=2:sample_rate=8000 -c:v h263 -c:a pcm_s16le -ac 1");
  std::vector<unsigned char> bytes = ReadBytes(avi);
  int relabelled = 0;
  for (size_t i = 0; i + 4 <= bytes.size(); ++i)
    if (std::memcmp(&bytes[i], "H263", 4) == 0) {
      bytes[i] = 'F', bytes[i + 1] = 'L', bytes[i + 2] = 'V', bytes[i + 3] = '1';
      ++relabelled;
    }
  ASSERT_EQ(relabelled, 2) << "the stream header and the bitmap header name the codec";
  std::ofstream(avi, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  int status = 0;
  std::string said;
  const std::string out = Convert(avi, &status, &said);
  EXPECT_NE(status, 0) << said;
  EXPECT_EQ(said.find("Converted"), std::string::npos) << said;
  EXPECT_NE(said.find("the video cannot be decoded"), std::string::npos) << said;
  EXPECT_TRUE(out.empty()) << "a grey movie was left: " << out;
}

}  // namespace
