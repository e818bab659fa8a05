#include "converter/ui/bridge/windowhost.h"

#include <QImage>
#include <QLoggingCategory>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <algorithm>
#include <cstring>

Q_LOGGING_CATEGORY(lcHost, "tavrion.ui.windowhost", QtWarningMsg)

namespace tav::ui {
namespace {

LPARAM PointParam(const QPoint& p) {
  // Client coordinates as signed 16-bit halves (a drag may leave the widget).
  return LPARAM(MAKELONG(WORD(short(p.x())), WORD(short(p.y()))));
}

WPARAM KeyFlags(const QMouseEvent* event) {
  WPARAM flags = 0;
  const Qt::MouseButtons b = event->buttons();
  if (b & Qt::LeftButton) flags |= MK_LBUTTON;
  if (b & Qt::RightButton) flags |= MK_RBUTTON;
  if (b & Qt::MiddleButton) flags |= MK_MBUTTON;
  if (event->modifiers() & Qt::ShiftModifier) flags |= MK_SHIFT;
  if (event->modifiers() & Qt::ControlModifier) flags |= MK_CONTROL;
  return flags;
}

// Down, up and double-click messages of a button; zero for buttons windows don't know.
struct ButtonMessages {
  UINT down, up, dblclk;
};
ButtonMessages MessagesOf(Qt::MouseButton button) {
  switch (button) {
    case Qt::LeftButton:
      return {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK};
    case Qt::RightButton:
      return {WM_RBUTTONDOWN, WM_RBUTTONUP, WM_RBUTTONDBLCLK};
    case Qt::MiddleButton:
      return {WM_MBUTTONDOWN, WM_MBUTTONUP, WM_MBUTTONDBLCLK};
    default:
      return {0, 0, 0};
  }
}

}  // namespace

PlatformWindowHost::PlatformWindowHost(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  hwnd_ = CreatePlatformWindow(&PlatformWindowHost::WindowProc, this);
  if (!hwnd_) qCWarning(lcHost) << "no platform window could be made";
}

PlatformWindowHost::~PlatformWindowHost() {
  if (hwnd_) {
    tav::SetWindowSurface(hwnd_, nullptr);
    DestroyWindow(hwnd_);  // the handler still gets WM_DESTROY
    hwnd_ = nullptr;
  }
  if (surface_) {
    retired_.push_back({surface_, {}});
    retired_.back().age.start();
  }
  surface_ = nullptr;
  DeleteRetiredSurfaces(true);
  // A surface still held by a drawer's context is left behind rather than freed under it.
  if (!retired_.empty()) qCWarning(lcHost) << retired_.size() << "window surface(s) still in use at destruction";
}

void PlatformWindowHost::SetBackground(QColor color) {
  background_ = color;
  update();
}

LRESULT PlatformWindowHost::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* self = static_cast<PlatformWindowHost*>(GetWindowUserData(hwnd));
  return self ? self->OnMessage(msg, wParam, lParam) : 0;
}

LRESULT PlatformWindowHost::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_PAINT) {
    // An invalidation: the repaint passes WM_PAINT to the handler itself.
    update();
    return 0;
  }
  return ToHandler(msg, wParam, lParam);
}

LRESULT PlatformWindowHost::ToHandler(UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (handler_ && handler_(msg, wParam, lParam, &result)) return result;
  return 0;
}

void PlatformWindowHost::ReplaceSurface(QSize size) {
  HBITMAP old = surface_;
  surface_ = nullptr;
  surfaceBits_ = nullptr;
  surfaceSize_ = QSize();
  if (size.width() > 0 && size.height() > 0) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = size.width();
    info.bmiHeader.biHeight = -size.height();  // top-down, like a QImage
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    surface_ = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &surfaceBits_, nullptr, 0);
    if (surface_) {
      surfaceSize_ = size;
    } else {
      qCWarning(lcHost) << "no drawing surface of" << size;
    }
  }
  if (hwnd_) tav::SetWindowSurface(hwnd_, surface_);
  if (old) {
    retired_.push_back({old, {}});
    retired_.back().age.start();
  }
  DeleteRetiredSurfaces();
}

void PlatformWindowHost::DeleteRetiredSurfaces(bool force) {
  // DeleteObject refuses a bitmap that a window context still draws into; such a bitmap,
  // and one still in its grace time, is tried again later.
  std::erase_if(retired_, [force](const Retired& r) {
    return (force || r.age.hasExpired(kRetiredSurfaceGraceMs)) && DeleteObject(r.bitmap) != FALSE;
  });
  if (!retired_.empty() && !retryScheduled_ && !force) {
    retryScheduled_ = true;
    QTimer::singleShot(kRetiredSurfaceGraceMs + 50, this, [this] {
      retryScheduled_ = false;
      DeleteRetiredSurfaces();
    });
  }
}

void PlatformWindowHost::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  ReplaceSurface(size());
  ToHandler(WM_SIZE, SIZE_RESTORED,
            LPARAM(MAKELONG(WORD(std::min(width(), 0xFFFF)), WORD(std::min(height(), 0xFFFF)))));
  emit sizeChanged(size());
  update();
}

void PlatformWindowHost::paintEvent(QPaintEvent*) {
  if (!retired_.empty()) DeleteRetiredSurfaces();
  if (surfaceSize_ != size()) ReplaceSurface(size());
  ToHandler(WM_PAINT, 0, 0);
  QPainter painter(this);
  if (!surface_ || !surfaceBits_) {
    painter.fillRect(rect(), background_);
    return;
  }
  // The section's pixels are B, G, R, x in memory: QImage's RGB32 on a little-endian host.
  const QImage picture(static_cast<const uchar*>(surfaceBits_), surfaceSize_.width(), surfaceSize_.height(),
                       surfaceSize_.width() * 4, QImage::Format_RGB32);
  painter.drawImage(QPoint(0, 0), picture);
}

void PlatformWindowHost::SendMouse(UINT msg, QMouseEvent* event) {
  if (!msg || !hwnd_) return;
  SendMessage(hwnd_, msg, KeyFlags(event), PointParam(event->position().toPoint()));
}

void PlatformWindowHost::mousePressEvent(QMouseEvent* event) { SendMouse(MessagesOf(event->button()).down, event); }

void PlatformWindowHost::mouseReleaseEvent(QMouseEvent* event) { SendMouse(MessagesOf(event->button()).up, event); }

void PlatformWindowHost::mouseDoubleClickEvent(QMouseEvent* event) {
  SendMouse(MessagesOf(event->button()).dblclk, event);
}

void PlatformWindowHost::mouseMoveEvent(QMouseEvent* event) { SendMouse(WM_MOUSEMOVE, event); }

}  // namespace tav::ui
