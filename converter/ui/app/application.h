// ConverterApplication: the desktop program's application object - start-up (on top of the
// engine's CTavrionConverterApp), the single document and its commands (New, Open..., Save,
// Save As..., the recent files, Exit), files from the command line or dropped on the
// window, About, the home page and the notice box.
//
// Seam for the main form (converter/ui/form): before InitInstance, main.cpp hands the
// application a ViewFactory (SetViewFactory). InitInstance calls it once to make the form
// over the document and installs the form in the main frame (CMainFrame::SetView). The form
// then handles kMovieOpened (a movie opened through the document) itself; without a factory the
// application adds such movies to the batch and the frame shows an empty form area.
// In main.cpp, before InitInstance:
//
//   app.SetViewFactory([&app](CTavrionConverterDoc& doc, QWidget* frame) {
//     auto* view = new CTavrionConverterView(doc, frame);   // reads app.ProfilePath()
//     return FormView{view, [view] { view->OnInitialUpdate(); }};
//   });
//
// Unsaved work: before Exit (or the window's close), New and Open drop a batch that changed
// since it was opened or saved, the user is asked "Save changes to NAME?" (Save, Discard,
// Cancel). While the batch differs from its file, a recovery copy of it is kept (and
// removed on a clean exit); a termination signal keeps it, with a running movie broken off
// as Interrupted, and at start-up a batch that a program left that way is offered back.
//
// Seam for dialogs: every message box, modal dialog, file dialog and web address goes
// through FrameDialogs (SetDialogs), so tests answer them.
#pragma once

#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>

#include "converter/engine/document.h"
#include "converter/engine/startup.h"
#include "converter/ui/app/framedialogs.h"
#include "converter/ui/app/profilesettings.h"

class QTimer;
class QWidget;

namespace tav {
class RecoveryKeeper;
}

namespace tav::ui {

class CMainFrame;
class MessagePump;

// What the application needs of the main form.
struct FormView {
  QWidget* widget = nullptr;               // the form; the frame takes ownership
  std::function<void()> initialUpdate;     // after start-up, New and Open
};
// parent is the CMainFrame; a factory may connect the form's run progress to
// CMainFrame::SetTitleProgress there.
using ViewFactory = std::function<FormView(CTavrionConverterDoc& doc, QWidget* parent)>;

class ConverterApplication : public QObject, public DocumentObserver {
  Q_OBJECT

 public:
  // programPath: the program file (its folder is the program folder); profileName: the
  // profile's file name inside the data folder.
  explicit ConverterApplication(std::string programPath, std::string profileName = "tavrion-converter.ini");
  ~ConverterApplication() override;

  void SetDialogs(std::unique_ptr<FrameDialogs> dialogs) { dialogs_ = std::move(dialogs); }
  void SetViewFactory(ViewFactory factory) { viewFactory_ = std::move(factory); }

  // Start-up; files are the command line's file arguments. False when the program cannot
  // run (the media platform did not start); a file that fails to open is reported and
  // leaves an empty batch.
  bool InitInstance(const QStringList& files);
  // Exit: the document closes (stopping a run), the recent files are kept, the engine's
  // start-up objects released. Answers the exit code.
  int ExitInstance(int exitCode = 0);
  // Offers the newest batch a program that did not end cleanly left behind ("The last batch
  // was not saved. Restore it?"). Yes brings it back as the document; No discards it; no
  // answer leaves it for the next start. A damaged copy is reported and kept aside. True
  // when a batch was restored.
  bool OfferRecoveredBatch();

  // ---- commands ----
  void OnFileNew();
  void OnFileOpen();
  bool OnFileSave();
  bool OnFileSaveAs();
  void OnOpenRecentFile(int index);
  void OnAppExit();
  // SIGTERM, SIGHUP, SIGINT: the run breaks off as on Break, the batch is kept as a
  // recovery copy when it has unsaved changes or an interrupted movie, and the window closes
  // without asking.
  void OnTerminationSignal();
  // Asks whether to save a changed batch; true when the program may go on (saved,
  // discarded, or nothing to ask), false when the user cancelled or the save failed.
  bool SaveModified();
  void OnAppAbout();
  // Settings > Preferences...: simultaneous conversions and the output folder of new entries.
  void OnPreferences();
  void OnHomePage();
  // Help > Contents (F1): the manual in a help window.
  void OnHelpContents();
  // Opens a path as the document template does: a ".tvc" opens as the batch; a movie
  // reaches the batch through kMovieOpened. Failures are told to the user; false then.
  bool OpenDocumentFile(const QString& path);

  // ---- what the form, tests and main look at ----
  CTavrionConverterDoc& Document() { return doc_; }
  CMainFrame* MainFrame() const { return frame_.get(); }
  CTavrionConverterApp& Engine() { return engine_; }
  const std::string& ProfilePath() const { return engine_.Folders().profilePath; }
  const RecentFileList& RecentFiles() const { return recent_; }
  FrameDialogs& Dialogs() { return *dialogs_; }

  // DocumentObserver.
  void OnDocumentUpdate(DocumentHint hint, CConvertOrder* entry, const std::string* path) override;

 private:
  void ConnectFrameCommands();
  void CheckRecoverySoon();
  bool eventFilter(QObject* watched, QEvent* event) override;
  void InitialUpdate();
  void UpdateTitle();
  bool CanClose();
  void Error(const QString& text);

  std::string programPath_;
  std::string profileName_;
  CTavrionConverterApp engine_;
  bool environmentReady_ = false;
  CTavrionConverterDoc doc_;
  std::unique_ptr<FrameDialogs> dialogs_;
  ViewFactory viewFactory_;
  FormView view_;
  std::unique_ptr<CMainFrame> frame_;
  std::unique_ptr<MessagePump> pump_;
  RecentFileList recent_;
  bool terminating_ = false;  // closing for a signal: nothing is asked
  // The recovery copy of the document, brought up to date by the single-shot recoveryTimer_
  // after a change.
  std::unique_ptr<RecoveryKeeper> recovery_;
  QTimer* recoveryTimer_ = nullptr;
};

}  // namespace tav::ui
