// The classes the library publishes (identifiers, names and merits written out here), and
// every row of its class table as registered into a fresh registry: the class keys, an
// object by class identifier, and the filter mapper finding each filter by its registered
// pin types.
#include <gtest/gtest.h>

#include "libs/captionparser/captionparser.cpp"  // NOLINT: the library's own g_Templates
#include "tests/support/classtable.h"

TEST(captionparser_ClassTable, EveryRowIsRegisteredCreatedAndFoundByTheMapper) {
  tavtest::ExpectLibraryClasses(
      "captionparser", g_Templates, int(std::size(g_Templates)),
      {{"{68C6F137-DF5C-451C-A770-F3B3E41C9A0D}", "Subtitle Filter", 0x200000},
       {"{608FE5E9-E20B-4BA9-9A80-FFAD044CAA39}", "Subtitle Manager", tavtest::kNoFilterData}});
}
