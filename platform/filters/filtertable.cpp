// The library's classes (one row each, sorted by name) and its entry points. Registering
// the library also writes the media-type registry entries (check bytes, extensions).
#include <iterator>

#include "platform/filters/asyncfilesource.h"
#include "platform/filters/mediatyperegistry.h"
#include "platform/streaming/base/streams.h"

using namespace tav::filters;

namespace {

const CFactoryTemplate g_Templates[] = {
    {u"File Source (Async)", &CLSID_AsyncReader, CAsyncFileSource::CreateInstance, nullptr, &sudAsyncReader},
};

}  // namespace

TAV_DLL_CLASS_OBJECT_ENTRY_POINTS(g_Templates, std::size(g_Templates))

TAV_DLL_EXPORT HRESULT DllRegisterServer() {
  HRESULT hr = AMovieDllRegisterServer2(g_Templates, int(std::size(g_Templates)), TRUE);
  if (FAILED(hr)) return hr;
  return SeedMediaTypeEntries();
}

TAV_DLL_EXPORT HRESULT DllUnregisterServer() {
  RemoveMediaTypeEntries();
  return AMovieDllRegisterServer2(g_Templates, int(std::size(g_Templates)), FALSE);
}
