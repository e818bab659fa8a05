// Recovery copies of the batch: what a program that dies (a crash, kill -9, a power cut)
// leaves behind so that its next start can bring the batch back.
//
// While a document differs from what was last opened or saved, a RecoveryKeeper keeps a
// copy of it in the recovery folder: checked (Tick) soon after each change its owner
// notices, and written at once whenever an entry's state changes during a run. The copy is written to a temporary file, flushed
// and renamed, so it is always whole. A clean exit, an explicit save or open removes it.
//
// Each program holds a lock file beside its copy ("batch-XXXXXX.lock" beside
// "batch-XXXXXX.tvc") for as long as it lives; a copy whose lock nobody holds was left by a
// program that is gone, and is offered for restoring.
//
// A copy is a batch file (every path in full) followed by a block the batch loader never
// reads: the batch file the document belongs to, each entry's state, and where an
// interrupted entry can go on. A trailer with the batch part's length, a checksum and a
// mark ends the file:
//
//   batch file bytes
//   "TVCSTATE" u32 version, string pathName, u32 count,
//       count x { i32 state, i64 interruptedAt, i32 resultCode, string reason,
//                 i64 resumeAt, i32 resumeNextPart,
//                 u64 device, u64 inode, i64 size, i64 changeSec, u32 changeNsec }
//   (version 1 ends each entry after resumeNextPart)
//   u64 batch length, u32 CRC-32 of everything before it, "TVCRECOV"
//
// (little-endian; a string is a u32 length and its bytes). A copy cut at any byte, or
// changed, fails the checksum or the mark and is refused.
#pragma once

#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "converter/engine/document.h"

namespace tav {

// Where both programs keep their recovery copies: application data + "/Merolan/recovery",
// so that a batch the desktop program lost can be converted from the command line too.
std::string DefaultRecoveryFolder();

struct RecoveredEntryState {
  int state = CConvertOrder::kReady;
  REFERENCE_TIME interruptedAt = 0;
  HRESULT resultCode = S_OK;
  std::string reason;
  CConvertOrder::ResumePoint resume;
  CConvertOrder::OutputStamp stamp;  // not set in copies of version 1
};

struct RecoveredBatch {
  std::string batchBytes;  // the batch file part
  std::string pathName;    // the batch file the document belonged to; empty for none
  std::vector<RecoveredEntryState> states;  // one per entry, in list order
};

std::string EncodeRecoveryCopy(const CTavrionConverterDoc& doc);
// Throws ArchiveException when bytes are not a whole recovery copy.
RecoveredBatch DecodeRecoveryCopy(std::string_view bytes);

// Replaces doc's contents by the batch and its states (see ApplyRecoveredStates) and names
// the batch file it belonged to. Throws ArchiveException (doc is then unchanged).
void LoadRecoveredBatch(CTavrionConverterDoc& doc, const RecoveredBatch& batch);
// Puts the states back into the entries of a document loaded from batch (after probing
// them, which resets states). An entry that was being converted when the program died is
// Interrupted where its finished output ends; its unfinished movie, which has no index and
// cannot be played, is removed. Should that movie turn out finished after all (the program
// died just after closing it), it is kept and the entry will convert from its start. A
// file at the output name that is not the one the copy's stamp recorded is never touched:
// the entry then converts from its start, under a free name.
void ApplyRecoveredStates(CTavrionConverterDoc& doc, const RecoveredBatch& batch);

// Copies left by programs that are gone, newest first.
std::vector<std::string> FindOrphanedCopies(const std::string& folder = DefaultRecoveryFolder());
// Reads an orphaned copy. A copy that cannot be read whole is moved aside as
// "<name>.damaged" (kept, never offered again); *error then says so, naming that file.
std::optional<RecoveredBatch> ReadOrphanedCopy(const std::string& path, std::string* error);
// Removes an orphaned copy and its lock file: restored (and copied anew by the restoring
// program), or declined.
void DiscardOrphanedCopy(const std::string& path);

// Removes the temporary files ("batch-XXXXXX.tvc.YYYYYY") that programs killed while
// writing their copies left in folder; those of live programs stay.
void RemoveLeftoverTemporaries(const std::string& folder = DefaultRecoveryFolder());

class RecoveryKeeper : public DocumentObserver {
 public:
  // Observes doc and becomes its saved listener; removes leftover temporary files of the
  // folder.
  explicit RecoveryKeeper(CTavrionConverterDoc& doc, std::string folder = DefaultRecoveryFolder());
  // A clean exit: the copy and the lock file go, unless KeepOnExit.
  ~RecoveryKeeper() override;
  RecoveryKeeper(const RecoveryKeeper&) = delete;
  RecoveryKeeper& operator=(const RecoveryKeeper&) = delete;

  // Writes the copy when the document changed since the last write; removes it when the
  // document is back as it was saved. Cheap when nothing changed.
  void Tick();
  // Called on every notification of the document that may come with a change (the ones
  // that write the copy at once aside): the owner calls Tick soon after, once for a burst.
  void SetChangeListener(std::function<void()> listener) { changed_ = std::move(listener); }
  // Writes the copy now, changed or not (an entry's state changed; a batch was restored).
  void SaveNow();
  // The document was opened or saved: it is its file now, and the copy goes.
  void MarkSaved();
  // Leaves the copy for the next start when this program ends (the command line after an
  // interrupted run, so that the run can be resumed).
  void KeepOnExit(bool keep) { keepOnExit_ = keep; }

  const std::string& CopyPath() const { return copyPath_; }
  // The last failure to write the copy (a full disk, a read-only folder); empty when the
  // last write went well. A failure never stops the program.
  const std::string& LastError() const { return lastError_; }

  void OnDocumentUpdate(DocumentHint hint, CConvertOrder* entry, const std::string* path) override;

 private:
  bool TakeLock();
  void Write(const std::string& bytes);
  void RemoveCopy();

  CTavrionConverterDoc& doc_;
  std::string folder_;
  int lockFd_ = -1;          // flock'ed for the program's life; -1 until the first write
  std::string lockPath_;
  std::string copyPath_;
  std::string baseline_;     // the document as last opened or saved
  std::string written_;      // the bytes of the copy on disk; empty when there is none
  bool keepOnExit_ = false;
  std::string lastError_;
  std::function<void()> changed_;
};

}  // namespace tav
