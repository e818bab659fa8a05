// The main form's preview: opening an entry's preview (which also probes the source), the
// play list, the play buttons and slider, the live settings, and the subtitle file steps
// that fill the language and size lists.
#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include "converter/engine/conversionrun.h"
#include "converter/engine/framesize.h"
#include "converter/engine/graphwalk.h"
#include "converter/engine/strings.h"
#include "converter/ui/controls/images.h"
#include "converter/ui/form/tavrionconverterview.h"
#include "libs/captionparser/captionparser.h"
#include "media/contract/codepage.h"
#include "media/contract/com.h"
#include "media/contract/videoinfo.h"
#include "ui_tavrionconverterview.h"

namespace tav {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

// Preview pictures run at a fixed rate whatever the entry converts to.
constexpr double kPreviewFrameRate = 15.0;
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

std::string TakeString(WCHAR* s) {
  std::string out = s ? Utf16ToUtf8(s) : std::string();
  CoTaskMemFree(s);
  return out;
}

int FindData(QComboBox* combo, const std::string& data) {
  for (int i = 0; i < combo->count(); ++i)
    if (combo->itemData(i).toString().compare(Q(data), Qt::CaseInsensitive) == 0) return i;
  return -1;
}

}  // namespace

// ---- opening and closing --------------------------------------------------------------

void CTavrionConverterView::ConfigurePreviewBuilder(CConvertOrder* e) {
  FilterGraphBuilder& b = previewBuilder_;
  b.SetConversionMode(false);
  b.SetFrameRate(true, kPreviewFrameRate);
  b.SetAudioTarget(true, 22050, 2, 16);
  b.SetResize(true, e->GetFrameWidth(), e->GetFrameHeight(), e->GetScreenFit());
  const bool subtitles = e->UsesSubtitles() && !e->SubtitlePath().IsEmpty();
  b.SetSubtitles(subtitles, e->SubtitlePath().Full(), e->GetSubtitleSize(), e->GetSubtitleLanguage());
  b.SetBurnIn(false);
  b.SetDrawer(subtitles, e->GetFrameWidth(), e->GetFrameHeight(), e->GetScreenFit());
}

void CTavrionConverterView::BuildPreviewGraph(const std::string& source) {
  // The source is opened twice, one instance for the picture and one for the sound: a
  // paused sound renderer holds its stream's thread, which must not starve the picture.
  previewBuilder_.SetWantedMajorType(MEDIATYPE_Video);
  try {
    previewBuilder_.AddSourceAndRender(source);
    previewBuilder_.SetWantedMajorType(MEDIATYPE_Audio);
    previewBuilder_.AddSourceAndRender(source);
  } catch (...) {
    previewBuilder_.SetWantedMajorType(GUID_NULL);
    throw;
  }
  previewBuilder_.SetWantedMajorType(GUID_NULL);
  previewBuilder_.FinishGraph(false);
}

