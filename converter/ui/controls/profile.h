// The application's profile: the per-user settings file, in named sections, read and
// written through the platform's profile functions. The application sets its location at
// start-up; until then (and in tests that set none) reads give their defaults and writes
// are dropped.
#pragma once

#include <string>

namespace tav::ui {

void SetProfilePath(const std::string& path);
const std::string& ProfilePath();

int GetProfileInt(const char* section, const char* key, int defaultValue);
std::string GetProfileString(const char* section, const char* key, const std::string& defaultValue = std::string());
bool WriteProfileInt(const char* section, const char* key, int value);
bool WriteProfileString(const char* section, const char* key, const std::string& value);

}  // namespace tav::ui
