// Caption drawing: the text area, fonts per size class, line building, vertical fit and the
// outlined text, checked through the line rectangles and the drawn pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "libs/captionparser/captiondraw.h"
#include "media/contract/mediatypes.h"

using namespace captionparser;

namespace {

// A memory context with a section bitmap filled with a grey that text never produces.
struct Frame {
  Frame(int w, int h, int bits = 32) : width(w), height(h), bits(bits) {
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, WORD(bits), BI_RGB, 0, 0, 0, 0, 0};
    bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    stride = int(DibStride(w, bits));
    dc = CreateCompatibleDC(nullptr);
    BYTE* p = static_cast<BYTE*>(pixels);
    for (int i = 0; i < stride * h; ++i) p[i] = BYTE(0x5A + (i % 3) * 0x11);
    original.assign(p, p + stride * h);
  }
  ~Frame() {
    DeleteDC(dc);
    DeleteObject(bitmap);
  }
  const BYTE* At(int x, int y) const {
    return static_cast<const BYTE*>(pixels) + (height - 1 - y) * stride + x * (bits / 8);
  }
  bool Changed(int x, int y) const {
    const size_t off = (height - 1 - y) * stride + x * (bits / 8);
    return !std::equal(At(x, y), At(x, y) + bits / 8, original.data() + off);
  }
  // Channel values as 8 bits.
  void Rgb(int x, int y, int* r, int* g, int* b) const {
    const BYTE* p = At(x, y);
    if (bits == 16) {
      const int w = p[0] | (p[1] << 8);
      *r = ((w >> 10) & 31) << 3, *g = ((w >> 5) & 31) << 3, *b = (w & 31) << 3;
    } else {
      *r = p[2], *g = p[1], *b = p[0];
    }
  }
  bool White(int x, int y) const {
    int r, g, b;
    Rgb(x, y, &r, &g, &b);
    return r >= 0xF0 && g >= 0xF0 && b >= 0xF0;
  }
  bool Black(int x, int y) const {
    int r, g, b;
    Rgb(x, y, &r, &g, &b);
    return r <= 0x10 && g <= 0x10 && b <= 0x10;
  }
  CaptionLayout Layout(const CCaptionEntry& e, const CCaptionStyle* size) {
    HGDIOBJ old = SelectObject(dc, bitmap);
    CaptionLayout l = LayoutCaption(dc, CaptionArea{0, 0, width, height}, e, size);
    SelectObject(dc, old);
    return l;
  }
  void Draw(const CCaptionEntry& e, const CCaptionStyle* size) {
    DrawCaption(dc, bitmap, CaptionArea{0, 0, width, height}, e, size);
  }
  int width, height, bits, stride;
  void* pixels = nullptr;
  HBITMAP bitmap;
  HDC dc;
  std::vector<BYTE> original;
};

struct Styles {
  Styles() {
    centre.SetProperty("text-align", "center");
    left.SetProperty("text-align", "left");
    big.SetProperty("font-size", "8%");
    normal.SetProperty("font-size", "7%");
    small.SetProperty("font-size", "6%");
  }
  CCaptionStyle centre, left, big, normal, small;
};

CCaptionEntry Entry(const std::vector<std::string>& runs, const CCaptionStyle* style) {
  CCaptionEntry e(0);
  for (const std::string& r : runs) e.AddRun(r, style);
  return e;
}

bool Inside(const std::vector<RECT>& rects, int x, int y, int pad) {
  for (const RECT& r : rects)
    if (x >= r.left - pad && x < r.right + pad && y >= r.top - pad && y < r.bottom + pad) return true;
  return false;
}

// White only inside the line rectangles, black outline around the white, everything farther
// away untouched. Tolerance: antialiasing and the outline reach outside the rectangles.
void CheckPixels(const Frame& f, const CaptionLayout& layout, int expectLines) {
  ASSERT_EQ(int(layout.lines.size()), expectLines);
  const int outline = 2 * (f.height / 240);
  int white = 0, black = 0;
  for (int y = 0; y < f.height; ++y) {
    for (int x = 0; x < f.width; ++x) {
      if (!f.Changed(x, y)) continue;
      ASSERT_TRUE(Inside(layout.lines, x, y, outline + 2)) << "changed pixel outside the lines at " << x << "," << y;
      if (f.White(x, y)) {
        ++white;
        ASSERT_TRUE(Inside(layout.lines, x, y, 1)) << "white outside the lines at " << x << "," << y;
        if (outline > 0) {
          // The outline surrounds the glyphs: black lies within its reach.
          bool near = false;
          const int reach = outline + 2;
          for (int dy = -reach; dy <= reach && !near; ++dy)
            for (int dx = -reach; dx <= reach && !near; ++dx)
              near = x + dx >= 0 && x + dx < f.width && y + dy >= 0 && y + dy < f.height && f.Black(x + dx, y + dy);
          ASSERT_TRUE(near) << "no outline near " << x << "," << y;
        }
      } else if (f.Black(x, y)) {
        ++black;
      }
    }
  }
  EXPECT_GT(white, 10 * expectLines);
  EXPECT_GT(black, white / 2);
}

