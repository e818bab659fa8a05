// Small text helpers shared by the readers: ASCII case folding, the white-space trimming of
// caption text, and decimal numbers read the way the file formats expect.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace captionparser {

// ASCII case-insensitive equality (names of tags, attributes, properties and styles).
bool EqualsNoCase(std::string_view a, std::string_view b);
std::string AsciiLower(std::string_view s);

// The white space that caption text loses at its edges: backspace, tab, carriage return, space.
inline bool IsEdgeSpace(char c) { return c == '\b' || c == '\t' || c == '\r' || c == ' '; }
// Removes edge white space from both ends.
std::string_view TrimEdgeSpace(std::string_view s);
// Removes edge white space from the start and puts one space in its place when any was removed;
// then does the same at the end. "  a  " becomes " a ", a blank text becomes " ".
std::string CollapseEdgeSpace(std::string_view s);

// A run of decimal digits as a 32-bit int; values beyond INT_MAX read as INT_MAX.
int ParseDigits(std::string_view digits);
// A line's leading number: white space skipped, an optional sign, then digits up to the first
// other character; 0 without digits; saturated to the int range.
int ParseLeadingInt(std::string_view s);

}  // namespace captionparser
