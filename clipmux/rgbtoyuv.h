// Packed RGB (BGR byte order, 24 or 32 bits) to planar YUV 4:2:0, BT.601 studio range: the
// conversion every frame goes through before the encoder. Luma per pixel; chroma from the
// average of each 2x2 block. Done by libyuv.
#pragma once

#include <cstdint>

namespace clipmux {

// src points at the first row to convert and srcStride steps to the next (negative for a
// bottom-up bitmap read from its last row). width and height must be even.
void RgbToYuv420(const uint8_t* src, int srcStride, int bytesPerPixel, int width, int height, uint8_t* const dst[3],
                 const int dstStride[3]);

}  // namespace clipmux