bool CTavrionConverterView::OpenPreview(CConvertOrder* e, bool play) {
  ClosePreview();
  if (!e || e->HasProbeError() || doc_.IsConverting()) return false;
  HRChecker c;
  try {
    ConfigurePreviewBuilder(e);
    try {
      BuildPreviewGraph(e->SourcePath().Full());
    } catch (const HRChecker&) {
      // Without the drawer stage the captions still show, burned into the picture.
      if (!(e->UsesSubtitles() && !e->SubtitlePath().IsEmpty())) throw;
      previewBuilder_.Clear();
      previewBuilder_.SetDrawer(false, e->GetFrameWidth(), e->GetFrameHeight(), e->GetScreenFit());
      previewBuilder_.SetBurnIn(true);
      BuildPreviewGraph(e->SourcePath().Full());
    }
    c.Check(ui_->videoHost->Attach(&previewBuilder_, kDefaultPictureWidth, kDefaultPictureHeight, this));
    REFERENCE_TIME start = -1, end = -1;
    if (!e->GetTrimPoints(&start, &end)) start = end = -1;
    ui_->positionSlider->SetMarkersFromPoints(start, end);
    c.Check(player_->Pause());
    // The probe: what the graph says about the source, and its picture for later.
    e->UpdateFromGraph(previewBuilder_);
    if (!previewBuilder_.SubtitleEncoding().empty()) e->SetSubtitleEncoding(previewBuilder_.SubtitleEncoding());
    // The source's own frame size as shown (upright), not the resized picture's; the stored
    // one too when a turn makes them differ.
    int w = 0, h = 0, shownW = 0, shownH = 0;
    if (PictureSizes(previewBuilder_.Graph(), &w, &h, &shownW, &shownH)) {
      e->SetSourceInfo(e->GetDuration(), shownW, shownH, e->IsSeekable());
      const bool turned = w != shownW || h != shownH;
      e->SetStoredSize(turned ? w : 0, turned ? h : 0);
    }
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
  ui_->positionSlider->setEnabled(e->IsSeekable());
  return true;
}

void CTavrionConverterView::ClosePreview() {
  CConvertOrder* was = previewed_;
  // While a run goes on the player belongs to it.
  if (!doc_.IsConverting()) ui_->videoHost->Detach();
  previewBuilder_.Clear();
  previewed_ = nullptr;
  ui_->positionSlider->setEnabled(false);
  if (!doc_.IsConverting()) ui_->playStatusLabel->clear();
  if (was) {
    was->ClearPlayState();
    list_->Refresh(was);
  }
  ui_->videoHost->update();
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
  UpdateData(true);
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
}

// ---- live settings --------------------------------------------------------------------

void CTavrionConverterView::OnFrameSizeChosen() {
  if (doc_.IsConverting()) return;
  UpdateData(true);
  CConvertOrder* e = doc_.GetSingleSelected();
  if (!e) return;
  // The preview's resizers make pictures of the old size: the preview is built again at the
  // new one, at the same position and in the same state.
  if (e == previewed_)
    ReopenPreview();
  else
    ui_->videoHost->SetFrameSize(e->GetFrameWidth(), e->GetFrameHeight());
}

void CTavrionConverterView::OnFrameRateChosen() {
  if (!doc_.IsConverting()) UpdateData(true);
}

void CTavrionConverterView::OnScreenFitChosen() {
  if (doc_.IsConverting()) return;
  UpdateData(true);
  if (CConvertOrder* e = doc_.GetSingleSelected()) ui_->videoHost->SetScreenFit(e->GetScreenFit());
}

void CTavrionConverterView::OnSubtitleSizeChosen() {
  if (doc_.IsConverting()) return;
  UpdateData(true);
  ui_->videoHost->SetSubtitleSize(S(ui_->subtitleSizeCombo->currentData().toString()));
}

void CTavrionConverterView::OnSubtitleLanguageChosen() {
  if (doc_.IsConverting()) return;
  UpdateData(true);
  ui_->videoHost->SetSubtitleLanguage(S(ui_->languageCombo->currentData().toString()));
}

// ---- subtitle files -------------------------------------------------------------------

ISubtitleManager* CTavrionConverterView::SubtitleManager() {
  if (!subtitleManager_)
    CoCreateInstance(CLSID_SubtitleManager, nullptr, CLSCTX_ALL, IID_ISubtitleManager,
                     subtitleManager_.AsVoidOut());
  return subtitleManager_.Get();
}

void CTavrionConverterView::ClearSubtitleLists() {
  ui_->subtitleSizeCombo->clear();
  ui_->languageCombo->clear();
}

void CTavrionConverterView::OnBrowseSubtitles() {
  CConvertOrder* e = doc_.GetSingleSelected();
  if (!e) return;
  const std::string start = SubtitleAbsolute(S(ui_->subtitleFileEdit->text()));
  const std::string chosen = dialogs_->OpenFile(this, start.empty() ? e->SourcePath().Folder() : start,
                                                res::Text(res::IDS_SUBTITLE_FILTER), res::Text(res::IDS_SUBTITLE_EXT));
  if (chosen.empty()) return;
  ui_->useSubtitlesCheck->setChecked(true);
  e->SetUseSubtitles(true);
  ui_->subtitleFileEdit->setText(Q(SubtitleRelative(chosen)));
  LoadSubtitleFile();
  UpdateData(true);
  ReopenPreview();
}

void CTavrionConverterView::OnUseSubtitles() {
  CConvertOrder* e = doc_.GetSingleSelected();
  if (!e) return;
  const bool on = ui_->useSubtitlesCheck->isChecked();
  e->SetUseSubtitles(on);
  if (on) {
    if (!ui_->subtitleFileEdit->text().isEmpty()) LoadSubtitleFile();
    else OnBrowseSubtitles();
    if (ui_->subtitleFileEdit->text().isEmpty()) {
      ui_->useSubtitlesCheck->setChecked(false);
      e->SetUseSubtitles(false);
    }
  }
  UpdateData(true);
  ReopenPreview();
}

void CTavrionConverterView::LoadSubtitleFile() {
  CConvertOrder* e = doc_.GetSingleSelected();
  const QString text = ui_->subtitleFileEdit->text();
  const std::string path = SubtitleAbsolute(S(text));
  ISubtitleManager* manager = path.empty() || !QFileInfo(Q(path)).isFile() ? nullptr : SubtitleManager();
  bool loaded = false;
  if (manager) {
    const std::u16string wide = Utf8ToUtf16(path);
    loaded = SUCCEEDED(manager->LoadFile(reinterpret_cast<const WCHAR*>(wide.c_str()), TRUE));
  }
  ClearSubtitleLists();
  if (!loaded) {
    // Drawing off: the preview shows no captions from a file that isn't there.
    if (!text.isEmpty() && previewed_ && !loading_) ClosePreview();
    previewBuilder_.SetSubtitles(false, std::string(), std::string(), std::string());
    ui_->videoHost->EnableSubtitles(false);
    return;
  }
  int count = 0;
  if (SUCCEEDED(manager->GetSizeCount(&count))) {
    for (int i = 0; i < count; ++i) {
      WCHAR* id = nullptr;
      if (FAILED(manager->GetSizeId(i, &id))) continue;
      const std::string sizeId = TakeString(id);
      for (const KnownSize& k : kKnownSizes)
        if (QString::compare(Q(sizeId), k.id, Qt::CaseInsensitive) == 0)
          ui_->subtitleSizeCombo->addItem(Q(res::Text(k.name)), Q(sizeId));
    }
  }
  count = 0;
  if (SUCCEEDED(manager->GetLanguageCount(&count))) {
    for (int i = 0; i < count; ++i) {
      WCHAR* name = nullptr;
      WCHAR* code = nullptr;
      const bool ok = SUCCEEDED(manager->GetLanguageName(i, &name)) && SUCCEEDED(manager->GetLanguageCode(i, &code));
      const std::string n = TakeString(name), c = TakeString(code);
      if (ok) ui_->languageCombo->addItem(Q(n), Q(c));
    }
  }
  if (!e) return;
  int at = FindData(ui_->subtitleSizeCombo, e->GetSubtitleSize());
  ui_->subtitleSizeCombo->setCurrentIndex(at >= 0 ? at : (ui_->subtitleSizeCombo->count() > 0 ? 0 : -1));
  at = FindData(ui_->languageCombo, e->GetSubtitleLanguage());
  ui_->languageCombo->setCurrentIndex(at >= 0 ? at : (ui_->languageCombo->count() > 0 ? 0 : -1));
  const std::string size = S(ui_->subtitleSizeCombo->currentData().toString());
  const std::string language = S(ui_->languageCombo->currentData().toString());
  previewBuilder_.SetSubtitles(e->UsesSubtitles(), path, size, language);
  if (doc_.IsConverting()) return;
  if (previewed_ == e) ui_->videoHost->SetSubtitles(path, language, size);
  e->SetSubtitlePath(path);
  e->SetSubtitleSize(size);
  e->SetSubtitleLanguage(language);
}

}  // namespace tav
