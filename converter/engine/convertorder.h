// CConvertOrder: one entry of the batch - a source movie, its output settings and its
// state. Archived as class "CConvertOrder", schema 1.
//
// Entry states (state field):
//   from        event                                   to
//   any         created, loaded, ResetState             0 Ready
//   Ready       the run starts converting it            1 Converting
//   Converting  output completed                        2 Converted
//   Converting  break                                   3 Interrupted (interruptedAt)
//   Converting  graph error or abort                    4 Error (resultCode)
//   any         probe reports 0x80040301 (subtitles)    4 Error
// probeError, independent of the state, marks that the source could not be opened for
// preview; a successful probe clears it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "converter/engine/archive.h"
#include "converter/engine/framesize.h"
#include "converter/engine/mediatype.h"
#include "converter/engine/path.h"
#include "converter/engine/timetext.h"
#include "media/contract/hresult.h"
#include "media/contract/unknown.h"

namespace tav {

class FilterGraphBuilder;

// Default subtitle size identifier (the subtitle source's standard size).
inline constexpr const char* kDefaultSubtitleSize = "A551CAEA-E6D4-4e47-8422-9128EEEE0D46";
// The smallest split size a conversion accepts (0 = unlimited): a part holds more than its
// headers.
inline constexpr ULONGLONG kMinSplitSize = 64 * 1024;

class CConvertOrder : public CObject {
 public:
  enum State : int { kReady = 0, kConverting = 1, kConverted = 2, kInterrupted = 3, kError = 4 };
  enum PlayState : int { kNotPlaying = 0, kPlaying = 1, kPaused = 2 };
  // Screen fit values as the resizer takes them.
  enum ScreenFit : int { kStretch = 0, kCrop = 3, kFit = 2 };

  // Data the subtitle drawer reports after a probe; only filled and freed here.
  struct PreviewSnapshot {
    MediaTypeValue mediaType;
    DWORD value = 0;
    struct TaskMemFree {
      void operator()(void* p) const;
    };
    std::unique_ptr<void, TaskMemFree> block;  // owned through the task allocator
    LONGLONG first = 0, second = 0;
  };

  static const SerialClass kClass;

  // An empty entry, every field at its default (what loading starts from).
  CConvertOrder();
  // A new entry for a source movie: default subtitle and output names, the output file
  // checked by creating and deleting it. Throws FileException when it cannot be created.
  // The output goes next to the source, or into outputFolder when one is given (ending in
  // a slash), so that a source in a read-only folder can still be converted elsewhere.
  explicit CConvertOrder(const std::string& sourcePath, const std::string& outputFolder = std::string());
  ~CConvertOrder() override;

  // Archiving (fields 1-13 of the batch format).
  const SerialClass& GetSerialClass() const override { return kClass; }
  void Store(ArchiveWriter& ar) const override;
  void Load(ArchiveReader& ar) override;

  // ---- settings ----
  bool IsChecked() const { return checked_; }
  void SetChecked(bool on) { checked_ = on; }
  bool UsesSubtitles() const { return useSubtitles_; }
  void SetUseSubtitles(bool on) { useSubtitles_ = on; }
  const CPath& SourcePath() const { return sourcePath_; }
  void SetSourcePath(const std::string& p) { sourcePath_.Set(p); cachedFileSize_ = -1; }
  // Another movie for the entry (Modify source): what was known of the old one - the probe
  // and its failure, duration, size, picture, trim points, state and where a conversion
  // could go on - is forgotten until the new one is probed. The settings stay.
  void ReplaceSource(const std::string& p);
  const CPath& SubtitlePath() const { return subtitlePath_; }
  void SetSubtitlePath(const std::string& p) {
    if (p != subtitlePath_.Full()) subtitleEncoding_.clear();  // found for another file
    subtitlePath_.Set(p);
  }
  const CPath& OutputPath() const { return outputPath_; }
  void SetOutputPath(const std::string& p) { outputPath_.Set(p); }
  // Both points, and whether they form a valid pair (neither is -1).
  bool GetTrimPoints(REFERENCE_TIME* start, REFERENCE_TIME* end) const;
  void SetTrimPoints(REFERENCE_TIME start, REFERENCE_TIME end) { startPoint_ = start; endPoint_ = end; }
  int GetUiSelection() const { return uiSelection_; }
  void SetUiSelection(int i) { uiSelection_ = i; }
  int GetFrameWidth() const { return frameWidth_; }
  int GetFrameHeight() const { return frameHeight_; }
  void SetFrameSize(int width, int height) { frameWidth_ = width; frameHeight_ = height; }
  double GetFrameRate() const { return frameRate_; }
  void SetFrameRate(double fps) { frameRate_ = fps; }
  // 0 whenever the source cannot seek (a split restarts the graph at a position).
  ULONGLONG GetSplitSize() const { return seekable_ ? splitSize_ : 0; }
  // The split size as stored, whether or not the source can seek.
  ULONGLONG GetStoredSplitSize() const { return splitSize_; }
  void SetSplitSize(ULONGLONG bytes) { splitSize_ = seekable_ ? bytes : 0; }
  // Fit whenever the source is exactly 4:3.
  int GetScreenFit() const { return is4by3_ ? int(kFit) : screenFit_; }
  void SetScreenFit(int fit) { screenFit_ = is4by3_ ? int(kFit) : fit; }
  const std::string& GetSubtitleSize() const { return subtitleSize_; }
  void SetSubtitleSize(std::string id) { subtitleSize_ = std::move(id); }
  const std::string& GetSubtitleLanguage() const { return subtitleLanguage_; }
  void SetSubtitleLanguage(std::string code) { subtitleLanguage_ = std::move(code); }
  // The reader that took the subtitle file of the last conversion when it was not plain SAMI
  // or SubRip ("WebVTT", ...); the status of a converted entry says so. Not saved.
  const std::string& GetSubtitleReader() const { return subtitleReader_; }
  void SetSubtitleReader(std::string reader) { subtitleReader_ = std::move(reader); }
  // The encoding the subtitle file was read in the last time it was loaded for this entry
  // (preview or conversion): "UTF-8", "CP949", ...; empty until then. Not saved.
  const std::string& GetSubtitleEncoding() const { return subtitleEncoding_; }
  void SetSubtitleEncoding(std::string encoding) { subtitleEncoding_ = std::move(encoding); }

