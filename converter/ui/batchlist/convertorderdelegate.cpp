#include "converter/ui/batchlist/convertorderdelegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <algorithm>

#include "converter/engine/convertorder.h"
#include "converter/ui/batchlist/convertordermodel.h"

namespace tav::ui {

namespace {

// The bar of a converting row with its percentage never gets narrower than this many
// average characters, so that a Status column sized to its texts still shows both.
constexpr int kBarMinChars = 18;

const QStyle* StyleOf(const QStyleOptionViewItem& option) {
  return option.widget ? option.widget->style() : QApplication::style();
}

}  // namespace

QColor CConvertOrderDelegate::StateColor(const QPalette& palette, int state) {
  int hue = -1;
  if (state == CConvertOrder::kError) hue = 0;              // red
  else if (state == CConvertOrder::kInterrupted) hue = 28;  // amber
  if (hue < 0) return QColor();
  // As light as the palette's text, within bounds that keep the hue visible: a dark red
  // on a light list, a pale one on a dark list.
  const int lightness = std::clamp(palette.color(QPalette::Text).lightness(), 95, 175);
  return QColor::fromHsl(hue, 200, lightness);
}

void CConvertOrderDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
  QStyledItemDelegate::initStyleOption(option, index);
  const int state = index.data(CConvertOrderModel::kStateRole).toInt();
  const QColor color = StateColor(option->palette, state);
  if (!color.isValid()) return;
  option->palette.setColor(QPalette::Text, color);
  if (index.column() == CConvertOrderModel::kStatusColumn) {
    const QStyle* style = StyleOf(*option);
    option->icon = style->standardIcon(
        state == CConvertOrder::kError ? QStyle::SP_MessageBoxCritical : QStyle::SP_MessageBoxWarning, nullptr,
        option->widget);
    option->features |= QStyleOptionViewItem::HasDecoration;
    const int extent = style->pixelMetric(QStyle::PM_SmallIconSize, nullptr, option->widget);
    option->decorationSize = QSize(extent, extent);
  }
}

void CConvertOrderDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const {
  const int progress =
      index.column() == CConvertOrderModel::kStatusColumn ? index.data(CConvertOrderModel::kProgressRole).toInt() : -1;
  if (progress < 0) {
    QStyledItemDelegate::paint(painter, option, index);
    return;
  }
  // The cell's background (selection, hover) as for any cell, then the bar over it.
  QStyleOptionViewItem cell = option;
  initStyleOption(&cell, index);
  cell.text.clear();
  cell.icon = QIcon();
  cell.features.setFlag(QStyleOptionViewItem::HasDecoration, false);
  const QStyle* style = StyleOf(option);
  style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, option.widget);

  // The percentage beside the bar, not on it: a style draws text over a bar's filled part
  // in a colour of its own, which on some palettes is the fill's.
  const QRect area = option.rect.adjusted(2, 2, -2, -2);
  const int textWidth = option.fontMetrics.horizontalAdvance(QStringLiteral("100%"));
  const int gap = option.fontMetrics.averageCharWidth() / 2 + 1;
  QStyleOptionProgressBar bar;
  if (option.widget) bar.initFrom(option.widget);
  bar.state = option.state | QStyle::State_Horizontal;
  bar.palette = option.palette;
  bar.rect = area.adjusted(0, 0, -(textWidth + gap), 0);
  bar.minimum = 0;
  bar.maximum = 100;
  bar.progress = progress;
  bar.textVisible = false;
  bar.fontMetrics = option.fontMetrics;
  const QPalette::ColorGroup group = !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
                                     : (option.state & QStyle::State_Active) ? QPalette::Active
                                                                             : QPalette::Inactive;
  const QPalette::ColorRole role = option.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text;
  painter->save();
  style->drawControl(QStyle::CE_ProgressBar, &bar, painter, option.widget);
  painter->setFont(option.font);
  painter->setPen(option.palette.color(group, role));
  painter->drawText(QRect(bar.rect.right() + 1 + gap, area.top(), textWidth, area.height()),
                    Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("%1%").arg(progress));
  painter->restore();
}

QSize CConvertOrderDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QSize size = QStyledItemDelegate::sizeHint(option, index);
  if (index.column() == CConvertOrderModel::kStatusColumn && index.data(CConvertOrderModel::kProgressRole).toInt() >= 0)
    size.setWidth(std::max(size.width(), option.fontMetrics.averageCharWidth() * kBarMinChars));
  return size;
}

}  // namespace tav::ui