TEST(CaptionDraw, ShortCentredLineSitsAtTheTopOfTheTextArea) {
  Styles s;
  for (auto [w, h, top, margin] : {std::tuple{320, 240, 198, 6}, std::tuple{640, 480, 395, 11}}) {
    SCOPED_TRACE(testing::Message() << w << " x " << h);
    Frame f(w, h);
    const CCaptionEntry e = Entry({"Hello there"}, &s.centre);
    const CaptionLayout layout = f.Layout(e, nullptr);
    EXPECT_EQ(layout.textArea.left, margin);
    EXPECT_EQ(layout.textArea.right, w - margin);
    EXPECT_EQ(layout.textArea.bottom, h - margin);
    EXPECT_EQ(layout.outlineAllowance, (h / 240) * 4);
    ASSERT_EQ(layout.lines.size(), 1u);
    const RECT r = layout.lines[0];
    EXPECT_EQ(r.top, top);
    EXPECT_LE(std::abs((r.left - margin) - (w - margin - r.right)), 1) << "centred";
    f.Draw(e, nullptr);
    CheckPixels(f, layout, 1);
  }
}

TEST(CaptionDraw, SizeClassesGiveTheirCharacterHeights) {
  Styles s;
  HDC dc = CreateCompatibleDC(nullptr);
  struct Case {
    const CCaptionStyle* size;
    int at240, at480;
  } cases[] = {{nullptr, 25, 49}, {&s.big, 20, 39}, {&s.normal, 18, 35}, {&s.small, 15, 30}};
  int previous = 1000;
  for (const Case& c : cases) {
    EXPECT_EQ(BuildFont(s.centre, c.size, 240, dc).lfHeight, -c.at240);
    EXPECT_EQ(BuildFont(s.centre, c.size, 480, dc).lfHeight, -c.at480);
    // The measured line height follows.
    Frame f(320, 240);
    const CaptionLayout l = f.Layout(Entry({"Hg"}, &s.centre), c.size);
    ASSERT_EQ(l.lines.size(), 1u);
    const int lineHeight = l.lines[0].bottom - l.lines[0].top - l.outlineAllowance;
    EXPECT_GE(lineHeight, c.at240);
    if (c.size) {
      EXPECT_LT(lineHeight, previous);
    }
    previous = lineHeight;
  }
  CCaptionStyle styled;
  styled.SetProperty("font-weight", "bold");
  styled.SetProperty("font-style", "italic");
  styled.SetProperty("font-family", "Verdana, sans-serif");
  const LOGFONTW lf = BuildFont(styled, &s.big, 240, dc);
  EXPECT_EQ(lf.lfWeight, FW_BOLD);
  EXPECT_EQ(lf.lfItalic, 1);
  EXPECT_EQ(std::u16string(lf.lfFaceName), u"Verdana");
  EXPECT_EQ(lf.lfQuality, ANTIALIASED_QUALITY);
  EXPECT_EQ(lf.lfCharSet, DEFAULT_CHARSET);
  // A size of 0 takes a tenth of the selected bitmap's height.
  CCaptionStyle zero;
  zero.SetProperty("font-size", "0");
  EXPECT_EQ(BuildFont(zero, nullptr, 240, dc).lfHeight, 0) << "1 x 1 default bitmap";
  Frame f(320, 240);
  HGDIOBJ old = SelectObject(dc, f.bitmap);
  EXPECT_EQ(BuildFont(zero, nullptr, 240, dc).lfHeight, -24);
  SelectObject(dc, old);
  DeleteDC(dc);
}

