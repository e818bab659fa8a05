// The bilinear scaler: its 1/128 weights, field-wise sampling, every pixel format, the
// prepasses, the mode geometry, and its quality against the nearest-neighbour stretch.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "libs/vxvideokit/bilinearresize.h"
#include "libs/vxvideokit/nearestresize.h"
#include "libs/vxvideokit/tests/testimage.h"

using namespace vxvk;
using vktest::Image;

namespace {

HRESULT Scale(Image& src, Image& dst, int mode, int fieldMode = 0, bool rgb555 = false) {
  const BITMAPINFOHEADER sh = src.Header(), dh = dst.Header();
  return ScaleBilinear(sh, src.data.data(), src.data.size(), dh, dst.data.data(), dst.data.size(), mode, fieldMode,
                       rgb555);
}

// Channels of a pixel as (blue, green, red).
std::array<unsigned, 3> Channels(Image& img, LONG x, LONG y, bool rgb555) {
  const BYTE* p = img.Pixel(x, y);
  if (img.bits != 16) return {p[0], p[1], p[2]};
  const unsigned v = unsigned(p[0]) | unsigned(p[1]) << 8;
  if (rgb555) return {v & 31, (v >> 5) & 31, (v >> 10) & 31};
  return {v & 31, (v >> 5) & 63, v >> 11};
}

}  // namespace

TEST(vxvideokit_Bilinear, WeightsAreSevenBitAndAFlatAreaKeepsItsValue) {
  // Two pixels 0 and 128 enlarged to four: positions 0, 1/2, 1, 3/2; the last column pairs
  // with itself.
  Image src(2, 1, 32), dst(4, 1, 32, 0xEE);
  src.SetGrey(0, 0, 0);
  src.SetGrey(1, 0, 128);
  ASSERT_EQ(S_OK, Scale(src, dst, kModeStretch));
  EXPECT_EQ(0u, dst.Word(0, 0));
  EXPECT_EQ(0x404040u, dst.Word(1, 0));
  EXPECT_EQ(0x808080u, dst.Word(2, 0));
  EXPECT_EQ(0x808080u, dst.Word(3, 0)) << "the fourth byte is zero, the edge is not blended with nothing";

  // Three to seven columns: column 1 sits 54/128 of the way (7021 / 16384 per step, in 1/128).
  Image src3(3, 1, 32), dst7(7, 1, 32);
  src3.SetGrey(1, 0, 127);
  ASSERT_EQ(S_OK, Scale(src3, dst7, kModeStretch));
  EXPECT_EQ(54u * 127 / 128, dst7.Pixel(1, 0)[0]);

  // Both directions: the centre of a 2 x 2 block enlarged to 4 x 4 weighs all four pixels
  // 64 x 64 (0 + 128 + 128 + 255) >> 14 = 127.
  Image quad(2, 2, 32), big(4, 4, 32);
  quad.SetGrey(1, 0, 128);
  quad.SetGrey(0, 1, 128);
  quad.SetGrey(1, 1, 255);
  ASSERT_EQ(S_OK, Scale(quad, big, kModeStretch));
  EXPECT_EQ(127, big.Pixel(1, 1)[1]);

  // Full white stays full white in every format and direction.
  for (WORD bits : {16, 24, 32}) {
    for (bool rgb555 : {true, false}) {
      const unsigned full = bits == 16 ? 31u : 255u;
      Image white(7, 5, bits), out(11, 9, bits);
      for (LONG y = 0; y < 5; ++y)
        for (LONG x = 0; x < 7; ++x) white.SetGrey(x, y, full, rgb555);
      ASSERT_EQ(S_OK, Scale(white, out, kModeStretch, 0, rgb555));
      for (LONG y = 0; y < 9; ++y)
        for (LONG x = 0; x < 11; ++x) {
          const auto c = Channels(out, x, y, rgb555);
          ASSERT_EQ(full, c[0]) << bits << " bits at " << x << "," << y;
          ASSERT_EQ(bits == 16 && !rgb555 ? 63u : full, c[1]);
          ASSERT_EQ(full, c[2]);
        }
    }
  }
}

