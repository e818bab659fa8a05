// The body shared by the fuzz targets of the readers that take a file alone: the bytes are
// written to a file of the reader's kind and read, then captions are looked up across the
// entries' times (a time-ordered list is checked on the way).
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "libs/captionparser/subtitlestate.h"

namespace captionparser {

template <typename Reader>
int FuzzReaderOnce(const uint8_t* data, size_t size, const char* extension, Reader read) {
  static const std::string path = "/tmp/captionparser_fuzz_" + std::to_string(getpid()) + extension;
  static CSubtitleState* state = new CSubtitleState;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  state->Clear();
  if (read(*state, path)) {
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

}  // namespace captionparser
