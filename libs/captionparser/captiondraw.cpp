#include "libs/captionparser/captiondraw.h"

#include <algorithm>
#include <string>

#include "media/contract/codepage.h"

namespace captionparser {
namespace {

// Margin around the text area, percent of the area height.
constexpr CaptionSize kMargin{SizeUnit::Percent, 2};
// Outline pixels per 240 lines of frame height, on each side of the text (x2 in the allowance).
constexpr int kLinesPerOutlineStep = 240;

// No frame shows more than a few thousand characters legibly; a caption's text beyond this
// many UTF-16 units is left out of its layout and drawing, so a hostile caption (one line of
// megabytes) costs no more than a frame full of text.
constexpr size_t kMaxDrawnUnits = 8192;

// The runs' texts in UTF-16 as the two passes use them, together at most kMaxDrawnUnits
// units: the text of later runs is cut or left out.
std::vector<std::u16string> DrawnTexts(const CCaptionEntry& entry) {
  std::vector<std::u16string> texts;
  texts.reserve(entry.Runs().size());
  size_t budget = kMaxDrawnUnits;
  for (const CTextRun& run : entry.Runs()) {
    // An ANSI byte never gives more than one UTF-16 unit, so a prefix of four bytes per unit
    // left is enough; it is cut to the budget once converted.
    std::string_view ansi(run.text);
    if (ansi.size() > 4 * budget) ansi = ansi.substr(0, 4 * budget);
    std::u16string text = budget ? tav::AnsiToWide(ansi) : std::u16string();
    if (text.size() > budget) {
      text.resize(budget);
      if (!text.empty() && text.back() >= 0xD800 && text.back() <= 0xDBFF) text.pop_back();
    }
    budget -= std::min(budget, text.size());
    texts.push_back(std::move(text));
  }
  return texts;
}

const CCaptionStyle& StyleOf(const CTextRun& run) {
  static const CCaptionStyle defaults;
  return run.style ? *run.style : defaults;
}

// A font built for one run, selected into dc for the object's life.
class RunFont {
 public:
  RunFont(HDC dc, const CTextRun& run, const CCaptionStyle* sizeStyle, int base) : dc_(dc) {
    const LOGFONTW lf = BuildFont(StyleOf(run), sizeStyle, base, dc);
    font_.Reset(CreateFontIndirectW(&lf));
    old_ = font_ ? SelectObject(dc, font_.Get()) : nullptr;
  }
  // The font is deleted after this, once it is no longer selected.
  ~RunFont() {
    if (old_) SelectObject(dc_, old_);
  }
  RunFont(const RunFont&) = delete;
  RunFont& operator=(const RunFont&) = delete;

