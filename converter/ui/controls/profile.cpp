#include "converter/ui/controls/profile.h"

#include <string>
#include <vector>

#include "media/contract/profile.h"

namespace tav::ui {

namespace {
constexpr DWORD kMaxValueChars = 4096;

std::string& Path() {
  static std::string path;
  return path;
}
}  // namespace

void SetProfilePath(const std::string& path) { Path() = path; }
const std::string& ProfilePath() { return Path(); }

std::string ReadProfileString(const std::string& profile, const char* section, const char* key,
                              const std::string& defaultValue) {
  if (profile.empty()) return defaultValue;
  std::vector<char> buffer(kMaxValueChars, '\0');
  const DWORD n =
      GetPrivateProfileString(section, key, defaultValue.c_str(), buffer.data(), DWORD(buffer.size()), profile.c_str());
  return std::string(buffer.data(), n);
}

int ReadProfileInt(const std::string& profile, const char* section, const char* key, int defaultValue) {
  if (profile.empty()) return defaultValue;
  return int(GetPrivateProfileInt(section, key, defaultValue, profile.c_str()));
}

bool WriteProfileString(const std::string& profile, const char* section, const char* key, const std::string& value) {
  if (profile.empty()) return false;
  return WritePrivateProfileString(section, key, value.c_str(), profile.c_str()) != FALSE;
}

bool WriteProfileInt(const std::string& profile, const char* section, const char* key, int value) {
  return WriteProfileString(profile, section, key, std::to_string(value));
}

}  // namespace tav::ui
