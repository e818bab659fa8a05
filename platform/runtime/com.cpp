// Creation by class identifier: the class key in the registry names a shared library,
// which is loaded once and asked for the class object through DllGetClassObject.
// Class objects are cached per class; CoFreeUnusedLibraries drops the cache and unloads
// the libraries that say they can go.
#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>

#include "media/contract/com.h"
#include "media/contract/comptr.h"
#include "media/contract/registry.h"
#include "media/contract/trace.h"

TAV_TRACE_SOURCE(kCom, nullptr);

namespace {

struct Library {
  std::string path;
  void* handle = nullptr;
  PFN_DllGetClassObject getClassObject = nullptr;
  PFN_DllCanUnloadNow canUnloadNow = nullptr;
  int creating = 0;  // CoCreateInstance calls between getting a factory and returning
};

struct CachedClass {
  ComPtr<IClassFactory> factory;  // the cache's reference
  Library* library = nullptr;
};

struct Registered {
  CLSID clsid;
  ComPtr<IUnknown> object;  // held until revoked
};

class ComRuntime {
 public:
  // Guards the library table, the class cache and the process-local registrations.
  // Recursive because a library's DllGetClassObject (called with it held) may itself
  // ask for another class.
  std::recursive_mutex mutex;
  std::map<std::string, Library> libraries;           // by path; guarded by mutex
  std::unordered_map<CLSID, CachedClass> classCache;  // guarded by mutex
  std::map<DWORD, Registered> registered;             // by cookie; guarded by mutex
  DWORD nextCookie = 1;                               // guarded by mutex
  std::set<std::string> reportedLoadFailures;         // guarded by mutex
};

ComRuntime& Com() {
  // Never destroyed: libraries and objects may outlive static destruction at exit.
  static ComRuntime* runtime = new ComRuntime;
  return *runtime;
}

// The library path registered for a class, or an error.
HRESULT LibraryPathOf(REFCLSID clsid, std::string* path) {
  const std::string key = "CLSID\\" + tav::GuidToString(clsid) + "\\InprocServer32";
  HKEY k = nullptr;
  if (RegOpenKeyEx(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return REGDB_E_CLASSNOTREG;
  char buf[4096];
  DWORD cb = sizeof buf - 1, type = 0;
  const LSTATUS s = RegQueryValueEx(k, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buf), &cb);
  RegCloseKey(k);
  if (s != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || cb <= 1) return REGDB_E_CLASSNOTREG;
  buf[cb] = '\0';
  *path = buf;
  if (type == REG_EXPAND_SZ) {
    // %NAME% parts come from the environment; an unknown name stays as written.
    std::string expanded;
    for (size_t i = 0; i < path->size();) {
      const size_t end = (*path)[i] == '%' ? path->find('%', i + 1) : std::string::npos;
      const char* value = end != std::string::npos ? std::getenv(path->substr(i + 1, end - i - 1).c_str()) : nullptr;
      if (value) {
        expanded += value;
        i = end + 1;
      } else {
        expanded += (*path)[i++];
      }
    }
    *path = expanded;
  }
  return S_OK;
}

// Loads (once) the library at path. Called with the runtime's mutex held.
HRESULT LoadLibraryLocked(ComRuntime& com, const std::string& path, Library** out) {
  if (auto it = com.libraries.find(path); it != com.libraries.end()) {
    *out = &it->second;
    return S_OK;
  }
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    struct stat st;
    // A library that exists but does not load (missing symbols, wrong architecture)
    // is worth one line; a missing one is an ordinary "not found".
    if (stat(path.c_str(), &st) == 0 && com.reportedLoadFailures.insert(path).second) {
      std::fprintf(stderr, "tavrion: cannot load component library %s: %s\n", path.c_str(), dlerror());
    }
    TAV_TRACE("load %s failed", path.c_str());
    return CO_E_DLLNOTFOUND;
  }
  auto get = reinterpret_cast<PFN_DllGetClassObject>(dlsym(handle, "DllGetClassObject"));
  if (!get) {
    dlclose(handle);
    TAV_TRACE("%s has no DllGetClassObject", path.c_str());
    return CO_E_ERRORINDLL;
  }
  Library& lib = com.libraries[path];
  lib.path = path;
  lib.handle = handle;
  lib.getClassObject = get;
  lib.canUnloadNow = reinterpret_cast<PFN_DllCanUnloadNow>(dlsym(handle, "DllCanUnloadNow"));
  TAV_TRACE("loaded %s", path.c_str());
  *out = &lib;
  return S_OK;
}

// The class factory for clsid, with a reference for the caller; *library is set when it
// came from a library (not a process-local registration). Falls back to asking the
// library for riid directly when it has no IClassFactory (then *factory stays null and
// *other holds the object). With pin set, a library that answered has its 'creating'
// count raised under the same lock, so it cannot be unloaded before the caller is done.
HRESULT FindClassObject(REFCLSID clsid, REFIID riid, IClassFactory** factory, IUnknown** other, Library** library,
                        bool pin = false) {
  ComRuntime& com = Com();
  *factory = nullptr;
  *other = nullptr;
  *library = nullptr;
  {
    std::lock_guard lock(com.mutex);
    for (auto it = com.registered.rbegin(); it != com.registered.rend(); ++it) {
      if (it->second.clsid == clsid) {
        return it->second.object->QueryInterface(riid, reinterpret_cast<void**>(other));
      }
    }
    if (auto it = com.classCache.find(clsid); it != com.classCache.end()) {
      it->second.factory.CopyTo(factory);
      *library = it->second.library;
      if (pin) ++(*library)->creating;
      return S_OK;
    }
  }
  std::string path;
  if (const HRESULT hr = LibraryPathOf(clsid, &path); FAILED(hr)) {
    TAV_TRACE("%s is not registered", tav::GuidToString(clsid).c_str());
    return hr;
  }
  std::lock_guard lock(com.mutex);
  if (auto it = com.classCache.find(clsid); it != com.classCache.end()) {  // another thread won
    it->second.factory.CopyTo(factory);
    *library = it->second.library;
    if (pin) ++(*library)->creating;
    return S_OK;
  }
  Library* lib = nullptr;
  if (const HRESULT hr = LoadLibraryLocked(com, path, &lib); FAILED(hr)) return hr;
  IClassFactory* cf = nullptr;
  HRESULT hr = lib->getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&cf));
  if (hr == E_NOINTERFACE && riid != IID_IClassFactory) {
    hr = lib->getClassObject(clsid, riid, reinterpret_cast<void**>(other));
    if (SUCCEEDED(hr) && !*other) hr = E_POINTER;
    if (SUCCEEDED(hr)) {
      *library = lib;
      if (pin) ++lib->creating;
    }
    return hr;
  }
  if (FAILED(hr)) {
    TAV_TRACE("%s: DllGetClassObject(%s) failed 0x%08x", path.c_str(), tav::GuidToString(clsid).c_str(),
              static_cast<unsigned>(hr));
    return hr;
  }
  if (!cf) return CO_E_ERRORINDLL;
  com.classCache[clsid] = CachedClass{cf, lib};  // the cache takes a reference of its own
  *factory = cf;
  *library = lib;
  if (pin) ++lib->creating;
  return S_OK;
}

