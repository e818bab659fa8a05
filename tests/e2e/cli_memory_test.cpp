// A long conversion holds no more memory than a short one: every frame-sized buffer on the
// way from the decoder to the movie file is made once and used again, so the peak resident
// size does not depend on the movie's length.
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>

#include <string>
#include <vector>

#include "tests/support/testenv.h"

extern char** environ;

namespace {

// Runs tavrion-convert on one movie; returns its peak resident size in KB (0 if it failed).
long ConvertPeakKb(const std::string& movie, const std::string& outDir) {
  const std::string program = tavtest::ProgramPath("tavrion-convert");
  std::vector<std::string> args = {program, "--quiet", "--size", "320x240", "--fps",
                                   "15", "--output-dir", outDir, movie};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int err = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) return 0;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return 0;
  return usage.ru_maxrss;
}

TEST(CliMemory, PeakResidentSize_DoesNotGrowWithTheMovieLength) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string dir = tavtest::MakeTempSubdir("memory");
  long peak[2] = {};
  const int seconds[2] = {3, 18};
  for (int i = 0; i < 2; ++i) {
    const std::string movie = dir + "/movie" + std::to_string(seconds[i]) + ".avi";
    ASSERT_TRUE(tavtest::GeneratedMovie("-f lavfi -i testsrc2=size=320x240:rate=30 -f lavfi -i "
                                        "sine=frequency=440:sample_rate=44100 -t " +
                                            std::to_string(seconds[i]) + " -c:v mpeg4 -vtag XVID -c:a libmp3lame -ac 2",
                                        movie));
    peak[i] = ConvertPeakKb(movie, dir);
    ASSERT_GT(peak[i], 0) << "the conversion of " << movie << " failed";
  }
  // Six times the frames: a frame-sized buffer kept or lost per frame would add megabytes.
  EXPECT_LE(double(peak[1]), double(peak[0]) * 1.10) << peak[0] << " KB for 3 s, " << peak[1] << " KB for 18 s";
}

}  // namespace
