// The main form's commands: their actions, the batch (add, remove, move, modify,
// properties), the run (convert, pause, resume, break), the browse buttons and check boxes,
// the context menus and files dropped on the window.
#include <QAction>
#include <QDragEnterEvent>
#include <QElapsedTimer>
#include <QTimer>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QShortcut>
#include <QSignalBlocker>
#include <QUrl>
#include <algorithm>
#include <filesystem>

#include "converter/engine/conversionrun.h"
#include "converter/engine/entryeditor.h"
#include "converter/engine/exceptions.h"
#include "converter/engine/moviefolder.h"
#include "converter/engine/strings.h"
#include "converter/ui/app/preferences.h"
#include "converter/ui/form/runwatcher.h"
#include "converter/ui/controls/uitext.h"
#include "converter/ui/form/tavrionconverterview.h"
#include "ui_tavrionconverterview.h"

namespace tav {

using ui::Q;
using ui::S;

// ---- the actions ----------------------------------------------------------------------

void CTavrionConverterView::MakeActions() {
  // Each command's text, its status-bar text and tooltip (the string of its id) and its
  // handler, which runs only while the command is enabled.
  const auto make = [this](int command, const QString& text, void (CTavrionConverterView::*handler)()) {
    auto* action = new QAction(text, this);
    ui::ApplyControlTexts(action, UINT(command));
    connect(action, &QAction::triggered, this, [this, action, handler] {
      updateActions();
      if (action->isEnabled()) (this->*handler)();
    });
    return action;
  };
  const auto named = [](UINT id) { return Q(res::Text(id)); };
  FormActions& a = actions_;
  a.addFiles = make(ID_ADD_FILES, named(res::IDS_MENU_ADD), &CTavrionConverterView::OnAddFiles);
  a.addFolder = make(ID_ADD_FOLDER, named(res::IDS_MENU_ADD_FOLDER), &CTavrionConverterView::OnAddFolder);
  a.remove = make(ID_REMOVE, named(res::IDS_MENU_REMOVE), &CTavrionConverterView::OnRemove);
  a.moveUp = make(ID_MOVE_UP, named(res::IDS_MENU_MOVE_UP), &CTavrionConverterView::OnMoveUp);
  a.moveDown = make(ID_MOVE_DOWN, named(res::IDS_MENU_MOVE_DOWN), &CTavrionConverterView::OnMoveDown);
  a.modifySource = make(ID_MODIFY_SOURCE, named(res::IDS_MENU_MODIFY_SOURCE), &CTavrionConverterView::OnModifySource);
  a.properties = make(ID_PROPERTIES, named(res::IDS_MENU_PROPERTIES), &CTavrionConverterView::OnProperties);
  a.play = make(ID_PLAY, named(res::IDS_MENU_PLAY), &CTavrionConverterView::OnPlay);
  a.pausePreview = make(ID_PAUSE_PREVIEW, ui::TooltipPart(ID_PAUSE_PREVIEW), &CTavrionConverterView::OnPausePreview);
  a.stop = make(ID_STOP, ui::TooltipPart(ID_STOP), &CTavrionConverterView::OnStop);
  a.convert = make(IDC_CONVERT, named(res::IDS_BUTTON_CONVERT), &CTavrionConverterView::OnConvert);
  a.pauseRun = make(IDC_PAUSE_RUN, named(res::IDS_BUTTON_PAUSE), &CTavrionConverterView::OnPauseRun);
  a.resumeRun = make(IDC_RESUME_RUN, named(res::IDS_BUTTON_RESUME), &CTavrionConverterView::OnResumeRun);
  a.breakRun = make(IDC_BREAK_RUN, named(res::IDS_BUTTON_BREAK), &CTavrionConverterView::OnBreak);

  // The list's own keys: Insert adds, Delete removes, while the list has the focus.
  a.addFiles->setShortcut(QKeySequence(Qt::Key_Insert));
  a.remove->setShortcut(QKeySequence(Qt::Key_Delete));
  for (QAction* listKey : {a.addFiles, a.remove}) {
    listKey->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    list_->addAction(listKey);
  }
  // Anywhere in the window: Ctrl+Return converts; Escape breaks a run once the user agrees.
  a.convert->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)});
  addActions({a.addFolder, a.moveUp, a.moveDown, a.modifySource, a.properties, a.play, a.pausePreview, a.stop,
              a.convert, a.pauseRun, a.resumeRun, a.breakRun});
  escapeShortcut_ = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  escapeShortcut_->setEnabled(false);
  connect(escapeShortcut_, &QShortcut::activated, this, &CTavrionConverterView::OnEscape);
}

