// The size a decoder can deliver its pictures at when the resizer shrinks them a lot anyway:
// the picture the resizer would draw, before its bars or its cut, so that the resizer's own
// fit, crop or stretch of that smaller picture puts everything at the same rows and columns
// (within a pixel of rounding) as it would from the full-size picture.
#pragma once

#include <cstdint>
#include <optional>

#include "converter/engine/framesize.h"

namespace tav {

// Screen fits (the values of the batch entries): 0 stretch, 1 centre, 2 fit, 3 crop; any
// other value stretches. Nothing for the centre mode (its pixels are copied 1:1), and
// nothing unless the source has at least kMinDecimationRatio times the pixels of the result:
// a resize of a similar size costs little, and its pictures stay as they were.
inline constexpr int kMinDecimationRatio = 2;

inline std::optional<FrameSize> DecimatedSize(int srcWidth, int srcHeight, int outWidth, int outHeight, int fit) {
  if (srcWidth <= 0 || srcHeight <= 0 || outWidth <= 0 || outHeight <= 0 || fit == 1) return std::nullopt;
  FrameSize size{outWidth, outHeight};
  // The output is relatively wider than the source when outWidth / srcWidth is above
  // outHeight / srcHeight.
  const int64_t wider = int64_t(outWidth) * srcHeight, taller = int64_t(outHeight) * srcWidth;
  const int64_t keepHeight = int64_t(srcWidth) * outHeight / srcHeight;  // width at the output's height
  const int64_t keepWidth = int64_t(srcHeight) * outWidth / srcWidth;    // height at the output's width
  if (fit == 2 && wider > taller) size = {int(keepHeight), outHeight};
  else if (fit == 2 && wider < taller) size = {outWidth, int(keepWidth)};
  else if (fit == 3 && wider > taller) size = {outWidth, int(keepWidth)};
  else if (fit == 3 && wider < taller) size = {int(keepHeight), outHeight};
  if (size.width < 1 || size.height < 1 || size.width > srcWidth || size.height > srcHeight) return std::nullopt;
  if (int64_t(srcWidth) * srcHeight < kMinDecimationRatio * int64_t(size.width) * size.height) return std::nullopt;
  return size;
}

}  // namespace tav
