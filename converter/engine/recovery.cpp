#include "converter/engine/recovery.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "converter/engine/exceptions.h"
#include "converter/engine/outputfiles.h"
#include "converter/engine/strings.h"
#include "media/contract/folders.h"

namespace tav {
namespace {

constexpr char kStateMark[8] = {'T', 'V', 'C', 'S', 'T', 'A', 'T', 'E'};
constexpr char kEndMark[8] = {'T', 'V', 'C', 'R', 'E', 'C', 'O', 'V'};
// Version 2 adds each entry's output stamp; copies of version 1 are still read (their
// entries have no stamp, so their files are never removed or renamed on restoring).
constexpr uint32_t kStateVersion = 2;
// u64 batch length, u32 checksum, the end mark.
constexpr size_t kTrailerBytes = 8 + 4 + sizeof kEndMark;
constexpr const char* kCopyPrefix = "batch-";
constexpr const char* kCopySuffix = ".tvc";
constexpr const char* kLockSuffix = ".lock";
constexpr const char* kDamagedSuffix = ".damaged";

uint32_t Crc32(std::string_view data) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : data) crc = table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

void PutU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(char((v >> (8 * i)) & 0xFF));
}
void PutU64(std::string& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(char((v >> (8 * i)) & 0xFF));
}
void PutString(std::string& out, std::string_view s) {
  PutU32(out, uint32_t(s.size()));
  out.append(s);
}

// Reads the state block; every read is checked against what is left.
class StateReader {
 public:
  StateReader(std::string_view data, size_t base) : data_(data), base_(base) {}
  std::string_view Take(size_t n) {
    if (n > data_.size() - pos_) throw ArchiveException(ArchiveException::Cause::kEndOfFile, base_ + pos_);
    const std::string_view s = data_.substr(pos_, n);
    pos_ += n;
    return s;
  }
  uint64_t U(size_t bytes) {
    const std::string_view s = Take(bytes);
    uint64_t v = 0;
    for (size_t i = 0; i < bytes; ++i) v |= uint64_t(static_cast<unsigned char>(s[i])) << (8 * i);
    return v;
  }
  uint32_t U32() { return uint32_t(U(4)); }
  int64_t I64() { return int64_t(U(8)); }
  std::string String() { return std::string(Take(U32())); }
  bool AtEnd() const { return pos_ == data_.size(); }
  size_t Offset() const { return base_ + pos_; }

 private:
  std::string_view data_;
  size_t base_;
  size_t pos_ = 0;
};

