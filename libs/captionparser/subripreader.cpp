#include "libs/captionparser/subripreader.h"

#include <memory>

#include "libs/captionparser/captionentry.h"
#include "libs/captionparser/captionstyle.h"
#include "libs/captionparser/cuelist.h"
#include "libs/captionparser/patterns.h"
#include "libs/captionparser/samireader.h"
#include "libs/captionparser/subtitlestate.h"
#include "libs/captionparser/subtitletext.h"
#include "libs/captionparser/textutil.h"

namespace captionparser {

namespace {

constexpr LONGLONG kUnitsPerSecond = 10'000'000;

}  // namespace

bool ParseTime(std::string_view text, REFERENCE_TIME* time) {
  RegexMatch m;
  if (!Patterns().time.Search(text, 0, &m) || !m.Matched(5)) return false;
  int hours = ParseDigits(m.Group(1));
  int minutes = ParseDigits(m.Group(2));
  int seconds = ParseDigits(m.Group(3));
  int millis = ParseDigits(m.Group(5));
  // At most 99:99:99,999, so the total fits 32 bits.
  int total = millis + minutes * 60'000 + hours * 3'600'000 + seconds * 1'000;
  *time = LONGLONG(total) * kUnitsPerSecond / 1000;
  return true;
}

bool ParseTimingLine(std::string_view line, REFERENCE_TIME* start, REFERENCE_TIME* end) {
  RegexMatch m;
  std::string squeezed;
  if (!MatchTimingLine(line, &m, &squeezed)) return false;
  return ParseTime(m.Group(1), start) && ParseTime(m.Group(2), end);
}

bool ParseSubRipFile(CSubtitleState& state, const std::string& path) {
  std::string text;
  if (!ReadSubtitleText(path, &text)) return false;
  std::vector<std::string_view> lines = SplitLines(text);
  size_t i = 0;
  int expected = 1;
  while (i < lines.size()) {
    std::string_view numberLine = lines[i++];
    if (numberLine.empty()) continue;
    if (ParseLeadingInt(numberLine) != expected) return false;
    // The cue counts from here on, whether or not its timing and text are usable.
    ++expected;
    if (i >= lines.size()) continue;
    REFERENCE_TIME start = 0, end = 0;
    if (!ParseTimingLine(lines[i++], &start, &end)) continue;

    std::string joined;
    while (i < lines.size()) {
      std::string_view line = TrimEdgeSpace(lines[i++]);
      if (line.empty()) break;
      if (!joined.empty()) joined += "<BR>";
      joined += line;
    }
    if (joined.empty()) continue;

    auto startEntry = std::make_unique<CCaptionEntry>(start);
    CCaptionDocument& doc = state.Document();
    doc.LoadText("<P>" + joined + "</P>");
    const CCaptionStyle* cueStyle = AddCueStyle(state);
    WalkElements(state, doc.Root()->firstChild, startEntry.get(), cueStyle);
    state.DefaultEntries().push_back(std::move(startEntry));
    auto endEntry = std::make_unique<CCaptionEntry>(end);
    endEntry->AddRun(" ", cueStyle);
    state.DefaultEntries().push_back(std::move(endEntry));
  }
  return true;
}

}  // namespace captionparser
