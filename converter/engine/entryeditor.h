// EntryEditor: the settings of one or several batch entries as the form's controls show
// them - a position in a list of choices, a text, a check state - and the changes the
// controls make, turned back into entry settings.
//
// With several entries, a control shows the value they share or that they differ
// (kMixed, Check::kMixed, an empty optional); a change goes into every entry it concerns:
// a screen fit only where the source is not exactly 4:3, a split size only where the source
// can seek, the subtitle size and language only where the entry has subtitles. A position
// that names no choice (a list left mixed, or with nothing chosen) changes nothing.
//
// The editor holds the entries, not copies of their settings: it is made for the selection
// at hand and read or changed at once.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "converter/engine/convertorder.h"

namespace tav {

// The values the form's lists offer, in the order of their items (the items' texts are
// those of the string table: IDS_FRAMESIZE_ITEMS, IDS_FRAMERATE_ITEMS, IDS_SCREENFIT_ITEMS,
// IDS_SPLIT_ITEMS).
inline constexpr FrameSize kFrameSizeChoices[] = {kSmallFrame, kLargeFrame};
inline constexpr double kFrameRateChoices[] = {15.0, 30.0};
inline constexpr int kScreenFitChoices[] = {CConvertOrder::kFit, CConvertOrder::kCrop, CConvertOrder::kStretch};
inline constexpr ULONGLONG kSplitSizeChoices[] = {0, 32ull << 20, 64ull << 20, 128ull << 20, 256ull << 20,
                                                  512ull << 20};
// The output formats the form offers (one: the camera's movie).
inline constexpr int kOutputFormatCount = 1;

// Why name cannot be the output file's name (the title, without the extension ext), or
// empty when it can: empty, "." or "..", a folder separator, or longer than a file name may
// be once the extension and a part number are added.
std::string OutputNameProblem(const std::string& name, const std::string& ext);

// Whether folder can take output files: there, a folder, and writable.
enum class OutputFolderState { kUsable, kMissing, kNotAFolder, kReadOnly };
OutputFolderState CheckOutputFolder(const std::string& folder);
// Makes folder and the folders above it that are missing; the system's reason when it
// cannot.
bool MakeOutputFolder(const std::string& folder, std::string* error);

class EntryEditor {
 public:
  // List positions besides the choices themselves.
  static constexpr int kNoItem = -1;  // the value is one no item offers (or no entries)
  static constexpr int kMixed = -2;   // the entries differ
  enum class Check { kOff, kOn, kMixed };
  // Whether an entry's subtitle file offers a language (the form knows from the files'
  // headers); without one every entry with subtitles takes the language.
  using LanguageOffered = std::function<bool(const CConvertOrder& entry, const std::string& code)>;

  EntryEditor() = default;
  explicit EntryEditor(std::vector<CConvertOrder*> entries) : entries_(std::move(entries)) {}

  const std::vector<CConvertOrder*>& Entries() const { return entries_; }
  bool IsEmpty() const { return entries_.empty(); }
  bool IsSingle() const { return entries_.size() == 1; }
  CConvertOrder* Single() const { return IsSingle() ? entries_.front() : nullptr; }

  // ---- what the controls show ----
  int OutputFormatItem() const;
  int FrameSizeItem() const;
  int FrameRateItem() const;
  // Over the entries whose fit can change, or all of them when none can (a 4:3 source
  // always fits). The old crop value 1 shows as Crop.
  int ScreenFitItem() const;
  // Over the entries that can seek, or all of them ("unlimited") when none can.
  int SplitItem() const;
  Check UseSubtitles() const;
  // The folder the outputs go to (ending in '/'); none when they differ. Empty without
  // entries.
  std::optional<std::string> OutputFolder() const;
  // The single entry's output title and its subtitle file as typed: relative to the movie's
  // folder when the file lies in it or below it. Empty unless exactly one entry.
  std::string OutputTitle() const;
  std::string SubtitleFileText() const;
  // Over the entries that have subtitles (empty when none has them); none when they differ.
  std::optional<std::string> SubtitleSize() const;
  std::optional<std::string> SubtitleLanguage() const;

  // ---- what can change ----
  bool CanChangeScreenFit() const;
  bool CanSplit() const;
  bool AnyHasSubtitles() const;

  // ---- changes (each answers whether any entry changed) ----
  bool SetOutputFormatItem(int item);
  bool SetFrameSizeItem(int item);
  bool SetFrameRateItem(int item);
  bool SetScreenFitItem(int item);
  bool SetSplitItem(int item);
  bool SetUseSubtitles(bool on);
  // Every entry's output goes into folder, keeping its own name.
  bool SetOutputFolder(const std::string& folder);
  // The single entry's output title; a name that is no file name is refused with the
  // reason (*problem) and changes nothing.
  bool SetOutputTitle(const std::string& title, std::string* problem = nullptr);
  // The single entry's subtitle file as typed (made absolute against the movie's folder).
  bool SetSubtitleFileText(const std::string& text);
  // The path a typed subtitle file names for the single entry (empty without one).
  std::string SubtitlePathOf(const std::string& text) const;
  bool SetSubtitleSize(const std::string& id);
  bool SetSubtitleLanguage(const std::string& code, const LanguageOffered& offered = nullptr);

  // The extension of an entry's output (the camera movie's when it has none).
  static std::string OutputExtension(const CConvertOrder& entry);
  // Whether an entry has subtitles to size and pick a language of.
  static bool HasSubtitles(const CConvertOrder& entry);

 private:
  // The one item position all of entries share by pick, kMixed when they differ.
  template <typename Pick>
  int SharedItem(const std::vector<CConvertOrder*>& entries, Pick pick) const;
  std::vector<CConvertOrder*> Where(bool (*keep)(const CConvertOrder&)) const;

  std::vector<CConvertOrder*> entries_;
};

}  // namespace tav
