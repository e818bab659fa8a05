// The exporter's hand-over driven by two feeding threads, with the real clipmux behind it;
// the movies are checked with ffprobe / ffmpeg.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

#include "clipmux/tests/moviecheck.h"
#include "libs/vxcamwriter/camexportengine.h"
#include "libs/vxcamwriter/vxcamwriter.h"
#include "media/contract/strmif.h"
#include "tests/support/testenv.h"

namespace {

constexpr REFERENCE_TIME kSecond = 10000000;

// What the two pins would deliver: frames of one grey level that turn white at markAt,
// and PCM blocks of 0.1 s that are silent before markAt and a tone after it.
struct Feed {
  double fps = 30;
  int frames = 90;
  REFERENCE_TIME videoStart = 0;
  bool audio = true;
  REFERENCE_TIME audioStart = 0;
  REFERENCE_TIME audioEnd = 3 * kSecond;
  REFERENCE_TIME markAt = -1;
  int wrongSizeFrame = -1;
  // Frames of random pixels, which encode to tens of kilobytes each.
  bool noise = false;
  // Called before and after each frame is handed over, with its index.
  std::function<void(int)> beforeFrame;
  std::function<void(int)> afterFrame;
  // Every frame is handed over from one buffer that is overwritten with white as soon as
  // the hand-over returns, as an upstream allocator reuses its sample.
  bool scribbleAfterHandOver = false;
  // The frame rate converter's picture numbers: each source picture is shown this many
  // frames in a row (0: frames carry no number).
  int framesEachPicture = 0;
};

struct Event {
  LONG code;
  LONG_PTR p1, p2;
};

class vxcamwriter_Engine : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg/ffprobe are needed to check the movies";
    dir_ = tavtest::MakeTempSubdir("camexport");
  }

  std::unique_ptr<CCamExportEngine> MakeEngine() {
    return std::make_unique<CCamExportEngine>(
        [this](LONG code, LONG_PTR a, LONG_PTR b) {
          std::lock_guard lock(eventsLock_);
          events_.push_back({code, a, b});
        },
        [this](REFERENCE_TIME end) {
          std::lock_guard lock(eventsLock_);
          takenEnds_.push_back(end);
        });
  }

  std::vector<REFERENCE_TIME> TakenEnds() {
    std::lock_guard lock(eventsLock_);
    return takenEnds_;
  }

  template <typename F>
  static bool WaitFor(F done, int timeoutMs = 10000) {
    return tavtest::WaitFor(done, std::chrono::milliseconds(timeoutMs));
  }

  // Connects, runs and stops one movie the way the filter does; returns the path.
  std::string Export(const Feed& feed, const std::string& name, CCamExportEngine* engine = nullptr,
                     std::function<void(CCamExportEngine&)> whileRunning = nullptr) {
    std::unique_ptr<CCamExportEngine> own;
    if (!engine) {
      own = MakeEngine();
      engine = own.get();
    }
    const std::string path = dir_ + "/" + name;
    engine->SetOutputPath(path);
    engine->GuardedResetConfig();
    engine->GuardedSaveAVIasQVF(true);
    VIDEOINFOHEADER vih{};
    vih.AvgTimePerFrame = REFERENCE_TIME(std::llround(kSecond / feed.fps));
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = 320;
    vih.bmiHeader.biHeight = 240;
    vih.bmiHeader.biPlanes = 1;
    vih.bmiHeader.biBitCount = 32;
    engine->VideoConnected(vih);
    if (feed.audio) engine->AudioConnected(CCamExportEngine::CameraAudioFormat());
    engine->PauseFromStopped();

    std::thread video([&] {
      std::vector<BYTE> grey(320 * 240 * 4, 0x80), white(320 * 240 * 4, 0xF0);
      std::vector<std::vector<BYTE>> noise(feed.noise ? 4 : 0, std::vector<BYTE>(320 * 240 * 4));
      uint32_t seed = 12345;
      for (auto& picture : noise)
        for (BYTE& b : picture) b = BYTE((seed = seed * 1103515245u + 12345u) >> 24);
      for (int i = 0; i < feed.frames; ++i) {
        REFERENCE_TIME s = feed.videoStart + REFERENCE_TIME(i) * kSecond / REFERENCE_TIME(feed.fps);
        REFERENCE_TIME e = feed.videoStart + REFERENCE_TIME(i + 1) * kSecond / REFERENCE_TIME(feed.fps);
        const auto& picture = feed.noise                                    ? noise[size_t(i) % noise.size()]
                              : feed.markAt >= 0 && s >= feed.markAt ? white
                                                                     : grey;
        LONG length = i == feed.wrongSizeFrame ? LONG(picture.size() - 4) : LONG(picture.size());
        const LONGLONG number = feed.framesEachPicture > 0 ? i / feed.framesEachPicture : -1;
        if (feed.beforeFrame) feed.beforeFrame(i);
        if (feed.scribbleAfterHandOver) {
          std::vector<BYTE> reused = picture;
          engine->VideoReceive(s, e, reused.data(), length, number);
          std::fill(reused.begin(), reused.end(), BYTE(0xF0));
        } else {
          engine->VideoReceive(s, e, picture.data(), length, number);
        }
        if (feed.afterFrame) feed.afterFrame(i);
      }
      engine->VideoEndOfStream();
    });
    std::thread audio([&] {
      if (!feed.audio) return;
      const REFERENCE_TIME block = kSecond / 10;
      for (REFERENCE_TIME s = feed.audioStart; s < feed.audioEnd; s += block) {
        std::vector<int16_t> pcm(2205 * 2);
        for (int i = 0; i < 2205; ++i) {
          REFERENCE_TIME t = s + REFERENCE_TIME(i) * kSecond / 22050;
          double v = feed.markAt >= 0 && t < feed.markAt ? 0 : 9000 * std::sin(2 * M_PI * 440 * double(t) / kSecond);
          pcm[2 * i] = pcm[2 * i + 1] = int16_t(v);
        }
        engine->AudioReceive(s, s + block, reinterpret_cast<const BYTE*>(pcm.data()), LONG(pcm.size() * 2));
      }
      engine->AudioEndOfStream();
    });
    if (whileRunning) whileRunning(*engine);
    video.join();
    audio.join();
    engine->Stop();
    return path;
  }

  // Mean brightness of every decoded frame.
  static std::vector<int> FrameBrightness(const std::string& path) {
    std::string raw = tavtest::Capture("ffmpeg -v error -i '" + path +
                                       "' -map 0:v -vf scale=8:8 -pix_fmt gray -f rawvideo -");
    std::vector<int> out;
    for (size_t at = 0; at + 64 <= raw.size(); at += 64) {
      int sum = 0;
      for (size_t i = 0; i < 64; ++i) sum += uint8_t(raw[at + i]);
      out.push_back(sum / 64);
    }
    return out;
  }

  // Decoded mono samples of the sound track.
  static std::vector<int16_t> Samples(const std::string& path) {
    std::string raw = tavtest::Capture("ffmpeg -v error -i '" + path + "' -map 0:a -ac 1 -f s16le -");
    std::vector<int16_t> out(raw.size() / 2);
    std::memcpy(out.data(), raw.data(), out.size() * 2);
    return out;
  }

  static double ToneOnsetSeconds(const std::vector<int16_t>& pcm) {
    for (size_t i = 0; i < pcm.size(); ++i)
      if (std::abs(pcm[i]) > 2000) return double(i) / 22050;
    return -1;
  }

  static double FlashSeconds(const std::vector<int>& brightness, double fps) {
    for (size_t i = 0; i < brightness.size(); ++i)
      if (brightness[i] > 200) return double(i) / fps;
    return -1;
  }

  std::vector<Event> EventsWithCode(LONG code) {
    std::lock_guard lock(eventsLock_);
    std::vector<Event> out;
    for (const auto& e : events_)
      if (e.code == code) out.push_back(e);
    return out;
  }

  std::string dir_;
  std::mutex eventsLock_;
  std::vector<Event> events_;
  std::vector<REFERENCE_TIME> takenEnds_;  // end times of the frames clipmux took
};

