// CConvertOrderListHeaderCtrl: the batch list's header, with a check box in the first
// column's header that checks or unchecks every row. The first column's title is drawn
// beyond the box; the box's width never exceeds the first column's width.
#pragma once

#include <QHeaderView>

class QCheckBox;

namespace tav::ui {

class CConvertOrderListHeaderCtrl : public QHeaderView {
  Q_OBJECT
 public:
  explicit CConvertOrderListHeaderCtrl(QWidget* parent = nullptr);

  QCheckBox* CheckBox() const { return box_; }
  // Places the box at (4, 1) to (18, header height - 2), cut to the first column.
  void PlaceCheckBox();
  // The blanks put in front of the first column's title so that it starts beyond the box.
  int PaddingBlanks() const;

 signals:
  // The user clicked the box; checked is its new state.
  void CheckAllClicked(bool checked);
  // The right button on the header (the list shows its column menu).
  void HeaderMenuRequested(const QPoint& globalPos);

 protected:
  void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
  void resizeEvent(QResizeEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  QCheckBox* box_;
};

}  // namespace tav::ui
