// CTavrionConverterDoc: the batch - the owning list of entries, the selection, the
// focused entry and the remove-after-conversion flag - with its view notifications and
// its batch file (".tvc").
//
// Views (the GUI's form, the command line) register as DocumentObserver and receive the
// hints below. The conversion run (converting flag, current index, checked count) and
// the conversion graph builder join this class with the conversion part of the engine;
// until then they are reached through the two small seams at the end of the class.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "converter/engine/convertorder.h"
#include "converter/engine/owninglist.h"
#include "media/contract/mediatypes.h"

namespace tav {

// What a view notification tells the views. The entry and path arguments that come with a
// hint are named at each one; the others come without.
enum class DocumentHint {
  kReload,             // (views only) reload the controls from the entry
  kBeforeSave,         // write pending edits into the entries
  kContentsDeleted,
  kCurrentChanged,     // entry or null: the run's current entry
  kEntryStateChanged,  // entry
  kRunStopped,
  kRemoveConverted,    // entry: to be removed (removeAfterConversion)
  kMovieOpened,        // path: a movie opened through the document template
  kOutputCreated,      // entry: the run created its next output file (before writing)
};

class DocumentObserver {
 public:
  virtual ~DocumentObserver() = default;
  // entry is set for kCurrentChanged (may be null), kEntryStateChanged, kRemoveConverted
  // and kOutputCreated; path for kMovieOpened.
  virtual void OnDocumentUpdate(DocumentHint hint, CConvertOrder* entry, const std::string* path) = 0;
};

// The filter veto the graph builder asks before adding a filter (codecs.ini).
class IFilterVeto {
 public:
  virtual ~IFilterVeto() = default;
  virtual bool IsFilterAllowed(void* builder, const std::string& clsidText) = 0;
};

// What the document does with its conversion graph builder at creation. The builder of
// the conversion part implements it.
class ConversionGraphSeam {
 public:
  virtual ~ConversionGraphSeam() = default;
  virtual HRESULT Init() = 0;
  virtual void SetFilterVeto(IFilterVeto* veto) = 0;
  virtual void SetAudioTarget(const WAVEFORMATEX& format) = 0;
};

// The conversion run as the document sees it: when the document stops a run itself
// (DeleteContents, OnCloseDocument), the run ends first as on "Break", so that nothing of it
// outlives the entries it converts.
class ConversionRunSeam {
 public:
  virtual ~ConversionRunSeam() = default;
  // Ends the run and calls the document's StopConversion.
  virtual void StopConversion() = 0;
};

class CTavrionConverterDoc {
 public:
  CTavrionConverterDoc();
  ~CTavrionConverterDoc();
  CTavrionConverterDoc(const CTavrionConverterDoc&) = delete;
  CTavrionConverterDoc& operator=(const CTavrionConverterDoc&) = delete;

  // ---- views ----
  void AddObserver(DocumentObserver* observer);
  void RemoveObserver(DocumentObserver* observer);
  void UpdateAllViews(DocumentHint hint, CConvertOrder* entry = nullptr, const std::string* path = nullptr);

  // ---- life cycle ----
  bool OnNewDocument();
  // Reads a batch file. On failure the document stays empty and *error holds the text
  // for the user.
  bool OnOpenDocument(const std::string& path, std::string* error);
  // Sends kBeforeSave, then writes the batch to a temporary file renamed over path, so a
  // failure leaves the previous file as it was.
  bool OnSaveDocument(const std::string& path, std::string* error);
  // Whether the file at path may be replaced by a batch: it does not exist, is empty, or
  // begins as a batch file does. Anything else (a movie named by mistake) is kept.
  static bool MayOverwriteWithBatch(const std::string& path);
  // Sends kContentsDeleted; stops a running conversion; deletes every entry, clears selection and focus.
  void DeleteContents();
  // Stops a running conversion first.
  void OnCloseDocument();
  const std::string& GetPathName() const { return pathName_; }
  // The batch as it stands came from a file or was just written to one (open, save, new):
  // whoever keeps copies of unsaved work is told here.
  void SetSavedListener(std::function<void()> listener) { savedListener_ = std::move(listener); }
  // Names the batch file the document belongs to without reading or writing it (a batch
  // brought back from a recovery copy).
  void SetPathName(std::string path) { pathName_ = std::move(path); }
  // Whether the batch changed since it was opened, saved or made new: entries added,
  // removed or reordered, any setting of an entry, the remove-after flag. The selection and
  // what a run did to the entries' states do not count; neither does a batch without
  // entries. Sends kBeforeSave first, so that edits still in a view's controls count too.
  bool IsModified();
  // The batch as it stands becomes the one saved (a restored copy that the user keeps as
  // it was; tests).
  void SetModifiedBaseline() { savedContents_ = ContentsFingerprint(); }

  // ---- the batch format ----
  void Serialize(ArchiveWriter& ar) const;
  // Reads into new lists and replaces the contents only when everything was read;
  // throws ArchiveException (the document is then unchanged).
  void Serialize(ArchiveReader& ar);
  // The batch as the file bytes for batchPath (empty: paths stored in full).
  std::string SaveToBytes(const std::string& batchPath) const;
  void LoadFromBytes(std::string_view bytes, const std::string& batchPath);

