// Writing a picture as an opaque RGB PNG file (through Cairo).
#pragma once

#include <cstdint>
#include <string>

namespace probe {

// pixels: height rows of width 0x00RRGGBB words, top row first. False when the file
// cannot be written.
bool WritePng(const std::string& path, int width, int height, const uint32_t* pixels);

}  // namespace probe
