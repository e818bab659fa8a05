// libFuzzer target: any bytes as a SAMI file, read with and without its captions. Self-check
// mode reads each file a second time from its whole tree and aborts when the streaming reading
// differs in any style, language, entry or run.
#include <cstddef>
#include <cstdint>
#include <string>

#include "libs/captionparser/fuzz/readerfuzz.h"
#include "libs/captionparser/samireader.h"
#include "libs/captionparser/subtitlestate.h"

using namespace captionparser;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = FuzzFilePath(".smi");
  static CSubtitleState* state = NewSelfCheckingState();
  if (!WriteFuzzFile(data, size, path)) return 0;
  for (bool headerOnly : {false, true}) {
    state->Clear();
    ParseSamiFile(*state, path, headerOnly);
    state->CaptionAt(10'000'000);
  }
  return 0;
}
