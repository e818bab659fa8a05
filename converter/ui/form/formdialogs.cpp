#include "converter/ui/form/formdialogs.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>
#include <QDesktopServices>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QUrl>

#include "converter/engine/convertorder.h"
#include "converter/engine/strings.h"
#include "converter/engine/timetext.h"
#include "converter/ui/controls/uitext.h"

namespace tav {

using ui::Q;

namespace {

class DesktopDialogs : public FormDialogs {
 public:
  std::vector<std::string> OpenMovies(QWidget* parent, const std::string& filter) override {
    std::vector<std::string> out;
    for (const QString& f : QFileDialog::getOpenFileNames(parent, QString(), QString(), Q(QtNameFilters(filter))))
      out.push_back(f.toStdString());
    return out;
  }

  std::string OpenFile(QWidget* parent, const std::string& start, const std::string& filter,
                       const std::string& defaultExtension) override {
    QFileDialog dialog(parent, QString(), Q(start), Q(QtNameFilters(filter)));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (!defaultExtension.empty()) dialog.setDefaultSuffix(Q(defaultExtension).remove(0, 1));
    if (QFileInfo(Q(start)).isFile()) dialog.selectFile(Q(start));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::string();
    return dialog.selectedFiles().front().toStdString();
  }

  std::string ChooseFolder(QWidget* parent, const std::string& start) override {
    const QString chosen = QFileDialog::getExistingDirectory(parent, QString(), Q(start));
    if (chosen.isEmpty()) return std::string();
    return chosen.endsWith('/') ? chosen.toStdString() : (chosen + '/').toStdString();
  }

  void ShowProperties(QWidget* parent, CConvertOrder& entry) override {
    const QString path = Q(entry.SourcePath().Full());
    // The file manager's own properties window, where one answers on the session bus.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected() && bus.interface() &&
        bus.interface()->isServiceRegistered("org.freedesktop.FileManager1").value()) {
      QDBusInterface fm("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                        "org.freedesktop.FileManager1", bus);
      const QDBusMessage reply =
          fm.call("ShowItemProperties", QStringList{QUrl::fromLocalFile(path).toString()}, QString());
      if (reply.type() != QDBusMessage::ErrorMessage) return;
    }
    const REFERENCE_TIME duration = entry.GetDuration();
    QString text = QString("%1\n\n%2").arg(path, QLocale().formattedDataSize(entry.GetFileSize()));
    if (duration != kUnknownTime) text += "\n" + Q(FormatTime(duration));
    if (entry.GetStoredWidth() > 0) {
      text += "\n" + Q(res::FormatId(res::IDS_PROPERTIES_STORED_SIZE,
                                     {std::to_string(entry.GetSourceWidth()), std::to_string(entry.GetSourceHeight()),
                                      std::to_string(entry.GetStoredWidth()), std::to_string(entry.GetStoredHeight())}));
    } else if (entry.GetSourceWidth() > 0) {
      text += QString("\n%1 x %2").arg(entry.GetSourceWidth()).arg(entry.GetSourceHeight());
    }
    QMessageBox::information(parent, Q(entry.SourcePath().FileName()), text);
  }

  bool AskYesNo(QWidget* parent, const std::string& text) override {
    QMessageBox box(QMessageBox::Question, Q(res::Text(res::IDS_APP_TITLE)), Q(text),
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
  }

  void ShowRunSummary(QWidget* parent, const std::string& text, const std::string& folder) override {
    // One summary at a time: the last run's replaces an earlier one still up.
    if (summary_) summary_->close();
    auto* box = new QMessageBox(QMessageBox::Information, Q(res::Text(res::IDS_APP_TITLE)), Q(text), QMessageBox::Ok,
                                parent);
    box->setObjectName("runSummaryBox");
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    if (!folder.empty()) {
      QPushButton* open = box->addButton(Q(res::Text(res::IDS_NOTIFY_OPEN_FOLDER)), QMessageBox::ActionRole);
      const QUrl url = QUrl::fromLocalFile(Q(folder));
      QObject::connect(open, &QPushButton::clicked, box, [url] { QDesktopServices::openUrl(url); });
    }
    summary_ = box;
    box->show();
  }

  void ShowError(QWidget* parent, const std::string& text) override {
    QMessageBox box(QMessageBox::Warning, Q(res::Text(res::IDS_APP_TITLE)), Q(text), QMessageBox::Ok, parent);
    box.setObjectName("formErrorBox");
    box.exec();
  }

 private:
  QPointer<QMessageBox> summary_;
};

}  // namespace

std::unique_ptr<FormDialogs> MakeDesktopDialogs() { return std::make_unique<DesktopDialogs>(); }

std::string QtNameFilters(const std::string& filter) {
  const std::vector<std::string> parts = res::SplitItems(filter);
  std::string out;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    std::string patterns = parts[i + 1];
    for (char& c : patterns)
      if (c == ';') c = ' ';
    if (patterns == "*.*") patterns = "*";
    if (!out.empty()) out += ";;";
    out += parts[i] + " (" + patterns + ")";
  }
  return out;
}

}  // namespace tav
