// Pixel layout conversions done by libyuv, for the pairs it has: the decoders' usual
// pictures (I420, NV12, YUY2 and a few more) into RGB32, RGB24 or YUY2, and RGB32 / RGB24
// between themselves; and, for 4:2:0 pictures of 8 and 10 bits, scaling down on the way.
// Any pair not listed in the source stays with libswscale.
#pragma once

#include <cstdint>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace tav::filters {

// Converts a width x height picture (planes and line sizes as FFmpeg gives them) into one
// packed picture at dst, dstStride bytes from row to row (negative to write bottom-up).
// False, with nothing written, when libyuv has no conversion for the pair.
bool ConvertPixels(const uint8_t* const* planes, const int* lines, AVPixelFormat in, int width, int height,
                   uint8_t* dst, int dstStride, AVPixelFormat out);

// Scales a width x height 4:2:0 picture (8 or 10 bits) to outWidth x outHeight in its own
// layout (in scratch, kept by the caller from picture to picture, so no picture-sized
// buffer is made anew) and converts that small picture into dst, as ConvertPixels. No
// full-size picture of the output layout is ever made. False, with nothing written, for
// other layouts.
bool ScaleConvertPixels(const uint8_t* const* planes, const int* lines, AVPixelFormat in, int width, int height,
                        uint8_t* dst, int dstStride, int outWidth, int outHeight, AVPixelFormat out,
                        std::vector<uint8_t>* scratch);

// As ScaleConvertPixels, and the small picture mirrored left to right (when mirror) and
// then turned quarterTurns quarters clockwise before it is converted: outWidth x outHeight
// is the size after the turn. Turning the small picture instead of the decoder's saves the
// work of turning a full-size one.
bool ScaleTurnConvertPixels(const uint8_t* const* planes, const int* lines, AVPixelFormat in, int width, int height,
                            int quarterTurns, bool mirror, uint8_t* dst, int dstStride, int outWidth, int outHeight,
                            AVPixelFormat out, std::vector<uint8_t>* scratch);
// Whether the two functions above have a path for the pair.
bool CanScaleTurnConvert(AVPixelFormat in, AVPixelFormat out);

}  // namespace tav::filters
