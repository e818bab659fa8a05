// VxVideoKit's class table and entry points. One row per class, sorted by name; the other
// classes of the library join this table as they are built.
#include <iterator>

#include "libs/vxvideokit/audiocompression.h"
#include "libs/vxvideokit/audiocompressor.h"
#include "libs/vxvideokit/channeldownmixer.h"
#include "libs/vxvideokit/deferredresizer.h"
#include "libs/vxvideokit/framerateconverter.h"
#include "libs/vxvideokit/headeradapter.h"
#include "libs/vxvideokit/interlacechecker.h"
#include "libs/vxvideokit/mediareaderholder.h"
#include "libs/vxvideokit/resizerproperties.h"
#include "libs/vxvideokit/videoanalyzer.h"
#include "libs/vxvideokit/videoresizer.h"
#include "platform/streaming/base/dllsetup.h"

namespace {

// The media reader filter is registered for the mapper, but only the holder object makes it.
const AMOVIESETUP_MEDIATYPE kAnyType[] = {{&GUID_NULL, &GUID_NULL}};
const AMOVIESETUP_PIN kMediaReaderPins[] = {
    {u"Input", TRUE, FALSE, FALSE, FALSE, nullptr, nullptr, 1, kAnyType},
};
const AMOVIESETUP_FILTER sudMediaReaderFilter = {&CLSID_VxMediaReaderFilter, u"VXCMN Media Reader Filter",
                                                 MERIT_DO_NOT_USE, 1, kMediaReaderPins};

const CFactoryTemplate g_Templates[] = {
    {u"Audio compression factory", &CLSID_VxAudioCompressionFactory, CAudioCompressionFactory::CreateInstance, nullptr,
     nullptr},
    {u"KORVA Media Reader Holder", &CLSID_VxMediaReaderHolder, CMediaReaderHolder::CreateInstance, nullptr, nullptr},
    {u"VXCMN Audio Compressor Filter", &CLSID_VxAudioCompressor, CAudioCompressor::CreateInstance, nullptr,
     &sudAudioCompressor},
    {u"VXCMN Audio channel mixer", &CLSID_VxChannelDownmixer, CChannelDownmixer::CreateInstance, nullptr,
     &sudChannelDownmixer},
    {u"VXCMN Deferred Resizer", &CLSID_VxDeferredResizer, CDeferredResizer::CreateInstance, nullptr,
     &sudDeferredResizer},
    {u"VXCMN Frame Rate Converter", &CLSID_VxFrameRateConverter, CFrameRateConverter::CreateInstance, nullptr,
     &sudFrameRateConverter},
    {u"VXCMN Interlace Mode Checker", &CLSID_VxInterlaceModeChecker, CInterlaceModeChecker::CreateInstance, nullptr,
     &sudInterlaceModeChecker},
    {u"VXCMN Media Reader Filter", &CLSID_VxMediaReaderFilter, nullptr, nullptr, &sudMediaReaderFilter},
    {u"VXCMN Resizer Properties", &CLSID_VxResizerProperties, CResizerProperties::CreateInstance, nullptr, nullptr},
    {u"VXCMN Video Analizer Filter", &CLSID_VxVideoAnalyzer, CVideoAnalyzer::CreateInstance, nullptr,
     &sudVideoAnalyzer},
    {u"VXCMN Video Header Adapter", &CLSID_VxVideoHeaderAdapter, CVideoHeaderAdapter::CreateInstance, nullptr,
     &sudVideoHeaderAdapter},
    {u"VXCMN Video Resizer", &CLSID_VxVideoResizer, CVideoResizer::CreateInstance, nullptr, &sudVideoResizer},
};

}  // namespace

TAV_DLL_ENTRY_POINTS(g_Templates, std::size(g_Templates))
