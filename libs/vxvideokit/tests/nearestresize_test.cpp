// Pixel-exact checks of the nearest-neighbour stretch and the geometry of the resize modes.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "libs/vxvideokit/nearestresize.h"
#include "libs/vxvideokit/tests/testimage.h"

using namespace vxvk;
using vktest::Image;

namespace {

// The stepping as closed formulas: floor(k*S/D) when keeping or enlarging, ceiling when reducing.
LONG Expected(LONG k, LONG s, LONG d) {
  const LONGLONG p = LONGLONG(k) * s;
  return d >= s ? LONG(p / d) : LONG((p + d - 1) / d);
}

HRESULT Resize(const Image& src, Image& dst, int mode) {
  return ResizeFrame(src.Header(), src.data.data(), src.data.size(), dst.Header(), dst.data.data(), dst.data.size(),
                     mode);
}

// Every pixel gets bytes that identify its column and row.
Image Pattern(LONG w, LONG h, WORD bits) {
  Image img(w, h, bits);
  const int n = bits / 8;
  for (LONG y = 0; y < h; ++y)
    for (LONG x = 0; x < w; ++x) {
      const uint32_t v = uint32_t(x) | (uint32_t(y) << 12) | 0x80000000u;
      const uint32_t mixed = n == 1 ? uint32_t((x * 37 + y * 101 + 1) & 0xFF) : n == 2 ? (v ^ (v >> 16)) & 0xFFFF : v;
      std::memcpy(img.Pixel(x, y), &mixed, n);
    }
  return img;
}

// Checks the destination pixel by pixel: inside the rectangle the stepped source pixel, outside
// the fill byte.
void ExpectStretched(Image& src, const PixelRect& sr, Image& dst, const PixelRect& dr, BYTE fill) {
  const int n = src.bits / 8;
  for (LONG y = 0; y < dst.height; ++y) {
    for (LONG x = 0; x < dst.width; ++x) {
      const bool inside = x >= dr.x && x < dr.x + dr.width && y >= dr.y && y < dr.y + dr.height;
      const BYTE* got = dst.Pixel(x, y);
      if (inside) {
        const LONG sx = sr.x + Expected(x - dr.x, sr.width, dr.width);
        const LONG sy = sr.y + Expected(y - dr.y, sr.height, dr.height);
        ASSERT_EQ(0, std::memcmp(got, src.Pixel(sx, sy), n))
            << "pixel " << x << "," << y << " should come from " << sx << "," << sy;
      } else {
        for (int i = 0; i < n; ++i) ASSERT_EQ(fill, got[i]) << "outside pixel " << x << "," << y;
      }
    }
  }
}

}  // namespace

TEST(vxvideokit_NearestSteps, FollowTheFloorRuleWhenEnlargingAndTheCeilingRuleWhenReducing) {
  for (LONG s = 1; s <= 40; ++s) {
    for (LONG d = 1; d <= 90; ++d) {
      std::vector<LONG> out(d);
      NearestSteps(s, d, out.data());
      for (LONG k = 0; k < d; ++k) ASSERT_EQ(Expected(k, s, d), out[k]) << s << "->" << d << " k=" << k;
    }
  }
  std::vector<LONG> big(640);
  NearestSteps(720, 640, big.data());
  EXPECT_EQ(0, big[0]);
  EXPECT_EQ(2, big[1]);  // ceiling(720/640)
  EXPECT_EQ(719, big[639]);
}