bool EndsWith(const std::string& s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string LockPathOf(const std::string& copyPath) {
  return copyPath.substr(0, copyPath.size() - std::strlen(kCopySuffix)) + kLockSuffix;
}

// Whether a live program holds the lock file (a missing one is held by nobody).
bool LockHeld(const std::string& lockPath) {
  const int fd = ::open(lockPath.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);  // lets go of the lock when it was taken here
  return held;
}

// The renamed copy is on the disk only once its folder is.
void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

std::string DefaultRecoveryFolder() {
  return KnownFolder(CSIDL_APPDATA) + "/" + res::Text(res::IDS_COMPANY_FOLDER) + "/recovery";
}

// ---- the format -----------------------------------------------------------------------

std::string EncodeRecoveryCopy(const CTavrionConverterDoc& doc) {
  // Every path in full: the copy lives far from the movies and the batch file.
  std::string out = doc.SaveToBytes(std::string());
  const uint64_t batchLength = out.size();
  out.append(kStateMark, sizeof kStateMark);
  PutU32(out, kStateVersion);
  PutString(out, doc.GetPathName());
  PutU32(out, uint32_t(doc.GetCount()));
  for (size_t i = 0; i < doc.GetCount(); ++i) {
    const CConvertOrder* e = doc.GetAt(i);
    PutU32(out, uint32_t(e->GetState()));
    PutU64(out, uint64_t(e->GetInterruptedAt()));
    PutU32(out, uint32_t(e->GetResultCode()));
    PutString(out, e->GetFailureReason());
    PutU64(out, uint64_t(e->GetResumePoint().at));
    PutU32(out, uint32_t(e->GetResumePoint().nextPart));
    const CConvertOrder::OutputStamp& stamp = e->GetOutputStamp();
    PutU64(out, stamp.device);
    PutU64(out, stamp.inode);
    PutU64(out, uint64_t(stamp.size));
    PutU64(out, uint64_t(stamp.changeSec));
    PutU32(out, uint32_t(stamp.changeNsec));
  }
  PutU64(out, batchLength);
  PutU32(out, Crc32(out));
  out.append(kEndMark, sizeof kEndMark);
  return out;
}

RecoveredBatch DecodeRecoveryCopy(std::string_view bytes) {
  using Cause = ArchiveException::Cause;
  if (bytes.size() < kTrailerBytes) throw ArchiveException(Cause::kEndOfFile, bytes.size());
  const size_t trailer = bytes.size() - kTrailerBytes;
  if (std::memcmp(bytes.data() + bytes.size() - sizeof kEndMark, kEndMark, sizeof kEndMark) != 0)
    throw ArchiveException(Cause::kEndOfFile, bytes.size());
  StateReader tail(bytes.substr(trailer), trailer);
  const uint64_t batchLength = tail.U(8);
  const uint32_t crc = tail.U32();
  if (crc != Crc32(bytes.substr(0, trailer + 8))) throw ArchiveException(Cause::kBadFormat, trailer + 8);
  if (batchLength > trailer) throw ArchiveException(Cause::kBadFormat, trailer);

  RecoveredBatch batch;
  batch.batchBytes.assign(bytes.substr(0, size_t(batchLength)));
  StateReader r(bytes.substr(size_t(batchLength), trailer - size_t(batchLength)), size_t(batchLength));
  if (r.Take(sizeof kStateMark) != std::string_view(kStateMark, sizeof kStateMark))
    throw ArchiveException(Cause::kBadFormat, r.Offset());
  const uint32_t version = r.U32();
  if (version < 1 || version > kStateVersion) throw ArchiveException(Cause::kBadFormat, r.Offset());
  batch.pathName = r.String();
  const uint32_t count = r.U32();
  for (uint32_t i = 0; i < count; ++i) {
    RecoveredEntryState s;
    s.state = int(r.U32());
    s.interruptedAt = r.I64();
    s.resultCode = HRESULT(r.U32());
    s.reason = r.String();
    s.resume.at = r.I64();
    s.resume.nextPart = LONG(r.U32());
    if (version >= 2) {
      s.stamp.device = r.U(8);
      s.stamp.inode = r.U(8);
      s.stamp.size = r.I64();
      s.stamp.changeSec = r.I64();
      s.stamp.changeNsec = int64_t(r.U32());
    }
    if (s.state < CConvertOrder::kReady || s.state > CConvertOrder::kError) throw ArchiveException(Cause::kBadFormat, r.Offset());
    batch.states.push_back(std::move(s));
  }
  if (!r.AtEnd()) throw ArchiveException(Cause::kBadFormat, r.Offset());
  return batch;
}

void LoadRecoveredBatch(CTavrionConverterDoc& doc, const RecoveredBatch& batch) {
  CTavrionConverterDoc check;
  check.LoadFromBytes(batch.batchBytes, std::string());
  if (check.GetCount() != batch.states.size())
    throw ArchiveException(ArchiveException::Cause::kBadFormat, batch.batchBytes.size());
  doc.DeleteContents();
  doc.LoadFromBytes(batch.batchBytes, std::string());
  doc.SetPathName(batch.pathName);
  ApplyRecoveredStates(doc, batch);
}

void ApplyRecoveredStates(CTavrionConverterDoc& doc, const RecoveredBatch& batch) {
  const size_t n = std::min(doc.GetCount(), batch.states.size());
  for (size_t i = 0; i < n; ++i) {
    CConvertOrder* e = doc.GetAt(i);
    const RecoveredEntryState& s = batch.states[i];
    CConvertOrder::ResumePoint resume = s.resume;
    if (s.state == CConvertOrder::kConverting) {
      // The program died while it wrote this entry's movie.
      const std::string unfinished = e->OutputPath().Full();
      struct stat st;
      const bool there = !unfinished.empty() && ::lstat(unfinished.c_str(), &st) == 0;
      const LONGLONG frames = there ? VideoFramesIn(unfinished) : -1;
      // Killed before its header was whole (just after the part began, even before its
      // first byte), the file counts no frames either; it would become an empty part.
      constexpr off_t kWholeHeader = 52;
      const bool headerCut = frames < 0 && there && S_ISREG(st.st_mode) && st.st_size < kWholeHeader;
      // Killed just after a part was finished and the next one created, before the copy
      // named the new file: the file the copy knows is the numbered part now, and the new
      // one is still empty (nothing is written before the copy names it). It goes; the
      // loop below counts the finished part.
      const bool emptySuccessor = there && S_ISREG(st.st_mode) && st.st_size == 0 && resume.nextPart > 0 &&
                                  !StampHolds(s.stamp, unfinished, true) &&
                                  StampHolds(s.stamp, PartNameOf(CPath(unfinished), resume.nextPart), true);
      if (emptySuccessor) {
        ::unlink(unfinished.c_str());
      } else if (there && !StampHolds(s.stamp, unfinished, true)) {
        // Not the movie this program was writing (the copy was edited, or the file was
        // replaced since): it stays, and the entry converts from its start under a free
        // name.
        resume = CConvertOrder::ResumePoint{};
      } else if (frames == 0 || headerCut) {
        ::unlink(unfinished.c_str());
      } else if (frames > 0 && e->GetStoredSplitSize() > 0 && resume.nextPart > 0 && e->GetFrameRate() > 0) {
        // A part written to its end, killed before it got its number: it is the part the
        // copy names, whole. The resume numbers it and goes on after it.
        resume.at += REFERENCE_TIME(double(frames) * 1e7 / e->GetFrameRate() + 0.5);
      } else if (frames > 0) {
        resume = CConvertOrder::ResumePoint{};
      }
      // The copy is written just after a new part begins; a program that died between
      // finishing a part and writing the copy left finished parts the copy does not know
      // of. They are on disk: the output goes on after the last of them, not over again.
      const double fps = e->GetFrameRate();
      while (resume.nextPart > 0 && fps > 0 && !unfinished.empty()) {
        const LONGLONG done = VideoFramesIn(PartNameOf(CPath(unfinished), resume.nextPart));
        if (done <= 0) break;
        resume.at += REFERENCE_TIME(double(done) * 1e7 / fps + 0.5);
        ++resume.nextPart;
      }
      e->RestoreState(CConvertOrder::kInterrupted, resume.at, s.resultCode, s.reason);
      // What is left under the output name is a finished movie (or nothing): from here on
      // it counts as interrupted there.
      e->SetOutputStamp(resume.nextPart > 0 ? StampOf(unfinished) : CConvertOrder::OutputStamp{});
    } else {
      e->RestoreState(s.state, s.interruptedAt, s.resultCode, s.reason);
      e->SetOutputStamp(s.stamp);
    }
    e->SetResumePoint(resume.at, resume.nextPart);
  }
}

// ---- orphaned copies ------------------------------------------------------------------

std::vector<std::string> FindOrphanedCopies(const std::string& folder) {
  std::vector<std::pair<struct timespec, std::string>> found;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return {};
  while (const dirent* d = ::readdir(dir)) {
    const std::string name = d->d_name;
    if (name.rfind(kCopyPrefix, 0) != 0 || !EndsWith(name, kCopySuffix)) continue;
    const std::string path = folder + "/" + name;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (LockHeld(LockPathOf(path))) continue;
    found.emplace_back(st.st_mtim, path);
  }
  ::closedir(dir);
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
    if (a.first.tv_sec != b.first.tv_sec) return a.first.tv_sec > b.first.tv_sec;
    if (a.first.tv_nsec != b.first.tv_nsec) return a.first.tv_nsec > b.first.tv_nsec;
    return a.second > b.second;
  });
  std::vector<std::string> paths;
  for (auto& f : found) paths.push_back(std::move(f.second));
  return paths;
}

