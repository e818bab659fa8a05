// Shared set-up of the filter library's tests: the graph and filter libraries registered
// into the test's private registry, fixture movies made once per test program with the
// ffmpeg tool, and a check that no object of the filter library is left at the end.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "media/contract/com.h"
#include "media/contract/comptr.h"
#include "media/contract/strmif.h"
#include "media/contract/uuids.h"
#include "tests/support/testenv.h"

namespace filtertest {

// dlopen'ed once; the runtime loads the same objects again by path, so the counts agree.
inline void* Library(const char* name) { return dlopen(tavtest::LibraryPath(name).c_str(), RTLD_NOW); }

using tavtest::RegisterLibrary;

inline HRESULT FiltersCanUnloadNow() {
  void* m = Library("tavrionfilters");
  auto fn = m ? reinterpret_cast<HRESULT (*)()>(dlsym(m, "DllCanUnloadNow")) : nullptr;
  return fn ? fn() : E_FAIL;
}

class FilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    ASSERT_EQ(RegisterLibrary("tavrionstreaming"), S_OK);
    ASSERT_EQ(RegisterLibrary("tavrionfilters"), S_OK);
  }
  void TearDown() override {
    CoFreeUnusedLibraries();
    EXPECT_EQ(FiltersCanUnloadNow(), S_OK) << "filter library objects leaked";
    CoUninitialize();
  }
};

// Makes (once per process) a fixture with ffmpeg arguments between "-y" and the output
// name; returns its path, or empty when ffmpeg failed or is missing.
std::string Fixture(const std::string& name, const std::string& args);

// Writes bytes to a new file in the temporary folder and returns its path.
std::string WriteFile(const std::string& name, const std::string& bytes);

inline std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

}  // namespace filtertest
