// CTavrionConverterView: the converter's main form. Its left half holds the batch list and
// the selected entries' subtitle and output settings, its right half the preview with its
// position slider and play buttons, the output settings and the status area of a run.
//
// The form edits the selected entries: the controls show their settings through an
// EntryEditor (a setting they do not share shows mixed) and every change the user makes
// goes into each of them at once. The subtitle file, its browse button and the output name
// belong to one entry and are only offered with exactly one selected. The form starts,
// pauses, resumes and breaks the document's conversion run and shows the figures the run
// computes; it computes none itself.
//
// Nothing polls: the controls follow the list's selection model, the document's hints and
// the player's state changes; a timer runs only while a conversion moves the status area.
//
// Form states (what updateActions() enables):
//   idle, nothing selected   Add, Convert (an entry checked), the list
//   idle, one selected       every entry setting, Modify, Properties, Remove, Move, Convert,
//                            preview playback
//   idle, several selected   the shared settings, Remove, Move up/down, Convert, Play
//   converting               Pause, Break (settings, list editing and slider disabled)
//   paused                   Resume, Break
#pragma once

#include <QList>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWidget>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "converter/engine/document.h"
#include "converter/engine/entryeditor.h"
#include "converter/engine/player.h"
#include "converter/engine/previewgraph.h"
#include "converter/ui/batchlist/convertorderlistctrl.h"
#include "converter/ui/form/backgroundprober.h"
#include "converter/ui/form/formdialogs.h"
#include "media/contract/comptr.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QShortcut;
class QTimer;

namespace Ui {
class TavrionConverterView;
}

struct ISubtitleManager;

namespace tav {

class ConversionRun;
class CRunWatcher;

// Command ids of the form: the string table holds each command's status-bar text and
// tooltip under its id, and the run button's states are named by them.
enum FormCommand : int {
  ID_ADD_FILES = 32771,
  ID_ADD_FOLDER = 32772,
  ID_MOVE_UP = 32774,
  ID_MOVE_DOWN = 32775,
  ID_PLAY = 32776,
  ID_PAUSE_PREVIEW = 32777,
  ID_STOP = 32778,
  ID_REMOVE = 32798,
  ID_MODIFY_SOURCE = 32799,
  ID_PROPERTIES = 32801,
  IDC_CONVERT = 1030,
  IDC_PAUSE_RUN = 1040,
  IDC_RESUME_RUN = 1051,
  IDC_BREAK_RUN = 1029,
};

// The form's commands, one action each, made once: the File menu, the list's context menu
// and keys, the buttons and the keyboard all use these. updateActions() enables them.
struct FormActions {
  QAction* addFiles = nullptr;  // Insert in the list
  QAction* addFolder = nullptr;
  QAction* remove = nullptr;  // Delete in the list
  QAction* moveUp = nullptr;
  QAction* moveDown = nullptr;
  QAction* modifySource = nullptr;
  QAction* properties = nullptr;
  QAction* play = nullptr;
  QAction* pausePreview = nullptr;
  QAction* stop = nullptr;
  QAction* convert = nullptr;  // Ctrl+Return
  QAction* pauseRun = nullptr;
  QAction* resumeRun = nullptr;
  QAction* breakRun = nullptr;  // Escape asks first
};

class CTavrionConverterView : public QWidget, public DocumentObserver, public PlayerEventSink {
  Q_OBJECT

 public:
  explicit CTavrionConverterView(CTavrionConverterDoc& doc, QWidget* parent = nullptr);
  ~CTavrionConverterView() override;

  // Every initial update (start, new or opened batch): the list is filled again from the
  // document and the preview follows its single selected entry. The first one also sets
  // up the controls.
  void OnInitialUpdate();

  // The least size of the form's layout, at least as high as the layout needs at its least
  // width: the wrapped notes take more lines the narrower the form is, and a small window
  // never squeezes controls together. Follows every text that changes after set-up.
  QSize minimumSizeHint() const override;

  // The dialogs the commands open (the desktop's by default).
  void SetDialogs(std::unique_ptr<FormDialogs> dialogs) { dialogs_ = std::move(dialogs); }

  // ---- commands ----
  const FormActions& Actions() const { return actions_; }
  // Enables every command and control for the state: the selection, the run, the player.
  void updateActions();
  // Adds one movie, selected and previewed (the drop and kMovieOpened path); with show false it is
  // only listed, and probed in the background. False when it is no movie or its entry could
  // not be made (the reason is told to the user).
  bool AddMovie(const std::string& path, bool show = true);
  // Adds the movies in order; the last is selected and previewed, the others are probed in
  // the background, so that many movies never hold up the window (more than a few are
  // listed in slices, after this returns).
  void AddMovies(const std::vector<std::string>& files);
  // Files and folders dropped on the form (a folder adds the movies inside it), each
  // through kMovieOpened.
  void AddDroppedFiles(const QList<QUrl>& urls);

