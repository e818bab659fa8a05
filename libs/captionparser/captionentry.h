// A timed caption: its start time and the styled text runs shown from then until the next
// caption starts.
#pragma once

#include <cstdint>
#include <span>
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

// A large file has millions of entries, most of them with one run: the runs are kept in one
// block of their own without a separate capacity word per vector, and the entry itself takes
// 24 bytes.
class CCaptionEntry {
 public:
  explicit CCaptionEntry(REFERENCE_TIME start) : start_(start) {}
  ~CCaptionEntry() { FreeRuns(); }
  CCaptionEntry(CCaptionEntry&& other) noexcept
      : start_(other.start_), runs_(other.runs_), size_(other.size_), capacity_(other.capacity_) {
    other.runs_ = nullptr;
    other.size_ = other.capacity_ = 0;
  }
  CCaptionEntry& operator=(CCaptionEntry&& other) noexcept;
  CCaptionEntry(const CCaptionEntry&) = delete;
  CCaptionEntry& operator=(const CCaptionEntry&) = delete;

  // Collapses the white space at both edges to one space each, replaces entities ("&nbsp;" by a
  // space, every other named entity by nothing) and appends the run.
  void AddRun(std::string_view text, const CCaptionStyle* style);
  // Appends a run whose text is already plain (no entities to replace): only the white space
  // at its edges is collapsed, as AddRun does.
  void AddPlainRun(std::string_view text, const CCaptionStyle* style);
  // Appends a run exactly as given.
  void AppendRun(CTextRun run);
  // Hands the runs over, leaving the entry without any.
  std::vector<CTextRun> TakeRuns();

  REFERENCE_TIME Start() const { return start_; }
  std::span<const CTextRun> Runs() const { return {runs_, size_}; }

 private:
  void FreeRuns();

  REFERENCE_TIME start_;      // 100-ns units
  CTextRun* runs_ = nullptr;  // capacity_ slots, the first size_ of them constructed
  uint32_t size_ = 0;
  uint32_t capacity_ = 0;
};

}  // namespace captionparser
