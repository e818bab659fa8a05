// Known folders (XDG user directories), the program's own location and shared libraries.
#include <dlfcn.h>
#include <link.h>
#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "media/contract/folders.h"
#include "media/contract/sync.h"
#include "media/contract/trace.h"

TAV_TRACE_SOURCE(kModules, nullptr);

namespace fs = std::filesystem;

namespace {

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/";
}

std::string XdgBase(const char* variable, const char* fallbackUnderHome) {
  const char* v = std::getenv(variable);
  // The XDG rules ignore relative values.
  if (v && v[0] == '/') return v;
  return HomeFolder() + "/" + fallbackUnderHome;
}

// Reads XDG_<NAME>_DIR from user-dirs.dirs: a quoted value that is "$HOME/..." or absolute.
std::string UserDir(const char* key, const char* fallbackUnderHome) {
  std::ifstream in(XdgBase("XDG_CONFIG_HOME", ".config") + "/user-dirs.dirs");
  std::string line;
  const std::string prefix = std::string(key) + "=";
  std::string found;
  while (std::getline(in, line)) {
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    if (line.compare(start, prefix.size(), prefix) != 0) continue;
    std::string value = line.substr(start + prefix.size());
    while (!value.empty() && (value.back() == '\r' || value.back() == ' ' || value.back() == '\t')) value.pop_back();
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') continue;
    value = value.substr(1, value.size() - 2);
    if (value.rfind("$HOME", 0) == 0 && (value.size() == 5 || value[5] == '/')) {
      value = HomeFolder() + value.substr(5);
    } else if (value.empty() || value[0] != '/') {
      continue;
    }
    while (value.size() > 1 && value.back() == '/') value.pop_back();
    found = value;  // the last assignment wins, as in a shell
  }
  return found.empty() ? HomeFolder() + "/" + fallbackUnderHome : found;
}

std::string ParentFolder(const std::string& path) {
  const fs::path p(path);
  return p.has_parent_path() ? p.parent_path().string() : std::string(".");
}

// The file of the loaded object that contains address, or empty.
std::string ObjectFileOf(const void* address) {
  Dl_info info{};
  if (!dladdr(address, &info) || !info.dli_fname || !*info.dli_fname) return {};
  char resolved[PATH_MAX];
  if (realpath(info.dli_fname, resolved)) return resolved;
  return info.dli_fname;
}

// The path of a handle dlopen returned outside LoadLibrary, or empty when module is not
// one. Only public calls are used: the loaded objects are listed under the dynamic linker's
// lock (dl_iterate_phdr), then each is asked for its handle (RTLD_NOLOAD), so an arbitrary
// value is never dereferenced.
std::string DlopenHandlePath(const void* module) {
  std::vector<std::string> names;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* out) {
        static_cast<std::vector<std::string>*>(out)->emplace_back(info->dlpi_name ? info->dlpi_name : "");
        return 0;
      },
      &names);
  for (const std::string& name : names) {
    void* h = dlopen(name.empty() ? nullptr : name.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (!h) continue;
    const bool match = h == module;
    dlclose(h);
    if (!match) continue;
    if (name.empty()) return tav::ProgramFileName();
    char resolved[PATH_MAX];
    return realpath(name.c_str(), resolved) ? resolved : name;
  }
  return {};
}

// Libraries opened through LoadLibrary, by handle, with their full paths.
// Guarded by g_libraryLock.
std::mutex g_libraryLock;
struct LoadedLibrary {
  std::string path;
  int loads = 0;
};
std::unordered_map<void*, LoadedLibrary>& Libraries() {
  static auto* m = new std::unordered_map<void*, LoadedLibrary>;
  return *m;
}

}  // namespace

HRESULT SHGetFolderPath(HWND, int csidl, HANDLE, DWORD, LPSTR path) {
  if (!path) return E_INVALIDARG;
  path[0] = '\0';
  const std::string folder = tav::KnownFolder(csidl & 0xFF);
  TAV_TRACE("SHGetFolderPath(%#x) -> \"%s\"", csidl, folder.c_str());
  if (folder.empty()) return E_INVALIDARG;
  if (folder.size() >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    if (!(csidl & CSIDL_FLAG_CREATE)) {
      std::memcpy(path, folder.c_str(), folder.size() + 1);
      return S_FALSE;  // a known folder that does not exist (yet)
    }
    if (!tav::CreateFolderPath(folder)) return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
  }
  std::memcpy(path, folder.c_str(), folder.size() + 1);
  return S_OK;
}