TEST(vxvideokit_Bilinear, FieldWiseSamplingKeepsEachFieldApart) {
  // Even rows 200, odd rows 40: a field-wise scale keeps the two values apart on output
  // rows of the same parity; a progressive one blends them.
  for (const auto& [srcH, dstH] : {std::pair<LONG, LONG>{8, 16}, {8, 4}, {9, 14}, {240, 480}}) {
    Image src(6, srcH, 32);
    for (LONG y = 0; y < srcH; ++y)
      for (LONG x = 0; x < 6; ++x) src.SetGrey(x, y, y % 2 ? 40 : 200);
    for (int fieldMode : {2, 3}) {
      Image dst(5, dstH, 32);
      ASSERT_EQ(S_OK, Scale(src, dst, kModeStretch, fieldMode));
      for (LONG y = 0; y < dstH; ++y)
        for (LONG x = 0; x < 5; ++x)
          ASSERT_EQ(y % 2 ? 40 : 200, dst.Pixel(x, y)[2]) << srcH << "->" << dstH << " row " << y;
    }
    Image progressive(5, dstH, 32);
    ASSERT_EQ(S_OK, Scale(src, progressive, kModeStretch, 1));
    bool blended = false;
    for (LONG y = 0; y < dstH; ++y) blended |= progressive.Pixel(0, y)[2] != 40 && progressive.Pixel(0, y)[2] != 200;
    if (dstH > srcH) {
      EXPECT_TRUE(blended) << "enlarging progressively mixes the fields";
    }
  }

  // Within a field the weight is the distance between two rows of that field: output row 2
  // of a doubled frame sits halfway between input rows 0 and 2.
  Image ramp(1, 8, 32), out(1, 16, 32);
  for (LONG y = 0; y < 8; ++y) ramp.SetGrey(0, y, unsigned(y * 20));
  ASSERT_EQ(S_OK, Scale(ramp, out, kModeStretch, 2));
  const RowSample rs = SampleRow(PlanBilinear(1, 8, 1, 16, kModeStretch), 8, 2, true);
  EXPECT_EQ(0, rs.top);
  EXPECT_EQ(2, rs.bottom);
  EXPECT_EQ(64, rs.weight);
  EXPECT_EQ(20, out.Pixel(0, 2)[0]);
}

TEST(vxvideokit_Bilinear, EveryPixelFormatScalesLikeThirtyTwoBits) {
  // A colour ramp in each format, enlarged by an uneven ratio; every channel lands within one
  // step of the 32-bit result brought to the format's depth.
  const LONG sw = 13, sh = 7, dw = 29, dh = 17;
  auto value = [](LONG x, LONG y, int ch) { return unsigned((x * 19 + y * 31 + ch * 80) % 256); };
  Image ref32(sw, sh, 32), out32(dw, dh, 32);
  for (LONG y = 0; y < sh; ++y)
    for (LONG x = 0; x < sw; ++x)
      for (int ch = 0; ch < 3; ++ch) ref32.Pixel(x, y)[ch] = BYTE(value(x, y, ch));
  ASSERT_EQ(S_OK, Scale(ref32, out32, kModeStretch));

  struct Format {
    WORD bits;
    bool rgb555;
    int depth[3];
  };
  for (const Format f : {Format{24, false, {8, 8, 8}}, Format{16, true, {5, 5, 5}}, Format{16, false, {5, 6, 5}}}) {
    SCOPED_TRACE(testing::Message() << f.bits << (f.rgb555 ? " RGB555" : ""));
    Image src(sw, sh, f.bits, 0xA5), dst(dw, dh, f.bits, 0xEE);  // padding bytes hold noise
    for (LONG y = 0; y < sh; ++y)
      for (LONG x = 0; x < sw; ++x) {
        unsigned c[3];
        for (int ch = 0; ch < 3; ++ch) c[ch] = value(x, y, ch) >> (8 - f.depth[ch]);
        BYTE* p = src.Pixel(x, y);
        if (f.bits == 24) {
          p[0] = BYTE(c[0]), p[1] = BYTE(c[1]), p[2] = BYTE(c[2]);
        } else {
          // RGB555 gets bit 15 set in the input: it is no part of any channel.
          const unsigned w = f.rgb555 ? (0x8000 | c[2] << 10 | c[1] << 5 | c[0]) : (c[2] << 11 | c[1] << 5 | c[0]);
          p[0] = BYTE(w), p[1] = BYTE(w >> 8);
        }
      }
    ASSERT_EQ(S_OK, Scale(src, dst, kModeStretch, 0, f.rgb555));
    for (LONG y = 0; y < dh; ++y)
      for (LONG x = 0; x < dw; ++x) {
        const auto got = Channels(dst, x, y, f.rgb555);
        for (int ch = 0; ch < 3; ++ch) {
          const int want = out32.Pixel(x, y)[ch] >> (8 - f.depth[ch]);
          ASSERT_NEAR(want, int(got[ch]), 1) << "channel " << ch << " at " << x << "," << y;
        }
        if (f.bits == 16 && f.rgb555) {
          ASSERT_EQ(0, dst.Pixel(x, y)[1] & 0x80) << "bit 15 stays zero";
        }
      }
    // Row padding of the output is cleared, never copied from the input's noise.
    const size_t used = size_t(dw) * f.bits / 8;
    for (LONG y = 0; y < dh; ++y)
      for (size_t b = used; b < size_t(dst.Stride()); ++b) ASSERT_EQ(0, dst.Row(y)[b]);
  }
}

