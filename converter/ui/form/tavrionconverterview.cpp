// The main form: set-up, data exchange, the idle update (enabling and status area) and
// the notifications of the list and the document. Commands and run control are in
// formcommands.cpp, the preview and subtitle files in formpreview.cpp.
#include "converter/ui/form/tavrionconverterview.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>
#include <cmath>
#include <cstdio>

#include "converter/engine/conversionrun.h"
#include "converter/engine/outputfiles.h"
#include "converter/engine/strings.h"
#include "converter/engine/timetext.h"
#include "converter/ui/controls/anchorlayout.h"
#include "converter/ui/form/sizetext.h"
#include "libs/captionparser/captionparser.h"
#include "ui_tavrionconverterview.h"

namespace tav {

namespace {

// Base units of the font the form's geometry was laid out for.
constexpr int kLayoutBaseX = 6;
constexpr int kLayoutBaseY = 13;
// Idle updates: how often the form's controls are brought up to date, and how many of
// those pass between two refreshes of the status texts.
constexpr int kIdleIntervalMs = 50;
constexpr int kTextRefreshEvery = 20;
constexpr int kTooltipMaxChars = 80;

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

// Reads "%i x %i" from a frame-size text; -1, -1 when it has no such numbers.
void ParseFrameSize(const QString& text, int* w, int* h) {
  const std::string lower = S(text.toLower());
  if (std::sscanf(lower.c_str(), "%i x %i", w, h) != 2) *w = *h = -1;
}

double ParseFrameRate(const QString& text) {
  double v = -1.0;
  if (std::sscanf(S(text).c_str(), "%lg", &v) != 1) v = -1.0;
  return v;
}

std::string PrintFrameRate(double fps) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%g", fps);
  return buf;
}

// Screen-fit mapping between the combo's index and the entry's value.
int FitFromIndex(int index) {
  switch (index) {
    case 0: return CConvertOrder::kFit;
    case 1: return CConvertOrder::kCrop;
    case 2: return CConvertOrder::kStretch;
    default: return CConvertOrder::kFit;
  }
}

int IndexFromFit(int fit) {
  switch (fit) {
    case CConvertOrder::kFit: return 0;
    case CConvertOrder::kStretch: return 2;
    default: return 1;  // Crop, and the old value 1 shown as Crop
  }
}

// How a control follows the form's size (see CAnchorLayout): the list grows both ways;
// below it the edits and captions stretch across and move down, labels, boxes and the
// subtitle lists stay left, buttons move right; the right column keeps the preview at
// the top and moves the settings and status with the corner.
int AnchorFlags(int controlId) {
  switch (controlId) {
    case 1000: return 15;
    case 1001: case 1004: case 1006: case 1008: case 1009: case 1033: return 13;
    case 1045: case 1039: case 1031: case 1044: case 1042: case 1043: case 1041: case 1010: case 1032: return 9;
    case 1002: case 1005: case 1029: case 1030: return 12;
    case 1011: case 1012: case 32776: case 32778: case 1036: case 1046: return 6;
    case 0: return 0;
    default: return 12;  // the settings and status area
  }
}

// A control's string "status-bar text\ntooltip" (a tooltip of at most 80 characters).
void SetControlTexts(QWidget* w, UINT id) {
  const QString text = Q(res::Text(id));
  const qsizetype br = text.indexOf('\n');
  w->setStatusTip(br < 0 ? text : text.left(br));
  w->setToolTip(br < 0 ? QString() : text.mid(br + 1).left(kTooltipMaxChars));
}

void FillCombo(QComboBox* combo, UINT itemsId) {
  combo->clear();
  for (const std::string& item : res::SplitItems(res::Text(itemsId))) combo->addItem(Q(item));
}

}  // namespace

CTavrionConverterView::CTavrionConverterView(CTavrionConverterDoc& doc, QWidget* parent)
    : QWidget(parent), doc_(doc), ui_(std::make_unique<Ui::TavrionConverterView>()),
      dialogs_(MakeDesktopDialogs()) {
  ui_->setupUi(this);
  player_ = ui_->videoHost->Core();
  ui_->positionSlider->SetPlayer(player_);
  ui_->positionSlider->SetStatusLabel(ui_->playStatusLabel);
  connect(ui_->videoHost, &ui::CPlayerWnd::croppedChanged, ui_->positionSlider, &ui::CCustomSlider::SetCroppedView);
  auto* layout = new QVBoxLayout(ui_->batchListHost);
  layout->setContentsMargins(0, 0, 0, 0);
  list_ = new ui::CConvertOrderListCtrl(ui_->batchListHost);
  list_->setObjectName("batchList");
  list_->setProperty("controlId", 1000);
  layout->addWidget(list_);
  setAcceptDrops(true);
  previewBuilder_.Init();
  prober_ = std::make_unique<CBackgroundProber>([this](const ProbeResult& r) { OnProbed(r); });
  doc_.AddObserver(this);
  ConnectControls();
  idleTimer_ = new QTimer(this);
  idleTimer_->setInterval(kIdleIntervalMs);
  connect(idleTimer_, &QTimer::timeout, this, &CTavrionConverterView::UpdateDialogControls);
  idleTimer_->start();
}

