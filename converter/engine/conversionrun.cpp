#include "converter/engine/conversionrun.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "converter/engine/framesize.h"
#include "converter/engine/graphwalk.h"
#include "libs/vxcamwriter/vxcamwriter.h"
#include "media/contract/codepage.h"
#include "media/contract/com.h"
#include "media/contract/mediatypeptr.h"
#include "media/contract/sync.h"
#include "media/contract/sysparams.h"
#include "media/contract/trace.h"
#include "media/contract/uuids.h"

TAV_TRACE_SOURCE(kEngine, "run");

namespace tav {
namespace {

ComPtr<IPin> PinByName(IBaseFilter* filter, const char16_t* name) {
  for (ComPtr<IPin>& pin : PinsOf(filter)) {
    PIN_INFO info{};
    if (SUCCEEDED(pin->QueryPinInfo(&info))) {
      ComPtr<IBaseFilter> owner;
      owner.Attach(info.pFilter);  // counted for us; let go at once
      if (std::u16string(info.achName) == name) return pin;
    }
  }
  return nullptr;
}

// The exporter's input pin offering majorType.
ComPtr<IPin> InputFor(IBaseFilter* filter, const GUID& majorType) {
  for (ComPtr<IPin>& pin : PinsOf(filter, PINDIR_INPUT)) {
    const PinTypes offered(pin.Get());
    for (const AM_MEDIA_TYPE* mt : offered.types)
      if (mt->majortype == majorType) return pin;
  }
  return nullptr;
}

}  // namespace

CConvertOrder* ConversionRun::CheckedAfter(const CConvertOrder* entry) const {
  ptrdiff_t at = -1;
  if (entry) {
    // The walk goes on from where it stopped, without a search through the list: the entry
    // is where it was found, or one place up when a converted entry before it was removed.
    const size_t count = doc_.GetCount();
    if (walkIndex_ < count && doc_.GetAt(walkIndex_) == entry) at = ptrdiff_t(walkIndex_);
    else if (walkIndex_ > 0 && walkIndex_ - 1 < count && doc_.GetAt(walkIndex_ - 1) == entry) at = ptrdiff_t(walkIndex_ - 1);
    else at = doc_.IndexOf(entry);
    if (at < 0) return nullptr;
  }
  for (size_t i = size_t(at + 1); i < doc_.GetCount(); ++i)
    if (doc_.GetAt(i)->IsChecked()) {
      walkIndex_ = i;
      return doc_.GetAt(i);
    }
  return nullptr;
}

ConversionRun::ConversionRun(CTavrionConverterDoc& doc, FilterGraphBuilder& builder, RunCounters::Clock clock)
    : doc_(doc), builder_(builder), counters_(std::move(clock)) {
  doc_.SetConversionRun(this);
}

ConversionRun::~ConversionRun() {
  StopConversion();
  if (doc_.GetConversionRun() == this) doc_.SetConversionRun(nullptr);
}

std::vector<std::string> ConversionRun::OutputsOf(const CConvertOrder* entry) const {
  if (lanes_) return lanes_->OutputsOf(entry);
  auto it = outputs_.find(entry);
  return it == outputs_.end() ? std::vector<std::string>() : it->second;
}

// ---- the run --------------------------------------------------------------------------------

void ConversionRun::SuspendScreenSaver() {
  // It is switched off only when its setting could be read, so that StopConversion always
  // has something to restore it to.
  BOOL screenSaverActive = FALSE;
  savedScreenSaver_ = SystemParametersInfo(SPI_GETSCREENSAVEACTIVE, 0, &screenSaverActive, 0)
                          ? LONG(screenSaverActive) : -1;
  if (savedScreenSaver_ != -1) SystemParametersInfo(SPI_SETSCREENSAVEACTIVE, FALSE, nullptr, 0);
}

void ConversionRun::StartConversion(PlayerCore* player, bool resumeInterrupted) {
  if (!player || doc_.IsConverting()) return;
  if (laneCount_ > 1 && !workerCommand_.empty()) {
    int checked = 0;
    for (size_t i = 0; i < doc_.GetCount(); ++i) checked += doc_.GetAt(i)->IsChecked() ? 1 : 0;
    if (checked > 1) {
      StartSimultaneous(player, std::min(laneCount_, checked), checked, resumeInterrupted);
      return;
    }
  }
  player_ = player;
  resumeInterrupted_ = resumeInterrupted;
  doc_.SetConverting(true);
  SuspendScreenSaver();
  outputs_.clear();
  LONGLONG totalBytes = 0;
  checkedCount_ = 0;
  for (size_t i = 0; i < doc_.GetCount(); ++i) {
    CConvertOrder* e = doc_.GetAt(i);
    e->ResetState();
    if (!resumeInterrupted) e->ClearResumePoint();
    if (e->IsChecked()) {
      totalBytes += EntryBytes(e);
      ++checkedCount_;
    }
  }
  counters_.StartRun(totalBytes);
  currentIndex_ = 0;
  doc_.SetFileCounters(currentIndex_, checkedCount_);
  current_ = CheckedAfter(nullptr);
  doc_.UpdateAllViews(DocumentHint::kCurrentChanged, current_);
  while (current_ && !ConvertEntry(current_, 0)) {
    counters_.FileDone(EntryBytes(current_));
    current_ = CheckedAfter(current_);
    doc_.SetFileCounters(++currentIndex_, checkedCount_);
    doc_.UpdateAllViews(DocumentHint::kCurrentChanged, current_);
  }
  if (!current_) StopConversion();
}

bool ConversionRun::ConvertEntry(CConvertOrder* entry, REFERENCE_TIME resume) {
  const bool newEntry = resume == 0;
  Teardown(!newEntry);
  if (!entry) return false;
  if (newEntry) {
    // Settings that no graph can honour (a batch file edited by hand, trim points past the
    // end of the movie) fail the entry alone, before anything is built or written.
    HRESULT hr = S_OK;
    const std::string why = entry->CheckSettings(&hr);
    if (!why.empty()) {
      entry->ClearResumePoint();
      entry->SetFailed(hr, why);
      doc_.UpdateAllViews(DocumentHint::kEntryStateChanged, entry);
      return false;
    }
  }
  HRChecker c;
  try {
    if (newEntry) {
      counters_.StartFile();
      outputSequence_ = std::make_unique<OutputFileSequence>(entry->OutputPath().Full(), entry->GetSplitSize());
      sequenceEntry_ = entry;
      outputs_[entry].clear();
      resume = PrepareResume(entry);
    }
    const std::string name = outputSequence_->PrepareName();
    if (const int err = outputSequence_->CreateError()) {
      // Said here with the folder and the reason: the exporter could only fail with a code
      // that names neither. Parts already written stay under their names.
      HRESULT hr = E_FAIL;
      const std::string why = OutputFolderProblem(name, err, &hr);
      TAV_TRACE("no output file in \"%s\": %s", name.c_str(), why.c_str());
      outputSequence_.reset();
      sequenceEntry_ = nullptr;
      entry->ClearResumePoint();
      entry->SetFailed(hr, why);
      doc_.UpdateAllViews(DocumentHint::kEntryStateChanged, entry);
      return false;
    }
    entry->SetOutputPath(name);
    outputs_[entry].push_back(name);
    REFERENCE_TIME start = 0, end = 0;
    const bool trimmed = entry->GetTrimPoints(&start, &end);
    partStart_ = resume != 0 ? resume : trimmed ? start : 0;
    // Should the program die while this part is written, the output finished so far ends
    // where the part begins, and the file is this program's, to be removed at the next
    // start; the recovery copy keeps both before anything is written.
    entry->SetResumePoint(partStart_, outputSequence_->NextPart());
    entry->SetOutputStamp(StampOf(name));
    doc_.UpdateAllViews(DocumentHint::kOutputCreated, entry);

    BuildConversionGraph(c, entry, name);
    c.Check(player_->Attach(builder_.Graph(), builder_.Seeking(), kSmallFrame.width, kSmallFrame.height, this));

    // The movie starts exactly at the start point, and a part that continues a split exactly
    // where the last one ended: a seek to the key frame before either would add up to a
    // key-frame interval of the movie (seconds with long-GOP sources). The pictures between
    // that key frame and the target are decoded but not delivered.
    const bool toKeyFrame = false;
    if (trimmed) {
      const REFERENCE_TIME from = resume != 0 ? resume : start;
      c.Check(player_->SetPoints(from, end));
      c.Check(player_->Seek(start, toKeyFrame));
    } else if (resume != 0) {
      c.Check(player_->SetPoints(resume, -1));
      c.Check(player_->Seek(resume, toKeyFrame));
    }
    // A movie taken up where an interruption left it: its time estimates count from here.
    if (newEntry && resume != 0) counters_.FileResumedAt(Position(), CurrentFileBytes());
    c.Check(player_->Run());
    TAV_TRACE("converting into \"%s\" from %lld", name.c_str(), static_cast<long long>(partStart_));
    entry->SetConverting();
    doc_.UpdateAllViews(DocumentHint::kEntryStateChanged, entry);
    return true;
  } catch (const HRChecker& failure) {
    TAV_TRACE("entry failed: 0x%08x at \"%s\"", unsigned(failure.GetHr()), failure.GetContext().c_str());
    // The graph goes; a part already written stays under its name, and the name taken for
    // this attempt, which holds nothing, is given back.
    Teardown(false, true);
    entry->ClearResumePoint();
    entry->SetFailed(failure.GetHr());
    doc_.UpdateAllViews(DocumentHint::kEntryStateChanged, entry);
    return false;
  }
}

void ConversionRun::BuildConversionGraph(HRChecker& c, CConvertOrder* entry, const std::string& name) {
  FilterGraphBuilder& b = builder_;
  const std::string source = entry->SourcePath().Full();
  b.SetConversionMode(true);
  b.SetBurnIn(true);
  b.SetFrameRate(true, entry->GetFrameRate());
  b.SetDrawer(false, entry->GetFrameWidth(), entry->GetFrameHeight(), entry->GetScreenFit());
  b.SetResize(true, entry->GetFrameWidth(), entry->GetFrameHeight(), entry->GetScreenFit());
  b.SetSubtitles(entry->UsesSubtitles(), entry->SubtitlePath().Full(), entry->GetSubtitleSize(),
                 entry->GetSubtitleLanguage());
  // The source is opened twice: one instance feeds only the video chain, the other only audio.
  b.SetWantedMajorType(MEDIATYPE_Video);
  c.Check(b.AddSourceAndRender(source));
  entry->SetSubtitleReader(b.SubtitleReader());
  if (entry->UsesSubtitles()) entry->SetSubtitleEncoding(b.SubtitleEncoding());
  b.SetWantedMajorType(MEDIATYPE_Audio);
  // A movie without sound renders here without an audio end; sound that cannot be decoded
  // fails the entry rather than leaving a silent movie that counts as converted.
  c.Check(b.AddSourceAndRender(source));
  b.SetWantedMajorType(GUID_NULL);

  ComPtr<IPin> video, audio;
  for (const auto& pin : b.PendingPins()) {
    ComPtr<IEnumMediaTypes> types;
    if (FAILED(pin->EnumMediaTypes(&types)) || !types) continue;
    MediaTypePtr t;
    if (types->Next(1, t.Out(), nullptr) == S_OK) {
      if (t->majortype == MEDIATYPE_Video && !video) video = pin;
      if (t->majortype == MEDIATYPE_Audio && !audio) audio = pin;
    }
  }
  if (!video) c.Check(VFW_E_UNSUPPORTED_VIDEO);

  c.SetContext("Tee");
  ComPtr<IBaseFilter> tee;
  c.Check(CoCreateInstance(CLSID_InfTee, nullptr, CLSCTX_ALL, IID_IBaseFilter, tee.AsVoidOut()));
  c.Check(b.Graph()->AddFilter(tee.Get(), u"Tee"));
  ComPtr<IPin> teeIn = PinByName(tee.Get(), u"Input");
  c.CheckPointer(teeIn);
  c.Check(b.Graph()->ConnectDirect(video.Get(), teeIn.Get(), nullptr));
  videoPin_ = PinByName(tee.Get(), u"Output1");
  c.CheckPointer(videoPin_);
  audioPin_ = audio;
  c.ClearContext();

  AttachExporter(c, entry, name);

  // The live preview branch. Without a video renderer, or when the front end has nothing
  // to show it in (SetLivePreview(false)), the branch stays unconnected and the tee feeds
  // the exporter alone.
  ComPtr<IPin> preview = PinByName(tee.Get(), u"Output2");
  c.CheckPointer(preview);
  b.SetConversionMode(false);
  b.SetBurnIn(false);
  b.SetFrameRate(false, 10.0);
  b.SetResize(false, kSmallFrame.width, kSmallFrame.height, 0);
  b.SetDrawer(false, entry->GetFrameWidth(), entry->GetFrameHeight(), 0);
  b.SetSubtitles(false, "", "", "");
  b.SetFormatAdapter(true);
  ComPtr<IBaseFilter> probe;
  if (livePreview_ &&
      SUCCEEDED(CoCreateInstance(CLSID_VideoRenderer, nullptr, CLSCTX_ALL, IID_IBaseFilter, probe.AsVoidOut()))) {
    probe = nullptr;
    c.Check(b.RenderPin(preview.Get()));
  }
  b.FinishGraph(true);
}

void ConversionRun::AttachExporter(HRChecker& c, CConvertOrder* entry, const std::string& name) {
  IGraphBuilder* graph = builder_.Graph();
  if (exporter_) {
    graph->RemoveFilter(exporter_.Get());
    exporter_ = nullptr;
  }
  c.SetContext("VXCMN Cam Exporter Filter");
  c.Check(CoCreateInstance(CLSID_CamExporterFilter, nullptr, CLSCTX_ALL, IID_IBaseFilter, exporter_.AsVoidOut()));
  c.CheckPointer(exporter_);

  auto config = exporter_.As<IExportConfig>();
  c.CheckPointer(config);
  c.Check(config->ResetConfig());
  std::vector<BYTE> block(std::max(sizeof(CONFIG), kExportConfigBytes), 0);
  c.Check(config->GetConfig(reinterpret_cast<CONFIG*>(block.data())));
  AdjustConfigBitrate(block, entry->GetFrameWidth(), entry->GetFrameRate());
  c.Check(config->SetConfig(reinterpret_cast<const CONFIG*>(block.data())));
  c.Check(config->SaveAVIasQVF(TRUE));

  auto sink = exporter_.As<IFileSinkFilter>();
  c.CheckPointer(sink);
  const std::u16string wide = Utf8ToUtf16(name);
  c.Check(sink->SetFileName(wide.c_str(), nullptr));
  c.Check(graph->AddFilter(exporter_.Get(), wide.c_str()));
  auto limit = exporter_.As<IExportSizeLimit>();
  c.CheckPointer(limit);
  c.Check(limit->SetSizeLimit(static_cast<LONGLONG>(MapSplitSize(entry->GetSplitSize()))));

  ComPtr<IPin> videoIn = InputFor(exporter_.Get(), MEDIATYPE_Video);
  c.CheckPointer(videoIn);
  c.Check(graph->ConnectDirect(videoPin_.Get(), videoIn.Get(), nullptr));
  if (audioPin_) {
    ComPtr<IPin> audioIn = InputFor(exporter_.Get(), MEDIATYPE_Audio);
    c.CheckPointer(audioIn);
    c.Check(graph->ConnectDirect(audioPin_.Get(), audioIn.Get(), nullptr));
  }
  c.ClearContext();
}

REFERENCE_TIME ConversionRun::PrepareResume(CConvertOrder* entry) {
  if (!resumeInterrupted_ || !entry->CanResume()) {
    entry->ClearResumePoint();
    return 0;
  }
  const CConvertOrder::ResumePoint point = entry->GetResumePoint();
  outputSequence_->ContinueNumbering(point.nextPart);
  const std::string left = outputSequence_->BasePath().Full();
  struct stat st;
  if (::lstat(left.c_str(), &st) == 0 && !StampHolds(entry->GetOutputStamp(), left, false)) {
    // Not the movie the interruption left (a file put there since, or a batch whose copy
    // was edited): it stays as it is, and the entry converts from its start under a new
    // name.
    TAV_TRACE("\"%s\" is not the interrupted movie; it is kept", left.c_str());
  } else if (::lstat(left.c_str(), &st) == 0) {
    // The movie the interruption left becomes a numbered part; the rest follows it.
    const std::string part = outputSequence_->FinishPart();
    if (part != left) {
      outputs_[entry].push_back(part);
      return point.at;
    }
  } else if (point.nextPart > 1) {
    // The earlier parts are all numbered already.
    return point.at;
  }
  // The movie to continue is gone, or cannot take its number: the entry starts over.
  outputSequence_->ContinueNumbering(1);
  entry->ClearResumePoint();
  return 0;
}

LONG ConversionRun::Teardown(bool more, bool discardCurrent) {
  LONG nextPart = 0;
  videoPin_ = nullptr;
  audioPin_ = nullptr;
  exporter_ = nullptr;
  if (player_) player_->Detach();
  builder_.Clear();
  if (outputSequence_) {
    auto& files = outputs_[sequenceEntry_];
    if (discardCurrent) {
      outputSequence_->Discard();
      if (!files.empty()) files.pop_back();
    } else if (more || outputSequence_->NextPart() != 1) {
      const std::string renamed = outputSequence_->FinishPart();
      if (!files.empty()) files.back() = renamed;
    }
    nextPart = outputSequence_->NextPart();
    if (!more) {
      outputSequence_.reset();
      sequenceEntry_ = nullptr;
    }
  }
  counters_.InvalidateMappings();
  return nextPart;
}

bool ConversionRun::IsToleratedEnd() const {
  if (builder_.XReaderUsed()) return true;
  for (const ComPtr<IBaseFilter>& filter : FiltersOf(builder_.Graph())) {
    for (const ComPtr<IPin>& pin : PinsOf(filter.Get())) {
      ScopedMediaType mt;
      if (pin->ConnectionMediaType(mt.Out()) != S_OK) continue;
      if (mt->majortype == MEDIATYPE_Video && mt->formattype == FORMAT_VideoInfo &&
          IsFourcc(mt->subtype, {"DIV3", "div3", "DIVX", "divx", "DX50", "dx50", "MP43"}))
        return true;
    }
  }
  return false;
}

void ConversionRun::OnPlayerEvent(PlayerCore* player, LONG code) {
  if (!current_ || player != player_) return;
  TAV_TRACE("graph event 0x%lx", static_cast<unsigned long>(code));
  if (code == EC_SIZE_LIMIT_REACHED) {
    const REFERENCE_TIME position = WrittenPosition();
    player_->Stop();
    if (position <= partStart_) {
      // The part ends where it began: another one would too, for ever.
      current_->ClearResumePoint();
      current_->SetFailed(E_UNEXPECTED);
      counters_.FileDone(EntryBytes(current_));
      MoveOn(false);
      return;
    }
    if (!ConvertEntry(current_, position)) MoveOn(false);
    return;
  }
  if (code != EC_COMPLETE && code != EC_USERABORT && code != EC_ERRORABORT) return;
  bool converted = code == EC_COMPLETE;
  if (code == EC_ERRORABORT && player_->GetLastError() == VFW_E_INVALID_FILE_FORMAT && IsToleratedEnd())
    converted = true;
  // The exporter finishes the movie file when the graph stops.
  player_->Stop();
  // A graph that completed without a single picture made no movie. (The tolerated end of
  // the DivX family is taken at its word.)
  current_->ClearResumePoint();
  if (code == EC_COMPLETE && !WroteVideo()) {
    converted = false;
    current_->SetFailed(E_FAIL,
                        "no picture was converted (the movie ends before the start point, or it cannot be read)");
    Teardown(false, true);
  } else if (converted) {
    current_->SetFinished(true, 0);
    current_->SetChecked(false);
  } else if (const HRESULT hr = player_->GetLastError(); hr == TAV_E_DAMAGED_TIMES) {
    // The exporter ended the movie where its source ends: what came before is kept.
    current_->SetFailed(hr, "the movie's time stamps are damaged; the converted movie ends where the file does");
  } else {
    if (hr == VFW_E_UNSUPPORTED_VIDEO)
      current_->SetFailed(hr, "the video cannot be decoded: its decoder gives only damaged pictures");
    else
      current_->SetFailed(hr);
    // A movie cut short by a full disk cannot be finished; it goes rather than leaving a
    // broken file under the final name. So does one whose pictures the decoder could not
    // read: what it wrote is grey.
    if (hr == HRESULT_FROM_WIN32(ERROR_DISK_FULL) || hr == VFW_E_UNSUPPORTED_VIDEO) Teardown(false, true);
  }
  counters_.FileDone(EntryBytes(current_));
  MoveOn(converted);
}

bool ConversionRun::WroteVideo() {
  if (!outputSequence_) return true;
  if (VideoFramesIn(outputSequence_->BasePath().Full()) != 0) return true;
  // A split whose last part came out empty: that part goes, the earlier ones are the movie.
  if (outputSequence_->NextPart() != 1) {
    Teardown(false, true);
    return true;
  }
  return false;
}

// Where the part written so far ends: the end of the last frame the exporter wrote. The
// graph's position is that of its furthest renderer, and the renderers that take the streams
// the conversion leaves unused run ahead of the exporter.
REFERENCE_TIME ConversionRun::WrittenPosition() {
  REFERENCE_TIME position = 0;
  auto seeking = exporter_ ? exporter_.As<IMediaSeeking>() : nullptr;
  if (!seeking || FAILED(seeking->GetCurrentPosition(&position))) player_->GetPosition(&position);
  return position;
}

void ConversionRun::MoveOn(bool convertedNow) {
  player_->Stop();
  doc_.UpdateAllViews(DocumentHint::kEntryStateChanged, current_);
  for (;;) {
    CConvertOrder* finished = current_;
    current_ = CheckedAfter(finished);
    doc_.SetFileCounters(++currentIndex_, checkedCount_);
    if (doc_.GetRemoveAfterConversion() && convertedNow) {
      // The view may delete the entry: finish with its output files first.
      Teardown(false);
      doc_.UpdateAllViews(DocumentHint::kRemoveConverted, finished);
    }
    doc_.UpdateAllViews(DocumentHint::kCurrentChanged, current_);
    if (!current_) break;
    if (ConvertEntry(current_, 0)) return;
    counters_.FileDone(EntryBytes(current_));
    convertedNow = false;
  }
  StopConversion();
}

void ConversionRun::StopConversion() {
  TAV_TRACE("StopConversion()");
  if (lanes_) StopSimultaneous();
  if (player_) {
    CConvertOrder* interrupted = current_;
    REFERENCE_TIME at = 0;
    bool emptyPart = false;
    if (interrupted) {
      // Interrupted where its movie ends (a part that has written nothing yet ends where
      // it began).
      const REFERENCE_TIME written = WrittenPosition();
      at = std::max(written, partStart_);
      // A later part of a split that the Break caught before its first picture goes, as an
      // empty last part of a finished split does: the parts before it are the movie so far,
      // and a later run writes this one under the same number.
      emptyPart = written <= partStart_ && outputSequence_ && outputSequence_->NextPart() != 1;
      interrupted->SetFinished(false, at);
    }
    const LONG nextPart = Teardown(false, emptyPart);
    if (interrupted) {
      // The movie as it was finished: a later run continues it only while it is unchanged.
      interrupted->SetOutputStamp(StampOf(interrupted->OutputPath().Full()));
      // The movie stays under its name, or, when it was split, as the last numbered part;
      // a later run can go on from its end.
      if (nextPart > 0) interrupted->SetResumePoint(at, nextPart);
      doc_.UpdateAllViews(DocumentHint::kEntryStateChanged, interrupted);
    }
    player_ = nullptr;
    current_ = nullptr;
    counters_.InvalidateMappings();
    CoFreeUnusedLibraries();
  }
  doc_.StopConversion();
  if (savedScreenSaver_ != -1) {
    SystemParametersInfo(SPI_SETSCREENSAVEACTIVE, UINT(savedScreenSaver_), nullptr, 0);
    savedScreenSaver_ = -1;
  }
}

// ---- simultaneous conversions ---------------------------------------------------------------

void ConversionRun::SetSimultaneous(int lanes, std::vector<std::string> workerCommand) {
  laneCount_ = std::max(lanes, 1);
  workerCommand_ = std::move(workerCommand);
}

void ConversionRun::StartSimultaneous(PlayerCore* player, int lanes, int checked, bool resumeInterrupted) {
  TAV_TRACE("StartSimultaneous(%d lanes, %d entries)", lanes, checked);
  player_ = player;
  resumeInterrupted_ = resumeInterrupted;
  doc_.SetConverting(true);
  SuspendScreenSaver();
  outputs_.clear();
  laneEntries_.clear();
  shownCurrent_ = nullptr;
  checkedCount_ = checked;
  currentIndex_ = 0;
  doc_.SetFileCounters(currentIndex_, checkedCount_);
  lanes_ = std::make_unique<SimultaneousRun>(doc_, workerCommand_, lanes);
  // Every entry's state starts again here, as in a run one at a time.
  lanes_->Start(resumeInterrupted);
  counters_.StartRun(lanes_->TotalBytes());
  FollowLanes();
}

void ConversionRun::PollWorkers() {
  if (!lanes_) return;
  lanes_->Poll(0, -1);
  FollowLanes();
}

void ConversionRun::FollowLanes() {
  if (!lanes_) return;
  const std::vector<CConvertOrder*> running = lanes_->RunningEntries();
  for (auto it = laneEntries_.begin(); it != laneEntries_.end();) {
    if (std::find(running.begin(), running.end(), it->first) == running.end()) it = laneEntries_.erase(it);
    else ++it;
  }
  for (CConvertOrder* e : running) laneEntries_.try_emplace(e, counters_.Now());
  currentIndex_ = std::min(lanes_->FinishedCount(), std::max(checkedCount_ - 1, 0));
  doc_.SetFileCounters(currentIndex_, checkedCount_);
  // The first running entry is the one the views show as current; its times count from
  // when it started, not from when the one before it ended.
  CConvertOrder* first = running.empty() ? nullptr : running.front();
  if (first && first != shownCurrent_) {
    shownCurrent_ = first;
    counters_.StartFileAt(laneEntries_[first]);
    counters_.InvalidateMappings();
    doc_.UpdateAllViews(DocumentHint::kCurrentChanged, first);
  }
  if (!lanes_->IsConverting()) StopConversion();
}

void ConversionRun::StopSimultaneous() {
  // Each worker breaks its entry off where its movie ends and reports it Interrupted, which
  // takes a moment; one that does not answer in time is killed, and its entry fails.
  constexpr DWORD kBreakAnswerMs = 20000;
  constexpr int kPollMs = 100;
  lanes_->Stop();
  const DWORD since = GetTickCount();
  bool killed = false;
  while (lanes_->IsConverting()) {
    lanes_->Poll(kPollMs, -1);
    if (!killed && GetTickCount() - since > kBreakAnswerMs) {
      lanes_->Kill();
      killed = true;
    }
  }
  for (const auto& [entry, files] : lanes_->Outputs()) outputs_[entry] = files;
  lanes_.reset();
  laneEntries_.clear();
  shownCurrent_ = nullptr;
  player_ = nullptr;
  counters_.InvalidateMappings();
}

std::vector<CConvertOrder*> ConversionRun::ConvertingEntries() const {
  if (lanes_) return lanes_->RunningEntries();
  if (current_ && player_) return {current_};
  return {};
}

CConvertOrder* ConversionRun::GetCurrent() const {
  if (!lanes_) return current_;
  const std::vector<CConvertOrder*> running = lanes_->RunningEntries();
  return running.empty() ? nullptr : running.front();
}

std::vector<int> ConversionRun::WorkerFds() const { return lanes_ ? lanes_->WatchFds() : std::vector<int>(); }

LONG ConversionRun::EntryProgress(const CConvertOrder* entry) {
  if (!entry || !IsConverting()) return -1;
  if (lanes_) return lanes_->EntryPercent(entry);
  if (entry != current_) return -1;
  return MapFileProgress(0, 100);
}

void ConversionRun::SetPaused(bool paused) {
  counters_.SetPaused(paused);
  if (!lanes_) return;
  lanes_->SetPaused(paused);
  // Every running row says it waits, not only the first one's. On resume no row keeps
  // saying so: not one that a report read during the pause has finished either.
  if (paused) {
    for (CConvertOrder* e : lanes_->RunningEntries()) {
      e->SetPlayState(false);
      doc_.UpdateAllViews(DocumentHint::kEntryStateChanged, e);
    }
    return;
  }
  for (size_t i = 0; i < doc_.GetCount(); ++i) {
    CConvertOrder* e = doc_.GetAt(i);
    if (e->GetPlayState() == CConvertOrder::kNotPlaying) continue;
    e->ClearPlayState();
    doc_.UpdateAllViews(DocumentHint::kEntryStateChanged, e);
  }
}

FilePosition ConversionRun::PercentPosition(LONG percent) {
  FilePosition pos;
  percent = std::clamp<LONG>(percent, 0, 100);
  pos.sliderPos = [percent](LONG low, LONG high) {
    return static_cast<LONG>(low + (static_cast<LONGLONG>(high) - low) * percent / 100);
  };
  return pos;
}

// ---- figures --------------------------------------------------------------------------------

FilePosition ConversionRun::Position() {
  FilePosition pos;
  // A running entry never reads finished, whatever its position (times that run past the
  // end, a last picture held for the sound): that is its completion's to say. It stays a
  // hundredth of the range short of the end.
  if (current_ && current_->GetTrimPoints(&pos.start, &pos.end)) {
    pos.trimmed = true;
    if (player_) player_->GetPosition(&pos.position);
    if (pos.end > pos.start) pos.position = std::min(pos.position, pos.end - std::max<REFERENCE_TIME>(1, (pos.end - pos.start + 99) / 100));
  } else {
    PlayerCore* p = player_;
    pos.sliderPos = [p](LONG low, LONG high) {
      if (!p) return low;
      const LONG at = p->SliderPos(low, high);
      if (high - low < 2) return at;
      return std::min<LONG>(at, high - std::max<LONG>(1, LONG((LONGLONG(high) - low + 99) / 100)));
    };
  }
  return pos;
}

LONGLONG ConversionRun::EntryBytes(CConvertOrder* entry) {
  if (!entry) return 0;
  REFERENCE_TIME start = 0, end = 0;
  const bool trimmed = entry->GetTrimPoints(&start, &end);
  return ConvertedBytes(entry->GetFileSize(), entry->GetDuration(), trimmed, start, end);
}

LONGLONG ConversionRun::CurrentFileBytes() { return EntryBytes(current_); }

LONGLONG ConversionRun::EstimateCurrentOutputSize() {
  if (lanes_) {
    CConvertOrder* e = GetCurrent();
    return e ? lanes_->EntryEstimate(e) : 0;
  }
  if (!current_) return 0;
  REFERENCE_TIME span = current_->GetDuration(), from = 0, start = 0, end = 0;
  if (current_->GetTrimPoints(&start, &end)) {
    span = end - start;
    from = start;
  }
  if (span == kUnknownTime || span < 0) span = 0;
  const LONGLONG nominal = EstimateOutputSize(*current_, span);
  if (!player_) return nominal;
  LONGLONG written = 0;
  for (const std::string& file : OutputsOf(current_)) {
    struct stat st;
    if (::stat(file.c_str(), &st) == 0) written += st.st_size;
  }
  return RefineSizeEstimate(nominal, written, WrittenPosition() - from, span, counters_.FileElapsedMs());
}

LONG ConversionRun::MapFileProgress(LONG low, LONG high) {
  if (lanes_) return counters_.MapFileProgress(low, high, PercentPosition(lanes_->EntryPercent(GetCurrent())));
  return counters_.MapFileProgress(low, high, Position());
}

LONG ConversionRun::MapTotalProgress(LONG low, LONG high) {
  if (lanes_) return counters_.MapTotalProgressOf(low, high, lanes_->DoneBytes());
  return counters_.MapTotalProgress(low, high, Position(), CurrentFileBytes());
}

void ConversionRun::GetFileTimes(LONGLONG* elapsed, LONGLONG* remaining) {
  if (lanes_) {
    // The counters estimate from the mapping the progress bar last showed.
    if (!counters_.FileProgress().valid) MapFileProgress(0, 100);
    counters_.GetFileTimes(FilePosition(), elapsed, remaining);
    return;
  }
  counters_.GetFileTimes(Position(), elapsed, remaining);
}

void ConversionRun::GetTotalTimes(LONGLONG* elapsed, LONGLONG* remaining) {
  if (lanes_) {
    if (!counters_.TotalProgress().valid) MapTotalProgress(0, 100);
    counters_.GetTotalTimes(FilePosition(), 0, elapsed, remaining);
    return;
  }
  counters_.GetTotalTimes(Position(), CurrentFileBytes(), elapsed, remaining);
}

}  // namespace tav
