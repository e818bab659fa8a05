// The desktop program driven as a user drives it: the real tavrion-converter on a private
// Xvfb display, keys pressed with xdotool. Unsaved work survives what ends the program: the
// save question on File > Exit (Alt+F, X) and its Cancel, a termination signal, and kill -9
// in the middle of a conversion, after which the restored batch goes on into the movie's
// next part without a frame lost or repeated.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/moviefacts.h"
#include "converter/engine/document.h"
#include "converter/engine/recovery.h"
#include "tests/support/testenv.h"

namespace tav::ui {
namespace {

namespace fs = std::filesystem;
using clitest::FrameNumbers;
using clitest::Quote;

bool Have(const char* tool) { return tavtest::Run(std::string("command -v ") + tool + " >/dev/null 2>&1") == 0; }

// A private X display for the test's life.
class Display {
 public:
  Display() {
    const std::string fifo = tavtest::MakeTempSubdir("xvfb") + "/displayfd";
    if (::mkfifo(fifo.c_str(), 0600) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      const int fd = ::open(fifo.c_str(), O_WRONLY);
      if (fd >= 0 && fd != 3) ::dup2(fd, 3);
      // -noreset: the program starts again right after its last run closed; a server that
      // resets when its last client goes refuses connections while it does.
      execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", "1024x800x24", "-nolisten", "tcp", "-noreset",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    std::ifstream in(fifo);
    std::string number;
    std::getline(in, number);
    if (!number.empty()) name_ = ":" + number;
  }
  ~Display() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  const std::string& Name() const { return name_; }

 private:
  pid_t pid_ = -1;
  std::string name_;
};

// The program on the display, with the test's own home, data folder and registry.
class Program {
 public:
  Program(const Display& display, const std::string& home, const std::vector<std::string>& args)
      : display_(display.Name()) {
    pid_ = fork();
    if (pid_ == 0) {
      setenv("DISPLAY", display_.c_str(), 1);
      unsetenv("WAYLAND_DISPLAY");
      setenv("QT_QPA_PLATFORM", "xcb", 1);
      setenv("HOME", home.c_str(), 1);
      setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
      setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
      setenv("TAVRION_REGISTRY_DIR", (home + "/registry").c_str(), 1);
      const std::string program = tavtest::ProgramPath("tavrion-converter");
      std::vector<char*> argv{const_cast<char*>(program.c_str())};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      const std::string log = home + "/program.log";
      const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (fd >= 0) {
        ::dup2(fd, 1);
        ::dup2(fd, 2);
      }
      execv(program.c_str(), argv.data());
      _exit(127);
    }
  }
  ~Program() {
    if (Running()) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool Running() {
    if (exited_ || pid_ <= 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      exited_ = true;
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
    }
    return !exited_;
  }
  int Wait(int seconds) {
    tavtest::WaitFor([&] { return !Running(); }, std::chrono::seconds(seconds));
    return exited_ ? status_ : -2;
  }
  void Signal(int sig) { kill(pid_, sig); }

  // The X windows whose title matches the (extended) regular expression, newest last.
  std::vector<std::string> Windows(const std::string& title) const {
    const std::string out =
        tavtest::Capture("DISPLAY=" + display_ + " xdotool search --onlyvisible --name " + Quote(title) + " 2>/dev/null");
    std::vector<std::string> ids;
    size_t at = 0;
    while (at < out.size()) {
      const size_t end = out.find('\n', at);
      const std::string id = out.substr(at, end == std::string::npos ? std::string::npos : end - at);
      if (!id.empty()) ids.push_back(id);
      if (end == std::string::npos) break;
      at = end + 1;
    }
    return ids;
  }
  bool WaitForWindow(const std::string& title, int seconds = 30) {
    return tavtest::WaitFor([&] { return !Windows(title).empty() || !Running(); }, std::chrono::seconds(seconds)) &&
           !Windows(title).empty();
  }
  std::string Title(const std::string& id) const {
    std::string t = tavtest::Capture("DISPLAY=" + display_ + " xdotool getwindowname " + id + " 2>/dev/null");
    while (!t.empty() && t.back() == '\n') t.pop_back();
    return t;
  }
  // Keys typed into the window, as xdotool names them ("alt+f", "Escape", ...); settle: time
  // for the window to act on them.
  void Keys(const std::string& id, const std::string& keys, bool settle = true) const {
    tavtest::Run("DISPLAY=" + display_ + " xdotool windowfocus --sync " + id + " key --delay 80 " + keys);
    if (settle) std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  void Type(const std::string& id, const std::string& text) const {
    tavtest::Run("DISPLAY=" + display_ + " xdotool windowfocus --sync " + id + " type --delay 60 " + Quote(text));
  }

 private:
  std::string display_;
  pid_t pid_ = -1;
  bool exited_ = false;
  int status_ = -1;
};

// The main window's title starts with the program's name and goes on; a question box is
// titled with the name alone.
constexpr char kMainWindow[] = "^([0-9]+% - )?Tavrion Converter - ";
constexpr char kQuestionBox[] = "^Tavrion Converter$";

class WindowScenario : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Have("Xvfb") || !Have("xdotool")) GTEST_SKIP() << "Xvfb and xdotool are needed to drive the window";
    if (!tavtest::HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
    ASSERT_FALSE(display_.Name().empty()) << "Xvfb did not start";
    home_ = tavtest::MakeTempSubdir("home");
    // The first-start notice stays away: it is not what this test is about.
    fs::create_directories(home_ + "/data/Merolan/tavrion-converter");
    std::ofstream(home_ + "/data/Merolan/tavrion-converter/tavrion-converter.ini") << "[GREATINGBOX]\nDONTSHOWAGAIN=1\n";
    recovery_ = home_ + "/data/Merolan/recovery";
    dir_ = tavtest::MakeTempSubdir("movies");
  }
  std::string Log() const {
    std::ifstream in(home_ + "/program.log");
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  Display display_;
  std::string home_, recovery_, dir_;
};

TEST_F(WindowScenario, SaveQuestion_Signal_AndKillMidRunLoseNothing) {
  // ---- a movie added and a setting changed; Alt+F, X asks; Cancel keeps the program ----
  const std::string movie = dir_ + "/clip.avi";
  ASSERT_TRUE(tavtest::GeneratedMovie("-f lavfi -i testsrc=size=160x120:rate=15:d=2 -c:v mpeg4 -vtag XVID", movie));
  {
    Program program(display_, home_, {movie});
    ASSERT_TRUE(program.WaitForWindow(kMainWindow)) << Log();
    const std::string window = program.Windows(kMainWindow).front();
    // Output file name (Alt+N): a changed setting.
    program.Keys(window, "alt+n ctrl+a");
    program.Type(window, "renamed");
    program.Keys(window, "Tab");
    program.Keys(window, "alt+f x");
    ASSERT_TRUE(program.WaitForWindow(kQuestionBox, 10)) << "no question on File > Exit\n" << Log();
    const std::string box = program.Windows(kQuestionBox).back();
    program.Keys(box, "Escape");
    EXPECT_TRUE(tavtest::WaitFor([&] { return program.Windows(kQuestionBox).empty(); }, std::chrono::seconds(10)));
    EXPECT_TRUE(program.Running()) << "Cancel closed the program";
    EXPECT_FALSE(program.Windows(kMainWindow).empty());

    // ---- SIGTERM: no question, the batch stays as a recovery copy ----
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(30), 0) << Log();
  }
  const std::vector<std::string> copies = FindOrphanedCopies(recovery_);
  ASSERT_EQ(copies.size(), 1u) << "SIGTERM lost the batch";
  std::string error;
  const std::optional<RecoveredBatch> kept = ReadOrphanedCopy(copies.front(), &error);
  ASSERT_TRUE(kept) << error;
  {
    CTavrionConverterDoc doc;
    LoadRecoveredBatch(doc, *kept);
    ASSERT_EQ(doc.GetCount(), 1u);
    EXPECT_EQ(doc.GetAt(0)->OutputPath().Title(), "renamed");
  }
  DiscardOrphanedCopy(copies.front());