CTavrionConverterView::~CTavrionConverterView() {
  prober_.reset();
  doc_.RemoveObserver(this);
  // A run still going on ends here: it holds the form's player.
  if (run_) {
    run_->StopConversion();
    run_.reset();
  }
  ClosePreview();
}

// ---- set-up ---------------------------------------------------------------------------

void CTavrionConverterView::OnInitialUpdate() {
  if (!initialised_) {
    SetUpControls();
    initialised_ = true;
  }
  ClosePreview();
  FillList();
  CConvertOrder* single = doc_.GetSingleSelected();
  if (single && OpenPreview(single, false)) {
    // Only the probe tells whether the movie can seek, which the split setting needs: shown
    // before it, a saved split size read as "unlimited" and the next save lost it.
    const bool oldSync = syncListSelection_;
    syncListSelection_ = false;
    UpdateData(false);
    syncListSelection_ = oldSync;
  } else if (!single) {
    ClosePreview();
  }
}

void CTavrionConverterView::SetUpControls() {
  // Labels and captions from the string table, so that a translation reaches them.
  for (QWidget* w : findChildren<QWidget*>()) {
    const QVariant textId = w->property("textId");
    if (!textId.isValid()) continue;
    const QString text = Q(res::Text(textId.toUInt()));
    if (text.isEmpty()) continue;
    if (auto* label = qobject_cast<QLabel*>(w)) label->setText(text);
    else if (auto* button = qobject_cast<QAbstractButton*>(w)) button->setText(text);
  }
  QFont caption("Tahoma", 12);
  caption.setBold(true);
  for (QLabel* l : {ui_->addSubtitlesCaption, ui_->produceCaption, ui_->settingsCaption, ui_->statusCaption})
    l->setFont(caption);
  QFont bold = font();
  bold.setBold(true);
  ui_->playStatusLabel->setFont(bold);

  ui_->playButton->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
  ui_->stopButton->setIcon(style()->standardIcon(QStyle::SP_MediaStop));

  FillCombo(ui_->outputFormatCombo, res::IDS_FORMAT_ITEMS);
  FillCombo(ui_->frameSizeCombo, res::IDS_FRAMESIZE_ITEMS);
  FillCombo(ui_->frameRateCombo, res::IDS_FRAMERATE_ITEMS);
  FillCombo(ui_->screenSizeCombo, res::IDS_SCREENFIT_ITEMS);
  FillCombo(ui_->splitCombo, res::IDS_SPLIT_ITEMS);

  ui_->fileProgress->setRange(0, 100);
  ui_->totalProgress->setRange(0, 100);
  ui_->subtitleFileEdit->SetHint(res::IDS_SUBTITLE_HINT);
  ui_->runButton->AddState(IDC_CONVERT, Q(res::Text(res::IDS_BUTTON_CONVERT)));
  ui_->runButton->AddState(IDC_PAUSE_RUN, Q(res::Text(res::IDS_BUTTON_PAUSE)));
  ui_->runButton->AddState(IDC_RESUME_RUN, Q(res::Text(res::IDS_BUTTON_RESUME)));
  SetRunButton(IDC_CONVERT);
  ui_->videoHost->ShowStill(nullptr);

  // Status-bar text and tooltip of each control with a string of its own id; a label
  // speaks for the control it names.
  for (QWidget* w : findChildren<QWidget*>()) {
    const QVariant id = w->property("controlId");
    if (id.isValid() && res::Has(id.toUInt())) SetControlTexts(w, id.toUInt());
  }
  for (QLabel* label : findChildren<QLabel*>()) {
    const QWidget* buddy = label->buddy();
    if (buddy && label->statusTip().isEmpty()) {
      label->setStatusTip(buddy->statusTip());
      label->setToolTip(buddy->toolTip());
    }
  }
  // The output folder's tooltip is the folder itself, which may be too long to see.
  ui_->outputFolderEdit->setToolTip(ui_->outputFolderEdit->text());
  ScaleToFont();
  setMinimumSize(size());
  // Each control follows the form's size by its anchor flags.
  auto* anchors = new ui::CAnchorLayout(this);
  for (QWidget* w : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
    const int flags = AnchorFlags(w->property("controlId").toInt());
    if (flags) anchors->Add(w, flags);
  }
}

