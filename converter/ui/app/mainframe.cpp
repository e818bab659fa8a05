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

  idleText_ = new QLabel(ui::Text(res::IDS_IDLE_MESSAGE), this);
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

QAction* CMainFrame::MakeAction(UINT textId, UINT promptId) {
  auto* action = new QAction(MenuLabel(textId), this);
  action->setShortcut(MenuShortcut(textId));
  ApplyControlTexts(action, promptId);
  return action;
}

void CMainFrame::BuildMenus() {
  FrameActions& a = actions_;
  fileMenu_ = menuBar()->addMenu(ui::Text(res::IDS_MENU_FILE));
  a.fileNew = MakeAction(res::IDS_MENU_NEW, res::IDS_PROMPT_NEW);
  a.fileOpen = MakeAction(res::IDS_MENU_OPEN, res::IDS_PROMPT_OPEN);
  a.fileSave = MakeAction(res::IDS_MENU_SAVE, res::IDS_PROMPT_SAVE);
  a.fileSaveAs = MakeAction(res::IDS_MENU_SAVE_AS, res::IDS_PROMPT_SAVE_AS);
  fileMenu_->addActions({a.fileNew, a.fileOpen, a.fileSave, a.fileSaveAs});
  recentSeparator_ = fileMenu_->addSeparator();
  for (QAction*& recent : a.recentFiles) {
    recent = MakeAction(res::IDS_MENU_RECENT_FILE, res::IDS_PROMPT_RECENT_FILE);
    fileMenu_->addAction(recent);
  }
  fileMenu_->addSeparator();
  a.exit = MakeAction(res::IDS_MENU_EXIT, res::IDS_PROMPT_EXIT);
  fileMenu_->addAction(a.exit);

  QMenu* view = menuBar()->addMenu(ui::Text(res::IDS_MENU_VIEW));
  a.toolBar = MakeAction(res::IDS_MENU_TOOLBAR, res::IDS_PROMPT_TOOLBAR);
  a.toolBar->setCheckable(true);
  a.toolBar->setChecked(true);
  connect(a.toolBar, &QAction::toggled, this, [this](bool on) { toolBar_->setVisible(on); });
  a.statusBar = MakeAction(res::IDS_MENU_STATUS_BAR, res::IDS_PROMPT_STATUS_BAR);
  a.statusBar->setCheckable(true);
  a.statusBar->setChecked(true);
  connect(a.statusBar, &QAction::toggled, this, [this](bool on) { statusBar()->setVisible(on); });
  view->addActions({a.toolBar, a.statusBar});

  // A Settings menu before Help, as desktop programs keep one: the letters of Edit and
  // Tools are all the form's mnemonics already.
  QMenu* settings = menuBar()->addMenu(ui::Text(res::IDS_MENU_SETTINGS));
  a.preferences = MakeAction(res::IDS_MENU_PREFERENCES, res::IDS_PROMPT_PREFERENCES);
  a.preferences->setMenuRole(QAction::PreferencesRole);
  settings->addAction(a.preferences);

  QMenu* help = menuBar()->addMenu(ui::Text(res::IDS_MENU_HELP));
  a.helpContents = MakeAction(res::IDS_MENU_HELP_TOPICS, res::IDS_PROMPT_HELP_TOPICS);
  a.homePage = MakeAction(res::IDS_MENU_HOME_PAGE, res::IDS_PROMPT_HOME_PAGE);
  a.about = MakeAction(res::IDS_MENU_ABOUT, res::IDS_PROMPT_ABOUT);
  help->addActions({a.helpContents, a.homePage});
  help->addSeparator();
  help->addAction(a.about);
  updateActions();
}

QAction* CMainFrame::Action(int command) const {
  const FrameActions& a = actions_;
  if (command >= ID_FILE_MRU_FILE1 && command < ID_FILE_MRU_FILE1 + int(a.recentFiles.size()))
    return a.recentFiles[size_t(command - ID_FILE_MRU_FILE1)];
  switch (command) {
    case ID_FILE_NEW: return a.fileNew;
    case ID_FILE_OPEN: return a.fileOpen;
    case ID_FILE_SAVE: return a.fileSave;
    case ID_FILE_SAVE_AS: return a.fileSaveAs;
    case ID_APP_ABOUT: return a.about;
    case ID_APP_EXIT: return a.exit;
    case ID_HELP_TOPICS: return a.helpContents;
    case ID_VIEW_TOOLBAR: return a.toolBar;
    case ID_VIEW_STATUS_BAR: return a.statusBar;
    case ID_HELP_HOME_PAGE: return a.homePage;
    case ID_SETTINGS_PREFERENCES: return a.preferences;
    default: return nullptr;
  }
}

void CMainFrame::updateActions() {
  for (size_t i = 0; i < actions_.recentFiles.size(); ++i) {
    QAction* a = actions_.recentFiles[i];
    if (qsizetype(i) < recentFiles_.size()) {
      const QString& path = recentFiles_[qsizetype(i)];
      const QString name = QFileInfo(path).fileName().replace(QLatin1Char('&'), QStringLiteral("&&"));
      a->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(name));
      a->setStatusTip(QDir::toNativeSeparators(path));
      a->setVisible(true);
    } else {
      a->setVisible(false);
    }
  }
  recentSeparator_->setVisible(!recentFiles_.isEmpty());
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
  recentFiles_ = files.mid(0, RecentFileList::kMaxRecentFiles);
  updateActions();
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
  QString title = ui::Text(res::IDS_APP_TITLE);
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
  // The toggles show and hide their bars.
  actions_.toolBar->setChecked(toolBar);
  actions_.statusBar->setChecked(status);
}

void CMainFrame::SaveBarState() {
  WriteProfileInt(profile_, "MAINFRAME-Bar0", "Visible", actions_.toolBar->isChecked() ? 1 : 0);
  WriteProfileInt(profile_, "MAINFRAME-Bar1", "Visible", actions_.statusBar->isChecked() ? 1 : 0);
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
