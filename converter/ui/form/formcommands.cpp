// The main form's commands: the batch (add, remove, move, modify, properties), the run
// (convert, pause, resume, break), the browse buttons and check boxes, the context menus
// and files dropped on the window.
#include <QDragEnterEvent>
#include <QElapsedTimer>
#include <QTimer>
#include <QDropEvent>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QUrl>
#include <algorithm>
#include <climits>
#include <filesystem>
#include <unistd.h>

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

bool CTavrionConverterView::AddMovie(const std::string& path, bool show) {
  if (!CTavrionConverterDoc::IsMovieFile(path)) {
    refused_.push_back(res::FormatId(res::IDS_ADD_NOT_A_MOVIE, {path}));
    return false;
  }
  CConvertOrder* e = nullptr;
  try {
    e = doc_.AddOrder(path);
  } catch (const std::exception& ex) {
    // The entry's output file cannot be made next to the movie: the batch stays as it was,
    // and the user reads why.
    std::string why = ex.what();
    std::replace(why.begin(), why.end(), '\n', ' ');
    refused_.push_back(path + ": " + why);
    return false;
  }
  loading_ = true;
  list_->Insert(e);
  if (!show) {
    loading_ = false;
    prober_->Probe(e, path);
    return true;
  }
  list_->Select(e, true);
  loading_ = false;
  doc_.AddToSelection(e);
  doc_.SetFocused(e);
  if (!e->Snapshot().block) OpenPreview(e, false);
  UpdateData(false);
  return true;
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
}

size_t CTavrionConverterView::ProbesPending() const { return pendingAdds_.size() + prober_->Pending(); }

void CTavrionConverterView::ReportRefused() {
  if (addingDepth_ > 0 || refused_.empty()) return;
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
  UpdateData(true);
  loading_ = true;
  list_->ClearSelection();
  loading_ = false;
  doc_.ClearSelection();
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
  std::vector<CConvertOrder*> selected;
  doc_.GetSelectedInOrder(&selected);
  for (CConvertOrder* e : selected) {
    prober_->Forget(e);
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
  ui_->videoHost->ShowStill(nullptr);
  // The new movie is probed as a new entry is: the row and the preview show it, not what
  // was known (or failed) of the old one.
  e->ReplaceSource(chosen);
  OpenPreview(e, false);
  ui_->videoHost->ShowStill(e->Snapshot().block ? e : nullptr);
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
  if (CheckOutputFolder()) UpdateData(true);
}

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

bool CTavrionConverterView::CheckOutputFolder() {
  CConvertOrder* e = doc_.GetSingleSelected();
  if (!e || checkingOutput_) return true;
  const std::string typed = S(ui_->outputFolderEdit->text());
  std::string folder = typed;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  std::string current = e->OutputPath().Folder();
  while (current.size() > 1 && current.back() == '/') current.pop_back();
  if (folder == current) return true;
  checkingOutput_ = true;
  std::string problem;
  bool declined = false;
  const QFileInfo info(Q(folder));
  if (folder.empty()) {
    problem = res::FormatId(res::IDS_OUTPUT_FOLDER_MISSING, {typed});
  } else if (!info.exists()) {
    // A folder that is not there yet may be made on the spot.
    const std::string missing = res::FormatId(res::IDS_OUTPUT_FOLDER_MISSING, {folder});
    if (dialogs_->AskYesNo(this, res::FormatId(res::IDS_OUTPUT_FOLDER_CREATE, {missing}))) {
      std::error_code ec;
      std::filesystem::create_directories(folder, ec);
      if (ec) problem = res::FormatId(res::IDS_OUTPUT_FOLDER_NOT_MADE, {folder, ec.message()});
    } else {
      declined = true;
    }
  } else if (!info.isDir()) {
    problem = res::FormatId(res::IDS_OUTPUT_FOLDER_MISSING, {folder});
  } else if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    problem = res::FormatId(res::IDS_OUTPUT_FOLDER_READ_ONLY, {folder});
  }
  if (!problem.empty()) dialogs_->ShowError(this, problem);
  const bool refused = declined || !problem.empty();
  if (refused) {
    loading_ = true;
    ui_->outputFolderEdit->setText(Q(e->OutputPath().Folder()));
    loading_ = false;
  }
  checkingOutput_ = false;
  return !refused;
}

bool CTavrionConverterView::CheckOutputName() {
  CConvertOrder* e = doc_.GetSingleSelected();
  if (!e || checkingOutput_) return true;
  const std::string name = S(ui_->outputNameEdit->text());
  if (name == e->OutputPath().Title()) return true;
  const std::string ext =
      e->OutputPath().Extension().empty() ? res::Text(res::IDS_OUTPUT_EXT) : e->OutputPath().Extension();
  const std::string problem = OutputNameProblem(name, ext);
  if (problem.empty()) return true;
  checkingOutput_ = true;
  dialogs_->ShowError(this, problem);
  loading_ = true;
  ui_->outputNameEdit->setText(Q(e->OutputPath().Title()));
  loading_ = false;
  checkingOutput_ = false;
  return false;
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
  // The row says the movie waits, not that it converts.
  if (CConvertOrder* current = run_->GetCurrent()) {
    current->SetPlayState(false);
    list_->Refresh(current);
  }
}

void CTavrionConverterView::OnResumeRun() {
  if (!doc_.IsConverting() || !run_) return;
  player_->Run();
  run_->SetPaused(false);
  SetRunButton(IDC_PAUSE_RUN);
  if (CConvertOrder* current = run_->GetCurrent()) {
    current->ClearPlayState();
    list_->Refresh(current);
  }
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
