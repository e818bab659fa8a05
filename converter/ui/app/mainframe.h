// CMainFrame: the program's single-document frame - menus, the tool bar with our logo, the
// status bar ("For Help, press F1") and, in its central area, the main form.
//
// Seam for the main form: the application makes the form through the view factory it is
// given (ConverterApplication::SetViewFactory, application.h) and installs it with
// SetView(); until a factory is given the frame shows an empty form area of the form's size.
//
// Size and placement: the frame can't be made smaller than the form (the form's minimum
// size plus the bars and menu). While the window is neither maximised nor minimised its
// rectangle is remembered on every move and size; on close it is written as "MAINFRAME"/
// "WINDOWPOS" ("left, top, right, bottom") together with the bars' visibility. When the
// frame is first shown the value is read back and, when it parses as four numbers, the
// window goes there, widened to its minimum and kept on a screen.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QRect>
#include <QStringList>
#include <array>
#include <functional>
#include <string>

#include "converter/ui/app/profilesettings.h"
#include "media/contract/wintypes.h"

class QAction;
class QLabel;
class QMenu;
class QToolBar;

namespace tav::ui {

class CLogoWidget;

// Frame command ids: the string table's ids of the commands, and what Action() looks
// them up by.
enum FrameCommand : int {
  ID_FILE_NEW = 0xE100,
  ID_FILE_OPEN = 0xE101,
  ID_FILE_SAVE = 0xE103,
  ID_FILE_SAVE_AS = 0xE104,
  ID_FILE_MRU_FILE1 = 0xE110,  // .. ID_FILE_MRU_FILE1 + 8
  ID_APP_ABOUT = 0xE140,
  ID_APP_EXIT = 0xE141,
  ID_HELP_TOPICS = 0xE143,
  ID_VIEW_TOOLBAR = 0xE800,
  ID_VIEW_STATUS_BAR = 0xE801,
  ID_HELP_HOME_PAGE = 32810,
  ID_SETTINGS_PREFERENCES = 32811,
};

// The frame's commands, made once by the frame (it owns them). The application connects
// the document commands to its handlers; the frame handles the bar toggles itself.
struct FrameActions {
  QAction* fileNew = nullptr;
  QAction* fileOpen = nullptr;
  QAction* fileSave = nullptr;
  QAction* fileSaveAs = nullptr;
  std::array<QAction*, RecentFileList::kMaxRecentFiles> recentFiles{};  // shown while listed
  QAction* exit = nullptr;
  QAction* toolBar = nullptr;    // checkable
  QAction* statusBar = nullptr;  // checkable
  QAction* preferences = nullptr;
  QAction* helpContents = nullptr;  // F1
  QAction* homePage = nullptr;
  QAction* about = nullptr;
};

class CMainFrame : public QMainWindow {
  Q_OBJECT

 public:
  explicit CMainFrame(QWidget* parent = nullptr);
  ~CMainFrame() override;

  // The profile file that holds the placement and bar state (empty: nothing is kept).
  void SetProfile(std::string profile) { profile_ = std::move(profile); }

  // Installs the form as the central area (the frame takes ownership); the frame's size
  // then fits it.
  void SetView(QWidget* view);
  QWidget* View() const { return view_; }

  const FrameActions& Actions() const { return actions_; }
  // The action of a command id (null for an id that names none).
  QAction* Action(int command) const;
  // Shows the recent files under File (full paths; the menu shows numbered names).
  void SetRecentFiles(const QStringList& files);
  // Brings every command in line with the frame's state (the recent files listed); the bar
  // toggles are their bars' state themselves.
  void updateActions();
  // "Tavrion Converter - <document>", led by the run's progress ("42% - ...") while one goes on
  // (-1: none).
  void SetDocumentTitle(const QString& title);
  void SetTitleProgress(int percent);

  // Placement.
  void RestorePlacement();
  void SavePlacement();
  QRect RememberedRect() const { return remembered_; }
  // While positive the frame does not save its placement on close.
  void SuspendPlacementSave(bool on) { suspendPlacementSave_ += on ? 1 : -1; }

  // Asked before the window closes; false keeps it open.
  void SetCloseHandler(std::function<bool()> handler) { canClose_ = std::move(handler); }

 signals:
  // Files dropped on the window, in the order given.
  void filesDropped(const QStringList& paths);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  QAction* MakeAction(UINT textId, UINT promptId);
  void BuildMenus();
  void Remember();
  void UpdateTitle();
  void LoadBarState();
  void SaveBarState();

  std::string profile_;
  QPointer<QWidget> view_;
  FrameActions actions_;
  QStringList recentFiles_;
  QMenu* fileMenu_ = nullptr;
  QAction* recentSeparator_ = nullptr;
  QToolBar* toolBar_ = nullptr;
  CLogoWidget* logo_ = nullptr;
  QLabel* idleText_ = nullptr;
  QRect remembered_;
  int suspendPlacementSave_ = 0;
  QString documentTitle_;
  int progress_ = -1;
  std::function<bool()> canClose_;
};

}  // namespace tav::ui
