// What the end-to-end tests of tavrion-convert share besides the movie facts: the program run
// to its end or in the background, and a movie whose frames show their number.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

#include "tests/e2e/moviefacts.h"
#include "tests/support/testenv.h"

namespace clitest {

// Runs tavrion-convert with args (quoted as the shell needs them) to its end; answers what it
// printed on stdout and stderr, and its exit status in status. env: assignments put before
// the command ("NAME=value ").
inline std::string Convert(const std::string& args, int* status, const std::string& env = std::string()) {
  return tavtest::Capture(env + Quote(tavtest::ProgramPath("tavrion-convert")) + " " + args + " 2>&1", status);
}

// Converts one movie quietly into a folder of its own named tag, with options, expecting
// success; answers the output's path, empty (and a failure) when there is none.
inline std::string ConvertOne(const std::string& movie, const std::string& options, const std::string& tag) {
  const std::string dir = tavtest::MakeTempSubdir(tag);
  int status = 0;
  const std::string out = Convert("--quiet " + options + " --output-dir " + Quote(dir) + " " + Quote(movie), &status);
  EXPECT_EQ(status, 0) << out;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().extension() == ".qvf") return e.path().string();
  ADD_FAILURE() << movie << ": no output; " << out;
  return {};
}

// A 160 x 120 MPEG-4 AVI at 30 fps with PCM sound whose frames show their number.
inline std::string CounterMovie(const std::string& dir, const std::string& name, int seconds) {
  const std::string path = dir + "/" + name + ".avi";
  std::string video =
      "testsrc2=s=160x120:r=30:d=" + std::to_string(seconds) + ",drawbox=x=0:y=100:w=160:h=20:c=black:t=fill";
  for (int bit = 0; bit < 8; ++bit)
    video += ",drawbox=x=" + std::to_string(20 * bit) + ":y=100:w=20:h=20:c=white:t=fill:enable='gt(bitand(n\\," +
             std::to_string(1 << bit) + ")\\,0)'";
  EXPECT_TRUE(tavtest::GeneratedMovie(
      "-f lavfi -i \"" + video + "\" -f lavfi -i sine=frequency=440:sample_rate=22050:d=" + std::to_string(seconds) +
          " -c:v mpeg4 -vtag XVID -q:v 3 -c:a pcm_s16le",
      path));
  return path;
}

// A kind of movie: its file name (whose extension picks the container) and the ffmpeg options
// that encode it.
struct MovieKind {
  const char* name;
  const char* codecs;
};

// The k-th part (from 1) of the split output title in dir.
inline std::string Part(const std::string& dir, const std::string& title, int k) {
  char number[16];
  std::snprintf(number, sizeof number, "%04d", k);
  return dir + "/[QVF]-" + title + number + ".qvf";
}

// The size of a file being written; 0 while it does not exist.
inline uintmax_t SizeOr0(const std::string& path) {
  std::error_code ec;
  const uintmax_t size = std::filesystem::file_size(path, ec);
  return ec ? 0 : size;
}

// "Interrupted at mm:ss" in the result line, in seconds; -1 when absent.
inline int InterruptedAt(const std::string& out) {
  std::smatch m;
  if (!std::regex_search(out, m, std::regex("Interrupted at (\\d+):(\\d\\d)"))) return -1;
  return std::stoi(m[1]) * 60 + std::stoi(m[2]);
}

// tavrion-convert running in the background, its output going to a file.
class Background {
 public:
  Background(const std::string& args, const std::string& outFile) : outFile_(outFile) {
    const std::string cmd =
        "exec " + Quote(tavtest::ProgramPath("tavrion-convert")) + " " + args + " >" + Quote(outFile) + " 2>&1";
    pid_ = fork();
    if (pid_ == 0) {
      execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~Background() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  // False when the program could not be started (no process to signal or wait for).
  bool Started() const { return pid_ > 0; }
  // Never kill(-1, ...): that would signal every process of the user.
  void Signal(int sig) {
    if (Started()) kill(pid_, sig);
  }
  bool Running() {
    if (exited_ || !Started()) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      exited_ = true;
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
    }
    return !exited_;
  }
  // The exit status (128 + signal when killed), waiting at most timeoutMs; -2 when it is
  // still running then.
  int Wait(int timeoutMs) {
    const bool done = tavtest::WaitFor([&] { return !Running(); }, std::chrono::milliseconds(timeoutMs));
    return done ? status_ : -2;
  }
  std::string Output() const {
    std::ifstream in(outFile_);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  std::string outFile_;
  pid_t pid_ = -1;
  bool exited_ = false;
  int status_ = -1;
};

}  // namespace clitest
