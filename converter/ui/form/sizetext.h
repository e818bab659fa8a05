// Size texts of the form: the estimated output size ("15 M"), in steps of 1024 with the
// suffixes of the string table ("KMGT").
#pragma once

#include <string>

#include "media/contract/wintypes.h"

namespace tav {

// Divides by 1024 while that leaves at least 2, counting the steps n; the text is the
// value, a blank and the n-th suffix (nothing after the blank when there is none).
std::string FormatSize(ULONGLONG bytes);

}  // namespace tav
