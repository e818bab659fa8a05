// CStaticEx: a label with its own (bold) font, for the group captions of the main form.
#pragma once

#include <QLabel>

namespace tav::ui {

class CStaticEx : public QLabel {
  Q_OBJECT
 public:
  explicit CStaticEx(QWidget* parent = nullptr);
  explicit CStaticEx(const QString& text, QWidget* parent = nullptr);
  void SetBold(bool bold);
};

}  // namespace tav::ui
