// A timed caption: its start time and the styled text runs shown from then until the next
// caption starts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "media/contract/wintypes.h"

namespace captionparser {

class CCaptionStyle;

// A piece of caption text in one style. Styles belong to the reader's state, which outlives
// every entry, so a run only points at its style.
struct CTextRun {
  std::string text;
  const CCaptionStyle* style = nullptr;
};

class CCaptionEntry {
 public:
  explicit CCaptionEntry(REFERENCE_TIME start) : start_(start) {}

  // Collapses the white space at both edges to one space each, replaces entities ("&nbsp;" by a
  // space, every other named entity by nothing) and appends the run.
  void AddRun(std::string_view text, const CCaptionStyle* style);
  // Appends a run whose text is already plain (no entities to replace): only the white space
  // at its edges is collapsed, as AddRun does.
  void AddPlainRun(std::string_view text, const CCaptionStyle* style);
  // Appends a run exactly as given.
  void AppendRun(CTextRun run) { runs_.push_back(std::move(run)); }
  // Hands the runs over, leaving the entry without any.
  std::vector<CTextRun> TakeRuns() { return std::move(runs_); }

  REFERENCE_TIME Start() const { return start_; }
  const std::vector<CTextRun>& Runs() const { return runs_; }

 private:
  REFERENCE_TIME start_;       // 100-ns units
  std::vector<CTextRun> runs_;
};

}  // namespace captionparser
