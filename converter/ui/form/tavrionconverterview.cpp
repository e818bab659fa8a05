// The main form: set-up, showing the selected entries in the controls, the enabling of
// every command and control, the status area and the notifications of the list and the
// document. Commands and run control are in formcommands.cpp, the preview and subtitle
// files in formpreview.cpp.
#include "converter/ui/form/tavrionconverterview.h"

#include <QAction>
#include <QComboBox>
#include <QHelpEvent>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "converter/engine/conversionrun.h"
#include "converter/engine/outputfiles.h"
#include "converter/engine/strings.h"
#include "converter/engine/timetext.h"
#include "converter/ui/controls/images.h"
#include "converter/ui/controls/uitext.h"
#include "converter/ui/form/readysummary.h"
#include "converter/ui/form/runwatcher.h"
#include "converter/ui/form/sizetext.h"
#include "libs/captionparser/captionparser.h"
#include "ui_tavrionconverterview.h"

namespace tav {

using ui::Q;
using ui::S;

namespace {

// While a conversion goes on the status area is brought up to date this often; its texts
// every kTextRefreshEvery of those (the bars at each).
constexpr int kStatusIntervalMs = 100;
constexpr int kTextRefreshEvery = 10;

void FillCombo(QComboBox* combo, UINT itemsId) {
  combo->clear();
  for (const std::string& item : res::SplitItems(res::Text(itemsId))) combo->addItem(Q(item));
}

// An edit shows one text, or, for entries that differ, none with the placeholder.
void ShowText(QLineEdit* edit, const std::optional<std::string>& text) {
  edit->setText(Q(text.value_or(std::string())));
  edit->setPlaceholderText(text ? QString() : Q(res::Text(res::IDS_MIXED_VALUE)));
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
  list_ = ui_->batchList;
  fileRow_ = {ui_->fileStatusLabel, ui_->fileElapsedLabel, ui_->fileRemainingLabel};
  totalRow_ = {ui_->totalStatusLabel, ui_->totalElapsedLabel, ui_->totalRemainingLabel};
  setAcceptDrops(true);
  preview_.Init();
  prober_ = std::make_unique<CBackgroundProber>([this](const ProbeResult& r) { OnProbed(r); });
  doc_.AddObserver(this);
  statusTimer_ = new QTimer(this);
  statusTimer_->setInterval(kStatusIntervalMs);
  connect(statusTimer_, &QTimer::timeout, this, [this] {
    // Each movie of the run attaches a graph of its own; the slider's line follows it.
    if (player_->IsAttached() && !ui_->positionSlider->IsFollowing()) ui_->positionSlider->SetPlayer(player_);
    UpdateStatusArea();
    UpdateEstimatedSize();
  });
  // The list's rows follow every change of the entries that the summary counts: added,
  // removed, checked, probed or given other settings.
  QAbstractItemModel* rows = list_->model();
  connect(rows, &QAbstractItemModel::dataChanged, this, &CTavrionConverterView::ScheduleReadySummary);
  connect(rows, &QAbstractItemModel::rowsInserted, this, &CTavrionConverterView::ScheduleReadySummary);
  connect(rows, &QAbstractItemModel::rowsRemoved, this, &CTavrionConverterView::ScheduleReadySummary);
  connect(rows, &QAbstractItemModel::modelReset, this, &CTavrionConverterView::ScheduleReadySummary);
  UpdateReadySummary();
  MakeActions();
  ConnectControls();
  updateActions();
}

CTavrionConverterView::~CTavrionConverterView() {
  prober_.reset();
  doc_.RemoveObserver(this);
  // A run still going on ends here: it holds the form's player.
  if (run_) {
    run_->StopConversion();
    runWatcher_.reset();
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
  // Group captions: the desktop's font, bold and a step larger, so they scale with it.
  QFont caption = font();
  caption.setBold(true);
  if (caption.pointSizeF() > 0) caption.setPointSizeF(caption.pointSizeF() * 1.25);
  for (QLabel* l : {ui_->addSubtitlesCaption, ui_->produceCaption, ui_->settingsCaption, ui_->statusCaption})
    l->setFont(caption);
  QFont bold = font();
  bold.setBold(true);
  ui_->playStatusLabel->setFont(bold);

  // The program's own images, drawn for the palette: the style's are black on any theme.
  ui_->playButton->setIcon(ui::ResourceIcon(ui::kImagePlay, ui::kImagePlayDisabled));
  ui_->stopButton->setIcon(ui::ResourceIcon(ui::kImageStop, ui::kImageStopDisabled));

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
    if (id.isValid() && res::Has(id.toUInt())) ui::ApplyControlTexts(w, id.toUInt());
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
}

QSize CTavrionConverterView::minimumSizeHint() const {
  const QSize least = QWidget::minimumSizeHint();
  if (!layout() || !layout()->hasHeightForWidth()) return least;
  return {least.width(), std::max(least.height(), layout()->totalHeightForWidth(least.width()))};
}

void CTavrionConverterView::ConnectControls() {
  // The selection lives in the list's selection model; the document's follows it.
  connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &CTavrionConverterView::OnSelectionChanged);
  connect(list_->selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex& current) {
    if (!doc_.IsConverting()) doc_.SetFocused(current.isValid() ? list_->EntryAt(current.row()) : nullptr);
  });
  connect(list_, &ui::CConvertOrderListCtrl::ItemStateChanged, this,
          [this](int, CConvertOrder* e, unsigned oldState, unsigned newState) {
            OnRowStateChanged(e, oldState, newState);
          });
  connect(list_, &ui::CConvertOrderListCtrl::ItemActivated, this, [this](int, CConvertOrder* e) { OnRowActivated(e); });
  connect(list_, &ui::CConvertOrderListCtrl::ContextMenu, this, &CTavrionConverterView::OnContextMenu);

