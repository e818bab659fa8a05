// CTavrionConverterView: the converter's main form. Its left half holds the batch list and
// the selected entry's subtitle and output settings, its right half the preview with its
// position slider and play buttons, the output settings and the status area of a run.
//
// The form edits one entry at a time: whenever exactly one entry is selected and no run is
// going on, the controls show that entry's settings (through mirrors, see UpdateData) and
// every change goes back into it. It starts, pauses, resumes and breaks the document's
// conversion run and shows the figures the run computes; it computes none itself.
//
// Form states (what the idle update enables):
//   idle, nothing selected   Add, Convert (an entry checked), the list
//   idle, one selected       every entry setting, Modify, Properties, Remove, Move, Convert,
//                            preview playback
//   idle, several selected   Remove, Move up/down, Convert
//   converting               Pause, Break (settings, list editing and slider disabled)
//   paused                   Resume, Break
#pragma once

#include <QList>
#include <QPointer>
#include <QUrl>
#include <QString>
#include <QWidget>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "converter/engine/document.h"
#include "converter/engine/filtergraphbuilder.h"
#include "converter/engine/player.h"
#include "converter/ui/form/backgroundprober.h"
#include "converter/ui/form/formdialogs.h"
#include "converter/ui/batchlist/convertorderlistctrl.h"
#include "media/contract/comptr.h"

class QComboBox;
class QTimer;

namespace Ui {
class TavrionConverterView;
}

struct ISubtitleManager;

namespace tav {

class ConversionRun;

// One row's change as the form handles it (from the list's item state bits).
struct RowStateChange {
  CConvertOrder* entry = nullptr;
  bool selectedChanged = false;
  bool selected = false;
  bool focusChanged = false;
  bool focused = false;
  bool checkChanged = false;
  bool checked = false;
};

// Command ids of the form (menus, accelerators and buttons).
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

// Why name cannot be the output file's name (the title, without the extension ext), or
// empty when it can: empty, "." or "..", a folder separator, or longer than a file name may
// be once the extension and a part number are added.
std::string OutputNameProblem(const std::string& name, const std::string& ext);

class CTavrionConverterView : public QWidget, public DocumentObserver, public PlayerEventSink {
  Q_OBJECT

 public:
  explicit CTavrionConverterView(CTavrionConverterDoc& doc, QWidget* parent = nullptr);
  ~CTavrionConverterView() override;

  // Every initial update (start, new or opened batch): the list is filled again from the
  // document and the preview follows its single selected entry. The first one also sets
  // up the controls.
  void OnInitialUpdate();

  // The dialogs the commands open (the desktop's by default).
  void SetDialogs(std::unique_ptr<FormDialogs> dialogs) { dialogs_ = std::move(dialogs); }

  // ---- data exchange ----
  // toEntry false: the selected entry's settings into the controls; true: the controls
  // into the entry. With the list-selection sync flag set the list's selection travels too.
  void UpdateData(bool toEntry);

  // ---- commands ----
  bool IsCommandEnabled(int id) const;
  void RunCommand(int id);
  void OnAddFiles();
  // Asks for a folder and adds every movie inside it and its subfolders, in name order.
  void OnAddFolder();
  void OnRemove();
  void OnMoveUp();
  void OnMoveDown();
  void OnModifySource();
  void OnProperties();
  void OnPlay();
  void OnPausePreview();
  void OnStop();
  void OnConvert();
  void OnPauseRun();
  void OnResumeRun();
  void OnBreak();
  void OnBrowseSubtitles();
  void OnBrowseFolder();
  void OnUseSubtitles();
  void OnRemoveAfterConversion();
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

  // ---- the idle update ----
  // Enables the controls for the state and refreshes the estimated size and status area.
  void UpdateDialogControls();

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
  // The run command the run button shows (IDC_CONVERT, IDC_PAUSE_RUN, IDC_RESUME_RUN).
  int RunButtonCommand() const { return runButtonCommand_; }
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
  void ScaleToFont();
  void ConnectControls();
  void FillList();
  void SetRunButton(int command);

