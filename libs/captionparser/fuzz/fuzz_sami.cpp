// libFuzzer target: any bytes as a SAMI file, read with and without its captions. Self-check
// mode reads each file a second time from its whole tree and aborts when the streaming reading
// differs in any style, language, entry or run.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "libs/captionparser/patterns.h"
#include "libs/captionparser/samireader.h"
#include "libs/captionparser/subtitlestate.h"

using namespace captionparser;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/captionparser_fuzz_" + std::to_string(getpid()) + ".smi";
  static CSubtitleState* state = [] {
    SetSelfCheck(true);
    return new CSubtitleState;
  }();
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  for (bool headerOnly : {false, true}) {
    state->Clear();
    ParseSamiFile(*state, path, headerOnly);
    state->CaptionAt(10'000'000);
  }
  return 0;
}
