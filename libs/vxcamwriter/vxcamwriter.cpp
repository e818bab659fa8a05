// The VxCamWriter library: its class table and entry points.
#include <iterator>

#include "libs/vxcamwriter/camexporterfilter.h"
#include "libs/vxcamwriter/vxcamwriter.h"
#include "platform/streaming/base/dllsetup.h"

namespace {
const CFactoryTemplate g_Templates[] = {
    {u"VXCMN Cam Exporter Filter", &CLSID_CamExporterFilter, CCamExporterFilter::CreateInstance, nullptr,
     &sudCamExporter},
    {u"VXCMN Cam Holder Object", &CLSID_CamHolderObject, CCamHolder::CreateInstance, nullptr, nullptr},
};
}  // namespace

TAV_DLL_ENTRY_POINTS(g_Templates, std::size(g_Templates))
