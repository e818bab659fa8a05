#include "libs/vxvideokit/sceneanalysis.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace vxvk {

SceneAnalysis::SceneAnalysis() { records_.push_back(Record{}); }

void SceneAnalysis::MakeGrid(const uint8_t* bits, int width, int height, size_t stride, Grid* grid) {
  const int cellW = width / kGridWidth, cellH = height / kGridHeight;
  // A picture smaller than the grid has empty cells.
  if (cellW <= 0 || cellH <= 0) {
    grid->fill(0);
    return;
  }
  const uint64_t samples = uint64_t(cellW) * uint64_t(cellH) * 3;
  for (int cy = 0; cy < kGridHeight; ++cy) {
    for (int cx = 0; cx < kGridWidth; ++cx) {
      uint64_t sum = 0;
      for (int y = cy * cellH; y < (cy + 1) * cellH; ++y) {
        const uint8_t* p = bits + stride * size_t(y) + size_t(cx) * size_t(cellW) * 3;
        for (int i = 0; i < cellW * 3; ++i) sum += p[i];
      }
      (*grid)[size_t(cy) * kGridWidth + size_t(cx)] = uint8_t(sum / samples);
    }
  }
}

const std::array<SceneAnalysis::Offset, SceneAnalysis::kCandidates>& SceneAnalysis::Spiral() {
  static const std::array<Offset, kCandidates> spiral = [] {
    std::array<Offset, kCandidates> s{};
    // Legs of 1, 1, 2, 2, ... 14, 14 steps and a last one of 14, turning up (dy - 1),
    // right, down, left.
    static constexpr int kStep[4][2] = {{0, -1}, {1, 0}, {0, 1}, {-1, 0}};
    int x = 0, y = 0, n = 0, direction = 0;
    s[n++] = {0, 0};
    for (int leg = 0; n < kCandidates; ++leg) {
      const int length = leg / 2 + 1 > 2 * kSearchRange ? 2 * kSearchRange : leg / 2 + 1;
      for (int i = 0; i < length && n < kCandidates; ++i) {
        x += kStep[direction][0];
        y += kStep[direction][1];
        s[n++] = {x, y};
      }
      direction = (direction + 1) % 4;
    }
    return s;
  }();
  return spiral;
}

double SceneAnalysis::MatchBlock(const Grid& current, const Grid& previous, int bx, int by) {
  const int x0 = bx * kBlockCells, y0 = by * kBlockCells;
  uint32_t best = 64u * 65536u;
  const Offset* bestOffset = nullptr;
  for (const Offset& o : Spiral()) {
    const int px = x0 + o[0], py = y0 + o[1];
    if (px < 0 || py < 0 || px + kBlockCells > kGridWidth || py + kBlockCells > kGridHeight) continue;
    uint32_t sum = 0;
    for (int y = 0; y < kBlockCells && sum < best; ++y) {
      const uint8_t* c = &current[size_t(y0 + y) * kGridWidth + size_t(x0)];
      const uint8_t* p = &previous[size_t(py + y) * kGridWidth + size_t(px)];
      for (int x = 0; x < kBlockCells; ++x) {
        const int d = int(c[x]) - int(p[x]);
        sum += uint32_t(d * d);
      }
    }
    if (sum < best) {
      best = sum;
      bestOffset = &o;
    }
  }
  if (!bestOffset || best > kNoMatchAbove) return -1;
  return std::sqrt(double((*bestOffset)[0] * (*bestOffset)[0] + (*bestOffset)[1] * (*bestOffset)[1]));
}

void SceneAnalysis::AddFrame(const uint8_t* bits, int width, int height, size_t stride, double start, double stop) {
  Grid grid;
  MakeGrid(bits, width, height, stride, &grid);
  if (havePrevious_) {
    std::array<double, kBlocks> values{};
    int unmatched = 0;
    for (int by = 0; by < kBlocksDown; ++by)
      for (int bx = 0; bx < kBlocksAcross; ++bx) {
        const double v = MatchBlock(grid, previous_, bx, by);
        values[size_t(by * kBlocksAcross + bx)] = v;
        if (v < 0) ++unmatched;
      }
    // The 20 largest values.
    std::partial_sort(values.begin(), values.begin() + 20, values.end(), std::greater<double>());
    double largest = 0;
    for (int i = 0; i < 20; ++i) largest += values[size_t(i)];
    segmentScore_ += 0.05 * largest;

    if (unmatched > 4 * unmatchedAverage_ + 8) {
      unmatchedAverage_ = 5;
      // The running scene ends here. Its score is per frame; a scene of a single frame has
      // no motion to average.
      Record& running = records_.back();
      running.score = segmentFrames_ > 1 ? segmentScore_ / (segmentFrames_ - 1) : 0;
      if (segmentFrames_ > 1 && segmentSeconds_ > kMinSceneSeconds) {
        running.end = start;
        records_.push_back(Record{0, start, 0});
      } else {
        // Too short to be a scene of its own: the new scene starts here instead.
        running.start = start;
      }
      segmentScore_ = 0;
      segmentSeconds_ = 0;
      segmentFrames_ = 0;
    } else {
      unmatchedAverage_ = (unmatched + unmatchedAverage_) / 2;
      ++segmentFrames_;
    }
  }
  if (stop > start) segmentSeconds_ += stop - start;
  previous_ = grid;
  havePrevious_ = true;
}

}  // namespace vxvk