TEST(CaptionDraw, LongTextWrapsAtSpacesAndMovesUp) {
  Styles s;
  Frame f(320, 240);
  const CCaptionEntry e =
      Entry({"The quick brown fox jumps over the lazy dog and keeps running far away"}, &s.left);
  const CaptionLayout layout = f.Layout(e, nullptr);
  ASSERT_GE(layout.lines.size(), 3u);
  for (const RECT& r : layout.lines) {
    EXPECT_EQ(r.left, 6) << "left aligned";
    EXPECT_LE(r.right, 314);
  }
  // Three lines of 25-pixel text do not fit 36 pixels: the block ends at the area's bottom.
  EXPECT_EQ(layout.lines.back().bottom, layout.textArea.bottom);
  EXPECT_LT(layout.lines.front().top, layout.textArea.top);
  for (size_t i = 1; i < layout.lines.size(); ++i) EXPECT_EQ(layout.lines[i].top, layout.lines[i - 1].bottom);
  f.Draw(e, nullptr);
  CheckPixels(f, layout, int(layout.lines.size()));
}

TEST(CaptionDraw, ManyLinesStopAtTheTopEdge) {
  Styles s;
  Frame f(320, 240);
  std::vector<std::string> runs;
  for (int i = 0; i < 30; ++i) {
    runs.push_back("line " + std::to_string(i));
    runs.push_back("\n");
  }
  const CCaptionEntry e = Entry(runs, &s.centre);
  const CaptionLayout layout = f.Layout(e, nullptr);
  ASSERT_EQ(layout.lines.size(), 30u);
  EXPECT_EQ(layout.lines.front().top, 0) << "moved up, but not past the frame's top";
  EXPECT_GT(layout.lines.back().bottom, 240) << "the rest falls off the bottom";
  f.Draw(e, nullptr);  // must not write outside the frame
  CheckPixels(f, layout, 30);
}

TEST(CaptionDraw, WordWiderThanTheLineGetsALineOfItsOwn) {
  Styles s;
  Frame f(320, 240);
  const CCaptionEntry e = Entry({"a WWWWWWWWWWWWWWWWWWWWWW b"}, &s.centre);
  const CaptionLayout layout = f.Layout(e, &s.small);
  ASSERT_EQ(layout.lines.size(), 3u);
  EXPECT_GT(layout.lines[1].right - layout.lines[1].left, 308) << "overflows the line";
  EXPECT_LT(layout.lines[0].right - layout.lines[0].left, 40);
  EXPECT_LT(layout.lines[2].right - layout.lines[2].left, 40);
  f.Draw(e, &s.small);
  // The middle line overflows the frame on both sides; only the other lines are checked closely.
  for (int y = 0; y < 240; ++y)
    for (int x = 0; x < 320; ++x)
      if (f.Changed(x, y)) {
        ASSERT_TRUE(Inside(layout.lines, x, y, 4)) << x << "," << y;
      }
}

TEST(CaptionDraw, LineBreaksEndLinesAndRepeatedBreaksCountOnce) {
  Styles s;
  Frame f(320, 240);
  const CaptionLayout one = f.Layout(Entry({"first", "\n", "second"}, &s.centre), nullptr);
  const CaptionLayout two = f.Layout(Entry({"first", "\n", "\n", "second"}, &s.centre), nullptr);
  ASSERT_EQ(one.lines.size(), 2u);
  ASSERT_EQ(two.lines.size(), 2u);
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(EqualRect(&one.lines[i], &two.lines[i])) << i;
  }
  const CCaptionEntry e = Entry({"first", "\n", "\n", "second"}, &s.centre);
  f.Draw(e, nullptr);
  CheckPixels(f, two, 2);
  // A break at the very start of the caption makes no empty line either.
  EXPECT_EQ(f.Layout(Entry({"\n", "alone"}, &s.centre), nullptr).lines.size(), 1u);
}

TEST(CaptionDraw, RunsShareLinesAndBlankEntriesDrawNothing) {
  Styles s;
  CCaptionStyle bold;
  bold.SetProperty("font-weight", "bold");
  Frame f(320, 240);
  CCaptionEntry e(0);
  e.AddRun("plain ", &s.centre);
  e.AddRun("bold", &bold);
  const CaptionLayout layout = f.Layout(e, nullptr);
  ASSERT_EQ(layout.lines.size(), 1u) << "runs continue the line";
  f.Draw(e, nullptr);
  CheckPixels(f, layout, 1);

  Frame blank(320, 240);
  blank.Draw(Entry({" "}, &s.centre), nullptr);
  blank.Draw(Entry({"\n"}, &s.centre), nullptr);
  blank.Draw(CCaptionEntry(0), nullptr);
  for (int y = 0; y < 240; ++y)
    for (int x = 0; x < 320; ++x) ASSERT_FALSE(blank.Changed(x, y)) << x << "," << y;
}

