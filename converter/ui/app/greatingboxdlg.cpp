#include "converter/ui/app/greatingboxdlg.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

#include "converter/engine/strings.h"
#include "converter/ui/app/framedialogs.h"
#include "converter/ui/app/profilesettings.h"
#include "converter/ui/controls/uitext.h"
#include "ui_greatingboxdlg.h"

namespace tav::ui {

CGreatingBoxDlg::CGreatingBoxDlg(std::string profile, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::GreatingBoxDlg>()), profile_(std::move(profile)) {
  ui_->setupUi(this);
  setWindowTitle(ui::Text(res::IDS_NOTICE_TITLE));
  const int iconSize = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
  ui_->iconLabel->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation, nullptr, this).pixmap(iconSize));
  ui_->firstNotice->setText(ui::Text(res::IDS_NOTICE_TEXT1));
  ui_->secondNotice->setText(ui::Text(res::IDS_NOTICE_TEXT2));
  dontShow_ = ui_->dontShowAgain;
  dontShow_->setText(ui::Text(res::IDS_NOTICE_DONT_SHOW));
  close_ = ui_->closeButton;
  close_->setText(ui::Text(res::IDS_NOTICE_CLOSE));
  connect(close_, &QPushButton::clicked, this, &QDialog::reject);
}

CGreatingBoxDlg::~CGreatingBoxDlg() = default;

int CGreatingBoxDlg::ShowIfWanted(FrameDialogs& dialogs) {
  if (ReadProfileInt(profile_, kGreatingBoxSection, kDontShowAgainKey, 0) != 0) return QDialog::Rejected;
  const int result = dialogs.Exec(*this);
  WriteProfileInt(profile_, kGreatingBoxSection, kDontShowAgainKey, dontShow_->isChecked() ? 1 : 0);
  return result;
}

}  // namespace tav::ui
