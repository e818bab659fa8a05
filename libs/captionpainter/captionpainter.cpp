// CaptionPainter's class table and entry points. One row per class, sorted by name.
#include <iterator>

#include "libs/captionpainter/previewrenderer.h"
#include "libs/captionpainter/subtitledrawer.h"
#include "platform/streaming/base/dllsetup.h"

namespace {

const CFactoryTemplate g_Templates[] = {
    {u"VXCMN Subtitle Drawer", &CLSID_SubtitleDrawer, CSubtitleDrawer::CreateInstance, nullptr, sudSubtitleDrawer},
    {u"VXCMN Subtitle Renderer", &CLSID_SubtitleRenderer, CPreviewRenderer::CreateInstance, nullptr,
     &sudPreviewRenderer},
};

}  // namespace

TAV_DLL_ENTRY_POINTS(g_Templates, std::size(g_Templates))
