#include "libs/captionparser/captionentry.h"

#include <memory>

#include "libs/captionparser/patterns.h"
#include "libs/captionparser/textutil.h"

namespace captionparser {

void CCaptionEntry::AddRun(std::string_view text, const CCaptionStyle* style) {
  std::string collapsed = CollapseEdgeSpace(text);
  std::string_view source(collapsed);
  CTextRun run;
  run.style = style;
  run.text.reserve(source.size());
  RegexMatch m;
  size_t pos = 0;
  while (pos < source.size() && Patterns().entity.Search(source, pos, &m)) {
    run.text.append(source.substr(pos, m.Start(0) - pos));
    if (EqualsNoCase(m.Group(1), "nbsp")) run.text.push_back(' ');
    pos = m.End(0);
  }
  run.text.append(source.substr(pos));
  AppendRun(std::move(run));
}

void CCaptionEntry::AddPlainRun(std::string_view text, const CCaptionStyle* style) {
  AppendRun(CTextRun{CollapseEdgeSpace(text), style});
}

void CCaptionEntry::AppendRun(CTextRun run) {
  if (size_ == capacity_) {
    // Exactly one slot for the first run, as most entries have; doubling after that.
    const uint32_t capacity = capacity_ ? 2 * capacity_ : 1;
    CTextRun* grown = std::allocator<CTextRun>().allocate(capacity);
    for (uint32_t i = 0; i < size_; ++i) {
      std::construct_at(grown + i, std::move(runs_[i]));
      std::destroy_at(runs_ + i);
    }
    if (runs_) std::allocator<CTextRun>().deallocate(runs_, capacity_);
    runs_ = grown;
    capacity_ = capacity;
  }
  std::construct_at(runs_ + size_, std::move(run));
  ++size_;
}

std::vector<CTextRun> CCaptionEntry::TakeRuns() {
  std::vector<CTextRun> runs;
  runs.reserve(size_);
  for (uint32_t i = 0; i < size_; ++i) runs.push_back(std::move(runs_[i]));
  FreeRuns();
  return runs;
}

CCaptionEntry& CCaptionEntry::operator=(CCaptionEntry&& other) noexcept {
  if (this != &other) {
    FreeRuns();
    start_ = other.start_;
    runs_ = other.runs_;
    size_ = other.size_;
    capacity_ = other.capacity_;
    other.runs_ = nullptr;
    other.size_ = other.capacity_ = 0;
  }
  return *this;
}

void CCaptionEntry::FreeRuns() {
  if (!runs_) return;
  std::destroy_n(runs_, size_);
  std::allocator<CTextRun>().deallocate(runs_, capacity_);
  runs_ = nullptr;
  size_ = capacity_ = 0;
}

}  // namespace captionparser
