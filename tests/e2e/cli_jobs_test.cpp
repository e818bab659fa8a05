// tavrion-convert --jobs: entries converted at once give the movies one at a time gives,
// report in batch order, and survive the program being killed like one at a time.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "converter/engine/document.h"
#include "converter/engine/recovery.h"
#include "converter/engine/simultaneousrun.h"
#include "tests/e2e/clirun.h"
#include "tests/e2e/moviefacts.h"
#include "tests/support/testenv.h"

namespace {

namespace fs = std::filesystem;
using namespace clitest;
using tav::CConvertOrder;

// One line per video frame of a movie: its checksum (ffmpeg's framemd5 without the header).
std::vector<std::string> FrameChecksums(const std::string& movie) {
  const std::string out =
      tavtest::Capture("ffmpeg -nostdin -v error -i " + Quote(movie) + " -map 0:v -f framemd5 - | grep -v '^#'");
  std::vector<std::string> lines;
  size_t at = 0, end;
  while ((end = out.find('\n', at)) != std::string::npos) {
    lines.push_back(out.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

TEST(CliJobs, TwoAtOnceGiveTheMoviesOfOneAtATime_InBatchOrder) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string dir = tavtest::MakeTempSubdir("jobs-same");
  // Six kinds of movie, from the camcorder to the phone, each through its own splitter and
  // decoders.
  const MovieKind kinds[] = {
      {"xvid.avi", "-c:v mpeg4 -vtag XVID -c:a libmp3lame -ac 2"},
      {"phone.mp4", "-c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac -ac 2"},
      {"mpeg1.mpg", "-c:v mpeg1video -b:v 800k -c:a mp2 -ar 44100 -ac 2 -f mpeg"},
      {"mjpeg.mov", "-c:v mjpeg -c:a pcm_s16be -ac 2"},
      {"wmv2.wmv", "-c:v wmv2 -c:a wmav2 -ac 2 -f asf"},
      {"big.mp4", "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -s 1280x720 -c:a aac -ac 2"},
  };
  std::string inputs;
  std::vector<std::string> movies;
  for (const MovieKind& k : kinds) {
    const std::string path = dir + "/" + k.name;
    ASSERT_TRUE(
        tavtest::GeneratedMovie("-f lavfi -i testsrc2=s=320x240:r=25:d=2 -f lavfi -i "
                                "sine=frequency=440:sample_rate=44100:d=2 " +
                                    std::string(k.codecs),
                                path))
        << k.name;
    movies.push_back(path);
    inputs += " " + Quote(path);
  }
  const std::string one = tavtest::MakeTempSubdir("jobs-one"), two = tavtest::MakeTempSubdir("jobs-two");
  int status = 0;
  const std::string outOne =
      Convert("--quiet --jobs 1 --size 320x240 --fps 30 --output-dir " + Quote(one) + inputs, &status);
  ASSERT_EQ(status, 0) << outOne;
  const std::string outTwo =
      Convert("--quiet --jobs 2 --size 320x240 --fps 30 --output-dir " + Quote(two) + inputs, &status);
  ASSERT_EQ(status, 0) << outTwo;

  // The result lines name the movies in the order given, whichever finished first.
  size_t last = 0;
  for (const std::string& movie : movies) {
    const size_t at = outTwo.find(movie + " -> ");
    ASSERT_NE(at, std::string::npos) << outTwo;
    EXPECT_GE(at, last) << movie << " is reported out of order:\n" << outTwo;
    last = at;
  }
  for (const MovieKind& k : kinds) {
    SCOPED_TRACE(k.name);
    const std::string title = fs::path(k.name).stem().string();
    const std::vector<std::string> a = FrameChecksums(one + "/[QVF]-" + title + ".qvf");
    const std::vector<std::string> b = FrameChecksums(two + "/[QVF]-" + title + ".qvf");
    EXPECT_GE(a.size(), 55u);
    EXPECT_EQ(a, b) << "the pictures differ between --jobs 1 and --jobs 2";
  }
}

// The thread counts of the video decoders of the given size a trace file names
// ("video decoder h264 1920x1080: 3 thread(s) on frames"), in the order they were opened.
std::vector<int> DecoderThreads(const std::string& traceFile, const std::string& size) {
  std::ifstream in(traceFile);
  std::vector<int> counts;
  const std::string mark = "video decoder h264 " + size + ": ";
  for (std::string line; std::getline(in, line);)
    if (const size_t at = line.find(mark); at != std::string::npos)
      counts.push_back(std::atoi(line.c_str() + at + mark.size()));
  return counts;
}

// Two workers share the cores: each 1080p H.264 decoder, which alone decodes on frame threads
// (one a core and three more), gets the worker's share, and the pictures stay the same, none lost
// or out of order (B-frames come back in display order from either).
TEST(CliJobs, WorkersShareTheCores_TheirDecodersGiveTheSamePictures) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string dir = tavtest::MakeTempSubdir("jobs-cores");
  std::string inputs;
  for (const char* name : {"first.mp4", "second.mp4"}) {
    const std::string path = dir + "/" + name;
    ASSERT_TRUE(tavtest::GeneratedMovie(
        "-f lavfi -i testsrc2=s=1920x1080:r=30:d=1.5 -f lavfi -i sine=sample_rate=44100:d=1.5 -c:v libx264 -preset "
        "veryfast -bf 3 -pix_fmt yuv420p -c:a aac -ac 2",
        path));
    inputs += " " + Quote(path);
  }
  std::vector<int> threads[2];
  std::string outputs[2];
  for (int jobs : {1, 2}) {
    outputs[jobs - 1] = tavtest::MakeTempSubdir("jobs-cores-" + std::to_string(jobs));
    const std::string trace = dir + "/trace-" + std::to_string(jobs) + ".log";
    int status = 0;
    const std::string out = Convert("--quiet --jobs " + std::to_string(jobs) + " --size 640x480 --fps 30 --output-dir " +
                                        Quote(outputs[jobs - 1]) + inputs,
                                    &status, "TAVRION_TRACE=filters TAVRION_TRACE_FILE=" + Quote(trace) + " ");
    ASSERT_EQ(status, 0) << out;
    threads[jobs - 1] = DecoderThreads(trace, "1920x1080");
    ASSERT_EQ(threads[jobs - 1].size(), 2u) << "one decoder an entry, from the trace " << trace;
  }
  const int cores = tav::AvailableCores(), share = tav::WorkerCores(cores, 2);
  for (int t : threads[0]) EXPECT_EQ(t, cores > 1 ? std::min(cores + 3, 16) : 1) << "one at a time has every core";
  for (int t : threads[1]) {
    EXPECT_LE(t, share > 1 ? share + 3 : 1) << "a worker of two decodes on its share of " << cores << " cores";
    if (cores > 1) {
      EXPECT_LT(t, threads[0].front());
    }
  }
  for (const char* title : {"first", "second"}) {
    SCOPED_TRACE(title);
    const std::vector<std::string> a = FrameChecksums(outputs[0] + "/[QVF]-" + title + ".qvf");
    const std::vector<std::string> b = FrameChecksums(outputs[1] + "/[QVF]-" + title + ".qvf");
    EXPECT_GE(a.size(), 44u);
    EXPECT_EQ(a, b) << "the pictures differ between --jobs 1 and --jobs 2";
  }
}

// A folder may hold fewer movies than the workers asked for, which are started before it is
// read: the ones given no entry end, and the run ends with every movie converted.
TEST(CliJobs, MoreWorkersThanTheFolderHasMovies_TheSpareOnesEnd) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string dir = tavtest::MakeTempSubdir("jobs-spare"), movies = dir + "/movies";
  fs::create_directories(movies);
  for (const char* name : {"a.avi", "b.avi"})
    ASSERT_TRUE(tavtest::GeneratedMovie("-f lavfi -i testsrc2=s=160x120:r=15:d=1 -c:v mpeg4", movies + "/" + name));
  for (const char* jobs : {"4", "auto"}) {
    SCOPED_TRACE(jobs);
    const std::string out = dir + "/out-" + jobs;
    fs::create_directories(out);
    int status = 0;
    const std::string printed =
        Convert("--quiet --jobs " + std::string(jobs) + " --output-dir " + Quote(out) + " " + Quote(movies), &status);
    EXPECT_EQ(status, 0) << printed;
    for (const char* title : {"a", "b"}) EXPECT_TRUE(fs::exists(out + "/[QVF]-" + title + ".qvf")) << printed;
  }
  // Every worker ended with the run: none is left holding the folder in its command line.
  for (const auto& p : fs::directory_iterator("/proc")) {
    std::ifstream cmdline(p.path() / "cmdline", std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text.find(movies), std::string::npos) << "process " << p.path().filename() << " outlived its run";
  }
}

TEST(CliJobs, BadWorkerCountsAreRefused) {
  int status = 0;
  for (const char* bad : {"0", "-1", "x", "65", "2x"}) {
    const std::string out = Convert(std::string("--jobs ") + bad + " movie.avi", &status);
    EXPECT_EQ(status, 2) << bad << ": " << out;
    EXPECT_NE(out.find("--jobs must be auto or a number from 1 to 64"), std::string::npos) << out;
  }
}

// Two entries converting at once when the program is killed (SIGKILL) or interrupted (SIGINT,
// as Ctrl-C): the batch is kept with both where they were, no worker goes on writing, and
// --restore --resume converts the rest of each into its next part.
void StopTwoRunningThenResume(int signal) {
  const std::string dir = tavtest::MakeTempSubdir(signal == SIGKILL ? "jobs-kill" : "jobs-int");
  constexpr int kSeconds = 36;
  const std::string titles[] = {"left", "right"};
  const std::string folder = tav::DefaultRecoveryFolder();
  for (const std::string& left : tav::FindOrphanedCopies(folder)) tav::DiscardOrphanedCopy(left);
  // Small parts, so that each entry has finished one when the program dies.
  const std::string batch = dir + "/two.tvc";
  {
    tav::CTavrionConverterDoc doc;
    for (const std::string& t : titles) {
      CConvertOrder* e = doc.AddOrder(CounterMovie(dir, t, kSeconds));
      e->SetSourceInfo(REFERENCE_TIME(kSeconds) * 10000000, 160, 120, true);
      e->SetSplitSize(200000);
    }
    std::string error;
    ASSERT_TRUE(doc.OnSaveDocument(batch, &error)) << error;
  }
  Background run("--quiet --jobs 2 " + Quote(batch), dir + "/out.txt");
  ASSERT_TRUE(run.Started());
  const bool bothSplit = tavtest::WaitFor(
      [&] { return fs::exists(Part(dir, "left", 2)) && fs::exists(Part(dir, "right", 2)); }, std::chrono::seconds(90));
  run.Signal(signal);
  const int stopped = run.Wait(20000);
  ASSERT_TRUE(bothSplit) << "the two entries did not both reach their second part";
  if (signal == SIGINT) {
    // Each worker got the Break and ended its entry where its movie had got to.
    std::ifstream in(dir + "/out.txt");
    const std::string printed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(stopped, 1) << printed;
    for (const std::string& t : titles) {
      const size_t line = printed.find(t + ".avi -> ");
      ASSERT_NE(line, std::string::npos) << printed;
      EXPECT_GT(InterruptedAt(printed.substr(line, printed.find('\n', line) - line)), 0) << printed;
    }
  }

  const std::vector<std::string> copies = tav::FindOrphanedCopies(folder);
  ASSERT_EQ(copies.size(), 1u) << "the stopped run left no recovery copy of its own";
  std::string error;
  const auto saved = tav::ReadOrphanedCopy(copies.front(), &error);
  ASSERT_TRUE(saved.has_value()) << error;
  ASSERT_EQ(saved->states.size(), 2u);
  for (const auto& s : saved->states) {
    EXPECT_EQ(s.state, signal == SIGKILL ? CConvertOrder::kConverting : CConvertOrder::kInterrupted)
        << "both entries were converting";
    EXPECT_GE(s.resume.nextPart, 2) << "the finished part is known";
  }

  // The workers died with the program: nothing writes the outputs any more.
  const auto sizeOf = [&](const std::string& t) {
    std::error_code ec;
    return fs::file_size(dir + "/[QVF]-" + t + ".qvf", ec);
  };
  const uintmax_t before = sizeOf("left");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(sizeOf("left"), before) << "a worker outlived the program";

  int status = 0;
  const std::string out = Convert("--quiet --jobs 2 --restore --resume", &status);
  EXPECT_EQ(status, 0) << out;
  for (const std::string& t : titles) {
    SCOPED_TRACE(t);
    EXPECT_FALSE(fs::exists(dir + "/[QVF]-" + t + ".qvf")) << "a part was left under the unnumbered name";
    std::vector<int> all;
    for (int k = 1; fs::exists(Part(dir, t, k)); ++k) {
      const std::vector<int> numbers = FrameNumbers(Part(dir, t, k));
      ASSERT_FALSE(numbers.empty());
      if (!all.empty()) {
        EXPECT_LE((numbers.front() - all.back() + 256) % 256, 2)
            << "part " << k << " starts at frame " << numbers.front() << " after " << all.back();
      }
      all.insert(all.end(), numbers.begin(), numbers.end());
    }
    ASSERT_FALSE(all.empty()) << out;
    EXPECT_EQ(all.front(), 0);
    // (A resumed movie may end a frame early, as it may lose one at a seam.)
    EXPECT_LE((kSeconds * 30 - 1 - all.back() + 256) % 256, 1) << "ends at frame " << all.back();
    EXPECT_NEAR(double(all.size()), kSeconds * 30, 8) << "the movie once, a frame or so at each seam";
  }
}

TEST(CliJobs, KilledWithTwoRunning_BothAreRestoredAndResumeWhereTheyStopped) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  StopTwoRunningThenResume(SIGKILL);
}

TEST(CliJobs, InterruptedWithTwoRunning_BothBreakOffAndResumeWhereTheyStopped) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  StopTwoRunningThenResume(SIGINT);
}

}  // namespace
