#include "libs/captionparser/tests/testutil.h"

#include <cstdio>
#include <fstream>

#include "media/contract/codepage.h"
#include "tests/support/testenv.h"

namespace captiontest {

using namespace captionparser;

std::string CorpusPath(const std::string& name) {
  return tavtest::SourceDir() + "/libs/captionparser/tests/data/" + name;
}

std::string DumpEntry(const CCaptionEntry& entry) {
  std::string out = std::to_string(entry.Start() / 10'000);
  for (const CTextRun& run : entry.Runs()) {
    out += " [";
    out += run.text == "\n" ? "\\n" : run.text;
    out += "]";
    const CCaptionStyle* s = run.style;
    if (!s) continue;
    if (s->italic) out += "/i";
    if (s->bold) out += "/b";
    if (s->fontFamily != "Tahoma") out += "/f=" + s->fontFamily;
    if (s->color != 0) {
      char rgb[8];
      std::snprintf(rgb, sizeof rgb, "%02X%02X%02X", unsigned(s->color & 0xFF), unsigned((s->color >> 8) & 0xFF),
                    unsigned((s->color >> 16) & 0xFF));
      out += std::string("/c=") + rgb;
    }
  }
  return out;
}

std::string Dump(const EntryList& entries) {
  std::string out;
  for (const auto& e : entries) out += DumpEntry(*e) + "\n";
  return out;
}

AnsiCodePageScope::AnsiCodePageScope(const std::string& iconvName)
    : previous_(tav::AnsiCodePage() == "UTF-8" ? std::string() : tav::AnsiCodePage()),
      ok_(tav::SetAnsiCodePage(iconvName)) {}

AnsiCodePageScope::~AnsiCodePageScope() { tav::SetAnsiCodePage(previous_); }

}  // namespace captiontest
