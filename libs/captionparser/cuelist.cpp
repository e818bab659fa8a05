#include "libs/captionparser/cuelist.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <set>
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
    while (i < text.size() && IsDigit(text[i])) {
      if (i - b == kMaxFieldDigits) return false;
      v = v * 10 + (text[i++] - '0');
    }
    if (i == b || count == 3) return false;
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
  // Nine digits a field keep the milliseconds in range; their count in 100-ns units may not
  // be (999999999 hours), and such a time names no real cue.
  const LONGLONG totalMillis = (h * 3600 + m * 60 + s) * 1000 + millis;
  if (totalMillis > std::numeric_limits<LONGLONG>::max() / kUnitsPerMilli) return false;
  *time = totalMillis * kUnitsPerMilli;
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

const CCaptionStyle* AddCueStyle(CSubtitleState& state, bool bold, bool italic) {
  auto style = std::make_unique<CCaptionStyle>();
  style->CopyUnflagged(state.DefaultStyle());
  style->textAlign = CCaptionStyle::kCenter;
  style->color = CaptionRgb(0xFF, 0xFF, 0xFF);
  style->backgroundColor = CaptionRgb(0x00, 0x00, 0x00);
  style->flags |= CCaptionStyle::kTextAlign | CCaptionStyle::kColor | CCaptionStyle::kBackgroundColor;
  if (bold) style->bold = true, style->flags |= CCaptionStyle::kBold;
  if (italic) style->italic = true, style->flags |= CCaptionStyle::kItalic;
  return state.AddStyle(std::move(style));
}

CueStyles AddCueStyles(CSubtitleState& state) {
  CueStyles styles;
  styles.plain = AddCueStyle(state);
  styles.bold = AddCueStyle(state, true, false);
  styles.italic = AddCueStyle(state, false, true);
  styles.boldItalic = AddCueStyle(state, true, true);
  return styles;
}

size_t FileCues(CSubtitleState& state, std::vector<TimedCue> cues, const CCaptionStyle* blankStyle) {
  cues.erase(std::remove_if(cues.begin(), cues.end(),
                            [](const TimedCue& c) { return c.end <= c.start || !HasText(c.runs); }),
             cues.end());
  std::stable_sort(cues.begin(), cues.end(), [](const TimedCue& a, const TimedCue& b) { return a.start < b.start; });

  // First the entries as lists of the cues they show (an empty list: a blank), then their runs;
  // a cue's runs are moved into the last entry that shows it rather than copied.
  struct Event {
    REFERENCE_TIME time;
    size_t first, count;  // in `shown`
  };
  std::vector<Event> events;
  std::vector<uint32_t> shown;
  std::vector<uint32_t> uses(cues.size(), 0);
  // Showing cues by their position in `cues` (start order), and their ends, soonest first.
  std::set<uint32_t> showing;
  using End = std::pair<REFERENCE_TIME, uint32_t>;
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
      showing.insert(uint32_t(next));
      ends.emplace(cues[next].end, uint32_t(next));
      ++next;
    }
    if (showing.empty() && blankShown) continue;
    blankShown = showing.empty();
    Event e{t, shown.size(), 0};
    for (uint32_t index : showing) {
      if (e.count == kMaxStackedCues) break;
      shown.push_back(index);
      ++uses[index];
      ++e.count;
    }
    events.push_back(e);
  }

  EntryList& out = state.DefaultEntries();
  out.reserve(out.size() + events.size());
  for (const Event& e : events) {
    auto entry = std::make_unique<CCaptionEntry>(e.time);
    if (e.count == 0) entry->AddRun(" ", blankStyle);
    for (size_t k = 0; k < e.count; ++k) {
      const uint32_t index = shown[e.first + k];
      std::vector<CTextRun>& runs = cues[index].runs;
      if (k > 0) entry->AppendRun(CTextRun{"\n", runs.front().style});
      if (--uses[index] == 0) {
        for (CTextRun& run : runs) entry->AppendRun(std::move(run));
        std::vector<CTextRun>().swap(runs);
      } else {
        for (const CTextRun& run : runs) entry->AppendRun(run);
      }
    }
    out.push_back(std::move(entry));
  }
  return cues.size();
}

}  // namespace captionparser
