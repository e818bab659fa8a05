#include "converter/ui/player/playerwnd.h"

#include <QMouseEvent>
#include <QPainter>

#include "converter/engine/filtergraphbuilder.h"
#include "converter/ui/bridge/windowhost.h"

namespace tav::ui {

CPlayerWnd::CPlayerWnd(QWidget* parent) : QWidget(parent), video_(new PlatformWindowHost(this)) {
  // The video host only shows pictures; the player window takes the mouse for panning.
  video_->setAttribute(Qt::WA_TransparentForMouseEvents);
  video_->hide();
  setAttribute(Qt::WA_OpaquePaintEvent);
  core_.SetAttachHook([this](PlayerCore*, bool attached) { OnCoreAttached(attached); });
  // Every resize of the host gives it a new, blank surface; the renderer is placed again so
  // that it draws its picture there at once. A paused graph sends no further frame, so
  // without this a host that is resized late (a hidden window is resized when it is first
  // shown) stays black until playing starts.
  connect(video_, &PlatformWindowHost::sizeChanged, this, [this](QSize size) {
    if (IVideoWindow* window = IsAttached() ? core_.VideoWindow() : nullptr) {
      window->SetWindowPosition(0, 0, size.width(), size.height());
    }
  });
}

CPlayerWnd::~CPlayerWnd() {
  // The graph stops drawing into the host before the host goes.
  core_.SetAttachHook({});
  core_.Detach();
}

HRESULT CPlayerWnd::Attach(FilterGraphBuilder* builder, int defaultWidth, int defaultHeight, PlayerEventSink* sink) {
  if (!builder) return E_POINTER;
  if (!builder->Graph()) return E_UNEXPECTED;
  HRESULT hr = core_.Attach(builder->Graph(), builder->Seeking(), defaultWidth, defaultHeight, sink);
  if (SUCCEEDED(hr)) builder_ = builder;
  return hr;
}

void CPlayerWnd::Detach() { core_.Detach(); }

void CPlayerWnd::OnCoreAttached(bool attached) {
  zoom_ = false;
  pan_ = QPoint();
  dragging_ = false;
  if (!attached) {
    builder_ = nullptr;
    native_ = QSize();
    video_->hide();
    update();
    return;
  }
  native_ = NativeSize();
  if (IVideoWindow* window = core_.VideoWindow()) {
    window->put_Owner(reinterpret_cast<OAHWND>(video_->Hwnd()));
    PlaceVideo();
    window->put_Visible(OATRUE);
    video_->show();
  }
  update();
}

QSize CPlayerWnd::NativeSize() const {
  LONG width = 0, height = 0;
  if (core_.GetVideoSize(&width, &height) && width > 0 && height > 0) return QSize(width, height);
  return QSize();
}

QSize CPlayerWnd::CurrentVideoSize() const {
  if (IsAttached()) return native_.isEmpty() ? QSize(core_.DefaultWidth(), core_.DefaultHeight()) : native_;
  if (!still_.isNull()) return stillSize_;
  return QSize(kDefaultWidth, kDefaultHeight);
}

QRect CPlayerWnd::VideoRect() const {
  const QSize window = size();
  const QSize video = CurrentVideoSize();
  if (video.isEmpty()) return QRect();
  if (zoom_) {
    // Aspect kept, as large as the window allows, centred.
    const QSize fitted = video.scaled(window, Qt::KeepAspectRatio);
    return QRect(QPoint((window.width() - fitted.width()) / 2, (window.height() - fitted.height()) / 2), fitted);
  }
  // Centred at native size, shifted by the pan (which ClampPan keeps gap-free).
  return QRect((window.width() - video.width()) / 2 + pan_.x(), (window.height() - video.height()) / 2 + pan_.y(),
               video.width(), video.height());
}

void CPlayerWnd::ClampPan() {
  const QSize video = CurrentVideoSize();
  // Along a direction where the video is larger than the window, the picture may move until
  // one of its edges meets the window's; elsewhere it stays centred.
  auto clamp = [](int pan, int length, int room) {
    if (length <= room) return 0;
    const int centred = (room - length) / 2;
    return std::clamp(pan, room - length - centred, -centred);
  };
  if (zoom_) {
    pan_ = QPoint();
    return;
  }
  pan_ = QPoint(clamp(pan_.x(), video.width(), width()), clamp(pan_.y(), video.height(), height()));
}

void CPlayerWnd::PlaceVideo() {
  IVideoWindow* window = core_.VideoWindow();
  if (!window) return;
  const QRect rect = VideoRect();
  video_->setGeometry(rect);
  window->SetWindowPosition(0, 0, rect.width(), rect.height());
}

void CPlayerWnd::paintEvent(QPaintEvent*) {
  QPainter p(this);
  // The parent's background, as behind any static control of the form.
  p.fillRect(rect(), palette().brush(backgroundRole()));
  if (IsAttached() && core_.VideoWindow()) return;  // the hosted video window draws
  const QRect target = VideoRect();
  if (!still_.isNull()) {
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(target, still_);
  } else {
    p.fillRect(target, Qt::black);
  }
}

void CPlayerWnd::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  ClampPan();
  PlaceVideo();
}

void CPlayerWnd::NotifyMouse(int phase, const QPoint& at) {
  if (PlayerEventSink* sink = core_.Sink()) sink->OnMouse(&core_, phase, at.x(), at.y(), width(), height());
}

void CPlayerWnd::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  // Qt keeps the mouse with this widget until the button is released (the capture).
  dragging_ = true;
  lastMouse_ = event->position().toPoint();
  NotifyMouse(0, lastMouse_);
}

void CPlayerWnd::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_) return QWidget::mouseMoveEvent(event);
  const QPoint at = event->position().toPoint();
  const QPoint before = pan_;
  pan_ += at - lastMouse_;
  lastMouse_ = at;
  ClampPan();
  if (pan_ != before) {
    PlaceVideo();
    update();
  }
  NotifyMouse(1, at);
}

void CPlayerWnd::mouseReleaseEvent(QMouseEvent* event) {
  if (!dragging_ || event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
  dragging_ = false;
  NotifyMouse(2, event->position().toPoint());
}

void CPlayerWnd::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  const QSize video = CurrentVideoSize();
  // Only a video larger than the window can be zoomed (to fit it).
  if (video.width() <= width() && video.height() <= height() && !zoom_) return;
  zoom_ = !zoom_;
  pan_ = QPoint();
  PlaceVideo();
  update();
}

}  // namespace tav::ui
