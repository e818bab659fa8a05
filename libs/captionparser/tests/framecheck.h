// Frame comparisons of the drawing tests: where a drawn frame differs from the frame before.
#pragma once

#include <algorithm>
#include <cstring>
#include <vector>

#include "media/contract/mediatypes.h"
#include "media/contract/wintypes.h"

namespace captiontest {

// The box of changed pixels in picture coordinates (row 0 at the top), inclusive.
struct Extent {
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
  bool any() const { return right >= 0; }
};

// Compares two bottom-up frames of `bits` per pixel with rows padded to 32 bits.
inline Extent ChangedExtent(const std::vector<BYTE>& frame, const std::vector<BYTE>& before, int width, int height,
                            int bits) {
  Extent e;
  const size_t stride = size_t(DibStride(width, bits));
  const size_t bytes = size_t(bits / 8);
  if (frame.size() < stride * size_t(height) || before.size() < stride * size_t(height)) return e;
  for (int row = 0; row < height; ++row) {
    const int y = height - 1 - row;  // bottom-up
    for (int x = 0; x < width; ++x) {
      const size_t at = size_t(row) * stride + size_t(x) * bytes;
      if (std::memcmp(&frame[at], &before[at], bytes) == 0) continue;
      e.left = std::min(e.left, x);
      e.right = std::max(e.right, x);
      e.top = std::min(e.top, y);
      e.bottom = std::max(e.bottom, y);
    }
  }
  return e;
}

}  // namespace captiontest
