#include "converter/ui/batchlist/convertorderlistctrl.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QTimer>
#include <unordered_set>

#include "converter/engine/strings.h"
#include "converter/ui/batchlist/convertorderdelegate.h"
#include "converter/ui/batchlist/convertorderlistheader.h"
#include "converter/ui/controls/profile.h"
#include "converter/ui/controls/uitext.h"

namespace tav::ui {

namespace {
constexpr const char* kSection = "SRCFILES";
// Fitting measures up to a thousand rows of every column: while rows keep changing (a big
// batch probed in the background) it happens at most this often.
constexpr int kFitIntervalMs = 150;
// The source column, stretched, never gets narrower than this many average characters, and
// a column fitted to its texts takes at most this share of the list, so that a long error
// leaves the names readable (the cell's tooltip has the whole text).
constexpr int kSourceMinChars = 18;
constexpr double kFittedMaxShare = 0.4;

std::string ColumnKey(int logical, const char* suffix = "") {
  return "COLUMN" + std::to_string(logical) + suffix;
}
}  // namespace

CConvertOrderListCtrl::CConvertOrderListCtrl(QWidget* parent)
    : QTreeView(parent), model_(new CConvertOrderModel(this)), header_(new CConvertOrderListHeaderCtrl(this)) {
  for (int i = 0; i < CConvertOrderModel::kColumnCount; ++i) {
    widths_[size_t(i)] = GetProfileInt(kSection, ColumnKey(i).c_str(), kDefaultColumnWidth);
    if (widths_[size_t(i)] <= 0) widths_[size_t(i)] = kDefaultColumnWidth;
    userSized_[size_t(i)] = GetProfileInt(kSection, ColumnKey(i, "_USER").c_str(), 0) != 0;
    enabled_[size_t(i)] = i < 2 || GetProfileInt(kSection, ColumnKey(i, "_ENBL").c_str(), 1) != 0;
  }

  setHeader(header_);
  setModel(model_);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);  // keeps big batches cheap to lay out
  setAllColumnsShowFocus(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setItemDelegate(new CConvertOrderDelegate(this));
  header_->setStretchLastSection(false);
  header_->setSectionResizeMode(QHeaderView::Interactive);

  connect(header_, &QHeaderView::sectionResized, this, [this](int logical, int, int size) {
    if (size <= 0 || logical < 0 || logical >= CConvertOrderModel::kColumnCount) return;
    widths_[size_t(logical)] = size;
    if (rebuilding_) return;
    // A width the list did not give itself is the user's (a drag on the header).
    userSized_[size_t(logical)] = true;
    if (logical != CConvertOrderModel::kSourceColumn) FitSourceColumn();
  });
  ApplyColumns();
  // A double click on a column's edge gives it back to the list (fit, or stretch).
  connect(header_, &QHeaderView::sectionHandleDoubleClicked, this, &CConvertOrderListCtrl::ResetColumnWidth);
  connect(header_, &CConvertOrderListHeaderCtrl::CheckAllClicked, this, &CConvertOrderListCtrl::OnCheckAll);
  connect(header_, &CConvertOrderListHeaderCtrl::HeaderMenuRequested, this,
          [this](const QPoint& at) { HeaderMenu()->popup(at); });
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &CConvertOrderListCtrl::OnSelectionChanged);
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this, &CConvertOrderListCtrl::OnCurrentChanged);
  connect(model_, &CConvertOrderModel::CheckChanged, this, [this](int row, bool checked) {
    const unsigned state = StateOf(row) & ~kStateImageMask;
    emit ItemStateChanged(row, model_->EntryAt(row), state | (checked ? kStateUnchecked : kStateChecked),
                          state | (checked ? kStateChecked : kStateUnchecked));
  });
  // The header's box follows the rows' checks, however they change.
  for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
    connect(model_, signal, this, [this] { SyncCheckAll(); });
  connect(model_, &QAbstractItemModel::modelReset, this, [this] { SyncCheckAll(); });
  connect(model_, &QAbstractItemModel::dataChanged, this,
          [this](const QModelIndex&, const QModelIndex&, const QList<int>& roles) {
            // A moving bar changes neither the checks nor any text the columns fit.
            if (roles.size() == 1 && roles.front() == CConvertOrderModel::kProgressRole) return;
            SyncCheckAll();
            ScheduleFit();
          });
  for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
    connect(model_, signal, this, [this] { ScheduleFit(); });
  connect(model_, &QAbstractItemModel::modelReset, this, [this] { ScheduleFit(); });
  connect(this, &QAbstractItemView::activated, this,
          [this](const QModelIndex& index) { emit ItemActivated(index.row(), model_->EntryAt(index.row())); });
}

CConvertOrderListCtrl::~CConvertOrderListCtrl() { SaveSettings(); }