  connect(ui_->removeAfterCheck, &QCheckBox::clicked, this, &CTavrionConverterView::OnRemoveAfterConversion);
  connect(ui_->useSubtitlesCheck, &QCheckBox::clicked, this, &CTavrionConverterView::OnUseSubtitles);
  connect(ui_->subtitleBrowseButton, &QPushButton::clicked, this, &CTavrionConverterView::OnBrowseSubtitles);
  connect(ui_->outputFolderBrowseButton, &QPushButton::clicked, this, &CTavrionConverterView::OnBrowseFolder);
  // Typed texts go into the entries once they are typed out (Return, or leaving the box),
  // not at every key: a name half typed names no file and would close the preview.
  connect(ui_->subtitleFileEdit, &QLineEdit::editingFinished, this, &CTavrionConverterView::ApplySubtitleFile);
  connect(ui_->outputFolderEdit, &QLineEdit::textChanged, this,
          [this](const QString& text) { ui_->outputFolderEdit->setToolTip(text); });
  connect(ui_->outputFolderEdit, &QLineEdit::editingFinished, this, [this] { ApplyOutputFolder(); });
  connect(ui_->outputNameEdit, &QLineEdit::editingFinished, this, [this] { ApplyOutputName(); });

  // A choice from a list goes into every edited entry; a list left alone changes nothing.
  const auto choice = [this](QComboBox* combo, bool (EntryEditor::*set)(int)) {
    connect(combo, &QComboBox::activated, this, [this, set](int item) {
      EntryEditor editor = Editor();
      if ((editor.*set)(item)) AfterEdit(editor);
    });
  };
  choice(ui_->outputFormatCombo, &EntryEditor::SetOutputFormatItem);
  choice(ui_->frameRateCombo, &EntryEditor::SetFrameRateItem);
  choice(ui_->splitCombo, &EntryEditor::SetSplitItem);
  connect(ui_->frameSizeCombo, &QComboBox::activated, this, &CTavrionConverterView::OnFrameSizeChosen);
  connect(ui_->screenSizeCombo, &QComboBox::activated, this, &CTavrionConverterView::OnScreenFitChosen);
  connect(ui_->subtitleSizeCombo, &QComboBox::activated, this, &CTavrionConverterView::OnSubtitleSizeChosen);
  connect(ui_->languageCombo, &QComboBox::activated, this, &CTavrionConverterView::OnSubtitleLanguageChosen);