  // ---- kill -9 while the second part is written; restore; Convert goes on ----
  const std::string counter = dir_ + "/count.avi";
  std::string video = "testsrc2=s=160x120:r=30:d=24,drawbox=x=0:y=100:w=160:h=20:c=black:t=fill";
  for (int bit = 0; bit < 8; ++bit)
    video += ",drawbox=x=" + std::to_string(20 * bit) + ":y=100:w=20:h=20:c=white:t=fill:enable='gt(bitand(n\\," +
             std::to_string(1 << bit) + ")\\,0)'";
  ASSERT_TRUE(tavtest::GeneratedMovie("-f lavfi -i \"" + video +
                                          "\" -f lavfi -i sine=frequency=440:sample_rate=22050:d=24 -c:v mpeg4 "
                                          "-vtag XVID -q:v 3 -c:a pcm_s16le",
                                      counter));
  const std::string batch = dir_ + "/split.tvc";
  {
    CTavrionConverterDoc doc;
    CConvertOrder* e = doc.AddOrder(counter);
    e->SetSourceInfo(240000000, 160, 120, true);
    e->SetSplitSize(400000);
    e->SetUseSubtitles(false);
    doc.SetRemoveAfterConversion(false);
    ASSERT_TRUE(doc.OnSaveDocument(batch, &error)) << error;
  }
  const auto part = [&](int k) {
    char number[16];
    std::snprintf(number, sizeof number, "%04d", k);
    return dir_ + "/[QVF]-count" + number + ".qvf";
  };
  const std::string base = dir_ + "/[QVF]-count.qvf";
  {
    Program program(display_, home_, {batch});
    ASSERT_TRUE(program.WaitForWindow(kMainWindow)) << Log();
    program.Keys(program.Windows(kMainWindow).front(), "alt+c", false);
    // Frozen the moment the second part is complete, while the third is being written.
    ASSERT_TRUE(tavtest::WaitFor([&] { return fs::exists(part(2)) || !program.Running(); }, std::chrono::seconds(90)))
        << Log();
    program.Signal(SIGSTOP);
    ASSERT_FALSE(fs::exists(part(3))) << "too late: the third part was complete";
    program.Signal(SIGKILL);
    ASSERT_EQ(program.Wait(20), 128 + SIGKILL);
  }
  ASSERT_EQ(FindOrphanedCopies(recovery_).size(), 1u);
  {
    Program program(display_, home_, {});
    ASSERT_TRUE(program.WaitForWindow(kQuestionBox)) << "the batch was not offered back\n" << Log();
    program.Keys(program.Windows(kQuestionBox).back(), "Return");  // Yes: restore it
    ASSERT_TRUE(program.WaitForWindow(kMainWindow)) << Log();
    const std::string window = program.Windows(kMainWindow).front();
    EXPECT_NE(program.Title(window).find("split.tvc"), std::string::npos) << program.Title(window);
    EXPECT_TRUE(fs::exists(part(1)));
    EXPECT_TRUE(fs::exists(part(2))) << "the finished parts went";
    program.Keys(window, "alt+c");
    ASSERT_TRUE(program.WaitForWindow(kQuestionBox, 10)) << "Convert did not ask to continue\n" << Log();
    program.Keys(program.Windows(kQuestionBox).back(), "Return");  // Yes: continue
    // The run ends when the title drops its progress again.
    ASSERT_TRUE(tavtest::WaitFor(
        [&] {
          const std::vector<std::string> w = program.Windows("^Tavrion Converter - ");
          return (!w.empty() && fs::exists(part(3)) && !fs::exists(base)) || !program.Running();
        },
        std::chrono::seconds(120)))
        << Log();
    ASSERT_TRUE(program.Running()) << Log();
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(30), 0) << Log();
  }
  std::vector<std::string> parts;
  while (fs::exists(part(int(parts.size()) + 1))) parts.push_back(part(int(parts.size()) + 1));
  ASSERT_GE(parts.size(), 3u);
  EXPECT_FALSE(fs::exists(base)) << "a part was left under the unnumbered name";
  // The parts hold the source's frames once each, in order.
  std::vector<int> all;
  for (const std::string& p : parts) {
    SCOPED_TRACE(p);
    const std::vector<int> numbers = FrameNumbers(p);
    ASSERT_FALSE(numbers.empty());
    if (!all.empty()) {
      EXPECT_EQ(numbers.front(), (all.back() + 1) % 256) << "at the seam before " << p;
    }
    all.insert(all.end(), numbers.begin(), numbers.end());
  }
  EXPECT_EQ(all.front(), 0);
  EXPECT_EQ(int(all.size()), 24 * 30);
  int told = 0;
  for (size_t i = 1; i < all.size() && told < 5; ++i) {
    if (all[i] == (all[i - 1] + 1) % 256) continue;
    ADD_FAILURE() << "frame " << i << " shows " << all[i] << " after " << all[i - 1];
    ++told;
  }
}

}  // namespace
}  // namespace tav::ui
