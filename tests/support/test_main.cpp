// Every test process gets its own registry and folders, so nothing touches the user's
// real files: TAVRION_REGISTRY_DIR, HOME and the XDG folders point into a temporary folder
// that is removed at exit (kept when TAVRION_KEEP_TEST_DIRS is set).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace tavtest {
std::string& TempDirStorage();
}

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::string base = fs::temp_directory_path().string() + "/tavrion-test-XXXXXX";
  if (!mkdtemp(base.data())) {
    perror("mkdtemp");
    return 2;
  }
  tavtest::TempDirStorage() = base;
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

  ::testing::InitGoogleTest(&argc, argv);
  const int rc = RUN_ALL_TESTS();
  if (!std::getenv("TAVRION_KEEP_TEST_DIRS")) {
    std::error_code ec;
    fs::remove_all(base, ec);
  }
  return rc;
}
