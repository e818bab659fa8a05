#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>

#include "platform/filters/tests/filtertest.h"

namespace filtertest {

std::string Fixture(const std::string& name, const std::string& args) {
  static std::mutex lock;
  static std::map<std::string, std::string> made;
  std::lock_guard<std::mutex> g(lock);
  if (auto it = made.find(name); it != made.end()) return it->second;
  std::string path;
  if (tavtest::HaveFfmpeg()) {
    static const std::string dir = tavtest::MakeTempSubdir("fixtures");
    std::string out = dir + "/" + name;
    std::string cmd = "ffmpeg -nostdin -hide_banner -loglevel error -y " + args + " '" + out + "'";
    if (tavtest::Run(cmd) == 0) path = out;
  }
  made[name] = path;
  return path;
}

std::string WriteFile(const std::string& name, const std::string& bytes) {
  std::string path = tavtest::TempDir() + "/" + name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

}  // namespace filtertest
