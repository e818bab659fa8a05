#include "clipmux/rgbtoyuv.h"

namespace clipmux {

namespace {

// BT.601 studio range in 8-bit fixed point: Y = 16 + (66 R + 129 G + 25 B) / 256, U and V
// = 128 + (the colour differences) x 224/255 / 256, rounded to nearest. Chroma is taken
// from the rounded average of each 2x2 block. Within one level of the exact values, and
// small enough for 16-bit lanes: that is what makes the loops vectorise well.
constexpr int kYR = 66, kYG = 129, kYB = 25;
constexpr int kUR = -38, kUG = -74, kUB = 112;
constexpr int kVR = 112, kVG = -94, kVB = -18;

// One pair of rows. The loops are plain so that the compiler vectorises them (this file is
// built with -O3).
template <int N>
void ConvertRowPair(const uint8_t* __restrict r0, const uint8_t* __restrict r1, int width, uint8_t* __restrict y0,
                    uint8_t* __restrict y1, uint8_t* __restrict u, uint8_t* __restrict v) {
  for (int x = 0; x < width; ++x) {
    const int b = r0[N * x], g = r0[N * x + 1], r = r0[N * x + 2];
    y0[x] = uint8_t(((kYR * r + kYG * g + kYB * b + 128) >> 8) + 16);
  }
  for (int x = 0; x < width; ++x) {
    const int b = r1[N * x], g = r1[N * x + 1], r = r1[N * x + 2];
    y1[x] = uint8_t(((kYR * r + kYG * g + kYB * b + 128) >> 8) + 16);
  }
  for (int x = 0; x < width / 2; ++x) {
    const int b = (r0[2 * N * x] + r0[2 * N * x + N] + r1[2 * N * x] + r1[2 * N * x + N] + 2) >> 2;
    const int g = (r0[2 * N * x + 1] + r0[2 * N * x + N + 1] + r1[2 * N * x + 1] + r1[2 * N * x + N + 1] + 2) >> 2;
    const int r = (r0[2 * N * x + 2] + r0[2 * N * x + N + 2] + r1[2 * N * x + 2] + r1[2 * N * x + N + 2] + 2) >> 2;
    u[x] = uint8_t(((kUR * r + kUG * g + kUB * b + 128) >> 8) + 128);
    v[x] = uint8_t(((kVR * r + kVG * g + kVB * b + 128) >> 8) + 128);
  }
}

}  // namespace

void RgbToYuv420(const uint8_t* src, int srcStride, int bytesPerPixel, int width, int height, uint8_t* const dst[3],
                 const int dstStride[3]) {
  for (int row = 0; row + 1 < height; row += 2) {
    const uint8_t* r0 = src + int64_t(srcStride) * row;
    const uint8_t* r1 = r0 + srcStride;
    uint8_t* y0 = dst[0] + int64_t(dstStride[0]) * row;
    uint8_t* y1 = y0 + dstStride[0];
    uint8_t* u = dst[1] + int64_t(dstStride[1]) * (row / 2);
    uint8_t* v = dst[2] + int64_t(dstStride[2]) * (row / 2);
    if (bytesPerPixel == 4)
      ConvertRowPair<4>(r0, r1, width, y0, y1, u, v);
    else
      ConvertRowPair<3>(r0, r1, width, y0, y1, u, v);
  }
}

}  // namespace clipmux
