#include "converter/ui/app/mainframe.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLoggingCategory>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>

#include "converter/engine/strings.h"
#include "converter/ui/app/logo.h"
#include "converter/ui/app/profilesettings.h"
#include "converter/ui/app/uitext.h"
#include "converter/ui/controls/uitext.h"

Q_LOGGING_CATEGORY(lcFrame, "tavrion.ui.frame", QtWarningMsg)

namespace tav::ui {
namespace {

// The size of the main form (dialog 101) while no form is installed.
constexpr QSize kEmptyFormSize{681, 635};
// How much of a restored window must lie on a screen.
constexpr int kMinVisiblePx = 48;
// What a desktop usually adds around a window: the title bar and the borders.
constexpr int kTitleBarPx = 40;
constexpr int kFrameBorderPx = 10;

}  // namespace

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("mainFrame"));
  setWindowIcon(ApplicationIcon());
  setAcceptDrops(true);

  BuildMenus();

  toolBar_ = addToolBar(QStringLiteral("MAINFRAME"));
  toolBar_->setObjectName(QStringLiteral("logoToolBar"));
  toolBar_->setMovable(false);
  toolBar_->setFloatable(false);
  toolBar_->toggleViewAction()->setVisible(false);
  logo_ = new CLogoWidget(toolBar_);
  toolBar_->addWidget(logo_);

  idleText_ = new QLabel(UiText(res::IDS_IDLE_MESSAGE), this);
  idleText_->setObjectName(QStringLiteral("idleMessage"));
  statusBar()->addWidget(idleText_, 1);

  // An empty form area until the form is installed.
  auto* empty = new QWidget(this);
  empty->setObjectName(QStringLiteral("emptyForm"));
  empty->setMinimumSize(kEmptyFormSize);
  SetView(empty);
  UpdateTitle();
}

CMainFrame::~CMainFrame() = default;

QAction* CMainFrame::MakeAction(int command, UINT textId, UINT promptId) {
  auto* action = new QAction(MenuLabel(textId), this);
  action->setShortcut(MenuShortcut(textId));
  if (promptId) ApplyControlTexts(action, promptId);
  action->setData(command);
  connect(action, &QAction::triggered, this, [this, command] { emit commandTriggered(command); });
  actions_[command] = action;
  return action;
}

void CMainFrame::BuildMenus() {
  fileMenu_ = menuBar()->addMenu(UiText(res::IDS_MENU_FILE));
  fileMenu_->addAction(MakeAction(ID_FILE_NEW, res::IDS_MENU_NEW, res::IDS_PROMPT_NEW));
  fileMenu_->addAction(MakeAction(ID_FILE_OPEN, res::IDS_MENU_OPEN, res::IDS_PROMPT_OPEN));
  fileMenu_->addAction(MakeAction(ID_FILE_SAVE, res::IDS_MENU_SAVE, res::IDS_PROMPT_SAVE));
  fileMenu_->addAction(MakeAction(ID_FILE_SAVE_AS, res::IDS_MENU_SAVE_AS, res::IDS_PROMPT_SAVE_AS));
  recentSeparator_ = fileMenu_->addSeparator();
  for (int i = 0; i < RecentFileList::kMaxRecentFiles; ++i) {
    QAction* a = MakeAction(ID_FILE_MRU_FILE1 + i, res::IDS_MENU_RECENT_FILE, res::IDS_PROMPT_RECENT_FILE);
    a->setVisible(false);
    fileMenu_->addAction(a);
  }
  fileMenu_->addSeparator();
  exitAction_ = MakeAction(ID_APP_EXIT, res::IDS_MENU_EXIT, res::IDS_PROMPT_EXIT);
  fileMenu_->addAction(exitAction_);

  QMenu* view = menuBar()->addMenu(UiText(res::IDS_MENU_VIEW));
  QAction* toolBar = MakeAction(ID_VIEW_TOOLBAR, res::IDS_MENU_TOOLBAR, res::IDS_PROMPT_TOOLBAR);
  toolBar->setCheckable(true);
  toolBar->setChecked(true);
  connect(toolBar, &QAction::toggled, this, [this](bool on) { toolBar_->setVisible(on); });
  view->addAction(toolBar);
  QAction* status = MakeAction(ID_VIEW_STATUS_BAR, res::IDS_MENU_STATUS_BAR, res::IDS_PROMPT_STATUS_BAR);
  status->setCheckable(true);
  status->setChecked(true);
  connect(status, &QAction::toggled, this, [this](bool on) { statusBar()->setVisible(on); });
  view->addAction(status);

  // A Settings menu before Help, as desktop programs keep one: the letters of Edit and
  // Tools are all the form's mnemonics already.
  QMenu* settings = menuBar()->addMenu(UiText(res::IDS_MENU_SETTINGS));
  QAction* preferences = MakeAction(ID_SETTINGS_PREFERENCES, res::IDS_MENU_PREFERENCES, res::IDS_PROMPT_PREFERENCES);
  preferences->setMenuRole(QAction::PreferencesRole);
  settings->addAction(preferences);

  QMenu* help = menuBar()->addMenu(UiText(res::IDS_MENU_HELP));
  help->addAction(MakeAction(ID_HELP_TOPICS, res::IDS_MENU_HELP_TOPICS, res::IDS_PROMPT_HELP_TOPICS));
  help->addAction(MakeAction(ID_HELP_HOME_PAGE, res::IDS_MENU_HOME_PAGE, res::IDS_PROMPT_HOME_PAGE));
  help->addSeparator();
  help->addAction(MakeAction(ID_APP_ABOUT, res::IDS_MENU_ABOUT, res::IDS_PROMPT_ABOUT));
}

