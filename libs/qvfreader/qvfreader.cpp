// The QvfReader library: its class table and entry points. Registering the library also
// registers the ".qvf" extension for the platform, the shell and the media player.
#include <iterator>

#include "libs/qvfreader/qvfreader.h"
#include "libs/qvfreader/qvfreaderfilter.h"
#include "libs/qvfreader/qvfregistration.h"
#include "platform/streaming/base/dllsetup.h"

namespace {
const CFactoryTemplate g_Templates[] = {
    {u"VXCMN Qvf Reader Filter", &CLSID_QvfReaderFilter, CQvfReaderFilter::CreateInstance, nullptr, &sudQvfReader},
};
}  // namespace

TAV_DLL_CLASS_OBJECT_ENTRY_POINTS(g_Templates, std::size(g_Templates))

TAV_DLL_EXPORT HRESULT DllRegisterServer() {
  // The extension keys don't decide the result: only the filter's registration does.
  qvfreader::RegisterQvfExtension(CLSID_QvfReaderFilter);
  return AMovieDllRegisterServer2(g_Templates, int(std::size(g_Templates)), TRUE);
}

// Removes the filter and its class; the extension, shell and player keys stay.
TAV_DLL_EXPORT HRESULT DllUnregisterServer() {
  return AMovieDllRegisterServer2(g_Templates, int(std::size(g_Templates)), FALSE);
}
