// The graph helpers of the VxVideoKit tests: the shared filter harness (a push source, a
// recording sink, library registration) and the library's own helpers, under one namespace.
#pragma once

#include "libs/vxvideokit/tests/filterhelpers.h"
#include "tests/support/filterharness.h"
#include "tests/support/testenv.h"

namespace vktest {

using namespace tavtest;  // NOLINT: the harness's names are the tests' own

}  // namespace vktest
