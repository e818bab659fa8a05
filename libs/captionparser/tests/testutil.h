// Helpers of the caption parser tests: files in the private temporary folder and a compact
// text form of caption entries that a test can compare in one line per entry.
#pragma once

#include <string>
#include <string_view>

#include "libs/captionparser/subtitlestate.h"
#include "tests/support/testenv.h"

namespace captiontest {

// The head and body tag of a SAMI file that centres its captions and has a Korean and an
// English class; a test adds its SYNC lines and the closing tags.
inline constexpr char kKoreanEnglishSami[] =
    "<SAMI><HEAD><STYLE TYPE=\"text/css\"><!--\n"
    "P { text-align:center; }\n"
    ".KRCC {Name:Korean; lang:ko-KR; SAMIType:CC;}\n"
    ".ENCC {Name:English; lang:en-US; SAMIType:CC;}\n"
    "-->\n</STYLE></HEAD><BODY>\n";

// The team's corpus in tests/data.
std::string CorpusPath(const std::string& name);

// One line per entry: the start in milliseconds, then each run as its text in brackets,
// followed by the style's marks: /i italic, /b bold, /f=<family> when not Tahoma,
// /c=<RRGGBB> when the text colour is not black. A line feed run is shown as [\n].
//   "2500 [Hello]/i [\n] [World]"
std::string Dump(const captionparser::EntryList& entries);
std::string DumpEntry(const captionparser::CCaptionEntry& entry);

// Restores the ANSI code page when a test ends.
class AnsiCodePageScope {
 public:
  explicit AnsiCodePageScope(const std::string& iconvName);
  ~AnsiCodePageScope();
  bool ok() const { return ok_; }

 private:
  std::string previous_;
  bool ok_;
};

}  // namespace captiontest
