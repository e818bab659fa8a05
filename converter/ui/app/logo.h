// The program's own pictures: the application icon (drawn from the SVG in resources/ at every
// size asked) and the logo strip of the main frame's tool bar.
#pragma once

#include <QIcon>
#include <QWidget>

namespace tav::ui {

// The application icon at 16 to 256 pixels.
QIcon ApplicationIcon();
// The icon drawn at size x size pixels.
QPixmap IconPixmap(int size);

// The tool bar's logo: the icon and the program's name on a soft band, as wide as the bar.
class CLogoWidget : public QWidget {
  Q_OBJECT

 public:
  explicit CLogoWidget(QWidget* parent = nullptr);
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace tav::ui
