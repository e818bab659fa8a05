#include "converter/ui/app/greatingboxdlg.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "converter/engine/strings.h"
#include "converter/ui/app/framedialogs.h"
#include "converter/ui/app/profilesettings.h"
#include "converter/ui/app/uitext.h"

namespace tav::ui {
namespace {
constexpr int kTextWidthPx = 400;
}

CGreatingBoxDlg::CGreatingBoxDlg(std::string profile, QWidget* parent)
    : QDialog(parent), profile_(std::move(profile)) {
  setObjectName(QStringLiteral("greatingBox"));
  setWindowTitle(UiText(res::IDS_NOTICE_TITLE));

  auto* icon = new QLabel(this);
  const int iconSize = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
  icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation, nullptr, this).pixmap(iconSize));
  icon->setAlignment(Qt::AlignTop);

  auto* first = new QLabel(UiText(res::IDS_NOTICE_TEXT1), this);
  QFont bold = first->font();
  bold.setBold(true);
  first->setFont(bold);
  first->setWordWrap(true);
  auto* second = new QLabel(UiText(res::IDS_NOTICE_TEXT2), this);
  second->setWordWrap(true);
  for (QLabel* l : {first, second}) {
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A fixed text width lets the wrapped labels, and so the box, take their exact height.
    l->setFixedWidth(kTextWidthPx);
  }

  dontShow_ = new QCheckBox(UiText(res::IDS_NOTICE_DONT_SHOW), this);
  dontShow_->setObjectName(QStringLiteral("dontShowAgain"));
  dontShow_->setProperty("controlId", kDontShowCheckId);
  close_ = new QPushButton(UiText(res::IDS_NOTICE_CLOSE), this);
  close_->setDefault(true);
  connect(close_, &QPushButton::clicked, this, &QDialog::reject);

  auto* texts = new QVBoxLayout;
  texts->addWidget(first);
  texts->addSpacing(8);
  texts->addWidget(second);
  auto* top = new QHBoxLayout;
  top->addWidget(icon);
  top->addSpacing(8);
  top->addLayout(texts, 1);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(dontShow_);
  bottom->addStretch(1);
  bottom->addWidget(close_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addSpacing(12);
  layout->addLayout(bottom);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

int CGreatingBoxDlg::ShowIfWanted(FrameDialogs& dialogs) {
  if (ReadProfileInt(profile_, kGreatingBoxSection, kDontShowAgainKey, 0) != 0) return QDialog::Rejected;
  const int result = dialogs.Exec(*this);
  WriteProfileInt(profile_, kGreatingBoxSection, kDontShowAgainKey, dontShow_->isChecked() ? 1 : 0);
  return result;
}

}  // namespace tav::ui
