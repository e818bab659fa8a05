// CAboutDlg: "About" (dialog 100): the program's icon, name and version.
#pragma once

#include <QDialog>

namespace tav::ui {

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kDialogId = 100;
  explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace tav::ui
