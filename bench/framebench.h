// What the frame benchmarks share: RGB32 frame headers, a source frame of noise, and timing a
// loop over frames that differ from one another, best of several rounds.
#pragma once

#include <algorithm>
#include <chrono>
#include <utility>
#include <vector>

#include "media/contract/mediatypes.h"

namespace framebench {

// A bottom-up RGB32 frame of w x h.
inline BITMAPINFOHEADER Rgb32(LONG w, LONG h) {
  BITMAPINFOHEADER b{sizeof(BITMAPINFOHEADER), w, h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  b.biSizeImage = GetBitmapSize(&b);
  return b;
}

// Bytes with no pattern a scaler could take a short cut on.
inline std::vector<BYTE> NoiseFrame(const BITMAPINFOHEADER& header) {
  std::vector<BYTE> frame(header.biSizeImage);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = BYTE(i * 2654435761u >> 24);
  return frame;
}

// Times loops of `frames` iterations over `in`, changing a byte of it before each one so that
// no iteration works on the frame of the one before; a byte of each of `results` is read after
// every iteration, so that the work cannot be left out.
class FrameTimer {
 public:
  FrameTimer(std::vector<BYTE>& in, int frames, std::vector<const std::vector<BYTE>*> results)
      : m_in(in), m_frames(frames), m_results(std::move(results)) {}

  // Seconds for one loop of body().
  template <typename Body>
  double Seconds(Body&& body) {
    const auto t0 = std::chrono::steady_clock::now();
    for (int f = 0; f < m_frames; ++f) {
      m_in[size_t(f) % m_in.size()] ^= 1;
      body();
      for (const std::vector<BYTE>* r : m_results) m_sink = m_sink + (*r)[size_t(f) % r->size()];
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }

  // The best of several rounds of the bodies' loops, timed back to back, so that other load
  // on the machine hurts them all alike: seconds per loop, one per body.
  template <typename... Bodies>
  std::vector<double> Best(Bodies&&... bodies) {
    std::vector<double> best(sizeof...(Bodies), 1e9);
    for (int round = 0; round < 5; ++round) {
      size_t i = 0;
      ((best[i] = std::min(best[i], Seconds(bodies)), ++i), ...);
    }
    return best;
  }

 private:
  std::vector<BYTE>& m_in;
  const int m_frames;
  const std::vector<const std::vector<BYTE>*> m_results;
  volatile BYTE m_sink = 0;
};

}  // namespace framebench