QAction* CMainFrame::Action(int command) const {
  auto it = actions_.find(command);
  return it == actions_.end() ? nullptr : it->second;
}

void CMainFrame::SetView(QWidget* view) {
  if (!view) return;
  QWidget* old = takeCentralWidget();
  setCentralWidget(view);
  view_ = view;
  if (old && old != view) old->deleteLater();
  // The frame opens with most of the screen (the list and the preview take the room), or
  // what its form asks for when that is more, within the screen; the layout keeps it from
  // getting smaller than the form's controls need.
  adjustSize();
  QSize size = sizeHint();
  if (const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
    // Room for the title bar and the window's border, which the desktop adds.
    const QSize room = screen->availableGeometry().size() - QSize(kFrameBorderPx, kTitleBarPx);
    size = size.expandedTo(room * 9 / 10).boundedTo(room);
  }
  resize(size.expandedTo(minimumSizeHint()));
}

void CMainFrame::SetRecentFiles(const QStringList& files) {
  for (int i = 0; i < RecentFileList::kMaxRecentFiles; ++i) {
    QAction* a = Action(ID_FILE_MRU_FILE1 + i);
    if (i < files.size()) {
      const QString name = QFileInfo(files[i]).fileName().replace(QLatin1Char('&'), QStringLiteral("&&"));
      a->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(name));
      a->setStatusTip(QDir::toNativeSeparators(files[i]));
      a->setVisible(true);
    } else {
      a->setVisible(false);
    }
  }
  recentSeparator_->setVisible(!files.isEmpty());
}

void CMainFrame::SetDocumentTitle(const QString& title) {
  documentTitle_ = title;
  UpdateTitle();
}

void CMainFrame::SetTitleProgress(int percent) {
  progress_ = percent;
  UpdateTitle();
}

void CMainFrame::UpdateTitle() {
  QString title = UiText(res::IDS_APP_TITLE);
  if (!documentTitle_.isEmpty()) title += QStringLiteral(" - ") + documentTitle_;
  // A run's progress leads, so that it shows in a task bar entry cut short.
  if (progress_ >= 0) title = QStringLiteral("%1% - ").arg(progress_) + title;
  setWindowTitle(title);
}

void CMainFrame::Remember() {
  if (windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen)) return;
  remembered_ = geometry();
}

void CMainFrame::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  Remember();
}

void CMainFrame::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  Remember();
}

void CMainFrame::RestorePlacement() {
  LoadBarState();
  if (profile_.empty()) return;
  const std::string text = ReadProfileString(profile_, kMainFrameSection, kWindowPosKey);
  const std::optional<QRect> saved = ParseWindowPos(text);
  if (!saved) {
    if (!text.empty()) qCWarning(lcFrame) << "ignoring WINDOWPOS" << QString::fromStdString(text);
    return;
  }
  QRect rect = *saved;
  const QSize minimum = minimumSizeHint().expandedTo(minimumSize());
  rect.setSize(rect.size().expandedTo(minimum));
  // A rectangle that no screen shows any more (a display was removed) keeps the window
  // where the desktop puts it, at the saved size.
  bool onScreen = false;
  for (QScreen* screen : QGuiApplication::screens()) {
    const QRect visible = screen->availableGeometry().intersected(rect);
    if (visible.width() >= kMinVisiblePx && visible.height() >= kMinVisiblePx) onScreen = true;
  }
  if (onScreen) {
    setGeometry(rect);
  } else {
    resize(rect.size());
  }
  remembered_ = rect;
}

void CMainFrame::SavePlacement() {
  if (profile_.empty()) return;
  SaveBarState();
  // The window manager may have placed the window without telling us by a move.
  if (isVisible()) Remember();
  if (remembered_.isValid()) {
    WriteProfileString(profile_, kMainFrameSection, kWindowPosKey, FormatWindowPos(remembered_));
  }
}

void CMainFrame::LoadBarState() {
  if (profile_.empty()) return;
  const bool toolBar = ReadProfileInt(profile_, "MAINFRAME-Bar0", "Visible", 1) != 0;
  const bool status = ReadProfileInt(profile_, "MAINFRAME-Bar1", "Visible", 1) != 0;
  Action(ID_VIEW_TOOLBAR)->setChecked(toolBar);
  Action(ID_VIEW_STATUS_BAR)->setChecked(status);
}

void CMainFrame::SaveBarState() {
  WriteProfileInt(profile_, "MAINFRAME-Bar0", "Visible", Action(ID_VIEW_TOOLBAR)->isChecked() ? 1 : 0);
  WriteProfileInt(profile_, "MAINFRAME-Bar1", "Visible", Action(ID_VIEW_STATUS_BAR)->isChecked() ? 1 : 0);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (canClose_ && !canClose_()) {
    event->ignore();
    return;
  }
  if (suspendPlacementSave_ <= 0) SavePlacement();
  event->accept();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event) {
  QStringList paths;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) paths.append(url.toLocalFile());
  if (paths.isEmpty()) return;
  event->acceptProposedAction();
  emit filesDropped(paths);
}

}  // namespace tav::ui
