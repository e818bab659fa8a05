// CGreatingBoxDlg: the notice box shown at start-up (dialog 163, "NOTICE"): two notices, a
// "Close" button and the check box "Don't show this message again", whose state is
// kept in the profile as "GREATINGBOX"/"DONTSHOWAGAIN".
#pragma once

#include <QDialog>
#include <memory>
#include <string>

class QCheckBox;
class QPushButton;

namespace Ui {
class GreatingBoxDlg;
}

namespace tav::ui {

class FrameDialogs;

class CGreatingBoxDlg : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kDialogId = 163;

  CGreatingBoxDlg(std::string profile, QWidget* parent = nullptr);
  ~CGreatingBoxDlg() override;

  // Shows the box through dialogs unless "DONTSHOWAGAIN" is set (then it answers Rejected at
  // once, as cancelled); on closing stores the check box's state.
  int ShowIfWanted(FrameDialogs& dialogs);

  QCheckBox* DontShowCheck() const { return dontShow_; }
  QPushButton* CloseButton() const { return close_; }

 private:
  std::unique_ptr<Ui::GreatingBoxDlg> ui_;
  std::string profile_;
  QCheckBox* dontShow_ = nullptr;
  QPushButton* close_ = nullptr;
};

}  // namespace tav::ui