// ---- the batch ------------------------------------------------------------------------

bool CTavrionConverterView::AddMovie(const std::string& path, bool show) {
  if (!CTavrionConverterDoc::IsMovieFile(path)) {
    refused_.push_back(res::FormatId(res::IDS_ADD_NOT_A_MOVIE, {path}));
    return false;
  }
  CConvertOrder* e = nullptr;
  try {
    e = doc_.AddOrder(path, NewEntryOutputFolder());
  } catch (const std::exception& ex) {
    // The entry's output file cannot be made next to the movie: the batch stays as it was,
    // and the user reads why.
    std::string why = ex.what();
    std::replace(why.begin(), why.end(), '\n', ' ');
    refused_.push_back(path + ": " + why);
    return false;
  }
  list_->Insert(e);
  if (!show) {
    prober_->Probe(e, path);
    return true;
  }
  // Selected, it becomes the document's selection and is previewed, as a click would.
  list_->Select(e, true);
  return true;
}

std::string CTavrionConverterView::NewEntryOutputFolder() {
  const std::string folder = ui::Preferences::Load().outputFolder;
  if (folder.empty() || IsFolder(folder)) return folder.empty() ? folder : folder + "/";
  // Not there (any more): offered to be made once for the movies added together; without
  // it they go beside their sources.
  if (folder == declinedFolder_) return std::string();
  const std::string missing = res::FormatId(res::IDS_OUTPUT_FOLDER_MISSING, {folder});
  if (dialogs_->AskYesNo(this, res::FormatId(res::IDS_OUTPUT_FOLDER_CREATE, {missing}))) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (!ec) return folder + "/";
    dialogs_->ShowError(this, res::FormatId(res::IDS_OUTPUT_FOLDER_NOT_MADE, {folder, ec.message()}));
  }
  declinedFolder_ = folder;
  return std::string();
}

void CTavrionConverterView::OnProbed(const ProbeResult& r) {
  auto* e = static_cast<CConvertOrder*>(const_cast<void*>(r.token));
  // The entry may have gone, or have another movie by now; one previewed was probed then.
  if (doc_.IndexOf(e) < 0 || e->SourcePath().Full() != r.path || e == previewed_ || doc_.IsConverting()) return;
  ApplyProbe(e, r);
}

void CTavrionConverterView::ApplyProbe(CConvertOrder* e, const ProbeResult& r) {
  if (SUCCEEDED(r.hr)) {
    e->SetSourceInfo(r.duration, r.width, r.height, r.seekable);
    const bool turned = r.storedWidth != r.width || r.storedHeight != r.height;
    e->SetStoredSize(turned ? r.storedWidth : 0, turned ? r.storedHeight : 0);
    e->SetProbeResult(S_OK, MediaTypeValue(), std::string());
  } else {
    e->SetProbeResult(r.hr, r.failedType, r.context);
  }
  list_->Refresh(e);
  ScheduleReadySummary();
}

size_t CTavrionConverterView::ProbesPending() const { return pendingAdds_.size() + prober_->Pending(); }

void CTavrionConverterView::ReportRefused() {
  if (addingDepth_ > 0) return;
  declinedFolder_.clear();
  if (refused_.empty()) return;
  std::string lines;
  for (const std::string& r : refused_) lines += (lines.empty() ? "" : "\n") + r;
  refused_.clear();
  dialogs_->ShowError(window(), res::FormatId(res::IDS_ADD_REFUSED, {lines}));
}

void CTavrionConverterView::OnAddFiles() {
  AddMovies(dialogs_->OpenMovies(this, res::Text(res::IDS_VIDEO_FILTER)));
}

void CTavrionConverterView::OnAddFolder() {
  const std::string folder = dialogs_->ChooseFolder(this, lastAddedFolder_);
  if (folder.empty()) return;
  lastAddedFolder_ = folder;
  AddMovies(MovieFilesInFolder(folder));
}

