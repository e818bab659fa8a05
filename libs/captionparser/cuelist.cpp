#include "libs/captionparser/cuelist.h"

#include <algorithm>
#include <map>
#include <memory>
#include <queue>
#include <utility>

#include "libs/captionparser/captionstyle.h"
#include "libs/captionparser/patterns.h"
#include "libs/captionparser/subtitlestate.h"
#include "libs/captionparser/textutil.h"

namespace captionparser {

namespace {

constexpr LONGLONG kUnitsPerMilli = 10'000;
// Fields longer than this are not times; the limit also keeps the arithmetic far from overflow.
constexpr size_t kMaxFieldDigits = 9;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool HasText(const std::vector<CTextRun>& runs) {
  for (const CTextRun& r : runs) {
    if (!TrimEdgeSpace(r.text).empty() && r.text != "\n") return true;
  }
  return false;
}

}  // namespace

bool ParseClockTime(std::string_view text, REFERENCE_TIME* time) {
  text = TrimEdgeSpace(text);
  LONGLONG fields[3] = {};
  int count = 0;
  size_t i = 0;
  for (;;) {
    size_t b = i;
    LONGLONG v = 0;
    while (i < text.size() && IsDigit(text[i])) v = v * 10 + (text[i++] - '0');
    if (i == b || i - b > kMaxFieldDigits || count == 3) return false;
    fields[count++] = v;
    if (i < text.size() && text[i] == ':') {
      ++i;
      continue;
    }
    break;
  }
  if (count < 2) return false;
  LONGLONG millis = 0;
  if (i < text.size() && (text[i] == ',' || text[i] == '.')) {
    ++i;
    size_t b = i;
    int scale = 100;
    while (i < text.size() && IsDigit(text[i])) {
      if (scale > 0) millis += (text[i] - '0') * scale;
      scale /= 10;
      ++i;
    }
    if (i == b) return false;
  }
  if (i != text.size()) return false;
  const LONGLONG h = count == 3 ? fields[0] : 0;
  const LONGLONG m = fields[count - 2];
  const LONGLONG s = fields[count - 1];
  *time = ((h * 3600 + m * 60 + s) * 1000 + millis) * kUnitsPerMilli;
  return true;
}

bool ParseCueTiming(std::string_view line, REFERENCE_TIME* start, REFERENCE_TIME* end) {
  const size_t arrow = line.find("-->");
  if (arrow == std::string_view::npos) return false;
  std::string_view after = line.substr(arrow + 3);
  size_t b = 0;
  while (b < after.size() && IsPcreSpace(static_cast<unsigned char>(after[b]))) ++b;
  size_t e = b;
  while (e < after.size() && !IsPcreSpace(static_cast<unsigned char>(after[e]))) ++e;
  return ParseClockTime(line.substr(0, arrow), start) && ParseClockTime(after.substr(b, e - b), end);
}

CueStyles AddCueStyles(CSubtitleState& state) {
  auto make = [&](bool bold, bool italic) {
    auto style = std::make_unique<CCaptionStyle>();
    style->CopyUnflagged(state.DefaultStyle());
    style->textAlign = CCaptionStyle::kCenter;
    style->color = CaptionRgb(0xFF, 0xFF, 0xFF);
    style->backgroundColor = CaptionRgb(0x00, 0x00, 0x00);
    style->flags |= CCaptionStyle::kTextAlign | CCaptionStyle::kColor | CCaptionStyle::kBackgroundColor;
    if (bold) style->bold = true, style->flags |= CCaptionStyle::kBold;
    if (italic) style->italic = true, style->flags |= CCaptionStyle::kItalic;
    return state.AddStyle(std::move(style));
  };
  CueStyles styles;
  styles.plain = make(false, false);
  styles.bold = make(true, false);
  styles.italic = make(false, true);
  styles.boldItalic = make(true, true);
  return styles;
}

size_t FileCues(CSubtitleState& state, std::vector<TimedCue> cues, const CCaptionStyle* blankStyle) {
  cues.erase(std::remove_if(cues.begin(), cues.end(),
                            [](const TimedCue& c) { return c.end <= c.start || !HasText(c.runs); }),
             cues.end());
  std::stable_sort(cues.begin(), cues.end(), [](const TimedCue& a, const TimedCue& b) { return a.start < b.start; });

  EntryList& out = state.DefaultEntries();
  // Showing cues by their position in `cues` (start order), and their ends, soonest first.
  std::map<size_t, REFERENCE_TIME> showing;
  using End = std::pair<REFERENCE_TIME, size_t>;
  std::priority_queue<End, std::vector<End>, std::greater<End>> ends;
  size_t next = 0;
  bool blankShown = true;  // nothing shows before the first cue
  while (next < cues.size() || !ends.empty()) {
    REFERENCE_TIME t = next < cues.size() ? cues[next].start : ends.top().first;
    if (!ends.empty()) t = std::min(t, ends.top().first);
    while (!ends.empty() && ends.top().first <= t) {
      showing.erase(ends.top().second);
      ends.pop();
    }
    while (next < cues.size() && cues[next].start <= t) {
      showing.emplace(next, cues[next].end);
      ends.emplace(cues[next].end, next);
      ++next;
    }
    auto entry = std::make_unique<CCaptionEntry>(t);
    size_t stacked = 0;
    for (const auto& [index, cueEnd] : showing) {
      if (stacked++ == kMaxStackedCues) break;
      const std::vector<CTextRun>& runs = cues[index].runs;
      if (stacked > 1) entry->AppendRun(CTextRun{"\n", runs.front().style});
      for (const CTextRun& run : runs) entry->AppendRun(run);
    }
    if (stacked == 0) {
      if (blankShown) continue;
      entry->AddRun(" ", blankStyle);
      blankShown = true;
    } else {
      blankShown = false;
    }
    out.push_back(std::move(entry));
  }
  return cues.size();
}

}  // namespace captionparser
