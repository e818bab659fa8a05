// CConvertOrderModel: the batch list's table model, one row per batch entry (the entries
// are the document's; the model holds their addresses and each row's check box).
//
// The check box is the row's own state, as the list shows it: it is set from the entry on
// Insert, Refresh and Update, and changed by the user's clicks, which the model reports
// (CheckChanged) without touching the entry; the form decides whether the entry follows
// or the row is refreshed back.
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QHash>
#include <unordered_map>
#include <vector>

#include "converter/engine/convertorder.h"

namespace tav::ui {

class CConvertOrderModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  // Logical columns.
  static constexpr int kSourceColumn = 0;
  static constexpr int kStatusColumn = 1;
  static constexpr int kDurationColumn = 2;
  static constexpr int kFrameSizeColumn = 3;
  static constexpr int kFileSizeColumn = 4;
  static constexpr int kColumnCount = 5;
  // Roles beyond the texts: how far the entry's conversion has come in percent (-1 while
  // it is not converting), and its state (CConvertOrder::State; a movie that could not be
  // read counts as failed), which the list's delegate turns into the row's look.
  static constexpr int kProgressRole = Qt::UserRole + 1;
  static constexpr int kStateRole = Qt::UserRole + 2;

  explicit CConvertOrderModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

  // Appends a row for the entry; returns its row.
  int Append(CConvertOrder* entry);
  // Appends rows for many entries at once (loading a batch).
  void AppendAll(const std::vector<CConvertOrder*>& entries);
  void RemoveRow(int row);
  void Clear();
  CConvertOrder* EntryAt(int row) const;
  // The row of an entry, -1 when it has none.
  int RowOf(const CConvertOrder* entry) const;

  bool IsRowChecked(int row) const;
  // Sets the check box of a row; emits CheckChanged when it changed.
  void SetRowChecked(int row, bool checked);
  // Sets the check box from the entry (no CheckChanged) and repaints the row.
  void RefreshRow(int row);
  // Exchanges two rows' entries, check boxes and progress.
  void SwapRows(int a, int b);
  // The conversion progress a row shows (percent; -1 clears it). Only an entry that is
  // converting shows one, so a finished entry never keeps a stale bar.
  void SetProgress(int row, int percent);
  void ClearProgress();

  // The column texts of an entry.
  static QString SourceText(const CConvertOrder& entry);
  static QString DurationText(const CConvertOrder& entry);
  static QString FrameSizeText(const CConvertOrder& entry);
  static QString FileSizeText(CConvertOrder& entry);
  // The tooltip of a row: the source's full name and, when it burns subtitles in, their file
  // with the encoding it was read in once it has been loaded.
  static QString ToolTipText(const CConvertOrder& entry);

 signals:
  void CheckChanged(int row, bool checked);

 private:
  struct Row {
    CConvertOrder* entry;
    bool checked;
    int progress = -1;
  };
  QIcon IconFor(const CConvertOrder& entry) const;

  std::vector<Row> rows_;
  // Rows by entry, rebuilt on the first lookup after rows were removed or moved, so that
  // finding the rows of a whole batch one by one stays linear.
  mutable std::unordered_map<const CConvertOrder*, int> rowOf_;
  mutable bool rowOfValid_ = true;
  // Icons by MIME type name, looked up once per type.
  mutable QHash<QString, QIcon> icons_;
};

}  // namespace tav::ui
