#include "converter/ui/form/sizetext.h"

#include <string>

#include "converter/engine/strings.h"

namespace tav {

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
