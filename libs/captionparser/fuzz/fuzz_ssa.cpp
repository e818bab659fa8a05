// libFuzzer target: any bytes read by the SSA/ASS reader alone, then captions looked up
// across the entries' times (a time-ordered list is checked on the way).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "libs/captionparser/lenientreaders.h"
#include "libs/captionparser/subripreader.h"
#include "libs/captionparser/subtitlestate.h"

using namespace captionparser;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/captionparser_fuzz_" + std::to_string(getpid()) + ".ass";
  static CSubtitleState* state = new CSubtitleState;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  state->Clear();
  if (ParseSsaFile(*state, path)) {
    const EntryList& entries = state->DefaultEntries();
    for (size_t i = 1; i < entries.size(); ++i) {
      if (entries[i - 1]->Start() >= entries[i]->Start()) std::abort();  // the lookup needs this order
    }
    for (const auto& e : entries) {
      if (state->CaptionAt(e->Start()) != e.get()) std::abort();
    }
  }
  state->CaptionAt(10'000'000);
  return 0;
}
