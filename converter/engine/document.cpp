#include "converter/engine/document.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>

#include "converter/engine/exceptions.h"
#include "converter/engine/mediatype.h"
#include "converter/engine/strings.h"

namespace tav {
namespace {

std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  const auto abs = std::filesystem::absolute(path, ec);
  return ec ? path : abs.string();
}

// A read-only mapping of a whole file (batch files are read in place, however large).
class MappedFile {
 public:
  explicit MappedFile(const std::string& path) {
    // Not blocking in open: a named pipe would wait there for a writer.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) Fail(path);
    struct stat st;
    if (::fstat(fd_, &st) != 0) Fail(path);
    if (!S_ISREG(st.st_mode)) {
      errno = S_ISDIR(st.st_mode) ? EISDIR : ESPIPE;
      Fail(path);
    }
    size_ = size_t(st.st_size);
    if (size_ == 0) return;
    void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd_, 0);
    if (p == MAP_FAILED) Fail(path);
    data_ = static_cast<const char*>(p);
  }
  ~MappedFile() {
    if (data_) ::munmap(const_cast<char*>(data_), size_);
    if (fd_ >= 0) ::close(fd_);
  }
  std::string_view Data() const { return data_ ? std::string_view(data_, size_) : std::string_view(); }

 private:
  [[noreturn]] void Fail(const std::string& path) {
    const int err = errno;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    throw FileException(path, err, res::FormatId(res::IDS_FILE_READ_FAILED, {path, ErrnoText(err)}));
  }
  int fd_ = -1;
  const char* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace

int CreateUniqueFile(std::string* name, size_t suffixLength) {
  static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  const size_t at = name->size() >= suffixLength + 6 ? name->size() - suffixLength - 6 : std::string::npos;
  if (at == std::string::npos || name->compare(at, 6, "XXXXXX") != 0) {
    errno = EINVAL;
    return -1;
  }
  static std::mutex lock;  // guards the generator shared by every thread
  static std::mt19937_64 generator{std::random_device{}() ^ (uint64_t(::getpid()) << 32)};
  for (int attempt = 0; attempt < 100; ++attempt) {
    {
      std::lock_guard guard(lock);
      for (size_t i = 0; i < 6; ++i) (*name)[at + i] = kLetters[generator() % (sizeof kLetters - 1)];
    }
    // 0666: the umask decides, as for any file a program creates.
    const int fd = ::open(name->c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

void WriteFileAtomically(const std::string& path, const std::string& bytes) {
  const auto fail = [&](int err, const std::string& name) {
    throw FileException(name, err, res::FormatId(res::IDS_FILE_CREATE_FAILED, {name, ErrnoText(err)}));
  };
  std::string temp = path + ".XXXXXX";
  const int fd = CreateUniqueFile(&temp, 0);
  if (fd < 0) fail(errno, path);
  // A file being replaced keeps its mode; a new one has the mode the umask left.
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) ::fchmod(fd, st.st_mode & 07777);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int err = n < 0 ? errno : EIO;
      ::close(fd);
      ::unlink(temp.c_str());
      fail(err, path);
    }
    done += size_t(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    fail(err, path);
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    fail(err, path);
  }
}

CTavrionConverterDoc::CTavrionConverterDoc() = default;

CTavrionConverterDoc::~CTavrionConverterDoc() {
  observers_.clear();
  StopConversion();
  ReturnBorrowed();
}

CConvertOrder* CTavrionConverterDoc::Borrow(CConvertOrder* entry) {
  if (!entry || IndexOf(entry) >= 0) return entry;
  entries_.AddTail(std::unique_ptr<CConvertOrder>(entry));
  borrowed_.push_back(entry);
  return entry;
}

void CTavrionConverterDoc::ReturnBorrowed() {
  for (CConvertOrder* entry : borrowed_) {
    // The owner deletes it; this list only lets go.
    [[maybe_unused]] CConvertOrder* kept = entries_.Release(entry).release();
    Unselect(entry);
    if (focused_ == entry) focused_ = nullptr;
  }
  borrowed_.clear();
}

// ---- views ----------------------------------------------------------------------------

void CTavrionConverterDoc::AddObserver(DocumentObserver* observer) {
  if (observer && std::find(observers_.begin(), observers_.end(), observer) == observers_.end())
    observers_.push_back(observer);
}

void CTavrionConverterDoc::RemoveObserver(DocumentObserver* observer) {
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

void CTavrionConverterDoc::UpdateAllViews(DocumentHint hint, CConvertOrder* entry, const std::string* path) {
  // A view may remove itself (or others) while notified.
  const std::vector<DocumentObserver*> views = observers_;
  for (DocumentObserver* view : views)
    if (std::find(observers_.begin(), observers_.end(), view) != observers_.end())
      view->OnDocumentUpdate(hint, entry, path);
}

// ---- life cycle -----------------------------------------------------------------------

bool CTavrionConverterDoc::OnNewDocument() {
  DeleteContents();
  pathName_.clear();
  MarkUnmodified();
  return true;
}

bool CTavrionConverterDoc::OnOpenDocument(const std::string& path, std::string* error) {
  const std::string absolute = AbsolutePath(path);
  DeleteContents();
  try {
    MappedFile file(absolute);
    LoadFromBytes(file.Data(), absolute);
  } catch (const std::exception& e) {
    DeleteContents();
    if (error) *error = res::FormatId(res::IDS_BATCH_OPEN_FAILED, {path, e.what()});
    return false;
  }
  pathName_ = absolute;
  MarkUnmodified();
  return true;
}

bool CTavrionConverterDoc::MayOverwriteWithBatch(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return errno == ENOENT;
  if (!S_ISREG(st.st_mode)) return false;
  if (st.st_size == 0) return true;
  unsigned char head[32] = {};
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  const size_t n = std::fread(head, 1, sizeof head, f);
  std::fclose(f);
  // The entry count (16 bits, or 0xFFFF and 32 bits), then the first entry with its class
  // description: tag 0xFFFF, schema, name length 13, "CConvertOrder".
  size_t at = 2;
  uint32_t count = n >= 2 ? uint32_t(head[0] | head[1] << 8) : 0;
  if (n < 2) return false;
  if (count == 0xFFFF) {
    if (n < 6) return false;
    count = uint32_t(head[2]) | uint32_t(head[3]) << 8 | uint32_t(head[4]) << 16 | uint32_t(head[5]) << 24;
    at = 6;
  }
  if (count == 0) {
    // An empty batch: empty selection, no focused entry, the remove-after flag.
    static const unsigned char kEmptyTail[] = {0, 0, 0, 0};
    return st.st_size == off_t(at + 8) && std::memcmp(head + at, kEmptyTail, sizeof kEmptyTail) == 0;
  }
  static const char kClassName[] = "CConvertOrder";
  if (n < at + 6 + 13) return false;
  return head[at] == 0xFF && head[at + 1] == 0xFF && head[at + 4] == 13 && head[at + 5] == 0 &&
         std::memcmp(head + at + 6, kClassName, 13) == 0;
}

bool CTavrionConverterDoc::OnSaveDocument(const std::string& path, std::string* error) {
  UpdateAllViews(DocumentHint::kBeforeSave);
  const std::string absolute = AbsolutePath(path);
  try {
    // Through a symbolic link the file it names is replaced, not the link; paths stay
    // relative to where the user put the batch.
    std::string target = absolute;
    std::error_code ec;
    if (std::filesystem::is_symlink(absolute, ec)) {
      const auto resolved = std::filesystem::canonical(absolute, ec);
      if (!ec) target = resolved.string();
    }
    WriteFileAtomically(target, SaveToBytes(absolute));
  } catch (const std::exception& e) {
    if (error) *error = res::FormatId(res::IDS_BATCH_SAVE_FAILED, {path, e.what()});
    return false;
  }
  pathName_ = absolute;
  MarkUnmodified();
  return true;
}

void CTavrionConverterDoc::MarkUnmodified() {
  savedContents_ = ContentsFingerprint();
  if (savedListener_) savedListener_();
}

std::string CTavrionConverterDoc::ContentsFingerprint() const {
  // Each entry as the batch file stores it, without the selection and focus that follow it
  // there.
  ArchiveWriter ar;  // every path in full: a rename of the batch file changes nothing
  ar.WriteCount(entries_.GetCount());
  for (size_t i = 0; i < entries_.GetCount(); ++i) entries_.GetAt(i)->Store(ar);
  ar.WriteDword(DWORD(removeAfterConversion_));
  return ar.Data();
}

bool CTavrionConverterDoc::IsModified() {
  if (entries_.GetCount() == 0) return false;
  UpdateAllViews(DocumentHint::kBeforeSave);
  return ContentsFingerprint() != savedContents_;
}

void CTavrionConverterDoc::DeleteContents() {
  UpdateAllViews(DocumentHint::kContentsDeleted);
  StopConversion();
  selection_.clear();
  selected_.clear();
  focused_ = nullptr;
  ReturnBorrowed();
  entries_.RemoveAll();
}

void CTavrionConverterDoc::OnCloseDocument() {
  StopConversion();
  DeleteContents();
  pathName_.clear();
}

// ---- the batch format -----------------------------------------------------------------

void CTavrionConverterDoc::Serialize(ArchiveWriter& ar) const {
  ar.WriteCount(entries_.GetCount());
  for (size_t i = 0; i < entries_.GetCount(); ++i) ar.WriteObject(entries_.GetAt(i));
  ar.WriteCount(selection_.size());
  for (const CConvertOrder* entry : selection_) ar.WriteObject(entry);
  ar.WriteObject(focused_);
  ar.WriteDword(DWORD(removeAfterConversion_));
}

void CTavrionConverterDoc::Serialize(ArchiveReader& ar) {
  using Cause = ArchiveException::Cause;
  std::vector<std::unique_ptr<CConvertOrder>> entries;
  std::unordered_set<const CConvertOrder*> known;
  const auto asEntry = [&](CObject* object) {
    auto* entry = dynamic_cast<CConvertOrder*>(object);
    if (!entry) ar.Fail(Cause::kBadClass);
    return entry;
  };

  // Every entry appears here for the first time: a reference would share ownership.
  const size_t count = ar.ReadCount();
  for (size_t i = 0; i < count; ++i) {
    bool isNew = false;
    CObject* object = ar.ReadObject(&isNew);
    if (!object || !isNew) ar.Fail(Cause::kBadFormat);
    CConvertOrder* entry = asEntry(object);
    ar.Release(object).release();
    entries.emplace_back(entry);
    known.insert(entry);
  }
  // The selection and the focused entry refer to entries already read.
  std::vector<CConvertOrder*> selection;
  std::unordered_set<const CConvertOrder*> selected;
  const size_t selectedCount = ar.ReadCount();
  for (size_t i = 0; i < selectedCount; ++i) {
    bool isNew = false;
    CObject* object = ar.ReadObject(&isNew);
    if (!object || isNew) ar.Fail(Cause::kBadFormat);
    CConvertOrder* entry = asEntry(object);
    if (!known.count(entry)) ar.Fail(Cause::kBadIndex);
    if (selected.insert(entry).second) selection.push_back(entry);
  }
  bool isNew = false;
  CObject* focusedObject = ar.ReadObject(&isNew);
  if (isNew) ar.Fail(Cause::kBadFormat);
  CConvertOrder* focused = focusedObject ? asEntry(focusedObject) : nullptr;
  if (focused && !known.count(focused)) ar.Fail(Cause::kBadIndex);
  const LONG removeAfter = LONG(ar.ReadDword());

  selection_.clear();
  selected_.clear();
  focused_ = nullptr;
  entries_.RemoveAll();
  entries_.Reserve(entries.size());
  for (auto& entry : entries) entries_.AddTail(std::move(entry));
  selection_ = std::move(selection);
  selected_ = std::move(selected);
  focused_ = focused;
  removeAfterConversion_ = removeAfter;
}

std::string CTavrionConverterDoc::SaveToBytes(const std::string& batchPath) const {
  ArchiveWriter ar(batchPath);
  Serialize(ar);
  return ar.Data();
}

void CTavrionConverterDoc::LoadFromBytes(std::string_view bytes, const std::string& batchPath) {
  ArchiveReader ar(bytes, batchPath, {&CConvertOrder::kClass});
  Serialize(ar);
}

// ---- entries --------------------------------------------------------------------------

CConvertOrder* CTavrionConverterDoc::AddOrder(const std::string& path, const std::string& outputFolder) {
  return entries_.AddTail(std::make_unique<CConvertOrder>(path, outputFolder));
}

CConvertOrder* CTavrionConverterDoc::AppendOrder(std::unique_ptr<CConvertOrder> entry) {
  return entry ? entries_.AddTail(std::move(entry)) : nullptr;
}

void CTavrionConverterDoc::RemoveOrder(CConvertOrder* entry) {
  const ptrdiff_t index = entries_.Find(entry);
  if (index < 0) return;
  const bool wasSelected = IsSelected(entry);
  if (wasSelected) {
    selection_.erase(std::find(selection_.begin(), selection_.end(), entry));
    selected_.erase(entry);
  }
  if (focused_ == entry) focused_ = nullptr;
  if (auto lent = std::find(borrowed_.begin(), borrowed_.end(), entry); lent != borrowed_.end()) {
    borrowed_.erase(lent);
    [[maybe_unused]] CConvertOrder* kept = entries_.Release(entry).release();  // its owner's to delete
  } else {
    entries_.Remove(entry);
  }
  if (wasSelected && !entries_.IsEmpty()) {
    // The entry that followed it, or the new last one.
    const size_t next = std::min(size_t(index), entries_.GetCount() - 1);
    AddToSelection(entries_.GetAt(next));
  }
}

void CTavrionConverterDoc::SwapOrders(CConvertOrder* a, CConvertOrder* b) {
  const ptrdiff_t ia = entries_.Find(a), ib = entries_.Find(b);
  if (ia >= 0 && ib >= 0) entries_.Swap(size_t(ia), size_t(ib));
}

CConvertOrder* CTavrionConverterDoc::PreviousOrder(const CConvertOrder* entry) const {
  const ptrdiff_t i = entries_.Find(entry);
  return i > 0 ? entries_.GetAt(size_t(i - 1)) : nullptr;
}

CConvertOrder* CTavrionConverterDoc::NextOrder(const CConvertOrder* entry) const {
  const ptrdiff_t i = entries_.Find(entry);
  return i >= 0 && size_t(i + 1) < entries_.GetCount() ? entries_.GetAt(size_t(i + 1)) : nullptr;
}

// ---- selection ------------------------------------------------------------------------

// A selection never holds an entry twice, or an entry that is not in the batch.
void CTavrionConverterDoc::Select(CConvertOrder* entry) { AddToSelection(entry); }

void CTavrionConverterDoc::SelectOnly(CConvertOrder* entry) {
  ClearSelection();
  AddToSelection(entry);
}

void CTavrionConverterDoc::AddToSelection(CConvertOrder* entry) {
  if (!entry || selected_.count(entry) || entries_.Find(entry) < 0) return;
  selection_.push_back(entry);
  selected_.insert(entry);
}

void CTavrionConverterDoc::Unselect(CConvertOrder* entry) {
  if (!selected_.erase(entry)) return;
  selection_.erase(std::find(selection_.begin(), selection_.end(), entry));
}

void CTavrionConverterDoc::ClearSelection() {
  selection_.clear();
  selected_.clear();
}

bool CTavrionConverterDoc::IsSelected(const CConvertOrder* entry) const { return selected_.count(entry) != 0; }

bool CTavrionConverterDoc::SelectionHasFirst() const {
  return !entries_.IsEmpty() && IsSelected(entries_.GetHead());
}

bool CTavrionConverterDoc::SelectionHasLast() const {
  return !entries_.IsEmpty() && IsSelected(entries_.GetTail());
}

CConvertOrder* CTavrionConverterDoc::GetSingleSelected() const {
  return selection_.size() == 1 ? selection_.front() : nullptr;
}

void CTavrionConverterDoc::GetSelectedInOrder(std::vector<CConvertOrder*>* out) const {
  if (!out) return;
  const size_t first = out->size();
  size_t focusAt = SIZE_MAX;
  for (size_t i = 0; i < entries_.GetCount(); ++i) {
    CConvertOrder* entry = entries_.GetAt(i);
    if (!IsSelected(entry)) continue;
    if (entry == focused_) focusAt = out->size();
    out->push_back(entry);
  }
  if (focusAt != SIZE_MAX) std::rotate(out->begin() + ptrdiff_t(first), out->begin() + ptrdiff_t(focusAt), out->end());
}

bool CTavrionConverterDoc::HasSelection() const { return !converting_ && !selection_.empty(); }

bool CTavrionConverterDoc::HasSingleSelection() const { return !converting_ && selection_.size() == 1; }

bool CTavrionConverterDoc::IsSingleSelected(const CConvertOrder* entry) const {
  return selection_.size() == 1 && selection_.front() == entry;
}

bool CTavrionConverterDoc::SingleSelectedUsesSubtitles() const {
  return HasSingleSelection() && selection_.front()->UsesSubtitles();
}

bool CTavrionConverterDoc::CanChangeScreenFit() const {
  return HasSingleSelection() && !selection_.front()->Is4by3();
}

// ---- checks and states ----------------------------------------------------------------

bool CTavrionConverterDoc::AnyChecked() const {
  if (converting_) return false;
  for (size_t i = 0; i < entries_.GetCount(); ++i)
    if (entries_.GetAt(i)->IsChecked()) return true;
  return false;
}

CConvertOrder* CTavrionConverterDoc::NextChecked(const CConvertOrder* entry) const {
  const ptrdiff_t start = entries_.Find(entry);
  if (start < 0) return nullptr;
  for (size_t i = size_t(start); i < entries_.GetCount(); ++i)
    if (entries_.GetAt(i)->IsChecked()) return entries_.GetAt(i);
  return nullptr;
}

void CTavrionConverterDoc::ResetAllStates() {
  for (size_t i = 0; i < entries_.GetCount(); ++i) entries_.GetAt(i)->ResetState();
}

bool CTavrionConverterDoc::IsMovieFile(const std::string& path) {
  const std::string ext = LowerExtension(path);
  // A name without an extension would match any list: it is no movie.
  if (ext.empty()) return false;
  const std::string list = ToLowerAscii(res::Text(res::IDS_MOVIE_EXTENSIONS)) + ".";
  return list.find(ext + ".") != std::string::npos;
}

// ---- the conversion run and graph (seams) ---------------------------------------------

void CTavrionConverterDoc::GetFileCounters(int* currentIndex, int* checkedCount) const {
  if (currentIndex) *currentIndex = currentIndex_;
  if (checkedCount) *checkedCount = checkedCount_;
}

void CTavrionConverterDoc::StopConversion() {
  if (!converting_) return;
  if (run_ && !stoppingRun_) {
    // The run tears down and comes back here.
    stoppingRun_ = true;
    run_->StopConversion();
    stoppingRun_ = false;
    if (!converting_) return;
  }
  converting_ = false;
  UpdateAllViews(DocumentHint::kCurrentChanged, nullptr);
  UpdateAllViews(DocumentHint::kRunStopped);
}

HRESULT CTavrionConverterDoc::AttachConversionGraph(std::unique_ptr<ConversionGraphSeam> builder,
                                                    IFilterVeto* veto) {
  if (!builder) return E_POINTER;
  const HRESULT hr = builder->Init();
  builder->SetFilterVeto(veto);
  builder->SetAudioTarget(ConversionAudioTarget());
  conversionGraph_ = std::move(builder);
  return hr;
}

WAVEFORMATEX CTavrionConverterDoc::ConversionAudioTarget() { return PcmFormat(22050, 2, 16); }

// ---- the document template ------------------------------------------------------------

bool OpenDocumentFile(CTavrionConverterDoc& doc, const std::string& path, std::string* error) {
  if (LowerExtension(path) == ".tvc") return doc.OnOpenDocument(path, error);
  if (CTavrionConverterDoc::IsMovieFile(path)) {
    const std::string moviePath = path;
    doc.UpdateAllViews(DocumentHint::kMovieOpened, nullptr, &moviePath);
  }
  return true;
}

}  // namespace tav
