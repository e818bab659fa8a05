// clipmux end to end: generated frames and audio go in through the callback, the written
// file is checked with ffprobe / ffmpeg, independently of the library.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "clipmux/clipmux.h"
#include "media/contract/sync.h"
#include "moviecheck.h"
#include "tests/support/testenv.h"

namespace {

// Frames of a picture whose top half is red and bottom half blue, with a white bar that
// moves one step per frame; audio is a 440 Hz tone. Frames are RGB32 bottom-up.
class GeneratedClip : public IDubberCallback {
 public:
  GeneratedClip(int width, int height, double fps, int frames)
      : width_(width), height_(height), fps_(fps), frames_(frames) {}

  void GetVideoFrame(char* buffer, int* bytes, int* pixels) override {
    if (served_ >= frames_) {
      *bytes = *pixels = 0;
      return;
    }
    auto* px = reinterpret_cast<uint32_t*>(buffer);
    for (int row = 0; row < height_; ++row) {
      // Bottom-up: buffer row 0 is the picture's last row.
      int pictureRow = height_ - 1 - row;
      uint32_t colour = pictureRow < height_ / 2 ? 0x00FF0000u : 0x000000FFu;  // X R G B in memory as B G R X
      for (int x = 0; x < width_; ++x) px[row * width_ + x] = colour;
      int bar = (served_ * 4) % width_;
      for (int x = bar; x < std::min(width_, bar + 8); ++x) px[row * width_ + x] = 0x00FFFFFFu;
    }
    if (textured) {
      // Fine detail that changes every frame: enough for the bit rate to matter.
      uint32_t seed = uint32_t(served_) * 2654435761u + 1;
      for (int i = 0; i < width_ * height_; ++i) {
        seed = seed * 1664525u + 1013904223u;
        px[i] ^= (seed >> 24) & 0x3F3F3Fu;
      }
    }
    *bytes = width_ * height_ * 4;
    if (shortFrames) *bytes /= 2;
    if (served_ == oversizedFrame) *bytes += 4;
    *pixels = *bytes / 4;
    ++served_;
    bytesSeen.push_back(GetDirectBytesWrited());
    if (onFrame) onFrame(served_);
  }

  void GetAudioChunk(char* buffer, int* bytes, int* blocks) override {
    int count = int(22050 / fps_);
    auto* pcm = reinterpret_cast<int16_t*>(buffer);
    for (int i = 0; i < count; ++i) {
      auto v = int16_t(8000 * std::sin(2 * M_PI * 440 * double(sample_) / 22050));
      if (sample_++ < silentSamples) v = 0;
      pcm[2 * i] = pcm[2 * i + 1] = v;
    }
    *bytes = count * 4;
    *blocks = count;
  }

  void SizeLimitReached(int framesWritten, LONGLONG projected) override {
    ++limitCalls;
    limitFrames = framesWritten;
    limitProjected = projected;
  }

  std::vector<LONGLONG> bytesSeen;
  int limitCalls = 0;
  int limitFrames = -1;
  LONGLONG limitProjected = 0;
  bool shortFrames = false;
  bool textured = false;
  int oversizedFrame = -1;    // this frame (from 0) claims more bytes than a frame has
  int64_t silentSamples = 0;  // the tone starts after this many samples
  std::function<void(int)> onFrame;

 private:
  int width_, height_;
  double fps_;
  int frames_;
  int served_ = 0;
  int64_t sample_ = 0;
};

BITMAPINFOHEADER Rgb32Header(int width, int height) {
  return BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER),  width, height, 1, 32, BI_RGB,
                          DWORD(width * height * 4), 0,     0,      0, 0};
}

// Tag, channels, rate, bytes a second, block, bits.
WAVEFORMATEX CameraPcm() { return WAVEFORMATEX{WAVE_FORMAT_PCM, 2, 22050, 88200, 4, 16, 0}; }

// The two events the exporter hands to StartEncoder.
struct EncoderEvents {
  HANDLE started = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  HANDLE idle = CreateEvent(nullptr, TRUE, TRUE, nullptr);
  ~EncoderEvents() {
    CloseHandle(started);
    CloseHandle(idle);
  }
};

