// ConversionRun: a document's conversion run. It walks the checked entries one after the
// other, builds each entry's conversion graph (source, decoders, resizer, frame rate
// converter, burn-in, tee, camera-movie exporter), runs it through a player and reacts to
// the player's graph events: completion, error, and the exporter's size limit, on which the
// finished part is renamed and the same entry goes on from the current position into a new
// part. It keeps the counters behind the progress and time figures.
//
// States (event codes from strmif.h and vxcamwriter.h):
//   idle        StartConversion                 converting an entry (or idle: nothing could start)
//   converting  EC_SIZE_LIMIT_REACHED           converting the same entry, next part
//   converting  EC_COMPLETE, EC_USERABORT or    converting the next checked entry, or idle
//               EC_ERRORABORT
//   converting  StopConversion ("Break")        idle
// Pausing changes only the time accounting; the owner pauses the player itself.
//
// Simultaneous conversions (SetSimultaneous): a run of more than one checked entry then
// converts up to N of them at once, each by a worker process (SimultaneousRun), and the
// player lent to the run shows nothing. The run reads the workers' reports when the owner
// calls PollWorkers (whenever one of WorkerFds is readable); what they report goes into the
// entries as it comes, so the views, the recovery copy and the resume of an interrupted
// entry see every running entry as they see the one of a run one at a time. Pausing stops
// the workers where they are; Break interrupts each running entry where its movie ends.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "converter/engine/document.h"
#include "converter/engine/filtergraphbuilder.h"
#include "converter/engine/outputfiles.h"
#include "converter/engine/player.h"
#include "converter/engine/runprogress.h"
#include "converter/engine/simultaneousrun.h"

namespace tav {

class ConversionRun : public PlayerEventSink, public ConversionRunSeam {
 public:
  // builder: an initialised builder with the document's audio target and filter veto.
  ConversionRun(CTavrionConverterDoc& doc, FilterGraphBuilder& builder, RunCounters::Clock clock = nullptr);
  ~ConversionRun() override;

  // resumeInterrupted: entries that were interrupted and can go on (CConvertOrder::CanResume)
  // continue where their output ends, into the next numbered part; otherwise every entry
  // converts from its start and forgets where it was interrupted.
  void StartConversion(PlayerCore* player, bool resumeInterrupted = false);
  // Also the "Break" command, and what the document calls when it stops the run itself;
  // safe when no run is active.
  void StopConversion() override;
  bool IsConverting() const { return doc_.IsConverting() && player_ != nullptr; }
  // The entry being converted; of several at once, the first in batch order.
  CConvertOrder* GetCurrent() const;

  // ---- simultaneous conversions ----
  // lanes > 1: the next run of more than one checked entry converts up to lanes entries at
  // once, each in a worker started with workerCommand (SimultaneousRun); 1: one after the
  // other in this process.
  void SetSimultaneous(int lanes, std::vector<std::string> workerCommand);
  bool IsSimultaneous() const { return lanes_ != nullptr; }
  // While workers run: the descriptors the owner's event loop watches. When one is readable
  // the owner calls PollWorkers, which puts the reports into the entries and ends the run
  // after the last worker.
  std::vector<int> WorkerFds() const;
  void PollWorkers();
  // The entries being converted now, in batch order.
  std::vector<CConvertOrder*> ConvertingEntries() const;
  // How far an entry is in this run, 0..100; -1 when it is not being converted.
  LONG EntryProgress(const CConvertOrder* entry);

  // ---- PlayerEventSink ----
  void OnPlayerEvent(PlayerCore* player, LONG code) override;
  bool OnMouse(PlayerCore*, MousePhase, int, int, int, int) override { return false; }
  void OnStateChanged(PlayerCore*, int) override {}

  // ---- figures ----
  void SetPaused(bool paused);
  bool IsPaused() const { return counters_.IsPaused(); }
  LONG MapFileProgress(LONG low, LONG high);
  LONG MapTotalProgress(LONG low, LONG high);
  void SampleFileTime() { counters_.SampleFileTime(); }
  void SampleTotalTime() { counters_.SampleTotalTime(); }
  void GetFileTimes(LONGLONG* elapsed, LONGLONG* remaining);
  void GetTotalTimes(LONGLONG* elapsed, LONGLONG* remaining);