void CTavrionConverterView::ScaleToFont() {
  const QFontMetrics fm(font());
  static const QString kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  const double baseX = (fm.horizontalAdvance(kAlphabet) / 26.0 + 1) / 2.0;
  const double baseY = fm.height();
  const double sx = baseX / kLayoutBaseX, sy = baseY / kLayoutBaseY;
  if (std::abs(sx - 1.0) < 0.01 && std::abs(sy - 1.0) < 0.01) return;
  for (QWidget* w : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
    const QRect r = w->geometry();
    w->setGeometry(int(std::lround(r.x() * sx)), int(std::lround(r.y() * sy)), int(std::lround(r.width() * sx)),
                   int(std::lround(r.height() * sy)));
  }
  resize(int(std::lround(width() * sx)), int(std::lround(height() * sy)));
}

void CTavrionConverterView::ConnectControls() {
  using List = ui::CConvertOrderListCtrl;
  connect(list_, &List::ItemStateChanged, this, [this](int, CConvertOrder* e, unsigned oldState, unsigned newState) {
    RowStateChange change;
    change.entry = e;
    change.selectedChanged = ((oldState ^ newState) & List::kStateSelected) != 0;
    change.selected = (newState & List::kStateSelected) != 0;
    change.focusChanged = ((oldState ^ newState) & List::kStateFocused) != 0;
    change.focused = (newState & List::kStateFocused) != 0;
    change.checkChanged = ((oldState ^ newState) & List::kStateImageMask) != 0;
    change.checked = (newState & List::kStateImageMask) == List::kStateChecked;
    OnRowStateChanged(change);
  });
  connect(list_, &List::ItemActivated, this, [this](int, CConvertOrder* e) { OnRowActivated(e); });
  connect(list_, &List::ContextMenu, this, &CTavrionConverterView::OnContextMenu);
  connect(list_, &List::Command, this, [this](UINT command) { RunCommand(int(command)); });

  connect(ui_->removeAfterCheck, &QCheckBox::clicked, this, &CTavrionConverterView::OnRemoveAfterConversion);
  connect(ui_->useSubtitlesCheck, &QCheckBox::clicked, this, &CTavrionConverterView::OnUseSubtitles);
  connect(ui_->subtitleBrowseButton, &QPushButton::clicked, this, &CTavrionConverterView::OnBrowseSubtitles);
  connect(ui_->outputFolderBrowseButton, &QPushButton::clicked, this, &CTavrionConverterView::OnBrowseFolder);
  // A subtitle file typed is loaded once it is typed out (Return, or leaving the box), not
  // at every key: a name half typed names no file and would close the preview.
  connect(ui_->subtitleFileEdit, &QLineEdit::editingFinished, this, [this] {
    if (loading_ || !ui_->subtitleFileEdit->isModified()) return;
    ui_->subtitleFileEdit->setModified(false);
    LoadSubtitleFile();
  });
  connect(ui_->outputFolderEdit, &QLineEdit::textChanged, this,
          [this](const QString& text) { ui_->outputFolderEdit->setToolTip(text); });
  connect(ui_->outputFolderEdit, &QLineEdit::editingFinished, this, [this] {
    if (!loading_ && !doc_.IsConverting()) CheckOutputFolder();
  });
  connect(ui_->outputNameEdit, &QLineEdit::editingFinished, this, [this] {
    if (!loading_ && !doc_.IsConverting()) CheckOutputName();
  });
  // Settings typed into the edits go into the entry as they are made, like a choice.
  for (QLineEdit* e : std::initializer_list<QLineEdit*>{ui_->subtitleFileEdit, ui_->outputFolderEdit, ui_->outputNameEdit})
    connect(e, &QLineEdit::editingFinished, this, [this] {
      if (!loading_ && !checkingOutput_ && !doc_.IsConverting()) UpdateData(true);
    });
  connect(ui_->outputFormatCombo, &QComboBox::activated, this, [this] {
    if (!doc_.IsConverting()) UpdateData(true);
  });
  connect(ui_->frameSizeCombo, &QComboBox::activated, this, &CTavrionConverterView::OnFrameSizeChosen);
  connect(ui_->frameRateCombo, &QComboBox::activated, this, &CTavrionConverterView::OnFrameRateChosen);
  connect(ui_->screenSizeCombo, &QComboBox::activated, this, &CTavrionConverterView::OnScreenFitChosen);
  connect(ui_->splitCombo, &QComboBox::activated, this, [this] {
    if (!doc_.IsConverting()) UpdateData(true);
  });
  connect(ui_->subtitleSizeCombo, &QComboBox::activated, this, &CTavrionConverterView::OnSubtitleSizeChosen);
  connect(ui_->languageCombo, &QComboBox::activated, this, &CTavrionConverterView::OnSubtitleLanguageChosen);

  connect(ui_->runButton, &ui::CMultiButton::Command, this, [this](UINT command) { RunCommand(int(command)); });
  connect(ui_->breakButton, &QPushButton::clicked, this, &CTavrionConverterView::OnBreak);
  connect(ui_->playButton, &QToolButton::clicked, this, [this] {
    if (player_->GetState() == PlayerCore::kRunning) OnPausePreview();
    else OnPlay();
  });
  connect(ui_->stopButton, &QToolButton::clicked, this, &CTavrionConverterView::OnStop);
}

