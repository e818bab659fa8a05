#include "media/contract/guid.h"

#include <cstdio>

namespace tav {

std::string GuidToString(const GUID& g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2,
                g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                g.Data4[7]);
  return buf;
}

std::u16string GuidToWString(const GUID& g) {
  std::string s = GuidToString(g);
  return std::u16string(s.begin(), s.end());
}

namespace {
int HexValue(char32_t c) {
  if (c >= '0' && c <= '9') return int(c - '0');
  if (c >= 'a' && c <= 'f') return int(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return int(c - 'A' + 10);
  return -1;
}

template <typename Str>
bool Parse(Str text, GUID* out) {
  if (!out) return false;
  if (text.size() == 38) {
    if (text.front() != '{' || text.back() != '}') return false;
    text = text.substr(1, 36);
  }
  if (text.size() != 36) return false;
  BYTE bytes[16];
  size_t pos = 0;
  for (int i = 0; i < 16; ++i) {
    if (pos == 8 || pos == 13 || pos == 18 || pos == 23) {
      if (text[pos] != '-') return false;
      ++pos;
    }
    int hi = HexValue(char32_t(text[pos])), lo = HexValue(char32_t(text[pos + 1]));
    if (hi < 0 || lo < 0) return false;
    bytes[i] = BYTE(hi * 16 + lo);
    pos += 2;
  }
  out->Data1 = DWORD(bytes[0]) << 24 | DWORD(bytes[1]) << 16 | DWORD(bytes[2]) << 8 | bytes[3];
  out->Data2 = WORD(bytes[4] << 8 | bytes[5]);
  out->Data3 = WORD(bytes[6] << 8 | bytes[7]);
  for (int i = 0; i < 8; ++i) out->Data4[i] = bytes[8 + i];
  return true;
}
}  // namespace

bool GuidFromString(std::string_view text, GUID* out) { return Parse(text, out); }
bool GuidFromString(std::u16string_view text, GUID* out) { return Parse(text, out); }

}  // namespace tav
