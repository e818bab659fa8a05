// libFuzzer target: any bytes as a subtitle file, loaded the way the Subtitle Manager loads
// one (SAMI first, then SubRip), plus the timing-line parser on the first line.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "libs/captionparser/fuzz/readerfuzz.h"
#include "libs/captionparser/subripreader.h"
#include "libs/captionparser/subtitlestate.h"

using namespace captionparser;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = FuzzFilePath(".srt");
  static CSubtitleState* state = NewSelfCheckingState();
  if (!WriteFuzzFile(data, size, path)) return 0;
  state->LoadFile(path, false);
  state->CaptionAt(10'000'000);
  std::string_view text(reinterpret_cast<const char*>(data), size);
  REFERENCE_TIME start, end;
  ParseTimingLine(text.substr(0, text.find('\n')), &start, &end);
  return 0;
}