TEST(vxcamwriter_EngineArithmetic, FrameRateFromAvgTimePerFrame_PicksThirtyOrFifteen) {
  EXPECT_EQ(CCamExportEngine::FrameRateFromAvgTimePerFrame(333667, 15.0), 30.0);
  EXPECT_EQ(CCamExportEngine::FrameRateFromAvgTimePerFrame(666667, 30.0), 15.0);
  EXPECT_EQ(CCamExportEngine::FrameRateFromAvgTimePerFrame(400000, 15.0), 30.0);  // 25 fps
  EXPECT_EQ(CCamExportEngine::FrameRateFromAvgTimePerFrame(500000, 30.0), 15.0);  // 20 fps
  EXPECT_EQ(CCamExportEngine::FrameRateFromAvgTimePerFrame(0, 15.0), 15.0);
  EXPECT_EQ(CCamExportEngine::FrameRateFromAvgTimePerFrame(0, 30.0), 30.0);
}

TEST_F(vxcamwriter_Engine, Writes30fpsQvf_WithEveryFrameAndCameraAudio) {
  Feed feed;
  std::string path = Export(feed, "thirty.qvf");
  EXPECT_EQ(moviecheck::ReadBytes(path, 8, 4), std::string("AVI\x19", 4));
  auto video = moviecheck::Stream(path, "v:0");
  EXPECT_EQ(video["codec_name"], "mpeg4");
  EXPECT_EQ(video["width"], "320");
  EXPECT_EQ(video["height"], "240");
  EXPECT_EQ(video["r_frame_rate"], "30/1");
  EXPECT_EQ(video["nb_frames"], "90");
  EXPECT_EQ(moviecheck::DecodedFrames(path, "v:0"), 90);
  auto audio = moviecheck::Stream(path, "a:0");
  EXPECT_EQ(audio["codec_name"], "mp3");
  EXPECT_EQ(audio["sample_rate"], "22050");
  EXPECT_EQ(audio["channels"], "2");
  EXPECT_NEAR(std::atof(moviecheck::Format(path)["duration"].c_str()), 3.0, 1.0 / 30 + 0.03);
  EXPECT_TRUE(EventsWithCode(EC_ERRORABORT).empty());
}

