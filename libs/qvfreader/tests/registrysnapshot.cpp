#include "registrysnapshot.h"

#include <cstdio>
#include <vector>

namespace qvftest {

namespace {

void Walk(HKEY root, const std::string& rootName, const std::string& path, std::set<std::string>& out) {
  HKEY key = nullptr;
  if (RegOpenKeyEx(root, path.empty() ? nullptr : path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  const std::string here = rootName + (path.empty() ? "" : "\\" + path);
  if (!path.empty()) out.insert("K " + here);
  for (DWORD i = 0;; ++i) {
    char name[512];
    DWORD nameLen = sizeof name;
    std::vector<BYTE> data(4096);
    DWORD type = 0, size = DWORD(data.size());
    if (RegEnumValue(key, i, name, &nameLen, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) break;
    std::string text;
    if (type == REG_SZ)
      text = std::string(reinterpret_cast<const char*>(data.data()), size ? size - 1 : 0);
    else if (type == REG_DWORD && size == 4)
      text = std::to_string(*reinterpret_cast<const DWORD*>(data.data()));
    else
      text = std::to_string(size) + " bytes";
    out.insert("V " + here + "|" + std::string(name, nameLen) + "=" + std::to_string(type) + ":" + text);
  }
  std::vector<std::string> children;
  for (DWORD i = 0;; ++i) {
    char name[512];
    DWORD nameLen = sizeof name - 1;
    if (RegEnumKeyEx(key, i, name, &nameLen, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    children.emplace_back(name, nameLen);
  }
  RegCloseKey(key);
  for (const auto& c : children) Walk(root, rootName, path.empty() ? c : path + "\\" + c, out);
}

}  // namespace

std::set<std::string> SnapshotRegistry() {
  std::set<std::string> out;
  Walk(HKEY_CLASSES_ROOT, "HKCR", "", out);
  Walk(HKEY_LOCAL_MACHINE, "HKLM", "", out);
  return out;
}

std::set<std::string> Added(const std::set<std::string>& before, const std::set<std::string>& after) {
  std::set<std::string> added;
  for (const auto& e : after)
    if (!before.count(e)) added.insert(e);
  return added;
}

}  // namespace qvftest
