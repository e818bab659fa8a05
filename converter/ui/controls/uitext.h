// Texts of the string table as Qt strings, and a control's status-bar text and tooltip.
#pragma once

#include <QString>

#include "media/contract/wintypes.h"

class QWidget;
class QAction;

namespace tav::ui {

// The string-table text of id (UTF-8), empty for an unknown id.
QString Text(UINT id);
// A control's string "status-bar text\ntooltip": the part before the line break, and after it
// (the tooltip is empty when the text has no line break).
QString StatusPart(UINT id);
QString TooltipPart(UINT id);
// Sets a widget's or an action's status tip and tooltip from the control's string.
void ApplyControlTexts(QWidget* widget, UINT id);
void ApplyControlTexts(QAction* action, UINT id);

}  // namespace tav::ui