TEST_F(vxcamwriter_Engine, Writes15fps_ForA15fpsStream) {
  Feed feed;
  feed.fps = 15;
  feed.frames = 30;
  feed.audioEnd = 2 * kSecond;
  std::string path = Export(feed, "fifteen.qvf");
  EXPECT_EQ(moviecheck::Stream(path, "v:0")["r_frame_rate"], "15/1");
  EXPECT_EQ(moviecheck::DecodedFrames(path, "v:0"), 30);
}

TEST_F(vxcamwriter_Engine, VideoFromHalfSecond_AudioFromZero_StayInStep) {
  Feed feed;
  feed.videoStart = kSecond / 2;
  feed.frames = 60;
  feed.audioEnd = 3 * kSecond;
  feed.markAt = kSecond + kSecond / 2;  // one second into the video
  std::string path = Export(feed, "late-video.qvf");
  double flash = FlashSeconds(FrameBrightness(path), 30);
  double onset = ToneOnsetSeconds(Samples(path));
  EXPECT_NEAR(flash, 1.0, 1e-6);
  EXPECT_NEAR(onset, flash, 1.0 / 30) << "the audio before the first frame must be cut away";
}

TEST_F(vxcamwriter_Engine, AudioOneSecondLate_StartsWithSilence_AndStaysInStep) {
  Feed feed;
  feed.frames = 90;
  feed.audioStart = kSecond;
  feed.audioEnd = 3 * kSecond;
  feed.markAt = 2 * kSecond;
  std::string path = Export(feed, "late-audio.qvf");
  auto pcm = Samples(path);
  double flash = FlashSeconds(FrameBrightness(path), 30);
  EXPECT_NEAR(flash, 2.0, 1e-6);
  EXPECT_NEAR(ToneOnsetSeconds(pcm), flash, 1.0 / 30);
  EXPECT_EQ(moviecheck::DecodedFrames(path, "v:0"), 90);
}