std::optional<RecoveredBatch> ReadOrphanedCopy(const std::string& path, std::string* error) {
  std::string why;
  try {
    std::string bytes;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
      const int err = errno;
      if (error) *error = res::FormatId(res::IDS_FILE_READ_FAILED, {path, ErrnoText(err)});
      return std::nullopt;
    }
    char buf[65536];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
      if (n > 0) bytes.append(buf, size_t(n));
    const int err = n < 0 ? errno : 0;
    ::close(fd);
    if (err != 0) {
      if (error) *error = res::FormatId(res::IDS_FILE_READ_FAILED, {path, ErrnoText(err)});
      return std::nullopt;
    }
    RecoveredBatch batch = DecodeRecoveryCopy(bytes);
    // The batch part must load as well: a copy that decodes but cannot be loaded is no
    // better than a cut one.
    CTavrionConverterDoc check;
    check.LoadFromBytes(batch.batchBytes, std::string());
    if (check.GetCount() != batch.states.size())
      throw ArchiveException(ArchiveException::Cause::kBadFormat, batch.batchBytes.size());
    return batch;
  } catch (const std::exception& e) {
    why = e.what();
  }
  // Kept aside for whoever wants to look at it, and out of the way of the next start.
  const std::string aside = path + kDamagedSuffix;
  const bool moved = ::rename(path.c_str(), aside.c_str()) == 0;
  ::unlink(LockPathOf(path).c_str());
  if (error) *error = res::FormatId(res::IDS_RECOVERY_DAMAGED, {moved ? aside : path, why});
  return std::nullopt;
}