TEST(vxvideokit_StretchNearest, IsPixelExactForEveryBitDepthAndSize) {
  const WORD depths[] = {8, 16, 24, 32};
  struct Case { LONG sw, sh, dw, dh; };
  const Case cases[] = {
      {16, 12, 16, 12},   // kept
      {16, 12, 32, 24},   // doubled
      {10, 6, 40, 24},    // four times
      {13, 7, 29, 17},    // enlarged, odd
      {29, 17, 13, 7},    // reduced, odd
      {40, 30, 20, 15},   // halved
      {21, 9, 21, 20},    // width kept, height enlarged
      {21, 20, 35, 20},   // height kept, width enlarged
      {33, 25, 7, 31},    // narrower and taller
  };
  for (WORD bits : depths) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << bits << " bits " << c.sw << "x" << c.sh << " -> " << c.dw << "x" << c.dh);
      Image src = Pattern(c.sw, c.sh, bits);
      Image dst(c.dw, c.dh, bits, 0xCD);
      const PixelRect sr{0, 0, c.sw, c.sh}, dr{0, 0, c.dw, c.dh};
      ASSERT_TRUE(StretchNearest(src.View(), sr, dst.Mutable(), dr));
      ExpectStretched(src, sr, dst, dr, 0xCD);
    }
  }
}

TEST(vxvideokit_StretchNearest, DrawsRectanglesAtOffsetsAndLeavesTheRestAlone) {
  for (WORD bits : {8, 16, 24, 32}) {
    SCOPED_TRACE(bits);
    Image src = Pattern(37, 23, WORD(bits));
    Image dst(41, 29, WORD(bits), 0x5A);
    const PixelRect sr{3, 5, 27, 11}, dr{7, 2, 31, 25};
    ASSERT_TRUE(StretchNearest(src.View(), sr, dst.Mutable(), dr));
    ExpectStretched(src, sr, dst, dr, 0x5A);

    Image small(41, 29, WORD(bits), 0x5A);
    const PixelRect reduceTo{1, 3, 9, 4};
    ASSERT_TRUE(StretchNearest(src.View(), sr, small.Mutable(), reduceTo));
    ExpectStretched(src, sr, small, reduceTo, 0x5A);
  }
}

TEST(vxvideokit_StretchNearest, DrawsNothingForMismatchedOrUnsupportedDepthsAndBadRectangles) {
  Image src = Pattern(8, 8, 32);
  Image dst16(8, 8, 16, 0x11);
  EXPECT_FALSE(StretchNearest(src.View(), {0, 0, 8, 8}, dst16.Mutable(), {0, 0, 8, 8}));
  EXPECT_EQ(std::vector<BYTE>(dst16.data.size(), 0x11), dst16.data);

  Image four(8, 8, 4, 0x11), four2(8, 8, 4, 0x22);
  EXPECT_FALSE(StretchNearest(four.View(), {0, 0, 8, 8}, four2.Mutable(), {0, 0, 8, 8}));

  Image dst(8, 8, 32, 0x11);
  const std::vector<BYTE> before = dst.data;
  EXPECT_FALSE(StretchNearest(src.View(), {0, 0, 0, 8}, dst.Mutable(), {0, 0, 8, 8}));
  EXPECT_FALSE(StretchNearest(src.View(), {0, 0, 8, 8}, dst.Mutable(), {1, 0, 8, 8}));   // leaves the image
  EXPECT_FALSE(StretchNearest(src.View(), {-1, 0, 4, 4}, dst.Mutable(), {0, 0, 8, 8}));
  MutableImageView shortView = dst.Mutable();
  shortView.bytes -= 1;
  EXPECT_FALSE(StretchNearest(src.View(), {0, 0, 8, 8}, shortView, {0, 0, 8, 8}));
  EXPECT_EQ(before, dst.data);
}

