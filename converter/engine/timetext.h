// The time text used for durations, positions, elapsed and remaining times.
#pragma once

#include <string>

#include "media/contract/wintypes.h"

namespace tav {

// 100-ns units: the value for an unknown duration or remaining time.
constexpr REFERENCE_TIME kUnknownTime = 0x7FFFFFFFFFFFFFFFLL;

// "--:--" for kUnknownTime; otherwise "[h:]mm:ss" (hours only when not 0).
std::string FormatTime(REFERENCE_TIME t);

}  // namespace tav
