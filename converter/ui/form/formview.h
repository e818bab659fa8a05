// The main form as the application installs it: made over the document inside the main
// frame, with the frame's commands and title wired to it.
#pragma once

#include "converter/ui/app/application.h"

namespace tav {

ui::FormView MakeFormView(CTavrionConverterDoc& doc, QWidget* frame);

}  // namespace tav
