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

// Registers a filter with the given pins (a version-2 registration) with the mapper.
inline HRESULT RegisterPins(IFilterMapper2* mapper, const CLSID& clsid, const char16_t* name, DWORD merit,
                            const REGFILTERPINS2* pins, ULONG count, const CLSID* category = nullptr) {
  REGFILTER2 rf{};
  rf.dwVersion = 2;
  rf.dwMerit = merit;
  rf.cPins2 = count;
  rf.rgPins2 = pins;
  return mapper->RegisterFilter(clsid, name, nullptr, category, nullptr, &rf);
}

// A renderer: one rendering input pin of (major, minor).
inline HRESULT RegisterRenderer(IFilterMapper2* mapper, const CLSID& clsid, const char16_t* name, DWORD merit,
                                const GUID& major, const GUID& minor) {
  const REGPINTYPES type{&major, &minor};
  const REGFILTERPINS2 pin{REG_PINFLAG_B_RENDERER, 1, 1, &type, 0, nullptr, nullptr};
  return RegisterPins(mapper, clsid, name, merit, &pin, 1);
}

// A transform: one input pin of type `in` (with inFlags) and one output pin of type `out`.
inline HRESULT RegisterTransform(IFilterMapper2* mapper, const CLSID& clsid, const char16_t* name, DWORD merit,
                                 const REGPINTYPES& in, const REGPINTYPES& out, const CLSID* category = nullptr,
                                 DWORD inFlags = 0) {
  const REGFILTERPINS2 pins[2] = {{inFlags, 1, 1, &in, 0, nullptr, nullptr},
                                  {REG_PINFLAG_B_OUTPUT, 1, 1, &out, 0, nullptr, nullptr}};
  return RegisterPins(mapper, clsid, name, merit, pins, 2, category);
}

}  // namespace graphtest
