// tavrion-convert on decoded output frames (screen fit: letterbox rows or none) and the
// output names of a second conversion into the same folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "tests/e2e/clirun.h"
#include "tests/support/testenv.h"

namespace {

namespace fs = std::filesystem;
using clitest::Convert;
using clitest::Quote;

// A light grey movie with sound: any black row in the output comes from the screen fit.
std::string GreyMovie(const std::string& dir, const std::string& name, const std::string& size) {
  const std::string path = dir + "/" + name;
  const std::string cmd = "ffmpeg -nostdin -loglevel error -y -f lavfi -i color=c=0xC0C0C0:size=" + size +
                          ":rate=15 -f lavfi -i sine=frequency=440:sample_rate=22050 -t 2 -c:v mpeg4 -vtag XVID "
                          "-q:v 2 -c:a libmp3lame -ac 2 " + Quote(path);
  EXPECT_EQ(tavtest::Run(cmd), 0);
  return path;
}

// Mean brightness of every row of the frame one second into the movie (RGB averaged).
std::vector<double> RowMeans(const std::string& movie, int width, int height) {
  const std::string raw = movie + ".rgb";
  EXPECT_EQ(tavtest::Run("ffmpeg -nostdin -loglevel error -y -ss 1 -i " + Quote(movie) +
                         " -frames:v 1 -f rawvideo -pix_fmt rgb24 " + Quote(raw)),
            0);
  std::ifstream in(raw, std::ios::binary);
  const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<double> rows;
  if (bytes.size() != static_cast<size_t>(width) * height * 3) {
    ADD_FAILURE() << movie << ": decoded frame has " << bytes.size() << " bytes";
    return rows;
  }
  for (int y = 0; y < height; ++y) {
    double sum = 0;
    for (int x = 0; x < width * 3; ++x) sum += bytes[static_cast<size_t>(y) * width * 3 + x];
    rows.push_back(sum / (width * 3));
  }
  return rows;
}

constexpr double kBlack = 24;    // letterbox rows, allowing for coding noise
constexpr double kPicture = 150; // the grey picture (0xC0 = 192)

TEST(CliScreenFit, FitLetterboxesAWideSource_CropAndExactFourByThreeFillTheFrame) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string dir = tavtest::MakeTempSubdir("fit");
  const std::string wide = GreyMovie(dir, "wide.avi", "352x240");
  const std::string exact = GreyMovie(dir, "exact.avi", "320x240");
  int status = 0;

  // 352 x 240 fitted into 640 x 480 is 640 x 436: 22 black rows above and below.
  const std::string fitDir = tavtest::MakeTempSubdir("fit_fit");
  std::string out = Convert("--quiet --size 640x480 --fit fit --output-dir " + Quote(fitDir) + " " + Quote(wide),
                            &status);
  ASSERT_EQ(status, 0) << out;
  std::vector<double> rows = RowMeans(fitDir + "/[QVF]-wide.qvf", 640, 480);
  ASSERT_EQ(rows.size(), 480u);
  for (int y = 0; y <= 21; ++y) EXPECT_LT(rows[y], kBlack) << "fit, top row " << y;
  for (int y = 458; y <= 479; ++y) EXPECT_LT(rows[y], kBlack) << "fit, bottom row " << y;
  for (int y = 22; y <= 457; ++y) EXPECT_GT(rows[y], kPicture) << "fit, picture row " << y;

  // Crop fills the frame: no black rows.
  const std::string cropDir = tavtest::MakeTempSubdir("fit_crop");
  out = Convert("--quiet --size 640x480 --fit crop --output-dir " + Quote(cropDir) + " " + Quote(wide), &status);
  ASSERT_EQ(status, 0) << out;
  rows = RowMeans(cropDir + "/[QVF]-wide.qvf", 640, 480);
  ASSERT_EQ(rows.size(), 480u);
  for (int y = 0; y < 480; ++y) EXPECT_GT(rows[y], kPicture) << "crop, row " << y;

  // An exact 4:3 source is always fitted, which fills the frame.
  out = Convert("--quiet --size 640x480 --fit crop --output-dir " + Quote(cropDir) + " " + Quote(exact), &status);
  ASSERT_EQ(status, 0) << out;
  rows = RowMeans(cropDir + "/[QVF]-exact.qvf", 640, 480);
  ASSERT_EQ(rows.size(), 480u);
  for (int y = 0; y < 480; ++y) EXPECT_GT(rows[y], kPicture) << "4:3 crop, row " << y;
}

TEST(CliOutputNames, SecondConversionIntoTheSameFolderGetsANumberedName) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string dir = tavtest::MakeTempSubdir("names");
  const std::string outDir = tavtest::MakeTempSubdir("names_out");
  const std::string clip = GreyMovie(dir, "clip.avi", "160x120");
  const std::string args = "--quiet --size 320x240 --fps 15 --output-dir " + Quote(outDir) + " " + Quote(clip);

  int status = 0;
  std::string out = Convert(args, &status);
  ASSERT_EQ(status, 0) << out;
  EXPECT_NE(out.find("clip.avi -> " + outDir + "/[QVF]-clip.qvf: Converted"), std::string::npos) << out;
  ASSERT_TRUE(fs::exists(outDir + "/[QVF]-clip.qvf"));
  const auto firstSize = fs::file_size(outDir + "/[QVF]-clip.qvf");

  out = Convert(args, &status);
  ASSERT_EQ(status, 0) << out;
  EXPECT_NE(out.find("clip.avi -> " + outDir + "/[QVF]-clip[1].qvf: Converted"), std::string::npos) << out;
  EXPECT_TRUE(fs::exists(outDir + "/[QVF]-clip[1].qvf"));
  // The first output is left as it was.
  EXPECT_EQ(fs::file_size(outDir + "/[QVF]-clip.qvf"), firstSize);
  EXPECT_FALSE(fs::exists(dir + "/[QVF]-clip.qvf")) << "the output folder was not honoured";
}

}  // namespace
