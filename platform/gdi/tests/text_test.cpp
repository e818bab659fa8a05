// Fonts, text extent and text output. Fonts are deleted by hand: when DeleteObject refuses
// one is part of what is checked.
#include <gtest/gtest.h>

#include <fontconfig/fontconfig.h>

#include <string>

#include "platform/gdi/tests/gditest.h"

using namespace gditest;

namespace {

SIZE Extent(HDC dc, HFONT font, std::u16string_view text) {
  HGDIOBJ old = SelectObject(dc, font);
  SIZE s{};
  EXPECT_TRUE(GetTextExtentPoint32W(dc, text.data(), int(text.size()), &s));
  SelectObject(dc, old);
  return s;
}

TEST(GdiText, ExtentGrowsWithHeightAndWeight) {
  HDC dc = CreateCompatibleDC(nullptr);
  int lastW = 0, lastH = 0;
  for (int h : {10, 15, 20, 25, 39, 49}) {
    HFONT f = MakeFont(-h);
    ASSERT_NE(f, nullptr);
    const SIZE s = Extent(dc, f, u"Hello world");
    EXPECT_GT(s.cx, lastW) << h;
    EXPECT_GT(s.cy, lastH) << h;
    EXPECT_GE(s.cy, h) << "the cell holds the character height";
    EXPECT_LE(s.cy, h * 3 / 2 + 2) << h;
    lastW = s.cx, lastH = s.cy;
    EXPECT_TRUE(DeleteObject(f));
  }
  HFONT normal = MakeFont(-20), bold = MakeFont(-20, u"Tahoma", FW_BOLD);
  EXPECT_GT(Extent(dc, bold, u"Hello world").cx, Extent(dc, normal, u"Hello world").cx);
  // A positive height is the cell height.
  HFONT cell = MakeFont(30);
  EXPECT_NEAR(Extent(dc, cell, u"Hg").cy, 30, 2);
  EXPECT_EQ(Extent(dc, normal, u"").cx, 0);
  EXPECT_GT(Extent(dc, normal, u"").cy, 0) << "an empty string still has a line height";
  LOGFONTW lf{};
  EXPECT_EQ(GetObject(bold, sizeof(lf), &lf), int(sizeof(lf)));
  EXPECT_EQ(lf.lfWeight, FW_BOLD);
  EXPECT_EQ(lf.lfHeight, -20);
  SelectObject(dc, normal);
  EXPECT_FALSE(DeleteObject(normal)) << "selected fonts stay";
  SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
  for (HFONT f : {normal, bold, cell}) EXPECT_TRUE(DeleteObject(f));
  DeleteDC(dc);
}

TEST(GdiText, UpdateCpMovesTheCurrentPositionByTheTextWidth) {
  Canvas cv(200, 50);
  HFONT f = MakeFont(-20);
  SelectObject(cv.dc, f);
  SIZE ab{}, a{};
  GetTextExtentPoint32W(cv.dc, u"ab", 2, &ab);
  GetTextExtentPoint32W(cv.dc, u"a", 1, &a);
  EXPECT_EQ(SetTextAlign(cv.dc, TA_UPDATECP), TA_TOP | TA_LEFT);
  MoveToEx(cv.dc, 10, 5, nullptr);
  ASSERT_TRUE(TextOutW(cv.dc, 999, 999, u"ab", 2)) << "position arguments are ignored";
  POINT p{};
  GetCurrentPositionEx(cv.dc, &p);
  EXPECT_EQ(p.x, 10 + ab.cx);
  EXPECT_EQ(p.y, 5);
  TextOutW(cv.dc, 0, 0, u"a", 1);
  GetCurrentPositionEx(cv.dc, &p);
  EXPECT_EQ(p.x, 10 + ab.cx + a.cx);
  // Without the flag the position stays and the text goes where it is told.
  SetTextAlign(cv.dc, TA_TOP | TA_LEFT);
  TextOutW(cv.dc, 150, 0, u"a", 1);
  GetCurrentPositionEx(cv.dc, &p);
  EXPECT_EQ(p.x, 10 + ab.cx + a.cx);
  // Right-aligned with the flag moves left.
  SetTextAlign(cv.dc, TA_UPDATECP | TA_RIGHT);
  MoveToEx(cv.dc, 100, 0, nullptr);
  TextOutW(cv.dc, 0, 0, u"a", 1);
  GetCurrentPositionEx(cv.dc, &p);
  EXPECT_EQ(p.x, 100 - a.cx);
  SelectObject(cv.dc, GetStockObject(DEFAULT_GUI_FONT));
  DeleteObject(f);
}

// Returns the bounding box of pixels that differ from `background`.
RECT Changed(const Canvas& cv, DWORD background) {
  RECT r{cv.width, cv.height, -1, -1};
  for (int y = 0; y < cv.height; ++y)
    for (int x = 0; x < cv.width; ++x)
      if (cv.Rgb(x, y) != background) {
        r.left = std::min<LONG>(r.left, x), r.top = std::min<LONG>(r.top, y);
        r.right = std::max<LONG>(r.right, x + 1), r.bottom = std::max<LONG>(r.bottom, y + 1);
      }
  return r;
}

TEST(GdiText, TransparentTextStaysInsideItsCellInEveryFormat) {
  for (int bits : {32, 24}) {
    for (int height : {60, -60}) {
      SCOPED_TRACE(testing::Message() << bits << " bits, height " << height);
      Canvas cv(200, height, bits);
      Fill(cv.dc, RECT{0, 0, 200, 60}, RGB(0, 0, 128));
      HFONT f = MakeFont(-24);
      SelectObject(cv.dc, f);
      SetBkMode(cv.dc, TRANSPARENT);
      SetTextColor(cv.dc, RGB(255, 255, 255));
      SIZE s{};
      GetTextExtentPoint32W(cv.dc, u"Tavrion", 7, &s);
      ASSERT_TRUE(TextOutW(cv.dc, 20, 10, u"Tavrion", 7));
      const RECT r = Changed(cv, 0x000080);
      EXPECT_GE(r.left, 20 - 2);
      EXPECT_GE(r.top, 10);
      EXPECT_LE(r.right, 20 + s.cx + 2);
      EXPECT_LE(r.bottom, 10 + s.cy);
      EXPECT_GT(r.right - r.left, s.cx / 2) << "text was drawn";
      int white = 0;
      for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x) white += cv.Rgb(x, y) == 0xFFFFFF;
      EXPECT_GT(white, 20);
      SelectObject(cv.dc, GetStockObject(DEFAULT_GUI_FONT));
      DeleteObject(f);
    }
  }
}

