// Frames per second of the resizer's scaling on one core, next to a plain memcpy of the
// frame in the same run: the source frame (what a pass-through stage would copy) and, for
// reference, the output frame's bytes (which stay in cache when the output is small).
// Targets: at least 1,000 frames per second for a 640 x 480 output and within 3x of the
// time to copy the source frame.
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bench/framebench.h"
#include "libs/vxvideokit/nearestresize.h"

namespace {

struct Result {
  double fps;           // scaling
  double copyOutFps;    // memcpy of the output frame's bytes
  double copyInFps;     // memcpy of the input frame's bytes
};

Result Measure(LONG sw, LONG sh, LONG dw, LONG dh, int mode, int frames) {
  const BITMAPINFOHEADER src = framebench::Rgb32(sw, sh), dst = framebench::Rgb32(dw, dh);
  std::vector<BYTE> in = framebench::NoiseFrame(src), out(dst.biSizeImage), copy(src.biSizeImage);
  framebench::FrameTimer timer(in, frames, {&out, &copy});
  const std::vector<double> best =
      timer.Best([&] { vxvk::ResizeFrame(src, in.data(), in.size(), dst, out.data(), out.size(), mode); },
                 [&] { std::memcpy(copy.data(), in.data(), out.size()); },
                 [&] { std::memcpy(copy.data(), in.data(), in.size()); });
  return {frames / best[0], frames / best[1], frames / best[2]};
}

}  // namespace

int main(int argc, char** argv) {
  const int frames = argc > 1 ? std::atoi(argv[1]) : 500;
  struct Case {
    const char* name;
    LONG sw, sh, dw, dh;
  };
  const Case cases[] = {
      {"fit 720x480 -> 640x480", 720, 480, 640, 480},
      {"fit 640x480 -> 320x240", 640, 480, 320, 240},
  };
  int failures = 0;
  for (const Case& c : cases) {
    const Result r = Measure(c.sw, c.sh, c.dw, c.dh, vxvk::kModeFit, frames);
    const double outRatio = r.copyOutFps / r.fps, inRatio = r.copyInFps / r.fps;
    const bool fast = r.fps >= 1000.0 || c.dw != 640;
    const bool close = inRatio <= 3.0;
    std::printf("%-24s %8.0f frames/s | memcpy of the output bytes %8.0f/s (%.2fx) | of the input frame %8.0f/s "
                "(%.2fx) | %s\n",
                c.name, r.fps, r.copyOutFps, outRatio, r.copyInFps, inRatio, fast && close ? "ok" : "BELOW TARGET");
    if (!(fast && close)) ++failures;
  }
  return failures ? 1 : 0;
}
