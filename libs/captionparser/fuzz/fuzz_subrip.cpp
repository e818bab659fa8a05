// libFuzzer target: any bytes as a subtitle file, loaded the way the Subtitle Manager loads
// one (SAMI first, then SubRip), plus the timing-line parser on the first line.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "libs/captionparser/patterns.h"
#include "libs/captionparser/subripreader.h"
#include "libs/captionparser/subtitlestate.h"

using namespace captionparser;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/captionparser_fuzz_" + std::to_string(getpid()) + ".srt";
  static CSubtitleState* state = [] {
    SetSelfCheck(true);
    return new CSubtitleState;
  }();
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  state->LoadFile(path, false);
  state->CaptionAt(10'000'000);
  std::string_view text(reinterpret_cast<const char*>(data), size);
  REFERENCE_TIME start, end;
  ParseTimingLine(text.substr(0, text.find('\n')), &start, &end);
  return 0;
}
