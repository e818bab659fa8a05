#include "converter/ui/controls/images.h"

#include <QGuiApplication>
#include <QPalette>
#include <QPainter>
#include <QPainterPath>

namespace tav::ui {
namespace {

constexpr int kImageSize = 16;

// The images are drawn for the application's palette, so that they read on a light and on
// a dark desktop alike.
QPalette Palette() { return qGuiApp ? QGuiApplication::palette() : QPalette(); }
bool DarkPalette() { return Palette().color(QPalette::Window).lightness() < 128; }

QColor Ink(bool enabled) {
  if (!enabled) return Palette().color(QPalette::Disabled, QPalette::WindowText);
  return DarkPalette() ? QColor(0x8c, 0xb8, 0xf0) : QColor(0x20, 0x4a, 0x87);
}

void DrawPlay(QPainter& p, bool enabled) {
  QPainterPath path;
  path.moveTo(4, 2);
  path.lineTo(13.5, 8);
  path.lineTo(4, 14);
  path.closeSubpath();
  p.fillPath(path, Ink(enabled));
}

void DrawPause(QPainter& p, bool enabled) {
  p.fillRect(QRectF(3.5, 2.5, 3.5, 11), Ink(enabled));
  p.fillRect(QRectF(9, 2.5, 3.5, 11), Ink(enabled));
}

void DrawStop(QPainter& p, bool enabled) { p.fillRect(QRectF(3, 3, 10, 10), Ink(enabled)); }

// A flag on a pole pointing into the range: the start marker flies right, the end one left.
void DrawMarker(QPainter& p, bool start) {
  const QColor pole = Palette().color(QPalette::WindowText);
  const bool dark = DarkPalette();
  const QColor flag = start ? (dark ? QColor(0x5c, 0xd0, 0x6c) : QColor(0x2e, 0x9e, 0x3e))
                            : (dark ? QColor(0xff, 0x6e, 0x62) : QColor(0xc8, 0x32, 0x2a));
  const double x = 8;
  p.setPen(QPen(pole, 1.5));
  p.drawLine(QPointF(x, 1), QPointF(x, 15));
  QPainterPath path;
  path.moveTo(x, 1.5);
  path.lineTo(start ? 15 : 1, 4.5);
  path.lineTo(x, 7.5);
  path.closeSubpath();
  p.fillPath(path, flag);
}

}  // namespace

QPixmap ResourceImage(int id) {
  switch (id) {
    case kImagePlay: case kImagePause: case kImageStop: case kImagePauseDisabled:
    case kImagePlayDisabled: case kImageStopDisabled: case kImageMarkerStart: case kImageMarkerEnd:
      break;
    default:
      return QPixmap();
  }
  const qreal ratio = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
  QPixmap pixmap(QSize(kImageSize, kImageSize) * ratio);
  pixmap.setDevicePixelRatio(ratio);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  switch (id) {
    case kImagePlay: DrawPlay(p, true); break;
    case kImagePlayDisabled: DrawPlay(p, false); break;
    case kImagePause: DrawPause(p, true); break;
    case kImagePauseDisabled: DrawPause(p, false); break;
    case kImageStop: DrawStop(p, true); break;
    case kImageStopDisabled: DrawStop(p, false); break;
    case kImageMarkerStart: DrawMarker(p, true); break;
    case kImageMarkerEnd: DrawMarker(p, false); break;
  }
  return pixmap;
}

QIcon ResourceIcon(int normalId, int disabledId) {
  QIcon icon(ResourceImage(normalId));
  icon.addPixmap(ResourceImage(disabledId), QIcon::Disabled);
  return icon;
}

}  // namespace tav::ui
