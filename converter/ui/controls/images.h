// The program's own button and marker images, drawn with QPainter (no image files), by the
// resource number under which the form and the slider ask for them.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace tav::ui {

enum ImageId : int {
  kImagePlay = 152,
  kImagePause = 153,
  kImageStop = 154,
  kImagePauseDisabled = 156,
  kImagePlayDisabled = 157,
  kImageStopDisabled = 158,
  kImageMarkerStart = 160,  // 16 x 16
  kImageMarkerEnd = 161,    // 16 x 16
};

// The image of id at its natural size (button images 16 x 16, drawn for the screen's
// device pixel ratio); a null pixmap for an unknown id.
QPixmap ResourceImage(int id);
// A button's icon from its normal and disabled images.
QIcon ResourceIcon(int normalId, int disabledId);

}  // namespace tav::ui
