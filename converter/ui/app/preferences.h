// The program's preferences, kept in the application profile (section "PREFERENCES"): how
// many movies convert at once, and where the movies of new batch entries are written.
#pragma once

#include <string>

namespace tav::ui {

inline constexpr char kPreferencesSection[] = "PREFERENCES";
inline constexpr char kSimultaneousKey[] = "SIMULTANEOUS";
inline constexpr char kOutputFolderKey[] = "OUTPUTFOLDER";

struct Preferences {
  // Movies converted at once, 1 .. MaxSimultaneous().
  int simultaneous = 1;
  // The folder new entries write their movies into; empty: beside each movie.
  std::string outputFolder;

  // One conversion per processor core at most.
  static int MaxSimultaneous();
  // The stored preferences, a number out of range brought into it.
  static Preferences Load();
  void Save() const;
};

}  // namespace tav::ui
