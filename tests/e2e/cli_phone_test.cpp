// tavrion-convert on the movies phones write today: 4K HEVC at 10 bits and turned 1080p
// H.264. Their pictures come out of the decoder already at the size the resizer draws, so
// these tests hold the resizer's geometry (bars and cuts where a full-size picture would put
// them), a picture at least as close to ffmpeg's own scale as the full-size path gave, and
// every picture of a multi-threaded decoder, in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/e2e/clirun.h"
#include "tests/support/testenv.h"

namespace {

using namespace clitest;

// The pictures ffmpeg decodes from input (with the filters given) as RGB24, one after the
// other.
std::vector<unsigned char> Pictures(const std::string& input, const std::string& filters, int frames) {
  const std::string raw = input + ".rgb";
  std::string cmd = "ffmpeg -nostdin -loglevel error -y -i " + Quote(input);
  if (!filters.empty()) cmd += " -vf " + Quote(filters);
  cmd += " -frames:v " + std::to_string(frames) + " -f rawvideo -pix_fmt rgb24 " + Quote(raw);
  EXPECT_EQ(tavtest::Run(cmd), 0) << cmd;
  return ReadBytes(raw);
}

double Psnr(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
  if (a.size() != b.size() || a.empty()) {
    ADD_FAILURE() << "pictures of " << a.size() << " and " << b.size() << " bytes";
    return 0;
  }
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) sum += double(int(a[i]) - int(b[i])) * double(int(a[i]) - int(b[i]));
  const double mse = sum / double(a.size());
  return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

int FrameCount(const std::string& movie) {
  const std::string out = tavtest::Capture("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                           "stream=nb_read_frames -of default=nw=1:nk=1 " + Quote(movie));
  return std::atoi(out.c_str());
}

TEST(CliPhoneMovies, Hevc4k10BitKeepsTheResizersGeometryAndIsCloserToAProperScale) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string dir = tavtest::MakeTempSubdir("hevc4k");
  // Five pictures are enough: decoding 4K is what is tested, not its length.
  const std::string movie = dir + "/phone4k.mp4";
  ASSERT_TRUE(tavtest::GeneratedMovie("-f lavfi -i testsrc2=size=3840x2160:rate=10 -f lavfi -i sine=sample_rate=48000 "
                                      "-t 0.5 -c:v libx265 -preset ultrafast -x265-params log-level=none "
                                      "-pix_fmt yuv420p10le -tag:v hvc1 -c:a aac",
                                      movie));
  struct Case {
    const char* fit;
    const char* proper;   // ffmpeg's own scale of the source into the frame
    const char* nearest;  // the same geometry picked pixel by pixel, as the resizer does at full size
  };
  const Case cases[] = {
      // 3840 x 2160 fitted to 640 wide is 360 rows high, from row 60.
      {"fit", "scale=640:360:flags=bicubic,pad=640:480:0:60", "scale=640:360:flags=neighbor"},
      // Cropped to 4:3: source columns 480 to 3359.
      {"crop", "crop=2880:2160:480:0,scale=640:480:flags=bicubic", "crop=2880:2160:480:0,scale=640:480:flags=neighbor"},
      {"stretch", "scale=640:480:flags=bicubic", "scale=640:480:flags=neighbor"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fit);
    const std::string options = std::string("--size 640x480 --fps 30 --fit ") + c.fit;
    const std::string out = ConvertOne(movie, options, std::string("hevc4k_") + c.fit);
    if (out.empty()) continue;
    const std::vector<unsigned char> proper = Pictures(movie, c.proper, 1);
    const std::vector<unsigned char> ours = Pictures(out, "", 1);
    ASSERT_EQ(ours.size(), size_t(640) * 480 * 3);
    if (std::string(c.fit) == "fit") {
      auto rowMean = [&](int y) {
        double sum = 0;
        for (int x = 0; x < 640 * 3; ++x) sum += ours[size_t(y) * 640 * 3 + size_t(x)];
        return sum / (640 * 3);
      };
      for (int y : {0, 58, 421, 479}) EXPECT_LT(rowMean(y), 12) << "row " << y << " is a bar";
      for (int y : {61, 240, 418}) EXPECT_GT(rowMean(y), 40) << "row " << y << " is picture";
    }
    // What the full-size path gave: the same geometry picked pixel by pixel, then through the
    // same encoder (a lossless picture of the resizer's size converts 1:1).
    const std::string picked = dir + "/picked_" + c.fit + ".avi";
    ASSERT_EQ(tavtest::Run("ffmpeg -nostdin -loglevel error -y -i " + Quote(movie) + " -vf '" + c.nearest +
                           "' -an -c:v rawvideo -pix_fmt bgr24 " + Quote(picked)),
              0);
    const std::string pickedOut = ConvertOne(picked, options, std::string("picked_") + c.fit);
    if (pickedOut.empty()) continue;
    EXPECT_EQ(FrameCount(out), FrameCount(pickedOut)) << "the same pictures as from full-size pictures";
    const double ourPsnr = Psnr(ours, proper);
    const double pickedPsnr = Psnr(Pictures(pickedOut, "", 1), proper);
    EXPECT_GE(ourPsnr, pickedPsnr) << "ours " << ourPsnr << " dB, picked pixels " << pickedPsnr << " dB";
    EXPECT_GT(ourPsnr, 20.0);
  }
}

// A white bar moves down the upright picture 30 rows a frame; the stored pictures are turned
// a quarter, and the display matrix turns them back. At 640 x 480 Fit the portrait picture is
// 270 columns wide from column 185, and the bar moves 7.5 rows a frame.
TEST(CliPhoneMovies, TurnedFullHdH264ComesUprightWithEveryPictureInOrder) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string dir = tavtest::MakeTempSubdir("turned1080");
  const std::string movie = dir + "/phone1080.mp4";
  // Upright: red top left, green top right, blue bottom left, grey bottom right; stored
  // turned a quarter counter-clockwise, with B-frames as phones write them.
  const std::string graph =
      "[0:v]drawbox=x=540:y=0:w=540:h=960:c=green:t=fill,drawbox=x=0:y=960:w=540:h=960:c=blue:t=fill,"
      "drawbox=x=540:y=960:w=540:h=960:c=gray:t=fill[base];[base][1:v]overlay=x=0:y=30*n,transpose=cclock[v]";
  ASSERT_TRUE(tavtest::GeneratedMovie("-f lavfi -i color=c=red:size=1080x1920:rate=30 -f lavfi -i "
                                      "color=c=white:size=1080x30:rate=30 -f lavfi -i sine=sample_rate=48000 -t 2 "
                                      "-filter_complex " + Quote(graph) + " -map [v] -map 2:a"
                                      " -c:v libx264 -preset veryfast -bf 3 -pix_fmt yuv420p -c:a aac",
                                      movie));
  // Rotate by a quarter turn clockwise on display (the matrix of a 90-degree phone movie).
  {
    std::vector<unsigned char> bytes = ReadBytes(movie);
    const std::string tkhd = "tkhd";
    auto it = std::search(bytes.begin(), bytes.end(), tkhd.begin(), tkhd.end());
    ASSERT_NE(it, bytes.end());
    size_t at = size_t(it - bytes.begin()) + 44;
    constexpr int32_t kOne = 1 << 16;
    for (int32_t v : {0, kOne, 0, -kOne, 0, 0, 1080 * kOne, 0, 1 << 30})
      for (int shift = 24; shift >= 0; shift -= 8) bytes[at++] = static_cast<unsigned char>(uint32_t(v) >> shift);
    std::ofstream(movie, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }
  const std::string out = ConvertOne(movie, "--size 640x480 --fps 30 --fit fit", "turned1080_out");
  if (out.empty()) return;
  ASSERT_EQ(FrameCount(out), 60);

  const std::vector<unsigned char> first = Pictures(out, "", 1);
  ASSERT_EQ(first.size(), size_t(640) * 480 * 3);
  auto at = [&](int x, int y) { return &first[(size_t(y) * 640 + size_t(x)) * 3]; };
  for (int x : {100, 180, 460, 540}) EXPECT_LT(at(x, 240)[0] + at(x, 240)[1] + at(x, 240)[2], 40) << "bar " << x;
  EXPECT_TRUE(at(250, 120)[0] > 150 && at(250, 120)[1] < 90) << "red top left";
  EXPECT_TRUE(at(390, 120)[1] > 90 && at(390, 120)[0] < 90) << "green top right";
  EXPECT_TRUE(at(250, 360)[2] > 150 && at(250, 360)[0] < 90) << "blue bottom left";

  // Column 250 of every picture: where the white bar is.
  // (Two columns: the decoder's 4:2:0 pictures cannot be cut to an odd width.)
  const std::vector<unsigned char> column = Pictures(out, "crop=2:480:250:0", 60);
  ASSERT_EQ(column.size(), size_t(60) * 480 * 6);
  std::vector<int> barRows;
  for (size_t f = 0; f < 60; ++f) {
    int row = -1;
    for (int y = 0; y < 480 && row < 0; ++y) {
      const unsigned char* p = &column[(f * 480 + size_t(y)) * 6];
      if (p[0] > 200 && p[1] > 200 && p[2] > 200) row = y;
    }
    barRows.push_back(row);
  }
  for (size_t f = 1; f < barRows.size(); ++f) {
    const int step = barRows[f] - barRows[f - 1];
    EXPECT_TRUE(step >= 5 && step <= 10) << "picture " << f << ": bar at row " << barRows[f] << " after "
                                         << barRows[f - 1] << " (a lost or swapped picture)";
  }
}

}  // namespace
