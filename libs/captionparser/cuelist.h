// Timed cues of the lenient readers (tolerant SubRip, WebVTT, SSA/ASS) and how they become
// caption entries. Cues may come in any order and overlap; the entry list they make is in
// ascending start order, so the manager's time lookup finds the right caption: while cues
// overlap, one entry shows all their texts, one above the other.
#pragma once

#include <string_view>
#include <vector>

#include "libs/captionparser/captionentry.h"
#include "media/contract/wintypes.h"

namespace captionparser {

class CCaptionStyle;
class CSubtitleState;

struct TimedCue {
  REFERENCE_TIME start = 0;
  REFERENCE_TIME end = 0;
  std::vector<CTextRun> runs;
};

// At most this many overlapping cues show at once (the earliest started); more would not fit
// the caption area, and the bound keeps hostile files linear.
inline constexpr size_t kMaxStackedCues = 8;

// Files the cues into the state's default entry list: an entry wherever the set of showing cues
// changes, holding their texts in start order (file order for equal starts) separated by line
// breaks, and a blank entry (one space in `blankStyle`) where nothing shows. Cues without text
// or that end before they start are left out. The number of cues filed is returned.
size_t FileCues(CSubtitleState& state, std::vector<TimedCue> cues, const CCaptionStyle* blankStyle);

// A clock time "[h:]m:s[.f]" or with "," before the fraction; white space around it is allowed.
// One to three fraction digits are a fraction of a second ("5" is 500 ms), further digits are
// ignored. False for anything else. 100-ns units.
bool ParseClockTime(std::string_view text, REFERENCE_TIME* time);
// "start --> end [anything]": the end is the first word after the arrow; what follows it
// (positions, cue settings) is ignored.
bool ParseCueTiming(std::string_view line, REFERENCE_TIME* start, REFERENCE_TIME* end);

// Adds centred white text on black, the look of cue captions (SubRip's and every lenient
// reader's), to the state, bold and italic as asked; the style added.
const CCaptionStyle* AddCueStyle(CSubtitleState& state, bool bold = false, bool italic = false);

// That style made once per file, and its bold, italic and bold italic forms.
struct CueStyles {
  const CCaptionStyle* plain = nullptr;
  const CCaptionStyle* bold = nullptr;
  const CCaptionStyle* italic = nullptr;
  const CCaptionStyle* boldItalic = nullptr;
  const CCaptionStyle* For(bool b, bool i) const { return b ? (i ? boldItalic : bold) : (i ? italic : plain); }
};
CueStyles AddCueStyles(CSubtitleState& state);

}  // namespace captionparser
