// The regular expressions of the subtitle source (PCRE 8, classic interface). Every pattern is
// compiled and studied once, when the library is loaded, and matched from a given offset.
//
// A few patterns start with a greedy run that PCRE retries from every later offset when the
// search fails, which costs time quadratic in the length of the subject (a 300 KB SAMI file
// with an unclosed "<" would take minutes). The Find* helpers below skip, in linear time, the
// offsets at which the pattern cannot match, and then let PCRE match from the first offset
// that can: the groups they report are exactly those of a plain search.
#pragma once

#include <cstddef>
#include <string_view>

struct real_pcre;   // pcre
struct pcre_extra;

namespace captionparser {

// The capture groups of one successful match. Offsets are into the searched subject.
class RegexMatch {
 public:
  static constexpr int kMaxGroups = 8;

  bool Matched(int group) const { return group < count_ && ovector_[2 * group] >= 0; }
  size_t Start(int group) const { return Matched(group) ? size_t(ovector_[2 * group]) : 0; }
  size_t End(int group) const { return Matched(group) ? size_t(ovector_[2 * group + 1]) : 0; }
  size_t Length(int group) const { return End(group) - Start(group); }
  // The group's text, empty when the group did not take part in the match.
  std::string_view Group(int group) const {
    return Matched(group) ? subject_.substr(Start(group), Length(group)) : std::string_view();
  }

 private:
  friend class CRegex;
  std::string_view subject_;
  int count_ = 0;
  int ovector_[3 * kMaxGroups] = {};
};

// One compiled pattern.
class CRegex {
 public:
  CRegex(const char* pattern, bool caseless);
  ~CRegex();
  CRegex(const CRegex&) = delete;
  CRegex& operator=(const CRegex&) = delete;

  // Leftmost match in subject at or after `start`. A subject longer than INT_MAX never matches.
  bool Search(std::string_view subject, size_t start, RegexMatch* match) const;
  // True when the pattern matches somewhere in the whole subject.
  bool Test(std::string_view subject) const;

  int CaptureCount() const { return captureCount_; }
  const char* Pattern() const { return pattern_; }

 private:
  const char* pattern_;
  real_pcre* code_ = nullptr;
  pcre_extra* extra_ = nullptr;
  int captureCount_ = 0;
};

// The patterns, as written in the format descriptions of SAMI and SubRip.
struct CaptionPatterns {
  // Mark-up.
  CRegex tag{"<\\s*(\\/?)(!|\\w+)([^>]*)\\s*>", false};
  CRegex attribute{"\\s*(\\w+)\\s*=\\s*((([^\\s\">]+)\"?)|(\"([^\">]*)\"))\\s*", false};
  CRegex integerValue{"^[0-9]+$", false};
  CRegex realValue{"^[0-9]+.[0-9]*$", false};
  CRegex booleanValue{"^true|false$", true};
  CRegex commentBody{"--([^<>]*)--", false};
  CRegex sizeValue{"^([0-9]+)([\\w%]*)$", false};
  CRegex entity{"&(\\w+);?", false};
  // Style sheets.
  CRegex styleRule{"([.#]?[\\w-]+)\\s*\\{([^{}]*)\\}", false};
  CRegex declaration{"\\s*([^:]+)\\s*:\\s*([^;]+)\\s*;?", false};
  // SubRip timing.
  CRegex timingLine{"\\s*(.+)\\s*-->\\s*(.+)\\s*", false};
  CRegex time{"(\\d{1,2}):(\\d{1,2}):(\\d{1,2})(,(\\d{1,3}))", false};
};

// The library's single set, compiled when the library is loaded.
const CaptionPatterns& Patterns();

// Guarded searches: the same match as Patterns().x.Search(text, from, m), in linear time.
bool FindTag(std::string_view text, size_t from, RegexMatch* m);
bool FindAttribute(std::string_view text, size_t from, RegexMatch* m);
bool FindStyleRule(std::string_view text, size_t from, RegexMatch* m);
bool FindDeclaration(std::string_view text, size_t from, RegexMatch* m);
// The timing-line pattern over one line (no line feed in it). Runs of white space are
// squeezed to one character first, so the groups may differ from a plain match in white
// space only; the times read from them are the same.
bool MatchTimingLine(std::string_view line, RegexMatch* m, std::string* squeezed);

// The character classes of the default PCRE tables: \s and \w.
bool IsPcreSpace(unsigned char c);
bool IsPcreWord(unsigned char c);

// Self-check mode for fuzzing and tests: every guarded search is repeated as a plain search
// and the markup tree's ancestor search as a literal walk; a difference aborts the process.
// Only subjects up to kSelfCheckMaxBytes are re-checked, to keep the plain searches cheap.
void SetSelfCheck(bool on);
bool SelfCheck();
constexpr size_t kSelfCheckMaxBytes = 1 << 16;
[[noreturn]] void SelfCheckFailed(const char* what);

}  // namespace captionparser
