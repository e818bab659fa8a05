// The size of a file as people read it: "840 bytes", "12.5 KB", "1.5 MB", "3.2 GB", in steps
// of 1024 with the units of the string table (IDS_SIZE_UNITS).
#pragma once

#include <string>

#include "media/contract/wintypes.h"

namespace tav {

// Bytes below 1024 as a whole number; above, the largest unit that leaves at least 1, with
// one decimal (rounded; "1023.96 KB" reads "1.0 MB" rather than "1024.0 KB").
std::string ByteSizeText(ULONGLONG bytes);

}  // namespace tav