  // Size of the source in bytes, read once (0 when it cannot be read) and cached.
  LONGLONG GetFileSize();

  // ---- probe results ----
  // Fills the source facts a probe graph reports (the preview part reads the graph).
  void SetSourceInfo(REFERENCE_TIME duration, int width, int height, bool seekable);
  REFERENCE_TIME GetDuration() const { return duration_; }
  // The picture as shown (upright), which the list and the conversion go by.
  int GetSourceWidth() const { return sourceWidth_; }
  int GetSourceHeight() const { return sourceHeight_; }
  // The picture as the file stores it, when it differs from the shown one (a movie with a
  // turn, from a phone held upright); 0 x 0 when it does not or is not known.
  int GetStoredWidth() const { return storedWidth_; }
  int GetStoredHeight() const { return storedHeight_; }
  void SetStoredSize(int width, int height) { storedWidth_ = width; storedHeight_ = height; }
  bool Is4by3() const { return is4by3_; }
  bool IsSeekable() const { return seekable_; }
  PreviewSnapshot& Snapshot() { return snapshot_; }
  // Reads the probe results from a freshly built preview graph: duration, source frame size,
  // the 4:3 flag, seekability, and the first subtitle drawer's picture as the snapshot (the
  // previous one is freed first). Failures of checked calls throw HRChecker.
  void UpdateFromGraph(FilterGraphBuilder& builder);
  // Prepares a subtitle drawer object (any interface of it) to show this entry's still
  // picture: canvas of the frame size, the entry's fit, and, when subtitles are used, a
  // manager with the subtitle file, size class and language. Throws HRChecker on failure.
  void ConfigureOverlay(IUnknown* drawer);

  // ---- state ----
  int GetState() const { return state_; }
  int GetPlayState() const { return playState_; }
  bool HasProbeError() const { return probeError_; }
  HRESULT GetResultCode() const { return resultCode_; }
  const MediaTypeValue& GetFailedMediaType() const { return failedMediaType_; }
  const std::string& GetProbeMessage() const { return probeMessage_; }
  REFERENCE_TIME GetInterruptedAt() const { return interruptedAt_; }

  void ResetState() { state_ = kReady; }
  // Puts back a state kept outside the batch file (a recovery copy): state, interruption
  // position, failure code and reason as they were.
  void RestoreState(int state, REFERENCE_TIME interruptedAt, HRESULT resultCode, std::string reason);
  void SetConverting() { state_ = kConverting; }
  void SetFinished(bool completed, REFERENCE_TIME position) {
    state_ = completed ? kConverted : kInterrupted;
    interruptedAt_ = position;
  }
  void SetFailed(HRESULT hr) {
    resultCode_ = hr;
    state_ = kError;
    failureReason_.clear();
  }
  // A failure the platform has no fitting text for: the status reads "Error: reason"
  // followed by the code.
  void SetFailed(HRESULT hr, std::string reason) {
    SetFailed(hr);
    failureReason_ = std::move(reason);
  }
  const std::string& GetFailureReason() const { return failureReason_; }
  // Why the entry cannot be converted as it stands: a source that is not a movie file (a
  // folder, a pipe, a loop of links), a subtitle file that is missing, or settings that no
  // graph honours (a batch file edited by hand, trim points past the end of the source).
  // Empty when it can; *hr then is S_OK, else the code to fail the entry with.
  std::string CheckSettings(HRESULT* hr) const;
  void SetProbeResult(HRESULT hr, const MediaTypeValue& mediaType, const std::string& message);
  void SetPlayState(bool playing) { playState_ = playing ? kPlaying : kPaused; }