void CTavrionConverterView::FillList() {
  QCursor wait(Qt::WaitCursor);
  setCursor(wait);
  list_->setUpdatesEnabled(false);
  std::vector<CConvertOrder*> rows;
  for (size_t i = 0; i < doc_.GetCount(); ++i) rows.push_back(doc_.GetAt(i));
  list_->RemoveAll();
  list_->InsertAll(rows);
  // What the rows show of their movies comes in the background; the selected one is
  // probed by its preview.
  for (CConvertOrder* e : rows)
    if (e->GetDuration() == kUnknownTime && !e->HasProbeError()) prober_->Probe(e, e->SourcePath().Full());
  // The document's selection shown in the list; the controls then follow it.
  const bool oldSync = syncListSelection_;
  syncListSelection_ = true;
  UpdateData(false);
  syncListSelection_ = oldSync;
  list_->setUpdatesEnabled(true);
  unsetCursor();
}

// ---- data exchange --------------------------------------------------------------------

std::string CTavrionConverterView::SubtitleRelative(const std::string& path) const {
  CConvertOrder* e = doc_.GetSingleSelected();
  if (!e || path.empty()) return path;
  CPath p(path);
  const std::string folder = e->SourcePath().Folder();
  // Relative only when it lies in the movie's folder or below it.
  if (!folder.empty() && p.Full().compare(0, folder.size(), folder) == 0) return p.Full().substr(folder.size());
  return path;
}

std::string CTavrionConverterView::SubtitleAbsolute(const std::string& text) const {
  CConvertOrder* e = doc_.GetSingleSelected();
  CPath p(text);
  if (e) p.MakeAbsolute(e->SourcePath());
  return p.Full();
}

void CTavrionConverterView::UpdateData(bool toEntry) {
  if (toEntry) {
    // During a run the controls show the converting movie and edit nothing.
    if (doc_.IsConverting()) return;
    if (syncListSelection_) {
      doc_.ClearSelection();
      for (CConvertOrder* e : SelectedRows()) doc_.AddToSelection(e);
      doc_.SetFocused(FocusedRow());
    }
    ExchangeFromControls();
    CConvertOrder* e = doc_.GetSingleSelected();
    if (!e) return;
    e->SetSubtitlePath(SubtitleAbsolute(subtitleFile_));
    e->SetSubtitleSize(subtitleSize_);
    e->SetSubtitleLanguage(subtitleLanguage_);
    std::string folder = outputFolder_;
    if (!folder.empty() && folder.back() != '/') folder += '/';
    const std::string ext = e->OutputPath().Extension().empty() ? res::Text(res::IDS_OUTPUT_EXT)
                                                                : e->OutputPath().Extension();
    // A name that is no file name never reaches the entry (it was refused where typed).
    if (!OutputNameProblem(outputTitle_, ext).empty()) outputTitle_ = e->OutputPath().Title();
    e->SetOutputPath(folder + outputTitle_ + ext);
    e->SetUiSelection(formatIndex_);
    e->SetFrameSize(frameWidth_, frameHeight_);
    e->SetFrameRate(frameRate_);
    e->SetSplitSize(splitSize_);
    e->SetScreenFit(FitFromIndex(fitIndex_));
    e->SetUseSubtitles(useSubtitles_);
    REFERENCE_TIME start = -1, end = -1;
    if (previewed_ == e && player_->IsAttached() && player_->GetPoints(&start, &end) && start >= 0 && end >= 0)
      e->SetTrimPoints(start, end);
    list_->Refresh(e);
    return;
  }

  // During a run the controls show the movie being converted, whatever is selected.
  if (doc_.IsConverting()) {
    ShowConvertingEntry(run_ ? run_->GetCurrent() : nullptr);
    return;
  }
  CConvertOrder* e = doc_.GetSingleSelected();
  LoadMirrors(e);
  if (e != previewed_ && !doc_.IsConverting()) ClosePreview();
  ExchangeToControls();
  if (e) LoadSubtitleFile();
  else ClearSubtitleLists();
  ui_->positionSlider->setEnabled(previewed_ && previewed_->IsSeekable() && !doc_.IsConverting());
  if (syncListSelection_) {
    loading_ = true;
    const bool blocked = list_->blockSignals(true);
    list_->ClearSelection();
    for (CConvertOrder* s : doc_.GetSelection())
      if (s != doc_.GetFocused()) list_->Select(s, true);
    // The focused row last: selecting a row also makes it the current one.
    if (doc_.GetFocused() && doc_.IsSelected(doc_.GetFocused())) list_->Select(doc_.GetFocused(), true);
    list_->blockSignals(blocked);
    loading_ = false;
  }
}

