// CConvertOrderDelegate: how the batch list draws its rows. A converting entry's Status
// cell is a progress bar with the percentage; an entry that failed or was interrupted has
// an icon in its Status cell and its row's texts in a colour that stands out, both taken
// from the list's style and palette so that they read on light and dark desktops alike.
#pragma once

#include <QStyledItemDelegate>

namespace tav::ui {

class CConvertOrderDelegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  // The text colour of a row in state (CConvertOrder::State) under palette; invalid when
  // the row keeps the palette's own text colour.
  static QColor StateColor(const QPalette& palette, int state);

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

}  // namespace tav::ui