class clipmux_Movie : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg/ffprobe are needed to check the movies";
    ResetConfig();
    SaveAVIasQVF(false);
    SetFileSizeLimit(0);
    WAVEFORMATEX pcm = CameraPcm();
    setAudio(&pcm, 64000);
    dir_ = tavtest::MakeTempSubdir("clipmux");
  }

  // Prepares and writes one movie; returns StartEncoder's result.
  int Write(const std::string& path, GeneratedClip& clip, int width, int height, double fps,
            bool deleteOnFailure = false) {
    BITMAPINFOHEADER header = Rgb32Header(width, height);
    setVideo(&header, fps);
    SetUpCompressor(nullptr);
    CreateAVI(const_cast<char*>(path.c_str()), &clip, deleteOnFailure);
    return StartEncoder(events_.started, events_.idle);
  }

  std::string dir_;
  EncoderEvents events_;
};

double Number(const std::map<std::string, std::string>& m, const std::string& key) {
  auto it = m.find(key);
  return it == m.end() ? NAN : std::atof(it->second.c_str());
}

void ExpectKeyFramesAtMostTwoSecondsApart(const std::vector<moviecheck::Packet>& packets) {
  ASSERT_FALSE(packets.empty());
  EXPECT_TRUE(packets.front().key);
  double lastKey = packets.front().time;
  for (const auto& p : packets) {
    EXPECT_LE(p.time - lastKey, 2.0 + 1e-6) << "no key frame between " << lastKey << " and " << p.time;
    if (p.key) lastKey = p.time;
  }
}

