// The tolerant SubRip reader. Lines are classified rather than expected in a fixed order:
// a line with "-->" starts a cue (a bad time there makes the cue skipped up to the next one),
// a lone number right before such a line is the cue's number, and a lone number starting a
// block that has no timing line is a cue that lost its timing: that block is skipped. Other
// lines are text of the current cue; text after a blank line that starts no cue still belongs
// to the cue before it, so a stray empty line inside a cue loses nothing.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "libs/captionparser/captiondocument.h"
#include "libs/captionparser/cuelist.h"
#include "libs/captionparser/samireader.h"
#include "libs/captionparser/subripreader.h"
#include "libs/captionparser/subtitlestate.h"
#include "libs/captionparser/subtitletext.h"
#include "libs/captionparser/textutil.h"

namespace captionparser {

namespace {

bool IsNumberLine(std::string_view trimmed) {
  if (trimmed.empty()) return false;
  for (char c : trimmed) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

bool HasArrow(std::string_view line) { return line.find("-->") != std::string_view::npos; }

// Override blocks of SSA-style renderers ("{\an8}", "{\pos(1,2)}") are not text; "\N" is a
// line break. A brace not followed by a backslash is kept as written.
std::string CleanCueLine(std::string_view line) {
  std::string out;
  out.reserve(line.size());
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '{' && i + 1 < line.size() && line[i + 1] == '\\') {
      const size_t close = line.find('}', i);
      if (close != std::string_view::npos) {
        i = close;
        // "a {\an8} b" reads "a b", not "a  b".
        if (!out.empty() && out.back() == ' ' && i + 1 < line.size() && line[i + 1] == ' ') ++i;
        continue;
      }
    }
    if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == 'N') {
      out += "<BR>";
      ++i;
      continue;
    }
    out.push_back(line[i]);
  }
  return out;
}

struct PendingCue {
  REFERENCE_TIME start = 0, end = 0;
  std::string text;  // lines joined with <BR>
};

}  // namespace

bool ParseSubRipTolerant(CSubtitleState& state, const std::string& path) {
  std::string text;
  if (!ReadSubtitleText(path, &text)) return false;
  const std::vector<std::string_view> lines = SplitLines(text);

  std::vector<PendingCue> pending;
  bool inCue = false;      // text lines go to pending.back()
  bool blockStart = true;  // the previous line was blank (or there was none)
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string_view trimmed = TrimEdgeSpace(lines[i]);
    if (trimmed.empty()) {
      blockStart = true;
      continue;
    }
    const bool wasBlockStart = blockStart;
    blockStart = false;
    if (IsNumberLine(trimmed) && i + 1 < lines.size() && HasArrow(lines[i + 1])) continue;  // its number
    if (HasArrow(trimmed)) {
      PendingCue cue;
      inCue = ParseCueTiming(trimmed, &cue.start, &cue.end);
      if (inCue) pending.push_back(std::move(cue));
      continue;
    }
    if (wasBlockStart && IsNumberLine(trimmed)) {
      inCue = false;  // a numbered cue without its timing line
      continue;
    }
    if (!inCue) continue;
    std::string& joined = pending.back().text;
    if (!joined.empty()) joined += "<BR>";
    joined += CleanCueLine(trimmed);
  }

  const CueStyles styles = AddCueStyles(state);
  CCaptionDocument& doc = state.Document();
  std::vector<TimedCue> cues;
  cues.reserve(pending.size());
  WalkOptions options;
  options.fontColor = true;
  for (PendingCue& p : pending) {
    if (p.text.empty()) continue;
    doc.LoadText("<P>" + p.text + "</P>");
    std::string().swap(p.text);
    CCaptionEntry entry(p.start);
    WalkElements(state, doc.Root()->firstChild, &entry, styles.plain, options);
    cues.push_back(TimedCue{p.start, p.end, entry.TakeRuns()});
  }
  doc.Clear();
  return FileCues(state, std::move(cues), styles.plain) > 0;
}

}  // namespace captionparser
