// The interlace measure of the interlace mode checker: from a run of frames it judges
// whether the material is progressive or interlaced, and which field comes first. No locking:
// the filter owns one and guards it.
//
// Combing: where two rows of one field (k and k + 2) differ a little, the row between them
// (the other field) lies near their average in a progressive picture and far from it when
// the fields were taken at different times.
// Field order: a field-1 row (the picture's top row and every second one below it) is
// compared with the neighbouring field-2 row interpolated between this frame and the last
// one, and the other way round; the field that comes first matches the interpolation of the
// other field better.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vxvk {

// Field modes, also used by the bilinear resizer and the interlace mode registry.
enum InterlaceFieldMode : int {
  kFieldModeUnknown = 0,      // nothing seen yet
  kFieldModeProgressive = 1,
  kFieldModeField1First = 2,  // interlaced, the field of the top row first
  kFieldModeField2First = 3,  // interlaced, the other field first
};

// A frame in memory: `rows` rows of `rowBytes` bytes, `stride` bytes apart, in memory order;
// bottomUp when the first row in memory is the bottom of the picture.
struct FrameView {
  const uint8_t* bits = nullptr;
  size_t stride = 0;
  size_t rowBytes = 0;
  int rows = 0;
  bool bottomUp = true;
};

class InterlaceMeasure {
 public:
  // Frames the measure needs before it is confident.
  static constexpr int kFramesNeeded = 11;
  // Mean combing ratio above which material counts as interlaced.
  static constexpr long double kInterlacedRatio = 0.9L;

  // Forgets every frame seen.
  void Reset();
  // Adds one frame to the measures and keeps it as the previous frame.
  void Analyse(const FrameView& frame);
  // Enough frames have been analysed.
  bool Done() const { return frames_ >= kFramesNeeded; }
  // The verdict so far; kFieldModeUnknown before the first frame.
  int Mode() const;
  int Frames() const { return frames_; }

  // The combing ratio of one frame: sqrt(C / n) / sqrt(S / n) over the positions where rows
  // k and k + 2 differ by more than 4 and at most 10; 0 when there is no such position.
  static long double CombingRatio(const FrameView& frame);
  // sqrt(Q / N) - sqrt(P / N) between a frame and the one before it: below 0 when field 1
  // comes first, above when field 2 does. 0 when the frames have no field pair.
  static long double FieldOrderScore(const FrameView& cur, const FrameView& prev);

 private:
  int frames_ = 0;          // d: frames analysed
  long double combing_ = 0; // E: sum of the frames' combing ratios
  long double order_ = 0;   // T: sum of the field order scores
  std::vector<uint8_t> previous_;  // the last frame, rows packed
  FrameView previousView_;
};

}  // namespace vxvk
