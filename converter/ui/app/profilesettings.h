// The frame's settings in the application profile (read and written as every window's
// settings are, controls/profile.h): the main window's rectangle, the notice box's flag and
// the recent-file list.
#pragma once

#include <QRect>
#include <QStringList>
#include <optional>
#include <string>

#include "converter/ui/controls/profile.h"

namespace tav::ui {

// Sections and values.
inline constexpr char kMainFrameSection[] = "MAINFRAME";
inline constexpr char kWindowPosKey[] = "WINDOWPOS";
inline constexpr char kGreatingBoxSection[] = "GREATINGBOX";
inline constexpr char kDontShowAgainKey[] = "DONTSHOWAGAIN";
inline constexpr char kRecentFileSection[] = "Recent File List";

// "left, top, right, bottom" as written; the rectangle when text parses as four numbers
// (read as "%i,%i,%i,%i"), nothing otherwise.
std::string FormatWindowPos(const QRect& rect);
std::optional<QRect> ParseWindowPos(const std::string& text);

// The most recently opened files, newest first, at most kMaxRecentFiles, kept in the
// profile as "File1".."File9".
class RecentFileList {
 public:
  static constexpr int kMaxRecentFiles = 9;

  void Load(const std::string& profile);
  void Save(const std::string& profile) const;
  // Moves path to the front (an existing equal entry is removed first).
  void Add(const QString& path);
  void Remove(int index);
  const QStringList& Files() const { return files_; }

 private:
  QStringList files_;
};

}  // namespace tav::ui