TEST_F(vxcamwriter_Engine, NoAudioPin_WritesSilenceForEveryFrame) {
  for (double fps : {30.0, 15.0}) {
    Feed feed;
    feed.audio = false;
    feed.fps = fps;
    feed.frames = int(fps * 2);
    std::string path = Export(feed, "silent" + std::to_string(int(fps)) + ".qvf");
    auto pcm = Samples(path);
    ASSERT_FALSE(pcm.empty());
    int loudest = 0;
    for (int16_t s : pcm) loudest = std::max(loudest, std::abs(int(s)));
    EXPECT_LT(loudest, 4);
    // One chunk of nAvgBytesPerSec / fps per frame: two seconds of sound, plus the
    // encoder's last padded frame.
    EXPECT_NEAR(double(pcm.size()) / 22050, 2.0, 1.0 / fps + 1152.0 / 22050);
    EXPECT_EQ(moviecheck::DecodedFrames(path, "v:0"), feed.frames);
  }
}

// The encoder reads a frame from the sample while the video thread waits in the hand-over;
// once the hand-over returns the sample may be reused, and nothing of that reaches the movie.
TEST_F(vxcamwriter_Engine, Frames_AreReadBeforeTheHandOverReturns) {
  Feed feed;
  feed.frames = 60;
  feed.audioEnd = 2 * kSecond;
  feed.scribbleAfterHandOver = true;
  const std::string path = Export(feed, "reused.qvf");
  std::vector<int> brightness = FrameBrightness(path);
  ASSERT_EQ(brightness.size(), size_t(feed.frames));
  for (size_t i = 0; i < brightness.size(); ++i) EXPECT_LT(brightness[i], 160) << "frame " << i;
}