TEST(vxvideokit_Bilinear, TheLastColumnNeverReadsRowPadding) {
  // A 5-pixel 24-bit row is 15 bytes in a 16-byte stride: enlarged, the last source pixel
  // is blended with itself, not with the padding byte and the next row.
  Image src(5, 2, 24, 0xFF), dst(17, 2, 24);
  for (LONG y = 0; y < 2; ++y)
    for (LONG x = 0; x < 5; ++x) src.SetGrey(x, y, 10);
  ASSERT_EQ(S_OK, Scale(src, dst, kModeStretch));
  for (LONG y = 0; y < 2; ++y)
    for (LONG x = 0; x < 17; ++x) ASSERT_EQ(10, dst.Pixel(x, y)[0]) << x << "," << y;
}

TEST(vxvideokit_Bilinear, ModesPlaceTheContentAndClearTheRest) {
  // 352 x 240 into 640 x 480: fit draws rows 22-457 at full width, crop uses source columns
  // 16-335, centre copies the middle of a larger source 1:1.
  BilinearPlan fit = PlanBilinear(352, 240, 640, 480, kModeFit);
  EXPECT_EQ(22, fit.dy0);
  EXPECT_EQ(457, fit.dy1);
  EXPECT_EQ(0, fit.dx0);
  EXPECT_EQ(639, fit.dx1);
  BilinearPlan crop = PlanBilinear(352, 240, 640, 480, kModeCrop);
  EXPECT_EQ(16, crop.sx0);
  EXPECT_EQ(335, crop.sx1);
  BilinearPlan letterbox = PlanBilinear(640, 240, 320, 240, kModeFit);
  EXPECT_EQ(60, letterbox.dy0);
  EXPECT_EQ(179, letterbox.dy1);
  BilinearPlan pillarbox = PlanBilinear(320, 480, 640, 480, kModeFit);
  EXPECT_EQ(160, pillarbox.dx0);
  EXPECT_EQ(479, pillarbox.dx1);
  BilinearPlan same = PlanBilinear(320, 240, 640, 480, kModeCrop);
  EXPECT_EQ(0, same.sx0) << "equal ratios stretch";
  EXPECT_EQ(319, same.sx1);
  EXPECT_EQ(639, same.dx1);
  BilinearPlan other = PlanBilinear(352, 240, 640, 480, 7);
  EXPECT_EQ(351, other.sx1) << "unknown modes stretch";
  EXPECT_EQ(479, other.dy1);

  Image src(352, 240, 32), dst(640, 480, 32, 0xEE);
  for (LONG y = 0; y < 240; ++y)
    for (LONG x = 0; x < 352; ++x) src.SetGrey(x, y, 100);
  ASSERT_EQ(S_OK, Scale(src, dst, kModeFit));
  for (LONG y : {0, 21, 458, 479}) EXPECT_EQ(0u, dst.Word(320, y)) << "border row " << y;
  for (LONG y : {22, 240, 457}) EXPECT_EQ(0x646464u, dst.Word(320, y)) << "picture row " << y;

  // Centre: 640 x 480 into 320 x 240 copies the block from (160, 120) 1:1; a smaller source
  // is centred on black.
  Image large(640, 480, 32), small(320, 240, 32, 0xEE);
  for (LONG y = 0; y < 480; ++y)
    for (LONG x = 0; x < 640; ++x) {
      const uint32_t v = uint32_t(y << 12 | x);
      std::memcpy(large.Pixel(x, y), &v, 4);
    }
  ASSERT_EQ(S_OK, Scale(large, small, kModeCentre));
  EXPECT_EQ(uint32_t(120 << 12 | 160), small.Word(0, 0));
  EXPECT_EQ(uint32_t(359 << 12 | 479), small.Word(319, 239));
  Image tiny(4, 2, 24), frame(8, 6, 24, 0xEE);
  for (LONG y = 0; y < 2; ++y)
    for (LONG x = 0; x < 4; ++x) tiny.SetGrey(x, y, 9);
  ASSERT_EQ(S_OK, Scale(tiny, frame, kModeCentre));
  for (LONG y = 0; y < 6; ++y)
    for (LONG x = 0; x < 8; ++x)
      EXPECT_EQ((x >= 2 && x < 6 && y >= 2 && y < 4) ? 9 : 0, frame.Pixel(x, y)[0]) << x << "," << y;
}

