// Nearest-neighbour scaling of uncompressed RGB frames and the geometry of the resize
// modes (stretch, centre, fit, crop). Plain functions: the deferred resizer calls them
// when a downstream filter first reads a frame.
#pragma once

#include <cstddef>

#include "media/contract/hresult.h"
#include "media/contract/mediatypes.h"

namespace vxvk {

// Resize modes shared by both resizers. Any other value behaves as kStretch.
enum ResizeMode : int {
  kModeStretch = 0,
  kModeCentre = 1,
  kModeFit = 2,
  kModeCrop = 3,
};

// (x, y, width, height) in pixels; y counts rows in memory order (row 0 first in the buffer).
struct PixelRect {
  LONG x = 0, y = 0, width = 0, height = 0;
  bool operator==(const PixelRect&) const = default;
};

// A DIB in memory: rows padded to 32 bits, `height` rows (absolute value).
struct ImageView {
  const BYTE* bits = nullptr;
  size_t bytes = 0;  // valid bytes behind `bits`
  LONG width = 0;
  LONG height = 0;
  WORD bitCount = 0;
};
struct MutableImageView {
  BYTE* bits = nullptr;
  size_t bytes = 0;
  LONG width = 0;
  LONG height = 0;
  WORD bitCount = 0;
};

// Source index of destination index k when `dst` samples are taken from `src` samples by the
// exact integer stepping of the stretch (floor(k*src/dst) when enlarging or keeping the size,
// ceiling(k*src/dst) when reducing). Fills `out[0..dst)`.
void NearestSteps(LONG src, LONG dst, LONG* out);

// Draws the source rectangle onto the destination rectangle with nearest-neighbour stepping.
// Draws nothing (returns false) unless both bit counts are equal and one of 8/16/24/32, both
// rectangles have sides of at least 1 and lie inside their images, and the buffers hold the
// images.
bool StretchNearest(const ImageView& src, const PixelRect& srcRect, const MutableImageView& dst,
                    const PixelRect& dstRect);

// The centre mode: clears the destination, then copies whole rows 1:1, centred. Copies nothing
// (but still clears) when the bit counts differ.
void CopyCentred(const ImageView& src, const MutableImageView& dst);

// What one frame's resize does for a mode and the two frame sizes.
struct ResizePlan {
  bool centre = false;      // row copy of CopyCentred instead of a stretch
  bool clearFirst = false;  // destination zeroed before drawing (fit and centre)
  PixelRect src;
  PixelRect dst;
};
ResizePlan PlanResize(LONG srcWidth, LONG srcHeight, LONG dstWidth, LONG dstHeight, int mode);

// Resizes one frame from `srcHeader` to `dstHeader` in the given mode. The source must be
// BI_RGB or BI_BITFIELDS and the destination BI_RGB, and both buffers must hold their
// images; otherwise E_FAIL and the destination is untouched.
HRESULT ResizeFrame(const BITMAPINFOHEADER& srcHeader, const BYTE* src, size_t srcBytes,
                    const BITMAPINFOHEADER& dstHeader, BYTE* dst, size_t dstBytes, int mode);

}  // namespace vxvk