void CTavrionConverterView::ShowConvertingEntry(CConvertOrder* e) {
  LoadMirrors(e);
  if (e) subtitleFile_ = e->SubtitlePath().Full();
  ExchangeToControls();
  ClearSubtitleLists();
}

void CTavrionConverterView::LoadMirrors(CConvertOrder* e) {
  if (e) {
    subtitleFile_ = SubtitleRelative(e->SubtitlePath().Full());
    subtitleSize_ = e->GetSubtitleSize();
    subtitleLanguage_ = e->GetSubtitleLanguage();
    outputFolder_ = e->OutputPath().Folder();
    outputTitle_ = e->OutputPath().Title();
    formatIndex_ = e->GetUiSelection();
    frameWidth_ = e->GetFrameWidth();
    frameHeight_ = e->GetFrameHeight();
    frameRate_ = e->GetFrameRate();
    splitSize_ = e->IsSeekable() ? e->GetSplitSize() : 0;
    fitIndex_ = IndexFromFit(e->GetScreenFit());
    useSubtitles_ = e->UsesSubtitles();
  } else {
    subtitleFile_.clear();
    subtitleSize_.clear();
    subtitleLanguage_.clear();
    outputFolder_.clear();
    outputTitle_.clear();
    formatIndex_ = -1;
    frameWidth_ = frameHeight_ = 0;
    frameRate_ = 0.0;
    splitSize_ = 0;
    fitIndex_ = -1;
    useSubtitles_ = false;
  }
}

void CTavrionConverterView::ExchangeToControls() {
  loading_ = true;
  ui_->subtitleFileEdit->setText(Q(subtitleFile_));
  ui_->outputFolderEdit->setText(Q(outputFolder_));
  ui_->outputNameEdit->setText(Q(outputTitle_));
  ui_->outputFormatCombo->setCurrentIndex(formatIndex_ < ui_->outputFormatCombo->count() ? formatIndex_ : -1);
  int match = -1;
  for (int i = 0; i < ui_->frameSizeCombo->count() && match < 0; ++i) {
    int w = 0, h = 0;
    ParseFrameSize(ui_->frameSizeCombo->itemText(i), &w, &h);
    if (w == frameWidth_ && h == frameHeight_) match = i;
  }
  ui_->frameSizeCombo->setCurrentIndex(match);
  const QString rate = Q(PrintFrameRate(frameRate_));
  match = -1;
  for (int i = 0; i < ui_->frameRateCombo->count() && match < 0; ++i)
    if (ui_->frameRateCombo->itemText(i).startsWith(rate)) match = i;
  ui_->frameRateCombo->setCurrentIndex(match);
  ui_->screenSizeCombo->setCurrentIndex(fitIndex_ < ui_->screenSizeCombo->count() ? fitIndex_ : -1);
  match = -1;
  for (int i = 0; i < ui_->splitCombo->count() && match < 0; ++i)
    if (ParseSize(S(ui_->splitCombo->itemText(i))) == splitSize_) match = i;
  ui_->splitCombo->setCurrentIndex(match);
  ui_->useSubtitlesCheck->setChecked(useSubtitles_);
  ui_->removeAfterCheck->setChecked(doc_.GetRemoveAfterConversion());
  loading_ = false;
}

void CTavrionConverterView::ExchangeFromControls() {
  subtitleFile_ = S(ui_->subtitleFileEdit->text());
  subtitleSize_ = S(ui_->subtitleSizeCombo->currentData().toString());
  subtitleLanguage_ = S(ui_->languageCombo->currentData().toString());
  outputFolder_ = S(ui_->outputFolderEdit->text());
  outputTitle_ = S(ui_->outputNameEdit->text());
  formatIndex_ = ui_->outputFormatCombo->currentIndex();
  ParseFrameSize(ui_->frameSizeCombo->currentText(), &frameWidth_, &frameHeight_);
  frameRate_ = ParseFrameRate(ui_->frameRateCombo->currentText());
  // A split size the list does not offer (a batch made elsewhere) shows no item and stays.
  if (ui_->splitCombo->currentIndex() >= 0) splitSize_ = ParseSize(S(ui_->splitCombo->currentText()));
  fitIndex_ = ui_->screenSizeCombo->currentIndex();
  useSubtitles_ = ui_->useSubtitlesCheck->isChecked();
}

// ---- the idle update ------------------------------------------------------------------