TEST(vxvideokit_Bilinear, RefusesWhatItCannotScaleWithoutTouchingTheOutput) {
  Image src(8, 8, 32), dst(4, 4, 32, 0xEE);
  auto untouched = [&] {
    for (BYTE b : dst.data)
      if (b != 0xEE) return false;
    return true;
  };
  Image src24(8, 8, 24), src8(8, 8, 8), dst8(4, 4, 8, 0xEE);
  EXPECT_EQ(E_FAIL, Scale(src24, dst, kModeStretch)) << "bit counts differ";
  EXPECT_EQ(E_FAIL, Scale(src8, dst8, kModeStretch)) << "palette indices cannot be blended";
  BITMAPINFOHEADER sh = src.Header(), dh = dst.Header();
  sh.biCompression = MAKEFOURCC('D', 'I', 'V', 'X');
  EXPECT_EQ(E_FAIL, ScaleBilinear(sh, src.data.data(), src.data.size(), dh, dst.data.data(), dst.data.size(), 0, 0,
                                  false));
  sh = src.Header();
  EXPECT_EQ(E_FAIL, ScaleBilinear(sh, src.data.data(), src.data.size() - 1, dh, dst.data.data(), dst.data.size(),
                                  0, 0, false));
  EXPECT_EQ(E_FAIL, ScaleBilinear(sh, src.data.data(), src.data.size(), dh, dst.data.data(), dst.data.size() - 4,
                                  0, 0, false));
  sh.biCompression = BI_BITFIELDS;
  dh.biCompression = BI_BITFIELDS;
  EXPECT_EQ(E_FAIL, ScaleBilinear(sh, src.data.data(), src.data.size(), dh, dst.data.data(), dst.data.size(), 0, 0,
                                  false));
  EXPECT_TRUE(untouched());
  dh.biCompression = BI_RGB;
  EXPECT_EQ(S_OK, ScaleBilinear(sh, src.data.data(), src.data.size(), dh, dst.data.data(), dst.data.size(), 0, 0,
                                false))
      << "a BI_BITFIELDS source is fine";
}

