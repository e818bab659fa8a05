#include "moviecheck.h"

#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "tests/support/testenv.h"

namespace moviecheck {

namespace {

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

std::map<std::string, std::string> KeyValues(const std::string& text) {
  std::map<std::string, std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    auto eq = line.find('=');
    if (eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return out;
}

}  // namespace

std::map<std::string, std::string> Stream(const std::string& path, const std::string& which) {
  return KeyValues(tavtest::Capture("ffprobe -v error -select_streams " + which +
                                    " -show_entries stream -of default=nw=1 " + Quote(path)));
}

std::map<std::string, std::string> Format(const std::string& path) {
  return KeyValues(tavtest::Capture("ffprobe -v error -show_entries format -of default=nw=1 " + Quote(path)));
}

std::vector<Packet> Packets(const std::string& path, const std::string& which) {
  std::vector<Packet> out;
  std::istringstream in(tavtest::Capture("ffprobe -v error -select_streams " + which +
                                         " -show_entries packet=pts_time,size,flags -of csv=p=0 " + Quote(path)));
  std::string line;
  while (std::getline(in, line)) {
    auto comma = line.find(',');
    if (comma == std::string::npos) continue;
    Packet p;
    p.time = std::stod(line.substr(0, comma));
    p.size = std::atoi(line.c_str() + comma + 1);
    p.key = line.find('K', comma) != std::string::npos;
    out.push_back(p);
  }
  return out;
}

int DecodedFrames(const std::string& path, const std::string& which) {
  int status = 0;
  std::string text = tavtest::Capture("ffmpeg -v error -xerror -i " + Quote(path) + " -map 0:" + which +
                                          " -f framecrc - 2>/dev/null",
                                      &status);
  if (status != 0) return -1;
  int frames = 0;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    if (!line.empty() && line[0] != '#') ++frames;
  return frames;
}

std::string DecodedPicture(const std::string& path, int n) {
  int status = 0;
  std::string raw = tavtest::Capture("ffmpeg -v error -i " + Quote(path) + " -map 0:v -vf 'select=eq(n\\," +
                                         std::to_string(n) + ")' -frames:v 1 -f rawvideo -pix_fmt rgb24 -",
                                     &status);
  return status == 0 ? raw : std::string();
}

double DecodedAudioSeconds(const std::string& path) {
  int status = 0;
  std::string raw = tavtest::Capture(
      "ffmpeg -v error -i " + Quote(path) + " -map 0:a -f s16le -ac 2 -ar 22050 -", &status);
  if (status != 0) return -1;
  return double(raw.size()) / (22050.0 * 4);
}

std::string ReadBytes(const std::string& path, int64_t offset, int count) {
  std::ifstream f(path, std::ios::binary);
  f.seekg(offset);
  std::string out(size_t(count), '\0');
  f.read(out.data(), count);
  out.resize(size_t(f.gcount()));
  return out;
}

int64_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? int64_t(st.st_size) : -1;
}

}  // namespace moviecheck
