#include "libs/captionparser/patterns.h"

#include <pcre.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace captionparser {

namespace {

// None of the patterns repeats a group, so PCRE's recursion stays a few frames deep; the limit
// only guarantees that no subject can take the matcher deep into the stack.
constexpr unsigned long kMatchLimitRecursion = 5000;

std::atomic<bool> g_selfCheck{false};

}  // namespace

CRegex::CRegex(const char* pattern, bool caseless) : pattern_(pattern) {
  const char* error = nullptr;
  int errorOffset = 0;
  code_ = pcre_compile(pattern, caseless ? PCRE_CASELESS : 0, &error, &errorOffset, nullptr);
  if (!code_) {
    // The patterns are constants of this library: a failure is a build fault, not bad input.
    std::fprintf(stderr, "captionparser: pattern %s does not compile at %d: %s\n", pattern, errorOffset,
                 error ? error : "?");
    std::abort();
  }
  extra_ = pcre_study(code_, PCRE_STUDY_EXTRA_NEEDED, &error);
  if (!extra_) {
    std::fprintf(stderr, "captionparser: pattern %s cannot be studied: %s\n", pattern, error ? error : "?");
    std::abort();
  }
  extra_->flags |= PCRE_EXTRA_MATCH_LIMIT_RECURSION;
  extra_->match_limit_recursion = kMatchLimitRecursion;
  if (pcre_fullinfo(code_, extra_, PCRE_INFO_CAPTURECOUNT, &captureCount_) != 0 ||
      captureCount_ + 1 > RegexMatch::kMaxGroups) {
    std::fprintf(stderr, "captionparser: pattern %s has too many groups\n", pattern);
    std::abort();
  }
}

CRegex::~CRegex() {
  pcre_free_study(extra_);
  pcre_free(code_);
}

bool CRegex::Search(std::string_view subject, size_t start, RegexMatch* match) const {
  if (subject.size() > size_t(INT_MAX) || start > subject.size()) return false;
  int rc = pcre_exec(code_, extra_, subject.data(), int(subject.size()), int(start), 0, match->ovector_,
                     3 * RegexMatch::kMaxGroups);
  if (rc < 0) {
    // PCRE_ERROR_NOMATCH, or a limit reached: both read as "no match".
    if (rc != PCRE_ERROR_NOMATCH && SelfCheck()) SelfCheckFailed(pattern_);
    match->count_ = 0;
    return false;
  }
  // rc is one more than the highest group that took part; the groups after it are unset.
  for (int g = rc; g < RegexMatch::kMaxGroups; ++g) match->ovector_[2 * g] = match->ovector_[2 * g + 1] = -1;
  match->subject_ = subject;
  match->count_ = RegexMatch::kMaxGroups;
  return true;
}

bool CRegex::Test(std::string_view subject) const {
  RegexMatch m;
  return Search(subject, 0, &m);
}

const CaptionPatterns& Patterns() {
  static const CaptionPatterns patterns;
  return patterns;
}

namespace {
// Compiles the patterns when the library is loaded rather than on the first file.
const bool g_compiledAtLoad = (Patterns(), true);
}  // namespace

// --- character classes of the default tables ---------------------------------------------------

bool IsPcreSpace(unsigned char c) {
  // Space, HT, LF, VT (a white-space character since PCRE 8.34), FF, CR.
  return c == ' ' || (c >= '\t' && c <= '\r');
}

