// The library's classes (one row each, sorted by name) and its entry points. Registering
// the library also writes the media-type registry entries (check bytes, extensions).
#include <iterator>

#include "platform/filters/asyncfilesource.h"
#include "platform/filters/avsplitter.h"
#include "platform/filters/filterids.h"
#include "platform/filters/mediatyperegistry.h"
#include "platform/streaming/base/streams.h"

using namespace tav::filters;

namespace {

const CFactoryTemplate g_Templates[] = {
    {u"AVI Splitter", &CLSID_AviSplitter, CreateAviSplitter, nullptr, &sudAviSplitter},
    {u"DV Splitter", &CLSID_DVSplitter, CreateDvSplitter, nullptr, &sudDvSplitter},
    {u"File Source (Async)", &CLSID_AsyncReader, CAsyncFileSource::CreateInstance, nullptr, &sudAsyncReader},
    {u"MPEG Program Source", &CLSID_MpegProgramSource, CreateMpegProgramSource, nullptr, &sudMpegProgramSource},
    {u"MPEG-4 Source", &CLSID_Mpeg4FileSource, CreateMpeg4Source, nullptr, &sudMpeg4Source},
    {u"MPEG1 Splitter", &CLSID_MPEG1Splitter, CreateMpeg1Splitter, nullptr, &sudMpeg1Splitter},
    {u"WM ASF Reader", &CLSID_WMAsfReader, CreateAsfReader, nullptr, &sudAsfReader},
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
