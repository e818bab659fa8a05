// Same-size pixel layout conversions done by libyuv, for the pairs it has: the decoders'
// usual pictures (I420, NV12, YUY2 and a few more) into RGB32, RGB24 or YUY2, and RGB32 /
// RGB24 between themselves. Scaling, and any pair not listed in the source, stay with
// libswscale.
#pragma once

#include <cstdint>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace tav::filters {

// Converts a width x height picture (planes and line sizes as FFmpeg gives them) into one
// packed picture at dst, dstStride bytes from row to row (negative to write bottom-up).
// False, with nothing written, when libyuv has no conversion for the pair.
bool ConvertPixels(const uint8_t* const* planes, const int* lines, AVPixelFormat in, int width, int height,
                   uint8_t* dst, int dstStride, AVPixelFormat out);

}  // namespace tav::filters
