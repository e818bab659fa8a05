// Section bitmaps, contexts, fills and block transfers. Bitmaps are deleted by hand: when
// DeleteObject refuses one is part of what is checked.
#include <gtest/gtest.h>

#include "platform/gdi/tests/gditest.h"

using namespace gditest;

namespace {

TEST(GdiBitmap, SectionsHaveTheRowOrderAndFormatOfTheirHeader) {
  struct Case {
    int bits;
    bool masks565;
    int height;
    WORD expect;  // 16-bit value of pure red, or 0 for byte formats
  } cases[] = {{16, false, 4, 0x7C00}, {16, true, 4, 0xF800}, {16, false, -4, 0x7C00}, {24, false, 4, 0},
               {24, false, -4, 0}, {32, false, 4, 0}, {32, false, -4, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bits << " bits, height " << c.height << (c.masks565 ? ", 565" : ""));
    Canvas cv(3, c.height, c.bits, c.masks565);
    ASSERT_NE(cv.bitmap, nullptr);
    ASSERT_NE(cv.pixels, nullptr);
    DIBSECTION ds{};
    ASSERT_EQ(GetObject(cv.bitmap, sizeof(ds), &ds), int(sizeof(ds)));
    EXPECT_EQ(ds.dsBm.bmWidth, 3);
    EXPECT_EQ(ds.dsBm.bmHeight, 4);
    EXPECT_EQ(ds.dsBm.bmBitsPixel, c.bits);
    EXPECT_EQ(ds.dsBm.bmWidthBytes, ((c.bits * 3 + 31) / 32) * 4);
    EXPECT_EQ(ds.dsBm.bmBits, cv.pixels);
    // Row 0 of the picture is the last row in memory for a positive height.
    Fill(cv.dc, RECT{1, 0, 2, 1}, RGB(255, 0, 0));
    const BYTE* first = static_cast<BYTE*>(cv.pixels);
    const BYTE* last = first + 3 * cv.stride;
    const BYTE* top = (c.height > 0 ? last : first) + cv.bpp;
    const BYTE* bottom = (c.height > 0 ? first : last) + cv.bpp;
    if (c.bits == 16) {
      EXPECT_EQ(WORD(top[0] | (top[1] << 8)), c.expect);
    } else {
      EXPECT_EQ(top[2], 255);
      EXPECT_EQ(top[1], 0);
      EXPECT_EQ(top[0], 0);
    }
    EXPECT_EQ(bottom[0] | bottom[1], 0);
    EXPECT_EQ(top[-cv.bpp] | top[cv.bpp], 0) << "neighbours untouched";
  }
}

TEST(GdiBitmap, RefusesHeadersItCannotDraw) {
  void* bits = reinterpret_cast<void*>(1);
  EXPECT_EQ(MakeSection(0, 4, 32, &bits), nullptr);
  EXPECT_EQ(bits, nullptr);
  EXPECT_EQ(MakeSection(4, 0, 32, &bits), nullptr);
  EXPECT_EQ(MakeSection(4, 4, 8, &bits), nullptr);
  EXPECT_EQ(CreateDIBSection(nullptr, nullptr, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
}

TEST(GdiBitmap, SelectionAndDeletionFollowOwnership) {
  HDC a = CreateCompatibleDC(nullptr);
  HDC b = CreateCompatibleDC(nullptr);
  void* px;
  HBITMAP bm = MakeSection(4, 4, 32, &px);
  HGDIOBJ initial = GetCurrentObject(a, OBJ_BITMAP);
  BITMAP one{};
  ASSERT_EQ(GetObject(initial, sizeof(one), &one), int(sizeof(one)));
  EXPECT_EQ(one.bmWidth, 1) << "a fresh context holds a 1 x 1 bitmap";
  EXPECT_FALSE(DeleteObject(initial));
  EXPECT_EQ(SelectObject(a, bm), initial);
  EXPECT_EQ(GetCurrentObject(a, OBJ_BITMAP), bm);
  EXPECT_EQ(SelectObject(b, bm), nullptr) << "a bitmap lives in one context at a time";
  EXPECT_FALSE(DeleteObject(bm)) << "selected bitmaps cannot be deleted";
  EXPECT_EQ(GetDeviceCaps(a, LOGPIXELSY), 96);
  EXPECT_EQ(GetDeviceCaps(a, HORZRES), 4);
  EXPECT_EQ(SelectObject(a, initial), bm);
  EXPECT_TRUE(DeleteObject(bm)) << "deselected by selecting the initial bitmap back";
  EXPECT_TRUE(DeleteDC(a));
  EXPECT_FALSE(DeleteObject(bm)) << "stale handle";
  EXPECT_EQ(SelectObject(b, bm), nullptr);
  EXPECT_EQ(GetObject(bm, sizeof(BITMAP), nullptr), 0);
  EXPECT_TRUE(DeleteDC(b));
  EXPECT_FALSE(DeleteDC(b));
  EXPECT_TRUE(GdiFlush());
}

TEST(GdiBitmap, WindowContextDrawsIntoTheWindowSurface) {
  HWND hwnd = reinterpret_cast<HWND>(0x1234);
  void* px;
  HBITMAP surface = MakeSection(8, 8, 32, &px);
  HDC none = GetDC(hwnd);
  EXPECT_EQ(WindowFromDC(none), hwnd);
  Fill(none, RECT{0, 0, 8, 8}, RGB(1, 2, 3));  // no surface yet: draws nothing
  EXPECT_EQ(ReleaseDC(hwnd, none), 1);
  ASSERT_TRUE(tav::SetWindowSurface(hwnd, surface));
  HDC dc = GetDC(hwnd);
  EXPECT_EQ(GetDeviceCaps(dc, HORZRES), 8);
  Fill(dc, RECT{0, 0, 8, 8}, RGB(10, 20, 30));
  EXPECT_FALSE(DeleteObject(surface)) << "in use by a window context";
  EXPECT_EQ(ReleaseDC(hwnd, dc), 1);
  EXPECT_EQ(static_cast<BYTE*>(px)[0], 30);
  EXPECT_EQ(static_cast<BYTE*>(px)[2], 10);
  EXPECT_TRUE(DeleteObject(surface));
  EXPECT_EQ(tav::GetWindowSurface(hwnd), nullptr) << "a deleted surface leaves the window";
}

TEST(GdiBitmap, FillRectIsClippedToTheBitmap) {
  Canvas cv(10, 10, 24);
  Fill(cv.dc, RECT{-5, -5, 3, 2}, RGB(0, 255, 0));
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) EXPECT_EQ(cv.Rgb(x, y), (x < 3 && y < 2) ? 0x00FF00u : 0u) << x << "," << y;
  HBRUSH nul = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
  RECT all{0, 0, 10, 10};
  FillRect(cv.dc, &all, nul);
  EXPECT_EQ(cv.Rgb(5, 5), 0u);
  EXPECT_FALSE(DeleteObject(nul));
}

TEST(GdiBitmap, BitBltCopiesBetweenFormatsAndRowOrders) {
  Canvas src(6, 6, 32);
  Canvas dst16(6, -6, 16, true);
  Canvas dst24(6, -6, 24);
  Fill(src.dc, RECT{0, 0, 6, 6}, RGB(0, 0, 255));
  Fill(src.dc, RECT{2, 1, 4, 3}, RGB(255, 255, 255));
  ASSERT_TRUE(BitBlt(dst24.dc, 0, 0, 6, 6, src.dc, 0, 0, SRCCOPY));
  ASSERT_TRUE(BitBlt(dst16.dc, 1, 1, 2, 2, src.dc, 2, 1, SRCCOPY));
  EXPECT_EQ(dst24.Rgb(2, 1), 0xFFFFFFu);
  EXPECT_EQ(dst24.Rgb(0, 0), 0x0000FFu);
  const BYTE* p = dst16.At(1, 1);
  EXPECT_EQ(WORD(p[0] | (p[1] << 8)), 0xFFFF);
  p = dst16.At(3, 3);
  EXPECT_EQ(WORD(p[0] | (p[1] << 8)), 0) << "outside the copied block";
  // Overlapping move within one bitmap reads the original pixels.
  ASSERT_TRUE(BitBlt(src.dc, 1, 1, 5, 5, src.dc, 0, 0, SRCCOPY));
  EXPECT_EQ(src.Rgb(3, 2), 0xFFFFFFu);
  EXPECT_EQ(src.Rgb(4, 4), 0x0000FFu);
  EXPECT_FALSE(BitBlt(dst24.dc, 0, 0, 1, 1, src.dc, 0, 0, 0x00EE0086)) << "only SRCCOPY";
}

TEST(GdiBitmap, StretchModesNearestAndAveraging) {
  // 4 x 1 source: black, white, black, white.
  Canvas src(4, 1, 32);
  Fill(src.dc, RECT{1, 0, 2, 1}, RGB(255, 255, 255));
  Fill(src.dc, RECT{3, 0, 4, 1}, RGB(255, 255, 255));
  Canvas dst(2, 1, 32);
  EXPECT_EQ(SetStretchBltMode(dst.dc, COLORONCOLOR), BLACKONWHITE);
  ASSERT_TRUE(StretchBlt(dst.dc, 0, 0, 2, 1, src.dc, 0, 0, 4, 1, SRCCOPY));
  for (int x = 0; x < 2; ++x) {
    const DWORD v = dst.Rgb(x, 0);
    EXPECT_TRUE(v == 0 || v == 0xFFFFFF) << "nearest sampling picks source pixels, got " << std::hex << v;
  }
  SetStretchBltMode(dst.dc, HALFTONE);
  ASSERT_TRUE(StretchBlt(dst.dc, 0, 0, 2, 1, src.dc, 0, 0, 4, 1, SRCCOPY));
  for (int x = 0; x < 2; ++x) EXPECT_NEAR(int(dst.Rgb(x, 0) & 0xFF), 128, 1) << "pairs averaged";

  // Enlarging 2 x 2 to 4 x 4 with nearest sampling: each source pixel becomes a 2 x 2 block.
  Canvas small(2, 2, 24);
  Fill(small.dc, RECT{0, 0, 1, 1}, RGB(255, 0, 0));
  Fill(small.dc, RECT{1, 1, 2, 2}, RGB(0, 255, 0));
  Canvas big(4, 4, 16);
  SetStretchBltMode(big.dc, COLORONCOLOR);
  ASSERT_TRUE(StretchBlt(big.dc, 0, 0, 4, 4, small.dc, 0, 0, 2, 2, SRCCOPY));
  auto word = [&](int x, int y) { const BYTE* p = big.At(x, y); return WORD(p[0] | (p[1] << 8)); };
  EXPECT_EQ(word(1, 1), 0x7C00);
  EXPECT_EQ(word(2, 2), 0x03E0);
  EXPECT_EQ(word(3, 0), 0);
  // Mirrored destination width flips the picture.
  Canvas flip(2, 2, 24);
  ASSERT_TRUE(StretchBlt(flip.dc, 2, 0, -2, 2, small.dc, 0, 0, 2, 2, SRCCOPY));
  EXPECT_EQ(flip.Rgb(1, 0), 0xFF0000u);
  EXPECT_EQ(flip.Rgb(0, 1), 0x00FF00u);
}

TEST(GdiBitmap, DibCallsCountBottomUpSourceRowsFromTheBottom) {
  // A 2 x 4 bottom-up 24-bit DIB whose memory rows are 10, 20, 30, 40 (bottom to top).
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), 2, 4, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  BYTE bits[4 * 8] = {};
  for (int r = 0; r < 4; ++r)
    for (int b = 0; b < 6; ++b) bits[r * 8 + b] = BYTE(10 * (r + 1));
  Canvas cv(2, 4, 32);
  EXPECT_EQ(StretchDIBits(cv.dc, 0, 0, 2, 4, 0, 0, 2, 4, bits, &info, DIB_RGB_COLORS, SRCCOPY), 4);
  EXPECT_EQ(cv.Rgb(0, 0) & 0xFF, 40u) << "top of the picture is the last memory row";
  EXPECT_EQ(cv.Rgb(0, 3) & 0xFF, 10u);
  // Source rectangle y = 1, height 2 (from the bottom): memory rows 1 and 2.
  Canvas two(2, 2, 32);
  StretchDIBits(two.dc, 0, 0, 2, 2, 0, 1, 2, 2, bits, &info, DIB_RGB_COLORS, SRCCOPY);
  EXPECT_EQ(two.Rgb(0, 0) & 0xFF, 30u);
  EXPECT_EQ(two.Rgb(0, 1) & 0xFF, 20u);
  // SetDIBitsToDevice: 1:1 copy, whole band.
  Canvas cp(2, 4, 24);
  EXPECT_EQ(SetDIBitsToDevice(cp.dc, 0, 0, 2, 4, 0, 0, 0, 4, bits, &info, DIB_RGB_COLORS), 4);
  EXPECT_EQ(cp.Rgb(1, 0) & 0xFF, 40u);
  EXPECT_EQ(cp.Rgb(1, 3) & 0xFF, 10u);
  // A band of scan lines 2..3 only (bits point at scan line 2).
  Canvas band(2, 4, 24);
  EXPECT_EQ(SetDIBitsToDevice(band.dc, 0, 0, 2, 4, 0, 0, 2, 2, bits + 2 * 8, &info, DIB_RGB_COLORS), 2);
  EXPECT_EQ(band.Rgb(0, 0) & 0xFF, 40u);
  EXPECT_EQ(band.Rgb(0, 1) & 0xFF, 30u);
  EXPECT_EQ(band.Rgb(0, 2) & 0xFF, 0u) << "lines not in the band are not drawn";
  info.bmiHeader.biBitCount = 8;
  EXPECT_EQ(StretchDIBits(cv.dc, 0, 0, 2, 4, 0, 0, 2, 4, bits, &info, DIB_RGB_COLORS, SRCCOPY), 0);
}

}  // namespace