TEST(vxvideokit_Bilinear, BeatsNearestNeighbourOnASmoothGradient) {
  // Both resizers share the geometry (output pixel k samples source position k x S / D), so
  // the smooth function evaluated there is the exact picture each should approximate.
  auto f = [](double x, double y) {
    return 120.0 + 30.0 * x / 352.0 + 40.0 * std::sin(x / 12.0) + 40.0 * std::sin(y / 10.0);
  };
  struct Size {
    LONG sw, sh, dw, dh;
  };
  for (const Size s : {Size{352, 240, 640, 480}, Size{352, 240, 320, 240}, Size{200, 150, 640, 480}}) {
    Image src(s.sw, s.sh, 32);
    for (LONG y = 0; y < s.sh; ++y)
      for (LONG x = 0; x < s.sw; ++x) src.SetGrey(x, y, unsigned(std::lround(f(x * 352.0 / s.sw, y * 240.0 / s.sh))));
    Image bilinear(s.dw, s.dh, 32), nearest(s.dw, s.dh, 32);
    ASSERT_EQ(S_OK, Scale(src, bilinear, kModeStretch));
    const BITMAPINFOHEADER sh = src.Header(), dh = nearest.Header();
    ASSERT_EQ(S_OK, ResizeFrame(sh, src.data.data(), src.data.size(), dh, nearest.data.data(), nearest.data.size(),
                                kModeStretch));
    double errBilinear = 0, errNearest = 0;
    // The last source column and row have no neighbour to blend with: compare inside them.
    LONG count = 0;
    for (LONG y = 0; y < s.dh; ++y)
      for (LONG x = 0; x < s.dw; ++x) {
        const double sx = double(x) * s.sw / s.dw, sy = double(y) * s.sh / s.dh;
        if (sx > s.sw - 1 || sy > s.sh - 1) continue;
        const double want = f(sx * 352.0 / s.sw, sy * 240.0 / s.sh);
        errBilinear += std::abs(bilinear.Pixel(x, y)[1] - want);
        errNearest += std::abs(nearest.Pixel(x, y)[1] - want);
        ++count;
      }
    errBilinear /= count;
    errNearest /= count;
    std::printf("%ldx%ld -> %ldx%ld: mean error %.3f bilinear, %.3f nearest\n", long(s.sw), long(s.sh), long(s.dw),
                long(s.dh), errBilinear, errNearest);
    EXPECT_LT(errBilinear, errNearest) << s.sw << "x" << s.sh << " -> " << s.dw << "x" << s.dh;
    EXPECT_LT(errBilinear, 1.0) << "mean error in levels";
  }
}

TEST(vxvideokit_Prepass, DoublesInterpolatesAndBlendsOddRows) {
  // One byte per row is enough to follow each rule; a 1-pixel 8-bit frame has a 4-byte
  // stride, and every byte of a row, padding too, is treated alike.
  auto frame = [](std::vector<BYTE> rowValues) {
    std::vector<BYTE> f;
    for (BYTE v : rowValues) f.insert(f.end(), 4, v);
    return f;
  };
  auto rows = [](const std::vector<BYTE>& f) {
    std::vector<int> r;
    for (size_t i = 0; i < f.size(); i += 4) {
      for (size_t b = 1; b < 4; ++b) EXPECT_EQ(f[i], f[i + b]) << "padding byte of row " << i / 4;
      r.push_back(f[i]);
    }
    return r;
  };
  std::vector<BYTE> f = frame({10, 99, 30, 99, 50});
  ASSERT_TRUE(RunPrepass(kPrepassLineDoubling, f.data(), f.size(), 8, 1, 5));
  EXPECT_EQ((std::vector<int>{10, 10, 30, 30, 50}), rows(f));

  f = frame({10, 99, 30, 99, 50, 77});
  ASSERT_TRUE(RunPrepass(kPrepassLineInterpolation, f.data(), f.size(), 8, 1, 6));
  EXPECT_EQ((std::vector<int>{10, 20, 30, 40, 50, 63}), rows(f)) << "the last odd row blends row 4 with itself";

  // Adaptive blend: a row far from its neighbours' mean takes it (row 1), so does a row between
  // neighbours that agree (row 3); a row near the mean of differing neighbours stays (row 5);
  // the last row never changes.
  f = frame({100, 200, 100, 108, 102, 130, 140, 250});
  ASSERT_TRUE(RunPrepass(kPrepassAdaptiveBlend, f.data(), f.size(), 8, 1, 8));
  EXPECT_EQ((std::vector<int>{100, 100, 100, 101, 102, 130, 140, 250}), rows(f));

  std::vector<BYTE> same = frame({1, 2, 3});
  EXPECT_FALSE(RunPrepass(0, same.data(), same.size(), 8, 1, 3));
  EXPECT_FALSE(RunPrepass(4, same.data(), same.size(), 8, 1, 3));
  EXPECT_FALSE(RunPrepass(kPrepassLineDoubling, same.data(), same.size() - 1, 8, 1, 3)) << "short buffer";
  EXPECT_EQ((std::vector<int>{1, 2, 3}), rows(same));
}