void CTavrionConverterView::UpdateDialogControls() {
  const bool converting = doc_.IsConverting();
  // A run's movie is shown, not edited: its settings are what it converts with.
  const bool single = doc_.HasSingleSelection() && !converting;
  const bool subtitles = doc_.SingleSelectedUsesSubtitles() && !converting;
  CConvertOrder* e = doc_.GetSingleSelected();
  const bool seekable = single && e && e->IsSeekable();

  auto enable = [](std::initializer_list<QWidget*> ws, bool on) {
    for (QWidget* w : ws) w->setEnabled(on);
  };
  enable({ui_->useSubtitlesCheck, ui_->subtitleBrowseButton, ui_->outputFolderLabel, ui_->outputFolderEdit,
          ui_->outputFolderBrowseButton, ui_->outputNameLabel, ui_->outputNameEdit, ui_->outputFormatLabel,
          ui_->outputFormatCombo, ui_->frameSizeLabel, ui_->frameSizeCombo, ui_->frameRateLabel, ui_->frameRateCombo},
         single);
  enable({ui_->subtitleFileLabel, ui_->subtitleFileEdit}, subtitles);
  enable({ui_->languageLabel, ui_->languageCombo}, subtitles && ui_->languageCombo->count() > 0);
  enable({ui_->subtitleSizeLabel, ui_->subtitleSizeCombo}, subtitles && ui_->subtitleSizeCombo->count() > 0);
  enable({ui_->screenSizeLabel, ui_->screenSizeCombo}, doc_.CanChangeScreenFit() && !converting);
  enable({ui_->splitLabel, ui_->splitCombo}, seekable);
  ui_->breakButton->setEnabled(converting);
  EnableRunControls();
  ui_->playButton->setEnabled(IsCommandEnabled(ID_PLAY));
  // The play button pauses while the preview plays, and says so.
  const UINT playCommand = player_->GetState() == PlayerCore::kRunning ? ID_PAUSE_PREVIEW : ID_PLAY;
  if (playButtonTexts_ != playCommand) {
    playButtonTexts_ = playCommand;
    SetControlTexts(ui_->playButton, playCommand);
  }
  ui_->stopButton->setEnabled(!converting && previewed_);
  ui_->positionSlider->setEnabled(!converting && previewed_ && previewed_->IsSeekable());
  if (ui_->removeAfterCheck->isChecked() != doc_.GetRemoveAfterConversion())
    ui_->removeAfterCheck->setChecked(doc_.GetRemoveAfterConversion());
  UpdateEstimatedSize();
  UpdateStatusArea();
}

void CTavrionConverterView::EnableRunControls() {
  bool on = false;
  switch (runButtonCommand_) {
    case IDC_CONVERT: on = doc_.AnyChecked(); break;
    case IDC_PAUSE_RUN: on = run_ && !run_->IsPaused(); break;
    case IDC_RESUME_RUN: on = run_ && run_->IsPaused(); break;
    default: break;
  }
  ui_->runButton->setEnabled(on);
}

void CTavrionConverterView::UpdateEstimatedSize() {
  CConvertOrder* e = nullptr;
  REFERENCE_TIME duration = kUnknownTime;
  REFERENCE_TIME start = -1, end = -1;
  if (previewed_ && player_->IsAttached()) {
    e = previewed_;
    if (player_->GetPoints(&start, &end) && start >= 0 && end >= 0) duration = end - start;
    else if (FAILED(player_->GetDuration(&duration))) duration = kUnknownTime;
  } else {
    e = doc_.IsConverting() && run_ ? run_->GetCurrent() : doc_.GetSingleSelected();
    if (e) duration = e->GetTrimPoints(&start, &end) ? end - start : e->GetDuration();
  }
  QString text;
  if (e && duration != kUnknownTime) {
    // The estimate reads the bit rate settings from a file: asked again only when what
    // it depends on changed.
    const EstimateKey key{e, duration, e->GetFrameWidth(), e->GetFrameRate()};
    if (!(key == estimateKey_)) {
      estimateKey_ = key;
      estimateSize_ = EstimateOutputSize(*e, duration);
    }
    if (estimateSize_ > 0) text = Q(res::FormatId(res::IDS_ESTIMATED_SIZE, {FormatSize(ULONGLONG(estimateSize_))}));
  }
  if (ui_->estimatedSizeLabel->text() != text) ui_->estimatedSizeLabel->setText(text);
}

