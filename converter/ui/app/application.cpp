#include "converter/ui/app/application.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTimer>
#include <QUrl>

#include "converter/engine/filtergraphbuilder.h"
#include "converter/engine/recovery.h"
#include "converter/engine/moviefolder.h"
#include "converter/engine/strings.h"
#include "converter/ui/app/aboutdlg.h"
#include "converter/ui/app/greatingboxdlg.h"
#include "converter/ui/app/helpwindow.h"
#include "converter/ui/app/mainframe.h"
#include "converter/ui/app/preferencesdlg.h"
#include "converter/ui/controls/uitext.h"
#include "converter/ui/bridge/messagepump.h"
#include "converter/ui/controls/profile.h"
#include "media/contract/com.h"

Q_LOGGING_CATEGORY(lcApp, "tavrion.ui.app", QtWarningMsg)

namespace tav::ui {
namespace {

// How long after a change the recovery copy is brought up to date: a burst of changes (a
// word typed, several movies added) writes it once.
constexpr int kRecoveryDelayMs = 300;

// The user's input that can change the batch: a key, a click, a turn of the wheel (over a
// list box), a drop. Moves and hovers change nothing.
bool MayChangeTheBatch(QEvent::Type type) {
  switch (type) {
    case QEvent::KeyRelease:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::Drop:
    case QEvent::TouchEnd:
    case QEvent::Shortcut:
      return true;
    default:
      return false;
  }
}

QString BatchFilter() {
  // The document string's filter name ("TavrionConverter Files (*.tvc)"), then all files.
  const QStringList fields = ui::Text(res::IDR_MAINFRAME).split(QLatin1Char('\n'));
  const QString batches = fields.size() > 3 ? fields[3] : QStringLiteral("*.tvc");
  return batches + QStringLiteral(";;") + ui::Text(res::IDS_ALL_FILES_FILTER);
}

QString BatchExtension() {
  const QStringList fields = ui::Text(res::IDR_MAINFRAME).split(QLatin1Char('\n'));
  return fields.size() > 4 ? fields[4] : QStringLiteral(".tvc");
}

}  // namespace

ConverterApplication::ConverterApplication(std::string programPath, std::string profileName)
    : programPath_(std::move(programPath)), profileName_(std::move(profileName)),
      dialogs_(MakeDesktopFrameDialogs()) {
  const QString folder = QFileInfo(QString::fromStdString(programPath_)).absolutePath();
  if (!programPath_.empty()) engine_.SetProgramFolder(folder.toStdString());
}

ConverterApplication::~ConverterApplication() {
  if (frame_ || environmentReady_) ExitInstance();
}

bool ConverterApplication::InitInstance(const QStringList& files) {
  // The component model; Qt is already up. The platform's messages of this thread are
  // pumped from Qt's loop from now on.
  CoInitialize(nullptr);
  pump_ = std::make_unique<MessagePump>();

  // The codec environment is repaired before any graph is built. The graph library is
  // registered again first, since the other libraries register their filters through its
  // mapper. InitEnvironment then loads the translated texts, takes the file type of RIFF
  // files back for the platform's file source, registers the component libraries again
  // where their registration was lost, and finds the program, data and profile folders.
  ReregisterCodecs(std::string(), {"tavrionstreaming"});
  engine_.InitEnvironment(profileName_);
  environmentReady_ = true;
  const std::string& profile = ProfilePath();
  // The widgets that keep settings of their own (the batch list's columns) read and write
  // the same profile.
  tav::ui::SetProfilePath(profile);

  // The standard settings with a recent-file list of 9 entries.
  recent_.Load(profile);

  // The document with its conversion graph builder, the frame and the form.
  if (FAILED(doc_.AttachConversionGraph(std::make_unique<FilterGraphBuilder>(), &engine_))) {
    Error(ui::Text(res::IDS_PLATFORM_FAILED));
    return false;
  }
  doc_.AddObserver(this);
  frame_ = std::make_unique<CMainFrame>();
  frame_->SetProfile(profile);
  frame_->SetCloseHandler([this] { return CanClose(); });
  ConnectFrameCommands();
  connect(frame_.get(), &CMainFrame::filesDropped, this, [this](const QStringList& paths) {
    for (const QString& p : paths) OpenDocumentFile(p);
  });
  if (viewFactory_) {
    view_ = viewFactory_(doc_, frame_.get());
    if (view_.widget) frame_->SetView(view_.widget);
  }
  frame_->SetRecentFiles(recent_.Files());
  doc_.OnNewDocument();
  InitialUpdate();

  // What a crash left, before anything else changes the batch; then a copy is kept of
  // what this program does to it.
  recovery_ = std::make_unique<RecoveryKeeper>(doc_);
  OfferRecoveredBatch();
  // The copy follows the batch: the document's notifications and the user's input (the
  // form changes entries' settings in place, with no notification) start a short check;
  // nothing runs while nothing happens.
  recoveryTimer_ = new QTimer(this);
  recoveryTimer_->setSingleShot(true);
  recoveryTimer_->setInterval(kRecoveryDelayMs);
  connect(recoveryTimer_, &QTimer::timeout, this, [this] {
    if (recovery_) recovery_->Tick();
  });
  recovery_->SetChangeListener([this] { CheckRecoverySoon(); });
  qApp->installEventFilter(this);

  // Files of the command line.
  for (const QString& file : files) OpenDocumentFile(file);

  // Placement, then the window.
  frame_->RestorePlacement();
  frame_->show();

  // The notice box, once the window is up (unless the user asked not to see it again).
  CGreatingBoxDlg notice(profile, frame_.get());
  notice.ShowIfWanted(*dialogs_);
  return true;
}

int ConverterApplication::ExitInstance(int exitCode) {
  doc_.OnCloseDocument();
  // A clean exit: the recovery copy goes.
  if (qApp) qApp->removeEventFilter(this);
  if (recoveryTimer_) recoveryTimer_->stop();
  recovery_.reset();
  doc_.RemoveObserver(this);
  if (environmentReady_) recent_.Save(ProfilePath());
  // The form goes before the document it shows.
  frame_.reset();
  view_ = FormView();
  pump_.reset();
  if (environmentReady_) engine_.ExitEnvironment();
  environmentReady_ = false;
  return exitCode;
}

bool ConverterApplication::OfferRecoveredBatch() {
  const std::vector<std::string> copies = FindOrphanedCopies();
  if (copies.empty()) return false;
  QWidget* parent = frame_ && frame_->isVisible() ? frame_.get() : nullptr;
  // Read first: the question names the batch file the copy belongs to, if it has one.
  std::string error;
  const std::optional<RecoveredBatch> batch = ReadOrphanedCopy(copies.front(), &error);
  if (!batch) {
    Error(QString::fromStdString(error));
    return false;
  }
  const QString question =
      batch->pathName.empty()
          ? ui::Text(res::IDS_RECOVERY_RESTORE)
          : FormatText(res::IDS_RECOVERY_RESTORE_SAVED, {QDir::toNativeSeparators(QString::fromStdString(batch->pathName))});
  const FrameDialogs::Answer answer = dialogs_->Ask(parent, question);
  if (answer == FrameDialogs::Answer::No) DiscardOrphanedCopy(copies.front());
  // Not answered (the box closed, the session ending): asked again at the next start.
  if (answer != FrameDialogs::Answer::Yes) return false;
  try {
    LoadRecoveredBatch(doc_, *batch);
  } catch (const std::exception& e) {
    Error(QString::fromStdString(e.what()));
    return false;
  }
  InitialUpdate();
  // Opening the entries for the list and the preview resets their states: those of the copy
  // go back on, so that an interrupted movie keeps its finished parts and can go on.
  ApplyRecoveredStates(doc_, *batch);
  for (size_t i = 0; i < doc_.GetCount(); ++i) doc_.UpdateAllViews(DocumentHint::kEntryStateChanged, doc_.GetAt(i));
  // This program keeps the batch from here on; the copy it came from goes once the new
  // one is written.
  if (recovery_) recovery_->SaveNow();
  if (!recovery_ || recovery_->LastError().empty()) DiscardOrphanedCopy(copies.front());
  return true;
}

void ConverterApplication::ConnectFrameCommands() {
  const FrameActions& a = frame_->Actions();
  connect(a.fileNew, &QAction::triggered, this, &ConverterApplication::OnFileNew);
  connect(a.fileOpen, &QAction::triggered, this, &ConverterApplication::OnFileOpen);
  connect(a.fileSave, &QAction::triggered, this, [this] { OnFileSave(); });
  connect(a.fileSaveAs, &QAction::triggered, this, [this] { OnFileSaveAs(); });
  for (size_t i = 0; i < a.recentFiles.size(); ++i)
    connect(a.recentFiles[i], &QAction::triggered, this, [this, i] { OnOpenRecentFile(int(i)); });
  connect(a.exit, &QAction::triggered, this, &ConverterApplication::OnAppExit);
  connect(a.preferences, &QAction::triggered, this, &ConverterApplication::OnPreferences);
  connect(a.helpContents, &QAction::triggered, this, &ConverterApplication::OnHelpContents);
  connect(a.homePage, &QAction::triggered, this, &ConverterApplication::OnHomePage);
  connect(a.about, &QAction::triggered, this, &ConverterApplication::OnAppAbout);
}

void ConverterApplication::OnHelpContents() {
  CHelpWindow help(frame_.get());
  dialogs_->Exec(help);
}

void ConverterApplication::OnPreferences() {
  CPreferencesDialog::Questions questions;
  questions.askYesNo = [this](QWidget* parent, const QString& text) {
    return dialogs_->Ask(parent, text) == FrameDialogs::Answer::Yes;
  };
  questions.showError = [this](QWidget* parent, const QString& text) {
    dialogs_->MessageBox(parent, text, FrameDialogs::Icon::Warning);
  };
  CPreferencesDialog dialog(frame_.get(), std::move(questions));
  dialogs_->Exec(dialog);
}

void ConverterApplication::OnFileNew() {
  if (!SaveModified()) return;
  doc_.OnNewDocument();
  InitialUpdate();
}

void ConverterApplication::OnFileOpen() {
  // Asked before the file is chosen: Cancel leaves everything as it was.
  if (!SaveModified()) return;
  const QString path = dialogs_->OpenFileName(frame_.get(), BatchFilter());
  if (!path.isEmpty()) OpenDocumentFile(path);
}

bool ConverterApplication::OnFileSave() {
  if (doc_.GetPathName().empty()) return OnFileSaveAs();
  std::string error;
  if (!doc_.OnSaveDocument(doc_.GetPathName(), &error)) {
    Error(QString::fromStdString(error));
    return false;
  }
  return true;
}

bool ConverterApplication::OnFileSaveAs() {
  QString suggested = QString::fromStdString(doc_.GetPathName());
  if (suggested.isEmpty()) {
    suggested = QDir(QString::fromStdString(engine_.Folders().documentsFolder))
                    .filePath(ui::Text(res::IDS_UNTITLED) + BatchExtension());
  }
  QString path = dialogs_->SaveFileName(frame_.get(), suggested, BatchFilter());
  if (path.isEmpty()) return false;
  if (QFileInfo(path).suffix().isEmpty()) path += BatchExtension();
  std::string error;
  if (!doc_.OnSaveDocument(path.toStdString(), &error)) {
    Error(QString::fromStdString(error));
    return false;
  }
  recent_.Add(path);
  frame_->SetRecentFiles(recent_.Files());
  UpdateTitle();
  return true;
}

void ConverterApplication::OnOpenRecentFile(int index) {
  if (index < 0 || index >= recent_.Files().size()) return;
  const QString path = recent_.Files()[index];
  if (!QFileInfo::exists(path)) {
    // A file that is gone leaves the list, as the user is told.
    recent_.Remove(index);
    frame_->SetRecentFiles(recent_.Files());
    Error(FormatText(res::IDS_RECENT_FILE_GONE, {QDir::toNativeSeparators(path)}));
    return;
  }
  OpenDocumentFile(path);
}

void ConverterApplication::OnAppExit() {
  if (frame_) frame_->close();
}

void ConverterApplication::OnTerminationSignal() {
  terminating_ = true;
  // As Break: the movie being written is closed playable and its entry Interrupted.
  if (doc_.IsConverting()) doc_.StopConversion();
  bool interrupted = false;
  for (size_t i = 0; i < doc_.GetCount(); ++i)
    interrupted = interrupted || doc_.GetAt(i)->GetState() == CConvertOrder::kInterrupted;
  if (recovery_ && (interrupted || doc_.IsModified())) {
    recovery_->SaveNow();
    recovery_->KeepOnExit(recovery_->LastError().empty());
  }
  if (frame_) frame_->close();
}

bool ConverterApplication::SaveModified() {
  if (terminating_ || !doc_.IsModified()) return true;
  const std::string& path = doc_.GetPathName();
  const QString name = path.empty() ? ui::Text(res::IDS_UNTITLED) : QFileInfo(QString::fromStdString(path)).fileName();
  QWidget* parent = frame_ && frame_->isVisible() ? frame_.get() : nullptr;
  switch (dialogs_->AskSave(parent, FormatText(res::IDS_SAVE_CHANGES, {name}))) {
    case FrameDialogs::SaveAnswer::Save: return OnFileSave();  // Save As when it has no name yet
    case FrameDialogs::SaveAnswer::Discard: return true;
    case FrameDialogs::SaveAnswer::Cancel: break;
  }
  return false;
}

void ConverterApplication::OnAppAbout() {
  CAboutDlg about(frame_.get());
  dialogs_->Exec(about);
}

void ConverterApplication::OnHomePage() {
  const QUrl url(ui::Text(res::IDS_HOME_PAGE_URL));
  if (!dialogs_->OpenUrl(url)) Error(FormatText(res::IDS_HOME_PAGE_FAILED, {url.toString()}));
}

bool ConverterApplication::OpenDocumentFile(const QString& path) {
  const QFileInfo info(path);
  const std::string file = info.absoluteFilePath().toStdString();
  if (!info.exists()) {
    Error(FormatText(res::IDS_FILE_NOT_FOUND, {QDir::toNativeSeparators(path)}));
    return false;
  }
  if (info.isDir()) {
    // A folder (dropped, or named on the command line) adds the movies inside it.
    for (const std::string& movie : MovieFilesInFolder(file)) tav::OpenDocumentFile(doc_, movie, nullptr);
    return true;
  }
  const bool batch = info.suffix().compare(QStringLiteral("tvc"), Qt::CaseInsensitive) == 0;
  if (!batch && !CTavrionConverterDoc::IsMovieFile(file)) {
    Error(FormatText(res::IDS_NOT_OPENABLE, {QDir::toNativeSeparators(path)}));
    return false;
  }
  // A batch replaces the one open, which may hold unsaved changes.
  if (batch && !SaveModified()) return false;
  std::string error;
  const bool opened = tav::OpenDocumentFile(doc_, file, &error);
  if (batch) InitialUpdate();
  if (!opened) {
    // The document stays empty; the user reads why.
    Error(QString::fromStdString(error));
    return false;
  }
  recent_.Add(info.absoluteFilePath());
  if (frame_) frame_->SetRecentFiles(recent_.Files());
  return true;
}

void ConverterApplication::OnDocumentUpdate(DocumentHint hint, CConvertOrder*, const std::string* path) {
  if (hint != DocumentHint::kMovieOpened || !path || view_.widget) return;
  // Without the form the movie becomes an entry here, next to its source.
  try {
    doc_.AddOrder(*path);
  } catch (const std::exception& e) {
    Error(QString::fromStdString(e.what()));
  }
}

void ConverterApplication::CheckRecoverySoon() {
  // Not restarted while it runs: a copy is at most this late however long the burst.
  if (recovery_ && recoveryTimer_ && !recoveryTimer_->isActive()) recoveryTimer_->start();
}

bool ConverterApplication::eventFilter(QObject* watched, QEvent* event) {
  if (MayChangeTheBatch(event->type())) CheckRecoverySoon();
  return QObject::eventFilter(watched, event);
}

void ConverterApplication::InitialUpdate() {
  if (view_.initialUpdate) view_.initialUpdate();
  UpdateTitle();
}

void ConverterApplication::UpdateTitle() {
  if (!frame_) return;
  const std::string& path = doc_.GetPathName();
  frame_->SetDocumentTitle(path.empty() ? ui::Text(res::IDS_UNTITLED)
                                        : QFileInfo(QString::fromStdString(path)).fileName());
}

bool ConverterApplication::CanClose() {
  if (!SaveModified()) return false;
  // A running conversion stops before the window goes; the partial movie stays playable.
  if (doc_.IsConverting()) doc_.StopConversion();
  return true;
}

void ConverterApplication::Error(const QString& text) {
  qCWarning(lcApp).noquote() << text;
  dialogs_->MessageBox(frame_ && frame_->isVisible() ? frame_.get() : nullptr, text, FrameDialogs::Icon::Error);
}

}  // namespace tav::ui
