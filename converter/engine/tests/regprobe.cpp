// A minimal component library for the re-registration test: its DllRegisterServer writes
// one class key naming this library, DllUnregisterServer removes it.
#include "media/contract/com.h"
#include "media/contract/comreg.h"

namespace {
// {C0FFEE00-1234-4321-ABCD-0123456789AB}
TAV_DEFINE_GUID(kProbeClsid, 0xC0FFEE00, 0x1234, 0x4321, 0xAB, 0xCD, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB);
}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllRegisterServer() {
  const std::string path = tav::ModulePathOf(reinterpret_cast<const void*>(&DllRegisterServer));
  return tav::RegisterInprocServer(kProbeClsid, "Registration Probe", path.c_str());
}

extern "C" __attribute__((visibility("default"))) HRESULT DllUnregisterServer() {
  return tav::UnregisterInprocServer(kProbeClsid);
}

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID, REFIID, void** ppv) {
  if (ppv) *ppv = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow() { return S_OK; }
