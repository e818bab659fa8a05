// libFuzzer target for damaged movie times, the long form of the e2e mutation test: each
// input picks a generated source (AVI, MP4, MOV, WMV, MPEG or the converter's own QVF), a
// seed and how many timing fields to damage. The converter must end within seconds and never
// write more than the source's length and a second. The sources are made once per process
// with the ffmpeg program; the converter runs with a private registry and folders.
// Build with clang and -DTAVRION_FUZZ=ON (and tavrion-convert), then for instance
//   build/bin/cli_timing_fuzzer -max_total_time=3600 corpus/
// A failing input is kept as crash-*; the message names the source kind, seed and count,
// which tests/e2e/timingmutants.h turns into the same damaged movie.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/e2e/timingmutants.h"

namespace {

namespace fs = std::filesystem;

constexpr double kSeconds = 2.0;

std::string Quote(const std::string& s) { return "'" + s + "'"; }

std::string Capture(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    pclose(p);
  }
  return out;
}

double Seconds(const std::string& movie, const std::string& entries, const std::string& stream) {
  return std::strtod(Capture("ffprobe -v error " + stream + " -show_entries " + entries +
                             " -of default=nw=1:nk=1 " + Quote(movie) + " 2>/dev/null").c_str(),
                     nullptr);
}

std::string Converter() {
  const char* build = std::getenv("TAVRION_BUILD_DIR");
  return std::string(build ? build : TAVRION_FUZZ_BUILD_DIR) + "/bin/tavrion-convert";
}

struct Sources {
  std::string dir;
  std::vector<std::string> paths;
  std::vector<std::vector<uint8_t>> bytes;
};

const Sources& MakeSources() {
  static Sources s = [] {
    Sources made;
    char pattern[] = "/tmp/tavrion-timing-fuzz-XXXXXX";
    if (!mkdtemp(pattern)) std::abort();
    made.dir = pattern;
    // A private registry and home: nothing touches the user's own.
    setenv("TAVRION_REGISTRY_DIR", (made.dir + "/registry").c_str(), 1);
    setenv("HOME", made.dir.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (made.dir + "/config").c_str(), 1);
    setenv("XDG_DATA_HOME", (made.dir + "/data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (made.dir + "/cache").c_str(), 1);
    const std::string input = "-f lavfi -i testsrc2=s=160x120:r=15:d=2 -f lavfi -i sine=sample_rate=22050:d=2 ";
    const std::pair<const char*, const char*> kinds[] = {
        {"avi", "-c:v mpeg4 -c:a libmp3lame"}, {"mp4", "-c:v libx264 -pix_fmt yuv420p -c:a aac"},
        {"mov", "-c:v mjpeg -c:a pcm_s16le"},  {"wmv", "-c:v wmv2 -c:a wmav2"},
        {"mpg", "-c:v mpeg1video -r 25 -c:a mp2"},
    };
    for (const auto& [ext, codecs] : kinds) {
      const std::string path = made.dir + "/source." + ext;
      if (std::system(("ffmpeg -nostdin -loglevel error -y " + input + codecs + " " + Quote(path)).c_str()) != 0)
        std::abort();
      made.paths.push_back(path);
    }
    const std::string qvfDir = made.dir + "/qvf";
    fs::create_directories(qvfDir);
    std::system((Quote(Converter()) + " --quiet --output-dir " + Quote(qvfDir) + " " + Quote(made.paths[0]) +
                 " >/dev/null 2>&1").c_str());
    for (const auto& e : fs::directory_iterator(qvfDir)) made.paths.push_back(e.path().string());
    for (const std::string& p : made.paths) {
      std::ifstream in(p, std::ios::binary);
      made.bytes.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return made;
  }();
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The input's first six bytes (missing ones count as 0): the source kind, the seed and the
  // number of fields. The converter runs as another process, so libFuzzer sees no coverage
  // grow: the inputs it makes are random, which is what this target wants.
  uint8_t b[6] = {};
  for (size_t i = 0; i < sizeof b && i < size; ++i) b[i] = data[i];
  const Sources& sources = MakeSources();
  const size_t kind = b[0] % sources.paths.size();
  const uint32_t seed = uint32_t(b[1]) | uint32_t(b[2]) << 8 | uint32_t(b[3]) << 16 | uint32_t(b[4]) << 24;
  const int count = 1 + b[5] % 4;
  std::vector<uint8_t> bytes = sources.bytes[kind];
  clitest::DamageTiming(bytes, seed, count);
  const std::string mutant = sources.dir + "/mutant" + fs::path(sources.paths[kind]).extension().string();
  std::ofstream(mutant, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  const std::string out = sources.dir + "/out";
  fs::remove_all(out);
  fs::create_directories(out);

  const auto start = std::chrono::steady_clock::now();
  const int rc = std::system(("timeout -s KILL 60 " + Quote(Converter()) + " --quiet --output-dir " + Quote(out) +
                              " " + Quote(mutant) + " >/dev/null 2>&1").c_str());
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // Killed by the timeout, or by a signal of its own: a run away or a crash.
  if (!WIFEXITED(rc) || WEXITSTATUS(rc) > 1 || took > 30.0) {
    std::fprintf(stderr, "timing fuzzer: %s (seed %u, %d fields): status %d after %.1f s\n", mutant.c_str(), seed,
                 count, rc, took);
    std::abort();
  }
  for (const auto& e : fs::directory_iterator(out)) {
    const std::string movie = e.path().string();
    const double length = std::max({Seconds(movie, "format=duration", ""), Seconds(movie, "stream=duration", "-select_streams v:0"),
                                    Seconds(movie, "stream=duration", "-select_streams a:0")});
    if (length > kSeconds + 1.0 + 1.0 / 15) {
      std::fprintf(stderr, "timing fuzzer: %s (seed %u, %d fields) made %.2f s of a %.1f s source\n", mutant.c_str(),
                   seed, count, length, kSeconds);
      std::abort();
    }
  }
  return 0;
}
