// SSA and ASS: sections in brackets; the styles section gives each style's bold and italic,
// the [Events] section's Dialogue lines the captions, with their fields in the order of the
// section's Format line (the usual order when there is none). Comment lines, layers,
// positions, effects and margins are ignored. In the text, override blocks ("{...}") are
// removed, "\N" and "\n" break the line and "\h" is a space.
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "libs/captionparser/cuelist.h"
#include "libs/captionparser/lenientreaders.h"
#include "libs/captionparser/subtitlestate.h"
#include "libs/captionparser/subtitletext.h"
#include "libs/captionparser/textutil.h"

namespace captionparser {

namespace {

enum class Section { kOther, kStyles, kEvents };

// "Key: value" with the key compared without case; the value with its leading white space
// removed. False when the line has another key.
bool LineValue(std::string_view line, std::string_view key, std::string_view* value) {
  if (line.size() <= key.size() || line[key.size()] != ':' || !EqualsNoCase(line.substr(0, key.size()), key)) {
    return false;
  }
  std::string_view v = line.substr(key.size() + 1);
  while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
  *value = v;
  return true;
}

// Splits at commas into at most `count` fields; the last takes the rest of the line (a text may
// hold commas).
std::vector<std::string_view> SplitFields(std::string_view v, size_t count) {
  std::vector<std::string_view> fields;
  while (fields.size() + 1 < count) {
    const size_t comma = v.find(',');
    if (comma == std::string_view::npos) break;
    fields.push_back(TrimEdgeSpace(v.substr(0, comma)));
    v.remove_prefix(comma + 1);
  }
  fields.push_back(fields.size() + 1 < count ? TrimEdgeSpace(v) : v);
  return fields;
}

// Field name (lower case) -> column.
std::unordered_map<std::string, size_t> ReadFormat(std::string_view v) {
  std::unordered_map<std::string, size_t> columns;
  size_t column = 0;
  for (std::string_view f : SplitFields(v, size_t(-1))) columns.emplace(AsciiLower(TrimEdgeSpace(f)), column++);
  return columns;
}

struct FontFlags {
  bool bold = false, italic = false;
};

// SSA writes -1 for true, ASS -1 or 1; 0 is false.
bool FlagValue(std::string_view v) { return !v.empty() && v != "0"; }

struct Columns {
  std::unordered_map<std::string, size_t> map;
  size_t Of(const char* name, size_t fallback) const {
    auto it = map.find(name);
    return it == map.end() ? fallback : it->second;
  }
};

// The text of a Dialogue line as runs: override blocks removed, line breaks as line-feed runs.
std::vector<CTextRun> DialogueRuns(std::string_view text, const CCaptionStyle* style) {
  std::vector<CTextRun> runs;
  std::string piece;
  auto flush = [&] {
    if (piece.empty()) return;
    CCaptionEntry scratch(0);
    scratch.AddPlainRun(piece, style);
    for (CTextRun& r : scratch.TakeRuns()) runs.push_back(std::move(r));
    piece.clear();
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '{') {
      const size_t close = text.find('}', i);
      if (close == std::string_view::npos) break;  // an unclosed block hides the rest
      i = close;
      continue;
    }
    if (c == '\\' && i + 1 < text.size()) {
      const char n = text[i + 1];
      if (n == 'N' || n == 'n') {
        flush();
        if (!runs.empty()) runs.push_back(CTextRun{"\n", style});
        ++i;
        continue;
      }
      if (n == 'h') {
        piece.push_back(' ');
        ++i;
        continue;
      }
    }
    piece.push_back(c);
  }
  flush();
  return runs;
}

}  // namespace

bool ParseSsaFile(CSubtitleState& state, const std::string& path) {
  std::string text;
  if (!ReadSubtitleText(path, &text)) return false;
  const std::vector<std::string_view> lines = SplitLines(text);

  const CueStyles styles = AddCueStyles(state);
  std::unordered_map<std::string, FontFlags> fileStyles;  // by lower-case name
  Columns styleColumns;
  styleColumns.map = ReadFormat("Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, "
                                "BackColour, Bold, Italic");
  Columns eventColumns;
  eventColumns.map = ReadFormat("Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text");
  Section section = Section::kOther;
  bool sawEvents = false;
  std::vector<TimedCue> cues;
  for (std::string_view raw : lines) {
    const std::string_view line = TrimEdgeSpace(raw);
    if (line.empty() || line[0] == ';') continue;
    if (line.front() == '[' && line.back() == ']') {
      const std::string name = AsciiLower(line.substr(1, line.size() - 2));
      section = name == "events" ? Section::kEvents
                : (name == "v4+ styles" || name == "v4 styles" || name == "v4 styles+") ? Section::kStyles
                                                                                        : Section::kOther;
      sawEvents |= section == Section::kEvents;
      continue;
    }
    std::string_view v;
    if (section == Section::kStyles) {
      if (LineValue(line, "Format", &v)) {
        styleColumns.map = ReadFormat(v);
      } else if (LineValue(line, "Style", &v)) {
        const std::vector<std::string_view> f = SplitFields(v, styleColumns.map.size());
        auto field = [&](const char* name, size_t fallback) {
          const size_t c = styleColumns.Of(name, fallback);
          return c < f.size() ? f[c] : std::string_view();
        };
        fileStyles[AsciiLower(field("name", 0))] = FontFlags{FlagValue(field("bold", 7)), FlagValue(field("italic", 8))};
      }
    } else if (section == Section::kEvents) {
      if (LineValue(line, "Format", &v)) {
        eventColumns.map = ReadFormat(v);
      } else if (LineValue(line, "Dialogue", &v)) {
        const size_t count = eventColumns.map.size();
        const std::vector<std::string_view> f = SplitFields(v, count);
        auto field = [&](const char* name, size_t fallback) {
          const size_t c = eventColumns.Of(name, fallback);
          return c < f.size() ? f[c] : std::string_view();
        };
        TimedCue cue;
        if (!ParseClockTime(field("start", 1), &cue.start) || !ParseClockTime(field("end", 2), &cue.end)) continue;
        std::string_view styleName = field("style", 3);
        while (!styleName.empty() && styleName.front() == '*') styleName.remove_prefix(1);
        FontFlags flags;
        if (auto it = fileStyles.find(AsciiLower(styleName)); it != fileStyles.end()) flags = it->second;
        // The text column is the last; a line with fewer fields has no text.
        const size_t textColumn = eventColumns.Of("text", count - 1);
        if (textColumn >= f.size()) continue;
        cue.runs = DialogueRuns(f[textColumn], styles.For(flags.bold, flags.italic));
        cues.push_back(std::move(cue));
      }
    }
  }
  if (!sawEvents) return false;
  return FileCues(state, std::move(cues), styles.plain) > 0;
}

}  // namespace captionparser
