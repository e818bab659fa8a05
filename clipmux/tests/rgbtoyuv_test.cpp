// The frame colour conversion: studio-range BT.601 values for the primaries, 2x2 chroma
// averages, bottom-up and 24-bit input.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "clipmux/rgbtoyuv.h"

namespace {

struct Yuv {
  int width, height;
  std::vector<uint8_t> y, u, v;
  Yuv(int w, int h) : width(w), height(h), y(size_t(w) * h), u(size_t(w / 2) * (h / 2)), v(u.size()) {}
  void Convert(const uint8_t* src, int stride, int bytesPerPixel) {
    uint8_t* planes[3] = {y.data(), u.data(), v.data()};
    const int strides[3] = {width, width / 2, width / 2};
    clipmux::RgbToYuv420(src, stride, bytesPerPixel, width, height, planes, strides);
  }
};

// A picture of one colour (B, G, R) per 2x2 block, in rows of blocks.
std::vector<uint8_t> Blocks(int width, int height, int bytesPerPixel, const std::vector<std::array<int, 3>>& colours) {
  std::vector<uint8_t> px(size_t(width) * height * bytesPerPixel, 0xEE);
  for (int row = 0; row < height; ++row)
    for (int x = 0; x < width; ++x) {
      const auto& c = colours[size_t((row / 2) * (width / 2) + x / 2) % colours.size()];
      for (int k = 0; k < 3; ++k) px[(size_t(row) * width + x) * bytesPerPixel + k] = uint8_t(c[size_t(k)]);
    }
  return px;
}

// The exact studio-range BT.601 value of a colour (B, G, R): plane 0 Y, 1 U, 2 V.
double Exact(const std::array<int, 3>& bgr, int plane) {
  const double b = bgr[0] / 255.0, g = bgr[1] / 255.0, r = bgr[2] / 255.0;
  const double y = 0.299 * r + 0.587 * g + 0.114 * b;
  if (plane == 0) return 16 + 219 * y;
  if (plane == 1) return 128 + 224 * (b - y) / 1.772;
  return 128 + 224 * (r - y) / 1.402;
}

// Within one level of the correctly rounded value: the SIMD code keeps fewer bits for chroma.
double Level(const std::array<int, 3>& bgr, int plane) { return std::round(Exact(bgr, plane)); }

TEST(clipmux_RgbToYuv, PrimariesAndGreys_AreWithinOneLevelOfBt601StudioRange_In32And24Bits) {
  const std::vector<std::array<int, 3>> bgr = {{0, 0, 0},     {255, 255, 255}, {0, 0, 255},   {0, 255, 0},
                                               {255, 0, 0},   {128, 128, 128}, {0, 255, 255}, {255, 0, 255},
                                               {255, 255, 0}, {40, 90, 200}};
  const int n = int(bgr.size());
  for (int bytes : {4, 3}) {
    SCOPED_TRACE(bytes);
    Yuv out(2 * n, 2);
    std::vector<uint8_t> px = Blocks(2 * n, 2, bytes, bgr);
    out.Convert(px.data(), 2 * n * bytes, bytes);
    for (int i = 0; i < n; ++i) {
      EXPECT_NEAR(out.y[size_t(2 * i)], Level(bgr[size_t(i)], 0), 1.0) << "colour " << i;
      EXPECT_NEAR(out.y[size_t(2 * n + 2 * i + 1)], Level(bgr[size_t(i)], 0), 1.0) << "colour " << i;
      EXPECT_NEAR(out.u[size_t(i)], Level(bgr[size_t(i)], 1), 1.0) << "colour " << i;
      EXPECT_NEAR(out.v[size_t(i)], Level(bgr[size_t(i)], 2), 1.0) << "colour " << i;
    }
    // Black, white and grey exactly: 16, 235, 126; no colour.
    EXPECT_EQ(out.y[0], 16);
    EXPECT_EQ(out.y[2], 235);
    EXPECT_EQ(out.y[10], 126);
    EXPECT_EQ(out.u[5], 128);
    EXPECT_EQ(out.v[5], 128);
  }
}

TEST(clipmux_RgbToYuv, ChromaAveragesEachBlock_AndANegativeStrideReadsBottomUp) {
  // A 64 x 4 picture: within every 2x2 block one pixel is blue, three are black; the
  // bottom half of the bitmap (rows 0-1 in memory) is white. Read from the last row up.
  const int w = 64, h = 4;
  std::vector<uint8_t> px(size_t(w) * h * 4, 0);
  for (int row = 0; row < h; ++row)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &px[(size_t(row) * w + x) * 4];
      if (row < 2) {
        p[0] = p[1] = p[2] = 255;
      } else if (row == 3 && x % 2 == 1) {
        p[0] = 255;  // blue
      }
    }
  Yuv out(w, h);
  out.Convert(px.data() + size_t(w) * 4 * (h - 1), -w * 4, 4);
  // Picture row 0 is memory row 3: black and blue pixels alternate.
  EXPECT_EQ(out.y[0], 16);
  EXPECT_NEAR(out.y[1], 41.0, 1.0);
  EXPECT_EQ(out.y[size_t(w)], 16);
  EXPECT_EQ(out.y[size_t(2 * w)], 235);
  for (int x = 0; x < w / 2; ++x) {
    // The average of the block, a quarter of blue: U 156.5, V 123.4.
    EXPECT_NEAR(out.u[size_t(x)], 156.5, 1.0) << x;
    EXPECT_NEAR(out.v[size_t(x)], 123.4, 1.0) << x;
    EXPECT_EQ(out.u[size_t(w / 2 + x)], 128) << x;
    EXPECT_EQ(out.v[size_t(w / 2 + x)], 128) << x;
  }
}

}  // namespace
