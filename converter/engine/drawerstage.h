// The drawer stage of a preview's video chain: the "KORVA Subtitle Renderer" with its
// subtitle drawer, set up with the output frame size, the screen fit and (when subtitles are
// on) a subtitle manager of its own; a "Video Header Adapter" goes in front of it when the
// renderer refuses a VIDEOINFOHEADER2 stream. CaptionPainter and VxVideoKit are reached by
// class identifier only; checked failures throw the caller's HRChecker.
#pragma once

#include <vector>

#include "converter/engine/burninstage.h"
#include "converter/engine/framesize.h"
#include "libs/captionpainter/captionpainter.h"

namespace tav {

inline constexpr const char16_t* kSubtitleRendererName = u"KORVA Subtitle Renderer";
inline constexpr const char16_t* kHeaderAdapterName = u"Video Header Adapter";

struct DrawerSettings {
  int width = kSmallFrame.width, height = kSmallFrame.height;  // the canvas: the output frame size
  int fit = 2;
  bool subtitlesOn = false;
  SubtitleSettings subtitles;
};

// Ends the chain at `pin` in a subtitle renderer. `streamType` is the stream's own type (the
// adapter is tried when its format is VIDEOINFOHEADER2). False, with nothing of the stage
// left in the graph, when the renderer cannot be connected. When `encoding` is given, it
// receives the encoding the subtitle file was read in (emptied without subtitles).
bool AddDrawerStage(HRChecker& checker, IGraphBuilder* graph, IPin* pin, const AM_MEDIA_TYPE& streamType,
                    const DrawerSettings& settings, std::string* encoding = nullptr);

// Every filter of the graph with IDrawerHost, in the graph's order.
std::vector<ComPtr<IDrawerHost>> DrawerHostsOf(IGraphBuilder* graph);
// The drawer's overlay interface, null when the host has no drawer.
ComPtr<ISubtitleOverlay> OverlayOf(IDrawerHost* host);

}  // namespace tav