  // ---- entries ----
  // Throws FileException when the entry's output file cannot be created.
  CConvertOrder* AddOrder(const std::string& path, const std::string& outputFolder = std::string());
  CConvertOrder* AppendOrder(std::unique_ptr<CConvertOrder> entry);
  void RemoveOrder(CConvertOrder* entry);
  void SwapOrders(CConvertOrder* a, CConvertOrder* b);
  // Simultaneous conversions: a document of one lane lists an entry that another document
  // owns, so that a run of its own converts it while the owner keeps it in its list (and its
  // recovery copy follows the entry's state). Borrowed entries are never deleted by this
  // document; ReturnBorrowed gives them all back (also done when it goes). Returns entry.
  CConvertOrder* Borrow(CConvertOrder* entry);
  void ReturnBorrowed();
  CConvertOrder* PreviousOrder(const CConvertOrder* entry) const;
  CConvertOrder* NextOrder(const CConvertOrder* entry) const;
  size_t GetCount() const { return entries_.GetCount(); }
  CConvertOrder* GetAt(size_t i) const { return entries_.GetAt(i); }
  ptrdiff_t IndexOf(const CConvertOrder* entry) const { return entries_.Find(entry); }

  // ---- selection ----
  void Select(CConvertOrder* entry);
  void SelectOnly(CConvertOrder* entry);
  void AddToSelection(CConvertOrder* entry);
  void Unselect(CConvertOrder* entry);
  void ClearSelection();
  bool IsSelected(const CConvertOrder* entry) const;
  const std::vector<CConvertOrder*>& GetSelection() const { return selection_; }
  bool SelectionHasFirst() const;
  bool SelectionHasLast() const;
  CConvertOrder* GetSingleSelected() const;
  // The selected entries in list order, starting at the focused entry when it is selected.
  void GetSelectedInOrder(std::vector<CConvertOrder*>* out) const;
  bool HasSelection() const;
  bool HasSingleSelection() const;
  bool IsSingleSelected(const CConvertOrder* entry) const;
  bool SingleSelectedUsesSubtitles() const;
  bool CanChangeScreenFit() const;

  CConvertOrder* GetFocused() const { return focused_; }
  void SetFocused(CConvertOrder* entry) { focused_ = entry; }

  // ---- checks and states ----
  bool AnyChecked() const;
  CConvertOrder* NextChecked(const CConvertOrder* entry) const;
  void ResetAllStates();
  static bool IsMovieFile(const std::string& path);

  bool GetRemoveAfterConversion() const { return removeAfterConversion_ != 0; }
  void SetRemoveAfterConversion(bool on) { removeAfterConversion_ = on ? 1 : 0; }

  // ---- the conversion run (seam) ----
  bool IsConverting() const { return converting_; }
  // Set by the conversion run when it starts and ends.
  void SetConverting(bool on) { converting_ = on; }
  void GetFileCounters(int* currentIndex, int* checkedCount) const;
  // Set by the conversion run as it moves from entry to entry.
  void SetFileCounters(int currentIndex, int checkedCount) {
    currentIndex_ = currentIndex;
    checkedCount_ = checkedCount;
  }
  // Ends a running conversion: the attached run's own teardown first (player, graph,
  // output files, current entry Interrupted), then kCurrentChanged (null) and kRunStopped.
  void StopConversion();
  // The run that StopConversion ends (null: none); the run attaches itself while it lives.
  void SetConversionRun(ConversionRunSeam* run) { run_ = run; }
  ConversionRunSeam* GetConversionRun() const { return run_; }

  // ---- the conversion graph builder (seam) ----
  // Takes the builder: initialises it, installs veto and sets the audio target.
  HRESULT AttachConversionGraph(std::unique_ptr<ConversionGraphSeam> builder, IFilterVeto* veto);
  ConversionGraphSeam* GetConversionGraph() const { return conversionGraph_.get(); }
  // PCM, 22050 Hz, 2 channels, 16 bits.
  static WAVEFORMATEX ConversionAudioTarget();

 private:
  COwningObList<CConvertOrder> entries_;
  std::vector<CConvertOrder*> selection_;  // not owning; order of selection
  std::unordered_set<const CConvertOrder*> selected_;  // the same entries, for lookups
  CConvertOrder* focused_ = nullptr;
  LONG removeAfterConversion_ = 1;
  bool converting_ = false;
  int currentIndex_ = 0;
  int checkedCount_ = 0;
  std::unique_ptr<ConversionGraphSeam> conversionGraph_;
  ConversionRunSeam* run_ = nullptr;  // not owning
  bool stoppingRun_ = false;          // the run's StopConversion is under way

  std::vector<DocumentObserver*> observers_;
  std::vector<CConvertOrder*> borrowed_;  // listed in entries_, owned by another document
  std::string pathName_;
  std::function<void()> savedListener_;
  // The entries' settings and the flag as last opened, saved or made new.
  std::string ContentsFingerprint() const;
  void MarkUnmodified();
  std::string savedContents_;
};

// Writes bytes to a temporary file next to path, flushes it to the disk and renames it over
// path, so that path holds either its old or its new contents, whatever happens. Throws
// FileException.
void WriteFileAtomically(const std::string& path, const std::string& bytes);
// Creates a new file whose name is *name with its six X before the last suffixLength
// characters replaced, never opening an existing one (mkstemps, but with mode 0666 so that
// the umask decides, as for every file the program makes). Answers the descriptor, or -1
// with errno set.
int CreateUniqueFile(std::string* name, size_t suffixLength);

// Opens path as the document template would: a ".tvc" path opens as a batch; any other
// path goes to the document, which sends kMovieOpened when it names a movie file.
bool OpenDocumentFile(CTavrionConverterDoc& doc, const std::string& path, std::string* error);

}  // namespace tav
