#include "converter/ui/app/logo.h"

#include <QLinearGradient>
#include <QPainter>
#include <QSvgRenderer>

#include "converter/engine/strings.h"
#include "converter/ui/controls/uitext.h"

// The pictures are compiled into a static library: their registration must be pulled in.
static void InitResources() { Q_INIT_RESOURCE(resources); }

namespace tav::ui {
namespace {
constexpr int kLogoHeight = 40;
constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};
}  // namespace

QPixmap IconPixmap(int size) {
  static const bool registered = (InitResources(), true);
  (void)registered;
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QSvgRenderer renderer(QStringLiteral(":/tavrion/icon.svg"));
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  renderer.render(&painter, QRectF(0, 0, size, size));
  return pixmap;
}

QIcon ApplicationIcon() {
  static const QIcon icon = [] {
    QIcon i;
    for (int size : kIconSizes) i.addPixmap(IconPixmap(size));
    return i;
  }();
  return icon;
}

CLogoWidget::CLogoWidget(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("logo"));
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize CLogoWidget::sizeHint() const { return {400, kLogoHeight}; }
QSize CLogoWidget::minimumSizeHint() const { return {kLogoHeight, kLogoHeight}; }

void CLogoWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRect r = rect();
  QLinearGradient band(r.topLeft(), r.topRight());
  band.setColorAt(0.0, QColor(0x15, 0x46, 0x7f));
  band.setColorAt(0.55, QColor(0x2f, 0x86, 0xe0));
  band.setColorAt(1.0, QColor(0x2f, 0x86, 0xe0, 0));
  p.fillRect(r, band);

  const int iconSize = r.height() - 8;
  // The icon's pixmaps are drawn once, at the theme's sizes.
  p.drawPixmap(QRect(r.left() + 8, r.top() + 4, iconSize, iconSize),
               ApplicationIcon().pixmap(QSize(iconSize, iconSize), devicePixelRatio()));

  QFont name = font();
  name.setBold(true);
  name.setPixelSize(std::max(12, r.height() * 9 / 20));
  p.setFont(name);
  p.setPen(Qt::white);
  const QRect textRect(r.left() + iconSize + 18, r.top(), r.width() - iconSize - 26, r.height());
  p.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft, ui::Text(res::IDS_APP_TITLE));
}

}  // namespace tav::ui
