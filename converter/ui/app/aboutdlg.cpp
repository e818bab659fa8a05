#include "converter/ui/app/aboutdlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>

#include "converter/engine/strings.h"
#include "converter/ui/app/logo.h"
#include "converter/ui/controls/uitext.h"
#include "ui_aboutdlg.h"

namespace tav::ui {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::AboutDlg>()) {
  ui_->setupUi(this);
  setWindowTitle(ui::Text(res::IDS_ABOUT_TITLE));
  ui_->iconLabel->setPixmap(ApplicationIcon().pixmap(64, 64));
  ui_->versionLabel->setText(FormatText(res::IDS_ABOUT_VERSION, {QStringLiteral(TAVRION_VERSION)}));
  ui_->copyrightLabel->setText(ui::Text(res::IDS_ABOUT_COPYRIGHT));
  QPushButton* ok = ui_->buttons->button(QDialogButtonBox::Ok);
  ok->setText(ui::Text(res::IDS_BUTTON_OK));
  ok->setDefault(true);
  connect(ui_->buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
}

CAboutDlg::~CAboutDlg() = default;

}  // namespace tav::ui
