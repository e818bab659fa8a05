#include "media/contract/checkbytes.h"

#include <cstdlib>
#include <vector>

namespace tav {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// count bytes of hexadecimal text (spaces ignored); an empty text is count bytes of 0xFF.
bool ParseHex(const std::string& text, size_t count, std::vector<BYTE>* out) {
  std::string t;
  for (char c : text)
    if (c != ' ') t += c;
  if (t.empty()) {
    out->assign(count, 0xFF);
    return true;
  }
  if (t.size() != count * 2) return false;
  out->resize(count);
  for (size_t i = 0; i < count; ++i) {
    const int hi = HexValue(t[2 * i]), lo = HexValue(t[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    (*out)[i] = static_cast<BYTE>(hi * 16 + lo);
  }
  return true;
}

std::vector<std::string> SplitCommas(const std::string& s) {
  std::vector<std::string> parts;
  for (size_t start = 0;;) {
    const size_t comma = s.find(',', start);
    parts.push_back(s.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return parts;
}

// The largest group a line may ask for: check bytes are a few bytes of a header.
constexpr LONGLONG kMaxGroupBytes = 4096;

}  // namespace

bool CheckBytesMatch(const std::string& line, LONGLONG size, const CheckBytesReader& read) {
  const std::vector<std::string> parts = SplitCommas(line);
  if (parts.size() < 4 || parts.size() % 4 != 0) return false;
  for (size_t i = 0; i < parts.size(); i += 4) {
    LONGLONG offset = std::strtoll(parts[i].c_str(), nullptr, 10);
    const LONGLONG count = std::strtoll(parts[i + 1].c_str(), nullptr, 10);
    if (count <= 0 || count > kMaxGroupBytes) return false;
    if (offset < 0) offset += size;
    if (offset < 0 || offset + count > size) return false;
    std::vector<BYTE> mask, value, data(static_cast<size_t>(count), 0);
    if (!ParseHex(parts[i + 2], static_cast<size_t>(count), &mask) ||
        !ParseHex(parts[i + 3], static_cast<size_t>(count), &value))
      return false;
    if (!read(offset, static_cast<LONG>(count), data.data())) return false;
    for (size_t j = 0; j < data.size(); ++j)
      if ((data[j] & mask[j]) != value[j]) return false;
  }
  return true;
}

}  // namespace tav
