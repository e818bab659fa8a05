#include "converter/ui/form/formview.h"

#include <QAction>
#include <QMenu>

#include "converter/ui/app/mainframe.h"
#include "converter/ui/form/desktopnotifier.h"
#include "converter/ui/form/tavrionconverterview.h"

namespace tav {

namespace {

// The batch commands in the frame's File menu, after "Save As", so that a new user finds
// how to add movies without knowing the list's keys or its context menu. They are the
// form's own actions, enabled as the form's state allows.
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
  const FormActions& a = view->Actions();
  file->insertSeparator(before);
  file->insertActions(before, {a.addFiles, a.addFolder, a.remove, a.moveUp, a.moveDown, a.modifySource, a.properties});
}

}  // namespace

ui::FormView MakeFormView(CTavrionConverterDoc& doc, QWidget* frame) {
  auto* view = new CTavrionConverterView(doc, frame);
  if (auto* mainFrame = qobject_cast<ui::CMainFrame*>(frame)) {
    QObject::connect(view, &CTavrionConverterView::totalProgressChanged, mainFrame, &ui::CMainFrame::SetTitleProgress);
    AddBatchCommands(mainFrame, view);
    // The desktop follows the run: progress in the dock, a notification when it ends.
    auto* notifier = new CDesktopNotifier(doc, view);
    QObject::connect(view, &CTavrionConverterView::totalProgressChanged, notifier,
                     &CDesktopNotifier::SetTotalProgress);
  }
  ui::FormView form;
  form.widget = view;
  form.initialUpdate = [view] { view->OnInitialUpdate(); };
  return form;
}

}  // namespace tav
