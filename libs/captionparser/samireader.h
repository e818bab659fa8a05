// The SAMI reader: style sheets become styles, languages and size classes; SYNC elements
// become caption entries filed per language. Its element walker also turns SubRip cue text
// into text runs.
#pragma once

#include <string>
#include <string_view>

namespace captionparser {

class CSubtitleState;
class CCaptionEntry;
class CCaptionStyle;
struct CMarkupNode;

// Reads the file through the state's document, tag by tag: captions are taken out of the BODY
// while it is tokenized, so the document never holds more than the open elements and the
// HEADs, and it is empty again afterwards. The result is that of reading the whole tree (the
// sheets of every HEAD, the last BODY). False when the file cannot be read, does not start with
// a SAMI element, or has no BODY; with headerOnly the captions are not read.
bool ParseSamiFile(CSubtitleState& state, const std::string& path, bool headerOnly);
// Adds the rules of a style sheet ("P {...}", ".ENCC {...}", "#Big {...}"). Always succeeds.
bool ParseStyleSheet(CSubtitleState& state, std::string_view text);
// Interprets `first` and its following siblings: captions, paragraphs, text, line breaks,
// italic, bold and font faces. Works with an explicit stack, so nesting depth costs no stack.
// With fontColor, a FONT element's "color" also sets the text colour (the tolerant SubRip
// reader); the SAMI and strict SubRip readers keep FONT to its face. Without syncElements a
// SYNC element is transparent like an unknown one: cue text that happens to hold one must not
// file captions of its own behind the reader's back.
struct WalkOptions {
  bool fontColor = false;
  bool syncElements = true;
};
bool WalkElements(CSubtitleState& state, const CMarkupNode* first, CCaptionEntry* entry,
                  const CCaptionStyle* style, const WalkOptions& options = {});

}  // namespace captionparser