// At the limit the part is closed: what it holds, index included, stays within the limit,
// nothing offered after the event goes in, the refused frame waits for the stop, and the
// position is the end of the last frame in the part, so that the next part starts with the
// first frame left out. Small frames (the index and the sound held in the encoder decide) and
// large ones (the frame itself decides); a source faster than the encoder (two frames wait
// in clipmux when the limit is met) and one slower than it (none wait).
TEST_F(vxcamwriter_Engine, SizeLimit_ClosesThePartWithinTheLimit_AndTakesNothingAfterTheEvent) {
  struct Case {
    bool noise;
    LONGLONG limit;
    int sourceDelayMs;
  };
  for (const Case k : {Case{false, 30000, 0}, Case{true, 700000, 0}, Case{true, 500000, 15}}) {
    SCOPED_TRACE(std::string(k.noise ? "noise frames" : "grey frames") + (k.sourceDelayMs ? ", slow source" : ""));
    {
      std::lock_guard lock(eventsLock_);
      events_.clear();
      takenEnds_.clear();
    }
    auto engine = MakeEngine();
    engine->SetSizeLimit(k.limit);
    EXPECT_EQ(engine->sizeLimit(), k.limit);
    Feed feed;
    feed.noise = k.noise;
    std::atomic<int> handed{0};
    // A frame offered once the event is out must wait until the stop: the hand-over of a
    // frame offered before it may still be returning when the event is seen, so the test
    // compares each hand-over with the event and the stop, not a count taken at some moment.
    std::atomic<bool> stopping{false};
    std::atomic<int> acceptedAfterEvent{0};
    bool offeredAfterEvent = false;
    feed.beforeFrame = [&](int) { offeredAfterEvent = !EventsWithCode(EC_SIZE_LIMIT_REACHED).empty(); };
    feed.afterFrame = [&](int i) {
      if (offeredAfterEvent && !stopping) ++acceptedAfterEvent;
      handed = i + 1;
      if (k.sourceDelayMs) Sleep(DWORD(k.sourceDelayMs));  // the slow source: the encoder waits for it
    };
    int handedAtEvent = 0;
    const std::string path = Export(feed, k.noise ? "limit-noise.qvf" : "limit-grey.qvf", engine.get(),
                                    [&](CCamExportEngine& e) {
      EXPECT_TRUE(WaitFor([&] { return !EventsWithCode(EC_SIZE_LIMIT_REACHED).empty(); }))
          << "the limit was never reported";
      handedAtEvent = handed;
      // Anything offered from now on would go into the part if it were still open: a window
      // for a frame that should not be taken, which nothing can announce.
      Sleep(300);
      EXPECT_TRUE(e.partClosed());
      stopping = true;
      e.Stop();
    });
    const int64_t size = moviecheck::FileSize(path);
    EXPECT_LE(size, k.limit) << "the closed part is over its limit";
    EXPECT_GT(size, k.limit * 3 / 4) << "the part was closed far below its limit";
    const int frames = moviecheck::DecodedFrames(path, "v:0");
    ASSERT_GT(frames, 0);
    EXPECT_LT(frames, feed.frames);
    EXPECT_EQ(moviecheck::Stream(path, "v:0")["nb_frames"], std::to_string(frames)) << "index incomplete";
    EXPECT_EQ(acceptedAfterEvent, 0) << "a frame offered after the event was accepted";
    EXPECT_LE(handedAtEvent, frames + 4) << "frames were taken far past the end of the part";
    // The position the part reached: the end of its last frame, reported before the event.
    EXPECT_EQ(TakenEnds().back(), REFERENCE_TIME(frames) * kSecond / 30);

    auto reports = EventsWithCode(EC_SIZE_LIMIT_REACHED);
    ASSERT_EQ(reports.size(), 1u);
    const LONGLONG projected = LONGLONG(DWORD(reports[0].p1)) | (LONGLONG(DWORD(reports[0].p2)) << 32);
    EXPECT_GT(projected, k.limit);
    EXPECT_GT(projected, size) << "the projection must not fall short of the file";

    // A second movie from the same engine is closed at the limit too, but not reported again.
    const std::string second = Export(feed, "limit-again.qvf", engine.get(), [&](CCamExportEngine& e) {
      EXPECT_TRUE(WaitFor([&] { return e.partClosed(); }));
      e.Stop();
    });
    EXPECT_LE(moviecheck::FileSize(second), k.limit);
    EXPECT_EQ(EventsWithCode(EC_SIZE_LIMIT_REACHED).size(), 1u);
  }
}

TEST_F(vxcamwriter_Engine, StopInTheMiddle_LeavesACompleteMovie) {
  Feed feed;
  feed.frames = 300;
  feed.audioEnd = 10 * kSecond;
  std::atomic<int> handed{0};
  feed.afterFrame = [&](int i) { handed = i + 1; };
  std::string path = Export(feed, "stopped.qvf", nullptr, [&](CCamExportEngine& engine) {
    EXPECT_TRUE(tavtest::WaitFor([&] { return handed >= 40; })) << "the frames never reached the engine";
    engine.Stop();
  });
  int frames = moviecheck::DecodedFrames(path, "v:0");
  EXPECT_GE(frames, 40);
  EXPECT_LT(frames, 300);
  EXPECT_EQ(moviecheck::Stream(path, "v:0")["nb_frames"], std::to_string(frames)) << "the index covers every frame";
  EXPECT_GT(moviecheck::DecodedAudioSeconds(path), 1.0);
}