TEST(GdiText, SixteenBitTextAndOpaqueBackground) {
  Canvas cv(100, 40, 16, true);
  HFONT f = MakeFont(-20);
  SelectObject(cv.dc, f);
  SetTextColor(cv.dc, RGB(255, 255, 255));
  SetBkColor(cv.dc, RGB(255, 0, 0));
  ASSERT_TRUE(TextOutW(cv.dc, 0, 0, u"x", 1));  // opaque by default: the cell is filled
  const BYTE* p = cv.At(0, 0);
  EXPECT_EQ(WORD(p[0] | (p[1] << 8)), 0xF800);
  p = cv.At(99, 39);
  EXPECT_EQ(WORD(p[0] | (p[1] << 8)), 0);
  int white = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 100; ++x) {
      const BYTE* q = cv.At(x, y);
      white += WORD(q[0] | (q[1] << 8)) == 0xFFFF;
    }
  EXPECT_GT(white, 5);
  SelectObject(cv.dc, GetStockObject(DEFAULT_GUI_FONT));
  DeleteObject(f);
}

bool HaveKoreanFont() {
  FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(":lang=ko"));
  FcObjectSet* os = FcObjectSetBuild(FC_FAMILY, nullptr);
  FcFontSet* set = FcFontList(nullptr, pattern, os);
  const bool have = set && set->nfont > 0;
  if (set) FcFontSetDestroy(set);
  FcObjectSetDestroy(os);
  FcPatternDestroy(pattern);
  return have;
}

