// libFuzzer target: any bytes read by the tolerant SubRip reader alone, then captions looked up
// across the entries' times.
#include "libs/captionparser/fuzz/readerfuzz.h"
#include "libs/captionparser/subripreader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return captionparser::FuzzReaderOnce(data, size, ".srt", [](captionparser::CSubtitleState& state, const std::string& path) {
    return captionparser::ParseSubRipTolerant(state, path);
  });
}
