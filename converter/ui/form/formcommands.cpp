// The main form's commands: the batch (add, remove, move, modify, properties), the run
// (convert, pause, resume, break), the browse buttons and check boxes, the context menus
// and files dropped on the window.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QUrl>
#include <algorithm>

#include "converter/engine/conversionrun.h"
#include "converter/engine/exceptions.h"
#include "converter/engine/moviefolder.h"
#include "converter/engine/strings.h"
#include "converter/ui/form/tavrionconverterview.h"
#include "ui_tavrionconverterview.h"

namespace tav {

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }
}  // namespace

bool CTavrionConverterView::IsCommandEnabled(int id) const {
  const bool converting = doc_.IsConverting();
  switch (id) {
    case ID_ADD_FILES:
    case ID_ADD_FOLDER: return !converting;
    case ID_REMOVE: return doc_.HasSelection();
    case ID_MOVE_UP: return doc_.HasSelection() && !doc_.SelectionHasFirst();
    case ID_MOVE_DOWN: return doc_.HasSelection() && !doc_.SelectionHasLast();
    case ID_MODIFY_SOURCE:
    case ID_PROPERTIES: return doc_.HasSingleSelection();
    case ID_PLAY: return !converting && (doc_.HasSelection() || previewed_);
    case ID_PAUSE_PREVIEW: return !converting && player_->GetState() == PlayerCore::kRunning;
    case ID_STOP: return !converting && previewed_;
    case IDC_CONVERT: return doc_.AnyChecked();
    case IDC_PAUSE_RUN: return converting && run_ && !run_->IsPaused();
    case IDC_RESUME_RUN: return converting && run_ && run_->IsPaused();
    case IDC_BREAK_RUN: return converting;
    default: return false;
  }
}

void CTavrionConverterView::RunCommand(int id) {
  if (!IsCommandEnabled(id)) return;
  switch (id) {
    case ID_ADD_FILES: OnAddFiles(); break;
    case ID_ADD_FOLDER: OnAddFolder(); break;
    case ID_REMOVE: OnRemove(); break;
    case ID_MOVE_UP: OnMoveUp(); break;
    case ID_MOVE_DOWN: OnMoveDown(); break;
    case ID_MODIFY_SOURCE: OnModifySource(); break;
    case ID_PROPERTIES: OnProperties(); break;
    case ID_PLAY: OnPlay(); break;
    case ID_PAUSE_PREVIEW: OnPausePreview(); break;
    case ID_STOP: OnStop(); break;
    case IDC_CONVERT: OnConvert(); break;
    case IDC_PAUSE_RUN: OnPauseRun(); break;
    case IDC_RESUME_RUN: OnResumeRun(); break;
    case IDC_BREAK_RUN: OnBreak(); break;
    default: break;
  }
}

// ---- the batch ------------------------------------------------------------------------

bool CTavrionConverterView::AddMovie(const std::string& path) {
  if (!CTavrionConverterDoc::IsMovieFile(path)) return false;
  CConvertOrder* e = nullptr;
  try {
    e = doc_.AddOrder(path);
  } catch (const std::exception& ex) {
    // The entry's output file cannot be made next to the movie: said where it happened,
    // the batch stays as it was.
    qWarning("cannot add %s: %s", path.c_str(), ex.what());
    return false;
  }
  loading_ = true;
  list_->Insert(e);
  list_->Select(e, true);
  loading_ = false;
  doc_.AddToSelection(e);
  doc_.SetFocused(e);
  if (!e->Snapshot().block) OpenPreview(e, false);
  UpdateData(false);
  return true;
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
  UpdateData(true);
  list_->setUpdatesEnabled(false);
  for (const std::string& f : files) {
    loading_ = true;
    list_->ClearSelection();
    loading_ = false;
    doc_.ClearSelection();
    AddMovie(f);
  }
  list_->setUpdatesEnabled(true);
}

void CTavrionConverterView::OnRemove() {
  std::vector<CConvertOrder*> selected;
  doc_.GetSelectedInOrder(&selected);
  for (CConvertOrder* e : selected) {
    if (previewed_ == e) ClosePreview();
    playList_.erase(std::remove(playList_.begin(), playList_.end(), e), playList_.end());
    if (doc_.GetFocused() == e) doc_.SetFocused(nullptr);
    doc_.Unselect(e);
    list_->Remove(e);
    doc_.RemoveOrder(e);
  }
  playCursor_ = std::min(playCursor_, playList_.size());
  UpdateData(false);
}

void CTavrionConverterView::OnMoveUp() {
  UpdateData(true);
  std::vector<CConvertOrder*> selected = SelectedRows();
  for (CConvertOrder* e : selected) {
    CConvertOrder* prev = doc_.PreviousOrder(e);
    if (!prev) continue;
    doc_.SwapOrders(e, prev);
    list_->SwapWith(e, prev);
  }
  if (!selected.empty()) list_->scrollTo(list_->Model()->index(list_->RowOf(selected.front()), 0));
}

