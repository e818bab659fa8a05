#include "libs/captionparser/subtitlestate.h"

#include <algorithm>
#include <cstdio>

#include "libs/captionparser/lenientreaders.h"
#include "libs/captionparser/samireader.h"
#include "libs/captionparser/subripreader.h"
#include "libs/captionparser/subtitletext.h"
#include "libs/captionparser/textutil.h"

namespace captionparser {

namespace {

std::string StyleKey(int kind, std::string_view selector) {
  return std::to_string(kind) + ":" + AsciiLower(selector);
}

}  // namespace

const char* ReaderName(SubtitleReader reader) {
  switch (reader) {
    case SubtitleReader::kSami: return "SAMI";
    case SubtitleReader::kSubRip: return "SubRip";
    case SubtitleReader::kWebVtt: return "WebVTT";
    case SubtitleReader::kSsa: return "SSA/ASS";
    case SubtitleReader::kSubRipTolerant: return "SubRip (tolerant)";
    case SubtitleReader::kNone: break;
  }
  return "";
}

void CSubtitleState::Clear() {
  loadedPath_.clear();
  encoding_.clear();
  ResetForNextReader();
}

void CSubtitleState::ResetForNextReader() {
  reader_ = SubtitleReader::kNone;
  for (LanguageSlot& slot : languageTable_) {
    slot.style = nullptr;
    slot.entries.clear();
  }
  defaultEntries_.clear();
  languages_.clear();
  identifiers_.clear();
  droppedLanguages_.clear();
  languageCount_ = 0;
  currentLanguage_ = nullptr;
  currentSize_ = nullptr;
  firstStyle_.clear();
  styles_.clear();
}

bool CSubtitleState::LoadFile(const std::string& path, bool headerOnly) {
  Clear();
  const ScopedSubtitleTextCache readOnce;
  loadedPath_ = path;
  if (ParseSamiFile(*this, path, headerOnly)) {
    reader_ = SubtitleReader::kSami;
  } else if (ParseSubRipFile(*this, path)) {
    reader_ = SubtitleReader::kSubRip;
  } else {
    static constexpr struct {
      SubtitleReader reader;
      bool (*parse)(CSubtitleState&, const std::string&);
    } kLenient[] = {{SubtitleReader::kWebVtt, ParseWebVttFile},
                    {SubtitleReader::kSsa, ParseSsaFile},
                    {SubtitleReader::kSubRipTolerant, ParseSubRipTolerant}};
    for (const auto& lenient : kLenient) {
      ResetForNextReader();
      if (lenient.parse(*this, path)) {
        reader_ = lenient.reader;
        break;
      }
    }
    if (reader_ == SubtitleReader::kNone) {
      loadedPath_.clear();
      return false;
    }
  }
  encoding_ = SubtitleTextEncoding(path);
  char sizeClasses[512];
  std::snprintf(sizeClasses, sizeof sizeClasses,
                "#%s {name:Debug Normal;font-size:7%%;}\t\t\t\t\t\t\t  #%s {name:Debug Big;font-size:8%%;}"
                "\t\t\t\t\t\t\t  #%s {name:Debug Small;font-size:6%%;}",
                kSizeClassNormal, kSizeClassBig, kSizeClassSmall);
  ParseStyleSheet(*this, sizeClasses);
  return true;
}

CCaptionStyle* CSubtitleState::AddStyle(std::unique_ptr<CCaptionStyle> style) {
  CCaptionStyle* added = styles_.emplace_back(std::move(style)).get();
  firstStyle_.emplace(StyleKey(added->kind, added->selector), added);
  return added;
}

const CCaptionStyle* CSubtitleState::FindStyle(int kind, std::string_view selector) const {
  auto it = firstStyle_.find(StyleKey(kind, selector));
  return it == firstStyle_.end() ? nullptr : it->second;
}

void CSubtitleState::AddLanguage(const CCaptionStyle* style) {
  if (languageCount_ >= kLanguageSlots) {
    droppedLanguages_.insert(style);
    return;
  }
  languages_.push_back(style);
  languageTable_[size_t(languageCount_++)].style = style;
}

int CSubtitleState::SlotIndex(const CCaptionStyle* language) const {
  if (!language) return -1;
  for (int i = 0; i < languageCount_; ++i) {
    if (EqualsNoCase(languageTable_[size_t(i)].style->selector, language->selector)) return i;
  }
  return -1;
}

void CSubtitleState::FileEntryAs(const CCaptionStyle* language, std::unique_ptr<CCaptionEntry> entry) {
  if (int slot = SlotIndex(language); slot >= 0) {
    languageTable_[size_t(slot)].entries.push_back(std::move(entry));
  } else if (!droppedLanguages_.count(language)) {
    defaultEntries_.push_back(std::move(entry));
  }
  // Captions of a language beyond the table are dropped rather than mixed into the default
  // list, where they would show for "no language".
}

const EntryList& CSubtitleState::EntriesFor(const CCaptionStyle* language) const {
  int slot = SlotIndex(language);
  return slot >= 0 ? languageTable_[size_t(slot)].entries : defaultEntries_;
}

const CCaptionEntry* CSubtitleState::CaptionAt(REFERENCE_TIME time) const {
  const EntryList& list = EntriesFor(currentLanguage_);
  auto after = std::upper_bound(list.begin(), list.end(), time,
                                [](REFERENCE_TIME t, const std::unique_ptr<CCaptionEntry>& e) { return t < e->Start(); });
  return after == list.begin() ? nullptr : std::prev(after)->get();
}

}  // namespace captionparser
