// What the fuzz targets that read files share: the input written to a file of the process's
// own (the same one every run), a state kept across runs, and the body of the targets of the
// readers that take a file alone: the file read, then captions looked up across the entries'
// times (a time-ordered list is checked on the way).
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "libs/captionparser/patterns.h"
#include "libs/captionparser/subtitlestate.h"

namespace captionparser {

// This process's input file with the extension of the kind the target reads.
inline std::string FuzzFilePath(const char* extension) {
  return "/tmp/captionparser_fuzz_" + std::to_string(getpid()) + extension;
}

// Writes the input to `path`; false when it cannot.
inline bool WriteFuzzFile(const uint8_t* data, size_t size, const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  return true;
}

// A state for every run of a target, made with the self-check mode on (SetSelfCheck).
inline CSubtitleState* NewSelfCheckingState() {
  SetSelfCheck(true);
  return new CSubtitleState;
}

template <typename Reader>
int FuzzReaderOnce(const uint8_t* data, size_t size, const char* extension, Reader read) {
  static const std::string path = FuzzFilePath(extension);
  static CSubtitleState* state = new CSubtitleState;
  if (!WriteFuzzFile(data, size, path)) return 0;
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
