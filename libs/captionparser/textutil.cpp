#include "libs/captionparser/textutil.h"

#include <climits>

namespace captionparser {

namespace {
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }
}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

std::string AsciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Lower(c);
  return out;
}

std::string_view TrimEdgeSpace(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsEdgeSpace(s[b])) ++b;
  while (e > b && IsEdgeSpace(s[e - 1])) --e;
  return s.substr(b, e - b);
}

std::string CollapseEdgeSpace(std::string_view s) {
  std::string out;
  size_t b = 0;
  while (b < s.size() && IsEdgeSpace(s[b])) ++b;
  if (b > 0) out.push_back(' ');
  out.append(s.substr(b));
  size_t e = out.size();
  while (e > 0 && IsEdgeSpace(out[e - 1])) --e;
  if (e < out.size()) {
    out.resize(e);
    out.push_back(' ');
  }
  return out;
}

int ParseDigits(std::string_view digits) {
  long long v = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') break;
    v = v * 10 + (c - '0');
    if (v > INT_MAX) return INT_MAX;
  }
  return int(v);
}

int ParseLeadingInt(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  long long v = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    v = v * 10 + (s[i] - '0');
    if (v > INT_MAX) return negative ? INT_MIN : INT_MAX;
  }
  return int(negative ? -v : v);
}

}  // namespace captionparser
