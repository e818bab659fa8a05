// Owner-drawn push buttons with images.
//
// CImgButton draws a normal or a disabled image and an optional caption (the button's
// text, whose '&' mnemonic works as usual: "&Convert" answers Alt+C) on the style's button
// face. The caption is placed by alignment flags: 1 centred horizontally, 2 right,
// 4 centred vertically, 8 bottom; otherwise left and top. The image is centred; with a
// caption it sits on the side the caption leaves free.
//
// CMultiButton holds several states, each with its command id, caption and images. The
// state is switched by command id; a click emits Command() with the current state's id
// (the main form's run button: "&Convert", "&Pause", "&Resume"). CImgMultiButton is the
// same with images only (the Play/Pause button).
#pragma once

#include <QPixmap>
#include <QPushButton>
#include <vector>

#include "media/contract/wintypes.h"

namespace tav::ui {

class CImgButton : public QPushButton {
  Q_OBJECT
 public:
  enum Align : int { kAlignHCenter = 1, kAlignRight = 2, kAlignVCenter = 4, kAlignBottom = 8 };

  explicit CImgButton(QWidget* parent = nullptr);
  // A null disabled image draws the normal one greyed by the style.
  void SetImages(const QPixmap& normal, const QPixmap& disabled = QPixmap());
  // Images by resource id (see images.h).
  void SetImageIds(int normalId, int disabledId = 0);
  void SetCaptionAlign(int flags);
  int CaptionAlign() const { return align_; }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  const QPixmap& NormalImage() const { return normal_; }

 private:
  QPixmap normal_;
  QPixmap disabled_;
  int align_ = kAlignHCenter | kAlignVCenter;
};

class CMultiButton : public CImgButton {
  Q_OBJECT
 public:
  struct State {
    UINT command = 0;
    QString caption;
    QPixmap image;
    QPixmap disabledImage;
  };

  explicit CMultiButton(QWidget* parent = nullptr);
  // Adds a state; the first state added becomes the current one.
  void AddState(UINT command, const QString& caption, const QPixmap& image = QPixmap(),
                const QPixmap& disabledImage = QPixmap());
  // Switches to the state of command; false (and no change) when no state has it.
  bool SetState(UINT command);
  // The current state's command id (0 without states).
  UINT CurrentCommand() const;
  int StateCount() const { return int(states_.size()); }

 signals:
  // A click, with the current state's command id.
  void Command(UINT command);

 private:
  void ShowState();

  std::vector<State> states_;
  int current_ = -1;
};

class CImgMultiButton : public CMultiButton {
  Q_OBJECT
 public:
  explicit CImgMultiButton(QWidget* parent = nullptr);
  // A state drawn by images of the resource ids (see images.h), without caption.
  void AddImageState(UINT command, int imageId, int disabledImageId);
};

}  // namespace tav::ui
