// The classes the library publishes (identifiers, names and merits written out here), and
// every row of its class table as registered into a fresh registry: the class keys, an
// object by class identifier, and the filter mapper finding each filter by its registered
// pin types.
#include <gtest/gtest.h>

#include "libs/vxcamwriter/vxcamwriter.cpp"  // NOLINT: the library's own g_Templates
#include "tests/support/classtable.h"

TEST(vxcamwriter_ClassTable, EveryRowIsRegisteredCreatedAndFoundByTheMapper) {
  tavtest::ExpectLibraryClasses(
      "vxcamwriter", g_Templates, int(std::size(g_Templates)),
      {{"{17D0A43C-156B-4051-BF29-454CACB5B644}", "VXCMN Cam Exporter Filter", 0x200000},
       {"{61E01FDD-8154-41D3-B04F-AA0E6E023EE4}", "VXCMN Cam Holder Object", tavtest::kNoFilterData}});
}
