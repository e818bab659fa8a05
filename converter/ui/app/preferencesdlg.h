// CPreferencesDialog (Settings > Preferences...): how many movies convert at once, and the
// output folder of new batch entries (beside each movie, or one folder; a folder that is not
// there is offered to be made). OK stores them in the application profile.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>

#include "converter/ui/app/preferences.h"

namespace Ui {
class PreferencesDialog;
}

namespace tav::ui {

class CPreferencesDialog : public QDialog {
  Q_OBJECT

 public:
  // What the dialog asks the user and the desktop; the defaults use Qt's own dialogs.
  struct Questions {
    std::function<bool(QWidget*, const QString&)> askYesNo;
    std::function<void(QWidget*, const QString&)> showError;
    std::function<QString(QWidget*, const QString&)> chooseFolder;  // empty: cancelled
  };

  explicit CPreferencesDialog(QWidget* parent = nullptr, Questions questions = {});
  ~CPreferencesDialog() override;

  // The preferences as the controls show them.
  Preferences Chosen() const;
  // Checks the chosen folder (a missing one may be made) and stores the preferences; false,
  // with the reason told, when the folder cannot be used.
  bool Apply();
  Ui::PreferencesDialog* Form() const { return ui_.get(); }

  void accept() override;

 private:
  void UpdateEnabling();
  void Browse();

  std::unique_ptr<Ui::PreferencesDialog> ui_;
  Questions questions_;
};

}  // namespace tav::ui
