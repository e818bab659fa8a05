#include "converter/ui/app/preferencesdlg.h"

#include <unistd.h>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <filesystem>

#include "converter/engine/strings.h"
#include "converter/ui/controls/uitext.h"
#include "ui_preferencesdlg.h"

namespace tav::ui {

namespace {

CPreferencesDialog::Questions WithDefaults(CPreferencesDialog::Questions q) {
  if (!q.askYesNo)
    q.askYesNo = [](QWidget* parent, const QString& text) {
      return QMessageBox::question(parent, ui::Text(res::IDS_APP_TITLE), text) == QMessageBox::Yes;
    };
  if (!q.showError)
    q.showError = [](QWidget* parent, const QString& text) {
      QMessageBox::warning(parent, ui::Text(res::IDS_APP_TITLE), text);
    };
  if (!q.chooseFolder)
    q.chooseFolder = [](QWidget* parent, const QString& start) {
      return QFileDialog::getExistingDirectory(parent, QString(), start);
    };
  return q;
}

}  // namespace

CPreferencesDialog::CPreferencesDialog(QWidget* parent, Questions questions)
    : QDialog(parent), ui_(std::make_unique<Ui::PreferencesDialog>()), questions_(WithDefaults(std::move(questions))) {
  ui_->setupUi(this);
  setWindowTitle(ui::Text(res::IDS_PREFS_TITLE));
  ui_->simultaneousLabel->setText(ui::Text(res::IDS_PREFS_SIMULTANEOUS));
  ui_->outputGroup->setTitle(ui::Text(res::IDS_PREFS_OUTPUT_GROUP));
  ui_->besideRadio->setText(ui::Text(res::IDS_PREFS_BESIDE_MOVIE));
  ui_->folderRadio->setText(ui::Text(res::IDS_PREFS_IN_FOLDER));
  ui_->browseButton->setText(ui::Text(res::IDS_PREFS_BROWSE));
  const int cores = Preferences::MaxSimultaneous();
  ui_->simultaneousSpin->setRange(1, cores);
  ui_->simultaneousNote->setText(
      QString::fromStdString(res::FormatId(res::IDS_PREFS_SIMULTANEOUS_NOTE, {std::to_string(cores)})));

  const Preferences current = Preferences::Load();
  ui_->simultaneousSpin->setValue(current.simultaneous);
  ui_->folderEdit->setText(QString::fromStdString(current.outputFolder));
  (current.outputFolder.empty() ? ui_->besideRadio : ui_->folderRadio)->setChecked(true);

  connect(ui_->folderRadio, &QRadioButton::toggled, this, &CPreferencesDialog::UpdateEnabling);
  connect(ui_->browseButton, &QPushButton::clicked, this, &CPreferencesDialog::Browse);
  connect(ui_->buttonBox, &QDialogButtonBox::accepted, this, &CPreferencesDialog::accept);
  connect(ui_->buttonBox, &QDialogButtonBox::rejected, this, &CPreferencesDialog::reject);
  UpdateEnabling();
}

CPreferencesDialog::~CPreferencesDialog() = default;

void CPreferencesDialog::UpdateEnabling() {
  const bool folder = ui_->folderRadio->isChecked();
  ui_->folderEdit->setEnabled(folder);
  ui_->browseButton->setEnabled(folder);
}

void CPreferencesDialog::Browse() {
  const QString chosen = questions_.chooseFolder(this, ui_->folderEdit->text());
  if (!chosen.isEmpty()) ui_->folderEdit->setText(chosen);
}

Preferences CPreferencesDialog::Chosen() const {
  Preferences p;
  p.simultaneous = ui_->simultaneousSpin->value();
  if (ui_->folderRadio->isChecked()) {
    std::string folder = ui_->folderEdit->text().trimmed().toStdString();
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    p.outputFolder = folder;
  }
  return p;
}

bool CPreferencesDialog::Apply() {
  const Preferences p = Chosen();
  if (ui_->folderRadio->isChecked()) {
    const std::string& folder = p.outputFolder;
    std::string problem;
    if (folder.empty()) {
      problem = res::Text(res::IDS_PREFS_FOLDER_EMPTY);
    } else if (!QFileInfo::exists(QString::fromStdString(folder))) {
      // A folder that is not there yet may be made on the spot.
      const std::string missing = res::FormatId(res::IDS_OUTPUT_FOLDER_MISSING, {folder});
      if (!questions_.askYesNo(this, QString::fromStdString(res::FormatId(res::IDS_OUTPUT_FOLDER_CREATE, {missing}))))
        return false;
      std::error_code ec;
      std::filesystem::create_directories(folder, ec);
      if (ec) problem = res::FormatId(res::IDS_OUTPUT_FOLDER_NOT_MADE, {folder, ec.message()});
    } else if (!QFileInfo(QString::fromStdString(folder)).isDir()) {
      problem = res::FormatId(res::IDS_OUTPUT_FOLDER_NOT_FOLDER, {folder});
    } else if (::access(folder.c_str(), W_OK | X_OK) != 0) {
      problem = res::FormatId(res::IDS_OUTPUT_FOLDER_READ_ONLY, {folder});
    }
    if (!problem.empty()) {
      questions_.showError(this, QString::fromStdString(problem));
      return false;
    }
  }
  p.Save();
  return true;
}

void CPreferencesDialog::accept() {
  if (Apply()) QDialog::accept();
}

}  // namespace tav::ui
