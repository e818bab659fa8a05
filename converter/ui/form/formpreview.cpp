// The main form's preview: opening an entry's preview (which also probes the source), the
// play list, the play buttons and slider, the live settings, and the subtitle file steps
// that fill the language and size lists.
#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include "converter/engine/conversionrun.h"
#include "converter/engine/framesize.h"
#include "converter/engine/previewgraph.h"
#include "converter/engine/strings.h"
#include "converter/ui/controls/uitext.h"
#include "converter/ui/controls/images.h"
#include "converter/ui/form/tavrionconverterview.h"
#include "libs/captionparser/captionparser.h"
#include "media/contract/codepage.h"
#include "media/contract/com.h"
#include "media/contract/memoryowners.h"
#include "media/contract/videoinfo.h"
#include "ui_tavrionconverterview.h"

namespace tav {

using ui::Q;
using ui::S;

namespace {

constexpr int kDefaultPictureWidth = kSmallFrame.width;
constexpr int kDefaultPictureHeight = kSmallFrame.height;
// The form's own message: play the next entry of the play list.
constexpr QEvent::Type kPlayNextEvent = QEvent::Type(QEvent::User + 0x65);

// Subtitle sizes the form offers, by the subtitle source's identifiers.
struct KnownSize {
  const char* id;
  UINT name;
};
constexpr KnownSize kKnownSizes[] = {
    {"9F0194EA-D60A-43d2-B994-CB0FDDE02C3E", res::IDS_SUBSIZE_BIGGER},
    {"30174FFF-6773-425b-BB87-BA5038C9EF4A", res::IDS_SUBSIZE_SMALLER},
    {"A551CAEA-E6D4-4e47-8422-9128EEEE0D46", res::IDS_SUBSIZE_STANDARD},
};

// The text of a task-allocator string the caller hands over; the block goes here.
std::string TakeString(WCHAR* s) {
  const tav::TaskMemPtr<WCHAR> owned(s);
  return s ? Utf16ToUtf8(s) : std::string();
}

int FindData(QComboBox* combo, const std::string& data) {
  for (int i = 0; i < combo->count(); ++i)
    if (combo->itemData(i).toString().compare(Q(data), Qt::CaseInsensitive) == 0) return i;
  return -1;
}

}  // namespace

// ---- opening and closing --------------------------------------------------------------

bool CTavrionConverterView::OpenPreview(CConvertOrder* e, bool play) {
  ClosePreview();
  if (!e || e->HasProbeError() || doc_.IsConverting()) return false;
  HRChecker c;
  try {
    preview_.Build(e->SourcePath().Full(), PreviewSettings::ForEntry(*e));
    c.Check(ui_->videoHost->Attach(&preview_.Builder(), kDefaultPictureWidth, kDefaultPictureHeight, this));
    ui_->positionSlider->SetPlayer(player_);
    REFERENCE_TIME start = -1, end = -1;
    if (!e->GetTrimPoints(&start, &end)) start = end = -1;
    ui_->positionSlider->SetMarkersFromPoints(start, end);
    c.Check(player_->Pause());
    preview_.ProbeInto(*e);
    if (play) c.Check(player_->Run());
  } catch (const HRChecker& failure) {
    e->SetProbeResult(failure.GetHr(), failure.GetMediaType(), failure.GetContext());
    list_->Refresh(e);
    ClosePreview();
    return false;
  }
  e->SetProbeResult(S_OK, MediaTypeValue(), std::string());
  e->SetPlayState(play);
  previewed_ = e;
  list_->Refresh(e);
  UpdateEstimatedSize();
  updateActions();
  return true;
}

void CTavrionConverterView::ClosePreview() {
  CConvertOrder* was = previewed_;
  // While a run goes on the player belongs to it.
  if (!doc_.IsConverting()) ui_->videoHost->Detach();
  preview_.Clear();
  previewed_ = nullptr;
  if (!doc_.IsConverting()) ui_->playStatusLabel->clear();
  if (was) {
    was->ClearPlayState();
    list_->Refresh(was);
  }
  ui_->videoHost->update();
  UpdateEstimatedSize();
  updateActions();
}

void CTavrionConverterView::ReopenPreview() {
  CConvertOrder* e = previewed_;
  if (!e) return;
  const bool playing = player_->GetState() == PlayerCore::kRunning;
  REFERENCE_TIME pos = 0;
  player_->GetPosition(&pos);
  // Closing empties the "current/total" line, which the slider refills only when its text
  // changes: back at the same position it would stay empty while paused.
  const QString status = ui_->playStatusLabel->text();
  if (OpenPreview(e, false)) {
    player_->Seek(pos, false);
    if (playing) player_->Run();
    if (ui_->playStatusLabel->text().isEmpty()) ui_->playStatusLabel->setText(status);
  }
}

// ---- play buttons and play list -------------------------------------------------------

void CTavrionConverterView::OnPlay() {
  if (doc_.IsConverting()) return;
  std::vector<CConvertOrder*> selected = SelectedRows();
  if (previewed_ && selected.size() < 2) {
    ui_->positionSlider->OnPlay();
    previewed_->SetPlayState(true);
    list_->Refresh(previewed_);
    return;
  }
  if (selected.empty()) return;
  CommitEdits();
  playList_ = selected;
  playCursor_ = 0;
  PlayNextInList();
}

void CTavrionConverterView::PlayNextInList() {
  while (playCursor_ < playList_.size()) {
    CConvertOrder* e = playList_[playCursor_++];
    if (OpenPreview(e, true)) return;
  }
  playList_.clear();
  playCursor_ = 0;
}

size_t CTavrionConverterView::PlayListRemaining() const {
  return playCursor_ < playList_.size() ? playList_.size() - playCursor_ : 0;
}

void CTavrionConverterView::OnPausePreview() {
  if (!previewed_) return;
  ui_->positionSlider->OnPause();
  previewed_->SetPlayState(false);
  list_->Refresh(previewed_);
}

void CTavrionConverterView::OnStop() {
  playList_.clear();
  playCursor_ = 0;
  if (!previewed_) return;
  ui_->positionSlider->OnStop();
  previewed_->SetPlayState(false);
  list_->Refresh(previewed_);
}

void CTavrionConverterView::OnPlayerEvent(PlayerCore* player, LONG eventCode) {
  if (eventCode != EC_COMPLETE || player != player_ || doc_.IsConverting()) return;
  player_->Pause();
  player_->Seek(0);
  if (previewed_) {
    previewed_->SetPlayState(false);
    list_->Refresh(previewed_);
  }
  // The next entry starts from the event loop, not from inside the graph's event delivery.
  if (PlayListRemaining() > 0) QTimer::singleShot(0, this, [this] { PlayNextInList(); });
}

void CTavrionConverterView::OnStateChanged(PlayerCore*, int state) {
  ui_->playButton->setIcon(state == PlayerCore::kRunning
                               ? ui::ResourceIcon(ui::kImagePause, ui::kImagePauseDisabled)
                               : ui::ResourceIcon(ui::kImagePlay, ui::kImagePlayDisabled));
  updateActions();
}

// ---- live settings --------------------------------------------------------------------

void CTavrionConverterView::OnFrameSizeChosen(int item) {
  EntryEditor editor = Editor();
  if (!editor.SetFrameSizeItem(item)) return;
  AfterEdit(editor);
  // The preview's resizers make pictures of the old size: the preview is built again at the
  // new one, at the same position and in the same state.
  if (EditsPreviewed(editor)) ReopenPreview();
  else if (CConvertOrder* e = editor.Single()) ui_->videoHost->SetFrameSize(e->GetFrameWidth(), e->GetFrameHeight());
}

void CTavrionConverterView::OnScreenFitChosen(int item) {
  EntryEditor editor = Editor();
  if (!editor.SetScreenFitItem(item)) return;
  AfterEdit(editor);
  if (EditsPreviewed(editor)) ui_->videoHost->SetScreenFit(previewed_->GetScreenFit());
}

void CTavrionConverterView::OnSubtitleSizeChosen() {
  EntryEditor editor = Editor();
  const std::string id = S(ui_->subtitleSizeCombo->currentData().toString());
  if (!editor.SetSubtitleSize(id)) return;
  AfterEdit(editor);
  if (EditsPreviewed(editor)) ui_->videoHost->SetSubtitleSize(id);
}

void CTavrionConverterView::OnSubtitleLanguageChosen() {
  EntryEditor editor = Editor();
  const std::string code = S(ui_->languageCombo->currentData().toString());
  // Of several entries, a language goes to those whose file has it.
  const auto offered = [this](const CConvertOrder& e, const std::string& language) {
    const auto file = fileLanguages_.find(e.SubtitlePath().Full());
    return file == fileLanguages_.end() || file->second.count(language) > 0;
  };
  if (!editor.SetSubtitleLanguage(code, offered)) return;
  AfterEdit(editor);
  if (EditsPreviewed(editor)) ui_->videoHost->SetSubtitleLanguage(code);
}

// ---- subtitle files -------------------------------------------------------------------

ISubtitleManager* CTavrionConverterView::SubtitleManager() {
  if (!subtitleManager_)
    CoCreateInstance(CLSID_SubtitleManager, nullptr, CLSCTX_ALL, IID_ISubtitleManager,
                     subtitleManager_.AsVoidOut());
  return subtitleManager_.Get();
}

void CTavrionConverterView::ClearSubtitleLists() {
  for (QComboBox* combo : {ui_->subtitleSizeCombo, ui_->languageCombo}) {
    combo->clear();
    combo->setPlaceholderText(QString());
  }
  fileLanguages_.clear();
}

void CTavrionConverterView::OnBrowseSubtitles() {
  EntryEditor editor = Editor();
  CConvertOrder* e = editor.Single();
  if (!e) return;
  const std::string start = editor.SubtitlePathOf(S(ui_->subtitleFileEdit->text()));
  const std::string chosen = dialogs_->OpenFile(this, start.empty() ? e->SourcePath().Folder() : start,
                                                res::Text(res::IDS_SUBTITLE_FILTER), res::Text(res::IDS_SUBTITLE_EXT));
  if (chosen.empty()) return;
  editor.SetUseSubtitles(true);
  editor.SetSubtitleFileText(chosen);
  // The edit names it relative to the movie when it lies beside or below it.
  ui_->subtitleFileEdit->setText(Q(editor.SubtitleFileText()));
  LoadSubtitleFile(true);
  AfterEdit(editor);
  ReopenPreview();
}

void CTavrionConverterView::OnUseSubtitles() {
  EntryEditor editor = Editor();
  if (editor.IsEmpty()) return;
  // A click on a box that showed the entries differ decides for all of them.
  ui_->useSubtitlesCheck->setTristate(false);
  const bool on = ui_->useSubtitlesCheck->isChecked();
  CConvertOrder* e = editor.Single();
  if (!e) {
    // Where switching on reaches no entry more (the others have no file), the click
    // switches them all off instead: a click always does something.
    const bool changed = editor.SetUseSubtitles(on) || (on && editor.SetUseSubtitles(false));
    if (changed) {
      LoadSubtitleLists(editor);
      AfterEdit(editor);
      if (EditsPreviewed(editor)) ReopenPreview();
    }
    ShowEntries(false);
    return;
  }
  editor.SetUseSubtitles(on);
  if (on) {
    // Switched on without a file: the file is chosen now, or the box goes off again.
    if (!ui_->subtitleFileEdit->text().isEmpty()) LoadSubtitleFile(false);
    else OnBrowseSubtitles();
    if (ui_->subtitleFileEdit->text().isEmpty()) editor.SetUseSubtitles(false);
  }
  AfterEdit(editor);
  ReopenPreview();
}

void CTavrionConverterView::ApplySubtitleFile() {
  EntryEditor editor = Editor();
  CConvertOrder* e = editor.Single();
  const std::string text = S(ui_->subtitleFileEdit->text());
  if (!e || editor.SubtitlePathOf(text) == e->SubtitlePath().Full()) return;
  editor.SetSubtitleFileText(text);
  LoadSubtitleFile(true);
  AfterEdit(editor);
}

bool CTavrionConverterView::LoadSubtitleHeader(const std::string& path) {
  ISubtitleManager* manager = path.empty() || !QFileInfo(Q(path)).isFile() ? nullptr : SubtitleManager();
  if (!manager) return false;
  const std::u16string wide = Utf8ToUtf16(path);
  return SUCCEEDED(manager->LoadFile(reinterpret_cast<const WCHAR*>(wide.c_str()), TRUE));
}

namespace {

// The sizes (by identifier, only those the form names) and the languages (code, name) of
// the subtitle file the manager holds.
void ReadSubtitleOffer(ISubtitleManager* manager, std::vector<std::string>* sizes,
                       std::vector<std::pair<std::string, std::string>>* languages) {
  int count = 0;
  if (SUCCEEDED(manager->GetSizeCount(&count))) {
    for (int i = 0; i < count; ++i) {
      WCHAR* id = nullptr;
      if (FAILED(manager->GetSizeId(i, &id))) continue;
      const std::string sizeId = TakeString(id);
      for (const KnownSize& k : kKnownSizes)
        if (QString::compare(Q(sizeId), k.id, Qt::CaseInsensitive) == 0) sizes->push_back(sizeId);
    }
  }
  count = 0;
  if (SUCCEEDED(manager->GetLanguageCount(&count))) {
    for (int i = 0; i < count; ++i) {
      WCHAR* name = nullptr;
      WCHAR* code = nullptr;
      const bool ok = SUCCEEDED(manager->GetLanguageName(i, &name)) && SUCCEEDED(manager->GetLanguageCode(i, &code));
      std::string n = TakeString(name), c = TakeString(code);
      if (ok) languages->emplace_back(std::move(c), std::move(n));
    }
  }
}

UINT SizeName(const std::string& id) {
  for (const KnownSize& k : kKnownSizes)
    if (QString::compare(Q(id), k.id, Qt::CaseInsensitive) == 0) return k.name;
  return 0;
}

}  // namespace

void CTavrionConverterView::LoadSubtitleFile(bool typed) {
  const EntryEditor editor = Editor();
  CConvertOrder* e = editor.Single();
  const QString text = ui_->subtitleFileEdit->text();
  const std::string path = editor.SubtitlePathOf(S(text));
  const bool loaded = e && LoadSubtitleHeader(path);
  ClearSubtitleLists();
  if (!loaded) {
    // Drawing off: the preview shows no captions from a file that isn't there.
    if (typed && !text.isEmpty() && previewed_) ClosePreview();
    preview_.Builder().SetSubtitles(false, std::string(), std::string(), std::string());
    ui_->videoHost->EnableSubtitles(false);
    return;
  }
  std::vector<std::string> sizes;
  std::vector<std::pair<std::string, std::string>> languages;
  ReadSubtitleOffer(SubtitleManager(), &sizes, &languages);
  for (const std::string& id : sizes) ui_->subtitleSizeCombo->addItem(Q(res::Text(SizeName(id))), Q(id));
  for (const auto& [code, name] : languages) ui_->languageCombo->addItem(Q(name), Q(code));
  // The entry's own size and language, or the first the file offers.
  int at = FindData(ui_->subtitleSizeCombo, e->GetSubtitleSize());
  ui_->subtitleSizeCombo->setCurrentIndex(at >= 0 ? at : (ui_->subtitleSizeCombo->count() > 0 ? 0 : -1));
  at = FindData(ui_->languageCombo, e->GetSubtitleLanguage());
  ui_->languageCombo->setCurrentIndex(at >= 0 ? at : (ui_->languageCombo->count() > 0 ? 0 : -1));
  const std::string size = S(ui_->subtitleSizeCombo->currentData().toString());
  const std::string language = S(ui_->languageCombo->currentData().toString());
  preview_.Builder().SetSubtitles(e->UsesSubtitles(), path, size, language);
  if (previewed_ == e) ui_->videoHost->SetSubtitles(path, language, size);
  e->SetSubtitlePath(path);
  e->SetSubtitleSize(size);
  e->SetSubtitleLanguage(language);
}

void CTavrionConverterView::LoadSubtitleLists(const EntryEditor& editor) {
  ClearSubtitleLists();
  // Every size and language one of the files offers; a choice then goes to the entries
  // whose file has it.
  std::set<std::string> sizesSeen;
  std::set<std::string> languagesSeen;
  std::vector<std::pair<std::string, std::string>> languages;
  for (CConvertOrder* e : editor.Entries()) {
    const std::string& path = e->SubtitlePath().Full();
    if (!EntryEditor::HasSubtitles(*e) || fileLanguages_.count(path) || !LoadSubtitleHeader(path)) continue;
    std::vector<std::string> sizes;
    std::vector<std::pair<std::string, std::string>> offered;
    ReadSubtitleOffer(SubtitleManager(), &sizes, &offered);
    for (const std::string& id : sizes) sizesSeen.insert(ToLowerAscii(id));
    std::set<std::string>& codes = fileLanguages_[path];
    for (const auto& language : offered) {
      codes.insert(language.first);
      if (languagesSeen.insert(language.first).second) languages.push_back(language);
    }
  }
  for (const KnownSize& k : kKnownSizes)
    if (sizesSeen.count(ToLowerAscii(k.id))) ui_->subtitleSizeCombo->addItem(Q(res::Text(k.name)), QString(k.id));
  for (const auto& [code, name] : languages) ui_->languageCombo->addItem(Q(name), Q(code));
  ShowItem(ui_->subtitleSizeCombo, ItemOfData(ui_->subtitleSizeCombo, editor.SubtitleSize()));
  ShowItem(ui_->languageCombo, ItemOfData(ui_->languageCombo, editor.SubtitleLanguage()));
}

}  // namespace tav
