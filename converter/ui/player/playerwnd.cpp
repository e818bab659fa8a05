#include "converter/ui/player/playerwnd.h"

#include <QAction>
#include <QActionGroup>
#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include "converter/engine/filtergraphbuilder.h"
#include "converter/engine/strings.h"
#include "converter/ui/bridge/windowhost.h"
#include "converter/ui/controls/uitext.h"

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

  auto* views = new QActionGroup(this);
  fitAction_ = new QAction(ui::Text(res::IDS_PREVIEW_FIT), views);
  actualSizeAction_ = new QAction(ui::Text(res::IDS_PREVIEW_ACTUAL_SIZE), views);
  for (QAction* a : {fitAction_, actualSizeAction_}) a->setCheckable(true);
  connect(fitAction_, &QAction::triggered, this, [this] { SetZoom(true); });
  connect(actualSizeAction_, &QAction::triggered, this, [this] { SetZoom(false); });
  UpdateViewState();
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
  zoom_ = true;
  pan_ = QPoint();
  dragging_ = false;
  if (!attached) {
    builder_ = nullptr;
    native_ = QSize();
    video_->hide();
    update();
    UpdateViewState();
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
  UpdateViewState();
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
  UpdateViewState();
}

// ---- fit to window or actual size ----

bool CPlayerWnd::IsLargerThanWindow() const {
  const QSize video = CurrentVideoSize();
  return video.width() > width() || video.height() > height();
}

bool CPlayerWnd::IsCropped() const {
  // The default black rectangle is no picture the user would look for the rest of.
  return !zoom_ && (IsAttached() || !still_.isNull()) && IsLargerThanWindow();
}

void CPlayerWnd::SetZoom(bool zoom) {
  if (zoom != zoom_) {
    zoom_ = zoom;
    pan_ = QPoint();
    PlaceVideo();
    update();
  }
  UpdateViewState();
}

void CPlayerWnd::UpdateViewState() {
  fitAction_->setChecked(zoom_);
  actualSizeAction_->setChecked(!zoom_);
  const bool cropped = IsCropped();
  if (cropped != cropped_) {
    cropped_ = cropped;
    emit croppedChanged(cropped);
  }
}

QString CPlayerWnd::ViewHint() const {
  if (IsCropped()) return ui::Text(res::IDS_PREVIEW_CROPPED_TIP);
  if (zoom_) return ui::Text(res::IDS_PREVIEW_FITTED_TIP);
  return QString();
}

bool CPlayerWnd::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    // The control's own tooltip, and how to move or fit the picture when that applies.
    const QString hint = ViewHint();
    QString text = toolTip();
    if (!hint.isEmpty()) text = text.isEmpty() ? hint : text + QLatin1Char('\n') + hint;
    if (text.isEmpty()) {
      QToolTip::hideText();
      event->ignore();
    } else {
      QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), text, this);
    }
    return true;
  }
  return QWidget::event(event);
}

void CPlayerWnd::contextMenuEvent(QContextMenuEvent* event) {
  UpdateViewState();
  QMenu menu(this);
  menu.addAction(fitAction_);
  menu.addAction(actualSizeAction_);
  menu.exec(event->globalPos());
}

void CPlayerWnd::NotifyMouse(MousePhase phase, const QPoint& at) {
  if (PlayerEventSink* sink = core_.Sink()) sink->OnMouse(&core_, phase, at.x(), at.y(), width(), height());
}

void CPlayerWnd::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  // Qt keeps the mouse with this widget until the button is released (the capture).
  dragging_ = true;
  lastMouse_ = event->position().toPoint();
  NotifyMouse(MousePhase::kPress, lastMouse_);
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
  NotifyMouse(MousePhase::kMove, at);
}

void CPlayerWnd::mouseReleaseEvent(QMouseEvent* event) {
  if (!dragging_ || event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
  dragging_ = false;
  NotifyMouse(MousePhase::kRelease, event->position().toPoint());
}

void CPlayerWnd::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  SetZoom(!zoom_);
}

}  // namespace tav::ui
