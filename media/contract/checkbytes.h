// Check bytes: how the registry tells a file's kind by some of its bytes. One line holds
// groups of four comma-separated fields "offset,count,mask,value", and every group must
// match: the count bytes at offset (counted from the end when negative), masked, equal the
// value. Mask and value are hexadecimal, spaces allowed; an empty field is all ones.
#pragma once

#include <functional>
#include <string>

#include "media/contract/wintypes.h"

namespace tav {

// Reads count bytes at offset into buffer; false when they cannot all be read.
using CheckBytesReader = std::function<bool(LONGLONG offset, LONG count, BYTE* buffer)>;

// Whether the stream of size bytes that read reaches matches one check-byte line. A line
// that is malformed, or asks for bytes outside the stream, does not match.
bool CheckBytesMatch(const std::string& line, LONGLONG size, const CheckBytesReader& read);

}  // namespace tav