bool IsPcreWord(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

namespace {

size_t SkipSpace(std::string_view t, size_t i) {
  while (i < t.size() && IsPcreSpace(t[i])) ++i;
  return i;
}

bool SameMatch(const RegexMatch& a, const RegexMatch& b) {
  for (int g = 0; g < RegexMatch::kMaxGroups; ++g) {
    if (a.Matched(g) != b.Matched(g)) return false;
    if (a.Matched(g) && (a.Start(g) != b.Start(g) || a.End(g) != b.End(g))) return false;
  }
  return true;
}

// Runs the pattern from `candidate` (the first offset at which it can match, or npos) and, in
// self-check mode, compares with a plain search from `from`.
bool FinishSearch(const CRegex& re, std::string_view text, size_t from, size_t candidate, RegexMatch* m) {
  bool found = candidate != std::string_view::npos && re.Search(text, candidate, m);
  if (SelfCheck() && text.size() <= kSelfCheckMaxBytes) {
    RegexMatch plain;
    bool plainFound = re.Search(text, from, &plain);
    if (plainFound != found || (found && !SameMatch(plain, *m))) SelfCheckFailed(re.Pattern());
  }
  return found;
}

}  // namespace

// "<" [ws] ["/"] ("!" | word) ... ">": the match starts at the first "<" whose next characters
// fit, and ends at the first ">" after it.
bool FindTag(std::string_view text, size_t from, RegexMatch* m) {
  size_t candidate = std::string_view::npos;
  size_t s = from;
  std::string_view window = text;
  while (s < text.size()) {
    s = text.find('<', s);
    if (s == std::string_view::npos) break;
    size_t q = SkipSpace(text, s + 1);
    if (q < text.size() && text[q] == '/') ++q;
    if (q < text.size() && (text[q] == '!' || IsPcreWord(text[q]))) {
      size_t gt = text.find('>', q);
      // Without a ">" after this "<", no later "<" has one either.
      if (gt != std::string_view::npos) {
        candidate = s;
        window = text.substr(0, gt + 1);
      }
      break;
    }
    ++s;
  }
  bool found = candidate != std::string_view::npos && Patterns().tag.Search(window, candidate, m);
  // The window starts where the text starts, so the groups are views of the text itself.
  if (SelfCheck() && text.size() <= kSelfCheckMaxBytes) {
    RegexMatch plain;
    bool plainFound = Patterns().tag.Search(text, from, &plain);
    if (plainFound != found || (found && !SameMatch(plain, *m))) SelfCheckFailed("tag");
  }
  return found;
}

// [ws] word [ws] "=" [ws] (value | "quoted"): every offset inside one white-space-and-word
// stretch gives the same outcome, so a failed stretch is skipped whole.
bool FindAttribute(std::string_view text, size_t from, RegexMatch* m) {
  size_t candidate = std::string_view::npos;
  size_t s = from;
  while (s < text.size()) {
    size_t a = SkipSpace(text, s);
    if (a >= text.size()) break;
    if (!IsPcreWord(text[a])) {
      s = a + 1;
      continue;
    }
    size_t b = a;
    while (b < text.size() && IsPcreWord(text[b])) ++b;
    size_t c = SkipSpace(text, b);
    if (c < text.size() && text[c] == '=') {
      size_t d = SkipSpace(text, c + 1);
      if (d < text.size()) {
        char ch = text[d];
        if (!IsPcreSpace(ch) && ch != '"' && ch != '>') {
          candidate = s;
          break;
        }
        if (ch == '"') {
          size_t e = text.find_first_of("\">", d + 1);
          if (e != std::string_view::npos && text[e] == '"') {
            candidate = s;
            break;
          }
        }
      }
    }
    s = b;
  }
  return FinishSearch(Patterns().attribute, text, from, candidate, m);
}

// [.#] word-or-dash run [ws] "{" no braces "}".
bool FindStyleRule(std::string_view text, size_t from, RegexMatch* m) {
  auto isRuleChar = [](unsigned char c) { return IsPcreWord(c) || c == '-'; };
  size_t candidate = std::string_view::npos;
  size_t s = from;
  while (s < text.size()) {
    size_t a = s;
    while (a < text.size() && !isRuleChar(text[a])) ++a;
    if (a >= text.size()) break;
    size_t b = a;
    while (b < text.size() && isRuleChar(text[b])) ++b;
    size_t c = SkipSpace(text, b);
    if (c < text.size() && text[c] == '{') {
      size_t e = text.find_first_of("{}", c + 1);
      if (e != std::string_view::npos && text[e] == '}') {
        candidate = (a > s && (text[a - 1] == '.' || text[a - 1] == '#')) ? a - 1 : a;
        break;
      }
    }
    s = b;
  }
  return FinishSearch(Patterns().styleRule, text, from, candidate, m);
}

// Anything up to the first ":" (at least one character), then at least one character that is
// not ";".
bool FindDeclaration(std::string_view text, size_t from, RegexMatch* m) {
  size_t candidate = std::string_view::npos;
  size_t s = from;
  while (s < text.size()) {
    size_t c = text.find(':', s);
    if (c == std::string_view::npos) break;
    if (c > s && c + 1 < text.size() && text[c + 1] != ';') {
      candidate = s;
      break;
    }
    s = c + 1;
  }
  return FinishSearch(Patterns().declaration, text, from, candidate, m);
}

bool MatchTimingLine(std::string_view line, RegexMatch* m, std::string* squeezed) {
  squeezed->clear();
  squeezed->reserve(line.size());
  for (size_t i = 0; i < line.size(); ++i) {
    if (IsPcreSpace(line[i]) && i > 0 && IsPcreSpace(line[i - 1])) continue;
    squeezed->push_back(line[i]);
  }
  std::string_view text(*squeezed);
  // A match needs an arrow with at least one character before it and one after it; the
  // leftmost match then starts at offset 0.
  size_t arrow = text.size() > 1 ? text.find("-->", 1) : std::string_view::npos;
  size_t candidate = (arrow != std::string_view::npos && arrow + 3 < text.size()) ? 0 : std::string_view::npos;
  return FinishSearch(Patterns().timingLine, text, 0, candidate, m);
}

void SetSelfCheck(bool on) { g_selfCheck = on; }
bool SelfCheck() { return g_selfCheck.load(std::memory_order_relaxed); }

void SelfCheckFailed(const char* what) {
  std::fprintf(stderr, "captionparser self-check failed: %s\n", what);
  std::abort();
}

}  // namespace captionparser