  // The trim points the slider's markers set belong to the previewed entry.
  connect(ui_->positionSlider, &ui::CCustomSlider::PointsChanged, this, [this] {
    SaveTrimPoints();
    UpdateEstimatedSize();
  });

  // The buttons carry out the commands' actions.
  connect(ui_->runButton, &ui::CMultiButton::Command, this, [this](UINT command) {
    switch (command) {
      case IDC_CONVERT: actions_.convert->trigger(); break;
      case IDC_PAUSE_RUN: actions_.pauseRun->trigger(); break;
      case IDC_RESUME_RUN: actions_.resumeRun->trigger(); break;
      default: break;
    }
  });
  connect(ui_->breakButton, &QPushButton::clicked, actions_.breakRun, &QAction::trigger);
  connect(ui_->playButton, &QToolButton::clicked, this, [this] {
    // The play button pauses while the preview plays.
    if (player_->GetState() == PlayerCore::kRunning) actions_.pausePreview->trigger();
    else actions_.play->trigger();
  });
  connect(ui_->stopButton, &QToolButton::clicked, actions_.stop, &QAction::trigger);
}

void CTavrionConverterView::FillList() {
  setCursor(Qt::WaitCursor);
  list_->setUpdatesEnabled(false);
  std::vector<CConvertOrder*> rows;
  for (size_t i = 0; i < doc_.GetCount(); ++i) rows.push_back(doc_.GetAt(i));
  {
    const QSignalBlocker quiet(list_->selectionModel());
    list_->RemoveAll();
    list_->InsertAll(rows);
  }
  // The document's selection (a batch file keeps one) is shown in the list; the document
  // and the controls then follow the list, once.
  ShowSelectionInList();
  // What the rows show of their movies comes in the background; the selected one is
  // probed by its preview.
  for (CConvertOrder* e : rows)
    if (e->GetDuration() == kUnknownTime && !e->HasProbeError()) prober_->Probe(e, e->SourcePath().Full());
  OnSelectionChanged();
  list_->setUpdatesEnabled(true);
  unsetCursor();
}

void CTavrionConverterView::ShowSelectionInList() {
  const std::vector<CConvertOrder*> selected = doc_.GetSelection();
  CConvertOrder* focused = doc_.GetFocused();
  const QSignalBlocker quiet(list_->selectionModel());
  list_->ClearSelection();
  for (CConvertOrder* e : selected)
    if (e != focused) list_->Select(e, true);
  // The focused row last: selecting a row also makes it the current one.
  if (focused && doc_.IsSelected(focused)) list_->Select(focused, true);
  list_->viewport()->update();
}

// ---- the edited entries ---------------------------------------------------------------

EntryEditor CTavrionConverterView::Editor() const {
  // During a run the controls show the movie being converted and edit nothing.
  if (doc_.IsConverting()) return EntryEditor();
  std::vector<CConvertOrder*> entries = doc_.GetSelection();
  std::sort(entries.begin(), entries.end(),
            [this](const CConvertOrder* a, const CConvertOrder* b) { return doc_.IndexOf(a) < doc_.IndexOf(b); });
  return EntryEditor(std::move(entries));
}

// A list shows an editor's position: a choice, nothing (a value no item offers), or the
// placeholder that says the entries differ.
void CTavrionConverterView::ShowItem(QComboBox* combo, int item) {
  combo->setPlaceholderText(item == EntryEditor::kMixed ? Q(res::Text(res::IDS_MIXED_VALUE)) : QString());
  combo->setCurrentIndex(item >= 0 && item < combo->count() ? item : -1);
}

int CTavrionConverterView::ItemOfData(QComboBox* combo, const std::optional<std::string>& data) {
  if (!data) return EntryEditor::kMixed;
  for (int i = 0; i < combo->count(); ++i)
    if (combo->itemData(i).toString().compare(Q(*data), Qt::CaseInsensitive) == 0) return i;
  return EntryEditor::kNoItem;
}

bool CTavrionConverterView::EditsPreviewed(const EntryEditor& editor) const {
  const std::vector<CConvertOrder*>& entries = editor.Entries();
  return previewed_ && std::find(entries.begin(), entries.end(), previewed_) != entries.end();
}

void CTavrionConverterView::ShowEntries(bool lists) {
  CConvertOrder* converting = doc_.IsConverting() && run_ ? run_->GetCurrent() : nullptr;
  const EntryEditor editor = doc_.IsConverting() ? EntryEditor(converting ? std::vector<CConvertOrder*>{converting}
                                                                          : std::vector<CConvertOrder*>{})
                                                 : Editor();
  ShowItem(ui_->outputFormatCombo, editor.OutputFormatItem());
  ShowItem(ui_->frameSizeCombo, editor.FrameSizeItem());
  ShowItem(ui_->frameRateCombo, editor.FrameRateItem());
  ShowItem(ui_->screenSizeCombo, editor.ScreenFitItem());
  ShowItem(ui_->splitCombo, editor.SplitItem());
  ShowText(ui_->outputFolderEdit, editor.OutputFolder());
  ui_->outputNameEdit->setText(Q(editor.OutputTitle()));
  ui_->subtitleFileEdit->setText(Q(editor.SubtitleFileText()));
  // A box that shows entries differing in it takes a third state until it is clicked.
  const EntryEditor::Check use = editor.UseSubtitles();
  ui_->useSubtitlesCheck->setTristate(use == EntryEditor::Check::kMixed);
  ui_->useSubtitlesCheck->setCheckState(use == EntryEditor::Check::kMixed ? Qt::PartiallyChecked
                                        : use == EntryEditor::Check::kOn  ? Qt::Checked
                                                                          : Qt::Unchecked);
  ui_->removeAfterCheck->setChecked(doc_.GetRemoveAfterConversion());
  if (lists) {
    if (converting || editor.IsEmpty()) ClearSubtitleLists();
    else if (editor.IsSingle()) LoadSubtitleFile(false);
    else LoadSubtitleLists(editor);
  } else if (!editor.IsSingle()) {
    ShowItem(ui_->subtitleSizeCombo, ItemOfData(ui_->subtitleSizeCombo, editor.SubtitleSize()));
    ShowItem(ui_->languageCombo, ItemOfData(ui_->languageCombo, editor.SubtitleLanguage()));
  }
  UpdateEstimatedSize();
  updateActions();
}

void CTavrionConverterView::ClearShownEntries() {
  for (QComboBox* combo :
       {ui_->outputFormatCombo, ui_->frameSizeCombo, ui_->frameRateCombo, ui_->screenSizeCombo, ui_->splitCombo})
    ShowItem(combo, EntryEditor::kNoItem);
  for (QLineEdit* edit : {ui_->outputFolderEdit, ui_->outputNameEdit, static_cast<QLineEdit*>(ui_->subtitleFileEdit)})
    edit->clear();
  ui_->useSubtitlesCheck->setTristate(false);
  ui_->useSubtitlesCheck->setChecked(false);
  ClearSubtitleLists();
}

void CTavrionConverterView::AfterEdit(const EntryEditor& editor) {
  for (CConvertOrder* e : editor.Entries()) list_->Refresh(e);
  ShowEntries(false);
}

void CTavrionConverterView::CommitEdits() {
  if (doc_.IsConverting()) return;
  // Only what the user typed: a text the form put there is the entries' own.
  if (ui_->outputFolderEdit->isModified()) ApplyOutputFolder();
  if (ui_->outputNameEdit->isModified()) ApplyOutputName();
  if (ui_->subtitleFileEdit->isModified()) ApplySubtitleFile();
  SaveTrimPoints();
}

void CTavrionConverterView::SaveTrimPoints() {
  REFERENCE_TIME start = -1, end = -1;
  if (previewed_ && player_->IsAttached() && player_->GetPoints(&start, &end) && start >= 0 && end >= 0)
    previewed_->SetTrimPoints(start, end);
}

// ---- enabling -------------------------------------------------------------------------

void CTavrionConverterView::updateActions() {
  const bool converting = doc_.IsConverting();
  const bool paused = converting && run_ && run_->IsPaused();
  const bool previewing = !converting && previewed_ != nullptr;
  const EntryEditor editor = Editor();
  const bool editing = !editor.IsEmpty();
  CConvertOrder* single = editor.Single();
  const bool one = single != nullptr;
  const bool listEditing = !converting && doc_.HasSelection();
  // Whatever moves the commands can change what Convert would do: the line says it again.
  ScheduleReadySummary();

  actions_.addFiles->setEnabled(!converting);
  actions_.addFolder->setEnabled(!converting);
  actions_.remove->setEnabled(listEditing);
  actions_.moveUp->setEnabled(listEditing && !doc_.SelectionHasFirst());
  actions_.moveDown->setEnabled(listEditing && !doc_.SelectionHasLast());
  actions_.modifySource->setEnabled(one);
  actions_.properties->setEnabled(one);
  actions_.play->setEnabled(!converting && (doc_.HasSelection() || previewed_ != nullptr));
  actions_.pausePreview->setEnabled(previewing && player_->GetState() == PlayerCore::kRunning);
  actions_.stop->setEnabled(previewing);
  actions_.convert->setEnabled(doc_.AnyChecked());
  actions_.pauseRun->setEnabled(converting && run_ != nullptr && !paused);
  actions_.resumeRun->setEnabled(paused);
  actions_.breakRun->setEnabled(converting);
  escapeShortcut_->setEnabled(converting);

  // The entries' settings; labels share the enabling of their control. The subtitle file
  // and the output name are one entry's own.
  const auto enable = [](std::initializer_list<QWidget*> ws, bool on) {
    for (QWidget* w : ws) w->setEnabled(on);
  };
  const bool subtitles = one ? single->UsesSubtitles() : editor.AnyHasSubtitles();
  enable({ui_->useSubtitlesCheck, ui_->outputFolderLabel, ui_->outputFolderEdit, ui_->outputFolderBrowseButton,
          ui_->outputFormatLabel, ui_->outputFormatCombo, ui_->frameSizeLabel, ui_->frameSizeCombo, ui_->frameRateLabel,
          ui_->frameRateCombo},
         editing);
  enable({ui_->subtitleBrowseButton, ui_->outputNameLabel, ui_->outputNameEdit}, one);
  enable({ui_->subtitleFileLabel, ui_->subtitleFileEdit}, one && single->UsesSubtitles());
  enable({ui_->languageLabel, ui_->languageCombo}, editing && subtitles && ui_->languageCombo->count() > 0);
  enable({ui_->subtitleSizeLabel, ui_->subtitleSizeCombo}, editing && subtitles && ui_->subtitleSizeCombo->count() > 0);
  enable({ui_->screenSizeLabel, ui_->screenSizeCombo}, editing && editor.CanChangeScreenFit());
  enable({ui_->splitLabel, ui_->splitCombo}, editing && editor.CanSplit());

  // The run controls.
  switch (runButtonCommand_) {
    case IDC_PAUSE_RUN: ui_->runButton->setEnabled(actions_.pauseRun->isEnabled()); break;
    case IDC_RESUME_RUN: ui_->runButton->setEnabled(actions_.resumeRun->isEnabled()); break;
    default: ui_->runButton->setEnabled(actions_.convert->isEnabled()); break;
  }
  ui_->breakButton->setEnabled(converting);
  // The play button pauses while the preview plays, and says so.
  ui_->playButton->setEnabled(actions_.play->isEnabled());
  const UINT playCommand = player_->GetState() == PlayerCore::kRunning ? ID_PAUSE_PREVIEW : ID_PLAY;
  if (playButtonTexts_ != playCommand) {
    playButtonTexts_ = playCommand;
    ui::ApplyControlTexts(ui_->playButton, playCommand);
  }
  ui_->stopButton->setEnabled(previewing);
  ui_->positionSlider->setEnabled(previewing && previewed_->IsSeekable());
}

bool CTavrionConverterView::IsStatusTimerRunning() const { return statusTimer_->isActive(); }

// ---- status area ---------------------------------------------------------------------

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

void CTavrionConverterView::ScheduleReadySummary() {
  // During a run the run's page shows; the summary is made again when it stops.
  if (readySummaryPending_ || doc_.IsConverting()) return;
  readySummaryPending_ = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        readySummaryPending_ = false;
        UpdateReadySummary();
      },
      Qt::QueuedConnection);
}

