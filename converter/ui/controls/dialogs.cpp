#include "converter/ui/controls/dialogs.h"

#include <QFileDialog>
#include <QMenu>

namespace tav::ui {

namespace {
FolderChooser& InstalledChooser() {
  static FolderChooser chooser;
  return chooser;
}
}  // namespace

void SetFolderChooser(FolderChooser chooser) { InstalledChooser() = std::move(chooser); }

std::optional<std::string> ChooseFolder(QWidget* parent, const std::string& startFolder) {
  if (InstalledChooser()) return InstalledChooser()(parent, startFolder);
  // Local files only: the chosen path must be one the converter can write into.
  const QString folder =
      QFileDialog::getExistingDirectory(parent, QString(), QString::fromStdString(startFolder),
                                        QFileDialog::ShowDirsOnly);
  if (folder.isEmpty()) return std::nullopt;
  return folder.toStdString();
}

void UpdatePopupMenu(QMenu* menu, const CommandUpdate& update) {
  if (!menu || !update) return;
  for (QAction* action : menu->actions()) {
    if (action->isSeparator()) continue;
    if (QMenu* sub = action->menu()) {
      UpdatePopupMenu(sub, update);
      continue;
    }
    update(action);
  }
}

QAction* TrackPopupMenu(QMenu* menu, const QPoint& globalPos, const CommandUpdate& update) {
  UpdatePopupMenu(menu, update);
  return menu->exec(globalPos);
}

}  // namespace tav::ui
