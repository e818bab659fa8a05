// Bilinear scaling of uncompressed RGB frames in 1/128-pixel steps, optionally field by
// field for interlaced material, and the deinterlacing prepasses that may run on a frame
// before it is scaled. Plain functions: the bilinear video resizer calls them per frame.
#pragma once

#include <cstddef>

#include "media/contract/hresult.h"
#include "media/contract/mediatypes.h"

namespace vxvk {

// Prepass types of the interlace mode registry. Any other value: no prepass.
enum PrepassType : int {
  kPrepassNone = 0,
  kPrepassLineDoubling = 1,       // every odd row becomes a copy of the even row above it
  kPrepassLineInterpolation = 2,  // every odd row becomes the mean of its even neighbours
  kPrepassAdaptiveBlend = 3,      // odd rows that stand out from their neighbours are blended
};

// Field modes 2 and 3 sample each output row from the input rows of its own parity (even
// output rows from even input rows, odd from odd); any other value samples progressively.
constexpr bool IsFieldWise(int fieldMode) { return fieldMode == 2 || fieldMode == 3; }

// Runs a prepass in place over `height` rows of a DIB (rows padded to 32 bits, every byte
// of a row including the padding treated alike). Returns false, leaving the frame alone,
// when the type is not a prepass or the buffer does not hold the frame.
bool RunPrepass(int type, BYTE* frame, size_t bytes, WORD bitCount, LONG width, LONG height);

// The rectangles of one bilinear resize, corners inclusive, y in memory rows.
struct BilinearPlan {
  LONG sx0 = 0, sy0 = 0, sx1 = 0, sy1 = 0;  // source
  LONG dx0 = 0, dy0 = 0, dx1 = 0, dy1 = 0;  // destination
  bool centre = false;                      // 1:1 row copies instead of scaling
};
BilinearPlan PlanBilinear(LONG srcWidth, LONG srcHeight, LONG dstWidth, LONG dstHeight, int mode);

// Where output row `y` of a plan samples the source: the upper and lower input rows and the
// lower row's weight in 1/128.
struct RowSample {
  LONG top = 0, bottom = 0;
  int weight = 0;
};
RowSample SampleRow(const BilinearPlan& plan, LONG srcHeight, LONG y, bool fieldWise);

// Scales one frame from `srcHeader` to `dstHeader` in the given resize mode: the output is
// cleared, then the destination rectangle is filled by bilinear interpolation (the centre
// mode copies rows 1:1). Both headers must have the same bit count of 16, 24 or 32; 16-bit
// pixels are RGB555 when `rgb555`, else RGB565. The source must be BI_RGB or BI_BITFIELDS and
// the destination BI_RGB, and both buffers must hold their images; otherwise E_FAIL and the
// destination is untouched.
HRESULT ScaleBilinear(const BITMAPINFOHEADER& srcHeader, const BYTE* src, size_t srcBytes,
                      const BITMAPINFOHEADER& dstHeader, BYTE* dst, size_t dstBytes, int mode, int fieldMode,
                      bool rgb555);

}  // namespace vxvk
