// Every row of the library's class table, as registered into a fresh registry: the class
// keys, an object by class identifier, and the filter mapper finding each filter by its
// registered pin types. The table is compiled in here so that rows added later are walked too.
#include <gtest/gtest.h>

#include "libs/vxvideokit/tests/testgraph.h"
#include "libs/vxvideokit/vxvideokit.cpp"  // NOLINT: the library's own g_Templates
#include "tests/support/classtable.h"

TEST(vxvideokit_ClassTable, EveryRowIsRegisteredCreatedAndFoundByTheMapper) {
  CoInitialize(nullptr);
  ASSERT_EQ(S_OK, vktest::RegisterLibrary("tavrionstreaming"));
  void* module = nullptr;
  ASSERT_EQ(S_OK, vktest::RegisterLibrary("vxvideokit", &module));
  tavtest::ExpectClassTableRegistered(g_Templates, int(std::size(g_Templates)), "vxvideokit");

  CoFreeUnusedLibraries();
  auto canUnload = reinterpret_cast<PFN_DllCanUnloadNow>(dlsym(module, "DllCanUnloadNow"));
  ASSERT_TRUE(canUnload);
  EXPECT_EQ(S_OK, canUnload()) << "objects of the library are still alive";
  CoUninitialize();
}
