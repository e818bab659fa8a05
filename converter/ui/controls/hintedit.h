// CHintEdit: a line edit that shows a grey hint from the string table while its text is
// empty (the main form's subtitle file: "Cannot find matching subtitle file").
#pragma once

#include <QLineEdit>

#include "media/contract/wintypes.h"

namespace tav::ui {

class CHintEdit : public QLineEdit {
  Q_OBJECT
 public:
  explicit CHintEdit(QWidget* parent = nullptr);
  // The hint's string id; 0 removes the hint.
  void SetHint(UINT id);
  UINT Hint() const { return hint_; }

 private:
  UINT hint_ = 0;
};

}  // namespace tav::ui
