#include "tests/support/testenv.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "media/contract/com.h"

namespace tavtest {

namespace fs = std::filesystem;
std::string& TempDirStorage() {
  static std::string dir;
  return dir;
}

const std::string& TempDir() { return TempDirStorage(); }

bool SetUpPrivateEnvironment() {
  std::string base = fs::temp_directory_path().string() + "/tavrion-test-XXXXXX";
  if (!mkdtemp(base.data())) {
    perror("mkdtemp");
    return false;
  }
  TempDirStorage() = base;
  const std::string home = base + "/home";
  fs::create_directories(home + "/.config");
  fs::create_directories(base + "/registry");
  setenv("TAVRION_REGISTRY_DIR", (base + "/registry").c_str(), 1);
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
  setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
  setenv("XDG_CACHE_HOME", (home + "/.cache").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", base.c_str(), 1);
  unsetenv("TAVRION_ANSI_CODEPAGE");
  // No test reaches the user's desktop session (its screen saver, for one).
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
  return true;
}

void TearDownPrivateEnvironment() {
  if (std::getenv("TAVRION_KEEP_TEST_DIRS") || TempDir().empty()) return;
  std::error_code ec;
  fs::remove_all(TempDir(), ec);
}

std::string MakeTempSubdir(const std::string& name) {
  static int counter = 0;
  fs::path p = fs::path(TempDir()) / (name + "-" + std::to_string(++counter));
  fs::create_directories(p);
  return p.string();
}
std::string WriteTempFile(const std::string& name, std::string_view bytes) {
  std::string path = TempDir() + "/" + name;
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), std::streamsize(bytes.size()));
  return path;
}

static std::string EnvOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return v && *v ? v : fallback;
}

std::string BuildDir() { return EnvOr("TAVRION_BUILD_DIR", TAVRION_DEFAULT_BUILD_DIR); }
std::string SourceDir() { return EnvOr("TAVRION_SOURCE_DIR", TAVRION_DEFAULT_SOURCE_DIR); }
std::string LibraryPath(const std::string& name) { return BuildDir() + "/lib/lib" + name + ".so"; }

HRESULT RegisterLibrary(const std::string& name, void** module) {
  void* m = dlopen(LibraryPath(name).c_str(), RTLD_NOW);
  if (!m) return E_FAIL;
  if (module) *module = m;
  auto reg = reinterpret_cast<PFN_DllRegisterServer>(dlsym(m, "DllRegisterServer"));
  return reg ? reg() : E_FAIL;
}
HRESULT LibraryCanUnload(void* module) {
  auto canUnload = module ? reinterpret_cast<PFN_DllCanUnloadNow>(dlsym(module, "DllCanUnloadNow")) : nullptr;
  return canUnload ? canUnload() : E_FAIL;
}
std::string ProgramPath(const std::string& name) { return BuildDir() + "/bin/" + name; }

std::string SharedTestData(const std::string& sub) {
  std::error_code ec;
  // TAVRION_SHARED_TESTDATA names the folder outright; otherwise look for shared/testdata
  // beside the checkout or beside one of its parents (a git worktree sits a level deeper).
  const std::string named = EnvOr("TAVRION_SHARED_TESTDATA", "");
  if (!named.empty()) {
    fs::path p = fs::path(named) / sub;
    if (fs::exists(p, ec)) return p.string();
    if (InCi()) ADD_FAILURE() << "CI=true: the shared test data " << p.string() << " is missing";
    return std::string();
  }
  for (fs::path dir = fs::path(SourceDir()).parent_path(); !dir.empty(); dir = dir.parent_path()) {
    fs::path p = dir / "shared" / "testdata" / sub;
    if (fs::exists(p, ec)) return p.string();
    if (dir == dir.root_path()) break;
  }
  if (InCi()) ADD_FAILURE() << "CI=true: the shared test data " << sub << " is missing (TAVRION_SHARED_TESTDATA)";
  return std::string();
}

namespace {

// FNV-1a: the same key in every test process and every build.
uint64_t StableHash(const std::string& text) {
  uint64_t h = 1469598103934665603ULL;
  for (unsigned char c : text) {
    h ^= c;
    h *= 1099511628211ULL;
  }
  return h;
}

std::string MovieCacheDir() {
  const char* named = std::getenv("TAVRION_TEST_CACHE");
  return named && *named ? std::string(named) : BuildDir() + "/tests/movie-cache";
}

}  // namespace

bool GeneratedMovie(const std::string& ffmpegArgs, const std::string& path) {
  const std::string extension = fs::path(path).extension().string();
  char key[32];
  std::snprintf(key, sizeof key, "%016llx", static_cast<unsigned long long>(StableHash(ffmpegArgs + "|" + extension)));
  const std::string dir = MovieCacheDir();
  std::error_code ec;
  fs::create_directories(dir, ec);
  const std::string cached = dir + "/" + key + extension;
  if (!fs::exists(cached, ec)) {
    // Made under a name of this process and renamed into place, so a process beside this
    // one never reads half a movie; the last of two that race simply wins.
    const std::string partial = dir + "/" + key + ".part" + std::to_string(getpid()) + extension;
    if (Run("ffmpeg -nostdin -loglevel error -y " + ffmpegArgs + " '" + partial + "'") != 0) {
      fs::remove(partial, ec);
      return false;
    }
    fs::rename(partial, cached, ec);
    if (ec) return false;
  }
  fs::copy_file(cached, path, fs::copy_options::overwrite_existing, ec);
  return !ec;
}

int CurrentThreadId() { return int(syscall(SYS_gettid)); }

bool ThreadIsBlocked(int tid) {
  // /proc/self/task/<tid>/stat: "tid (name) state ...". The name may hold spaces and
  // parentheses, so the state is the first field after the last ')'.
  std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  const size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'S';
}

bool InCi() {
  const char* ci = std::getenv("CI");
  return ci && (std::string(ci) == "true" || std::string(ci) == "1");
}

bool HaveFfmpeg() {
  static const bool have = Run("command -v ffmpeg >/dev/null 2>&1 && command -v ffprobe >/dev/null 2>&1") == 0;
  // A CI machine that lacks them would skip every end-to-end test and still read green.
  if (!have && InCi()) ADD_FAILURE() << "CI=true: the ffmpeg and ffprobe programs are needed";
  return have;
}

int Run(const std::string& command) {
  int rc = std::system(command.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::string Capture(const std::string& command, int* status) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) {
    if (status) *status = -1;
    return out;
  }
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
  int rc = pclose(p);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

}  // namespace tavtest
