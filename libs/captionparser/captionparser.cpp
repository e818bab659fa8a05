// CaptionParser's class table and entry points. One row per class, sorted by name.
#include <iterator>

#include "libs/captionparser/burninfilter.h"
#include "libs/captionparser/subtitlemanager.h"
#include "platform/streaming/base/dllsetup.h"

namespace {

const CFactoryTemplate g_Templates[] = {
    {u"Subtitle Filter", &CLSID_SubtitleFilter, CBurnInFilter::CreateInstance, nullptr, &sudBurnInFilter},
    {u"Subtitle Manager", &CLSID_SubtitleManager, CSubtitleManager::CreateInstance, nullptr, nullptr},
};

}  // namespace

TAV_DLL_ENTRY_POINTS(g_Templates, std::size(g_Templates))