void DiscardOrphanedCopy(const std::string& path) {
  ::unlink(path.c_str());
  if (EndsWith(path, kCopySuffix)) ::unlink(LockPathOf(path).c_str());
}

// ---- the keeper -----------------------------------------------------------------------

void RemoveLeftoverTemporaries(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  std::vector<std::string> leftovers;
  const std::string infix = std::string(kCopySuffix) + ".";
  while (const dirent* d = ::readdir(dir)) {
    // "batch-XXXXXX.tvc.YYYYYY": a copy being written, renamed over the copy once whole.
    const std::string name = d->d_name;
    const size_t at = name.rfind(infix);
    if (name.rfind(kCopyPrefix, 0) != 0 || at == std::string::npos || name.size() - at - infix.size() != 6) continue;
    const std::string copy = folder + "/" + name.substr(0, at + std::strlen(kCopySuffix));
    // A live program's temporary file is its own business.
    if (LockHeld(LockPathOf(copy))) continue;
    leftovers.push_back(folder + "/" + name);
  }
  ::closedir(dir);
  for (const std::string& path : leftovers) {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(path.c_str());
  }
}

RecoveryKeeper::RecoveryKeeper(CTavrionConverterDoc& doc, std::string folder)
    : doc_(doc), folder_(std::move(folder)), baseline_(EncodeRecoveryCopy(doc)) {
  // A program killed while it wrote its copy left the temporary file behind.
  RemoveLeftoverTemporaries(folder_);
  doc_.AddObserver(this);
  doc_.SetSavedListener([this] { MarkSaved(); });
}

RecoveryKeeper::~RecoveryKeeper() {
  doc_.RemoveObserver(this);
  doc_.SetSavedListener(nullptr);
  if (!keepOnExit_) {
    RemoveCopy();
    if (!lockPath_.empty()) ::unlink(lockPath_.c_str());
  } else if (written_.empty() && !lockPath_.empty()) {
    ::unlink(lockPath_.c_str());
  }
  if (lockFd_ >= 0) ::close(lockFd_);
}

bool RecoveryKeeper::TakeLock() {
  if (lockFd_ >= 0) return true;
  if (!CreateFolderPath(folder_)) {
    lastError_ = res::FormatId(res::IDS_FILE_CREATE_FAILED, {folder_, ErrnoText(errno)});
    return false;
  }
  std::string name = folder_ + "/" + kCopyPrefix + "XXXXXX" + kLockSuffix;
  // Not inherited: a program started from here must not keep this one's lock alive.
  const int fd = CreateUniqueFile(&name, std::strlen(kLockSuffix));
  if (fd < 0) {
    lastError_ = res::FormatId(res::IDS_FILE_CREATE_FAILED, {name, ErrnoText(errno)});
    return false;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    lastError_ = res::FormatId(res::IDS_FILE_CREATE_FAILED, {name, ErrnoText(errno)});
    ::close(fd);
    ::unlink(name.c_str());
    return false;
  }
  lockFd_ = fd;
  lockPath_ = name;
  copyPath_ = name.substr(0, name.size() - std::strlen(kLockSuffix)) + kCopySuffix;
  return true;
}

void RecoveryKeeper::Write(const std::string& bytes) {
  if (!TakeLock()) return;
  try {
    WriteFileAtomically(copyPath_, bytes);
    SyncFolder(folder_);
    written_ = bytes;
    lastError_.clear();
  } catch (const std::exception& e) {
    lastError_ = e.what();
  }
}

void RecoveryKeeper::RemoveCopy() {
  if (!copyPath_.empty() && !written_.empty()) ::unlink(copyPath_.c_str());
  written_.clear();
}

void RecoveryKeeper::Tick() {
  const std::string now = EncodeRecoveryCopy(doc_);
  if (now == baseline_) {
    RemoveCopy();
    return;
  }
  if (now != written_) Write(now);
}

void RecoveryKeeper::SaveNow() { Write(EncodeRecoveryCopy(doc_)); }

void RecoveryKeeper::MarkSaved() {
  baseline_ = EncodeRecoveryCopy(doc_);
  RemoveCopy();
}

void RecoveryKeeper::OnDocumentUpdate(DocumentHint hint, CConvertOrder*, const std::string*) {
  // A state that changes during a run is on the disk before the run goes on; so is a new
  // output file, before anything is written into it, so that the next start knows the
  // file as this program's whenever the program dies.
  if (hint == DocumentHint::kEntryStateChanged || hint == DocumentHint::kOutputCreated) {
    SaveNow();
  } else if (changed_) {
    changed_();
  }
}

}  // namespace tav
