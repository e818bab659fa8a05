#include "converter/ui/controls/uitext.h"

#include <QAction>
#include <QWidget>
#include <string_view>
#include <vector>

#include "converter/engine/strings.h"

namespace tav::ui {

QString Text(UINT id) { return Q(tav::res::Text(id)); }

QString FormatText(UINT id, std::initializer_list<QString> args) {
  std::vector<std::string> utf8;
  for (const QString& a : args) utf8.push_back(S(a));
  std::vector<std::string_view> views(utf8.begin(), utf8.end());
  // Format takes an initializer list; at most nine arguments are meaningful.
  views.resize(9);
  return Q(tav::res::Format(tav::res::Text(id), {views[0], views[1], views[2], views[3], views[4], views[5],
                                                 views[6], views[7], views[8]}));
}

QString MenuLabel(UINT id) { return Text(id).section(QLatin1Char('\t'), 0, 0); }

QKeySequence MenuShortcut(UINT id) {
  const QString text = Text(id);
  const int tab = text.indexOf(QLatin1Char('\t'));
  return tab < 0 ? QKeySequence() : QKeySequence(text.mid(tab + 1), QKeySequence::PortableText);
}

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
