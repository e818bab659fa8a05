// Texts of the string table as Qt strings, menu texts, and a control's status-bar text and
// tooltip. Every user-visible text of the window comes from the engine's table
// (converter/engine/strings.h), so the program and tavrion-convert speak the same words.
#pragma once

#include <QKeySequence>
#include <QString>
#include <initializer_list>
#include <string>

#include "media/contract/wintypes.h"

class QWidget;
class QAction;

namespace tav::ui {

// The engine's UTF-8 texts as Qt text, and back.
inline QString Q(const std::string& s) { return QString::fromStdString(s); }
inline std::string S(const QString& s) { return s.toStdString(); }

// The string-table text of id (UTF-8), empty for an unknown id.
QString Text(UINT id);
// "%1".."%9" of id's text replaced by args.
QString FormatText(UINT id, std::initializer_list<QString> args);
// A menu text "&Open...\tCtrl+O": the label before the tab and the shortcut after it (an
// empty sequence when there is none).
QString MenuLabel(UINT id);
QKeySequence MenuShortcut(UINT id);
// A control's or command's string "status-bar text\ntooltip": the part before the line
// break, and after it (the tooltip is empty when the text has no line break).
QString StatusPart(UINT id);
QString TooltipPart(UINT id);
// Sets a widget's or an action's status tip and tooltip from the control's string; a
// widget's tooltip is kept to kTooltipMaxChars.
inline constexpr int kTooltipMaxChars = 80;
void ApplyControlTexts(QWidget* widget, UINT id);
void ApplyControlTexts(QAction* action, UINT id);

}  // namespace tav::ui
