// Independent checks of written movies through the ffprobe / ffmpeg command-line tools.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace moviecheck {

// key=value entries of one stream ("v:0", "a:0") as ffprobe reports them.
std::map<std::string, std::string> Stream(const std::string& path, const std::string& which);
// key=value entries of the container (format_name, duration, size).
std::map<std::string, std::string> Format(const std::string& path);

struct Packet {
  double time = 0;  // presentation time in seconds
  int size = 0;     // bytes
  bool key = false;
};
std::vector<Packet> Packets(const std::string& path, const std::string& which);
// Number of frames the decoder gives for the stream, or -1 if decoding failed.
int DecodedFrames(const std::string& path, const std::string& which);
// Decoded picture n as packed RGB24, top row first; empty on failure.
std::string DecodedPicture(const std::string& path, int n);
// Seconds of decoded audio, or -1 on failure.
double DecodedAudioSeconds(const std::string& path);

std::string ReadBytes(const std::string& path, int64_t offset, int count);
int64_t FileSize(const std::string& path);

}  // namespace moviecheck
