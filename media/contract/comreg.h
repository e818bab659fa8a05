// Self-registration helpers for component libraries: what a library's DllRegisterServer
// and DllUnregisterServer write and remove under HKEY_CLASSES_ROOT\CLSID. Implemented by
// the platform runtime (libtavrionrt).
#pragma once

#include <string>

#include "media/contract/guid.h"
#include "media/contract/hresult.h"

namespace tav {

// Writes CLSID\{clsid} (default value = friendlyName) and its InprocServer32 subkey
// (default value = libraryPath, "ThreadingModel" = threadingModel). Existing values are
// overwritten, so registering twice is harmless. A null or empty friendlyName leaves the
// class key's default value unset. Returns S_OK, E_POINTER for a null libraryPath or
// HRESULT_FROM_WIN32 of the registry error.
HRESULT RegisterInprocServer(REFCLSID clsid, const char* friendlyName, const char* libraryPath,
                             const char* threadingModel = "Both");

// Removes CLSID\{clsid} and everything below it. A class that is not registered is not
// an error (S_OK), so unregistering twice is harmless.
HRESULT UnregisterInprocServer(REFCLSID clsid);

// Absolute path of the shared object (or program) that contains the given address, for
// example the address of a library's own DllRegisterServer; empty when it cannot be told.
std::string ModulePathOf(const void* addressInLibrary);

}  // namespace tav
