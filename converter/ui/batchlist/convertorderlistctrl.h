// CConvertOrderListCtrl: the batch list of the main form (control 1000). One row per batch
// entry with its check box, the source file's name and icon, the status, and the
// duration, frame size and file size columns (the last three can be hidden from the
// header's menu). The list only shows entries and reports what the user does; the form
// turns the reports into changes of the document.
//
// Columns size themselves: "Source file" takes the room the others leave, the others fit
// their contents. A column the user has sized keeps the width the user gave it. Widths are
// kept per logical column and, with the shown columns and which widths the user set, in
// the profile section "SRCFILES" ("COLUMN0".."COLUMN4", "COLUMN0_USER".."COLUMN4_USER",
// "COLUMN2_ENBL".."COLUMN4_ENBL"): read when the list is made, written when it is
// destroyed.
//
// A converting entry's Status cell shows its progress (SetProgress); entries that failed
// or were interrupted stand out (see CConvertOrderDelegate).
//
// Reports: ItemStateChanged for every row whose selected or focused bit or check box
// changed (by the user or by the operations below), ItemActivated on double-click or
// Enter, ContextMenu on a right click. Left and right arrow keys are swallowed; the
// Insert and Delete keys belong to the actions the owner adds to the list.
#pragma once

#include <QElapsedTimer>
#include <QTreeView>
#include <array>
#include <vector>

#include "converter/engine/convertorder.h"
#include "converter/ui/batchlist/convertordermodel.h"

class QMenu;

namespace tav::ui {

class CConvertOrderListHeaderCtrl;

class CConvertOrderListCtrl : public QTreeView {
  Q_OBJECT
 public:
  // Item state bits of ItemStateChanged.
  static constexpr unsigned kStateFocused = 0x0001;
  static constexpr unsigned kStateSelected = 0x0002;
  static constexpr unsigned kStateImageMask = 0xF000;
  static constexpr unsigned kStateUnchecked = 0x1000;  // state image 1
  static constexpr unsigned kStateChecked = 0x2000;    // state image 2
  static constexpr int kDefaultColumnWidth = 100;

  explicit CConvertOrderListCtrl(QWidget* parent = nullptr);
  ~CConvertOrderListCtrl() override;

  // ---- rows ----
  void Insert(CConvertOrder* entry);
  // Loads many entries at once, with painting held (a loaded batch).
  void InsertAll(const std::vector<CConvertOrder*>& entries);
  void Refresh(const CConvertOrder* entry);
  void RefreshRow(int row);
  void RefreshAll();
  // The entry's source changed: rewrites its row; with keepState false the row's selected
  // and focused state becomes select.
  void Update(const CConvertOrder* entry, bool select, bool keepState);
  void Remove(const CConvertOrder* entry);
  void RemoveAll();
  int GetItemCount() const { return model_->rowCount(); }
  CConvertOrder* EntryAt(int row) const { return model_->EntryAt(row); }
  int RowOf(const CConvertOrder* entry) const { return model_->RowOf(entry); }
  bool IsRowChecked(int row) const { return model_->IsRowChecked(row); }
  // The header's box shows the rows: checked when all are, partly when some are (kept up
  // to date by the list itself).
  void SyncCheckAll();
  // Exchanges the contents of two rows (entry, check box, selected and focused state);
  // the rows stay where they are.
  void SwapWith(const CConvertOrder* entry, const CConvertOrder* neighbour);
  // The bar in the entry's Status cell while it converts: percent, or -1 for none.
  void SetProgress(const CConvertOrder* entry, int percent);
  // Takes every row's bar away (the run ended).
  void ClearProgress();
  int ProgressOf(const CConvertOrder* entry) const;

  // ---- selection ----
  void Select(const CConvertOrder* entry, bool on);
  void SelectOnly(const std::vector<CConvertOrder*>& entries);
  void ClearSelection();
  // Appends the entries of the selected rows, in row order.
  void GetSelected(std::vector<CConvertOrder*>* out) const;
  bool IsRowSelected(int row) const;
  // Later, from the event loop: the entry's row becomes the only selected and focused row
  // and is scrolled into view (the run moved on to that entry).
  void ShowConverting(CConvertOrder* entry);

  // ---- columns ----
  bool IsColumnShown(int logical) const { return enabled_[size_t(logical)]; }
  // Shows or hides one of the hideable columns (2 to 4); columns 0 and 1 always show.
  void ShowColumn(int logical, bool show);
  int ColumnWidth(int logical) const { return widths_[size_t(logical)]; }
  // True when the user gave the column its width (it then neither stretches nor fits).
  bool IsColumnUserSized(int logical) const { return userSized_[size_t(logical)]; }
  // Forgets the width the user gave a column: it fits its contents (or stretches) again.
  void ResetColumnWidth(int logical);
  // The columns are to be fitted again (rows changed) and have not been yet.
  bool IsFitPending() const { return fitPending_; }
  // Writes the shown columns and widths into the profile (also done on destruction).
  void SaveSettings() const;

  CConvertOrderListHeaderCtrl* Header() const { return header_; }
  CConvertOrderModel* Model() const { return model_; }
  // The header's menu, its items checked for the shown columns (for the right button on
  // the header; tests trigger its actions).
  QMenu* HeaderMenu();

 signals:
  void ItemStateChanged(int row, CConvertOrder* entry, unsigned oldState, unsigned newState);
  void ItemActivated(int row, CConvertOrder* entry);
  // onRow: the point is on a row (the menu of a row), else on empty space.
  void ContextMenu(const QPoint& globalPos, bool onRow);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void updateGeometries() override;

 private:
  unsigned StateOf(int row) const;
  void OnSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected);
  void OnCurrentChanged(const QModelIndex& current, const QModelIndex& previous);
  // The header's box: checks every row, or clears them all when all were checked.
  void OnCheckAll(bool checked);
  void ApplyColumns();
  // Sizes the columns the user has not sized: the information columns to their contents,
  // then the source column to the room left (FitSourceColumn).
  void FitColumns();
  void FitSourceColumn();
  // FitColumns once the events in hand are handled (many rows change at once).
  void ScheduleFit();
  void SelectRows(const std::vector<int>& rows, int focusRow);

  CConvertOrderModel* model_;
  CConvertOrderListHeaderCtrl* header_;
  QMenu* headerMenu_ = nullptr;
  std::array<bool, CConvertOrderModel::kColumnCount> enabled_{};
  std::array<int, CConvertOrderModel::kColumnCount> widths_{};
  std::array<bool, CConvertOrderModel::kColumnCount> userSized_{};
  // Set while the list rearranges rows itself: selection moves that are not changes of
  // any entry's state are not reported.
  bool quiet_ = false;
  // Set while the list sizes or shows columns itself: the header's resizes are then not
  // widths the user chose.
  bool rebuilding_ = false;
  bool fitPending_ = false;
  QElapsedTimer lastFit_;  // since the columns were last fitted
};

}  // namespace tav::ui
