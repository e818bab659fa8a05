// Splitting and "Break" end to end: real conversions through tavrion-convert.
//
// The menu offers 32M and up only; a batch entry keeps any split size it stores (the run hands
// sizes outside the menu to the exporter unchanged). The split tests save a batch with 32M,
// rewrite that one stored value to a small limit and convert the batch.
//
// The test movies carry their frame number as eight black or white blocks along the bottom
// (bit i in the block at x = 40 i), so the decoded parts tell which source frames they hold.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/clirun.h"
#include "tests/e2e/moviefacts.h"
#include "tests/support/testenv.h"

namespace {

namespace fs = std::filesystem;
using clitest::Background;
using clitest::Convert;
using clitest::FrameNumbers;
using clitest::InterruptedAt;
using clitest::Part;
using clitest::Quote;
using clitest::SizeOr0;
using clitest::VideoDuration;

// A 320 x 240 MPEG-4 AVI whose frames show their number; sound (PCM, so the video keeps its
// first time stamps) unless withoutSound.
std::string CounterMovie(const std::string& dir, const std::string& name, int seconds, int fps, bool sound) {
  const std::string path = dir + "/" + name + ".avi";
  std::string video = "testsrc2=s=320x240:r=" + std::to_string(fps) + ":d=" + std::to_string(seconds) +
                      ",drawbox=x=0:y=200:w=320:h=40:c=black:t=fill";
  for (int bit = 0; bit < 8; ++bit)
    video += ",drawbox=x=" + std::to_string(40 * bit) + ":y=200:w=40:h=40:c=white:t=fill:enable='gt(bitand(n\\," +
             std::to_string(1 << bit) + ")\\,0)'";
  std::string cmd = "ffmpeg -nostdin -loglevel error -y -f lavfi -i \"" + video + "\"";
  if (sound)
    cmd += " -f lavfi -i sine=frequency=440:sample_rate=22050:d=" + std::to_string(seconds) + " -c:a pcm_s16le";
  cmd += " -c:v mpeg4 -vtag XVID -q:v 3 " + Quote(path);
  EXPECT_EQ(tavtest::Run(cmd), 0);
  return path;
}

int ReadableFrames(const std::string& movie) {
  int status = 0;
  const std::string out = tavtest::Capture(
      "ffprobe -v error -select_streams v:0 -count_frames -show_entries "
      "stream=nb_read_frames -of default=nw=1:nk=1 " +
          Quote(movie) + " 2>&1",
      &status);
  return status == 0 ? std::atoi(out.c_str()) : -1;
}

// Replaces the one stored 8-byte little-endian value `from` by `to` in the batch file.
void RewriteSplitSize(const std::string& batch, uint64_t from, uint64_t to) {
  std::string bytes;
  {
    std::ifstream in(batch, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  auto pack = [](uint64_t v) {
    std::string s(8, '\0');
    for (int i = 0; i < 8; ++i) s[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
  };
  const std::string f = pack(from);
  const size_t at = bytes.find(f);
  ASSERT_NE(at, std::string::npos) << "the batch holds no split size of " << from;
  ASSERT_EQ(bytes.find(f, at + 1), std::string::npos) << "the split size is not unique in the batch";
  bytes.replace(at, 8, pack(to));
  std::ofstream(batch, std::ios::binary | std::ios::trunc) << bytes;
}

// Saves a batch converting movie into dir with the given split limit; returns its path.
std::string SplitBatch(const std::string& dir, const std::string& movie, uint64_t limit,
                       const std::string& options = "") {
  const std::string batch = dir + "/split.tvc";
  int status = 0;
  const std::string out = Convert("--quiet --split 32M " + options + " --output-dir " + Quote(dir) + " --save-batch " +
                                      Quote(batch) + " " + Quote(movie),
                                  &status);
  EXPECT_EQ(status, 0) << out;
  RewriteSplitSize(batch, 32ull << 20, limit);
  return batch;
}

// The numbered parts that exist, in order.
std::vector<std::string> Parts(const std::string& dir, const std::string& title) {
  std::vector<std::string> parts;
  while (fs::exists(Part(dir, title, int(parts.size()) + 1))) parts.push_back(Part(dir, title, int(parts.size()) + 1));
  return parts;
}

// Checks the parts of a split conversion of a `frames`-frame source: each within the limit
// and readable, and together the whole source once, each seam losing or repeating at most
// one frame. Output frames per source frame: 30 / source rate.
void ExpectPartsCoverTheSource(const std::vector<std::string>& parts, uint64_t limit, int frames, int repeat,
                               double sourceDuration) {
  double total = 0;
  std::vector<int> all;
  for (size_t k = 0; k < parts.size(); ++k) {
    SCOPED_TRACE(parts[k]);
    const uintmax_t size = fs::file_size(parts[k]);
    EXPECT_LE(size, limit) << "part " << k + 1 << " is " << size - limit << " bytes over the split limit";
    EXPECT_GT(ReadableFrames(parts[k]), 0) << "not a readable movie";
    total += VideoDuration(parts[k]);
    const std::vector<int> numbers = FrameNumbers(parts[k]);
    ASSERT_FALSE(numbers.empty());
    for (size_t i = 1; i < numbers.size(); ++i)
      ASSERT_TRUE(numbers[i] == numbers[i - 1] || numbers[i] == numbers[i - 1] + 1)
          << "frame " << numbers[i - 1] << " followed by " << numbers[i] << " inside the part";
    if (!all.empty()) {
      // The next part starts where the last one ended: at most one output frame lost or repeated.
      const int last = all.back(), first = numbers.front();
      EXPECT_GE(first, last) << "part " << k + 1 << " goes back to frame " << first << " after " << last;
      EXPECT_LE(first, last + 1 + (repeat == 1 ? 1 : 0))
          << "part " << k + 1 << " skips from " << last << " to " << first;
    }
    all.insert(all.end(), numbers.begin(), numbers.end());
  }
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all.front(), 0);
  EXPECT_EQ(all.back(), frames - 1);
  const double frame = 1.0 / 30;
  EXPECT_NEAR(total, sourceDuration, double(parts.size() - 1) * frame + 1e-3)
      << "the parts' video durations against the source's";
}

// A six-second counter movie split at a small limit. The exporter's seeking goes through its
// audio input, so the movie without sound must still get the source to each part's start; its
// 15 fps also puts seams in the middle of its frames.
struct SplitCase {
  const char* folder;
  const char* title;
  int fps;
  bool sound;
  size_t leastParts;
};

// Names the case in test output by its movie.
void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.title; }

class CliSplitMovie : public ::testing::TestWithParam<SplitCase> {};

TEST_P(CliSplitMovie, SmallLimit_GivesNumberedPartsWithinTheLimit_ThatContinueEachOther) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const SplitCase& c = GetParam();
  const std::string dir = tavtest::MakeTempSubdir(c.folder);
  const std::string movie = CounterMovie(dir, c.title, 6, c.fps, c.sound);
  constexpr uint64_t kLimit = 150000;
  const std::string batch = SplitBatch(dir, movie, kLimit);
  if (HasFailure()) return;

  int status = 0;
  const std::string out = Convert("--quiet " + Quote(batch), &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find(": Converted"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(dir + "/[QVF]-" + c.title + ".qvf")) << "a part was left under the unnumbered name";
  const std::vector<std::string> parts = Parts(dir, c.title);
  ASSERT_GE(parts.size(), c.leastParts) << out;
  ExpectPartsCoverTheSource(parts, kLimit, 6 * c.fps, 30 / c.fps, VideoDuration(movie));
}

INSTANTIATE_TEST_SUITE_P(CliSplit, CliSplitMovie,
                         ::testing::Values(SplitCase{"split", "count", 30, true, 3},
                                           SplitCase{"split-silent", "silent", 15, false, 2}),
                         [](const ::testing::TestParamInfo<SplitCase>& info) {
                           return std::string(info.param.sound ? "WithSound" : "WithoutSound");
                         });

// ---- Break (Ctrl-C) ---------------------------------------------------------------------------

std::string PlainMovie(const std::string& dir, int seconds) {
  const std::string path = dir + "/long.avi";
  EXPECT_EQ(tavtest::Run("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=s=320x240:r=30:d=" +
                         std::to_string(seconds) + " -f lavfi -i sine=frequency=440:sample_rate=22050:d=" +
                         std::to_string(seconds) + " -c:v mpeg4 -vtag XVID -q:v 3 -c:a pcm_s16le " + Quote(path)),
            0);
  return path;
}

TEST(CliBreak, CtrlCDuringTheSecondPart_LeavesTwoPlayableParts_AndTheEntryInterrupted) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string dir = tavtest::MakeTempSubdir("break-split");
  const std::string movie = PlainMovie(dir, 20);
  // At 640 x 480 a part takes long enough to be caught in the middle.
  const std::string batch = SplitBatch(dir, movie, 600000, "--size 640x480");
  if (HasFailure()) return;

  Background run(Quote(batch), dir + "/out.txt");
  const std::string inProgress = dir + "/[QVF]-long.qvf";
  // The second part is written under the unnumbered name once the first has its number.
  ASSERT_TRUE(tavtest::WaitFor([&] { return fs::exists(Part(dir, "long", 1)) && SizeOr0(inProgress) > 30000; },
                               std::chrono::milliseconds(30000)))
      << "the second part never got going\n"
      << run.Output();
  ASSERT_FALSE(fs::exists(Part(dir, "long", 2))) << "too late: the second part was already complete";
  run.Signal(SIGINT);
  EXPECT_EQ(run.Wait(20000), 1) << run.Output();

  const std::string out = run.Output();
  EXPECT_FALSE(fs::exists(inProgress)) << "the interrupted part kept the unnumbered name";
  EXPECT_FALSE(fs::exists(Part(dir, "long", 3)));
  double total = 0;
  for (int k : {1, 2}) {
    ASSERT_TRUE(fs::exists(Part(dir, "long", k))) << out;
    EXPECT_GT(ReadableFrames(Part(dir, "long", k)), 0) << "part " << k << " is not a readable movie";
    total += VideoDuration(Part(dir, "long", k));
  }
  const int at = InterruptedAt(out);
  ASSERT_GE(at, 0) << out;
  EXPECT_NEAR(at, total, 1.0) << "the entry was interrupted where its parts end";
}

TEST(CliBreak, CtrlCMidFile_LeavesThePartialMovieUnderItsName) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string dir = tavtest::MakeTempSubdir("break-plain");
  const std::string movie = PlainMovie(dir, 20);
  const std::string output = dir + "/[QVF]-long.qvf";

