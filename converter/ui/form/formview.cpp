#include "converter/ui/form/formview.h"

#include "converter/ui/app/mainframe.h"
#include "converter/ui/form/tavrionconverterview.h"

namespace tav {

ui::FormView MakeFormView(CTavrionConverterDoc& doc, QWidget* frame) {
  auto* view = new CTavrionConverterView(doc, frame);
  if (auto* mainFrame = qobject_cast<ui::CMainFrame*>(frame)) {
    QObject::connect(view, &CTavrionConverterView::totalProgressChanged, mainFrame, &ui::CMainFrame::SetTitleProgress);
    QObject::connect(mainFrame, &ui::CMainFrame::commandTriggered, view, &CTavrionConverterView::RunCommand);
  }
  ui::FormView form;
  form.widget = view;
  form.initialUpdate = [view] { view->OnInitialUpdate(); };
  form.idleUpdate = [view] { view->UpdateDialogControls(); };
  return form;
}

}  // namespace tav