TEST_F(clipmux_Movie, Encode_Writes30fpsXvidWithMp3_ThatOrdinaryToolsRead) {
  const std::string path = dir_ + "/clip.avi";
  GeneratedClip clip(320, 240, 30.0, 90);
  EXPECT_EQ(Write(path, clip, 320, 240, 30.0), 90);
  EXPECT_EQ(WaitForSingleObject(events_.started, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(events_.idle, 0), WAIT_OBJECT_0);

  EXPECT_EQ(moviecheck::ReadBytes(path, 0, 16), std::string("RIFF", 4) + moviecheck::ReadBytes(path, 4, 4) + "AVI LIST");
  auto format = moviecheck::Format(path);
  EXPECT_EQ(format["format_name"], "avi");
  EXPECT_NEAR(Number(format, "duration"), 3.0, 1.0 / 30 + 0.03);

  auto video = moviecheck::Stream(path, "v:0");
  EXPECT_EQ(video["codec_name"], "mpeg4");
  EXPECT_EQ(video["codec_tag_string"], "XVID");
  EXPECT_EQ(video["profile"], "Simple Profile");
  EXPECT_EQ(video["width"], "320");
  EXPECT_EQ(video["height"], "240");
  EXPECT_EQ(video["r_frame_rate"], "30/1");
  EXPECT_EQ(video["has_b_frames"], "0");
  EXPECT_EQ(video["nb_frames"], "90");
  auto packets = moviecheck::Packets(path, "v:0");
  EXPECT_EQ(packets.size(), 90u);
  ExpectKeyFramesAtMostTwoSecondsApart(packets);
  EXPECT_EQ(moviecheck::DecodedFrames(path, "v:0"), 90);

  auto audio = moviecheck::Stream(path, "a:0");
  EXPECT_EQ(audio["codec_name"], "mp3");
  EXPECT_EQ(audio["sample_rate"], "22050");
  EXPECT_EQ(audio["channels"], "2");
  EXPECT_EQ(audio["bit_rate"], "64000");
  EXPECT_NEAR(moviecheck::DecodedAudioSeconds(path), 3.0, 1.0 / 30 + 0.06);

  // The count is exact once the movie is complete and never goes back while writing.
  EXPECT_EQ(GetDirectBytesWrited(), moviecheck::FileSize(path));
  ASSERT_EQ(clip.bytesSeen.size(), 90u);
  EXPECT_GT(clip.bytesSeen.front(), 0);
  for (size_t i = 1; i < clip.bytesSeen.size(); ++i) EXPECT_GE(clip.bytesSeen[i], clip.bytesSeen[i - 1]);
  EXPECT_LT(clip.bytesSeen.back(), GetDirectBytesWrited());
}

TEST_F(clipmux_Movie, Encode_QvfAt15fps_HasCameraFormTypeAndUprightPicture) {
  const std::string path = dir_ + "/clip.qvf";
  SaveAVIasQVF(true);
  GeneratedClip clip(320, 240, 15.0, 45);
  EXPECT_EQ(Write(path, clip, 320, 240, 15.0), 45);

  EXPECT_EQ(moviecheck::ReadBytes(path, 8, 4), std::string("AVI\x19", 4));
  EXPECT_EQ(moviecheck::ReadBytes(path, 12, 4), "LIST");
  auto video = moviecheck::Stream(path, "v:0");
  EXPECT_EQ(video["codec_tag_string"], "XVID");
  EXPECT_EQ(video["r_frame_rate"], "15/1");
  EXPECT_EQ(moviecheck::DecodedFrames(path, "v:0"), 45);
  ExpectKeyFramesAtMostTwoSecondsApart(moviecheck::Packets(path, "v:0"));
  EXPECT_EQ(GetDirectBytesWrited(), moviecheck::FileSize(path));

  // Bottom-up input comes out upright: red on top, blue below.
  std::string rgb = moviecheck::DecodedPicture(path, 0);
  ASSERT_EQ(rgb.size(), size_t(320 * 240 * 3));
  auto pixel = [&](int x, int y) { return reinterpret_cast<const uint8_t*>(rgb.data()) + (y * 320 + x) * 3; };
  EXPECT_GT(pixel(200, 20)[0], 200);
  EXPECT_LT(pixel(200, 20)[2], 60);
  EXPECT_GT(pixel(200, 220)[2], 200);
  EXPECT_LT(pixel(200, 220)[0], 60);

  // The same settings without the camera's form type give an ordinary AVI.
  SaveAVIasQVF(false);
  GeneratedClip again(320, 240, 15.0, 3);
  Write(dir_ + "/plain.avi", again, 320, 240, 15.0);
  EXPECT_EQ(moviecheck::ReadBytes(dir_ + "/plain.avi", 8, 4), "AVI ");
}

TEST_F(clipmux_Movie, Encode_ToneStartingAtHalfSecond_DecodesWithinOneFrameOfIt) {
  const std::string path = dir_ + "/sync.avi";
  GeneratedClip clip(320, 240, 30.0, 45);
  clip.silentSamples = 22050 / 2;
  Write(path, clip, 320, 240, 30.0);
  int status = 0;
  std::string raw = tavtest::Capture("ffmpeg -v error -i '" + path + "' -map 0:a -f s16le -ac 1 -", &status);
  ASSERT_EQ(status, 0);
  const auto* pcm = reinterpret_cast<const int16_t*>(raw.data());
  size_t onset = 0;
  while (onset < raw.size() / 2 && std::abs(pcm[onset]) < 2000) ++onset;
  ASSERT_LT(onset, raw.size() / 2) << "no tone in the decoded audio";
  EXPECT_NEAR(double(onset) / 22050, 0.5, 1.0 / 30);
}

TEST_F(clipmux_Movie, Encode_ShortFrames_KeepTheirRowsAndTheRestIsBlack) {
  const std::string path = dir_ + "/short.avi";
  GeneratedClip clip(320, 240, 30.0, 10);
  clip.shortFrames = true;  // half a frame: the bottom half of a bottom-up picture
  EXPECT_EQ(Write(path, clip, 320, 240, 30.0), 10);
  EXPECT_EQ(moviecheck::DecodedFrames(path, "v:0"), 10);
  std::string rgb = moviecheck::DecodedPicture(path, 5);
  ASSERT_EQ(rgb.size(), size_t(320 * 240 * 3));
  auto* top = reinterpret_cast<const uint8_t*>(rgb.data()) + (20 * 320 + 200) * 3;
  auto* bottom = reinterpret_cast<const uint8_t*>(rgb.data()) + (220 * 320 + 200) * 3;
  EXPECT_LT(top[0] + top[1] + top[2], 40);
  EXPECT_GT(bottom[2], 200);
}

TEST_F(clipmux_Movie, Config_DefaultsRoundTripAndRefusals) {
  CONFIG c;
  std::memset(&c, 0xAB, sizeof c);
  GetConfig(&c);
  EXPECT_EQ(c.cbSize, 3264u);
  DWORD kbps;
  std::memcpy(&kbps, reinterpret_cast<const char*>(&c) + 4, 4);
  EXPECT_EQ(kbps, 300u);
  EXPECT_EQ(c.keyIntervalMs, 2000u);
  EXPECT_EQ(c.minQuantizer, 2u);
  EXPECT_EQ(c.maxQuantizer, 31u);
  EXPECT_EQ(c.encoderThreads, 1u);
  for (BYTE b : c.reserved) ASSERT_EQ(b, 0);

  c.videoKbps = 1500;
  SetConfig(&c);
  CONFIG back{};
  GetConfig(&back);
  EXPECT_EQ(back.videoKbps, 1500u);

  using Change = std::function<void(CONFIG&)>;
  for (const Change& bad : std::vector<Change>{[](CONFIG& x) { x.videoKbps = 0; },
                   [](CONFIG& x) { x.keyIntervalMs = 2001; },
                   [](CONFIG& x) { x.keyIntervalMs = 0; },
                   [](CONFIG& x) { x.minQuantizer = 10, x.maxQuantizer = 5; },
                   [](CONFIG& x) { x.encoderThreads = 0; }}) {
    CONFIG wrong = back;
    bad(wrong);
    EXPECT_THROW(SetConfig(&wrong), MyError);
  }
  GetConfig(&back);
  EXPECT_EQ(back.videoKbps, 1500u) << "a refused block must leave the settings alone";
  EXPECT_THROW(SetConfig(nullptr), MyError);
  EXPECT_THROW(GetConfig(nullptr), MyError);

  ResetConfig();
  GetConfig(&back);
  EXPECT_EQ(back.videoKbps, 300u);
}

TEST_F(clipmux_Movie, Config_BitRateAndKeyInterval_ShapeTheVideo) {
  CONFIG c;
  GetConfig(&c);
  c.videoKbps = 120;
  SetConfig(&c);
  GeneratedClip lowClip(320, 240, 30.0, 60);
  lowClip.textured = true;
  Write(dir_ + "/low.avi", lowClip, 320, 240, 30.0);
  c.videoKbps = 1500;
  c.keyIntervalMs = 500;
  SetConfig(&c);
  GeneratedClip highClip(320, 240, 30.0, 60);
  highClip.textured = true;
  Write(dir_ + "/high.avi", highClip, 320, 240, 30.0);

  auto videoBytes = [](const std::vector<moviecheck::Packet>& packets) {
    int64_t sum = 0;
    for (const auto& p : packets) sum += p.size;
    return sum;
  };
  auto packets = moviecheck::Packets(dir_ + "/high.avi", "v:0");
  int64_t low = videoBytes(moviecheck::Packets(dir_ + "/low.avi", "v:0"));
  int64_t high = videoBytes(packets);
  EXPECT_GT(high, 3 * low);
  // 1500 kbit/s over 2 s is 375 000 bytes; rate control may miss, but not by half.
  EXPECT_GT(high, 375000 / 2);
  EXPECT_LT(high, 375000 * 2);
  ASSERT_EQ(packets.size(), 60u);
  for (size_t i = 0; i < packets.size(); i += 15) EXPECT_TRUE(packets[i].key) << "frame " << i;
}

TEST_F(clipmux_Movie, Failure_BadPathsAndFormats_AreClearErrors) {
  GeneratedClip clip(320, 240, 30.0, 1);
  auto message = [](const std::function<void()>& call) {
    try {
      call();
    } catch (const MyError& e) {
      return std::string(e.what());
    }
    return std::string("(no error)");
  };
  std::string missing = dir_ + "/no/such/folder/x.avi";
  EXPECT_NE(message([&] { CreateAVI(missing.data(), &clip, false); }).find("does not exist"), std::string::npos);
  EXPECT_NE(message([&] { CreateAVI(dir_.data(), &clip, false); }).find("is a folder"), std::string::npos);
  EXPECT_THROW(CreateAVI(nullptr, &clip, false), MyError);
  std::string ok = dir_ + "/ok.avi";
  EXPECT_THROW(CreateAVI(ok.data(), nullptr, false), MyError);

  BITMAPINFOHEADER odd = Rgb32Header(321, 240);
  EXPECT_THROW(setVideo(&odd, 30.0), MyError);
  BITMAPINFOHEADER bits16 = Rgb32Header(320, 240);
  bits16.biBitCount = 16;
  EXPECT_THROW(setVideo(&bits16, 30.0), MyError);
  BITMAPINFOHEADER good = Rgb32Header(320, 240);
  EXPECT_THROW(setVideo(&good, 0.0), MyError);
  EXPECT_THROW(setVideo(nullptr, 30.0), MyError);
  WAVEFORMATEX eight = CameraPcm();
  eight.wBitsPerSample = 8;
  EXPECT_THROW(setAudio(&eight, 64000), MyError);
  WAVEFORMATEX pcm = CameraPcm();
  EXPECT_THROW(setAudio(&pcm, 0), MyError);
}

TEST_F(clipmux_Movie, Failure_StartWithoutPreparedFile_ReleasesBothWaiters) {
  GeneratedClip clip(320, 240, 30.0, 3);
  Write(dir_ + "/first.avi", clip, 320, 240, 30.0);
  // Each CreateAVI is good for one movie: a second start must not overwrite the first.
  ResetEvent(events_.idle);
  EXPECT_THROW(StartEncoder(events_.started, events_.idle), MyError);
  EXPECT_EQ(WaitForSingleObject(events_.started, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(events_.idle, 0), WAIT_OBJECT_0);

  // A start from inside a running movie is refused and leaves that movie alone.
  GeneratedClip outer(320, 240, 30.0, 5);
  std::string nested;
  outer.onFrame = [&](int n) {
    if (n != 2) return;
    try {
      StartEncoder(nullptr, nullptr);
    } catch (const MyError& e) {
      nested = e.what();
    }
  };
  EXPECT_EQ(Write(dir_ + "/outer.avi", outer, 320, 240, 30.0), 5);
  EXPECT_NE(nested.find("already"), std::string::npos);
  EXPECT_EQ(moviecheck::DecodedFrames(dir_ + "/outer.avi", "v:0"), 5);
}

// A bad frame from the callback while earlier frames are still being encoded: the
// encoding thread is stopped before the file is closed (or removed), and the movie ends
// with the error instead of hanging or writing on.
TEST_F(clipmux_Movie, Failure_BadFrameMidMovie_StopsTheEncodingThreadFirst) {
  for (bool remove : {false, true}) {
    SCOPED_TRACE(remove ? "delete on failure" : "keep on failure");
    std::string path = dir_ + (remove ? "/removed.avi" : "/kept.avi");
    GeneratedClip clip(320, 240, 30.0, 60);
    clip.textured = true;
    clip.oversizedFrame = 40;
    ResetEvent(events_.idle);
    std::string error;
    try {
      Write(path, clip, 320, 240, 30.0, remove);
    } catch (const MyError& e) {
      error = e.what();
    }
    EXPECT_NE(error.find("larger than the frame size"), std::string::npos) << error;
    EXPECT_EQ(WaitForSingleObject(events_.idle, 0), WAIT_OBJECT_0);
    if (remove) {
      EXPECT_EQ(moviecheck::FileSize(path), -1);
    } else {
      // The 40 good frames went to the file before it was closed.
      EXPECT_GT(moviecheck::FileSize(path), 20000);
    }
  }
}

TEST_F(clipmux_Movie, Failure_DiskFull_ThrowsAndSetsIdle) {
  GeneratedClip clip(320, 240, 30.0, 30);
  ResetEvent(events_.idle);
  try {
    Write("/dev/full", clip, 320, 240, 30.0);
    ADD_FAILURE() << "writing to a full device succeeded";
  } catch (const MyError& e) {
    EXPECT_NE(std::string(e.what()).find("disk is full"), std::string::npos) << e.what();
  }
  EXPECT_EQ(WaitForSingleObject(events_.idle, 0), WAIT_OBJECT_0);
}

TEST_F(clipmux_Movie, Failure_FileSizeLimitMidMovie_LeavesOrRemovesThePart) {
  // A file-size limit makes the disk "fill up" part way through the movie.
  struct rlimit old {};
  getrlimit(RLIMIT_FSIZE, &old);
  auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 100 * 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string kept = dir_ + "/kept.avi", removed = dir_ + "/removed.avi";
  std::string error;
  {
    GeneratedClip clip(320, 240, 30.0, 300);
    try {
      Write(kept, clip, 320, 240, 30.0, false);
    } catch (const MyError& e) {
      error = e.what();
    }
  }
  bool removedThrew = false;
  {
    GeneratedClip clip(320, 240, 30.0, 300);
    try {
      Write(removed, clip, 320, 240, 30.0, true);
    } catch (const MyError&) {
      removedThrew = true;
    }
  }
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);
  EXPECT_NE(error.find("disk is full"), std::string::npos) << error;
  EXPECT_EQ(moviecheck::FileSize(kept), 100 * 1024);
  EXPECT_TRUE(removedThrew);
  EXPECT_EQ(moviecheck::FileSize(removed), -1);
}

// With a size limit a frame goes in only when the closed file still fits: whatever the limit,
// the file stays within it, holds the frames pulled first (as many as the library says) with
// their sound, and is complete. A limit no frame fits in leaves a movie without frames.
TEST_F(clipmux_Movie, SizeLimit_TakesEveryFrameThatFits_AndNothingAfterTheFirstThatDoesNot) {
  for (LONGLONG limit : {24000LL, 51111LL, 90000LL, 150001LL}) {
    SCOPED_TRACE(limit);
    SetFileSizeLimit(limit);
    GeneratedClip clip(320, 240, 30.0, 300);
    clip.textured = true;
    const std::string path = dir_ + "/limit" + std::to_string(limit) + ".avi";
    const int written = Write(path, clip, 320, 240, 30.0);
    const int64_t size = moviecheck::FileSize(path);
    EXPECT_LE(size, limit);
    EXPECT_GT(size, limit * 3 / 4) << "closed far below the limit";
    ASSERT_EQ(clip.limitCalls, 1);
    EXPECT_EQ(clip.limitFrames, written);
    EXPECT_GT(clip.limitProjected, limit);
    EXPECT_GT(written, 0);
    EXPECT_LT(written, 300);
    EXPECT_EQ(moviecheck::DecodedFrames(path, "v:0"), written);
    EXPECT_EQ(moviecheck::Stream(path, "v:0")["nb_frames"], std::to_string(written));
    EXPECT_NEAR(moviecheck::DecodedAudioSeconds(path), written / 30.0, 0.1) << "the sound of the frames in the file";
  }

  SetFileSizeLimit(1000);
  GeneratedClip tiny(320, 240, 30.0, 30);
  EXPECT_EQ(Write(dir_ + "/tiny.avi", tiny, 320, 240, 30.0), 0);
  EXPECT_EQ(tiny.limitCalls, 1);
  EXPECT_EQ(tiny.limitFrames, 0);

  SetFileSizeLimit(0);
  GeneratedClip whole(320, 240, 30.0, 30);
  EXPECT_EQ(Write(dir_ + "/whole.avi", whole, 320, 240, 30.0), 30);
  EXPECT_EQ(whole.limitCalls, 0);
  EXPECT_THROW(SetFileSizeLimit(-1), MyError);
}

}  // namespace
