#include "converter/ui/form/sizetext.h"

#include <cctype>
#include <cinttypes>
#include <cstdio>

#include "converter/engine/strings.h"

namespace tav {

ULONGLONG ParseSize(const std::string& text) {
  unsigned long long value = 0;
  char suffix[2] = {};
  const int fields = std::sscanf(text.c_str(), "%llu%1s", &value, suffix);
  if (fields < 1) return 0;
  if (fields < 2) return value;
  const std::string& suffixes = res::Text(res::IDS_SIZE_SUFFIXES);
  const char wanted = static_cast<char>(std::toupper(static_cast<unsigned char>(suffix[0])));
  const size_t at = suffixes.find(wanted);
  if (at == std::string::npos) return value;
  constexpr unsigned long long kLimit = 0x7FFFFFFFFFFFFFFFULL / 1024;
  for (size_t p = 0; p <= at; ++p) {
    if (value > kLimit) break;
    value *= 1024;
  }
  return value;
}

std::string FormatSize(ULONGLONG bytes) {
  unsigned long long value = bytes;
  size_t steps = 0;
  // A step is taken only when it leaves at least two of the larger unit: 2,000,000 bytes
  // read "1953 K" rather than "1 M", while 15,728,640 bytes still read "15 M".
  while (value >= 2 * 1024) {
    value /= 1024;
    ++steps;
  }
  const std::string& suffixes = res::Text(res::IDS_SIZE_SUFFIXES);
  std::string text = std::to_string(value) + " ";
  if (steps >= 1 && steps <= 4 && steps <= suffixes.size()) text += suffixes[steps - 1];
  return text;
}

}  // namespace tav
