// UTF-8 <-> UTF-16 for names crossing between the registry (UTF-8) and interfaces (UTF-16),
// through the runtime's conversions (invalid sequences and lone surrogates become U+FFFD).
#pragma once

#include <string>
#include <string_view>

#include "media/contract/codepage.h"

namespace tav::graph {

inline std::string ToUtf8(std::u16string_view s) { return tav::Utf16ToUtf8(s); }
inline std::u16string ToUtf16(std::string_view s) { return tav::Utf8ToUtf16(s); }

}  // namespace tav::graph