TEST(vxvideokit_ResizeGeometry, CropTakesTheMiddleColumnsOfAWiderSource) {
  const ResizePlan plan = PlanResize(352, 240, 640, 480, kModeCrop);
  EXPECT_FALSE(plan.clearFirst);
  EXPECT_EQ((PixelRect{16, 0, 320, 240}), plan.src);
  EXPECT_EQ((PixelRect{0, 0, 640, 480}), plan.dst);

  Image src = Pattern(352, 240, 32);
  Image dst(640, 480, 32, 0xEE);
  ASSERT_EQ(S_OK, Resize(src, dst, kModeCrop));
  ExpectStretched(src, plan.src, dst, plan.dst, 0xEE);
  EXPECT_EQ(0, std::memcmp(dst.Pixel(0, 0), src.Pixel(16, 0), 4));
  EXPECT_EQ(0, std::memcmp(dst.Pixel(639, 479), src.Pixel(335, 239), 4));

  // A taller source is cut at top and bottom instead.
  EXPECT_EQ((PixelRect{0, 60, 320, 120}), PlanResize(320, 240, 640, 240, kModeCrop).src);
}

TEST(vxvideokit_ResizeGeometry, FitLetterboxesAndPillarboxesWithZeroBorders) {
  const ResizePlan plan = PlanResize(352, 240, 640, 480, kModeFit);
  EXPECT_TRUE(plan.clearFirst);
  EXPECT_EQ((PixelRect{0, 0, 352, 240}), plan.src);
  EXPECT_EQ((PixelRect{0, 22, 640, 436}), plan.dst);

  Image src = Pattern(352, 240, 32);
  Image dst(640, 480, 32, 0xEE);
  ASSERT_EQ(S_OK, Resize(src, dst, kModeFit));
  ExpectStretched(src, plan.src, dst, plan.dst, 0x00);  // rows 0-21 and 458-479 zero
  EXPECT_EQ(0, std::memcmp(dst.Pixel(0, 22), src.Pixel(0, 0), 4));
  EXPECT_NE(0u, dst.Pixel(0, 457)[3]);
  EXPECT_EQ(0u, dst.Pixel(0, 458)[3]);

  // A wide frame into a square one: bars left and right.
  EXPECT_EQ((PixelRect{20, 0, 60, 100}), PlanResize(60, 100, 100, 100, kModeFit).dst);
}

TEST(vxvideokit_ResizeGeometry, EqualRatiosAndOtherModesStretchTheWholeFrame) {
  for (int mode : {int(kModeStretch), int(kModeFit), int(kModeCrop), 7, -1}) {
    SCOPED_TRACE(mode);
    const ResizePlan equal = PlanResize(320, 240, 640, 480, mode);
    EXPECT_FALSE(equal.clearFirst);
    EXPECT_FALSE(equal.centre);
    EXPECT_EQ((PixelRect{0, 0, 320, 240}), equal.src);
    EXPECT_EQ((PixelRect{0, 0, 640, 480}), equal.dst);
  }
  const ResizePlan stretch = PlanResize(352, 240, 640, 480, 9);
  EXPECT_EQ((PixelRect{0, 0, 352, 240}), stretch.src);
  EXPECT_EQ((PixelRect{0, 0, 640, 480}), stretch.dst);

  Image src = Pattern(320, 240, 24);
  Image dst(640, 480, 24, 0xEE);
  ASSERT_EQ(S_OK, Resize(src, dst, kModeFit));
  ExpectStretched(src, {0, 0, 320, 240}, dst, {0, 0, 640, 480}, 0xEE);
}

TEST(vxvideokit_ResizeGeometry, CentreCopiesTheMiddleOfALargerSource) {
  Image src = Pattern(640, 480, 32);
  Image dst(320, 240, 32, 0xEE);
  ASSERT_EQ(S_OK, Resize(src, dst, kModeCentre));
  for (LONG y = 0; y < 240; y += 7)
    for (LONG x = 0; x < 320; x += 5)
      ASSERT_EQ(0, std::memcmp(dst.Pixel(x, y), src.Pixel(160 + x, 120 + y), 4)) << x << "," << y;
  EXPECT_EQ(0, std::memcmp(dst.Pixel(319, 239), src.Pixel(479, 359), 4));
}