  // ---- DocumentObserver ----
  void OnDocumentUpdate(DocumentHint hint, CConvertOrder* entry, const std::string* path) override;
  // ---- PlayerEventSink (the preview) ----
  void OnPlayerEvent(PlayerCore* player, LONG eventCode) override;
  bool OnMouse(PlayerCore*, MousePhase, int, int, int, int) override { return false; }
  void OnStateChanged(PlayerCore* player, int state) override;

  // ---- what the frame and tests look at ----
  Ui::TavrionConverterView* Form() const { return ui_.get(); }
  ui::CConvertOrderListCtrl* List() const { return list_; }
  PlayerCore& Player() { return *player_; }
  CConvertOrder* Previewed() const { return previewed_; }
  ConversionRun* Run() const { return run_.get(); }
  // Follows the run for the window: its workers' reports and each row's progress.
  CRunWatcher* RunWatcher() const { return runWatcher_.get(); }
  // The run command the run button shows (IDC_CONVERT, IDC_PAUSE_RUN, IDC_RESUME_RUN).
  int RunButtonCommand() const { return runButtonCommand_; }
  // Whether the status area's timer runs (only while a conversion goes on).
  bool IsStatusTimerRunning() const;
  // Preview: open the entry's preview, paused or playing (false when it failed).
  bool OpenPreview(CConvertOrder* entry, bool play);
  void ClosePreview();
  // The play list's entries still to play after the current one.
  size_t PlayListRemaining() const;
  // Movies waiting to be listed or for their background probe.
  size_t ProbesPending() const;

 signals:
  // The run's total progress, or -1 when no run is going on (for the window title).
  void totalProgressChanged(int percent);

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void SetUpControls();
  void MakeActions();
  void ConnectControls();
  void FillList();
  // The list selects what the document has selected (no change of the user's).
  void ShowSelectionInList();
  void SetRunButton(int command);

  // Command handlers (the actions' triggers).
  void OnAddFiles();
  // Asks for a folder and adds every movie inside it and its subfolders, in name order.
  void OnAddFolder();
  void OnRemove();
  void OnMoveUp();
  void OnMoveDown();
  // Swaps each selected row with the one above it (up) or below it, and shows the first moved.
  void MoveSelectedRows(bool up);
  void OnModifySource();
  void OnProperties();
  void OnPlay();
  void OnPausePreview();
  void OnStop();
  void OnConvert();
  void OnPauseRun();
  void OnResumeRun();
  // Pauses or resumes the run: its graph, the run button and the current row.
  void SetRunPaused(bool paused);
  void OnBreak();
  // Escape: breaks a running conversion once the user agrees.
  void OnEscape();
  void OnBrowseSubtitles();
  void OnBrowseFolder();
  void OnUseSubtitles();
  void OnRemoveAfterConversion();

  // The entries the controls edit: the selection in list order; during a run the entry
  // being converted (shown, not edited).
  EntryEditor Editor() const;
  // The controls show the edited entries (and, with lists true, their subtitle lists).
  void ShowEntries(bool lists = true);
  // The controls empty (the entries they showed are going).
  void ClearShownEntries();
  // What the edits hold that the user typed and has not finished yet goes into the entries
  // (before the selection moves, a command or a save), and the preview's trim points.
  void CommitEdits();
  void SaveTrimPoints();
  // A change went into entries: their rows and the estimate show it.
  void AfterEdit(const EntryEditor& editor);
  bool EditsPreviewed(const EntryEditor& editor) const;
  // A list shows an editor's position: a choice, nothing (a value no item offers), or the
  // placeholder that says the entries differ.
  static void ShowItem(QComboBox* combo, int item);
  // The position of the item whose data is text (kMixed for none, kNoItem when no item has it).
  static int ItemOfData(QComboBox* combo, const std::optional<std::string>& data);

  // The output folder and name as typed or chosen: a missing folder may be made, a
  // read-only one or a name that is no file name is refused with the reason, the edit then
  // showing the entries' value again. True when the change went in (or there was none).
  bool ApplyOutputFolder();
  bool ApplyOutputName();
  // Movies refused while adding, with the reason, told in one message at the end.
  void ReportRefused();

  // Subtitle file steps. The single entry's file as the edit names it: its sizes and
  // languages listed, the entry's own chosen; typed says the user named it (a file that
  // is not there then closes the preview).
  void LoadSubtitleFile(bool typed);
  // The file typed into the subtitle edit goes into the single entry, once it names
  // another file than the entry's.
  void ApplySubtitleFile();
  // Several entries: the sizes and languages their files offer.
  void LoadSubtitleLists(const EntryEditor& editor);
  void ClearSubtitleLists();
  ISubtitleManager* SubtitleManager();
  // Reads a subtitle file's header into the manager; false when it is no subtitle file.
  bool LoadSubtitleHeader(const std::string& path);

