// Facts about the test process: its private folders and where the build put things.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <thread>

#include "media/contract/hresult.h"

namespace tavtest {

// Makes the process's private folder and points the registry, HOME and the XDG folders into
// it (the test mains call it first); false when the folder cannot be made.
bool SetUpPrivateEnvironment();
// Removes the private folder, unless TAVRION_KEEP_TEST_DIRS is set.
void TearDownPrivateEnvironment();
// A private folder made for this process and removed when it ends.
const std::string& TempDir();
// A fresh, empty subfolder of TempDir().
std::string MakeTempSubdir(const std::string& name);
// Writes `bytes` to the file `name` of TempDir(), replacing it; the file's path.
std::string WriteTempFile(const std::string& name, std::string_view bytes);
// The build tree (build/) and the source tree.
std::string BuildDir();
std::string SourceDir();
// build/lib/lib<name>.so
std::string LibraryPath(const std::string& name);
// Loads build/lib/lib<name>.so and runs its DllRegisterServer into the test's registry;
// module, when given, receives the library's handle (it stays loaded). E_FAIL when the
// library or its entry point is missing.
HRESULT RegisterLibrary(const std::string& name, void** module = nullptr);
// What DllCanUnloadNow of a library loaded by RegisterLibrary answers: S_OK when none of
// its objects is alive (after CoFreeUnusedLibraries has let go of the unused ones); E_FAIL
// without a library or that entry point.
HRESULT LibraryCanUnload(void* module);
// build/bin/<name>
std::string ProgramPath(const std::string& name);
// <sub> of shared/testdata beside the checkout or one of its parent folders, or of
// $TAVRION_SHARED_TESTDATA; empty when absent (tests then skip, saying so;
// in CI the calling test fails).
std::string SharedTestData(const std::string& sub);
// True when the ffmpeg and ffprobe command-line tools are on PATH. In CI (CI=true) their
// absence also fails the calling test, and so does missing shared test data.
bool HaveFfmpeg();
bool InCi();
// Waits until condition() holds, looking every millisecond; false when timeout passes
// first. Tests wait for what they need to see rather than sleep a fixed time, which is too
// short on a loaded machine and wasted on an idle one.
template <typename F>
bool WaitFor(F&& condition, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// The calling thread's kernel thread id, to name it to ThreadIsBlocked from another thread.
int CurrentThreadId();
// True when thread tid of this process is asleep in the kernel: blocked in a wait, a poll, a
// lock or a sleep, rather than running or ready to run. A thread that has ended is not
// blocked. A test waits for this (WaitFor) before it releases a thread from a wait the thread
// must really be in, where a fixed sleep would only make that likely.
bool ThreadIsBlocked(int tid);

// Makes path a copy of the movie "ffmpeg -nostdin -loglevel error -y <ffmpegArgs> <file>"
// writes, with path's extension. Each movie is made once per run and kept in a cache folder
// shared by the test processes ($TAVRION_TEST_CACHE, else tests/movie-cache in the build
// tree), keyed by its arguments and extension; the copy is the test's own to change. False
// when ffmpeg fails.
bool GeneratedMovie(const std::string& ffmpegArgs, const std::string& path);

// Runs a shell command; returns its exit status.
int Run(const std::string& command);
// Runs a shell command and returns what it printed on stdout.
std::string Capture(const std::string& command, int* status = nullptr);

}  // namespace tavtest
