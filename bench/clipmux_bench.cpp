// clipmux against the ffmpeg command-line tool: 60 s of RGB32 frames with 22 050 Hz stereo
// audio, encoded by both with the same codecs and settings. Prints the time ratio.
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "clipmux/clipmux.h"

namespace {

constexpr int kSeconds = 60;
constexpr int kFps = 30;
constexpr int kPatterns = 16;

// A few textured pictures with a moving bar, cycled; the same for both encoders.
std::vector<std::vector<uint8_t>> MakePictures(int w, int h) {
  std::vector<std::vector<uint8_t>> out(kPatterns, std::vector<uint8_t>(size_t(w) * h * 4));
  for (int n = 0; n < kPatterns; ++n) {
    uint32_t seed = uint32_t(n) * 2654435761u + 7;
    auto* px = reinterpret_cast<uint32_t*>(out[n].data());
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        seed = seed * 1664525u + 1013904223u;
        uint32_t base = (uint32_t(x * 255 / w) << 16) | (uint32_t(y * 255 / h) << 8) | 0x40;
        if (x / 16 == (n * 3) % (w / 16)) base = 0xFFFFFF;
        px[y * w + x] = base ^ ((seed >> 26) * 0x010101u);
      }
  }
  return out;
}

std::vector<int16_t> MakeAudio() {
  std::vector<int16_t> pcm(size_t(22050) * kSeconds * 2);
  for (size_t i = 0; i < pcm.size() / 2; ++i)
    pcm[2 * i] = pcm[2 * i + 1] = int16_t(6000 * std::sin(2 * M_PI * 440 * double(i) / 22050));
  return pcm;
}

class Feed : public IDubberCallback {
 public:
  Feed(const std::vector<std::vector<uint8_t>>& pictures, const std::vector<int16_t>& pcm)
      : pictures_(pictures), pcm_(pcm) {}
  void GetVideoFrame(char* buffer, int* bytes, int* pixels) override {
    if (frame_ >= kSeconds * kFps) {
      *bytes = *pixels = 0;
      return;
    }
    const auto& p = pictures_[size_t(frame_++) % kPatterns];
    std::memcpy(buffer, p.data(), p.size());
    *bytes = int(p.size());
    *pixels = *bytes / 4;
  }
  void GetAudioChunk(char* buffer, int* bytes, int* blocks) override {
    const int chunk = 88200 / kFps;
    std::memcpy(buffer, reinterpret_cast<const char*>(pcm_.data()) + audioAt_, chunk);
    audioAt_ += chunk;
    *bytes = chunk;
    *blocks = chunk / 4;
  }

 private:
  const std::vector<std::vector<uint8_t>>& pictures_;
  const std::vector<int16_t>& pcm_;
  int frame_ = 0;
  size_t audioAt_ = 0;
};

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main() {
  char dirTemplate[] = "/tmp/clipmux_bench.XXXXXX";
  if (!mkdtemp(dirTemplate)) return 1;
  const std::string dir = dirTemplate;
  const std::vector<int16_t> pcm = MakeAudio();
  const std::string audioFile = dir + "/audio.raw";
  if (FILE* f = std::fopen(audioFile.c_str(), "wb")) {
    std::fwrite(pcm.data(), 2, pcm.size(), f);
    std::fclose(f);
  }
  int worst = 0;
  for (auto [w, h] : {std::pair{320, 240}, std::pair{640, 480}}) {
    auto pictures = MakePictures(w, h);

    ResetConfig();
    SaveAVIasQVF(true);
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = w;
    header.biHeight = -h;  // top-down, as the frames are fed to the command-line tool too
    header.biPlanes = 1;
    header.biBitCount = 32;
    WAVEFORMATEX wave{WAVE_FORMAT_PCM, 2, 22050, 88200, 4, 16, 0};
    setVideo(&header, kFps);
    setAudio(&wave, 64000);
    Feed feed(pictures, pcm);
    std::string ours = dir + "/ours.qvf";
    CreateAVI(ours.data(), &feed, false);
    auto t0 = std::chrono::steady_clock::now();
    StartEncoder(nullptr, nullptr);
    double clipmuxSeconds = Seconds(t0);

    std::string cmd = "ffmpeg -v error -y -f rawvideo -pix_fmt bgr0 -s " + std::to_string(w) + "x" +
                      std::to_string(h) + " -r " + std::to_string(kFps) + " -i - -f s16le -ar 22050 -ac 2 -i " +
                      audioFile +
                      " -sws_flags bicubic -c:v mpeg4 -profile:v 0 -b:v 300k -g 60 -bf 0 -qmin 2 -qmax 31 -threads 1"
                      " -vtag XVID -c:a libmp3lame -b:a 64k -f avi " + dir + "/cli.avi";
    t0 = std::chrono::steady_clock::now();
    FILE* pipe = popen(cmd.c_str(), "w");
    if (!pipe) return 1;
    for (int n = 0; n < kSeconds * kFps; ++n) {
      const auto& p = pictures[size_t(n) % kPatterns];
      if (std::fwrite(p.data(), 1, p.size(), pipe) != p.size()) break;
    }
    int rc = pclose(pipe);
    double cliSeconds = Seconds(t0);
    double ratio = clipmuxSeconds / cliSeconds;
    std::printf("%dx%d, %d s at %d fps: clipmux %.2f s, ffmpeg CLI %.2f s (exit %d), ratio %.3f %s\n", w, h,
                kSeconds, kFps, clipmuxSeconds, cliSeconds, rc, ratio, ratio <= 1.1 ? "(target met)" : "(over 1.1)");
    if (ratio > 1.1) worst = 1;
  }
  std::string cleanup = "rm -rf " + dir;
  return std::system(cleanup.c_str()) == 0 ? worst : 1;
}
