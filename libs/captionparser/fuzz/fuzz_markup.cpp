// libFuzzer target: any bytes as mark-up text, tokenized and walked the way a SAMI body and a
// SubRip cue are, and read as a style sheet. Self-check mode compares every guarded search
// with a plain PCRE search and the open-element search with the literal walk.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "libs/captionparser/captionentry.h"
#include "libs/captionparser/fuzz/readerfuzz.h"
#include "libs/captionparser/patterns.h"
#include "libs/captionparser/samireader.h"
#include "libs/captionparser/subtitlestate.h"

using namespace captionparser;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static CSubtitleState* state = NewSelfCheckingState();
  std::string_view text(reinterpret_cast<const char*>(data), size);
  state->Clear();
  ParseStyleSheet(*state, text);
  CCaptionDocument& doc = state->Document();
  doc.LoadText(text);
  // As a SAMI body: SYNC elements make entries of their own.
  WalkElements(*state, doc.Root()->firstChild, nullptr, &state->DefaultStyle());
  // As cue text: everything lands in one entry.
  CCaptionEntry entry(0);
  WalkElements(*state, doc.Root()->firstChild, &entry, &state->DefaultStyle());
  for (const CMarkupNode* n = doc.Root(); n; n = n->firstChild) (void)doc.Text(n);
  state->CaptionAt(0);
  return 0;
}
