#include "converter/ui/form/orderlist.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <algorithm>

#include "converter/engine/convertorder.h"
#include "converter/engine/strings.h"

namespace tav {

// ---- model ----------------------------------------------------------------------------

int OrderListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int OrderListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant OrderListModel::data(const QModelIndex& index, int role) const {
  CConvertOrder* e = EntryAt(index.row());
  if (!e) return {};
  if (index.column() == kSourceColumn) {
    if (role == Qt::DisplayRole) return QString::fromStdString(e->SourcePath().FileName());
    if (role == Qt::ToolTipRole) return QString::fromStdString(e->SourcePath().Full());
    if (role == Qt::CheckStateRole) return e->IsChecked() ? Qt::Checked : Qt::Unchecked;
  } else if (index.column() == kStatusColumn) {
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) return QString::fromStdString(e->GetStatusText());
  }
  return {};
}

QVariant OrderListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  const UINT id = section == kSourceColumn ? res::IDS_COLUMN_SOURCE : res::IDS_COLUMN_STATUS;
  return QString::fromStdString(res::Text(id));
}

Qt::ItemFlags OrderListModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  if (index.column() == kSourceColumn) f |= Qt::ItemIsUserCheckable;
  return f;
}

bool OrderListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  CConvertOrder* e = EntryAt(index.row());
  if (!e || role != Qt::CheckStateRole) return false;
  emit checkRequested(e, value.toInt() == Qt::Checked);
  return true;
}

void OrderListModel::SetRows(std::vector<CConvertOrder*> rows) {
  beginResetModel();
  rows_ = std::move(rows);
  endResetModel();
}

void OrderListModel::Insert(int row, CConvertOrder* entry) {
  row = std::clamp(row, 0, static_cast<int>(rows_.size()));
  beginInsertRows(QModelIndex(), row, row);
  rows_.insert(rows_.begin() + row, entry);
  endInsertRows();
}

void OrderListModel::Remove(CConvertOrder* entry) {
  const int row = RowOf(entry);
  if (row < 0) return;
  beginRemoveRows(QModelIndex(), row, row);
  rows_.erase(rows_.begin() + row);
  endRemoveRows();
}

void OrderListModel::Swap(int a, int b) {
  if (a == b || a < 0 || b < 0 || a >= rowCount() || b >= rowCount()) return;
  std::swap(rows_[a], rows_[b]);
  emit dataChanged(index(std::min(a, b), 0), index(std::max(a, b), kColumnCount - 1));
}

void OrderListModel::Refresh(CConvertOrder* entry) {
  const int row = RowOf(entry);
  if (row >= 0) emit dataChanged(index(row, 0), index(row, kColumnCount - 1));
}

void OrderListModel::RefreshAll() {
  if (!rows_.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, kColumnCount - 1));
}

int OrderListModel::RowOf(const CConvertOrder* entry) const {
  auto it = std::find(rows_.begin(), rows_.end(), entry);
  return it == rows_.end() ? -1 : static_cast<int>(it - rows_.begin());
}

CConvertOrder* OrderListModel::EntryAt(int row) const {
  return row >= 0 && row < rowCount() ? rows_[static_cast<size_t>(row)] : nullptr;
}

// ---- view -----------------------------------------------------------------------------

OrderListView::OrderListView(QWidget* parent) : QTreeView(parent), model_(new OrderListModel(this)) {
  setModel(model_);
  setRootIsDecorated(false);
  setUniformRowHeights(true);
  setAllColumnsShowFocus(true);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  header()->setStretchLastSection(true);
  header()->resizeSection(OrderListModel::kSourceColumn, 200);
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &OrderListView::OnSelectionChanged);
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this, &OrderListView::OnCurrentChanged);
  connect(model_, &OrderListModel::checkRequested, this, [this](CConvertOrder* e, bool checked) {
    RowStateChange change;
    change.entry = e;
    change.checkChanged = true;
    change.checked = checked;
    emit rowStateChanged(change);
  });
  connect(this, &QAbstractItemView::activated, this, [this](const QModelIndex& index) {
    if (CConvertOrder* e = model_->EntryAt(index.row())) emit rowActivated(e);
  });
}

void OrderListView::SetEntries(std::vector<CConvertOrder*> rows) {
  quiet_ = true;
  model_->SetRows(std::move(rows));
  quiet_ = false;
}

void OrderListView::InsertEntry(CConvertOrder* entry) { model_->Insert(model_->rowCount(), entry); }

