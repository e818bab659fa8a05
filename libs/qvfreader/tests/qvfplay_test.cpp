// A camera movie written by clipmux opens through the ".qvf" registry entry (not by name):
// the platform's graph finds the reader, the AVI splitter parses what it delivers, and every
// frame decodes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <regex>

#include "clipmux/clipmux.h"
#include "media/contract/com.h"
#include "tests/support/testenv.h"

namespace {

class Frames : public IDubberCallback {
 public:
  explicit Frames(int count) : count_(count) {}
  void GetVideoFrame(char* buffer, int* bytes, int* pixels) override {
    if (served_ >= count_) {
      *bytes = *pixels = 0;
      return;
    }
    std::memset(buffer, 0x20 + served_ * 2, 320 * 240 * 4);
    ++served_;
    *bytes = 320 * 240 * 4;
    *pixels = *bytes / 4;
  }
  void GetAudioChunk(char* buffer, int* bytes, int* blocks) override {
    std::memset(buffer, 0, 2940);
    *bytes = 2940;
    *blocks = 735;
  }

 private:
  int count_;
  int served_ = 0;
};

HRESULT Register(const char* library) { return tavtest::RegisterLibrary(library); }

TEST(qvfreader_Play, QvfFoundThroughItsExtension_EveryFrameDecodes) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the platform filters decode with FFmpeg";
  const std::string graphinfo = tavtest::ProgramPath("graphinfo");
  ASSERT_EQ(access(graphinfo.c_str(), X_OK), 0) << graphinfo << " is missing: the test depends on graphinfo";
  CoInitialize(nullptr);
  ASSERT_EQ(Register("tavrionstreaming"), S_OK);
  ASSERT_EQ(Register("tavrionfilters"), S_OK);
  ASSERT_EQ(Register("qvfreader"), S_OK);

  const std::string path = tavtest::MakeTempSubdir("play") + "/clip.qvf";
  BITMAPINFOHEADER h{40, 320, 240, 1, 32, 0, 0, 0, 0, 0, 0};
  WAVEFORMATEX w{WAVE_FORMAT_PCM, 2, 22050, 88200, 4, 16, 0};
  ResetConfig();
  SaveAVIasQVF(true);
  setVideo(&h, 30.0);
  setAudio(&w, 64000);
  Frames frames(60);
  CreateAVI(const_cast<char*>(path.c_str()), &frames, false);
  ASSERT_EQ(StartEncoder(nullptr, nullptr), 60);
  SaveAVIasQVF(false);

  int status = -1;
  std::string played = tavtest::Capture("timeout 60 '" + graphinfo + "' --play --json '" + path + "' 2>&1", &status);
  EXPECT_EQ(status, 0) << played;
  // Found through the extension: the source in the graph is the reader.
  EXPECT_NE(played.find("\"clsid\":\"{1616D96D-5D93-43EC-AC7B-C2AA3B41A5F7}\""), std::string::npos) << played;
  EXPECT_NE(played.find("\"to\":\"AVI Splitter/Input\""), std::string::npos) << played;
  // The video entry of the "streams" list (connections name media types too, and the
  // decoders put their own entries before it).
  const size_t streams = played.find("\"streams\":[");
  ASSERT_NE(streams, std::string::npos) << played;
  const std::string video = "{\"major\":\"" + tav::GuidToString(MEDIATYPE_Video) + "\"";
  const size_t at = played.find(video, streams);
  ASSERT_NE(at, std::string::npos) << played;
  std::smatch m;
  const std::string entry = played.substr(at, played.find("\"last\"", at) - at);
  ASSERT_TRUE(std::regex_search(entry, m, std::regex("\"samples\":(\\d+)"))) << played;
  EXPECT_EQ(std::stoi(m[1]), 60);
  // Decoded, not just split: the stream that reached the sink is uncompressed.
  EXPECT_EQ(entry.find(tav::GuidToString(MEDIASUBTYPE_XVID)), std::string::npos) << entry;
  EXPECT_NE(played.find("\"event\":1,"), std::string::npos) << played;
  CoUninitialize();
}

}  // namespace
