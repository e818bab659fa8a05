#include "converter/ui/controls/uitext.h"

#include <QAction>
#include <QWidget>

#include "converter/engine/strings.h"

namespace tav::ui {

QString Text(UINT id) { return Q(tav::res::Text(id)); }

QString StatusPart(UINT id) { return Text(id).section(QLatin1Char('\n'), 0, 0); }

QString TooltipPart(UINT id) {
  QString text = Text(id);
  int nl = text.indexOf(QLatin1Char('\n'));
  return nl < 0 ? QString() : text.mid(nl + 1);
}

void ApplyControlTexts(QWidget* widget, UINT id) {
  widget->setStatusTip(StatusPart(id));
  widget->setToolTip(TooltipPart(id).left(kTooltipMaxChars));
}

void ApplyControlTexts(QAction* action, UINT id) {
  action->setStatusTip(StatusPart(id));
  action->setToolTip(TooltipPart(id));
}

}  // namespace tav::ui