  Background run("--quiet --output-dir " + Quote(dir) + " " + Quote(movie), dir + "/out.txt");
  ASSERT_TRUE(tavtest::WaitFor([&] { return SizeOr0(output) > 60000; }, std::chrono::milliseconds(30000)))
      << run.Output();
  run.Signal(SIGINT);
  EXPECT_EQ(run.Wait(20000), 1) << run.Output();
  const std::string out = run.Output();
  EXPECT_GE(InterruptedAt(out), 0) << out;
  ASSERT_TRUE(fs::exists(output)) << out;
  EXPECT_FALSE(fs::exists(Part(dir, "long", 1)));
  const int frames = ReadableFrames(output);
  EXPECT_GT(frames, 0) << "the partial movie is not readable";
  EXPECT_LT(frames, 600) << "the movie was not interrupted";

  // A second Ctrl-C right after the first quits at once, whatever the first is doing.
  const std::string dir2 = tavtest::MakeTempSubdir("break-twice");
  Background twice("--quiet --output-dir " + Quote(dir2) + " " + Quote(movie), dir2 + "/out.txt");
  auto written = [&] {
    // Named after what lies next to the source: [QVF]-long[1].qvf.
    for (const auto& f : fs::directory_iterator(dir2))
      if (f.path().extension() == ".qvf" && SizeOr0(f.path().string()) > 60000) return true;
    return false;
  };
  ASSERT_TRUE(tavtest::WaitFor(written, std::chrono::milliseconds(30000))) << twice.Output();
  twice.Signal(SIGINT);
  twice.Signal(SIGINT);
  EXPECT_EQ(twice.Wait(1000), 1) << "a second Ctrl-C did not quit at once\n" << twice.Output();
}

}  // namespace