void CTavrionConverterView::AddMovies(const std::vector<std::string>& files) {
  if (files.empty()) return;
  CommitEdits();
  list_->ClearSelection();
  pendingAdds_.insert(pendingAdds_.end(), files.begin(), files.end());
  // A few movies are there when the command returns; many come in slices between which
  // the window goes on, the last one (selected and previewed) in a slice of its own.
  AddPendingMovies(pendingAdds_.size() > kFewMovies);
}

void CTavrionConverterView::AddPendingMovies(bool sliced) {
  constexpr qint64 kSliceMs = 40;
  QElapsedTimer clock;
  clock.start();
  ++addingDepth_;
  list_->setUpdatesEnabled(false);
  bool added = false;
  while (!pendingAdds_.empty()) {
    const bool last = pendingAdds_.size() == 1;
    if (sliced && added && (last || clock.elapsed() > kSliceMs)) break;
    const std::string file = pendingAdds_.front();
    pendingAdds_.pop_front();
    AddMovie(file, last);
    added = true;
  }
  list_->setUpdatesEnabled(true);
  --addingDepth_;
  if (!pendingAdds_.empty()) {
    QTimer::singleShot(0, this, [this] { AddPendingMovies(true); });
    return;
  }
  ReportRefused();
}

void CTavrionConverterView::OnRemove() {
  CommitEdits();
  std::vector<CConvertOrder*> selected;
  doc_.GetSelectedInOrder(&selected);
  {
    // The rows go one by one; the selection left is taken up once they are all gone.
    const QSignalBlocker quiet(list_->selectionModel());
    for (CConvertOrder* e : selected) {
      prober_->Forget(e);
      if (previewed_ == e) ClosePreview();
      playList_.erase(std::remove(playList_.begin(), playList_.end(), e), playList_.end());
      if (doc_.GetFocused() == e) doc_.SetFocused(nullptr);
      doc_.Unselect(e);
      list_->Remove(e);
      doc_.RemoveOrder(e);
    }
  }
  playCursor_ = std::min(playCursor_, playList_.size());
  OnSelectionChanged();
}

void CTavrionConverterView::OnMoveUp() { MoveSelectedRows(true); }

void CTavrionConverterView::OnMoveDown() { MoveSelectedRows(false); }

void CTavrionConverterView::MoveSelectedRows(bool up) {
  CommitEdits();
  std::vector<CConvertOrder*> selected = SelectedRows();
  // Down, the lowest row moves first (up, the highest), so the selected rows keep their order.
  if (!up) std::reverse(selected.begin(), selected.end());
  for (CConvertOrder* e : selected) {
    CConvertOrder* neighbour = up ? doc_.PreviousOrder(e) : doc_.NextOrder(e);
    if (!neighbour) continue;
    doc_.SwapOrders(e, neighbour);
    list_->SwapWith(e, neighbour);
  }
  if (!selected.empty()) list_->scrollTo(list_->Model()->index(list_->RowOf(selected.front()), 0));
  updateActions();
}

void CTavrionConverterView::OnModifySource() {
  CConvertOrder* e = doc_.GetSingleSelected();
  if (!e || doc_.IsConverting()) return;
  CommitEdits();
  const std::string chosen =
      dialogs_->OpenFile(this, e->SourcePath().Full(), res::Text(res::IDS_VIDEO_FILTER), std::string());
  if (chosen.empty()) return;
  ClosePreview();
  ui_->videoHost->ShowStill(nullptr);
  // The new movie is probed as a new entry is: the row and the preview show it, not what
  // was known (or failed) of the old one.
  e->ReplaceSource(chosen);
  OpenPreview(e, false);
  ui_->videoHost->ShowStill(e->Snapshot().block ? e : nullptr);
  list_->Refresh(e);
  ShowEntries();
}

void CTavrionConverterView::OnProperties() {
  CConvertOrder* e = doc_.GetSingleSelected();
  if (e && !doc_.IsConverting()) dialogs_->ShowProperties(window(), *e);
}

void CTavrionConverterView::OnContextMenu(const QPoint& globalPos, bool onRow) {
  updateActions();
  QMenu menu(this);
  if (onRow) {
    menu.addActions({actions_.remove, actions_.properties, actions_.play});
    menu.exec(globalPos);
    return;
  }
  // The empty list's menu names Add its own way ("Add file...").
  const QString menuText = actions_.addFiles->text();
  actions_.addFiles->setText(Q(res::Text(res::IDS_MENU_ADD_FILE)));
  menu.addActions({actions_.addFiles, actions_.addFolder});
  menu.exec(globalPos);
  actions_.addFiles->setText(menuText);
}

