// tavrion-convert and the desktop's screen saver: every run, however it ends, holds the
// screen saver off once and lets it go with the same cookie; without a session bus the
// conversion is what it always was and nothing more is printed.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>

#include "converter/engine/document.h"
#include "tests/support/fakescreensaver.h"
#include "tests/support/testenv.h"

extern char** environ;

namespace {

using tavtest::FakeScreenSaver;

std::string SmallMovie(const std::string& dir, const std::string& name, int seconds) {
  const std::string path = dir + "/" + name;
  EXPECT_TRUE(tavtest::GeneratedMovie("-f lavfi -i testsrc=size=320x240:rate=30 -f lavfi -i "
                                       "sine=frequency=440:sample_rate=44100 -t " + std::to_string(seconds) +
                                       " -c:v mpeg4 -vtag XVID -c:a libmp3lame -ac 2",
                                       path));
  return path;
}

// Starts tavrion-convert with its output in outFile; answers its process id.
pid_t StartConvert(const std::vector<std::string>& args, const std::string& outFile) {
  const std::string program = tavtest::ProgramPath("tavrion-convert");
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&files, STDOUT_FILENO, STDERR_FILENO);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, program.c_str(), &files, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&files);
  return pid;
}

std::string Finish(pid_t pid, const std::string& outFile) {
  int status = 0;
  waitpid(pid, &status, 0);
  std::ostringstream text;
  text << std::ifstream(outFile).rdbuf();
  return text.str();
}

TEST(CliScreenSaver, EveryRunHoldsItOffOnceAndLetsItGo) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  FakeScreenSaver bus;
  ASSERT_TRUE(bus.Ready()) << bus.Error();
  const std::string dir = tavtest::MakeTempSubdir("saver");
  const std::string movie = SmallMovie(dir, "short.avi", 2);
  const std::string longMovie = SmallMovie(dir, "long.avi", 30);
  const std::string bad = dir + "/bad.avi";
  std::ofstream(bad) << "this is not a movie";
  // A batch whose only entry is not checked: the run stops as soon as it starts.
  const std::string batch = dir + "/unchecked.tvc";
  {
    tav::CTavrionConverterDoc doc;
    doc.AddOrder(movie)->SetChecked(false);
    std::string error;
    ASSERT_TRUE(doc.OnSaveDocument(batch, &error)) << error;
  }

  struct Run {
    const char* name;
    std::vector<std::string> args;
    bool interrupt;
    const char* outcome;
  };
  const Run runs[] = {{"converted", {"--quiet", movie}, false, ": Converted"},
                      {"every entry fails", {"--quiet", bad}, false, "Cannot read"},
                      {"empty selection", {"--quiet", batch}, false, ""},
                      {"interrupted", {"--quiet", "--size", "640x480", "--output-dir", dir, longMovie}, true, "Interrupted"}};
  for (const Run& run : runs) {
    SCOPED_TRACE(run.name);
    bus.ClearCalls();
    const std::string outFile = dir + "/out.txt";
    const pid_t pid = StartConvert(run.args, outFile);
    ASSERT_GT(pid, 0);
    if (run.interrupt) {
      EXPECT_EQ(bus.Calls(1, 20000).size(), 1u);
      // Interrupted once the movie is being written.
      const std::string output = dir + "/[QVF]-long.qvf";
      EXPECT_TRUE(tavtest::WaitFor(
          [&] {
            struct stat st {};
            return ::stat(output.c_str(), &st) == 0 && st.st_size > 0;
          },
          std::chrono::seconds(30)));
      kill(pid, SIGINT);
    }
    const std::string out = Finish(pid, outFile);
    EXPECT_NE(out.find(run.outcome), std::string::npos) << out;
    const auto calls = bus.Calls(2, 2000);
    ASSERT_EQ(calls.size(), 2u) << out;
    EXPECT_EQ(calls[0].method, "Inhibit");
    EXPECT_EQ(calls[0].application, "tavrion-convert");
    EXPECT_EQ(calls[1].method, "UnInhibit");
    EXPECT_EQ(calls[1].cookie, calls[0].cookie);
  }
}

TEST(CliScreenSaver, WithoutASessionBus_ConvertsAsBeforeAndPrintsNothingMore) {
  if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
  const std::string dir = tavtest::MakeTempSubdir("nobus");
  const std::string movie = SmallMovie(dir, "clip.avi", 2);
  setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir + "/no-such-bus").c_str(), 1);
  const std::string outFile = dir + "/out.txt";
  const std::string out = Finish(StartConvert({"--quiet", movie}, outFile), outFile);
  EXPECT_EQ(out, movie + " -> " + dir + "/[QVF]-clip.qvf: Converted\n");
}

}  // namespace
