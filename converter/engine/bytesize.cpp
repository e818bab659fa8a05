#include "converter/engine/bytesize.h"

#include <cstdio>
#include <vector>

#include "converter/engine/strings.h"

namespace tav {

std::string ByteSizeText(ULONGLONG bytes) {
  const std::vector<std::string> units = res::SplitItems(res::Text(res::IDS_SIZE_UNITS));
  const auto unit = [&](size_t i) { return i < units.size() ? units[i] : std::string(); };
  if (bytes < 1024) return std::to_string(bytes) + " " + unit(0);
  double value = double(bytes);
  size_t step = 0;
  // Rounded to one decimal, a value of 1023.95 or more reads as 1.0 of the next unit.
  while (value >= 1023.95 && step + 1 < units.size()) {
    value /= 1024.0;
    ++step;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return std::string(text) + " " + unit(step);
}

}  // namespace tav