  // The expected size of the current entry's output: the nominal figure from the bit rate
  // at first, then, once the file has run a few seconds, the bytes written so far scaled to
  // the whole span.
  LONGLONG EstimateCurrentOutputSize();

  // Whether the tee's second output feeds a preview renderer (on by default). A front end
  // without a screen turns it off: every frame would be copied, converted and drawn for
  // nobody.
  void SetLivePreview(bool on) { livePreview_ = on; }

  // Output files written for an entry during this run (parts in order).
  std::vector<std::string> OutputsOf(const CConvertOrder* entry) const;

 private:
  // The first checked entry after entry in list order (null: the first checked entry).
  // Walking the batch this way is linear in its length.
  CConvertOrder* CheckedAfter(const CConvertOrder* entry) const;
  bool ConvertEntry(CConvertOrder* entry, REFERENCE_TIME resume);
  // For a new conversion of entry that resumes: the output sequence continues the entry's
  // numbering, the movie left under the output name becomes its numbered part, and the
  // answer is where to go on from (0: the entry converts from its start after all).
  REFERENCE_TIME PrepareResume(CConvertOrder* entry);
  void BuildConversionGraph(HRChecker& c, CConvertOrder* entry, const std::string& name);
  void AttachExporter(HRChecker& c, CConvertOrder* entry, const std::string& name);
  // discardCurrent: the file being written is removed instead of kept (it holds nothing,
  // or it cannot be made playable).
  // Answers the number the next part of the entry would get (0 without an output sequence).
  LONG Teardown(bool more, bool discardCurrent = false);
  // After the graph completed: false when the movie holds no picture (the entry then fails
  // and its empty movie goes).
  bool WroteVideo();
  void MoveOn(bool convertedNow);
  bool IsToleratedEnd() const;
  FilePosition Position();
  REFERENCE_TIME WrittenPosition();
  LONGLONG CurrentFileBytes();
  // What an entry weighs in the total progress: the bytes of the source it converts.
  LONGLONG EntryBytes(CConvertOrder* entry);
  // The screen saver stays off for the run; StopConversion restores it.
  void SuspendScreenSaver();
  void StartSimultaneous(PlayerCore* player, int lanes, int checked, bool resumeInterrupted);
  // After the workers reported: counters, the entry shown as current, and the end of the
  // run after the last worker.
  void FollowLanes();
  void StopSimultaneous();
  // A synthetic file position at percent, for the counters.
  static FilePosition PercentPosition(LONG percent);

  CTavrionConverterDoc& doc_;
  FilterGraphBuilder& builder_;

  // Run state.
  bool livePreview_ = true;       // configuration: render the tee's second output
  bool resumeInterrupted_ = false;  // this run continues interrupted entries
  PlayerCore* player_ = nullptr;  // lent by the owner for the run
  CConvertOrder* current_ = nullptr;
  std::unique_ptr<OutputFileSequence> outputSequence_;
  ComPtr<IBaseFilter> exporter_;
  ComPtr<IPin> videoPin_, audioPin_;
  RunCounters counters_;
  int currentIndex_ = 0;
  int checkedCount_ = 0;
  LONG savedScreenSaver_ = -1;  // the screen-saver-active setting before the run; -1 = nothing saved
  // Statistics: the files each entry produced, for the owner's report.
  std::map<const CConvertOrder*, std::vector<std::string>> outputs_;
  const CConvertOrder* sequenceEntry_ = nullptr;  // the entry outputSequence_ belongs to
  mutable size_t walkIndex_ = 0;                  // list position of the last entry CheckedAfter found
  REFERENCE_TIME partStart_ = 0;                  // where the part being written began

  // Simultaneous conversions: configuration, and the workers of a run.
  int laneCount_ = 1;
  std::vector<std::string> workerCommand_;
  std::unique_ptr<SimultaneousRun> lanes_;
  std::map<const CConvertOrder*, DWORD> laneEntries_;  // those running, as last seen: run-clock start
  CConvertOrder* shownCurrent_ = nullptr;               // the first of them, as last told
};

}  // namespace tav
