// Real-world subtitle files of other projects (../shared/testdata/subtitles).
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>

#include "libs/captionparser/subtitlestate.h"
#include "libs/captionparser/tests/testutil.h"
#include "tests/support/testenv.h"

using namespace captionparser;
using captiontest::Dump;

TEST(SharedSamples, DumpAll) {
  std::string dir = tavtest::SharedTestData("subtitles");
  if (dir.empty()) GTEST_SKIP() << "shared subtitle samples are not available";
  std::vector<std::string> names;
  for (auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  for (auto& n : names) {
    if (n == "SOURCES.md") continue;
    CSubtitleState state;
    bool ok = state.LoadFile(dir + "/" + n, false);
    std::cout << "=== " << n << " ok=" << ok << " langs=" << state.Languages().size() << " ids=" << state.Identifiers().size() << "\n";
    for (int i = 0; i < state.LanguageCount(); ++i) std::cout << "-- lang " << state.LanguageTable()[i].style->selector << "\n" << Dump(state.LanguageTable()[i].entries);
    std::cout << "-- default\n" << Dump(state.DefaultEntries());
  }
}
