// Known folders follow the XDG user directories of the (private) test home; libraries load
// and name themselves.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "media/contract/folders.h"
#include "media/contract/sync.h"
#include "tests/support/testenv.h"

namespace {

namespace fs = std::filesystem;

std::string Home() { return std::getenv("HOME"); }
std::string UserDirsFile() { return std::string(std::getenv("XDG_CONFIG_HOME")) + "/user-dirs.dirs"; }

class RuntimeFolders : public ::testing::Test {
 protected:
  void TearDown() override { fs::remove(UserDirsFile()); }
};

TEST_F(RuntimeFolders, DefaultsAreDocumentsAndVideosUnderHome) {
  char path[MAX_PATH];
  EXPECT_EQ(SHGetFolderPath(nullptr, CSIDL_PERSONAL, nullptr, 0, path), S_FALSE);  // not made yet
  EXPECT_EQ(std::string(path), Home() + "/Documents");
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(SHGetFolderPath(nullptr, CSIDL_MYVIDEO | CSIDL_FLAG_CREATE, nullptr, 0, path), S_OK);
  EXPECT_EQ(std::string(path), Home() + "/Videos");
  EXPECT_TRUE(fs::is_directory(path));
  EXPECT_EQ(SHGetFolderPath(nullptr, CSIDL_APPDATA, nullptr, 0, path) >= 0, true);
  EXPECT_EQ(std::string(path), std::getenv("XDG_DATA_HOME"));
  EXPECT_EQ(SHGetFolderPath(nullptr, 0x55, nullptr, 0, path), E_INVALIDARG);
  EXPECT_EQ(SHGetFolderPath(nullptr, CSIDL_PERSONAL, nullptr, 0, nullptr), E_INVALIDARG);
}

TEST_F(RuntimeFolders, UserDirsFileIsHonoured) {
  const std::string abs = tavtest::MakeTempSubdir("movies");
  std::ofstream(UserDirsFile()) << "# written by a desktop\n"
                                   "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n"
                                   "XDG_VIDEOS_DIR=\"relative/ignored\"\n"
                                   "XDG_VIDEOS_DIR=\"" << abs << "/\"\n"
                                   "XDG_MUSIC_DIR=\"$HOME/Musik\"\n";
  EXPECT_EQ(tav::KnownFolder(CSIDL_PERSONAL), Home() + "/Dokumente");
  EXPECT_EQ(tav::KnownFolder(CSIDL_MYVIDEO), abs);
  char path[MAX_PATH];
  EXPECT_EQ(SHGetFolderPath(nullptr, CSIDL_MYVIDEO, nullptr, 0, path), S_OK);
  EXPECT_EQ(std::string(path), abs);
}

TEST_F(RuntimeFolders, SystemFolderHoldsTheRuntimeLibraryAndProgramFolderTheExecutable) {
  const std::string lib = tavtest::LibraryPath("tavrionrt");
  EXPECT_EQ(fs::canonical(tav::KnownFolder(CSIDL_SYSTEM)), fs::canonical(fs::path(lib).parent_path()));
  const std::string exe = fs::canonical("/proc/self/exe").string();
  EXPECT_EQ(tav::ProgramFileName(), exe);
  EXPECT_EQ(tav::ProgramFolder(), fs::path(exe).parent_path().string());

  char path[MAX_PATH];
  ASSERT_EQ(GetModuleFileName(nullptr, path, MAX_PATH), exe.size());
  EXPECT_EQ(std::string(path), exe);
  // A short buffer is filled, terminated and reported as full.
  char small[8];
  EXPECT_EQ(GetModuleFileName(nullptr, small, sizeof small), 8u);
  EXPECT_EQ(std::string(small), exe.substr(0, 7));
  // Any address inside a library names that library.
  const auto inRuntime = reinterpret_cast<HMODULE>(reinterpret_cast<void*>(&SHGetFolderPath));
  ASSERT_GT(GetModuleFileName(inRuntime, path, MAX_PATH), 0u);
  EXPECT_EQ(fs::canonical(path), fs::canonical(lib));
}

TEST_F(RuntimeFolders, LibrariesLoadByNameOrPathAndReportFailures) {
  HMODULE libm = LoadLibrary("libm.so.6");
  ASSERT_NE(libm, nullptr);
  auto cosine = reinterpret_cast<double (*)(double)>(GetProcAddress(libm, "cos"));
  ASSERT_NE(cosine, nullptr);
  EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
  EXPECT_EQ(GetProcAddress(libm, "no_such_function_here"), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_PROC_NOT_FOUND));
  char path[MAX_PATH];
  ASSERT_GT(GetModuleFileName(libm, path, MAX_PATH), 0u);
  EXPECT_EQ(path[0], '/');
  EXPECT_NE(std::string(path).find("libm"), std::string::npos);
  EXPECT_TRUE(FreeLibrary(libm));

  EXPECT_EQ(LoadLibrary((tavtest::TempDir() + "/missing.so").c_str()), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
  const std::string junk = tavtest::MakeTempSubdir("libs") + "/junk.so";
  std::ofstream(junk) << "not a library";
  EXPECT_EQ(LoadLibrary(junk.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_BAD_FORMAT));
  // Handles that came straight from dlopen are understood too.
  void* raw = dlopen("libm.so.6", RTLD_NOW);
  ASSERT_NE(raw, nullptr);
  EXPECT_NE(GetProcAddress(static_cast<HMODULE>(raw), "sin"), nullptr);
  EXPECT_GT(GetModuleFileName(static_cast<HMODULE>(raw), path, MAX_PATH), 0u);
  EXPECT_NE(std::string(path).find("libm"), std::string::npos);
  dlclose(raw);
  EXPECT_FALSE(FreeLibrary(reinterpret_cast<HMODULE>(0x1234)));
  EXPECT_EQ(GetProcAddress(reinterpret_cast<HMODULE>(0x1234), "cos"), nullptr);
}

TEST_F(RuntimeFolders, CreateFolderPathMakesEveryLevel) {
  const std::string deep = tavtest::TempDir() + "/a/b/c";
  EXPECT_TRUE(tav::CreateFolderPath(deep));
  EXPECT_TRUE(fs::is_directory(deep));
  EXPECT_TRUE(tav::CreateFolderPath(deep));  // already there
  const std::string file = tavtest::TempDir() + "/plainfile";
  std::ofstream(file) << "x";
  EXPECT_FALSE(tav::CreateFolderPath(file + "/sub"));
  EXPECT_FALSE(tav::CreateFolderPath(""));
}

}  // namespace
