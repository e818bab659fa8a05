// The SubtypeShim library: its class table and entry points. Registration writes the
// adapter's class and its filter data (merit, pins, the family's input types), which is how
// the filter mapper and intelligent connection find it.
#include <iterator>

#include "libs/subtypeshim/subtypeadapter.h"
#include "platform/streaming/base/dllsetup.h"

namespace {

const CFactoryTemplate g_Templates[] = {
    {u"VXCMN Subtype Adapter Filter", &CLSID_SubtypeAdapter, CSubtypeAdapter::CreateInstance, nullptr,
     &sudSubtypeAdapter},
};

}  // namespace

TAV_DLL_ENTRY_POINTS(g_Templates, std::size(g_Templates))
