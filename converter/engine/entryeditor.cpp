#include "converter/engine/entryeditor.h"

#include <unistd.h>

#include <climits>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "converter/engine/strings.h"

namespace tav {

namespace {

template <typename T, size_t N>
constexpr int Count(const T (&)[N]) {
  return int(N);
}

bool ValidItem(int item, int count) { return item >= 0 && item < count; }

int FrameSizeItemOf(const CConvertOrder& e) {
  for (int i = 0; i < Count(kFrameSizeChoices); ++i)
    if (kFrameSizeChoices[i].width == e.GetFrameWidth() && kFrameSizeChoices[i].height == e.GetFrameHeight()) return i;
  return EntryEditor::kNoItem;
}

int FrameRateItemOf(const CConvertOrder& e) {
  for (int i = 0; i < Count(kFrameRateChoices); ++i)
    if (std::fabs(kFrameRateChoices[i] - e.GetFrameRate()) < 1e-9) return i;
  return EntryEditor::kNoItem;
}

int ScreenFitItemOf(const CConvertOrder& e) {
  switch (e.GetScreenFit()) {
    case CConvertOrder::kFit: return 0;
    case CConvertOrder::kStretch: return 2;
    default: return 1;  // Crop, and the old crop value 1
  }
}

int SplitItemOf(const CConvertOrder& e) {
  for (int i = 0; i < Count(kSplitSizeChoices); ++i)
    if (kSplitSizeChoices[i] == e.GetSplitSize()) return i;
  return EntryEditor::kNoItem;
}

int OutputFormatItemOf(const CConvertOrder& e) {
  return ValidItem(e.GetUiSelection(), kOutputFormatCount) ? e.GetUiSelection() : EntryEditor::kNoItem;
}

bool CanFit(const CConvertOrder& e) { return !e.Is4by3(); }
bool CanSeek(const CConvertOrder& e) { return e.IsSeekable(); }

// The one value all entries share (empty when there are none), or none when they differ.
template <typename Get>
std::optional<std::string> SharedText(const std::vector<CConvertOrder*>& entries, Get get) {
  if (entries.empty()) return std::string();
  std::string first = get(*entries.front());
  for (const CConvertOrder* e : entries)
    if (get(*e) != first) return std::nullopt;
  return first;
}

// Sets value on each entry through the member set; true when the member get read another value
// from any of them before.
template <typename Get, typename Set, typename T>
bool SetOnEach(const std::vector<CConvertOrder*>& entries, Get get, Set set, const T& value) {
  bool changed = false;
  for (CConvertOrder* e : entries) {
    changed |= (e->*get)() != value;
    (e->*set)(value);
  }
  return changed;
}

}  // namespace

std::string OutputNameProblem(const std::string& name, const std::string& ext) {
  if (name.empty()) return res::Text(res::IDS_OUTPUT_NAME_EMPTY);
  if (name.find('/') != std::string::npos) return res::FormatId(res::IDS_OUTPUT_NAME_SEPARATOR, {name});
  if (name == "." || name == "..") return res::FormatId(res::IDS_OUTPUT_NAME_DOTS, {name});
  // Parts of a split movie add four digits to the title ("clip0002.qvf").
  constexpr size_t kPartDigits = 4;
  const size_t room = NAME_MAX > ext.size() + kPartDigits ? NAME_MAX - ext.size() - kPartDigits : 0;
  if (name.size() > room) return res::FormatId(res::IDS_OUTPUT_NAME_TOO_LONG, {name, std::to_string(room)});
  return std::string();
}

OutputFolderState CheckOutputFolder(const std::string& folder) {
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(folder, ec);
  if (folder.empty() || !std::filesystem::exists(status)) return OutputFolderState::kMissing;
  if (!std::filesystem::is_directory(status)) return OutputFolderState::kNotAFolder;
  // A file is made there and its name searched: both write and search rights.
  if (::access(folder.c_str(), W_OK | X_OK) != 0) return OutputFolderState::kReadOnly;
  return OutputFolderState::kUsable;
}

bool MakeOutputFolder(const std::string& folder, std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec && error) *error = ec.message();
  return !ec;
}

