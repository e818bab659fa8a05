// What a loaded subtitle file leaves behind: every style created while reading, the languages
// and size classes of the file, and the caption entries filed per language. The Subtitle
// Manager object owns one of these (the COM object and the drawing of captions build on it);
// the SAMI and SubRip readers fill it.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "libs/captionparser/captiondocument.h"
#include "libs/captionparser/captionentry.h"
#include "libs/captionparser/captionstyle.h"
#include "media/contract/wintypes.h"

namespace captionparser {

using EntryList = std::vector<std::unique_ptr<CCaptionEntry>>;

// The identifiers of the built-in size classes, added after every load.
inline constexpr const char* kSizeClassNormal = "A551CAEA-E6D4-4e47-8422-9128EEEE0D46";
inline constexpr const char* kSizeClassBig = "9F0194EA-D60A-43d2-B994-CB0FDDE02C3E";
inline constexpr const char* kSizeClassSmall = "30174FFF-6773-425b-BB87-BA5038C9EF4A";

// Which reader took the loaded file.
enum class SubtitleReader { kNone, kSami, kSubRip, kWebVtt, kSsa, kSubRipTolerant };
// The reader's name as users know the format: "SAMI", "SubRip", "WebVTT", "SSA/ASS",
// "SubRip (tolerant)"; empty for none.
const char* ReaderName(SubtitleReader reader);

class CSubtitleState {
 public:
  static constexpr int kLanguageSlots = 10;
  static constexpr int kDefaultTextAreaPercent = 20;

  struct LanguageSlot {
    const CCaptionStyle* style = nullptr;
    EntryList entries;
  };

  CSubtitleState() = default;
  CSubtitleState(const CSubtitleState&) = delete;
  CSubtitleState& operator=(const CSubtitleState&) = delete;

  // Forgets the path, every entry and style, the languages and size classes and the selection.
  void Clear();
  // Clears, then reads the file as SAMI and, when that fails, as SubRip; when both strict
  // readers refuse it, as WebVTT, SSA/ASS and tolerant SubRip, each starting from a clean
  // state. Then adds the built-in size classes. False (with no path kept) when no reader
  // accepts the file; what the readers created stays until the next load.
  bool LoadFile(const std::string& path, bool headerOnly);
  // The reader that took the loaded file (kNone when nothing is loaded).
  SubtitleReader Reader() const { return reader_; }
  // The encoding the loaded file's text was read in ("UTF-8", "CP949", ...); empty when
  // nothing is loaded.
  const std::string& Encoding() const { return encoding_; }

  // --- used by the readers ---
  // Forgets what a reader made (styles, languages, size classes, entries, selection), keeping
  // the path: for a reader that reads the file again, or for the next reader.
  void ResetForNextReader();
  // Appends a style to the list of all styles and returns it.
  CCaptionStyle* AddStyle(std::unique_ptr<CCaptionStyle> style);
  // The first style of the kind whose selector name matches (case-insensitive), or null.
  const CCaptionStyle* FindStyle(int kind, std::string_view selector) const;
  // A style whose "SAMIType" is set: listed and given the next free language slot. Once the
  // table is full, further languages are left out (not listed, their captions not kept).
  void AddLanguage(const CCaptionStyle* style);
  void AddIdentifier(const CCaptionStyle* style) { identifiers_.push_back(style); }
  // Files an entry under the current language (the slot whose style has the current language's
  // selector name), or the default list when there is no current language or no such slot.
  void FileEntry(std::unique_ptr<CCaptionEntry> entry) { FileEntryAs(currentLanguage_, std::move(entry)); }
  // Files an entry under the given language (null: the default list), as FileEntry does.
  void FileEntryAs(const CCaptionStyle* language, std::unique_ptr<CCaptionEntry> entry);
  EntryList& DefaultEntries() { return defaultEntries_; }

  // --- what the manager reads ---
  const std::string& LoadedPath() const { return loadedPath_; }
  CCaptionDocument& Document() { return document_; }
  const CCaptionStyle& DefaultStyle() const { return defaultStyle_; }
  const std::vector<std::unique_ptr<CCaptionStyle>>& AllStyles() const { return styles_; }
  const std::vector<const CCaptionStyle*>& Languages() const { return languages_; }
  const std::vector<const CCaptionStyle*>& Identifiers() const { return identifiers_; }
  const std::array<LanguageSlot, kLanguageSlots>& LanguageTable() const { return languageTable_; }
  int LanguageCount() const { return languageCount_; }
  const EntryList& DefaultEntries() const { return defaultEntries_; }
  int TextAreaPercent() const { return textAreaPercent_; }

  const CCaptionStyle* CurrentLanguage() const { return currentLanguage_; }
  const CCaptionStyle* CurrentSize() const { return currentSize_; }
  void SetCurrentLanguage(const CCaptionStyle* style) { currentLanguage_ = style; }
  void SetCurrentSize(const CCaptionStyle* style) { currentSize_ = style; }

  // The entries of a language (by selector name), or the default list.
  const EntryList& EntriesFor(const CCaptionStyle* language) const;
  // The caption due at `time` for the current language: the last entry that starts at or
  // before it (entries show until the next one starts); null before the first or when empty.
  const CCaptionEntry* CaptionAt(REFERENCE_TIME time) const;

 private:
  int SlotIndex(const CCaptionStyle* language) const;  // -1: none

  std::string loadedPath_;  // empty when nothing is loaded
  SubtitleReader reader_ = SubtitleReader::kNone;
  std::string encoding_;
  CCaptionDocument document_;  // reused by both readers for every load
  const CCaptionStyle* currentLanguage_ = nullptr;
  const CCaptionStyle* currentSize_ = nullptr;
  CCaptionStyle defaultStyle_;  // every property at its default, no selector
  std::vector<std::unique_ptr<CCaptionStyle>> styles_;  // owns every style made while reading
  std::unordered_map<std::string, const CCaptionStyle*> firstStyle_;  // "kind:lower-case selector"
  std::vector<const CCaptionStyle*> languages_;
  std::vector<const CCaptionStyle*> identifiers_;
  std::array<LanguageSlot, kLanguageSlots> languageTable_;
  int languageCount_ = 0;
  std::unordered_set<const CCaptionStyle*> droppedLanguages_;  // beyond the table's slots
  EntryList defaultEntries_;
  int textAreaPercent_ = kDefaultTextAreaPercent;  // captions start in this share of the height
};

}  // namespace captionparser