void OrderListView::RemoveEntry(CConvertOrder* entry) {
  // The row's selection goes with it; the form has already taken the entry out of the
  // document's selection.
  quiet_ = true;
  model_->Remove(entry);
  quiet_ = false;
}

void OrderListView::SwapEntries(CConvertOrder* a, CConvertOrder* b) {
  const int ra = model_->RowOf(a), rb = model_->RowOf(b);
  if (ra < 0 || rb < 0) return;
  const bool aSel = IsEntrySelected(a), bSel = IsEntrySelected(b);
  const CConvertOrder* focused = FocusedEntry();
  quiet_ = true;
  model_->Swap(ra, rb);
  // Selection and focus follow the entries, not the rows.
  auto mark = [this](int row, bool on) {
    selectionModel()->select(model_->index(row, 0), (on ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                                                        QItemSelectionModel::Rows);
  };
  mark(rb, aSel);
  mark(ra, bSel);
  if (focused == a) selectionModel()->setCurrentIndex(model_->index(rb, 0), QItemSelectionModel::NoUpdate);
  else if (focused == b) selectionModel()->setCurrentIndex(model_->index(ra, 0), QItemSelectionModel::NoUpdate);
  quiet_ = false;
}

void OrderListView::SelectEntry(CConvertOrder* entry, bool focus) {
  const int row = model_->RowOf(entry);
  if (row < 0) return;
  const QModelIndex index = model_->index(row, 0);
  selectionModel()->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
  if (focus) selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
  scrollTo(index);
}

void OrderListView::ClearSelection() { selectionModel()->clearSelection(); }

std::vector<CConvertOrder*> OrderListView::SelectedEntries() const {
  std::vector<CConvertOrder*> out;
  for (CConvertOrder* e : model_->Rows())
    if (IsEntrySelected(e)) out.push_back(e);
  return out;
}

bool OrderListView::IsEntrySelected(const CConvertOrder* entry) const {
  const int row = model_->RowOf(entry);
  return row >= 0 && selectionModel()->isRowSelected(row, QModelIndex());
}

CConvertOrder* OrderListView::FocusedEntry() const {
  const QModelIndex current = selectionModel()->currentIndex();
  return current.isValid() ? model_->EntryAt(current.row()) : nullptr;
}

void OrderListView::ShowConverting(CConvertOrder* entry) {
  quiet_ = true;
  selectionModel()->clearSelection();
  const int row = model_->RowOf(entry);
  if (row >= 0) {
    const QModelIndex index = model_->index(row, 0);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    scrollTo(index);
  }
  quiet_ = false;
}

void OrderListView::SetRedraw(bool on) { setUpdatesEnabled(on); }

void OrderListView::contextMenuEvent(QContextMenuEvent* event) {
  const QModelIndex index = indexAt(viewport()->mapFromGlobal(event->globalPos()));
  emit contextMenuAt(index.isValid() ? model_->EntryAt(index.row()) : nullptr, event->globalPos());
}

void OrderListView::OnSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
  if (quiet_) return;
  // Rows, each once, lost selections first (the form saves the old entry before it loads
  // the new one).
  auto report = [this](const QItemSelection& sel, bool on) {
    std::vector<int> rows;
    for (const QModelIndex& i : sel.indexes())
      if (std::find(rows.begin(), rows.end(), i.row()) == rows.end()) rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    for (int row : rows) {
      RowStateChange change;
      change.entry = model_->EntryAt(row);
      if (!change.entry) continue;
      change.selectedChanged = true;
      change.selected = on;
      emit rowStateChanged(change);
    }
  };
  report(deselected, false);
  report(selected, true);
}

void OrderListView::OnCurrentChanged(const QModelIndex& current, const QModelIndex& previous) {
  if (quiet_) return;
  if (CConvertOrder* e = previous.isValid() ? model_->EntryAt(previous.row()) : nullptr) {
    RowStateChange change;
    change.entry = e;
    change.focusChanged = true;
    change.focused = false;
    change.selected = IsEntrySelected(e);
    emit rowStateChanged(change);
  }
  if (CConvertOrder* e = current.isValid() ? model_->EntryAt(current.row()) : nullptr) {
    RowStateChange change;
    change.entry = e;
    change.focusChanged = true;
    change.focused = true;
    change.selected = IsEntrySelected(e);
    emit rowStateChanged(change);
  }
}

}  // namespace tav
