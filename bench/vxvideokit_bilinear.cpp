// Frames per second of the bilinear video resizer's scaling (640 x 480 to 320 x 240, RGB32,
// stretch) next to swscale's bilinear scaler on the same frames in the same run. Prints the
// ratio of the two times; the target is at most 1.5 (within 1.5x of swscale).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include "bench/framebench.h"
#include "libs/vxvideokit/bilinearresize.h"

namespace {

struct Case {
  const char* name;
  LONG sw, sh, dw, dh;
};

}  // namespace

int main(int argc, char** argv) {
  const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 500;
  const Case cases[] = {
      {"640x480 -> 320x240", 640, 480, 320, 240},  // the target case
      {"352x240 -> 640x480", 352, 240, 640, 480},  // for information: enlarging
  };
  int failures = 0;
  for (const Case& c : cases) {
    const BITMAPINFOHEADER src = framebench::Rgb32(c.sw, c.sh), dst = framebench::Rgb32(c.dw, c.dh);
    std::vector<BYTE> in = framebench::NoiseFrame(src), out(dst.biSizeImage), ref(dst.biSizeImage);

    SwsContext* sws = sws_getContext(c.sw, c.sh, AV_PIX_FMT_BGR0, c.dw, c.dh, AV_PIX_FMT_BGR0, SWS_BILINEAR,
                                     nullptr, nullptr, nullptr);
    if (!sws) {
      std::fprintf(stderr, "swscale refused %s\n", c.name);
      return 2;
    }
    const uint8_t* srcPlanes[4] = {in.data(), nullptr, nullptr, nullptr};
    uint8_t* dstPlanes[4] = {ref.data(), nullptr, nullptr, nullptr};
    const int srcStrides[4] = {int(c.sw * 4), 0, 0, 0};
    const int dstStrides[4] = {int(c.dw * 4), 0, 0, 0};

    framebench::FrameTimer timer(in, frames, {&out, &ref});
    const std::vector<double> best =
        timer.Best([&] { vxvk::ScaleBilinear(src, in.data(), in.size(), dst, out.data(), out.size(), 0, 0, false); },
                   [&] { sws_scale(sws, srcPlanes, srcStrides, 0, int(c.sh), dstPlanes, dstStrides); });
    sws_freeContext(sws);
    const double ours = best[0], theirs = best[1];
    const double ratio = ours / theirs;
    const bool target = c.sw == 640 && c.dw == 320;
    const bool ok = !target || ratio <= 1.5;
    std::printf("%-20s bilinear %8.0f frames/s | swscale bilinear %8.0f frames/s | time ratio %.2f | %s\n", c.name,
                frames / ours, frames / theirs, ratio, target ? (ok ? "ok" : "BELOW TARGET") : "information");
    if (!ok) ++failures;
  }
  return failures ? 1 : 0;
}
