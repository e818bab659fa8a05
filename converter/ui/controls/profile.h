// The application's profile: the per-user settings file, in named sections, read and
// written through the platform's profile functions. Every window's settings go through
// these; the ones without a file name use the application's profile, whose location the
// application sets at start-up. Until then (and in tests that set none) reads give their
// defaults and writes are dropped.
#pragma once

#include <string>

namespace tav::ui {

void SetProfilePath(const std::string& path);
const std::string& ProfilePath();

// In the profile file profile (an empty name: defaults, nothing written).
std::string ReadProfileString(const std::string& profile, const char* section, const char* key,
                              const std::string& defaultValue = std::string());
int ReadProfileInt(const std::string& profile, const char* section, const char* key, int defaultValue);
bool WriteProfileString(const std::string& profile, const char* section, const char* key, const std::string& value);
bool WriteProfileInt(const std::string& profile, const char* section, const char* key, int value);

// In the application's profile.
inline int GetProfileInt(const char* section, const char* key, int defaultValue) {
  return ReadProfileInt(ProfilePath(), section, key, defaultValue);
}
inline std::string GetProfileString(const char* section, const char* key,
                                    const std::string& defaultValue = std::string()) {
  return ReadProfileString(ProfilePath(), section, key, defaultValue);
}
inline bool WriteProfileInt(const char* section, const char* key, int value) {
  return WriteProfileInt(ProfilePath(), section, key, value);
}
inline bool WriteProfileString(const char* section, const char* key, const std::string& value) {
  return WriteProfileString(ProfilePath(), section, key, value);
}

}  // namespace tav::ui