TEST_F(vxcamwriter_Engine, WrongSizeSample_BecomesABlackFrame) {
  Feed feed;
  feed.frames = 20;
  feed.audioEnd = 6 * kSecond / 10;  // no sound past the pictures: nothing is held
  feed.wrongSizeFrame = 10;
  std::string path = Export(feed, "black.qvf");
  auto brightness = FrameBrightness(path);
  ASSERT_EQ(brightness.size(), 20u);
  EXPECT_LT(brightness[10], 20);
  EXPECT_GT(brightness[9], 100);
  EXPECT_GT(brightness[11], 100);
}

TEST_F(vxcamwriter_Engine, LibraryFailure_BecomesErrorAbortEvent_WithoutHanging) {
  auto engine = MakeEngine();
  engine->SetOutputPath(dir_ + "/missing/folder/x.qvf");
  VIDEOINFOHEADER vih{};
  vih.AvgTimePerFrame = 333667;
  vih.bmiHeader = {40, 320, 240, 1, 32, 0, 0, 0, 0, 0, 0};
  engine->VideoConnected(vih);
  engine->AudioConnected(CCamExportEngine::CameraAudioFormat());
  engine->PauseFromStopped();
  engine->Stop();
  auto errors = EventsWithCode(EC_ERRORABORT);
  ASSERT_FALSE(errors.empty());
  for (const auto& e : errors) EXPECT_EQ(HRESULT(e.p1), E_UNEXPECTED);
}

// Sound that goes on a second past the last frame: the last frame is held until it ends,
// and the movie ends with the sound (the video's end does not end it).
TEST_F(vxcamwriter_Engine, SoundPastTheLastFrame_HoldsTheLastFrameUntilTheSoundEnds) {
  Feed feed;
  feed.frames = 30;
  feed.audioEnd = 2 * kSecond;
  feed.markAt = kSecond / 2;
  std::string path = Export(feed, "held.qvf");
  const std::vector<int> brightness = FrameBrightness(path);
  ASSERT_NEAR(double(brightness.size()), 60.0, 1.0);
  for (size_t k = 30; k < brightness.size(); ++k) EXPECT_GT(brightness[k], 200) << "frame " << k;
  EXPECT_NEAR(moviecheck::DecodedAudioSeconds(path), 2.0, 1.0 / 30 + 0.03);
  EXPECT_TRUE(EventsWithCode(EC_ERRORABORT).empty());
}

// Sound that ends with the pictures changes nothing: no frame is added.
TEST_F(vxcamwriter_Engine, SoundEndingWithThePictures_AddsNoFrame) {
  for (double fps : {30.0, 15.0}) {
    Feed feed;
    feed.fps = fps;
    feed.frames = int(2 * fps);
    feed.audioEnd = 2 * kSecond;
    std::string path = Export(feed, "together" + std::to_string(int(fps)) + ".qvf");
    EXPECT_EQ(moviecheck::DecodedFrames(path, "v:0"), int(2 * fps)) << fps;
  }
}

// Times that run past the source's span: the movie ends at the limit, complete, and the
// graph hears of damaged times once.
TEST_F(vxcamwriter_Engine, TimeLimit_EndsTheMovieThereAndReportsDamagedTimes) {
  Feed feed;
  feed.frames = 300;
  feed.audioEnd = 10 * kSecond;
  auto engine = MakeEngine();
  engine->SetTimeLimit(kSecond + kSecond / 2);
  std::string path = Export(feed, "limited.qvf", engine.get(), [&](CCamExportEngine& e) {
    EXPECT_TRUE(WaitFor([&] { return !EventsWithCode(EC_ERRORABORT).empty(); })) << "no event";
    // The application stops the graph on the event.
    e.Stop();
  });
  const auto errors = EventsWithCode(EC_ERRORABORT);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(HRESULT(errors[0].p1), TAV_E_DAMAGED_TIMES);
  EXPECT_EQ(moviecheck::DecodedFrames(path, "v:0"), 45);
  EXPECT_LE(std::atof(moviecheck::Format(path)["duration"].c_str()), 1.5 + 0.05);
}