void CTavrionConverterView::UpdateStatusArea() {
  const bool converting = doc_.IsConverting() && run_;
  const bool paused = converting && run_->IsPaused();

  // Current file.
  if (converting) {
    fileStatusShown_ = true;
    ui_->fileStatusLabel->setEnabled(true);
    if (!paused && fileRefresh_++ % kTextRefreshEvery == 0) {
      CConvertOrder* cur = run_->GetCurrent();
      ui_->fileStatusLabel->setText(
          Q(res::FormatId(res::IDS_CURRENT_FILE, {cur ? cur->SourcePath().Full() : std::string()})));
      LONGLONG elapsed = 0, remaining = 0;
      run_->GetFileTimes(&elapsed, &remaining);
      ui_->fileElapsedLabel->setText(Q(res::FormatId(res::IDS_ELAPSED, {FormatTime(elapsed)})));
      ui_->fileRemainingLabel->setText(Q(res::FormatId(res::IDS_REMAINED, {FormatTime(remaining)})));
    }
  } else if (fileStatusShown_) {
    fileStatusShown_ = false;
    ui_->fileStatusLabel->clear();
    ui_->fileStatusLabel->setEnabled(false);
    ui_->fileElapsedLabel->clear();
    ui_->fileRemainingLabel->clear();
  }

  // Whole run.
  if (converting) {
    totalStatusShown_ = true;
    ui_->totalStatusLabel->setEnabled(true);
    if (!paused && totalRefresh_++ % kTextRefreshEvery == 0) {
      int index = 0, count = 0;
      doc_.GetFileCounters(&index, &count);
      ui_->totalStatusLabel->setText(
          Q(res::FormatId(res::IDS_CONVERTING_FILE, {std::to_string(index + 1), std::to_string(count)})));
      LONGLONG elapsed = 0, remaining = 0;
      run_->GetTotalTimes(&elapsed, &remaining);
      ui_->totalElapsedLabel->setText(Q(res::FormatId(res::IDS_ELAPSED, {FormatTime(elapsed)})));
      ui_->totalRemainingLabel->setText(Q(res::FormatId(res::IDS_REMAINED, {FormatTime(remaining)})));
    }
  } else if (totalStatusShown_) {
    totalStatusShown_ = false;
    ui_->totalStatusLabel->clear();
    ui_->totalStatusLabel->setEnabled(false);
    ui_->totalElapsedLabel->clear();
    ui_->totalRemainingLabel->clear();
  }

  // Progress bars: the time of every change feeds the run's remaining-time estimate.
  if (converting) {
    fileProgressShown_ = totalProgressShown_ = true;
    ui_->fileProgress->setEnabled(true);
    ui_->totalProgress->setEnabled(true);
    if (!paused) {
      const LONG file = run_->MapFileProgress(0, 100);
      if (file != ui_->fileProgress->value()) {
        ui_->fileProgress->setValue(file);
        run_->SampleFileTime();
      }
      const LONG total = run_->MapTotalProgress(0, 100);
      if (total != ui_->totalProgress->value()) {
        ui_->totalProgress->setValue(total);
        run_->SampleTotalTime();
        emit totalProgressChanged(total);
      }
    }
  } else {
    if (fileProgressShown_ || totalProgressShown_) emit totalProgressChanged(-1);
    fileProgressShown_ = totalProgressShown_ = false;
    ui_->fileProgress->setValue(0);
    ui_->fileProgress->setEnabled(false);
    ui_->totalProgress->setValue(0);
    ui_->totalProgress->setEnabled(false);
  }
}

void CTavrionConverterView::ShowRunSummary() {
  if (runOutcomes_.empty()) return;
  int converted = 0, failed = 0, interrupted = 0;
  std::string folder;
  for (const auto& [entry, outcome] : runOutcomes_) {
    switch (outcome.state) {
      case CConvertOrder::kConverted: ++converted; break;
      case CConvertOrder::kError: ++failed; break;
      default: ++interrupted; break;
    }
    if (outcome.state != CConvertOrder::kError && !outcome.folder.empty()) folder = outcome.folder;
  }
  runOutcomes_.clear();
  std::string text = res::Text(res::IDS_NOTIFY_RUN_ENDED) + "\n" +
                     res::FormatId(res::IDS_NOTIFY_RUN_COUNTS, {std::to_string(converted), std::to_string(failed),
                                                                 std::to_string(interrupted)});
  if (!folder.empty()) text += "\n" + res::FormatId(res::IDS_RUN_SUMMARY_FOLDER, {folder});
  dialogs_->ShowRunSummary(window(), text, folder);
}

// ---- the list ----

std::vector<CConvertOrder*> CTavrionConverterView::SelectedRows() const {
  std::vector<CConvertOrder*> rows;
  list_->GetSelected(&rows);
  return rows;
}

CConvertOrder* CTavrionConverterView::FocusedRow() const {
  const QModelIndex current = list_->currentIndex();
  return current.isValid() ? list_->EntryAt(current.row()) : nullptr;
}

bool CTavrionConverterView::IsRowSelected(const CConvertOrder* entry) const {
  const int row = list_->RowOf(entry);
  return row >= 0 && list_->IsRowSelected(row);
}

// ---- notifications --------------------------------------------------------------------

