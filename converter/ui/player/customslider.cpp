#include "converter/ui/player/customslider.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include "converter/engine/strings.h"
#include "converter/engine/timetext.h"
#include "converter/ui/controls/images.h"
#include "converter/ui/controls/uitext.h"

namespace tav::ui {

namespace {
constexpr int kMarkerSize = 16;
constexpr int kMargin = kMarkerSize / 2 + 2;  // room for a marker centred on a range end
constexpr int kThumbWidth = 11;
constexpr int kThumbHeight = 20;
constexpr int kChannelTop = 9;
constexpr int kChannelHeight = 4;
constexpr int kTickLength = 4;
constexpr REFERENCE_TIME kDurationBias = 100000;  // 10 ms shown on top of the duration
}  // namespace

CCustomSlider::CCustomSlider(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  timer_.setInterval(kTimerMs);
  connect(&timer_, &QTimer::timeout, this, &CCustomSlider::UpdateFromPlayer);
}

void CCustomSlider::SetPlayer(PlayerCore* player) {
  player_ = player;
  if (player_)
    timer_.start();
  else
    timer_.stop();
}

QSize CCustomSlider::sizeHint() const { return {200, kChannelTop + kThumbHeight + kMarkerSize + 2}; }
QSize CCustomSlider::minimumSizeHint() const { return {4 * kMargin, sizeHint().height()}; }

// ---- geometry ----

QRect CCustomSlider::ChannelRect() const {
  return QRect(kMargin, kChannelTop, std::max(1, width() - 2 * kMargin), kChannelHeight);
}

int CCustomSlider::XOf(int value) const {
  const QRect channel = ChannelRect();
  return channel.left() + int((long long)(value - kMin) * channel.width() / (kMax - kMin));
}

int CCustomSlider::ValueAt(int x) const {
  const QRect channel = ChannelRect();
  const int w = channel.width();
  const int value = kMin + ((kMax - kMin) * (x - channel.left()) + w / 2) / w;
  return std::clamp(value, kMin, kMax);
}

QRect CCustomSlider::ThumbRect() const {
  const int centreY = kChannelTop + kChannelHeight / 2;
  return QRect(XOf(pos_) - kThumbWidth / 2, centreY - kThumbHeight / 2 + 2, kThumbWidth, kThumbHeight - 4);
}

QRect CCustomSlider::MarkerRect(Part marker) const {
  const int value = marker == Part::kStartMarker ? selStart_ : selEnd_;
  const int top = kChannelTop + kChannelHeight + kTickLength + 4;
  return QRect(XOf(value) - kMarkerSize / 2, top, kMarkerSize, kMarkerSize);
}

CCustomSlider::Part CCustomSlider::HitTest(const QPoint& at) const {
  if (ThumbRect().adjusted(-2, -2, 2, 2).contains(at)) return Part::kThumb;
  const bool onStart = MarkerRect(Part::kStartMarker).contains(at);
  const bool onEnd = MarkerRect(Part::kEndMarker).contains(at);
  if (onStart && onEnd) {
    // Overlapping markers: at the same value the one with room to move (the start marker at
    // the top of the range, else the end marker); otherwise the nearer one.
    if (selStart_ == selEnd_) return selEnd_ == kMax ? Part::kStartMarker : Part::kEndMarker;
    return std::abs(at.x() - XOf(selStart_)) < std::abs(at.x() - XOf(selEnd_)) ? Part::kStartMarker
                                                                                 : Part::kEndMarker;
  }
  if (onStart) return Part::kStartMarker;
  if (onEnd) return Part::kEndMarker;
  return Part::kNone;
}

// ---- values ----

void CCustomSlider::SetPos(int value) {
  value = std::clamp(value, kMin, kMax);
  if (value == pos_) return;
  pos_ = value;
  update();
}

void CCustomSlider::SetSelection(int start, int end) {
  start = std::clamp(start, kMin, kMax);
  end = std::clamp(end, start, kMax);
  if (start == selStart_ && end == selEnd_) return;
  selStart_ = start;
  selEnd_ = end;
  update();
}

void CCustomSlider::SetMarkersFromPoints(REFERENCE_TIME start, REFERENCE_TIME end) {
  if (!player_) return;
  if (start == -1 && end == -1) {
    player_->ResetPoints();
    SetSelection(kMin, kMax);
    return;
  }
  player_->SetPoints(start, end);
  REFERENCE_TIME duration = 0;
  if (FAILED(player_->GetDuration(&duration)) || duration <= 0) {
    SetSelection(kMin, kMax);
    return;
  }
  // The rule of the player's SliderPos, for each point.
  auto toSlider = [&](REFERENCE_TIME t) {
    if (t < 0) t = 0;
    return int(kMin + ((kMax - kMin) * t + duration / 2) / duration);
  };
  SetSelection(start < 0 ? kMin : toSlider(start), end < 0 ? kMax : toSlider(end));
}

void CCustomSlider::UpdateFromPlayer() {
  if (!player_ || !player_->IsAttached()) {
    timer_.stop();  // nothing moves until a graph is attached again
    return;
  }
  if (!scrolling_) SetPos(int(player_->SliderPos(kMin, kMax)));
  if (!status_) return;
  REFERENCE_TIME position = kUnknownTime, duration = kUnknownTime;
  if (FAILED(player_->GetPosition(&position))) position = kUnknownTime;
  if (FAILED(player_->GetDuration(&duration))) duration = kUnknownTime;
  if (duration != kUnknownTime) duration += kDurationBias;
  WriteStatus(QString::fromStdString(
      tav::res::FormatId(tav::res::IDS_PLAY_STATUS, {FormatTime(position), FormatTime(duration)})));
}

void CCustomSlider::SetCroppedView(bool cropped) {
  if (cropped == cropped_) return;
  cropped_ = cropped;
  WriteStatus(player_ && player_->IsAttached() ? lastTimes_ : QString());
}

void CCustomSlider::WriteStatus(const QString& times) {
  lastTimes_ = times;
  if (!status_) return;
  QString text = times;
  if (cropped_) {
    // In the label's regular weight after the bold times, so that both fit the line.
    const QString note = QString::fromStdString(tav::res::Text(tav::res::IDS_PREVIEW_CROPPED)).toHtmlEscaped();
    text = QStringLiteral("%1<span style=\"font-weight:normal\">%2</span>")
               .arg(times.toHtmlEscaped(), times.isEmpty() ? note : QStringLiteral(" - ") + note);
  }
  // Compared with the label itself: the form clears it when a preview closes.
  if (status_->text() != text) status_->setText(text);
}

// ---- commands ----

HRESULT CCustomSlider::OnPlay() { return player_ ? player_->Run() : E_UNEXPECTED; }

HRESULT CCustomSlider::OnPause() { return player_ ? player_->Pause() : E_UNEXPECTED; }

HRESULT CCustomSlider::OnStop() {
  if (!player_) return E_UNEXPECTED;
  HRESULT hr = player_->Pause();
  if (FAILED(hr)) return hr;
  hr = player_->Seek(0);
  if (FAILED(hr)) return hr;
  hr = player_->Stop();
  SetPos(kMin);
  return hr;
}

// ---- dragging ----

void CCustomSlider::BeginThumbScroll() {
  scrolling_ = true;
  stateBeforeScroll_ = player_ ? player_->GetState() : PlayerCore::kNoGraph;
  if (player_ && player_->IsAttached()) player_->Pause();
}

void CCustomSlider::ThumbScrollTo(int value) {
  SetPos(value);
  if (player_ && player_->IsAttached()) player_->SeekToSlider(pos_, kMin, kMax);
}

void CCustomSlider::EndThumbScroll() {
  if (!scrolling_) return;
  scrolling_ = false;
  if (!player_ || !player_->IsAttached()) return;
  switch (stateBeforeScroll_) {
    case PlayerCore::kRunning: player_->Run(); break;
    case PlayerCore::kPaused: player_->Pause(); break;
    case PlayerCore::kStopped: player_->Stop(); break;
    default: break;
  }
}

void CCustomSlider::MoveMarker(Part marker, int value) {
  // A marker stays within the range and never passes the other one.
  if (marker == Part::kStartMarker)
    value = std::clamp(value, kMin, selEnd_);
  else
    value = std::clamp(value, selStart_, kMax);
  if (marker == Part::kStartMarker)
    SetSelection(value, selEnd_);
  else
    SetSelection(selStart_, value);
  if (!player_ || !player_->IsAttached()) return;
  player_->Pause();
  if (marker == Part::kStartMarker)
    player_->SetStartFromSlider(value, kMin, kMax);
  else
    player_->SetEndFromSlider(value, kMin, kMax);
  SetPos(int(player_->SliderPos(kMin, kMax)));
  emit PointsChanged();
}

void CCustomSlider::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  const QPoint at = event->position().toPoint();
  dragPart_ = HitTest(at);
  if (dragPart_ == Part::kNone && ChannelRect().adjusted(0, -kThumbHeight / 2, 0, kThumbHeight / 2).contains(at)) {
    // A click on the channel jumps there and holds the thumb, as if it had been grabbed.
    dragPart_ = Part::kThumb;
    BeginThumbScroll();
    ThumbScrollTo(ValueAt(at.x()));
  }
  event->accept();
}

