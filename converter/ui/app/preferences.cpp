#include "converter/ui/app/preferences.h"

#include <QThread>
#include <algorithm>

#include "converter/ui/controls/profile.h"

namespace tav::ui {

int Preferences::MaxSimultaneous() { return std::max(1, QThread::idealThreadCount()); }

Preferences Preferences::Load() {
  Preferences p;
  p.simultaneous = std::clamp(GetProfileInt(kPreferencesSection, kSimultaneousKey, 1), 1, MaxSimultaneous());
  p.outputFolder = GetProfileString(kPreferencesSection, kOutputFolderKey);
  return p;
}

void Preferences::Save() const {
  WriteProfileInt(kPreferencesSection, kSimultaneousKey, simultaneous);
  WriteProfileString(kPreferencesSection, kOutputFolderKey, outputFolder);
}

}  // namespace tav::ui