  // Exchange helpers.
  void LoadMirrors(CConvertOrder* e);  // e's settings (none: empty) into the mirrors
  // During a run: the converting entry's settings in the (disabled) controls.
  void ShowConvertingEntry(CConvertOrder* e);
  void ExchangeToControls();
  void ExchangeFromControls();
  std::string SubtitleAbsolute(const std::string& text) const;
  std::string SubtitleRelative(const std::string& path) const;

  // The output folder and name as typed or chosen: a missing folder may be made, a
  // read-only one or a name that is no file name is refused with the reason, the edit then
  // showing the entry's value again. True when what the edit holds may go into the entry.
  bool CheckOutputFolder();
  bool CheckOutputName();
  // Movies refused while adding, with the reason, told in one message at the end.
  void ReportRefused();

  // Subtitle file steps.
  void LoadSubtitleFile();
  void ClearSubtitleLists();
  void ApplySubtitlesToPreview();
  ISubtitleManager* SubtitleManager();

  // Notifications.
  void OnRowStateChanged(const RowStateChange& change);
  void OnRowActivated(CConvertOrder* entry);
  void OnContextMenu(const QPoint& globalPos, bool onRow);
  std::vector<CConvertOrder*> SelectedRows() const;
  CConvertOrder* FocusedRow() const;
  bool IsRowSelected(const CConvertOrder* entry) const;
  void OnFrameSizeChosen();
  void OnFrameRateChosen();
  void OnScreenFitChosen();
  void OnSubtitleSizeChosen();
  void OnSubtitleLanguageChosen();

  // Preview (see OpenPreview).
  void ConfigurePreviewBuilder(CConvertOrder* entry);
  // Throws HRChecker.
  void BuildPreviewGraph(const std::string& source);
  void ReopenPreview();
  void PlayNextInList();

  // Status area.
  void UpdateEstimatedSize();
  void UpdateStatusArea();
  void EnableRunControls();

  // A background probe's result into its entry, if the entry is still there.
  void OnProbed(const ProbeResult& result);
  void ApplyProbe(CConvertOrder* e, const ProbeResult& result);

  // Ensures the run object over the document's conversion builder.
  ConversionRun* EnsureRun();

  CTavrionConverterDoc& doc_;
  std::unique_ptr<Ui::TavrionConverterView> ui_;
  ui::CConvertOrderListCtrl* list_ = nullptr;  // owned by its host widget
  std::unique_ptr<FormDialogs> dialogs_;

  // Mirrors of the selected entry's settings.
  std::string subtitleFile_, subtitleSize_, subtitleLanguage_;
  std::string outputFolder_, outputTitle_;
  std::string lastAddedFolder_;  // where "Add folder..." starts the next time
  int formatIndex_ = -1;
  int frameWidth_ = 0, frameHeight_ = 0;
  double frameRate_ = 0.0;
  ULONGLONG splitSize_ = 0;
  int fitIndex_ = -1;
  bool useSubtitles_ = false;

  // Preview: the builder and player the form owns, the entry they show and the play list.
  FilterGraphBuilder previewBuilder_;
  PlayerCore* player_ = nullptr;  // the video window's
  CConvertOrder* previewed_ = nullptr;
  std::vector<CConvertOrder*> playList_;
  size_t playCursor_ = 0;
  ComPtr<ISubtitleManager> subtitleManager_;

  // The document's run over its conversion builder, made at the first Convert.
  std::unique_ptr<ConversionRun> run_;
  int runButtonCommand_ = IDC_CONVERT;
  UINT playButtonTexts_ = ID_PLAY;  // the command whose texts the play button shows

  // Status area: which parts are shown and the text refresh counters.
  bool fileStatusShown_ = false, fileProgressShown_ = false;
  bool totalProgressShown_ = false, totalStatusShown_ = false;
  int fileRefresh_ = 0, totalRefresh_ = 0;

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

  bool syncListSelection_ = true;  // an exchange also carries the list selection
  bool initialised_ = false;       // the first initial update is done
  bool loading_ = false;           // the controls are being filled, not edited
  QTimer* idleTimer_ = nullptr;
};

}  // namespace tav