  // Where a conversion of this entry can go on: the end of the output finished so far and
  // the number the next numbered part gets ([QVF]-clip0002.qvf). The file at the output
  // path, when there is one, is a finished movie that becomes part nextPart on resuming.
  // nextPart 0: nothing to go on from. Not saved in the batch file, and kept through
  // ResetState: a run resets every state before it asks which entries to resume.
  struct ResumePoint {
    REFERENCE_TIME at = 0;
    LONG nextPart = 0;
  };
  const ResumePoint& GetResumePoint() const { return resume_; }
  void SetResumePoint(REFERENCE_TIME at, LONG nextPart) { resume_ = ResumePoint{at, nextPart}; }
  void ClearResumePoint() { resume_ = ResumePoint{}; }
  // The file at the output path as this program last left it: the movie it created (at
  // the start of a part) or finished (when the entry was interrupted). Restoring a batch
  // removes or renames that file only while it is still the one written; a copy edited by
  // hand, or a file put there since, is left alone. size -1: nothing recorded. Not saved
  // in the batch file.
  struct OutputStamp {
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = -1;
    int64_t changeSec = 0;   // the change time (st_ctim)
    int64_t changeNsec = 0;
    bool IsSet() const { return size >= 0; }
  };
  const OutputStamp& GetOutputStamp() const { return outputStamp_; }
  void SetOutputStamp(const OutputStamp& stamp) { outputStamp_ = stamp; }
  // Whether a resumed conversion would have something left to convert: the resume point
  // lies after the start (the start point, or 0) and before the end point or the end of
  // the movie when they are known.
  bool CanResume() const;
  void ClearPlayState() { playState_ = kNotPlaying; }

  // The text of the "Status" column and the status line.
  std::string GetStatusText() const;

 private:
  // Saved settings (fields 1-13 of the batch format).
  bool checked_ = true;
  bool useSubtitles_ = true;
  CPath sourcePath_;
  CPath subtitlePath_;
  CPath outputPath_;
  REFERENCE_TIME startPoint_ = -1;
  REFERENCE_TIME endPoint_ = -1;
  int uiSelection_ = 0;  // never saved
  int frameWidth_ = kSmallFrame.width;
  int frameHeight_ = kSmallFrame.height;
  double frameRate_ = 30.0;
  ULONGLONG splitSize_ = 0;
  int screenFit_ = kFit;
  std::string subtitleSize_;
  std::string subtitleLanguage_;
  std::string subtitleReader_;
  std::string subtitleEncoding_;

  // Facts about the source and its last probe.
  LONGLONG cachedFileSize_ = -1;
  bool probeError_ = false;
  int state_ = kReady;
  int playState_ = kNotPlaying;
  HRESULT resultCode_ = S_OK;
  MediaTypeValue failedMediaType_;
  std::string probeMessage_;
  REFERENCE_TIME interruptedAt_ = 0;
  ResumePoint resume_;         // where a conversion goes on; see GetResumePoint
  OutputStamp outputStamp_;    // the output file as last written; see GetOutputStamp
  std::string failureReason_;  // shown instead of the platform's text for resultCode
  PreviewSnapshot snapshot_;
  REFERENCE_TIME duration_ = kUnknownTime;
  int sourceWidth_ = 0;
  int sourceHeight_ = 0;
  int storedWidth_ = 0;
  int storedHeight_ = 0;
  bool is4by3_ = false;
  bool seekable_ = false;
};

// Makes an output name unique: a name whose title ends in "[n]" (n a non-zero number)
// continues numbering at n + 1 from the name without that group; a name whose file does
// not exist is kept; otherwise "%1%2[%4]%3" with increasing numbers until a free one.
std::string MakeUniqueOutputName(const std::string& path);

// Why path cannot be opened as a movie file: a folder, a pipe or device, a loop of symbolic
// links. Empty for a regular file, and for a missing one (the source filter reports that);
// *hr then is S_OK, else the code that goes with the text.
std::string MovieFileProblem(const std::string& path, HRESULT* hr);

}  // namespace tav