void CCustomSlider::mouseMoveEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  switch (dragPart_) {
    case Part::kThumb:
      if (!scrolling_) BeginThumbScroll();
      ThumbScrollTo(ValueAt(at.x()));
      break;
    case Part::kStartMarker:
    case Part::kEndMarker:
      MoveMarker(dragPart_, ValueAt(at.x()));
      break;
    case Part::kNone:
      break;
  }
}

void CCustomSlider::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
  if (dragPart_ == Part::kThumb) EndThumbScroll();
  dragPart_ = Part::kNone;
}

void CCustomSlider::keyPressEvent(QKeyEvent* event) {
  int value = pos_;
  switch (event->key()) {
    case Qt::Key_Left: case Qt::Key_Up: value -= 1; break;
    case Qt::Key_Right: case Qt::Key_Down: value += 1; break;
    case Qt::Key_PageUp: value -= kTickStep; break;
    case Qt::Key_PageDown: value += kTickStep; break;
    case Qt::Key_Home: value = kMin; break;
    case Qt::Key_End: value = kMax; break;
    default: return QWidget::keyPressEvent(event);
  }
  BeginThumbScroll();
  ThumbScrollTo(std::clamp(value, kMin, kMax));
  EndThumbScroll();
}

bool CCustomSlider::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    const Part part = HitTest(help->pos());
    if (part == Part::kStartMarker || part == Part::kEndMarker) {
      const UINT id = part == Part::kStartMarker ? tav::res::IDS_MARKER_START : tav::res::IDS_MARKER_END;
      QToolTip::showText(help->globalPos(), TooltipPart(id), this, MarkerRect(part));
    } else {
      QToolTip::hideText();
      event->ignore();
    }
    return true;
  }
  return QWidget::event(event);
}

