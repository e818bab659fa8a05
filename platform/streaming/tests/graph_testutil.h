// Shared set-up of the graph library's tests: registering libtavrionstreaming into the
// test's private registry, and checking that it holds no objects at the end.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include "media/contract/com.h"
#include "media/contract/comptr.h"
#include "media/contract/strmif.h"
#include "media/contract/uuids.h"
#include "tests/support/testenv.h"

namespace graphtest {

class StreamingLibrary {
 public:
  // Loads the library and registers it (classes and the legacy filter category).
  static HRESULT Register() {
    void* m = Module();
    if (!m) return E_FAIL;
    auto reg = reinterpret_cast<PFN_DllRegisterServer>(dlsym(m, "DllRegisterServer"));
    return reg ? reg() : E_FAIL;
  }
  // S_OK when no object of the library is alive.
  static HRESULT CanUnloadNow() {
    void* m = Module();
    auto fn = m ? reinterpret_cast<PFN_DllCanUnloadNow>(dlsym(m, "DllCanUnloadNow")) : nullptr;
    return fn ? fn() : E_FAIL;
  }

 private:
  static void* Module() {
    static void* m = dlopen(tavtest::LibraryPath("tavrionstreaming").c_str(), RTLD_NOW);
    return m;
  }
};

// Base fixture: a registered library, and at the end no live graph objects (class objects
// cached by the runtime are dropped first).
class GraphTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    ASSERT_EQ(StreamingLibrary::Register(), S_OK);
  }
  void TearDown() override {
    CoFreeUnusedLibraries();
    EXPECT_EQ(StreamingLibrary::CanUnloadNow(), S_OK) << "graph library objects leaked";
    CoUninitialize();
  }
};

}  // namespace graphtest
