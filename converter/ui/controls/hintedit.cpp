#include "converter/ui/controls/hintedit.h"

#include "converter/ui/controls/uitext.h"

namespace tav::ui {

CHintEdit::CHintEdit(QWidget* parent) : QLineEdit(parent) {}

void CHintEdit::SetHint(UINT id) {
  hint_ = id;
  // Qt draws the placeholder in the palette's placeholder colour while the text is empty.
  setPlaceholderText(id ? Text(id) : QString());
}

}  // namespace tav::ui
