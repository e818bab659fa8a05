// CAboutDlg: "About" (dialog 100): the program's icon, name and version.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class AboutDlg;
}

namespace tav::ui {

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kDialogId = 100;
  explicit CAboutDlg(QWidget* parent = nullptr);
  ~CAboutDlg() override;

 private:
  std::unique_ptr<Ui::AboutDlg> ui_;
};

}  // namespace tav::ui