TEST(GdiText, KoreanTextFallsBackToAFontThatHasIt) {
  if (!HaveKoreanFont()) GTEST_SKIP() << "no Korean-capable font installed (scripts/setup.sh installs fonts-nanum)";
  Canvas cv(200, 50, 32);
  HFONT f = MakeFont(-24);  // "Tahoma" lacks Hangul (and is usually absent)
  SelectObject(cv.dc, f);
  SetBkMode(cv.dc, TRANSPARENT);
  SetTextColor(cv.dc, RGB(255, 255, 255));
  const std::u16string hangul = u"\uC548\uB155\uD558\uC138\uC694";  // five syllables
  SIZE s{};
  GetTextExtentPoint32W(cv.dc, hangul.data(), int(hangul.size()), &s);
  EXPECT_GE(s.cx, 5 * 24 * 3 / 4) << "full-width glyphs, not empty boxes";
  TextOutW(cv.dc, 5, 5, hangul.data(), int(hangul.size()));
  int lit = 0;
  for (int y = 0; y < 50; ++y)
    for (int x = 0; x < 200; ++x) lit += cv.Rgb(x, y) != 0;
  // A missing-glyph box draws only its outline; real syllables fill far more pixels.
  EXPECT_GT(lit, 5 * 60);
  SelectObject(cv.dc, GetStockObject(DEFAULT_GUI_FONT));
  DeleteObject(f);
}

}  // namespace

namespace {

// The outline shortcut must give exactly the pixels of the copies drawn one by one.
TEST(GdiText, OutlinedTextEqualsTheCopiesDrawnOneByOne) {
  for (int bits : {32, 24, 16}) {
    for (int radius : {0, 2, 4}) {
      for (POINT at : {POINT{20, 10}, POINT{-6, -5}, POINT{150, 40}}) {
        SCOPED_TRACE(testing::Message() << bits << " bits, radius " << radius << " at " << at.x << "," << at.y);
        Canvas a(180, 60, bits), b(180, 60, bits);
        for (Canvas* c : {&a, &b}) {
          BYTE* p = static_cast<BYTE*>(c->pixels);
          for (int i = 0; i < c->stride * 60; ++i) p[i] = BYTE(i * 37 + 11);
        }
        HFONT f = MakeFont(-(12 + 6 * radius));
        for (Canvas* c : {&a, &b}) {
          SelectObject(c->dc, f);
          SetTextAlign(c->dc, TA_UPDATECP);
          SetBkMode(c->dc, TRANSPARENT);
          SetTextColor(c->dc, RGB(255, 255, 255));
        }
        const std::u16string text = u"Outline gW";
        MoveToEx(a.dc, at.x, at.y, nullptr);
        ASSERT_TRUE(tav::OutlinedTextOutW(a.dc, text.data(), int(text.size()), radius));
        SetTextColor(b.dc, RGB(0, 0, 0));
        for (int dy = -radius; dy <= radius; ++dy)
          for (int dx = -radius; dx <= radius; ++dx) {
            MoveToEx(b.dc, at.x + dx, at.y + dy, nullptr);
            TextOutW(b.dc, 0, 0, text.data(), int(text.size()));
          }
        MoveToEx(b.dc, at.x, at.y, nullptr);
        SetTextColor(b.dc, RGB(255, 255, 255));
        TextOutW(b.dc, 0, 0, text.data(), int(text.size()));
        EXPECT_EQ(std::memcmp(a.pixels, b.pixels, size_t(a.stride) * 60), 0);
        POINT pa{}, pb{};
        GetCurrentPositionEx(a.dc, &pa);
        GetCurrentPositionEx(b.dc, &pb);
        EXPECT_EQ(pa.x, pb.x);
        for (Canvas* c : {&a, &b}) SelectObject(c->dc, GetStockObject(DEFAULT_GUI_FONT));
        DeleteObject(f);
      }
    }
  }
  Canvas c(10, 10);
  EXPECT_FALSE(tav::OutlinedTextOutW(c.dc, u"x", 1, 1)) << "needs TA_UPDATECP and TRANSPARENT";
}

}  // namespace
