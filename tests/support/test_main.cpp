// Every test process gets its own registry and folders, so nothing touches the user's
// real files: TAVRION_REGISTRY_DIR, HOME and the XDG folders point into a temporary folder
// that is removed at exit (kept when TAVRION_KEEP_TEST_DIRS is set).
#include <gtest/gtest.h>

#include "tests/support/testenv.h"

int main(int argc, char** argv) {
  if (!tavtest::SetUpPrivateEnvironment()) return 2;
  ::testing::InitGoogleTest(&argc, argv);
  const int rc = RUN_ALL_TESTS();
  tavtest::TearDownPrivateEnvironment();
  return rc;
}
