// OrderListView: the form's list of batch entries - one row per entry, in document order,
// with the entry's check box, source file name and status text. The list holds the
// entries' pointers as its rows (the document owns them) and reports every change of a
// row's selection, focus or check box to the form, which decides what follows: the list
// never changes an entry itself.
//
// The full batch list control (columns with icons, the header menu, kept widths) lives
// in converter/ui/batchlist; the form drives its list only through this class's
// operations and the rowStateChanged / rowActivated / contextMenuAt signals.
#pragma once

#include <QAbstractTableModel>
#include <QTreeView>
#include <vector>

namespace tav {

class CConvertOrder;

// One row's change as the form sees it.
struct RowStateChange {
  CConvertOrder* entry = nullptr;
  bool selectedChanged = false;
  bool selected = false;
  bool focusChanged = false;
  bool focused = false;
  bool checkChanged = false;
  bool checked = false;  // the state the user asked for
};

class OrderListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  static constexpr int kSourceColumn = 0;
  static constexpr int kStatusColumn = 1;
  static constexpr int kColumnCount = 2;

  explicit OrderListModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // A click on a check box is reported, not applied: the entry keeps its flag until the
  // form sets it and refreshes the row.
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

  void SetRows(std::vector<CConvertOrder*> rows);
  void Insert(int row, CConvertOrder* entry);
  void Remove(CConvertOrder* entry);
  void Swap(int a, int b);
  void Refresh(CConvertOrder* entry);
  void RefreshAll();
  int RowOf(const CConvertOrder* entry) const;
  CConvertOrder* EntryAt(int row) const;
  const std::vector<CConvertOrder*>& Rows() const { return rows_; }

 signals:
  void checkRequested(CConvertOrder* entry, bool checked);

 private:
  std::vector<CConvertOrder*> rows_;  // not owning
};

class OrderListView : public QTreeView {
  Q_OBJECT
 public:
  explicit OrderListView(QWidget* parent = nullptr);

  OrderListModel* Model() const { return model_; }
  void SetEntries(std::vector<CConvertOrder*> rows);
  void InsertEntry(CConvertOrder* entry);  // appended
  void RemoveEntry(CConvertOrder* entry);
  void SwapEntries(CConvertOrder* a, CConvertOrder* b);
  void RefreshEntry(CConvertOrder* entry) { model_->Refresh(entry); }
  void RefreshAll() { model_->RefreshAll(); }

  void SelectEntry(CConvertOrder* entry, bool focus = true);
  void ClearSelection();
  std::vector<CConvertOrder*> SelectedEntries() const;  // in list order
  bool IsEntrySelected(const CConvertOrder* entry) const;
  CConvertOrder* FocusedEntry() const;
  // While converting: only the entry being converted is shown selected. No row changes
  // are reported for it.
  void ShowConverting(CConvertOrder* entry);
  // Turns the list's repainting off and on around a long change.
  void SetRedraw(bool on);

 signals:
  void rowStateChanged(const tav::RowStateChange& change);
  void rowActivated(tav::CConvertOrder* entry);
  // entry null: the empty area of the list.
  void contextMenuAt(tav::CConvertOrder* entry, const QPoint& globalPos);

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void OnSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected);
  void OnCurrentChanged(const QModelIndex& current, const QModelIndex& previous);

  OrderListModel* model_;
  bool quiet_ = false;  // set while the list changes its own selection without reporting
};

}  // namespace tav
