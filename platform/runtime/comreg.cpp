// Class-key registration helpers for component libraries' DllRegisterServer.
#include "media/contract/comreg.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>

#include "media/contract/registry.h"

namespace tav {

namespace {

LSTATUS SetString(HKEY key, const char* name, const char* text) {
  return RegSetValueEx(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                       static_cast<DWORD>(std::strlen(text) + 1));
}

}  // namespace

HRESULT RegisterInprocServer(REFCLSID clsid, const char* friendlyName, const char* libraryPath,
                             const char* threadingModel) {
  if (!libraryPath || !*libraryPath) return E_POINTER;
  const std::string classKey = "CLSID\\" + GuidToString(clsid);
  // One write for the whole class (or none here when the caller batches).
  RegistryBeginBatch();
  HKEY key = nullptr;
  LSTATUS s = RegCreateKeyEx(HKEY_CLASSES_ROOT, classKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (s != ERROR_SUCCESS) {
    RegistryEndBatch();
    return HRESULT_FROM_WIN32(s);
  }
  if (friendlyName && *friendlyName) s = SetString(key, nullptr, friendlyName);
  HKEY server = nullptr;
  if (s == ERROR_SUCCESS) {
    s = RegCreateKeyEx(key, "InprocServer32", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &server,
                       nullptr);
  }
  if (s == ERROR_SUCCESS) s = SetString(server, nullptr, libraryPath);
  if (s == ERROR_SUCCESS && threadingModel && *threadingModel) s = SetString(server, "ThreadingModel", threadingModel);
  if (server) RegCloseKey(server);
  RegCloseKey(key);
  const LSTATUS written = RegistryEndBatch();
  if (s != ERROR_SUCCESS) return HRESULT_FROM_WIN32(s);
  return written == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(written);
}

HRESULT UnregisterInprocServer(REFCLSID clsid) {
  const std::string classKey = "CLSID\\" + GuidToString(clsid);
  const LSTATUS s = RegDeleteTree(HKEY_CLASSES_ROOT, classKey.c_str());
  if (s == ERROR_SUCCESS || s == ERROR_FILE_NOT_FOUND) return S_OK;
  return HRESULT_FROM_WIN32(s);
}

std::string ModulePathOf(const void* addressInLibrary) {
  Dl_info info{};
  if (!addressInLibrary || !dladdr(addressInLibrary, &info)) return {};
  char resolved[PATH_MAX];
  // The main program may be reported without a name.
  if (!info.dli_fname || !*info.dli_fname) {
    const ssize_t n = readlink("/proc/self/exe", resolved, sizeof resolved - 1);
    if (n <= 0) return {};
    return std::string(resolved, static_cast<size_t>(n));
  }
  if (realpath(info.dli_fname, resolved)) return resolved;
  return info.dli_fname;
}

}  // namespace tav