void CTavrionConverterView::OnRowStateChanged(const RowStateChange& change) {
  CConvertOrder* e = change.entry;
  if (!e || loading_) return;
  const bool converting = doc_.IsConverting();
  if (change.selectedChanged) {
    if (converting) {
      list_->ShowConverting(run_ ? run_->GetCurrent() : nullptr);
    } else {
      const bool old = syncListSelection_;
      syncListSelection_ = false;
      UpdateData(true);
      syncListSelection_ = old;
    }
  }
  if (!converting) {
    if (change.selectedChanged) {
      if (change.selected) doc_.AddToSelection(e);
      else doc_.Unselect(e);
    }
    if (change.focusChanged) {
      if (change.focused) doc_.SetFocused(e);
      else if (doc_.GetFocused() == e) doc_.SetFocused(nullptr);
    }
    if ((change.selectedChanged || change.focusChanged) && (change.selected || change.focused) &&
        IsRowSelected(e)) {
      // Only a row selected alone is previewed: selecting all the rows builds no graphs.
      if (previewed_ != e && !e->HasProbeError() && doc_.GetSelection().size() <= 1) OpenPreview(e, false);
      // While no graph runs the window shows the entry's picture.
      ui_->videoHost->ShowStill(e->Snapshot().block ? e : nullptr);
    } else if (change.selectedChanged && !change.selected) {
      // Rows left out of a selection can leave one entry selected: the preview follows it
      // as it does when that row is chosen.
      CConvertOrder* single = doc_.GetSingleSelected();
      if (single && single != previewed_ && !single->HasProbeError()) OpenPreview(single, false);
    }
    if (change.selectedChanged) {
      const bool old = syncListSelection_;
      syncListSelection_ = false;
      UpdateData(false);
      syncListSelection_ = old;
    }
  }
  if (change.checkChanged) {
    if (!converting) {
      e->SetChecked(change.checked);
      if (change.checked) e->ResetState();
    }
    list_->Refresh(e);
  }
}

void CTavrionConverterView::OnRowActivated(CConvertOrder* entry) {
  UpdateData(true);
  if (doc_.IsConverting()) return;
  if (OpenPreview(entry, true)) ui_->playButton->setFocus();
}

void CTavrionConverterView::OnDocumentUpdate(DocumentHint hint, CConvertOrder* entry, const std::string* path) {
  switch (hint) {
    case DocumentHint::kReload:
      UpdateData(false);
      break;
    case DocumentHint::kBeforeSave:
      UpdateData(true);
      break;
    case DocumentHint::kContentsDeleted:
      pendingAdds_.clear();
      for (size_t i = 0; i < doc_.GetCount(); ++i) prober_->Forget(doc_.GetAt(i));
      ClosePreview();
      list_->RemoveAll();
      break;
    case DocumentHint::kCurrentChanged:
      list_->ShowConverting(entry);
      if (doc_.IsConverting()) ShowConvertingEntry(entry);
      break;
    case DocumentHint::kEntryStateChanged:
      list_->Refresh(entry);
      if (entry && doc_.IsConverting()) {
        const int state = entry->GetState();
        if (state == CConvertOrder::kConverted || state == CConvertOrder::kError || state == CConvertOrder::kInterrupted)
          runOutcomes_[entry] = RunOutcome{state, entry->OutputPath().Folder()};
        else
          runOutcomes_.erase(entry);
      }
      break;
    case DocumentHint::kRunStopped:
      // A run broken off while paused leaves no row saying "Paused".
      for (size_t i = 0; i < doc_.GetCount(); ++i)
        if (doc_.GetAt(i) != previewed_) doc_.GetAt(i)->ClearPlayState();
      ShowRunSummary();
      ui_->videoHost->update();
      ui_->playStatusLabel->clear();
      ui_->positionSlider->setEnabled(previewed_ && previewed_->IsSeekable());
      list_->RefreshAll();
      SetRunButton(IDC_CONVERT);
      emit totalProgressChanged(-1);
      UpdateData(false);
      break;
    case DocumentHint::kRemoveConverted:
      if (!entry) break;
      if (doc_.GetFocused() == entry) doc_.SetFocused(nullptr);
      if (previewed_ == entry) ClosePreview();
      prober_->Forget(entry);
      doc_.Unselect(entry);
      list_->Remove(entry);
      doc_.RemoveOrder(entry);
      UpdateData(false);
      break;
    case DocumentHint::kMovieOpened:
      if (!initialised_ || doc_.IsConverting() || !path) break;
      doc_.ClearSelection();
      loading_ = true;
      list_->ClearSelection();
      loading_ = false;
      AddMovie(*path, !quietAdd_);
      if (!quietAdd_) UpdateData(false);
      ReportRefused();
      break;
    default:
      break;
  }
}

}  // namespace tav