void CConvertOrderListCtrl::SaveSettings() const {
  for (int i = 0; i < CConvertOrderModel::kColumnCount; ++i) {
    WriteProfileInt(kSection, ColumnKey(i, "_ENBL").c_str(), i < 2 || enabled_[size_t(i)] ? 1 : 0);
    WriteProfileInt(kSection, ColumnKey(i).c_str(), widths_[size_t(i)]);
    WriteProfileInt(kSection, ColumnKey(i, "_USER").c_str(), userSized_[size_t(i)] ? 1 : 0);
  }
}

// ---- rows ----

void CConvertOrderListCtrl::Insert(CConvertOrder* entry) {
  if (entry) model_->Append(entry);
}

void CConvertOrderListCtrl::InsertAll(const std::vector<CConvertOrder*>& entries) {
  setUpdatesEnabled(false);
  model_->AppendAll(entries);
  setUpdatesEnabled(true);
}

void CConvertOrderListCtrl::Refresh(const CConvertOrder* entry) { RefreshRow(model_->RowOf(entry)); }

void CConvertOrderListCtrl::RefreshRow(int row) { model_->RefreshRow(row); }

void CConvertOrderListCtrl::RefreshAll() {
  setUpdatesEnabled(false);
  for (int row = 0; row < model_->rowCount(); ++row) model_->RefreshRow(row);
  setUpdatesEnabled(true);
}

