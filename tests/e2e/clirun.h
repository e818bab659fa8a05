// What the end-to-end tests of tavrion-convert share besides the movie facts: a movie whose
// frames show their number, and the program running in the background.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/e2e/moviefacts.h"
#include "tests/support/testenv.h"

namespace clitest {

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
  void Signal(int sig) { kill(pid_, sig); }
  bool Running() {
    if (exited_) return false;
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
