// The folder chooser and the popup-menu update helper.
//
// Dialogs go through a seam so that tests can answer them without a window: while a
// chooser is installed, ChooseFolder asks it instead of opening the desktop's dialog.
#pragma once

#include <QPoint>
#include <functional>
#include <optional>
#include <string>

class QAction;
class QMenu;
class QWidget;

namespace tav::ui {

// Opens the folder dialog (empty title, folders only, starting at startFolder) and answers
// the chosen folder, or nothing when cancelled.
std::optional<std::string> ChooseFolder(QWidget* parent, const std::string& startFolder);

using FolderChooser = std::function<std::optional<std::string>(QWidget* parent, const std::string& startFolder)>;
// Installs (or, with an empty function, removes) the chooser that replaces the dialog.
void SetFolderChooser(FolderChooser chooser);

// Runs update for every command of a popup menu and its sub-menus (separators and
// sub-menu entries excluded), so that checks and enabling are current before it shows.
using CommandUpdate = std::function<void(QAction* action)>;
void UpdatePopupMenu(QMenu* menu, const CommandUpdate& update);
// Updates the menu, then shows it at a global position; answers the chosen action.
QAction* TrackPopupMenu(QMenu* menu, const QPoint& globalPos, const CommandUpdate& update);

}  // namespace tav::ui
