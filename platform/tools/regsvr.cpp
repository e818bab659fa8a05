// regsvr: registers a component library (calls its DllRegisterServer) or, with -u,
// unregisters it (DllUnregisterServer), against the registry currently in use
// (TAVRION_REGISTRY_DIR or the default hives).
//
//   regsvr [-u] [-q] LIBRARY
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "media/contract/com.h"
#include "media/contract/errortext.h"
#include "media/contract/registry.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: regsvr [-u] [-q] LIBRARY\n"
                       "  registers a component library (-u: unregisters it)\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool unregister = false, quiet = false;
  const char* library = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-u") == 0) {
      unregister = true;
    } else if (std::strcmp(argv[i], "-q") == 0) {
      quiet = true;
    } else if (argv[i][0] == '-' || library) {
      return Usage();
    } else {
      library = argv[i];
    }
  }
  if (!library) return Usage();

  // dlopen looks for bare names on the library path; a name given here means a file.
  std::string path = library;
  char resolved[PATH_MAX];
  if (realpath(library, resolved)) path = resolved;
  else if (!std::strchr(library, '/')) path = std::string("./") + library;

  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    std::fprintf(stderr, "regsvr: cannot load %s: %s\n", library, dlerror());
    return 3;
  }
  const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  auto fn = reinterpret_cast<PFN_DllRegisterServer>(dlsym(handle, entry));
  if (!fn) {
    std::fprintf(stderr, "regsvr: %s has no %s entry point\n", library, entry);
    dlclose(handle);
    return 4;
  }

  // One write of the hives for the whole library.
  tav::RegistryBeginBatch();
  const HRESULT hr = fn();
  const LSTATUS written = tav::RegistryEndBatch();
  dlclose(handle);
  if (FAILED(hr)) {
    std::fprintf(stderr, "regsvr: %s in %s failed: %s\n", entry, library, tav::ResultText(hr).c_str());
    return 5;
  }
  if (written != ERROR_SUCCESS) {
    std::fprintf(stderr, "regsvr: the registry in %s could not be written (error %ld)\n", tav::RegistryDirectory(),
                 static_cast<long>(written));
    return 6;
  }
  if (!quiet) std::printf("regsvr: %s in %s succeeded\n", entry, library);
  return 0;
}
