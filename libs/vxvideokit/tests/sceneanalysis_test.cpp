// The scene analysis: the block search's spiral and matching, and the scenes it finds in
// clips ffmpeg makes of different pictures put one after another.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "libs/vxvideokit/sceneanalysis.h"
#include "tests/support/testenv.h"

using vxvk::SceneAnalysis;

namespace {

SceneAnalysis::Grid NoiseGrid(unsigned seed) {
  std::mt19937 random(seed);
  SceneAnalysis::Grid g;
  for (auto& cell : g) cell = uint8_t(random() & 0xFF);
  return g;
}

// `grid` moved by (dx, dy) cells; cells moved in from outside are 0.
SceneAnalysis::Grid Shifted(const SceneAnalysis::Grid& grid, int dx, int dy) {
  SceneAnalysis::Grid out{};
  for (int y = 0; y < SceneAnalysis::kGridHeight; ++y)
    for (int x = 0; x < SceneAnalysis::kGridWidth; ++x) {
      const int sx = x - dx, sy = y - dy;
      if (sx >= 0 && sy >= 0 && sx < SceneAnalysis::kGridWidth && sy < SceneAnalysis::kGridHeight)
        out[size_t(y * SceneAnalysis::kGridWidth + x)] = grid[size_t(sy * SceneAnalysis::kGridWidth + sx)];
    }
  return out;
}

// The scene starts the analysis finds in a clip (320 x 240, 25 fps) of ffmpeg's filter graph
// whose output is labelled [out].
std::vector<double> SceneStarts(const std::string& graph) {
  const std::string raw = tavtest::Capture("ffmpeg -nostdin -loglevel error -filter_complex \"" + graph +
                                           "\" -map '[out]' -f rawvideo -pix_fmt bgr24 -");
  const size_t frameBytes = 320 * 240 * 3;
  SceneAnalysis analysis;
  int i = 0;
  for (size_t at = 0; at + frameBytes <= raw.size(); at += frameBytes, ++i)
    analysis.AddFrame(reinterpret_cast<const uint8_t*>(raw.data() + at), 320, 240, 320 * 3, i * 0.04, (i + 1) * 0.04);
  std::vector<double> starts;
  for (const auto& r : analysis.Records()) starts.push_back(r.start);
  return starts;
}

}  // namespace

TEST(vxvideokit_SceneAnalysis, SpiralCoversTheSearchSquareNearestFirst) {
  const auto& spiral = SceneAnalysis::Spiral();
  const std::vector<SceneAnalysis::Offset> first = {{0, 0},  {0, -1}, {1, -1},  {1, 0},   {1, 1},  {0, 1},
                                                    {-1, 1}, {-1, 0}, {-1, -1}, {-1, -2}, {0, -2}};
  for (size_t i = 0; i < first.size(); ++i) EXPECT_EQ(first[i], spiral[i]) << i;
  std::set<SceneAnalysis::Offset> seen(spiral.begin(), spiral.end());
  EXPECT_EQ(225u, seen.size());
  for (const auto& o : spiral) {
    EXPECT_LE(std::abs(o[0]), 7);
    EXPECT_LE(std::abs(o[1]), 7);
  }
}

TEST(vxvideokit_SceneAnalysis, BlocksFindTheirMotion_OrNoMatch) {
  const SceneAnalysis::Grid before = NoiseGrid(1);
  // The picture moved 3 cells right and 2 up: each inner block is found where it was.
  const SceneAnalysis::Grid after = Shifted(before, 3, -2);
  EXPECT_DOUBLE_EQ(std::sqrt(13.0), SceneAnalysis::MatchBlock(after, before, 3, 2));
  EXPECT_DOUBLE_EQ(0.0, SceneAnalysis::MatchBlock(before, before, 0, 0));
  // Displacements that would put the block outside the grid are not tried: the left edge
  // block of a picture moved right came from outside and finds nothing.
  EXPECT_EQ(-1, SceneAnalysis::MatchBlock(Shifted(before, 4, 0), before, 0, 2));
  EXPECT_DOUBLE_EQ(4.0, SceneAnalysis::MatchBlock(Shifted(before, 4, 0), before, 1, 2));
  // Another picture altogether.
  EXPECT_EQ(-1, SceneAnalysis::MatchBlock(NoiseGrid(2), before, 4, 3));
  // Equally good everywhere: the first candidate in spiral order, no motion.
  SceneAnalysis::Grid flat;
  flat.fill(90);
  EXPECT_DOUBLE_EQ(0.0, SceneAnalysis::MatchBlock(flat, flat, 7, 5));
}

TEST(vxvideokit_SceneAnalysis, FindsTheCutsBetweenThreeScenes_AtTheirFrames) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "test pictures come from ffmpeg";
  const std::vector<double> starts = SceneStarts(
      "testsrc2=s=320x240:r=25:d=1[a];"
      "mandelbrot=s=320x240:r=25,trim=duration=1.4,setpts=PTS-STARTPTS[b];"
      "smptebars=s=320x240:r=25:d=1[c];[a][b][c]concat=n=3[out]");
  ASSERT_EQ(3u, starts.size());
  EXPECT_DOUBLE_EQ(0.0, starts[0]);
  EXPECT_NEAR(1.0, starts[1], 1e-9) << "frame 25";
  EXPECT_NEAR(2.4, starts[2], 1e-9) << "frame 60";
}

TEST(vxvideokit_SceneAnalysis, AShortFlashIsNoSceneOfItsOwn) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "test pictures come from ffmpeg";
  // Four tenths of a second of another picture: the scene that starts with it only starts
  // where the flash ends.
  const std::vector<double> starts = SceneStarts(
      "testsrc2=s=320x240:r=25:d=1[a];"
      "mandelbrot=s=320x240:r=25,trim=duration=0.4,setpts=PTS-STARTPTS[b];"
      "smptebars=s=320x240:r=25:d=1[c];[a][b][c]concat=n=3[out]");
  ASSERT_EQ(2u, starts.size());
  EXPECT_NEAR(1.4, starts[1], 1e-9);
}
