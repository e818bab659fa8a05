#include "converter/ui/batchlist/convertorderlistheader.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QPainter>
#include <cmath>

namespace tav::ui {

namespace {
constexpr int kBoxLeft = 4, kBoxTop = 1, kBoxRight = 18;
}

CConvertOrderListHeaderCtrl::CConvertOrderListHeaderCtrl(QWidget* parent)
    : QHeaderView(Qt::Horizontal, parent), box_(new QCheckBox(this)) {
  box_->setFocusPolicy(Qt::NoFocus);
  connect(box_, &QCheckBox::clicked, this, &CConvertOrderListHeaderCtrl::CheckAllClicked);
  connect(this, &QHeaderView::sectionResized, this, [this] { PlaceCheckBox(); });
  connect(this, &QHeaderView::geometriesChanged, this, [this] { PlaceCheckBox(); });
  connect(this, &QHeaderView::sectionCountChanged, this, [this] { PlaceCheckBox(); });
  setSectionsMovable(false);
  setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  setHighlightSections(false);
  box_->show();
}

void CConvertOrderListHeaderCtrl::PlaceCheckBox() {
  int width = kBoxRight - kBoxLeft;
  const int first = logicalIndex(0);
  if (first >= 0) width = std::min(width, sectionSize(first) - kBoxLeft);
  const int height = std::max(0, this->height() - 2 - kBoxTop);
  const int x = first >= 0 ? sectionViewportPosition(first) + kBoxLeft : kBoxLeft;
  box_->setGeometry(x, kBoxTop, std::max(width, 0), height);
  box_->setVisible(width > 0);
}

int CConvertOrderListHeaderCtrl::PaddingBlanks() const {
  const int blank = std::max(1, fontMetrics().horizontalAdvance(QLatin1Char(' ')));
  return int(std::ceil(double(kBoxLeft + (kBoxRight - kBoxLeft)) / blank));
}

void CConvertOrderListHeaderCtrl::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
  if (visualIndex(logicalIndex) != 0 || !model()) {
    QHeaderView::paintSection(painter, rect, logicalIndex);
    return;
  }
  // The first column: its title, padded with blanks so that it starts beyond the box.
  QStyleOptionHeader option;
  initStyleOption(&option);
  option.rect = rect;
  option.section = logicalIndex;
  option.position = count() == 1 ? QStyleOptionHeader::OnlyOneSection : QStyleOptionHeader::Beginning;
  option.textAlignment = Qt::AlignLeft | Qt::AlignVCenter;
  const QString title = model()->headerData(logicalIndex, orientation(), Qt::DisplayRole).toString().trimmed();
  option.text = QString(PaddingBlanks(), QLatin1Char(' ')) + title;
  painter->save();
  style()->drawControl(QStyle::CE_Header, &option, painter, this);
  painter->restore();
}

void CConvertOrderListHeaderCtrl::resizeEvent(QResizeEvent* event) {
  QHeaderView::resizeEvent(event);
  PlaceCheckBox();
}

void CConvertOrderListHeaderCtrl::contextMenuEvent(QContextMenuEvent* event) {
  emit HeaderMenuRequested(event->globalPos());
  event->accept();
}

}  // namespace tav::ui
