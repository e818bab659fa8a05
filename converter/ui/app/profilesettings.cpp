#include "converter/ui/app/profilesettings.h"

#include <QFileInfo>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "media/contract/profile.h"

namespace tav::ui {

std::string FormatWindowPos(const QRect& rect) {
  char text[64];
  std::snprintf(text, sizeof text, "%i, %i, %i, %i", rect.left(), rect.top(), rect.left() + rect.width(),
                rect.top() + rect.height());
  return text;
}

std::optional<QRect> ParseWindowPos(const std::string& text) {
  int left = 0, top = 0, right = 0, bottom = 0;
  if (std::sscanf(text.c_str(), "%i,%i,%i,%i", &left, &top, &right, &bottom) != 4) return std::nullopt;
  // Right and bottom are exclusive; a reversed rectangle counts as empty and is widened by
  // the caller to the window's minimum.
  const long long width = (long long)right - left, height = (long long)bottom - top;
  return QRect(left, top, int(std::clamp<long long>(width, 0, 1 << 20)), int(std::clamp<long long>(height, 0, 1 << 20)));
}

void RecentFileList::Load(const std::string& profile) {
  files_.clear();
  for (int i = 1; i <= kMaxRecentFiles; ++i) {
    const std::string key = "File" + std::to_string(i);
    const QString path = QString::fromStdString(ReadProfileString(profile, kRecentFileSection, key.c_str()));
    if (!path.isEmpty() && !files_.contains(path)) files_.append(path);
  }
}

void RecentFileList::Save(const std::string& profile) const {
  for (int i = 1; i <= kMaxRecentFiles; ++i) {
    const std::string key = "File" + std::to_string(i);
    if (i <= files_.size()) {
      WriteProfileString(profile, kRecentFileSection, key.c_str(), files_[i - 1].toStdString());
    } else {
      WritePrivateProfileString(kRecentFileSection, key.c_str(), nullptr, profile.c_str());
    }
  }
}

void RecentFileList::Add(const QString& path) {
  const QString absolute = QFileInfo(path).absoluteFilePath();
  files_.removeAll(absolute);
  files_.prepend(absolute);
  while (files_.size() > kMaxRecentFiles) files_.removeLast();
}

void RecentFileList::Remove(int index) {
  if (index >= 0 && index < files_.size()) files_.removeAt(index);
}

}  // namespace tav::ui
