#include "converter/ui/app/uitext.h"

#include <string>
#include <vector>

#include "converter/engine/strings.h"

namespace tav::ui {

QString UiText(UINT id) { return QString::fromStdString(res::Text(id)); }

QString UiFormat(UINT id, std::initializer_list<QString> args) {
  std::vector<std::string> utf8;
  for (const QString& a : args) utf8.push_back(a.toStdString());
  std::vector<std::string_view> views(utf8.begin(), utf8.end());
  // Format takes an initializer list; at most nine arguments are meaningful.
  views.resize(9);
  return QString::fromStdString(res::Format(res::Text(id), {views[0], views[1], views[2], views[3], views[4],
                                                           views[5], views[6], views[7], views[8]}));
}

QString MenuLabel(UINT id) { return UiText(id).section(QLatin1Char('\t'), 0, 0); }

QKeySequence MenuShortcut(UINT id) {
  const QString text = UiText(id);
  const int tab = text.indexOf(QLatin1Char('\t'));
  return tab < 0 ? QKeySequence() : QKeySequence(text.mid(tab + 1), QKeySequence::PortableText);
}

}  // namespace tav::ui