TEST(vxvideokit_ResizeGeometry, CentrePutsASmallerSourceOnABlackFrame) {
  Image src = Pattern(320, 240, 32);
  Image dst(640, 480, 32, 0xEE);
  ASSERT_EQ(S_OK, Resize(src, dst, kModeCentre));
  for (LONG y = 0; y < 480; ++y)
    for (LONG x = 0; x < 640; ++x) {
      const bool inside = x >= 160 && x < 480 && y >= 120 && y < 360;
      if (inside)
        ASSERT_EQ(0, std::memcmp(dst.Pixel(x, y), src.Pixel(x - 160, y - 120), 4));
      else
        ASSERT_EQ(0u, *reinterpret_cast<uint32_t*>(dst.Pixel(x, y))) << x << "," << y;
    }

  // Odd heights: the larger source is cut with the extra row taken from the top of memory.
  Image tall = Pattern(4, 7, 32);
  Image shortDst(4, 4, 32, 0xEE);
  ASSERT_EQ(S_OK, ResizeFrame(tall.Header(), tall.data.data(), tall.data.size(), shortDst.Header(),
                              shortDst.data.data(), shortDst.data.size(), kModeCentre));
  EXPECT_EQ(0, std::memcmp(shortDst.Pixel(0, 0), tall.Pixel(0, 2), 4));  // ceiling(3/2)
}

TEST(vxvideokit_ResizeGeometry, CentreRowCopiesStayInsideTheirRows) {
  // 1 pixel of 8 bits into 4: the rounded offset (4 bytes) plus a whole source stride would
  // reach into the next row; the copy is cut at the row end instead.
  Image src(1, 3, 8);
  src.data.assign(src.data.size(), 0x77);
  std::vector<BYTE> buffer(DibStride(4, 8) * 3 + 16, 0xAB);
  BITMAPINFOHEADER dh = src.Header();
  dh.biWidth = 4;
  ASSERT_EQ(S_OK, ResizeFrame(src.Header(), src.data.data(), src.data.size(), dh, buffer.data(),
                              DibStride(4, 8) * 3, kModeCentre));
  for (size_t i = DibStride(4, 8) * 3; i < buffer.size(); ++i) EXPECT_EQ(0xAB, buffer[i]) << i;
  for (LONG r = 0; r < 3; ++r) EXPECT_EQ(0, buffer[size_t(r) * 4]) << "row " << r << " starts with border";
}

TEST(vxvideokit_ResizeFrame, RefusesCompressedFramesAndShortBuffersWithoutTouchingTheOutput) {
  Image src = Pattern(16, 16, 32);
  Image dst(8, 8, 32, 0x3C);
  const std::vector<BYTE> before = dst.data;
  BITMAPINFOHEADER sh = src.Header(), dh = dst.Header();
  sh.biCompression = BI_RLE8;
  EXPECT_EQ(E_FAIL, ResizeFrame(sh, src.data.data(), src.data.size(), dh, dst.data.data(), dst.data.size(), kModeFit));
  sh.biCompression = BI_BITFIELDS;  // bit fields are fine on the input side
  EXPECT_EQ(S_OK, ResizeFrame(sh, src.data.data(), src.data.size(), dh, dst.data.data(), dst.data.size(), kModeStretch));
  dst.data = before;
  sh.biCompression = BI_RGB;
  dh.biCompression = BI_BITFIELDS;
  EXPECT_EQ(E_FAIL, ResizeFrame(sh, src.data.data(), src.data.size(), dh, dst.data.data(), dst.data.size(), kModeFit));
  dh.biCompression = BI_RGB;
  EXPECT_EQ(E_FAIL, ResizeFrame(sh, src.data.data(), src.data.size() - 1, dh, dst.data.data(), dst.data.size(), kModeFit));
  EXPECT_EQ(E_FAIL, ResizeFrame(sh, src.data.data(), src.data.size(), dh, dst.data.data(), dst.data.size() - 4, kModeFit));
  EXPECT_EQ(before, dst.data);
}
