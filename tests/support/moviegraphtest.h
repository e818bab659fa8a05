// The fixture of the graph tests over real movies that the ffmpeg program makes: skipped
// without the program, with the streaming library (GraphTest) and the component libraries the
// test names registered in the test's private registry.
#pragma once

#include <initializer_list>
#include <vector>

#include "platform/streaming/tests/graph_testutil.h"
#include "tests/support/testenv.h"

namespace tavtest {

class MovieGraphTest : public graphtest::GraphTest {
 protected:
  // libraries: names of build/lib/lib<name>.so to register.
  explicit MovieGraphTest(std::initializer_list<const char*> libraries) : libraries_(libraries) {}

  void SetUp() override {
    if (!HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is needed to make test movies";
    GraphTest::SetUp();
    for (const char* lib : libraries_) ASSERT_EQ(RegisterLibrary(lib), S_OK) << lib;
  }
  // False when SetUp skipped the test or failed: a derived SetUp stops there.
  static bool Ready() { return !IsSkipped() && !HasFatalFailure(); }

 private:
  std::vector<const char*> libraries_;
};

}  // namespace tavtest
