// The classes the platform's filter library publishes (identifiers, names and merits written
// out here), and every row of its class table as registered into a fresh registry: the class
// keys, an object by class identifier, and the filter mapper finding each filter by its
// registered pin types.
#include <gtest/gtest.h>

#include "platform/filters/filtertable.cpp"  // NOLINT: the library's own g_Templates
#include "tests/support/classtable.h"

TEST(filters_ClassTable, EveryRowIsRegisteredCreatedAndFoundByTheMapper) {
  tavtest::ExpectLibraryClasses(
      "tavrionfilters", g_Templates, int(std::size(g_Templates)),
      {{"{6A08CF80-0E18-11CF-A24D-0020AFD79767}", "ACM Wrapper", 0x600000},
       {"{3C1F0E2B-5B7D-4E61-9A48-2D6E81C43F57}", "Audio Decoder", 0x5FFFFF},
       {"{CF49D4E0-1115-11CE-B03A-0020AF0BA770}", "AVI Decompressor", 0x600000},
       {"{1B544C20-FD0B-11CE-8C63-00AA0044B51E}", "AVI Splitter", 0x600000},
       {"{1643E180-90F5-11CE-97D5-00AA0055595A}", "Color Space Converter", 0x400000},
       {"{79376820-07D0-11CF-A24D-0020AFD79767}", "DirectSound Audio Renderer", 0x800000},
       {"{94297043-BD82-4DFD-B0DE-8177739C6D20}", "DMO Wrapper Filter", 0x200000},
       {"{4EB31670-9FC6-11CF-AF6E-00AA00B67A42}", "DV Splitter", 0x600000},
       {"{B1B77C00-C3E4-11CF-AF79-00AA00B67A42}", "DV Video Decoder", 0x600000},
       {"{E436EBB5-524F-11CE-9F53-0020AF0BA770}", "File Source (Async)", 0x400000},
       {"{F8388A40-D5BB-11D0-BE5A-0080C706568E}", "Infinite Pin Tee Filter", 0x200000},
       {"{3D5E7F91-2A4C-4B6E-8D0F-21436587A9CB}", "Media File Source", 0x400000},
       {"{4A2286E0-7BEF-11CE-9BD9-0000E202599C}", "MPEG Audio Decoder", 0x600000},
       {"{38BE3000-DBF4-11D0-860E-00A024CFEF6D}", "MPEG Layer-3 Decoder", 0x600000},
       {"{8A2B4C6D-1E3F-4A5B-8C7D-9E0F1A2B3C4D}", "MPEG Program Source", 0x400000},
       {"{6F1E3A52-7C4B-4D8E-9A21-3B5C7D9E0F14}", "MPEG-4 Source", 0x400000},
       {"{336475D0-942A-11CE-A870-00AA002FEAB5}", "MPEG1 Splitter", 0x600000},
       {"{FEB50740-7BEF-11CE-9BD9-0000E202599C}", "MPEG1 Video Decoder", 0x600000},
       {"{C1F400A4-3F08-11D3-9F0B-006008039E37}", "Null Renderer", 0x200000},
       {"{3C1F0E2A-5B7D-4E61-9A48-2D6E81C43F57}", "Video Decoder", 0x5FFFFF},
       {"{B87BEB7B-8D29-423F-AE4D-6582C10175AC}", "Video Mixing Renderer", 0x200000},
       {"{51B4ABF3-748F-4E3B-A276-C828330E926A}", "Video Mixing Renderer 9", 0x200000},
       {"{70E102B0-5556-11CE-97C0-00AA0055595A}", "Video Renderer", 0x800001},
       {"{187463A0-5BB7-11D3-ACBE-0080C75E246E}", "WM ASF Reader", 0x400000}},
      tavtest::PinsAtCreation::kMadeLater);
}
