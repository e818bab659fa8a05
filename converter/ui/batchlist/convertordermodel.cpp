#include "converter/ui/batchlist/convertordermodel.h"

#include <QFileIconProvider>
#include <QMimeDatabase>
#include <algorithm>
#include <cstdio>

#include "converter/engine/bytesize.h"
#include "converter/engine/strings.h"
#include "converter/engine/timetext.h"
#include "converter/ui/controls/uitext.h"

namespace tav::ui {

CConvertOrderModel::CConvertOrderModel(QObject* parent) : QAbstractTableModel(parent) {}

int CConvertOrderModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(rows_.size());
}

int CConvertOrderModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QString CConvertOrderModel::SourceText(const CConvertOrder& entry) {
  return QString::fromStdString(entry.SourcePath().FileName());
}

QString CConvertOrderModel::DurationText(const CConvertOrder& entry) {
  return QString::fromStdString(FormatTime(entry.GetDuration()));
}

QString CConvertOrderModel::FrameSizeText(const CConvertOrder& entry) {
  if (entry.GetSourceWidth() == 0 || entry.GetSourceHeight() == 0) return QString();
  char text[32];
  std::snprintf(text, sizeof text, "%4i x %4i", entry.GetSourceWidth(), entry.GetSourceHeight());
  return QString::fromLatin1(text);
}

QString CConvertOrderModel::FileSizeText(CConvertOrder& entry) {
  return QString::fromStdString(ByteSizeText(entry.GetFileSize()));
}

QString CConvertOrderModel::ToolTipText(const CConvertOrder& entry) {
  QString tip = QString::fromStdString(entry.SourcePath().Full());
  if (entry.UsesSubtitles() && !entry.SubtitlePath().IsEmpty()) {
    const std::string file = entry.SubtitlePath().FileName();
    const std::string& encoding = entry.GetSubtitleEncoding();
    tip += QLatin1Char('\n');
    tip += QString::fromStdString(encoding.empty() ? res::FormatId(res::IDS_TIP_SUBTITLES, {file})
                                                   : res::FormatId(res::IDS_TIP_SUBTITLES_ENCODING, {file, encoding}));
  }
  return tip;
}

QIcon CConvertOrderModel::IconFor(const CConvertOrder& entry) const {
  if (entry.SourcePath().IsEmpty()) return QIcon();
  static const QMimeDatabase mimeDatabase;
  // By name only: the list must not read every file of a big batch to draw it.
  const QMimeType mime =
      mimeDatabase.mimeTypeForFile(QString::fromStdString(entry.SourcePath().Full()), QMimeDatabase::MatchExtension);
  auto found = icons_.constFind(mime.name());
  if (found != icons_.constEnd()) return *found;
  QIcon icon = QIcon::fromTheme(mime.iconName());
  if (icon.isNull()) icon = QIcon::fromTheme(mime.genericIconName());
  if (icon.isNull()) icon = QFileIconProvider().icon(QAbstractFileIconProvider::File);
  icons_.insert(mime.name(), icon);
  return icon;
}

QVariant CConvertOrderModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= int(rows_.size())) return QVariant();
  const Row& row = rows_[size_t(index.row())];
  CConvertOrder& entry = *row.entry;
  if (role == Qt::DisplayRole) {
    switch (index.column()) {
      case kSourceColumn: return SourceText(entry);
      case kStatusColumn: return QString::fromStdString(entry.GetStatusText());
      case kDurationColumn: return DurationText(entry);
      case kFrameSizeColumn: return FrameSizeText(entry);
      case kFileSizeColumn: return FileSizeText(entry);
    }
  } else if (role == Qt::DecorationRole && index.column() == kSourceColumn) {
    return IconFor(entry);
  } else if (role == Qt::CheckStateRole && index.column() == kSourceColumn) {
    return row.checked ? Qt::Checked : Qt::Unchecked;
  } else if (role == Qt::TextAlignmentRole) {
    return int(Qt::AlignLeft | Qt::AlignVCenter);
  } else if (role == Qt::ToolTipRole) {
    // A long status is cut short in its column: its cell's tooltip holds all of it.
    if (index.column() == kStatusColumn) return QString::fromStdString(entry.GetStatusText());
    return ToolTipText(entry);
  } else if (role == kProgressRole) {
    return entry.GetState() == CConvertOrder::kConverting ? row.progress : -1;
  } else if (role == kStateRole) {
    const int state = entry.GetState();
    return state == CConvertOrder::kReady && entry.HasProbeError() ? int(CConvertOrder::kError) : state;
  }
  return QVariant();
}