TEST(CaptionDraw, OtherDepthsAndTheContextStateAreKept) {
  Styles s;
  for (int bits : {16, 24}) {
    SCOPED_TRACE(bits);
    Frame f(320, 240, bits);
    const CCaptionEntry e = Entry({"Depth test"}, &s.centre);
    const CaptionLayout layout = f.Layout(e, nullptr);
    SetTextColor(f.dc, RGB(1, 2, 3));
    SetTextAlign(f.dc, TA_BASELINE);
    MoveToEx(f.dc, 7, 8, nullptr);
    f.Draw(e, nullptr);
    CheckPixels(f, layout, 1);
    EXPECT_EQ(GetTextColor(f.dc), RGB(1, 2, 3));
    EXPECT_EQ(GetTextAlign(f.dc), TA_BASELINE);
    POINT p{};
    GetCurrentPositionEx(f.dc, &p);
    EXPECT_EQ(p.x, 7);
    EXPECT_EQ(GetCurrentObject(f.dc, OBJ_BITMAP) == f.bitmap, false) << "bitmap deselected";
  }
}

TEST(CaptionDraw, KoreanCaptionRendersWithAKoreanFont) {
  Styles s;
  Frame f(320, 240);
  HDC dc = f.dc;
  HGDIOBJ old = SelectObject(dc, f.bitmap);
  const LOGFONTW lf = BuildFont(s.centre, nullptr, 240, dc);
  HFONT font = CreateFontIndirectW(&lf);
  HGDIOBJ oldFont = SelectObject(dc, font);
  const std::u16string hangul = u"\uC548\uB155";
  SIZE ext{};
  GetTextExtentPoint32W(dc, hangul.data(), 2, &ext);
  SelectObject(dc, oldFont);
  DeleteObject(font);
  SelectObject(dc, old);
  if (ext.cx < 25) GTEST_SKIP() << "no Korean-capable font installed (scripts/setup.sh installs fonts-nanum)";
  const CCaptionEntry e = Entry({"\xEC\x95\x88\xEB\x85\x95\xED\x95\x98\xEC\x84\xB8\xEC\x9A\x94 caption"}, &s.centre);
  const CaptionLayout layout = f.Layout(e, nullptr);
  f.Draw(e, nullptr);
  CheckPixels(f, layout, 1);
  EXPECT_GT(layout.lines[0].right - layout.lines[0].left, 5 * 20);
}

}  // namespace

// A caption of megabytes (one hostile line) is laid out and drawn like the part of it a frame
// can show: the work does not grow with the rest.
TEST(CaptionDrawing, HugeCaptionsCostNoMoreThanAFrameOfText) {
  Styles s;
  Frame f(320, 240);
  std::string words;
  while (words.size() < (3u << 20)) words += "hello world ";
  const CCaptionEntry many = Entry({words}, &s.centre);
  const CaptionLayout layout = f.Layout(many, nullptr);
  // The first lines wrap as those of a short caption do; far fewer lines than the text would
  // fill are laid out.
  const CaptionLayout head = f.Layout(Entry({words.substr(0, 600)}, &s.centre), nullptr);
  ASSERT_GT(head.lines.size(), 3u);
  ASSERT_GT(layout.lines.size(), head.lines.size());
  for (size_t i = 0; i + 1 < head.lines.size(); ++i) {
    EXPECT_EQ(layout.lines[i].right - layout.lines[i].left, head.lines[i].right - head.lines[i].left) << i;
  }
  EXPECT_LT(layout.lines.size(), 2000u);
  // Lines that start in the frame are drawn; the first one starts at the frame's top.
  EXPECT_EQ(layout.lines[0].top, 0);
  f.Draw(many, nullptr);
  EXPECT_TRUE(f.Changed(160, 10) || f.Changed(150, 10) || f.Changed(170, 10));

  // One word of megabytes: drawn (overflowing its line) without taking minutes.
  Frame g(320, 240);
  const CCaptionEntry word = Entry({std::string(3u << 20, 'x')}, &s.left);
  g.Draw(word, nullptr);
  bool changed = false;
  for (int x = 6; x < 314 && !changed; ++x) changed = g.Changed(x, 215);
  EXPECT_TRUE(changed);
}
