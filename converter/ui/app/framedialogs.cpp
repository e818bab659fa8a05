#include "converter/ui/app/framedialogs.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

#include "converter/engine/strings.h"
#include "converter/ui/controls/uitext.h"

namespace tav::ui {
namespace {

class DesktopFrameDialogs : public FrameDialogs {
 public:
  void MessageBox(QWidget* parent, const QString& text, Icon icon) override {
    const QMessageBox::Icon qtIcon = icon == Icon::Error     ? QMessageBox::Critical
                                     : icon == Icon::Warning ? QMessageBox::Warning
                                                             : QMessageBox::Information;
    QMessageBox box(qtIcon, ui::Text(res::IDS_APP_TITLE), text, QMessageBox::Ok, parent);
    box.exec();
  }
  int Exec(QDialog& dialog) override { return dialog.exec(); }
  QString OpenFileName(QWidget* parent, const QString& filter) override {
    return QFileDialog::getOpenFileName(parent, QString(), QString(), filter);
  }
  QString SaveFileName(QWidget* parent, const QString& suggested, const QString& filter) override {
    return QFileDialog::getSaveFileName(parent, QString(), suggested, filter);
  }
  bool OpenUrl(const QUrl& url) override { return QDesktopServices::openUrl(url); }
  Answer Ask(QWidget* parent, const QString& text) override {
    QMessageBox box(QMessageBox::Question, ui::Text(res::IDS_APP_TITLE), text, QMessageBox::Yes | QMessageBox::No,
                    parent);
    box.setDefaultButton(QMessageBox::Yes);
    // Only a button the user chose (by click or key) answers: a box closed by the program
    // (quitting on SIGTERM) reports No as its result too.
    QAbstractButton* chosen = nullptr;
    QObject::connect(&box, &QMessageBox::buttonClicked, &box, [&chosen](QAbstractButton* b) { chosen = b; });
    box.exec();
    if (!chosen) return Answer::None;
    return box.standardButton(chosen) == QMessageBox::Yes ? Answer::Yes : Answer::No;
  }
  SaveAnswer AskSave(QWidget* parent, const QString& text) override {
    QMessageBox box(QMessageBox::Warning, ui::Text(res::IDS_APP_TITLE), text,
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, parent);
    box.setObjectName(QStringLiteral("saveChangesBox"));
    box.setDefaultButton(QMessageBox::Save);
    box.setEscapeButton(QMessageBox::Cancel);
    QAbstractButton* chosen = nullptr;
    QObject::connect(&box, &QMessageBox::buttonClicked, &box, [&chosen](QAbstractButton* b) { chosen = b; });
    box.exec();
    if (!chosen) return SaveAnswer::Cancel;
    switch (box.standardButton(chosen)) {
      case QMessageBox::Save: return SaveAnswer::Save;
      case QMessageBox::Discard: return SaveAnswer::Discard;
      default: return SaveAnswer::Cancel;
    }
  }
};

}  // namespace

std::unique_ptr<FrameDialogs> MakeDesktopFrameDialogs() { return std::make_unique<DesktopFrameDialogs>(); }

}  // namespace tav::ui