void CConvertOrderListCtrl::Update(const CConvertOrder* entry, bool select, bool keepState) {
  const int row = model_->RowOf(entry);
  if (row < 0) return;
  model_->RefreshRow(row);
  if (keepState) return;
  const QModelIndex index = model_->index(row, 0);
  selectionModel()->select(index, (select ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                                      QItemSelectionModel::Rows);
  if (select)
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
  else if (currentIndex().row() == row)
    selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
}

void CConvertOrderListCtrl::Remove(const CConvertOrder* entry) { model_->RemoveRow(model_->RowOf(entry)); }

void CConvertOrderListCtrl::SetProgress(const CConvertOrder* entry, int percent) {
  const int row = model_->RowOf(entry);
  const bool hadBar = row >= 0 && model_->index(row, CConvertOrderModel::kStatusColumn)
                                          .data(CConvertOrderModel::kProgressRole)
                                          .toInt() >= 0;
  model_->SetProgress(row, percent);
  // The first bar may need a wider Status column than its texts did.
  if (!hadBar && percent >= 0) ScheduleFit();
}

void CConvertOrderListCtrl::ClearProgress() { model_->ClearProgress(); }

int CConvertOrderListCtrl::ProgressOf(const CConvertOrder* entry) const {
  const int row = model_->RowOf(entry);
  return row < 0 ? -1 : model_->index(row, CConvertOrderModel::kStatusColumn).data(CConvertOrderModel::kProgressRole).toInt();
}

void CConvertOrderListCtrl::RemoveAll() { model_->Clear(); }

void CConvertOrderListCtrl::SwapWith(const CConvertOrder* entry, const CConvertOrder* neighbour) {
  const int a = model_->RowOf(entry), b = model_->RowOf(neighbour);
  if (a < 0 || b < 0 || a == b) return;
  const bool aSelected = IsRowSelected(a), bSelected = IsRowSelected(b);
  const int current = currentIndex().row();
  // The entries keep their selection, so nothing is reported while it moves with them.
  quiet_ = true;
  setUpdatesEnabled(false);
  model_->SwapRows(a, b);
  auto flag = [](bool on) {
    return (on ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) | QItemSelectionModel::Rows;
  };
  selectionModel()->select(model_->index(a, 0), flag(bSelected));
  selectionModel()->select(model_->index(b, 0), flag(aSelected));
  if (current == a || current == b)
    selectionModel()->setCurrentIndex(model_->index(current == a ? b : a, 0), QItemSelectionModel::NoUpdate);
  setUpdatesEnabled(true);
  quiet_ = false;
}

// ---- selection ----

bool CConvertOrderListCtrl::IsRowSelected(int row) const {
  return selectionModel()->isRowSelected(row, QModelIndex());
}

unsigned CConvertOrderListCtrl::StateOf(int row) const {
  unsigned state = model_->IsRowChecked(row) ? kStateChecked : kStateUnchecked;
  if (IsRowSelected(row)) state |= kStateSelected;
  if (currentIndex().isValid() && currentIndex().row() == row) state |= kStateFocused;
  return state;
}

void CConvertOrderListCtrl::Select(const CConvertOrder* entry, bool on) {
  const int row = model_->RowOf(entry);
  if (row < 0) return;
  const QModelIndex index = model_->index(row, 0);
  if (on) {
    selectionModel()->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
  } else {
    selectionModel()->select(index, QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    if (currentIndex().row() == row) selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
  }
}

void CConvertOrderListCtrl::SelectRows(const std::vector<int>& rows, int focusRow) {
  // Contiguous runs of rows make one range each, so selecting a whole batch is one range.
  QItemSelection selection;
  const int last = CConvertOrderModel::kColumnCount - 1;
  for (size_t i = 0; i < rows.size();) {
    size_t j = i;
    while (j + 1 < rows.size() && rows[j + 1] == rows[j] + 1) ++j;
    selection.select(model_->index(rows[i], 0), model_->index(rows[j], last));
    i = j + 1;
  }
  setUpdatesEnabled(false);
  selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
  selectionModel()->setCurrentIndex(focusRow >= 0 ? model_->index(focusRow, 0) : QModelIndex(),
                                    QItemSelectionModel::NoUpdate);
  setUpdatesEnabled(true);
}

void CConvertOrderListCtrl::SelectOnly(const std::vector<CConvertOrder*>& entries) {
  std::unordered_set<const CConvertOrder*> wanted(entries.begin(), entries.end());
  std::vector<int> rows;
  for (int row = 0; row < model_->rowCount(); ++row) {
    if (wanted.count(model_->EntryAt(row))) rows.push_back(row);
  }
  // The focus goes to the last row taken, as when each row is set in turn.
  SelectRows(rows, rows.empty() ? -1 : rows.back());
}

void CConvertOrderListCtrl::ClearSelection() {
  selectionModel()->clearSelection();
  selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
}

void CConvertOrderListCtrl::GetSelected(std::vector<CConvertOrder*>* out) const {
  QModelIndexList rows = selectionModel()->selectedRows();
  std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  for (const QModelIndex& index : rows) out->push_back(model_->EntryAt(index.row()));
}

void CConvertOrderListCtrl::ShowConverting(CConvertOrder* entry) {
  // Queued: the run calls this from inside its own event handling. The row is looked up
  // when it is shown, so an entry removed meanwhile shows nothing.
  QTimer::singleShot(0, this, [this, entry] {
    const int row = model_->RowOf(entry);
    if (row < 0) return;
    SelectRows({row}, row);
    scrollTo(model_->index(row, 0));
  });
}

void CConvertOrderListCtrl::OnSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
  if (quiet_) return;
  for (const QItemSelectionRange& range : deselected) {
    for (int row = range.top(); row <= range.bottom(); ++row) {
      if (IsRowSelected(row)) continue;  // still selected through another range
      const unsigned now = StateOf(row);
      emit ItemStateChanged(row, model_->EntryAt(row), now | kStateSelected, now);
    }
  }
  for (const QItemSelectionRange& range : selected) {
    for (int row = range.top(); row <= range.bottom(); ++row) {
      const unsigned now = StateOf(row);
      emit ItemStateChanged(row, model_->EntryAt(row), now & ~kStateSelected, now);
    }
  }
}

void CConvertOrderListCtrl::OnCurrentChanged(const QModelIndex& current, const QModelIndex& previous) {
  if (quiet_) return;
  if (previous.isValid() && previous.row() != current.row()) {
    const unsigned now = StateOf(previous.row());
    emit ItemStateChanged(previous.row(), model_->EntryAt(previous.row()), now | kStateFocused, now);
  }
  if (current.isValid() && current.row() != previous.row()) {
    const unsigned now = StateOf(current.row());
    emit ItemStateChanged(current.row(), model_->EntryAt(current.row()), now & ~kStateFocused, now);
  }
}

void CConvertOrderListCtrl::OnCheckAll(bool) {
  // What the box showed decides, not the state a click moved it to: from "some" a click
  // checks them all.
  bool all = model_->rowCount() > 0;
  for (int row = 0; row < model_->rowCount() && all; ++row) all = model_->IsRowChecked(row);
  for (int row = 0; row < model_->rowCount(); ++row) model_->SetRowChecked(row, !all);
  SyncCheckAll();
}

void CConvertOrderListCtrl::SyncCheckAll() {
  int checked = 0;
  for (int row = 0; row < model_->rowCount(); ++row) checked += model_->IsRowChecked(row) ? 1 : 0;
  const Qt::CheckState state = checked == 0 ? Qt::Unchecked
                               : checked == model_->rowCount() ? Qt::Checked
                                                               : Qt::PartiallyChecked;
  QCheckBox* box = header_->CheckBox();
  if (box->checkState() != state) box->setCheckState(state);
}

// ---- columns ----

void CConvertOrderListCtrl::ApplyColumns() {
  rebuilding_ = true;
  for (int i = 0; i < CConvertOrderModel::kColumnCount; ++i) {
    header_->setSectionHidden(i, !enabled_[size_t(i)]);
    if (enabled_[size_t(i)] && userSized_[size_t(i)]) header_->resizeSection(i, widths_[size_t(i)]);
  }
  rebuilding_ = false;
  FitColumns();
}

void CConvertOrderListCtrl::ScheduleFit() {
  if (fitPending_) return;
  fitPending_ = true;
  const bool recent = lastFit_.isValid() && lastFit_.elapsed() < kFitIntervalMs;
  QTimer::singleShot(recent ? kFitIntervalMs : 0, this, [this] {
    fitPending_ = false;
    FitColumns();
  });
}

void CConvertOrderListCtrl::FitColumns() {
  lastFit_.start();
  rebuilding_ = true;
  for (int i = 0; i < CConvertOrderModel::kColumnCount; ++i) {
    if (i == CConvertOrderModel::kSourceColumn || !enabled_[size_t(i)] || userSized_[size_t(i)]) continue;
    // The title or the widest text of the rows measured (the shown ones first; the header's
    // precision bounds how many a big batch costs).
    const int most = std::max(header_->sectionSizeHint(i), int(viewport()->width() * kFittedMaxShare));
    const int width = std::min(most, std::max(header_->sectionSizeHint(i), sizeHintForColumn(i)));
    if (width > 0 && width != header_->sectionSize(i)) header_->resizeSection(i, width);
  }
  rebuilding_ = false;
  FitSourceColumn();
}

void CConvertOrderListCtrl::FitSourceColumn() {
  constexpr int source = CConvertOrderModel::kSourceColumn;
  if (!userSized_[source]) {
    int others = 0;
    for (int i = 0; i < CConvertOrderModel::kColumnCount; ++i)
      if (i != source && !header_->isSectionHidden(i)) others += header_->sectionSize(i);
    const int least = std::max(header_->sectionSizeHint(source), fontMetrics().averageCharWidth() * kSourceMinChars);
    const int width = std::max(least, viewport()->width() - others);
    if (width != header_->sectionSize(source)) {
      rebuilding_ = true;
      header_->resizeSection(source, width);
      rebuilding_ = false;
    }
  }
  header_->PlaceCheckBox();
}

void CConvertOrderListCtrl::ResetColumnWidth(int logical) {
  if (logical < 0 || logical >= CConvertOrderModel::kColumnCount) return;
  userSized_[size_t(logical)] = false;
  FitColumns();
}

void CConvertOrderListCtrl::resizeEvent(QResizeEvent* event) {
  QTreeView::resizeEvent(event);
  FitSourceColumn();
  ScheduleFit();  // the share a fitted column may take changed too
}

void CConvertOrderListCtrl::updateGeometries() {
  QTreeView::updateGeometries();
  // A scroll bar that comes or goes changes the room the source column may take.
  if (!rebuilding_) FitSourceColumn();
}

void CConvertOrderListCtrl::ShowColumn(int logical, bool show) {
  if (logical < 2 || logical >= CConvertOrderModel::kColumnCount) return;
  enabled_[size_t(logical)] = show;
  ApplyColumns();
}

QMenu* CConvertOrderListCtrl::HeaderMenu() {
  if (!headerMenu_) {
    headerMenu_ = new QMenu(this);
    const UINT titles[] = {tav::res::IDS_MENU_DURATION, tav::res::IDS_MENU_FRAME_SIZE, tav::res::IDS_MENU_FILE_SIZE};
    for (int i = 0; i < 3; ++i) {
      const int logical = CConvertOrderModel::kDurationColumn + i;
      QAction* action = headerMenu_->addAction(Text(titles[i]));
      action->setCheckable(true);
      action->setData(logical);
      connect(action, &QAction::triggered, this,
              [this, logical] { ShowColumn(logical, !enabled_[size_t(logical)]); });
    }
    connect(headerMenu_, &QMenu::aboutToShow, this, [this] {
      for (QAction* action : headerMenu_->actions()) action->setChecked(enabled_[size_t(action->data().toInt())]);
    });
  }
  for (QAction* action : headerMenu_->actions()) action->setChecked(enabled_[size_t(action->data().toInt())]);
  return headerMenu_;
}

// ---- input ----

void CConvertOrderListCtrl::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Left || event->key() == Qt::Key_Right) {
    event->accept();  // neither moves the selection nor scrolls
    return;
  }
  QTreeView::keyPressEvent(event);
}

void CConvertOrderListCtrl::contextMenuEvent(QContextMenuEvent* event) {
  const QModelIndex index = indexAt(viewport()->mapFromGlobal(event->globalPos()));
  emit ContextMenu(event->globalPos(), index.isValid());
  event->accept();
}

}  // namespace tav::ui
