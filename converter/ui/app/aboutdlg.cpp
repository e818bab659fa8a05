#include "converter/ui/app/aboutdlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "converter/engine/strings.h"
#include "converter/ui/app/logo.h"
#include "converter/ui/app/uitext.h"

namespace tav::ui {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("aboutDialog"));
  setWindowTitle(UiText(res::IDS_ABOUT_TITLE));
  auto* icon = new QLabel(this);
  icon->setPixmap(ApplicationIcon().pixmap(64, 64));
  icon->setAlignment(Qt::AlignTop);
  auto* version = new QLabel(UiFormat(res::IDS_ABOUT_VERSION, {QStringLiteral(TAVRION_VERSION)}), this);
  QFont bold = version->font();
  bold.setBold(true);
  version->setFont(bold);
  auto* copyright = new QLabel(UiText(res::IDS_ABOUT_COPYRIGHT), this);
  copyright->setWordWrap(true);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton(UiText(res::IDS_BUTTON_OK), QDialogButtonBox::AcceptRole);
  ok->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* texts = new QVBoxLayout;
  texts->addWidget(version);
  texts->addWidget(copyright);
  texts->addStretch(1);
  auto* top = new QHBoxLayout;
  top->addWidget(icon);
  top->addSpacing(12);
  top->addLayout(texts, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(buttons);
  setMinimumWidth(360);
}

}  // namespace tav::ui