void CTavrionConverterView::UpdateReadySummary() {
  if (doc_.IsConverting()) return;
  const QString ready = Q(ReadySummaryText(SummariseBatch(doc_, ReadConfiguredBitrate(DefaultCompressIni()))));
  if (ui_->idleSummaryLabel->text() != ready) ui_->idleSummaryLabel->setText(ready);
}

void CTavrionConverterView::UpdateStatusRow(
    StatusRow& row, bool converting, bool paused,
    const std::function<std::string(LONGLONG* elapsed, LONGLONG* remaining)>& figures) {
  if (converting) {
    row.shown = true;
    row.text->setEnabled(true);
    if (!paused && row.refresh++ % kTextRefreshEvery == 0) {
      LONGLONG elapsed = 0, remaining = 0;
      row.text->setText(Q(figures(&elapsed, &remaining)));
      row.elapsed->setText(Q(res::FormatId(res::IDS_ELAPSED, {FormatTime(elapsed)})));
      row.remaining->setText(Q(res::FormatId(res::IDS_REMAINED, {FormatTime(remaining)})));
    }
  } else if (row.shown) {
    row.shown = false;
    row.text->clear();
    row.text->setEnabled(false);
    row.elapsed->clear();
    row.remaining->clear();
  }
}

void CTavrionConverterView::UpdateStatusArea() {
  const bool converting = doc_.IsConverting() && run_;
  const bool paused = converting && run_->IsPaused();

  // The run's figures while it goes; otherwise what Convert would do.
  QWidget* page = converting ? ui_->runPage : ui_->idlePage;
  if (ui_->statusStack->currentWidget() != page) ui_->statusStack->setCurrentWidget(page);
  if (!converting) UpdateReadySummary();

  // Current file.
  UpdateStatusRow(fileRow_, converting, paused, [this](LONGLONG* elapsed, LONGLONG* remaining) {
    CConvertOrder* cur = run_->GetCurrent();
    run_->GetFileTimes(elapsed, remaining);
    return res::FormatId(res::IDS_CURRENT_FILE, {cur ? cur->SourcePath().Full() : std::string()});
  });
  // Whole run.
  UpdateStatusRow(totalRow_, converting, paused, [this](LONGLONG* elapsed, LONGLONG* remaining) {
    int index = 0, count = 0;
    doc_.GetFileCounters(&index, &count);
    run_->GetTotalTimes(elapsed, remaining);
    // Several entries at once: the numbers of all of them ("#1-2 from 3"), not the first alone.
    std::string number = std::to_string(index + 1);
    const int running = run_->IsSimultaneous() ? int(run_->ConvertingEntries().size()) : 1;
    if (const int last = std::min(index + running, count); last > index + 1) number += "-" + std::to_string(last);
    return res::FormatId(res::IDS_CONVERTING_FILE, {number, std::to_string(count)});
  });

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
      list_->SetProgress(run_->GetCurrent(), int(file));
      const LONG total = run_->MapTotalProgress(0, 100);
      if (total != ui_->totalProgress->value()) {
        ui_->totalProgress->setValue(total);
        run_->SampleTotalTime();
        emit totalProgressChanged(total);
      }
    }
  } else {
    if (fileProgressShown_ || totalProgressShown_) {
      emit totalProgressChanged(-1);
      list_->ClearProgress();
    }
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

// ---- notifications --------------------------------------------------------------------

void CTavrionConverterView::OnSelectionChanged() {
  if (doc_.IsConverting()) {
    // A run shows its movie as the selection: the list goes back to it.
    list_->ShowConverting(run_ ? run_->GetCurrent() : nullptr);
    return;
  }
  // What the user typed for the entries selected so far goes into them first.
  CommitEdits();
  doc_.ClearSelection();
  for (CConvertOrder* e : SelectedRows()) doc_.AddToSelection(e);
  doc_.SetFocused(FocusedRow());
  // The preview follows an entry selected alone; selecting many rows builds no graphs.
  if (CConvertOrder* single = doc_.GetSingleSelected()) {
    if (previewed_ != single && !single->HasProbeError()) OpenPreview(single, false);
    // While no graph runs the window shows the entry's picture.
    ui_->videoHost->ShowStill(single->Snapshot().block ? single : nullptr);
  } else if (PlayListRemaining() == 0) {
    ClosePreview();
    ui_->videoHost->ShowStill(nullptr);
  }
  ShowEntries();
}

void CTavrionConverterView::OnRowStateChanged(CConvertOrder* e, unsigned oldState, unsigned newState) {
  using List = ui::CConvertOrderListCtrl;
  if (!e || ((oldState ^ newState) & List::kStateImageMask) == 0) return;
  // During a run the check boxes stay as the run found them.
  if (!doc_.IsConverting()) {
    const bool checked = (newState & List::kStateImageMask) == List::kStateChecked;
    e->SetChecked(checked);
    if (checked) e->ResetState();
  }
  list_->Refresh(e);
  updateActions();
}

void CTavrionConverterView::OnRowActivated(CConvertOrder* entry) {
  CommitEdits();
  if (doc_.IsConverting()) return;
  if (OpenPreview(entry, true)) ui_->playButton->setFocus();
}

void CTavrionConverterView::OnDocumentUpdate(DocumentHint hint, CConvertOrder* entry, const std::string* path) {
  switch (hint) {
    case DocumentHint::kReload: ShowEntries(); break;
    case DocumentHint::kBeforeSave: CommitEdits(); break;
    case DocumentHint::kContentsDeleted:
      pendingAdds_.clear();
      for (size_t i = 0; i < doc_.GetCount(); ++i) prober_->Forget(doc_.GetAt(i));
      ClosePreview();
      {
        // The entries go: nothing of them stays in the controls or the list's selection.
        const QSignalBlocker quiet(list_->selectionModel());
        list_->RemoveAll();
      }
      ClearShownEntries();
      break;
    case DocumentHint::kCurrentChanged:
      list_->ShowConverting(entry);
      if (doc_.IsConverting()) ShowEntries();
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
      updateActions();
      break;
    case DocumentHint::kRunStopped:
      statusTimer_->stop();
      // A run broken off while paused leaves no row saying "Paused".
      for (size_t i = 0; i < doc_.GetCount(); ++i)
        if (doc_.GetAt(i) != previewed_) doc_.GetAt(i)->ClearPlayState();
      UpdateStatusArea();
      ShowRunSummary();
      ui_->videoHost->update();
      ui_->playStatusLabel->clear();
      list_->RefreshAll();
      SetRunButton(IDC_CONVERT);
      emit totalProgressChanged(-1);
      // The list showed the run's movies; it shows the selection the settings edit again.
      ShowSelectionInList();
      ShowEntries();
      break;
    case DocumentHint::kRemoveConverted:
      if (!entry) break;
      if (doc_.GetFocused() == entry) doc_.SetFocused(nullptr);
      if (previewed_ == entry) ClosePreview();
      prober_->Forget(entry);
      doc_.Unselect(entry);
      {
        const QSignalBlocker quiet(list_->selectionModel());
        list_->Remove(entry);
      }
      doc_.RemoveOrder(entry);
      ShowEntries();
      break;
    case DocumentHint::kMovieOpened:
      if (!initialised_ || doc_.IsConverting() || !path) break;
      list_->ClearSelection();
      doc_.ClearSelection();
      AddMovie(*path, !quietAdd_);
      ReportRefused();
      break;
    default:
      break;
  }
}

}  // namespace tav