thread_local int tlsInitCount = 0;

}  // namespace

HRESULT CoInitialize(void* reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

// Apartments do not exist here: every object may be called from any thread, and
// initialisation only counts, so that the first call per thread answers S_OK and
// the later ones S_FALSE, as callers expect.
HRESULT CoInitializeEx(void*, DWORD) { return tlsInitCount++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
  if (tlsInitCount > 0) --tlsInitCount;
}

HRESULT OleInitialize(void* reserved) { return CoInitialize(reserved); }
void OleUninitialize() { CoUninitialize(); }

HRESULT CoGetClassObject(REFCLSID clsid, DWORD clsctx, void*, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!(clsctx & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER))) return REGDB_E_CLASSNOTREG;
  ComPtr<IClassFactory> factory;
  ComPtr<IUnknown> other;
  Library* library = nullptr;
  const HRESULT hr = FindClassObject(clsid, riid, &factory, &other, &library);
  if (FAILED(hr)) return hr;
  if (other) {
    *ppv = other.Detach();
    return S_OK;
  }
  return factory->QueryInterface(riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsctx, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!(clsctx & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER))) return REGDB_E_CLASSNOTREG;
  ComPtr<IClassFactory> factory;
  ComPtr<IUnknown> other;
  Library* library = nullptr;
  // Pinned: CoFreeUnusedLibraries leaves the library alone until the object is made.
  HRESULT hr = FindClassObject(clsid, IID_IClassFactory, &factory, &other, &library, /*pin=*/true);
  if (FAILED(hr)) return hr;
  ComRuntime& com = Com();
  if (!factory) {
    // Something other than a factory answered (a process-local registration).
    hr = other ? other->QueryInterface(IID_IClassFactory, factory.AsVoidOut()) : CLASS_E_CLASSNOTAVAILABLE;
  }
  if (factory) {
    hr = factory->CreateInstance(outer, riid, ppv);
    if (FAILED(hr)) *ppv = nullptr;
  }
  if (library) {
    std::lock_guard lock(com.mutex);
    --library->creating;
  }
  TAV_TRACE("create %s: 0x%08x", tav::GuidToString(clsid).c_str(), static_cast<unsigned>(hr));
  return hr;
}

void CoFreeUnusedLibraries() {
  ComRuntime& com = Com();
  std::lock_guard lock(com.mutex);
  for (auto it = com.libraries.begin(); it != com.libraries.end();) {
    Library& lib = it->second;
    if (lib.creating > 0 || !lib.canUnloadNow) {
      ++it;
      continue;
    }
    // The cache's own references must not keep a library alive: drop them first and
    // fetch the factories again later if the library stays.
    for (auto c = com.classCache.begin(); c != com.classCache.end();) {
      if (c->second.library == &lib) {
        c = com.classCache.erase(c);
      } else {
        ++c;
      }
    }
    if (lib.canUnloadNow() == S_OK) {
      TAV_TRACE("unloading %s", lib.path.c_str());
      dlclose(lib.handle);
      it = com.libraries.erase(it);
    } else {
      ++it;
    }
  }
}

HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* factory, DWORD, DWORD, DWORD* cookie) {
  if (!factory || !cookie) return E_INVALIDARG;
  ComRuntime& com = Com();
  std::lock_guard lock(com.mutex);
  *cookie = com.nextCookie++;
  com.registered[*cookie] = Registered{clsid, factory};
  return S_OK;
}

HRESULT CoRevokeClassObject(DWORD cookie) {
  ComPtr<IUnknown> object;  // released outside the lock: the object may call back in
  {
    ComRuntime& com = Com();
    std::lock_guard lock(com.mutex);
    auto it = com.registered.find(cookie);
    if (it == com.registered.end()) return CO_E_OBJNOTREG;
    object = std::move(it->second.object);
    com.registered.erase(it);
  }
  return S_OK;
}