  // Notifications.
  void OnSelectionChanged();
  void OnRowStateChanged(CConvertOrder* entry, unsigned oldState, unsigned newState);
  void OnRowActivated(CConvertOrder* entry);
  void OnContextMenu(const QPoint& globalPos, bool onRow);
  std::vector<CConvertOrder*> SelectedRows() const;
  CConvertOrder* FocusedRow() const;
  void OnFrameSizeChosen(int item);
  void OnScreenFitChosen(int item);
  void OnSubtitleSizeChosen();
  void OnSubtitleLanguageChosen();

  // Preview (see OpenPreview).
  void ReopenPreview();
  void PlayNextInList();

  // Status area.
  void UpdateEstimatedSize();
  void UpdateStatusArea();
  // A row of the run page: what the run is at, and the elapsed and remaining times beside it.
  struct StatusRow {
    QLabel* text = nullptr;
    QLabel* elapsed = nullptr;
    QLabel* remaining = nullptr;
    bool shown = false;
    int refresh = 0;  // updates since the run began
  };
  // While converting, enables the row and, every kTextRefreshEvery updates that are not
  // paused, shows figures(&elapsed, &remaining)'s text and the times; clears it once after.
  void UpdateStatusRow(StatusRow& row, bool converting, bool paused,
                       const std::function<std::string(LONGLONG* elapsed, LONGLONG* remaining)>& figures);
  // The idle page's sentence of what Convert would do, once after any change of the rows.
  void ScheduleReadySummary();
  // The idle status line: what Convert would do with the batch as it stands.
  void UpdateReadySummary();

  // A background probe's result into its entry, if the entry is still there.
  void OnProbed(const ProbeResult& result);
  void ApplyProbe(CConvertOrder* e, const ProbeResult& result);

  // Ensures the run object over the document's conversion builder.
  ConversionRun* EnsureRun();
  // The output folder of new entries (Preferences; empty: beside each movie).
  std::string NewEntryOutputFolder();

  CTavrionConverterDoc& doc_;
  std::unique_ptr<Ui::TavrionConverterView> ui_;
  ui::CConvertOrderListCtrl* list_ = nullptr;  // owned by its host widget
  std::unique_ptr<FormDialogs> dialogs_;
  FormActions actions_;                  // owned by the form
  QShortcut* escapeShortcut_ = nullptr;  // Escape: Break, asked first
  std::string lastAddedFolder_;  // where "Add folder..." starts the next time

  // The languages each subtitle file offers (by path), read with the lists, so that a
  // language chosen for several entries goes only where their files have it.
  std::map<std::string, std::set<std::string>> fileLanguages_;

  // Preview: the builder and player the form owns, the entry they show and the play list.
  PreviewGraph preview_;
  PlayerCore* player_ = nullptr;  // the video window's
  CConvertOrder* previewed_ = nullptr;
  std::vector<CConvertOrder*> playList_;
  size_t playCursor_ = 0;
  ComPtr<ISubtitleManager> subtitleManager_;

  // The document's run over its conversion builder, made at the first Convert.
  std::unique_ptr<ConversionRun> run_;
  std::unique_ptr<CRunWatcher> runWatcher_;
  std::string declinedFolder_;  // a missing output folder not made, not asked again in one add
  int runButtonCommand_ = IDC_CONVERT;
  UINT playButtonTexts_ = ID_PLAY;  // the command whose texts the play button shows

  // Status area: runs only while a conversion goes on; which parts are shown and the text
  // refresh counters.
  QTimer* statusTimer_ = nullptr;
  bool readySummaryPending_ = false;  // changes of many rows in one go make one update
  StatusRow fileRow_, totalRow_;
  bool fileProgressShown_ = false, totalProgressShown_ = false;

  // The last output size estimate and what it was made for.
  struct EstimateKey {
    const CConvertOrder* entry = nullptr;
    REFERENCE_TIME duration = 0;
    int frameWidth = 0;
    double frameRate = 0.0;
    bool operator==(const EstimateKey&) const = default;
  };
  EstimateKey estimateKey_;
  LONGLONG estimateSize_ = 0;

  // How each entry of the run ended (Converted, Error, Interrupted) and where its output
  // went, for the summary shown when the run ends.
  struct RunOutcome {
    int state = 0;
    std::string folder;
  };
  std::map<const CConvertOrder*, RunOutcome> runOutcomes_;
  void ShowRunSummary();

  // Movies of an Add still to be listed (many are added in slices, see AddMovies).
  static constexpr size_t kFewMovies = 8;
  std::deque<std::string> pendingAdds_;
  void AddPendingMovies(bool sliced);

  std::unique_ptr<CBackgroundProber> prober_;
  bool quietAdd_ = false;             // a drop's movie before its last: listed, not shown
  std::vector<std::string> refused_;  // "file: reason" of movies not added yet to be told
  int addingDepth_ = 0;               // inside AddMovies / a drop: told once at the end
  bool checkingOutput_ = false;       // a check's message box is up
  bool initialised_ = false;          // the first initial update is done
};

}  // namespace tav
