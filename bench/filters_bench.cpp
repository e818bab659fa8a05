// The platform filters' decoding path against the ffmpeg tool: a 60 s 640 x 480 30 fps
// MPEG-4 AVI decoded to RGB32 through the graph by graphinfo --play --rgb32 (file source,
// AVI splitter, decoder, counting sinks, no clock) and by `ffmpeg -pix_fmt bgra -f null -`.
// Both run in a private registry and temporary folder. Prints both times and the ratio
// (target: at most 1.2).
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace {

double TimeCommand(const std::string& cmd) {
  const auto t0 = std::chrono::steady_clock::now();
  const int status = std::system(cmd.c_str());
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (status != 0) {
    std::fprintf(stderr, "command failed (%d): %s\n", status, cmd.c_str());
    std::exit(1);
  }
  return s;
}

}  // namespace

int main() {
  char dirTemplate[] = "/tmp/tavrion-bench-filters-XXXXXX";
  const char* dir = mkdtemp(dirTemplate);
  if (!dir) return 1;
  const std::string folder = dir;
  setenv("TAVRION_REGISTRY_DIR", (folder + "/registry").c_str(), 1);
  const std::string movie = folder + "/mpeg4.avi";
  std::printf("making the 60 s movie...\n");
  TimeCommand("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=640x480:rate=30:duration=60 "
              "-c:v mpeg4 -vtag XVID -q:v 4 -an '" + movie + "'");
  const std::string graphinfo = std::string(TAV_BUILD_DIR) + "/bin/graphinfo";
  // Warm both up once (registration, page cache).
  TimeCommand("'" + graphinfo + "' '" + movie + "' > /dev/null");
  const double graph = TimeCommand("'" + graphinfo + "' --play --rgb32 '" + movie + "' > /dev/null");
  const double ffmpeg = TimeCommand("ffmpeg -nostdin -loglevel error -i '" + movie + "' -pix_fmt bgra -f null -");
  std::printf("graph (graphinfo --play): %.2f s\nffmpeg -pix_fmt bgra:      %.2f s\nratio: %.2f (target <= 1.2)\n",
              graph, ffmpeg, graph / ffmpeg);
  std::system(("rm -rf '" + folder + "'").c_str());
  return 0;
}
