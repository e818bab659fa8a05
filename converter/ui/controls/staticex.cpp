#include "converter/ui/controls/staticex.h"

namespace tav::ui {

CStaticEx::CStaticEx(QWidget* parent) : QLabel(parent) { SetBold(true); }

CStaticEx::CStaticEx(const QString& text, QWidget* parent) : QLabel(text, parent) { SetBold(true); }

void CStaticEx::SetBold(bool bold) {
  QFont f = font();
  f.setBold(bold);
  setFont(f);
}

}  // namespace tav::ui