// Every stream's rate and length damaged alike: the span claims an hour, but the sound,
// counted in samples, ended at 1.5 s (or at 0.5 s: most of it was lost), and one picture is
// repeated on and on; the pictures go no further than the margin past the sound.
TEST_F(vxcamwriter_Engine, NoSpanToGoBy_PicturesEndAMarginAfterTheSound) {
  for (const REFERENCE_TIME sound : {kSecond + kSecond / 2, kSecond / 2}) {
    SCOPED_TRACE(sound);
    events_.clear();
    Feed feed;
    feed.frames = 300;
    feed.framesEachPicture = 300;
    feed.audioEnd = sound;
    auto engine = MakeEngine();
    engine->SetTimeLimit(3600 * kSecond, kSecond / 2);
    std::string path = Export(feed, "soundlimited.qvf", engine.get(), [&](CCamExportEngine& e) {
      EXPECT_TRUE(WaitFor([&] { return !EventsWithCode(EC_ERRORABORT).empty(); })) << "no event";
      e.Stop();
    });
    const auto errors = EventsWithCode(EC_ERRORABORT);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(HRESULT(errors[0].p1), TAV_E_DAMAGED_TIMES);
    EXPECT_EQ(moviecheck::DecodedFrames(path, "v:0"), int((sound + kSecond / 2) * 30 / kSecond));
  }
}

// Pictures that go on well past a short sound, each one new (a screen recording whose sound
// stops early): the whole movie is kept, though the span is more than twice the sound.
TEST_F(vxcamwriter_Engine, NewPicturesPastAShortSound_AreAllKept) {
  Feed feed;
  feed.fps = 15;
  feed.frames = 120;
  feed.framesEachPicture = 1;
  feed.audioEnd = 2 * kSecond;
  auto engine = MakeEngine();
  engine->SetTimeLimit(8 * kSecond + 8 * kSecond / 10, 8 * kSecond / 10);
  std::string path = Export(feed, "shortsound.qvf", engine.get(), [&](CCamExportEngine& e) {
    // A movie ended early stays open until the application stops it.
    if (WaitFor([&] { return !EventsWithCode(EC_ERRORABORT).empty(); }, 1000)) e.Stop();
  });
  EXPECT_TRUE(EventsWithCode(EC_ERRORABORT).empty());
  EXPECT_EQ(moviecheck::DecodedFrames(path, "v:0"), 120);
}

// No sound and no span to go by: slides of eight seconds are kept, but one source picture
// repeated for a minute is time stamps that ran away; the movie ends when it has been shown
// for ten seconds.
TEST_F(vxcamwriter_Engine, WithoutSound_APictureRepeatedOnAndOnEndsTheMovie) {
  Feed slides;
  slides.fps = 15;
  slides.audio = false;
  slides.frames = 360;
  slides.framesEachPicture = 120;
  std::string path = Export(slides, "slides.qvf");
  EXPECT_TRUE(EventsWithCode(EC_ERRORABORT).empty());
  EXPECT_EQ(moviecheck::DecodedFrames(path, "v:0"), 360);

  Feed stuck = slides;
  stuck.frames = 900;
  stuck.framesEachPicture = 900;
  auto engine = MakeEngine();
  path = Export(stuck, "stuck.qvf", engine.get(), [&](CCamExportEngine& e) {
    EXPECT_TRUE(WaitFor([&] { return !EventsWithCode(EC_ERRORABORT).empty(); })) << "no event";
    e.Stop();
  });
  const auto errors = EventsWithCode(EC_ERRORABORT);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(HRESULT(errors[0].p1), TAV_E_DAMAGED_TIMES);
  EXPECT_EQ(moviecheck::DecodedFrames(path, "v:0"), 150);
}

}  // namespace
