// The classes the library publishes (identifiers, names and merits written out here), and
// every row of its class table as registered into a fresh registry: the class keys, an
// object by class identifier, and the filter mapper finding each filter by its registered
// pin types.
#include <gtest/gtest.h>

#include "libs/vxvideokit/vxvideokit.cpp"  // NOLINT: the library's own g_Templates
#include "tests/support/classtable.h"

TEST(vxvideokit_ClassTable, EveryRowIsRegisteredCreatedAndFoundByTheMapper) {
  tavtest::ExpectLibraryClasses(
      "vxvideokit", g_Templates, int(std::size(g_Templates)),
      {{"{715A0A2F-5C35-4A91-B339-885A8BA09612}", "Audio compression factory", tavtest::kNoFilterData},
       {"{AC53E022-B59B-44F6-BFBC-F157774B7072}", "KORVA Media Reader Holder", tavtest::kNoFilterData},
       {"{64DBE03A-A713-45DF-98CF-F2B97F8D0856}", "VXCMN Audio Compressor Filter", 0x200000},
       {"{CC8153B2-BFB0-4B33-AB54-181DAE737EC7}", "VXCMN Audio channel mixer", 0x200000},
       {"{A01811DC-AFBF-490D-8987-7CDC539274E8}", "VXCMN Deferred Resizer", 0x200000},
       {"{5A43E2A7-F981-41F0-8F8D-50C653AB6D60}", "VXCMN Frame Rate Converter", 0x200000},
       {"{77847556-6768-4BD9-9AAD-326B12D728F5}", "VXCMN Interlace Mode Checker", 0x200000},
       {"{3CEE4CF0-6FDA-4FDE-84D1-BF199D2BED77}", "VXCMN Media Reader Filter", 0x200000},
       {"{F5ED8920-79A7-46FD-8366-41430CF90B2E}", "VXCMN Resizer Properties", tavtest::kNoFilterData},
       {"{C875E88C-0762-4808-9243-6A6C1077DD66}", "VXCMN Video Analizer Filter", 0x200000},
       {"{5DFE9C7B-A9B5-48C5-A1E4-EC65AE7CF742}", "VXCMN Video Header Adapter", 0x200000},
       {"{C30BBD34-76BF-4D59-8AA7-152E875D446C}", "VXCMN Video Resizer", 0x200000}});
}
