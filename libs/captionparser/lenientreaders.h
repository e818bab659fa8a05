// The readers the Subtitle Manager tries after SAMI and strict SubRip have refused a file:
// WebVTT and SSA/ASS (the tolerant SubRip reader is in subripreader.h). Each files its cues
// into the default entry list through FileCues and refuses a file that holds no caption.
#pragma once

#include <string>
#include <string_view>

namespace captionparser {

class CSubtitleState;

// A file whose first line is "WEBVTT" (alone or followed by white space and a title).
bool ParseWebVttFile(CSubtitleState& state, const std::string& path);
// A file with an [Events] section of Dialogue lines.
bool ParseSsaFile(CSubtitleState& state, const std::string& path);

// Entities of WebVTT cue text (also used for plain text elsewhere): &amp; &lt; &gt; &quot;
// &apos; &nbsp; &lrm; &rlm; and numeric references become their characters (in the ANSI code
// page); anything else stays as written.
std::string DecodeTextEntities(std::string_view text);

}  // namespace captionparser