QVariant CConvertOrderModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return QVariant();
  if (role == Qt::DisplayRole) return Text(UINT(tav::res::IDS_COLUMN_SOURCE + section));
  if (role == Qt::TextAlignmentRole) return int(Qt::AlignLeft | Qt::AlignVCenter);
  return QVariant();
}

Qt::ItemFlags CConvertOrderModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  if (index.isValid() && index.column() == kSourceColumn) f |= Qt::ItemIsUserCheckable;
  return f;
}

bool CConvertOrderModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::CheckStateRole || !index.isValid() || index.column() != kSourceColumn) return false;
  SetRowChecked(index.row(), value.toInt() == Qt::Checked);
  return true;
}

int CConvertOrderModel::Append(CConvertOrder* entry) {
  const int row = int(rows_.size());
  beginInsertRows(QModelIndex(), row, row);
  rows_.push_back({entry, entry->IsChecked(), -1});
  if (rowOfValid_) rowOf_.emplace(entry, row);
  endInsertRows();
  return row;
}

void CConvertOrderModel::AppendAll(const std::vector<CConvertOrder*>& entries) {
  if (entries.empty()) return;
  const int first = int(rows_.size());
  beginInsertRows(QModelIndex(), first, first + int(entries.size()) - 1);
  rows_.reserve(rows_.size() + entries.size());
  for (CConvertOrder* entry : entries) {
    if (rowOfValid_) rowOf_.emplace(entry, int(rows_.size()));
    rows_.push_back({entry, entry->IsChecked(), -1});
  }
  endInsertRows();
}

void CConvertOrderModel::RemoveRow(int row) {
  if (row < 0 || row >= int(rows_.size())) return;
  beginRemoveRows(QModelIndex(), row, row);
  rows_.erase(rows_.begin() + row);
  rowOfValid_ = false;
  endRemoveRows();
}

void CConvertOrderModel::Clear() {
  beginResetModel();
  rows_.clear();
  rowOf_.clear();
  rowOfValid_ = true;
  endResetModel();
}

CConvertOrder* CConvertOrderModel::EntryAt(int row) const {
  return row >= 0 && row < int(rows_.size()) ? rows_[size_t(row)].entry : nullptr;
}

int CConvertOrderModel::RowOf(const CConvertOrder* entry) const {
  if (!rowOfValid_) {
    rowOf_.clear();
    rowOf_.reserve(rows_.size());
    for (size_t i = 0; i < rows_.size(); ++i) rowOf_.emplace(rows_[i].entry, int(i));
    rowOfValid_ = true;
  }
  auto found = rowOf_.find(entry);
  return found == rowOf_.end() ? -1 : found->second;
}

bool CConvertOrderModel::IsRowChecked(int row) const {
  return row >= 0 && row < int(rows_.size()) && rows_[size_t(row)].checked;
}

void CConvertOrderModel::SetRowChecked(int row, bool checked) {
  if (row < 0 || row >= int(rows_.size()) || rows_[size_t(row)].checked == checked) return;
  rows_[size_t(row)].checked = checked;
  emit dataChanged(index(row, kSourceColumn), index(row, kSourceColumn), {Qt::CheckStateRole});
  emit CheckChanged(row, checked);
}

void CConvertOrderModel::RefreshRow(int row) {
  if (row < 0 || row >= int(rows_.size())) return;
  rows_[size_t(row)].checked = rows_[size_t(row)].entry->IsChecked();
  emit dataChanged(index(row, 0), index(row, kColumnCount - 1));
}

void CConvertOrderModel::SwapRows(int a, int b) {
  if (a < 0 || b < 0 || a >= int(rows_.size()) || b >= int(rows_.size()) || a == b) return;
  std::swap(rows_[size_t(a)], rows_[size_t(b)]);
  if (rowOfValid_) {
    rowOf_[rows_[size_t(a)].entry] = a;
    rowOf_[rows_[size_t(b)].entry] = b;
  }
  emit dataChanged(index(a, 0), index(a, kColumnCount - 1));
  emit dataChanged(index(b, 0), index(b, kColumnCount - 1));
}

void CConvertOrderModel::SetProgress(int row, int percent) {
  if (row < 0 || row >= int(rows_.size())) return;
  percent = percent < 0 ? -1 : std::min(percent, 100);
  if (rows_[size_t(row)].progress == percent) return;
  rows_[size_t(row)].progress = percent;
  // Only the bar changes: the views need not measure the row's texts again.
  emit dataChanged(index(row, kStatusColumn), index(row, kStatusColumn), {kProgressRole});
}

void CConvertOrderModel::ClearProgress() {
  for (int row = 0; row < int(rows_.size()); ++row) SetProgress(row, -1);
}

}  // namespace tav::ui