 private:
  HDC dc_;
  tav::GdiObjectPtr<HFONT> font_;
  HGDIOBJ old_ = nullptr;
};

SIZE Measure(HDC dc, std::u16string_view text) {
  SIZE s{0, 0};
  GetTextExtentPoint32W(dc, text.data(), int(text.size()), &s);
  return s;
}

struct TextArea {
  int left, top, right, bottom;
  int outline;  // u
};

TextArea ComputeTextArea(const CaptionArea& a, int textAreaPercent) {
  const int h = a.height;
  TextArea t{};
  t.top = a.top + h - (h * textAreaPercent + 50) / 100;
  t.left = a.left;
  t.right = a.left + a.width;
  // The bottom edge is the area's bottom; for an area at the frame's top this is the height.
  t.bottom = a.top + h;
  const int m = ResolveSize(kMargin, h, 96);
  t.left += m, t.top += m, t.right -= m, t.bottom -= m;
  t.outline = (h / kLinesPerOutlineStep) * 4;
  return t;
}

struct Line {
  int width = 0;
  int height = 0;
};

// First pass: wraps the runs into lines (widths and heights).
std::vector<Line> BuildLines(HDC dc, const CaptionArea& area, const TextArea& ta, const CCaptionEntry& entry,
                             const std::vector<std::u16string>& texts, const CCaptionStyle* sizeStyle) {
  std::vector<Line> lines;
  const int avail = ta.right - ta.left;
  const auto& runs = entry.Runs();
  int carry = 0;       // width of the current line's text in earlier runs
  int lineHeight = 0;  // greatest height measured for the current line so far
  auto endLine = [&](int width, int height) {
    // A line with nothing on it (a word too wide for the line, at the line's start) is not
    // kept: the word starts the next line instead.
    if (width > 0 || height > 0) lines.push_back(Line{width, height});
  };
  for (size_t r = 0; r < runs.size(); ++r) {
    const std::u16string& text = texts[r];
    if (text.empty()) continue;
    RunFont font(dc, runs[r], sizeStyle, area.height);
    const bool lastRun = r + 1 == runs.size();
    size_t lineStart = 0;           // where the current line's text begins in this run
    size_t fitEnd = 0;              // end (exclusive) of the fitting text; == lineStart: none
    for (size_t i = 0; i < text.size(); ++i) {
      const char16_t c = text[i];
      const bool last = i + 1 == text.size();
      if (c != u' ' && c != u'\n' && !last) continue;
      const std::u16string_view candidate(text.data() + lineStart, i + 1 - lineStart);
      const SIZE cs = Measure(dc, candidate);
      const int candWidth = carry + cs.cx;
      const int height = cs.cy + ta.outline;
      const bool fits = candWidth <= avail;
      if ((c == u'\n' && carry != 0) || (last && lastRun)) {
        if (fits) {
          endLine(candWidth, std::max(lineHeight, height));
        } else {
          // The line ends with what fits; the overflowing piece gets a line of its own rather
          // than being drawn past the last line.
          const std::u16string_view fitting(text.data() + lineStart, fitEnd - lineStart);
          endLine(carry + (fitting.empty() ? 0 : Measure(dc, fitting).cx), std::max(lineHeight, height));
          const std::u16string_view rest(text.data() + fitEnd, i + 1 - fitEnd);
          if (fitEnd != lineStart || carry != 0) {
            const SIZE rs = Measure(dc, rest);
            endLine(rs.cx, rs.cy + ta.outline);
          }
        }
        carry = 0;
        lineHeight = 0;
        lineStart = fitEnd = i + 1;
      } else if (fits) {
        lineHeight = std::max(lineHeight, height);
        fitEnd = i + 1;
        if (last) carry += cs.cx;
      } else {
        const std::u16string_view fitting(text.data() + lineStart, fitEnd - lineStart);
        endLine(carry + (fitting.empty() ? 0 : Measure(dc, fitting).cx), lineHeight);
        const std::u16string_view overflow(text.data() + fitEnd, i + 1 - fitEnd);
        const SIZE os = Measure(dc, overflow);
        carry = os.cx;
        lineHeight = os.cy + ta.outline;
        lineStart = fitEnd = i + 1;
      }
    }
  }
  return lines;
}

// The outline reaches this far beyond a word's measured box.
int OutlineReach(int base) { return 2 * (base / kLinesPerOutlineStep) + 2; }

// Draws the part of `word` (measured `width` wide, starting at the current position) that can
// show inside the area, and leaves the position after the whole word. A word that fits is
// drawn as it is; of one that overflows the area's sides, the characters wholly outside are
// left out, so a word of thousands of characters costs no more than a frame width of them.
void DrawVisiblePart(HDC dc, const CaptionArea& area, std::u16string_view word, int width) {
  POINT at{};
  GetCurrentPositionEx(dc, &at);
  const int reach = OutlineReach(area.height);
  const int left = area.left - reach, right = area.left + area.width + reach;
  if (at.x >= left && at.x + width <= right) {
    DrawOutlinedText(dc, area.height, word);
    return;
  }
  auto prefixWidth = [&](size_t n) { return n == 0 ? 0 : int(Measure(dc, word.substr(0, n)).cx); };
  // The shortest prefix that reaches the right edge (bisection over prefix widths).
  size_t end = word.size();
  if (at.x + width > right) {
    size_t lo = 0, hi = word.size();
    while (lo < hi) {
      const size_t mid = lo + (hi - lo) / 2;
      if (at.x + prefixWidth(mid) >= right) hi = mid;
      else lo = mid + 1;
    }
    end = std::min(word.size(), lo + 1);
  }
  // The longest prefix that ends before the left edge.
  size_t begin = 0;
  int skipped = 0;
  if (at.x < left) {
    size_t lo = 0, hi = end;
    while (lo < hi) {
      const size_t mid = lo + (hi - lo + 1) / 2;
      if (at.x + prefixWidth(mid) <= left) lo = mid;
      else hi = mid - 1;
    }
    begin = lo;
    skipped = prefixWidth(begin);
  }
  if (begin < end && at.x < right) {
    MoveToEx(dc, at.x + skipped, at.y, nullptr);
    DrawOutlinedText(dc, area.height, word.substr(begin, end - begin));
  }
  MoveToEx(dc, at.x + width, at.y, nullptr);
}

bool IsTrimmed(char16_t c) { return c == u'\n' || c == u'\b' || c == u'\t' || c == u'\r'; }

CaptionLayout LayoutTexts(HDC dc, const CaptionArea& area, const CCaptionEntry& entry,
                          const std::vector<std::u16string>& texts, const CCaptionStyle* sizeStyle,
                          int textAreaPercent) {
  CaptionLayout layout;
  if (area.height <= 0 || area.width <= 0) return layout;
  const TextArea ta = ComputeTextArea(area, textAreaPercent);
  layout.textArea = RECT{ta.left, ta.top, ta.right, ta.bottom};
  layout.outlineAllowance = ta.outline;
  const std::vector<Line> lines = BuildLines(dc, area, ta, entry, texts, sizeStyle);
  const int align = entry.Runs().empty() ? CCaptionStyle::kLeft : StyleOf(entry.Runs().front()).textAlign;
  int y = ta.top;
  for (const Line& line : lines) {
    RECT r{};
    if (align == CCaptionStyle::kCenter) {
      r.left = ta.left + (ta.right - ta.left - line.width) / 2;
    } else if (align == CCaptionStyle::kRight) {
      r.left = ta.right - line.width;
    } else {
      r.left = ta.left;
    }
    r.top = y;
    r.right = r.left + line.width;
    r.bottom = y + line.height;
    y += line.height;
    layout.lines.push_back(r);
  }
  // Vertical fit: a block taller than the text area ends at its bottom, but starts no higher
  // than the area's top edge.
  const int total = y - ta.top;
  if (!layout.lines.empty() && total > ta.bottom - ta.top) {
    const int shift = std::min(total - (ta.bottom - ta.top), std::max(0, ta.top - area.top));
    for (RECT& r : layout.lines) r.top -= shift, r.bottom -= shift;
  }
  return layout;
}

}  // namespace

LOGFONTW BuildFont(const CCaptionStyle& runStyle, const CCaptionStyle* sizeStyle, int base, HDC dc) {
  CCaptionStyle style;
  style.CopyUnflagged(runStyle);
  if (sizeStyle) style.MergeFrom(*sizeStyle);
  LOGFONTW lf{};
  const int size = ResolveSize(style.fontSize, base, GetDeviceCaps(dc, LOGPIXELSY));
  if (size != 0) {
    lf.lfHeight = -size;
  } else {
    BITMAP bm{};
    HGDIOBJ bitmap = GetCurrentObject(dc, OBJ_BITMAP);
    const int bitmapHeight = bitmap && GetObject(bitmap, sizeof(bm), &bm) ? bm.bmHeight : 0;
    lf.lfHeight = (bitmapHeight * -20) / 200;
  }
  lf.lfWeight = style.bold ? FW_BOLD : FW_NORMAL;
  lf.lfItalic = style.italic ? 1 : 0;
  lf.lfCharSet = DEFAULT_CHARSET;
  lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
  lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  lf.lfQuality = ANTIALIASED_QUALITY;
  lf.lfPitchAndFamily = DEFAULT_PITCH;
  const std::u16string face = tav::AnsiToWide(style.fontFamily);
  std::copy_n(face.begin(), std::min<size_t>(face.size(), LF_FACESIZE - 1), lf.lfFaceName);
  return lf;
}

CaptionLayout LayoutCaption(HDC dc, const CaptionArea& area, const CCaptionEntry& entry,
                            const CCaptionStyle* sizeStyle, int textAreaPercent) {
  return LayoutTexts(dc, area, entry, DrawnTexts(entry), sizeStyle, textAreaPercent);
}


void DrawOutlinedText(HDC dc, int base, std::u16string_view text) {
  const int oldMode = SetBkMode(dc, TRANSPARENT);
  const COLORREF oldColor = GetTextColor(dc);
  POINT at{};
  GetCurrentPositionEx(dc, &at);
  const int r = base / kLinesPerOutlineStep;
  SetTextColor(dc, RGB(255, 255, 255));
  if (tav::OutlinedTextOutW(dc, text.data(), int(text.size()), 2 * r)) {
    // The drawing layer draws the black copies and the white text in one go, pixel for pixel
    // as the loop below would.
    SetTextColor(dc, oldColor);
    if (oldMode) SetBkMode(dc, oldMode);
    return;
  }
  SetTextColor(dc, RGB(0, 0, 0));
  for (int dy = -2 * r; dy <= 2 * r; ++dy) {
    for (int dx = -2 * r; dx <= 2 * r; ++dx) {
      MoveToEx(dc, at.x + dx, at.y + dy, nullptr);
      TextOutW(dc, 0, 0, text.data(), int(text.size()));
    }
  }
  MoveToEx(dc, at.x, at.y, nullptr);
  SetTextColor(dc, RGB(255, 255, 255));
  TextOutW(dc, 0, 0, text.data(), int(text.size()));  // leaves the position after the text
  SetTextColor(dc, oldColor);
  if (oldMode) SetBkMode(dc, oldMode);
}

void DrawCaption(HDC dc, HBITMAP bitmap, const CaptionArea& area, const CCaptionEntry& entry,
                 const CCaptionStyle* sizeStyle, int textAreaPercent) {
  HGDIOBJ oldBitmap = bitmap ? SelectObject(dc, bitmap) : nullptr;
  const UINT oldAlign = SetTextAlign(dc, TA_UPDATECP | TA_TOP | TA_LEFT);
  POINT oldPosition{};
  GetCurrentPositionEx(dc, &oldPosition);

  const std::vector<std::u16string> texts = DrawnTexts(entry);
  const CaptionLayout layout = LayoutTexts(dc, area, entry, texts, sizeStyle, textAreaPercent);
  // Lines that start below the area cannot show; the lines only go down from there.
  const int areaBottom = area.top + area.height;
  if (!layout.lines.empty()) {
    size_t line = 0;
    int drawn = 0;
    bool belowArea = layout.lines[0].top >= areaBottom;
    MoveToEx(dc, layout.lines[0].left, layout.lines[0].top, nullptr);
    for (size_t r = 0; r < entry.Runs().size() && !belowArea; ++r) {
      const CTextRun& run = entry.Runs()[r];
      const std::u16string& text = texts[r];
      size_t b = 0, e = text.size();
      while (b < e && IsTrimmed(text[b])) ++b;
      while (e > b && IsTrimmed(text[e - 1])) --e;
      if (b == e) continue;
      RunFont font(dc, run, sizeStyle, area.height);
      const std::u16string_view body(text.data() + b, e - b);
      size_t start = 0;
      bool first = true;
      while (start < body.size() && !belowArea) {
        // A word runs to the next space; every word but the first keeps its leading space.
        size_t end = body.find(u' ', first ? 0 : start + 1);
        first = false;
        if (end == std::u16string_view::npos) end = body.size();
        std::u16string_view word = body.substr(start, end - start);
        start = end;
        if (word.empty()) continue;
        int width = Measure(dc, word).cx;
        if (drawn + width > layout.lines[line].right - layout.lines[line].left && line + 1 < layout.lines.size()) {
          ++line;
          if (layout.lines[line].top >= areaBottom) {
            belowArea = true;
            break;
          }
          MoveToEx(dc, layout.lines[line].left, layout.lines[line].top, nullptr);
          drawn = 0;
          // The line was measured from after the space it broke at: the word starts without it,
          // so the text stays inside the line's rectangle (and centred lines stay centred).
          if (word.size() > 1 && word.front() == u' ') {
            word.remove_prefix(1);
            width = Measure(dc, word).cx;
          }
        }
        DrawVisiblePart(dc, area, word, width);
        drawn += width;
      }
    }
  }

  MoveToEx(dc, oldPosition.x, oldPosition.y, nullptr);
  if (oldAlign != GDI_ERROR) SetTextAlign(dc, oldAlign);
  if (bitmap && oldBitmap) SelectObject(dc, oldBitmap);
}

}  // namespace captionparser
