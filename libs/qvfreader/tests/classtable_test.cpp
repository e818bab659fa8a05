// The classes the library publishes (identifiers, names and merits written out here), and
// every row of its class table as registered into a fresh registry: the class keys, an
// object by class identifier, and the filter mapper finding each filter by its registered
// pin types.
#include <gtest/gtest.h>

#include "libs/qvfreader/qvfreader.cpp"  // NOLINT: the library's own g_Templates
#include "tests/support/classtable.h"

TEST(qvfreader_ClassTable, EveryRowIsRegisteredCreatedAndFoundByTheMapper) {
  tavtest::ExpectLibraryClasses("qvfreader", g_Templates, int(std::size(g_Templates)),
                                {{"{1616D96D-5D93-43EC-AC7B-C2AA3B41A5F7}", "VXCMN Qvf Reader Filter", 0x200000}});
}