void CTavrionConverterView::OnMoveDown() {
  UpdateData(true);
  std::vector<CConvertOrder*> selected = SelectedRows();
  std::reverse(selected.begin(), selected.end());
  for (CConvertOrder* e : selected) {
    CConvertOrder* next = doc_.NextOrder(e);
    if (!next) continue;
    doc_.SwapOrders(e, next);
    list_->SwapWith(e, next);
  }
  if (!selected.empty()) list_->scrollTo(list_->Model()->index(list_->RowOf(selected.front()), 0));
}

void CTavrionConverterView::OnModifySource() {
  CConvertOrder* e = doc_.GetSingleSelected();
  if (!e || doc_.IsConverting()) return;
  const std::string chosen =
      dialogs_->OpenFile(this, e->SourcePath().Full(), res::Text(res::IDS_VIDEO_FILTER), std::string());
  if (chosen.empty()) return;
  ClosePreview();
  e->SetSourcePath(chosen);
  list_->Refresh(e);
  UpdateData(false);
}

void CTavrionConverterView::OnProperties() {
  CConvertOrder* e = doc_.GetSingleSelected();
  if (e && !doc_.IsConverting()) dialogs_->ShowProperties(window(), *e);
}

void CTavrionConverterView::OnContextMenu(const QPoint& globalPos, bool onRow) {
  QMenu menu(this);
  auto add = [&](UINT textId, int command) {
    QAction* a = menu.addAction(Q(res::Text(textId)));
    a->setStatusTip(Q(res::Text(UINT(command))).section(QLatin1Char('\n'), 0, 0));
    a->setEnabled(IsCommandEnabled(command));
    connect(a, &QAction::triggered, this, [this, command] { RunCommand(command); });
  };
  if (onRow) {
    add(res::IDS_MENU_REMOVE, ID_REMOVE);
    add(res::IDS_MENU_PROPERTIES, ID_PROPERTIES);
    add(res::IDS_MENU_PLAY, ID_PLAY);
  } else {
    add(res::IDS_MENU_ADD_FILE, ID_ADD_FILES);
    add(res::IDS_MENU_ADD_FOLDER, ID_ADD_FOLDER);
  }
  menu.exec(globalPos);
}

// ---- entry settings -------------------------------------------------------------------

void CTavrionConverterView::OnBrowseFolder() {
  const std::string chosen = dialogs_->ChooseFolder(this, S(ui_->outputFolderEdit->text()));
  if (chosen.empty()) return;
  ui_->outputFolderEdit->setText(Q(chosen));
  UpdateData(true);
}

void CTavrionConverterView::OnRemoveAfterConversion() {
  doc_.SetRemoveAfterConversion(ui_->removeAfterCheck->isChecked());
}

// ---- run control ----------------------------------------------------------------------

ConversionRun* CTavrionConverterView::EnsureRun() {
  if (!run_) {
    auto* builder = dynamic_cast<FilterGraphBuilder*>(doc_.GetConversionGraph());
    if (!builder) return nullptr;
    run_ = std::make_unique<ConversionRun>(doc_, *builder);
  }
  return run_.get();
}

void CTavrionConverterView::SetRunButton(int command) {
  runButtonCommand_ = command;
  ui_->runButton->SetState(UINT(command));
  // The button's texts are those of the command it shows.
  const QString text = Q(res::Text(UINT(command)));
  const qsizetype br = text.indexOf('\n');
  ui_->runButton->setStatusTip(br < 0 ? text : text.left(br));
  ui_->runButton->setToolTip(br < 0 ? QString() : text.mid(br + 1));
  EnableRunControls();
}

void CTavrionConverterView::OnConvert() {
  UpdateData(true);
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
    doc_.ResetAllStates();
    list_->RefreshAll();
    run->StartConversion(player_, resume);
  }
  if (doc_.IsConverting()) {
    fileRefresh_ = totalRefresh_ = 0;
    ui_->positionSlider->setEnabled(false);
    SetRunButton(IDC_PAUSE_RUN);
    emit totalProgressChanged(ui_->totalProgress->value());
  }
}

void CTavrionConverterView::OnPauseRun() {
  if (!doc_.IsConverting() || !run_) return;
  player_->Pause();
  run_->SetPaused(true);
  SetRunButton(IDC_RESUME_RUN);
}

void CTavrionConverterView::OnResumeRun() {
  if (!doc_.IsConverting() || !run_) return;
  player_->Run();
  run_->SetPaused(false);
  SetRunButton(IDC_PAUSE_RUN);
}

void CTavrionConverterView::OnBreak() {
  if (doc_.IsConverting()) doc_.StopConversion();
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
  for (const std::string& p : paths) doc_.UpdateAllViews(kHintMovieOpened, nullptr, &p);
}

}  // namespace tav