std::string EntryEditor::OutputExtension(const CConvertOrder& entry) {
  return entry.OutputPath().Extension().empty() ? res::Text(res::IDS_OUTPUT_EXT) : entry.OutputPath().Extension();
}

bool EntryEditor::HasSubtitles(const CConvertOrder& entry) {
  return entry.UsesSubtitles() && !entry.SubtitlePath().IsEmpty();
}

template <typename Pick>
int EntryEditor::SharedItem(const std::vector<CConvertOrder*>& entries, Pick pick) const {
  if (entries.empty()) return kNoItem;
  const int first = pick(*entries.front());
  for (const CConvertOrder* e : entries)
    if (pick(*e) != first) return kMixed;
  return first;
}

std::vector<CConvertOrder*> EntryEditor::Where(bool (*keep)(const CConvertOrder&)) const {
  std::vector<CConvertOrder*> out;
  for (CConvertOrder* e : entries_)
    if (keep(*e)) out.push_back(e);
  return out;
}

// ---- what the controls show -----------------------------------------------------------

int EntryEditor::OutputFormatItem() const { return SharedItem(entries_, OutputFormatItemOf); }
int EntryEditor::FrameSizeItem() const { return SharedItem(entries_, FrameSizeItemOf); }
int EntryEditor::FrameRateItem() const { return SharedItem(entries_, FrameRateItemOf); }

int EntryEditor::ScreenFitItem() const {
  const std::vector<CConvertOrder*> fitting = Where(CanFit);
  return SharedItem(fitting.empty() ? entries_ : fitting, ScreenFitItemOf);
}

int EntryEditor::SplitItem() const {
  const std::vector<CConvertOrder*> seeking = Where(CanSeek);
  return SharedItem(seeking.empty() ? entries_ : seeking, SplitItemOf);
}

EntryEditor::Check EntryEditor::UseSubtitles() const {
  const int shared = SharedItem(entries_, [](const CConvertOrder& e) { return e.UsesSubtitles() ? 1 : 0; });
  return shared == kMixed ? Check::kMixed : shared == 1 ? Check::kOn : Check::kOff;
}

std::optional<std::string> EntryEditor::OutputFolder() const {
  return SharedText(entries_, [](const CConvertOrder& e) { return e.OutputPath().Folder(); });
}

std::string EntryEditor::OutputTitle() const { return IsSingle() ? Single()->OutputPath().Title() : std::string(); }

std::string EntryEditor::SubtitleFileText() const {
  const CConvertOrder* e = Single();
  if (!e) return std::string();
  const std::string& path = e->SubtitlePath().Full();
  const std::string folder = e->SourcePath().Folder();
  if (!path.empty() && !folder.empty() && path.compare(0, folder.size(), folder) == 0)
    return path.substr(folder.size());
  return path;
}

std::optional<std::string> EntryEditor::SubtitleSize() const {
  return SharedText(Where(HasSubtitles), [](const CConvertOrder& e) { return e.GetSubtitleSize(); });
}

std::optional<std::string> EntryEditor::SubtitleLanguage() const {
  return SharedText(Where(HasSubtitles), [](const CConvertOrder& e) { return e.GetSubtitleLanguage(); });
}

bool EntryEditor::CanChangeScreenFit() const { return !Where(CanFit).empty(); }
bool EntryEditor::CanSplit() const { return !Where(CanSeek).empty(); }
bool EntryEditor::AnyHasSubtitles() const { return !Where(HasSubtitles).empty(); }

// ---- changes --------------------------------------------------------------------------

bool EntryEditor::SetOutputFormatItem(int item) {
  if (!ValidItem(item, kOutputFormatCount)) return false;
  return SetOnEach(entries_, &CConvertOrder::GetUiSelection, &CConvertOrder::SetUiSelection, item);
}

