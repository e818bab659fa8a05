// A registry key that closes itself, and the value reads the mapper needs.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "media/contract/registry.h"

namespace tav::graph {

class RegKey {
 public:
  RegKey() = default;
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  RegKey(RegKey&& o) noexcept : key_(o.key_) { o.key_ = nullptr; }
  ~RegKey() {
    if (key_) RegCloseKey(key_);
  }
  bool Open(HKEY root, const std::string& path) {
    return RegOpenKeyEx(root, path.c_str(), 0, KEY_READ, &key_) == ERROR_SUCCESS;
  }
  bool Create(HKEY root, const std::string& path) {
    return RegCreateKeyEx(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr) ==
           ERROR_SUCCESS;
  }
  HKEY Get() const { return key_; }

  std::optional<std::string> String(const char* name) const {
    DWORD type = 0, size = 0;
    if (RegQueryValueEx(key_, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
    std::string s(size, '\0');
    if (RegQueryValueEx(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(s.data()), &size) != ERROR_SUCCESS)
      return std::nullopt;
    s.resize(size);
    while (!s.empty() && s.back() == '\0') s.pop_back();
    return s;
  }
  std::optional<DWORD> Dword(const char* name) const {
    DWORD type = 0, v = 0, size = sizeof(v);
    if (RegQueryValueEx(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(&v), &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
      return std::nullopt;
    return v;
  }
  std::optional<std::vector<BYTE>> Binary(const char* name) const {
    DWORD type = 0, size = 0;
    if (RegQueryValueEx(key_, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
    std::vector<BYTE> v(size);
    if (RegQueryValueEx(key_, name, nullptr, &type, v.data(), &size) != ERROR_SUCCESS) return std::nullopt;
    v.resize(size);
    return v;
  }
  std::vector<std::string> SubKeys() const {
    return Names([this](DWORD i, char* name, DWORD* len) {
      return RegEnumKeyEx(key_, i, name, len, nullptr, nullptr, nullptr, nullptr);
    });
  }
  std::vector<std::string> ValueNames() const {
    return Names([this](DWORD i, char* name, DWORD* len) {
      return RegEnumValue(key_, i, name, len, nullptr, nullptr, nullptr, nullptr);
    });
  }
  LSTATUS SetString(const char* name, const std::string& value) {
    return RegSetValueEx(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>(value.size() + 1));
  }
  LSTATUS SetDword(const char* name, DWORD value) {
    return RegSetValueEx(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
  }
  LSTATUS SetBinary(const char* name, const std::vector<BYTE>& value) {
    return RegSetValueEx(key_, name, 0, REG_BINARY, value.data(), static_cast<DWORD>(value.size()));
  }

 private:
  // The names an enumeration call (RegEnumKeyEx, RegEnumValue) gives for index 0, 1, ...
  // until it fails.
  template <typename Enumerate>
  static std::vector<std::string> Names(Enumerate enumerate) {
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
      char name[256];
      DWORD len = sizeof(name) - 1;
      if (enumerate(i, name, &len) != ERROR_SUCCESS) break;
      names.emplace_back(name, len);
    }
    return names;
  }

  HKEY key_ = nullptr;
};

}  // namespace tav::graph
