// The scene analysis of the video analyser: each frame is reduced to a coarse grid of
// brightness cells, the blocks of the grid are looked for in the previous frame's grid a few
// cells around, and a frame in which many more blocks than usual find no match starts a new
// scene. No locking: the filter owns one and guards it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vxvk {

class SceneAnalysis {
 public:
  static constexpr int kGridWidth = 64, kGridHeight = 48;  // cells
  static constexpr int kBlockCells = 8;                    // a block is 8 x 8 cells
  static constexpr int kBlocksAcross = kGridWidth / kBlockCells, kBlocksDown = kGridHeight / kBlockCells;
  static constexpr int kBlocks = kBlocksAcross * kBlocksDown;  // 48
  static constexpr int kSearchRange = 7;                       // cells in each direction
  static constexpr int kCandidates = (2 * kSearchRange + 1) * (2 * kSearchRange + 1);  // 225
  // A block whose best sum of squared cell differences exceeds this found no match.
  static constexpr uint32_t kNoMatchAbove = 63999;
  static constexpr double kMinSceneSeconds = 0.5;

  struct Record {
    double score = 0;  // motion of the scene: its accumulated score per frame
    double start = 0;  // seconds
    double end = 0;    // seconds; where the next scene started, 0 while running
  };
  using Grid = std::array<uint8_t, kGridWidth * kGridHeight>;
  using Offset = std::array<int, 2>;  // dx, dy in cells

  // The first scene starts at 0.
  SceneAnalysis();

  // One RGB24 frame (`stride` bytes per row, rows in memory order) shown from `start` to
  // `stop` seconds.
  void AddFrame(const uint8_t* bits, int width, int height, size_t stride, double start, double stop);
  const std::vector<Record>& Records() const { return records_; }

  // The grid of a frame: each cell the mean of the blue, green and red bytes of its
  // (width / 64) x (height / 48) pixels.
  static void MakeGrid(const uint8_t* bits, int width, int height, size_t stride, Grid* grid);
  // The displacements tried for a block, nearest first: a square spiral from (0, 0) that
  // turns up, right, down, left.
  static const std::array<Offset, kCandidates>& Spiral();
  // The value of block (bx, by) of `current` searched in `previous`: the length of the
  // first best displacement in spiral order, or -1 when it found no match.
  static double MatchBlock(const Grid& current, const Grid& previous, int bx, int by);

 private:
  std::vector<Record> records_;
  Grid previous_{};
  bool havePrevious_ = false;
  double unmatchedAverage_ = 48;  // A: the usual number of unmatched blocks
  // The running scene.
  double segmentScore_ = 0;
  double segmentSeconds_ = 0;
  int segmentFrames_ = 0;
};

}  // namespace vxvk