bool EntryEditor::SetFrameSizeItem(int item) {
  if (!ValidItem(item, Count(kFrameSizeChoices))) return false;
  const FrameSize size = kFrameSizeChoices[item];
  bool changed = false;
  for (CConvertOrder* e : entries_) {
    changed |= e->GetFrameWidth() != size.width || e->GetFrameHeight() != size.height;
    e->SetFrameSize(size.width, size.height);
  }
  return changed;
}

bool EntryEditor::SetFrameRateItem(int item) {
  if (!ValidItem(item, Count(kFrameRateChoices))) return false;
  bool changed = false;
  for (CConvertOrder* e : entries_) {
    changed |= FrameRateItemOf(*e) != item;
    e->SetFrameRate(kFrameRateChoices[item]);
  }
  return changed;
}

bool EntryEditor::SetScreenFitItem(int item) {
  if (!ValidItem(item, Count(kScreenFitChoices))) return false;
  return SetOnEach(Where(CanFit), &CConvertOrder::GetScreenFit, &CConvertOrder::SetScreenFit, kScreenFitChoices[item]);
}

bool EntryEditor::SetSplitItem(int item) {
  if (!ValidItem(item, Count(kSplitSizeChoices))) return false;
  // A source that cannot seek (or is not probed yet) keeps what it stores: it splits
  // nothing, and a split read from a batch file must outlive the wait for its probe.
  return SetOnEach(Where(CanSeek), &CConvertOrder::GetSplitSize, &CConvertOrder::SetSplitSize, kSplitSizeChoices[item]);
}

bool EntryEditor::SetUseSubtitles(bool on) {
  bool changed = false;
  for (CConvertOrder* e : entries_) {
    // Of several entries, only those with a subtitle file can take subtitles on; a single
    // entry is switched on while its file is chosen.
    if (on && !IsSingle() && e->SubtitlePath().IsEmpty()) continue;
    changed |= e->UsesSubtitles() != on;
    e->SetUseSubtitles(on);
  }
  return changed;
}

bool EntryEditor::SetOutputFolder(const std::string& folder) {
  if (folder.empty()) return false;
  const std::string withSlash = folder.back() == '/' ? folder : folder + '/';
  bool changed = false;
  for (CConvertOrder* e : entries_) {
    const std::string path = withSlash + e->OutputPath().Title() + OutputExtension(*e);
    changed |= path != e->OutputPath().Full();
    e->SetOutputPath(path);
  }
  return changed;
}

bool EntryEditor::SetOutputTitle(const std::string& title, std::string* problem) {
  CConvertOrder* e = Single();
  if (!e) return false;
  const std::string ext = OutputExtension(*e);
  const std::string why = OutputNameProblem(title, ext);
  if (problem) *problem = why;
  if (!why.empty()) return false;
  const std::string path = e->OutputPath().Folder() + title + ext;
  if (path == e->OutputPath().Full()) return false;
  e->SetOutputPath(path);
  return true;
}

std::string EntryEditor::SubtitlePathOf(const std::string& text) const {
  const CConvertOrder* e = Single();
  if (!e) return std::string();
  CPath p(text);
  p.MakeAbsolute(e->SourcePath());
  return p.Full();
}

bool EntryEditor::SetSubtitleFileText(const std::string& text) {
  CConvertOrder* e = Single();
  if (!e) return false;
  const std::string path = SubtitlePathOf(text);
  if (path == e->SubtitlePath().Full()) return false;
  e->SetSubtitlePath(path);
  return true;
}

bool EntryEditor::SetSubtitleSize(const std::string& id) {
  if (id.empty()) return false;
  return SetOnEach(Where(HasSubtitles), &CConvertOrder::GetSubtitleSize, &CConvertOrder::SetSubtitleSize, id);
}

bool EntryEditor::SetSubtitleLanguage(const std::string& code, const LanguageOffered& offered) {
  if (code.empty()) return false;
  bool changed = false;
  for (CConvertOrder* e : Where(HasSubtitles)) {
    if (offered && !offered(*e, code)) continue;
    changed |= e->GetSubtitleLanguage() != code;
    e->SetSubtitleLanguage(code);
  }
  return changed;
}

}  // namespace tav