// ---- entry settings -------------------------------------------------------------------

void CTavrionConverterView::OnBrowseFolder() {
  const EntryEditor editor = Editor();
  if (editor.IsEmpty()) return;
  const std::string chosen =
      dialogs_->ChooseFolder(this, editor.OutputFolder().value_or(S(ui_->outputFolderEdit->text())));
  if (chosen.empty()) return;
  ui_->outputFolderEdit->setText(Q(chosen));
  ApplyOutputFolder();
}

bool CTavrionConverterView::ApplyOutputFolder() {
  EntryEditor editor = Editor();
  if (editor.IsEmpty() || checkingOutput_) return true;
  const std::optional<std::string> shared = editor.OutputFolder();
  const std::string typed = S(ui_->outputFolderEdit->text());
  // Entries whose folders differ keep them while the box is left empty.
  if (!shared && typed.empty()) return true;
  std::string folder = typed;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  std::string current = shared.value_or(std::string());
  while (current.size() > 1 && current.back() == '/') current.pop_back();
  if (shared && folder == current) return true;
  checkingOutput_ = true;
  std::string problem;
  bool declined = false;
  switch (folder.empty() ? OutputFolderState::kNotAFolder : CheckOutputFolder(folder)) {
    case OutputFolderState::kUsable: break;
    case OutputFolderState::kMissing: {
      // A folder that is not there yet may be made on the spot.
      const std::string missing = res::FormatId(res::IDS_OUTPUT_FOLDER_MISSING, {folder});
      std::string why;
      if (!dialogs_->AskYesNo(this, res::FormatId(res::IDS_OUTPUT_FOLDER_CREATE, {missing})))
        declined = true;
      else if (!MakeOutputFolder(folder, &why))
        problem = res::FormatId(res::IDS_OUTPUT_FOLDER_NOT_MADE, {folder, why});
      break;
    }
    case OutputFolderState::kNotAFolder:
      problem = res::FormatId(res::IDS_OUTPUT_FOLDER_MISSING, {folder.empty() ? typed : folder});
      break;
    case OutputFolderState::kReadOnly: problem = res::FormatId(res::IDS_OUTPUT_FOLDER_READ_ONLY, {folder}); break;
  }
  if (!problem.empty()) dialogs_->ShowError(this, problem);
  checkingOutput_ = false;
  if (declined || !problem.empty()) {
    ShowEntries(false);
    return false;
  }
  if (editor.SetOutputFolder(folder)) AfterEdit(editor);
  return true;
}

bool CTavrionConverterView::ApplyOutputName() {
  EntryEditor editor = Editor();
  if (!editor.IsSingle() || checkingOutput_) return true;
  const std::string name = S(ui_->outputNameEdit->text());
  if (name == editor.OutputTitle()) return true;
  std::string problem;
  if (editor.SetOutputTitle(name, &problem)) {
    AfterEdit(editor);
    return true;
  }
  if (problem.empty()) return true;
  // A name that is no file name never reaches the entry.
  checkingOutput_ = true;
  dialogs_->ShowError(this, problem);
  checkingOutput_ = false;
  ui_->outputNameEdit->setText(Q(editor.OutputTitle()));
  return false;
}

void CTavrionConverterView::OnRemoveAfterConversion() {
  doc_.SetRemoveAfterConversion(ui_->removeAfterCheck->isChecked());
  ui_->removeAfterCheck->setChecked(doc_.GetRemoveAfterConversion());
}

// ---- run control ----------------------------------------------------------------------

ConversionRun* CTavrionConverterView::EnsureRun() {
  if (!run_) {
    auto* builder = dynamic_cast<FilterGraphBuilder*>(doc_.GetConversionGraph());
    if (!builder) return nullptr;
    run_ = std::make_unique<ConversionRun>(doc_, *builder);
    runWatcher_ = std::make_unique<CRunWatcher>(doc_, *run_, list_->Model());
  }
  return run_.get();
}

void CTavrionConverterView::SetRunButton(int command) {
  runButtonCommand_ = command;
  ui_->runButton->SetState(UINT(command));
  // The button's texts are those of the command it shows.
  ui::ApplyControlTexts(ui_->runButton, UINT(command));
  updateActions();
}

