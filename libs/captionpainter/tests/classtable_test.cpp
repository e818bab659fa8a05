// The classes the library publishes (identifiers, names and merits written out here), and
// every row of its class table as registered into a fresh registry: the class keys, an
// object by class identifier, and the filter mapper finding each filter by its registered
// pin types.
#include <gtest/gtest.h>

#include "libs/captionpainter/captionpainter.cpp"  // NOLINT: the library's own g_Templates
#include "tests/support/classtable.h"

TEST(captionpainter_ClassTable, EveryRowIsRegisteredCreatedAndFoundByTheMapper) {
  tavtest::ExpectLibraryClasses(
      "captionpainter", g_Templates, int(std::size(g_Templates)),
      {{"{5F1AD4C7-D632-4C3E-839D-C1D30852C97C}", "VXCMN Subtitle Drawer", tavtest::kNoFilterData},
       {"{4277A167-3A70-4169-BF31-C1D1296BBFEE}", "VXCMN Subtitle Renderer", 0x200000}});
}
