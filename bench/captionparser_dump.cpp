// Prints everything a subtitle load leaves behind: the reader, languages, size classes, the
// current selection, and every entry of every list with its time and its runs, each run with
// every property of its style. Two builds of the readers can be compared by diffing the dumps
// of the same files. With --stats, each load's time, heap kept and the process's peak
// resident memory go to standard error instead (nothing else is printed).
#include <malloc.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "libs/captionparser/subtitlestate.h"

using namespace captionparser;

namespace {

std::string Escaped(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    } else {
      out += char(c);
    }
  }
  return out;
}

std::string Size(const CaptionSize& s) { return std::to_string(int(s.unit)) + ":" + std::to_string(s.number); }

std::string StyleText(const CCaptionStyle* s) {
  if (!s) return "(none)";
  char buf[160];
  std::snprintf(buf, sizeof buf, "kind=%d flags=%llx align=%d bold=%d italic=%d color=%06lx bg=%06lx", s->kind,
                (unsigned long long)s->flags, s->textAlign, s->bold, s->italic, (unsigned long)s->color,
                (unsigned long)s->backgroundColor);
  return "'" + Escaped(s->selector) + "' " + buf + " name='" + Escaped(s->name) + "' lang='" + Escaped(s->lang) +
         "' type='" + Escaped(s->samiType) + "' font='" + Escaped(s->fontFamily) + "' size=" + Size(s->fontSize) +
         " margins=" + Size(s->marginLeft) + "," + Size(s->marginRight) + "," + Size(s->marginTop) + "," +
         Size(s->marginBottom);
}

void DumpList(const char* name, const EntryList& list) {
  std::printf("list %s: %zu entries\n", name, list.size());
  for (const auto& e : list) {
    std::printf("  at %lld\n", (long long)e->Start());
    for (const CTextRun& run : e->Runs()) {
      std::printf("    '%s' %s\n", Escaped(run.text).c_str(), StyleText(run.style).c_str());
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  bool headerOnly = false;
  bool stats = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--header-only" || arg == "--stats") {
      (arg == "--stats" ? stats : headerOnly) = true;
      continue;
    }
    CSubtitleState state;
    auto t0 = std::chrono::steady_clock::now();
    bool ok = state.LoadFile(arg, headerOnly);
    if (stats) {
      double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      size_t entries = state.DefaultEntries().size();
      for (int slot = 0; slot < state.LanguageCount(); ++slot) entries += state.LanguageTable()[size_t(slot)].entries.size();
      struct mallinfo2 heap = mallinfo2();
      rusage usage{};
      getrusage(RUSAGE_SELF, &usage);
      std::fprintf(stderr, "%s: %s, %zu entries, %.2f s, heap kept %.1f MB, peak RSS %.1f MB\n", arg.c_str(),
                   ok ? "loaded" : "refused", entries, seconds, double(heap.uordblks) / 1048576,
                   double(usage.ru_maxrss) / 1024);
      continue;
    }
    std::printf("== %s: %s reader='%s' encoding='%s' styles=%zu\n", arg.c_str(), ok ? "loaded" : "refused",
                ReaderName(state.Reader()), state.Encoding().c_str(), state.AllStyles().size());
    for (const CCaptionStyle* l : state.Languages()) std::printf("language %s\n", StyleText(l).c_str());
    for (const CCaptionStyle* id : state.Identifiers()) std::printf("identifier %s\n", StyleText(id).c_str());
    std::printf("current language %s\ncurrent size %s\n", StyleText(state.CurrentLanguage()).c_str(),
                StyleText(state.CurrentSize()).c_str());
    for (int slot = 0; slot < state.LanguageCount(); ++slot) {
      DumpList(state.LanguageTable()[size_t(slot)].style->selector.c_str(), state.LanguageTable()[size_t(slot)].entries);
    }
    DumpList("(default)", state.DefaultEntries());
  }
  return 0;
}