DWORD GetModuleFileName(HMODULE module, LPSTR path, DWORD size) {
  std::string file;
  if (!module) {
    file = tav::ProgramFileName();
  } else {
    {
      std::lock_guard lock(g_libraryLock);
      if (auto it = Libraries().find(module); it != Libraries().end()) file = it->second.path;
    }
    // Otherwise a handle from dlopen, or an address inside a loaded object.
    if (file.empty()) file = DlopenHandlePath(module);
    if (file.empty()) file = ObjectFileOf(module);
  }
  if (file.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  if (!path || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (file.size() >= size) {
    // Cut and terminated, as the platform does; the caller sees the full buffer used.
    std::memcpy(path, file.data(), size - 1);
    path[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(path, file.c_str(), file.size() + 1);
  return DWORD(file.size());
}

HMODULE LoadLibrary(LPCSTR path) {
  if (!path || !*path) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    TAV_TRACE("LoadLibrary(\"%s\") failed: %s", path, why ? why : "?");
    SetLastError(access(path, F_OK) == 0 ? ERROR_BAD_FORMAT : ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  std::string full;
  link_map* lm = nullptr;
  if (dlinfo(handle, RTLD_DI_LINKMAP, &lm) == 0 && lm && lm->l_name && *lm->l_name) {
    char resolved[PATH_MAX];
    full = realpath(lm->l_name, resolved) ? resolved : lm->l_name;
  }
  std::lock_guard lock(g_libraryLock);
  LoadedLibrary& lib = Libraries()[handle];
  lib.path = full;
  lib.loads++;
  TAV_TRACE("LoadLibrary(\"%s\") -> %p (%s)", path, handle, full.c_str());
  return static_cast<HMODULE>(handle);
}

BOOL FreeLibrary(HMODULE module) {
  {
    std::lock_guard lock(g_libraryLock);
    auto it = Libraries().find(module);
    if (it == Libraries().end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    if (--it->second.loads == 0) Libraries().erase(it);
  }
  return dlclose(module) == 0 ? TRUE : FALSE;
}

void* GetProcAddress(HMODULE module, LPCSTR name) {
  // Ordinals (values below 64 K in place of a name) do not exist here.
  if (!name || reinterpret_cast<uintptr_t>(name) < 0x10000) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void* handle = module ? static_cast<void*>(module) : RTLD_DEFAULT;
  if (module) {
    bool known;
    {
      std::lock_guard lock(g_libraryLock);
      known = Libraries().count(module) != 0;
    }
    if (!known && DlopenHandlePath(module).empty()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return nullptr;
    }
  }
  void* sym = dlsym(handle, name);
  TAV_TRACE("GetProcAddress(%p, \"%s\") -> %p", static_cast<void*>(module), name, sym);
  if (!sym) SetLastError(ERROR_PROC_NOT_FOUND);
  return sym;
}

namespace tav {

std::string KnownFolder(int csidl) {
  switch (csidl & 0xFF) {
    case CSIDL_PERSONAL:
      return UserDir("XDG_DOCUMENTS_DIR", "Documents");
    case CSIDL_MYVIDEO:
      return UserDir("XDG_VIDEOS_DIR", "Videos");
    case CSIDL_APPDATA:
      return XdgBase("XDG_DATA_HOME", ".local/share");
    case CSIDL_SYSTEM: {
      const std::string lib = ObjectFileOf(reinterpret_cast<const void*>(&SHGetFolderPath));
      return lib.empty() ? std::string() : ParentFolder(lib);
    }
    default:
      return {};
  }
}

std::string ProgramFileName() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.string();
}

std::string ProgramFolder() {
  const std::string exe = ProgramFileName();
  return exe.empty() ? std::string() : ParentFolder(exe);
}

bool CreateFolderPath(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  fs::create_directories(path, ec);
  return fs::is_directory(path, ec);
}

}  // namespace tav
