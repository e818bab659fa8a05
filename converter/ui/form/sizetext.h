// Size texts of the form: the split list's items ("32 M") and the estimated output size
// ("15 M"), in steps of 1024 with the suffixes of the string table ("KMGT").
#pragma once

#include <string>

#include "media/contract/wintypes.h"

namespace tav {

// A number and at most one following non-blank suffix character; the suffix (upper-cased)
// at position p of "KMGT" multiplies by 1024 p times, stopping early where one more step
// would overflow a signed 64-bit value. No number gives 0 ("unlimited").
ULONGLONG ParseSize(const std::string& text);

// Divides by 1024 while that leaves at least 2, counting the steps n; the text is the
// value, a blank and the n-th suffix (nothing after the blank when there is none).
std::string FormatSize(ULONGLONG bytes);

}  // namespace tav
