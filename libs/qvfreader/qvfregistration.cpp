#include "libs/qvfreader/qvfregistration.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "media/contract/registry.h"
#include "media/contract/shellapi.h"

namespace qvfreader {

namespace {

// Values are read into buffers of this size, as the shell's own keys are short.
constexpr DWORD kValueBytes = 256;

bool IsExtension(const char* ext) { return ext && ext[0] == '.'; }

void SetString(HKEY root, const std::string& subKey, const char* name, const std::string& value) {
  HKEY key = nullptr;
  if (RegCreateKeyEx(root, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return;
  RegSetValueEx(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), DWORD(value.size() + 1));
  RegCloseKey(key);
}

void SetDword(HKEY root, const std::string& subKey, const char* name, DWORD value) {
  HKEY key = nullptr;
  if (RegCreateKeyEx(root, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return;
  RegSetValueEx(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(key);
}

void CreateKey(HKEY root, const std::string& subKey) {
  HKEY key = nullptr;
  if (RegCreateKeyEx(root, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr) ==
      ERROR_SUCCESS)
    RegCloseKey(key);
}

// The default value of HKCR\subKey when it is a string of at most 256 bytes; empty otherwise.
bool ReadDefaultString(const std::string& subKey, std::string* out) {
  out->clear();
  HKEY key = nullptr;
  if (RegOpenKeyEx(HKEY_CLASSES_ROOT, subKey.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  char data[kValueBytes + 1] = {};
  DWORD type = 0, size = kValueBytes;
  LSTATUS status = RegQueryValueEx(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || type != REG_SZ) return false;
  data[std::min<DWORD>(size, kValueBytes)] = '\0';
  *out = data;
  return true;
}

}  // namespace

void RegisterSourceExtension(const char* extension, REFCLSID sourceFilter) {
  if (!IsExtension(extension)) return;
  // The braced, upper-case form; it is plain ASCII, so the ANSI text is the same.
  SetString(HKEY_CLASSES_ROOT, std::string("Media Type\\Extensions\\") + extension, "Source Filter",
            tav::GuidToString(sourceFilter));
}

bool CopyShellAssociation(const char* sourceExtension, const char* targetExtension) {
  if (!IsExtension(sourceExtension) || !IsExtension(targetExtension)) return false;
  std::string sourceClass;
  if (!ReadDefaultString(sourceExtension, &sourceClass) || sourceClass.empty()) return false;

  static const char* const kSubKeys[] = {"\\DefaultIcon", "\\shell\\open\\command", "\\shell\\play\\command"};
  std::string values[3];
  for (int i = 0; i < 3; ++i) ReadDefaultString(sourceClass + kSubKeys[i], &values[i]);

  const std::string targetClass = std::string(targetExtension + 1) + "File";
  SetString(HKEY_CLASSES_ROOT, targetExtension, nullptr, targetClass);
  CreateKey(HKEY_CLASSES_ROOT, targetClass);
  for (int i = 0; i < 3; ++i) {
    std::string key = targetClass + kSubKeys[i];
    if (values[i].empty())
      CreateKey(HKEY_CLASSES_ROOT, key);
    else
      SetString(HKEY_CLASSES_ROOT, key, nullptr, values[i]);
  }
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_DWORD, nullptr, nullptr);
  SHChangeNotify(SHCNE_UPDATEIMAGE, SHCNF_DWORD, reinterpret_cast<LPCVOID>(intptr_t(-1)), nullptr);
  return true;
}

void RegisterPlayerExtension(const char* extension, const char* description, int number) {
  if (!IsExtension(extension) || !description) return;
  const std::string wmp = std::string("SOFTWARE\\Microsoft\\Multimedia\\WMPlayer\\Extensions\\") + extension;
  SetString(HKEY_LOCAL_MACHINE, wmp, "AlreadyRegistered", "yes");
  SetDword(HKEY_LOCAL_MACHINE, wmp, "Permissions", 15);
  SetDword(HKEY_LOCAL_MACHINE, wmp, "Runtime", 7);

  const std::string player = "SOFTWARE\\Microsoft\\MediaPlayer\\Player\\Extensions\\";
  char name[16], text[kValueBytes];
  std::snprintf(name, sizeof name, "%d", number);
  std::snprintf(text, sizeof text, "%s (*%s)", description, extension);
  SetString(HKEY_LOCAL_MACHINE, player + "Descriptions", name, text);
  std::snprintf(text, sizeof text, "%s", description);
  SetString(HKEY_LOCAL_MACHINE, player + "MUIDescriptions", name, text);
  std::snprintf(text, sizeof text, "*%s", extension);
  SetString(HKEY_LOCAL_MACHINE, player + "Types", name, text);
}

void RegisterQvfExtension(REFCLSID readerFilter) {
  tav::RegistryBatch batch;
  RegisterSourceExtension(".qvf", readerFilter);
  if (!CopyShellAssociation(".avi", ".qvf")) CopyShellAssociation(".wmv", ".qvf");
  RegisterPlayerExtension(".qvf", "QVF", 856);
}

}  // namespace qvfreader
