#include "converter/engine/timetext.h"

#include <cstdio>

#include "converter/engine/strings.h"

namespace tav {

std::string FormatTime(REFERENCE_TIME t) {
  if (t == kUnknownTime) return res::Text(res::IDS_TIME_UNKNOWN);
  constexpr LONGLONG kHour = 36000000000LL, kMinute = 600000000LL, kSecond = 10000000LL;
  const LONGLONG hours = t / kHour;
  const LONGLONG rest = t - hours * kHour;
  const LONGLONG minutes = rest / kMinute;
  const LONGLONG seconds = (rest - minutes * kMinute) / kSecond;
  char buf[64];
  int n = 0;
  if (hours != 0) n = std::snprintf(buf, sizeof buf, "%lli:", static_cast<long long>(hours));
  std::snprintf(buf + n, sizeof buf - size_t(n), "%02lli:%02lli", static_cast<long long>(minutes),
                static_cast<long long>(seconds));
  return buf;
}

}  // namespace tav
