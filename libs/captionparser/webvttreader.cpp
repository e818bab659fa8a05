// WebVTT: a "WEBVTT" header, then blocks separated by blank lines. A block is a cue (an
// optional identifier line, a timing line, text lines) or a NOTE, STYLE or REGION block, which
// is skipped. Cue settings after the end time are ignored. In cue text, <b> and <i> become
// bold and italic runs; <u>, class, voice, language and ruby tags and timestamps are
// transparent (their text shows, the tags do not); entities are decoded.
#include <string>
#include <string_view>
#include <vector>

#include "libs/captionparser/cuelist.h"
#include "libs/captionparser/lenientreaders.h"
#include "libs/captionparser/subtitlestate.h"
#include "libs/captionparser/subtitletext.h"
#include "libs/captionparser/textutil.h"
#include "media/contract/codepage.h"

namespace captionparser {

namespace {

bool StartsWithWord(std::string_view line, std::string_view word) {
  if (line.substr(0, word.size()) != word) return false;
  return line.size() == word.size() || line[word.size()] == ' ' || line[word.size()] == '\t';
}

bool IsBlank(std::string_view line) { return TrimEdgeSpace(line).empty(); }

// The numeric character reference's code point as ANSI text; empty when it is not one.
std::string NumericReference(std::string_view digits, bool hex) {
  unsigned long v = 0;
  if (digits.empty() || digits.size() > 8) return {};
  for (char c : digits) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return {};
    v = v * (hex ? 16 : 10) + unsigned(d);
  }
  if (v == 0 || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return {};
  std::u16string wide;
  if (v >= 0x10000) {
    v -= 0x10000;
    wide.push_back(char16_t(0xD800 + (v >> 10)));
    wide.push_back(char16_t(0xDC00 + (v & 0x3FF)));
  } else {
    wide.push_back(char16_t(v));
  }
  return tav::WideToAnsi(wide);
}

// Splits cue text into runs: one per stretch of the same bold/italic state, a line-feed run
// per line break.
class CueTextBuilder {
 public:
  CueTextBuilder(const CueStyles& styles) : styles_(styles) {}

  void AddLine(std::string_view line) {
    if (!runs_.empty() || !text_.empty()) {
      Flush();
      runs_.push_back(CTextRun{"\n", Style()});
    }
    size_t i = 0;
    while (i < line.size()) {
      if (line[i] != '<') {
        size_t lt = line.find('<', i);
        if (lt == std::string_view::npos) lt = line.size();
        text_ += line.substr(i, lt - i);
        i = lt;
        continue;
      }
      size_t gt = line.find('>', i);
      if (gt == std::string_view::npos) {
        // Not a tag: the rest is text.
        text_ += line.substr(i);
        break;
      }
      Tag(line.substr(i + 1, gt - i - 1));
      i = gt + 1;
    }
  }

  std::vector<CTextRun> Finish() {
    Flush();
    return std::move(runs_);
  }

 private:
  const CCaptionStyle* Style() const { return styles_.For(bold_ > 0, italic_ > 0); }

  void Flush() {
    if (text_.empty()) return;
    CCaptionEntry scratch(0);
    scratch.AddPlainRun(DecodeTextEntities(text_), Style());
    for (CTextRun& r : scratch.TakeRuns()) runs_.push_back(std::move(r));
    text_.clear();
  }

  void Tag(std::string_view tag) {
    const bool closing = !tag.empty() && tag[0] == '/';
    if (closing) tag.remove_prefix(1);
    size_t nameEnd = 0;
    while (nameEnd < tag.size() && tag[nameEnd] != '.' && tag[nameEnd] != ' ' && tag[nameEnd] != '\t') ++nameEnd;
    const std::string_view name = tag.substr(0, nameEnd);
    int* depth = name == "b" ? &bold_ : name == "i" ? &italic_ : nullptr;
    if (!depth) return;
    Flush();
    if (closing) {
      if (*depth > 0) --*depth;
    } else {
      ++*depth;
    }
  }

  const CueStyles& styles_;
  std::vector<CTextRun> runs_;
  std::string text_;
  int bold_ = 0, italic_ = 0;
};

}  // namespace

std::string DecodeTextEntities(std::string_view text) {
  static const struct {
    const char* name;
    const char* text;
  } kNamed[] = {{"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"}, {"nbsp", " "},
                {"lrm", ""},  {"rlm", ""}};
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const size_t amp = text.find('&', i);
    if (amp == std::string_view::npos) {
      out += text.substr(i);
      break;
    }
    out += text.substr(i, amp - i);
    i = amp + 1;
    // Entity names and references are short: look no further than the next few characters.
    const size_t semi = text.substr(i, 10).find(';');
    if (semi == std::string_view::npos) {
      out.push_back('&');
      continue;
    }
    const std::string_view name = text.substr(i, semi);
    std::string decoded;
    bool known = false;
    if (name.size() > 1 && name[0] == '#') {
      const bool hex = name[1] == 'x' || name[1] == 'X';
      decoded = NumericReference(name.substr(hex ? 2 : 1), hex);
      known = !decoded.empty();
    } else {
      for (const auto& n : kNamed) {
        if (name == n.name) {
          decoded = n.text;
          known = true;
          break;
        }
      }
    }
    if (!known) {
      out.push_back('&');
      continue;
    }
    out += decoded;
    i += semi + 1;
  }
  return out;
}

bool ParseWebVttFile(CSubtitleState& state, const std::string& path) {
  std::string text;
  if (!ReadSubtitleText(path, &text)) return false;
  const std::vector<std::string_view> lines = SplitLines(text);
  if (lines.empty() || !StartsWithWord(lines[0], "WEBVTT")) return false;

  const CueStyles styles = AddCueStyles(state);
  std::vector<TimedCue> cues;
  size_t i = 1;
  // The header block runs to the first blank line.
  while (i < lines.size() && !IsBlank(lines[i])) ++i;
  while (i < lines.size()) {
    if (IsBlank(lines[i])) {
      ++i;
      continue;
    }
    const std::string_view first = lines[i];
    size_t blockEnd = i;
    while (blockEnd < lines.size() && !IsBlank(lines[blockEnd])) ++blockEnd;
    if (StartsWithWord(first, "NOTE") || StartsWithWord(first, "STYLE") || StartsWithWord(first, "REGION")) {
      i = blockEnd;
      continue;
    }
    size_t timing = i;
    if (first.find("-->") == std::string_view::npos) ++timing;  // an identifier line
    TimedCue cue;
    if (timing >= blockEnd || !ParseCueTiming(lines[timing], &cue.start, &cue.end)) {
      i = blockEnd;
      continue;
    }
    CueTextBuilder builder(styles);
    for (size_t t = timing + 1; t < blockEnd; ++t) builder.AddLine(lines[t]);
    cue.runs = builder.Finish();
    cues.push_back(std::move(cue));
    i = blockEnd;
  }
  return FileCues(state, std::move(cues), styles.plain) > 0;
}

}  // namespace captionparser
