#include "converter/ui/controls/imgbutton.h"

#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>

#include "converter/ui/controls/images.h"

namespace tav::ui {

namespace {
constexpr int kMargin = 4;  // between the face's edge, the image and the caption
}

CImgButton::CImgButton(QWidget* parent) : QPushButton(parent) {}

void CImgButton::SetImages(const QPixmap& normal, const QPixmap& disabled) {
  normal_ = normal;
  disabled_ = disabled;
  updateGeometry();
  update();
}

void CImgButton::SetImageIds(int normalId, int disabledId) {
  SetImages(ResourceImage(normalId), disabledId ? ResourceImage(disabledId) : QPixmap());
}

void CImgButton::SetCaptionAlign(int flags) {
  align_ = flags;
  update();
}

QSize CImgButton::sizeHint() const {
  QSize hint = QPushButton::sizeHint();
  if (!normal_.isNull()) {
    QSize image = normal_.deviceIndependentSize().toSize();
    hint = hint.expandedTo(image + QSize(2 * kMargin + 4, 2 * kMargin + 4));
  }
  return hint;
}

void CImgButton::paintEvent(QPaintEvent*) {
  QStylePainter p(this);
  QStyleOptionButton option;
  initStyleOption(&option);
  // The face alone; the image and the caption are ours.
  option.text.clear();
  option.icon = QIcon();
  p.drawControl(QStyle::CE_PushButtonBevel, option);

  const QRect face = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
  const QRect inner = face.adjusted(kMargin, kMargin, -kMargin, -kMargin);
  const int shift = isDown() ? 1 : 0;

  const QString caption = text();
  int flags = Qt::TextShowMnemonic;
  flags |= (align_ & kAlignHCenter) ? Qt::AlignHCenter : (align_ & kAlignRight) ? Qt::AlignRight : Qt::AlignLeft;
  flags |= (align_ & kAlignVCenter) ? Qt::AlignVCenter : (align_ & kAlignBottom) ? Qt::AlignBottom : Qt::AlignTop;
  QRect textRect = p.fontMetrics().boundingRect(inner, flags, caption);
  if (caption.isEmpty()) textRect = QRect();

  const bool enabled = isEnabled();
  QPixmap image = enabled || disabled_.isNull() ? normal_ : disabled_;
  if (!image.isNull()) {
    QSize size = image.deviceIndependentSize().toSize();
    QRect area = inner;
    // With a caption beside it, the image takes the room the caption leaves.
    if (!textRect.isNull() && !(align_ & kAlignHCenter)) {
      if (align_ & kAlignRight)
        area.setRight(textRect.left() - kMargin);
      else
        area.setLeft(textRect.right() + kMargin);
    } else if (!textRect.isNull()) {
      if (align_ & kAlignBottom)
        area.setBottom(textRect.top() - kMargin);
      else if (!(align_ & kAlignVCenter))
        area.setTop(textRect.bottom() + kMargin);
    }
    QPoint at(area.left() + (area.width() - size.width()) / 2, area.top() + (area.height() - size.height()) / 2);
    if (!enabled && disabled_.isNull()) {
      image = style()->generatedIconPixmap(QIcon::Disabled, image, &option);
    }
    p.drawPixmap(at + QPoint(shift, shift), image);
  }
  if (!caption.isEmpty()) {
    option.rect = inner.translated(shift, shift);
    p.setPen(palette().color(enabled ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    p.drawText(option.rect, flags, caption);
  }
  if (hasFocus()) {
    QStyleOptionFocusRect focus;
    focus.initFrom(this);
    focus.rect = face;
    p.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
  }
}

CMultiButton::CMultiButton(QWidget* parent) : CImgButton(parent) {
  connect(this, &QPushButton::clicked, this, [this] {
    if (current_ >= 0) emit Command(states_[size_t(current_)].command);
  });
}

void CMultiButton::AddState(UINT command, const QString& caption, const QPixmap& image, const QPixmap& disabledImage) {
  states_.push_back({command, caption, image, disabledImage});
  if (current_ < 0) {
    current_ = 0;
    ShowState();
  }
}

bool CMultiButton::SetState(UINT command) {
  for (size_t i = 0; i < states_.size(); ++i) {
    if (states_[i].command == command) {
      if (int(i) != current_) {
        current_ = int(i);
        ShowState();
      }
      return true;
    }
  }
  return false;
}

UINT CMultiButton::CurrentCommand() const { return current_ < 0 ? 0 : states_[size_t(current_)].command; }

void CMultiButton::ShowState() {
  const State& state = states_[size_t(current_)];
  setText(state.caption);  // also the mnemonic of the state
  SetImages(state.image, state.disabledImage);
}

CImgMultiButton::CImgMultiButton(QWidget* parent) : CMultiButton(parent) {}

void CImgMultiButton::AddImageState(UINT command, int imageId, int disabledImageId) {
  AddState(command, QString(), ResourceImage(imageId), ResourceImage(disabledImageId));
}

}  // namespace tav::ui
