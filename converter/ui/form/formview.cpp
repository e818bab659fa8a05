#include "converter/ui/form/formview.h"

#include <QAction>
#include <QMenu>

#include "converter/engine/strings.h"
#include "converter/ui/app/mainframe.h"
#include "converter/ui/controls/uitext.h"
#include "converter/ui/form/desktopnotifier.h"
#include "converter/ui/form/tavrionconverterview.h"

namespace tav {

namespace {

// The batch commands in the frame's File menu, after "Save As", so that a new user finds
// how to add movies without knowing the list's keys or its context menu.
void AddBatchCommands(ui::CMainFrame* frame, CTavrionConverterView* view) {
  QAction* saveAs = frame->Action(ui::ID_FILE_SAVE_AS);
  QMenu* file = nullptr;
  if (saveAs) {
    for (QObject* o : saveAs->associatedObjects())
      if ((file = qobject_cast<QMenu*>(o))) break;
  }
  if (!file) return;
  const QList<QAction*> items = file->actions();
  const qsizetype at = items.indexOf(saveAs);
  QAction* before = at >= 0 && at + 1 < items.size() ? items[at + 1] : nullptr;
  const struct {
    int command;
    UINT textId;
  } commands[] = {
      {ID_ADD_FILES, res::IDS_MENU_ADD},
      {ID_ADD_FOLDER, res::IDS_MENU_ADD_FOLDER},
      {ID_REMOVE, res::IDS_MENU_REMOVE},
      {ID_MOVE_UP, res::IDS_MENU_MOVE_UP},
      {ID_MOVE_DOWN, res::IDS_MENU_MOVE_DOWN},
      {ID_MODIFY_SOURCE, res::IDS_MENU_MODIFY_SOURCE},
      {ID_PROPERTIES, res::IDS_MENU_PROPERTIES},
  };
  file->insertSeparator(before);
  std::vector<std::pair<QAction*, int>> added;
  for (const auto& c : commands) {
    auto* a = new QAction(QString::fromStdString(res::Text(c.textId)), file);
    // The command's own string gives its status-bar text, as for the frame's commands.
    ui::ApplyControlTexts(a, UINT(c.command));
    file->insertAction(before, a);
    const int command = c.command;
    QObject::connect(a, &QAction::triggered, view, [view, command] { view->RunCommand(command); });
    added.emplace_back(a, command);
  }
  // Enabled as the form's state allows, each time the menu opens.
  QObject::connect(file, &QMenu::aboutToShow, view, [view, added] {
    for (const auto& [a, command] : added) a->setEnabled(view->IsCommandEnabled(command));
  });
}

}  // namespace

ui::FormView MakeFormView(CTavrionConverterDoc& doc, QWidget* frame) {
  auto* view = new CTavrionConverterView(doc, frame);
  if (auto* mainFrame = qobject_cast<ui::CMainFrame*>(frame)) {
    QObject::connect(view, &CTavrionConverterView::totalProgressChanged, mainFrame, &ui::CMainFrame::SetTitleProgress);
    QObject::connect(mainFrame, &ui::CMainFrame::commandTriggered, view, &CTavrionConverterView::RunCommand);
    AddBatchCommands(mainFrame, view);
    // The desktop follows the run: progress in the dock, a notification when it ends.
    auto* notifier = new CDesktopNotifier(doc, view);
    QObject::connect(view, &CTavrionConverterView::totalProgressChanged, notifier,
                     &CDesktopNotifier::SetTotalProgress);
  }
  ui::FormView form;
  form.widget = view;
  form.initialUpdate = [view] { view->OnInitialUpdate(); };
  form.idleUpdate = [view] { view->UpdateDialogControls(); };
  return form;
}

}  // namespace tav
