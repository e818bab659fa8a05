// The string table as Qt text: every user-visible text of the frame comes from the engine's
// table (converter/engine/strings.h), so the program and tavrion-convert speak the same words.
#pragma once

#include <QKeySequence>
#include <QString>

#include "media/contract/wintypes.h"

namespace tav::ui {

// The text of id.
QString UiText(UINT id);
// "%1".."%9" of id's text replaced by args.
QString UiFormat(UINT id, std::initializer_list<QString> args);
// A menu text "&Open...\tCtrl+O": the label before the tab and the shortcut after it (an
// empty sequence when there is none).
QString MenuLabel(UINT id);
QKeySequence MenuShortcut(UINT id);

}  // namespace tav::ui
