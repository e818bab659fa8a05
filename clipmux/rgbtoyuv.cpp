#include "clipmux/rgbtoyuv.h"

#include <libyuv/convert.h>

namespace clipmux {

// libyuv's "ARGB" is B, G, R, A in memory and its "RGB24" is B, G, R: the bitmap layouts as
// they are. Both conversions are BT.601 studio range, luma per pixel and chroma from each 2x2
// block, in SIMD code picked for the CPU at run time. A negative stride walks the rows
// upwards, which reads a bottom-up bitmap in picture order without a copy.
void RgbToYuv420(const uint8_t* src, int srcStride, int bytesPerPixel, int width, int height, uint8_t* const dst[3],
                 const int dstStride[3]) {
  if (bytesPerPixel == 4)
    libyuv::ARGBToI420(src, srcStride, dst[0], dstStride[0], dst[1], dstStride[1], dst[2], dstStride[2], width, height);
  else
    libyuv::RGB24ToI420(src, srcStride, dst[0], dstStride[0], dst[1], dstStride[1], dst[2], dstStride[2], width,
                        height);
}

}  // namespace clipmux