void CTavrionConverterView::OnConvert() {
  CommitEdits();
  ClosePreview();
  playList_.clear();
  if (!doc_.IsConverting()) {
    ConversionRun* run = EnsureRun();
    if (!run) return;
    // Movies interrupted earlier (by Break, or by a crash the restored batch tells of) can
    // go on where their output ends, or convert again from the start: the user says which.
    bool resume = false;
    for (size_t i = 0; i < doc_.GetCount() && !resume; ++i) {
      const CConvertOrder* e = doc_.GetAt(i);
      resume = e->IsChecked() && e->CanResume();
    }
    if (resume) resume = dialogs_->AskYesNo(this, res::Text(res::IDS_RESUME_QUESTION));
    // A movie not probed yet (its probe still queued, or a batch just opened) would convert
    // as if it could not seek, and so without its split: it is probed now.
    std::unique_ptr<FilterGraphBuilder> prober;
    for (size_t i = 0; i < doc_.GetCount(); ++i) {
      CConvertOrder* e = doc_.GetAt(i);
      if (!e->IsChecked() || e->HasProbeError() || e->GetDuration() != kUnknownTime) continue;
      if (!prober) {
        prober = std::make_unique<FilterGraphBuilder>();
        prober->Init();
      }
      prober_->Forget(e);
      ApplyProbe(e, ProbeMovie(*prober, e, e->SourcePath().Full()));
    }
    doc_.ResetAllStates();
    list_->RefreshAll();
    run->SetSimultaneous(ui::Preferences::Load().simultaneous, WorkerCommand());
    run->StartConversion(player_, resume);
    runWatcher_->Follow();
    // The slider's status line follows the conversion's graph.
    ui_->positionSlider->SetPlayer(player_);
  }
  if (doc_.IsConverting()) {
    fileRow_.refresh = totalRow_.refresh = 0;
    SetRunButton(IDC_PAUSE_RUN);
    // The status area moves while the run goes on, and only then.
    statusTimer_->start();
    UpdateStatusArea();
    ShowEntries();
    emit totalProgressChanged(ui_->totalProgress->value());
  }
}

void CTavrionConverterView::OnPauseRun() { SetRunPaused(true); }

void CTavrionConverterView::OnResumeRun() { SetRunPaused(false); }

void CTavrionConverterView::SetRunPaused(bool paused) {
  if (!doc_.IsConverting() || !run_) return;
  if (paused) player_->Pause();
  else player_->Run();
  run_->SetPaused(paused);
  SetRunButton(paused ? IDC_RESUME_RUN : IDC_PAUSE_RUN);
  if (CConvertOrder* current = run_->GetCurrent()) {
    // Paused, the row says the movie waits, not that it converts.
    if (paused) current->SetPlayState(false);
    else current->ClearPlayState();
    list_->Refresh(current);
  }
}

void CTavrionConverterView::OnBreak() {
  if (doc_.IsConverting()) doc_.StopConversion();
}

void CTavrionConverterView::OnEscape() {
  if (doc_.IsConverting() && dialogs_->AskYesNo(this, res::Text(res::IDS_BREAK_QUESTION))) actions_.breakRun->trigger();
}

// ---- dropped files --------------------------------------------------------------------

void CTavrionConverterView::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls() && !doc_.IsConverting()) event->acceptProposedAction();
}

void CTavrionConverterView::dropEvent(QDropEvent* event) {
  if (doc_.IsConverting()) return;
  AddDroppedFiles(event->mimeData()->urls());
  event->acceptProposedAction();
}

void CTavrionConverterView::AddDroppedFiles(const QList<QUrl>& urls) {
  if (doc_.IsConverting()) return;
  std::vector<std::string> paths;
  for (const QUrl& url : urls) {
    if (!url.isLocalFile()) continue;
    const std::string local = S(url.toLocalFile());
    if (IsFolder(local)) {
      const std::vector<std::string> found = MovieFilesInFolder(local);
      paths.insert(paths.end(), found.begin(), found.end());
    } else {
      paths.push_back(local);
    }
  }
  ++addingDepth_;
  for (size_t i = 0; i < paths.size(); ++i) {
    quietAdd_ = i + 1 < paths.size();
    doc_.UpdateAllViews(DocumentHint::kMovieOpened, nullptr, &paths[i]);
  }
  quietAdd_ = false;
  --addingDepth_;
  ReportRefused();
}

}  // namespace tav