// ---- painting ----

void CCustomSlider::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const bool enabled = isEnabled();
  const QPalette& pal = palette();
  const QRect channel = ChannelRect();

  // The channel, sunken, with the trim range highlighted.
  p.fillRect(channel, pal.color(QPalette::Base));
  p.setPen(pal.color(QPalette::Dark));
  p.drawRect(channel.adjusted(0, 0, -1, -1));
  if (selEnd_ > selStart_) {
    const QRect range(XOf(selStart_), channel.top() + 1, XOf(selEnd_) - XOf(selStart_), channel.height() - 2);
    p.fillRect(range, enabled ? pal.color(QPalette::Highlight) : pal.color(QPalette::Mid));
  }

  // Ticks every 100.
  p.setPen(pal.color(enabled ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
  const int tickTop = channel.bottom() + 3;
  for (int v = kMin; v <= kMax; v += kTickStep) p.drawLine(XOf(v), tickTop, XOf(v), tickTop + kTickLength - 1);

  // The markers under the range ends.
  const QPixmap start = ResourceImage(kImageMarkerStart), end = ResourceImage(kImageMarkerEnd);
  if (!enabled) p.setOpacity(0.4);
  p.drawPixmap(MarkerRect(Part::kStartMarker).topLeft(), start);
  p.drawPixmap(MarkerRect(Part::kEndMarker).topLeft(), end);
  p.setOpacity(1.0);

  // The thumb.
  const QRect thumb = ThumbRect();
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(pal.color(QPalette::Shadow));
  p.setBrush(enabled ? pal.color(QPalette::Button) : pal.color(QPalette::Window));
  p.drawRoundedRect(QRectF(thumb).adjusted(0.5, 0.5, -0.5, -0.5), 2, 2);
  if (hasFocus()) {
    p.setPen(QPen(pal.color(QPalette::Highlight), 1, Qt::DotLine));
    p.setBrush(Qt::NoBrush);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
  }
}

}  // namespace tav::ui
