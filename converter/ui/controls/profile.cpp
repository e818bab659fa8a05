#include "converter/ui/controls/profile.h"

#include <string>
#include <vector>

#include "media/contract/profile.h"

namespace tav::ui {

namespace {
std::string& Path() {
  static std::string path;
  return path;
}
}  // namespace

void SetProfilePath(const std::string& path) { Path() = path; }
const std::string& ProfilePath() { return Path(); }

int GetProfileInt(const char* section, const char* key, int defaultValue) {
  if (Path().empty()) return defaultValue;
  return int(GetPrivateProfileInt(section, key, defaultValue, Path().c_str()));
}

std::string GetProfileString(const char* section, const char* key, const std::string& defaultValue) {
  if (Path().empty()) return defaultValue;
  std::vector<char> buffer(4096);
  DWORD n = GetPrivateProfileString(section, key, defaultValue.c_str(), buffer.data(), DWORD(buffer.size()),
                                    Path().c_str());
  return std::string(buffer.data(), n);
}

bool WriteProfileInt(const char* section, const char* key, int value) {
  return WriteProfileString(section, key, std::to_string(value));
}

bool WriteProfileString(const char* section, const char* key, const std::string& value) {
  if (Path().empty()) return false;
  return WritePrivateProfileString(section, key, value.c_str(), Path().c_str()) != FALSE;
}

}  // namespace tav::ui
