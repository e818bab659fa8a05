#include "libs/vxvideokit/interlacemeasure.h"

#include <cmath>
#include <cstring>

namespace vxvk {

void InterlaceMeasure::Reset() {
  frames_ = 0;
  combing_ = 0;
  order_ = 0;
  previous_.clear();
  previousView_ = FrameView{};
}

long double InterlaceMeasure::CombingRatio(const FrameView& f) {
  uint64_t s = 0, c = 0, n = 1;
  for (int k = 0; k + 2 < f.rows; ++k) {
    const uint8_t* r0 = f.bits + f.stride * size_t(k);
    const uint8_t* r1 = r0 + f.stride;
    const uint8_t* r2 = r1 + f.stride;
    for (size_t x = 0; x < f.rowBytes; ++x) {
      const int d = int(r0[x]) - int(r2[x]);
      if (d > 10 || d < -10 || (d >= -4 && d <= 4)) continue;
      const int m = ((int(r0[x]) + int(r2[x]) + 1) >> 1) - int(r1[x]);
      s += uint64_t(d * d);
      c += uint64_t(m * m);
      ++n;
    }
  }
  // A picture without such gradients (flat, or all hard edges) says nothing about combing.
  if (s == 0) return 0;
  const long double count = static_cast<long double>(n);
  return std::sqrt(static_cast<long double>(c) / count) / std::sqrt(static_cast<long double>(s) / count);
}

long double InterlaceMeasure::FieldOrderScore(const FrameView& cur, const FrameView& prev) {
  if (cur.rows != prev.rows || cur.rowBytes != prev.rowBytes || cur.bottomUp != prev.bottomUp) return 0;
  uint64_t p = 0, q = 0, n = 0;
  // j runs over the field-1 rows (even rows counted from the top of the picture) that have
  // a field-2 row before them in memory.
  for (int j = 1; j < cur.rows; ++j) {
    const int fromTop = cur.bottomUp ? cur.rows - 1 - j : j;
    if (fromTop % 2 != 0) continue;
    const uint8_t* c0 = cur.bits + cur.stride * size_t(j - 1);
    const uint8_t* c1 = cur.bits + cur.stride * size_t(j);
    const uint8_t* p0 = prev.bits + prev.stride * size_t(j - 1);
    const uint8_t* p1 = prev.bits + prev.stride * size_t(j);
    for (size_t x = 0; x < cur.rowBytes; ++x) {
      const int a = int(c0[x]) - ((int(c1[x]) + int(p1[x])) >> 1);
      const int b = int(c1[x]) - ((int(c0[x]) + int(p0[x])) >> 1);
      p += uint64_t(a * a);
      q += uint64_t(b * b);
      ++n;
    }
  }
  if (n == 0) return 0;
  const long double count = static_cast<long double>(n);
  return std::sqrt(static_cast<long double>(q) / count) - std::sqrt(static_cast<long double>(p) / count);
}

void InterlaceMeasure::Analyse(const FrameView& frame) {
  combing_ += CombingRatio(frame);
  if (frames_ > 0 && !previous_.empty()) order_ += FieldOrderScore(frame, previousView_);
  ++frames_;
  // Keep the frame, rows packed.
  previous_.resize(frame.rowBytes * size_t(frame.rows));
  for (int y = 0; y < frame.rows; ++y)
    std::memcpy(previous_.data() + frame.rowBytes * size_t(y), frame.bits + frame.stride * size_t(y), frame.rowBytes);
  previousView_ = FrameView{previous_.data(), frame.rowBytes, frame.rowBytes, frame.rows, frame.bottomUp};
}

int InterlaceMeasure::Mode() const {
  if (frames_ == 0) return kFieldModeUnknown;
  if (combing_ / frames_ <= kInterlacedRatio) return kFieldModeProgressive;
  return order_ >= 0 ? kFieldModeField2First : kFieldModeField1First;
}

}  // namespace vxvk
