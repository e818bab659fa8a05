// The SubRip reader: numbered cues with a timing line and text. Each cue gives two entries of
// the default list: its text at the start time and a blank at the end time.
#pragma once

#include <string>
#include <string_view>

#include "media/contract/wintypes.h"

namespace captionparser {

class CSubtitleState;

bool ParseSubRipFile(CSubtitleState& state, const std::string& path);
// The tolerant SubRip reader, for files the strict one refuses: cue numbers optional and in any
// order, lenient times (see ParseClockTime), cues without a timing line skipped, overlapping
// cues stacked. False when the file holds no caption at all.
bool ParseSubRipTolerant(CSubtitleState& state, const std::string& path);
// "00:00:01,500 --> 00:00:02,250": both times must read.
bool ParseTimingLine(std::string_view line, REFERENCE_TIME* start, REFERENCE_TIME* end);
// "h:m:s,ms" anywhere in the text (one or two digits per field, one to three for the
// milliseconds, read as a number: ",5" is 5 ms). 100-ns units.
bool ParseTime(std::string_view text, REFERENCE_TIME* time);

}  // namespace captionparser
