// What the end-to-end tests read back from a written movie, with ffmpeg or whole: the source
// frame number drawn into each picture (an 8-bit pattern along the bottom rows), the video
// stream's duration, and the file's bytes.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/testenv.h"

namespace clitest {

inline std::string Quote(const std::string& s) { return "'" + s + "'"; }

// The source frame number each decoded frame of a 320 x 240 output shows.
inline std::vector<int> FrameNumbers(const std::string& movie) {
  const std::string raw =
      tavtest::Capture("ffmpeg -v error -i " + Quote(movie) +
                       " -map 0:v -fps_mode passthrough -vf crop=320:40:0:200,scale=8:1:flags=area,format=gray"
                       " -f rawvideo -");
  std::vector<int> numbers;
  for (size_t at = 0; at + 8 <= raw.size(); at += 8) {
    int n = 0;
    for (int bit = 0; bit < 8; ++bit)
      if (uint8_t(raw[at + size_t(bit)]) > 128) n |= 1 << bit;
    numbers.push_back(n);
  }
  return numbers;
}

inline std::vector<unsigned char> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The video stream's duration in seconds as ffprobe prints it; empty when it finds none.
inline std::string VideoDurationText(const std::string& movie) {
  return tavtest::Capture(
      "ffprobe -v error -select_streams v:0 -show_entries stream=duration "
      "-of default=nw=1:nk=1 " +
      Quote(movie));
}

// The video stream's duration in seconds; 0 when there is none.
inline double VideoDuration(const std::string& movie) { return std::strtod(VideoDurationText(movie).c_str(), nullptr); }

}  // namespace clitest
