// Drawing one caption entry onto a device context that holds a video frame: the text area in
// the lower part of the frame, a font per run from its style and the selected size class,
// lines wrapped at spaces and aligned, every word white with a black outline.
#pragma once

#include <string_view>
#include <vector>

#include "libs/captionparser/captionentry.h"
#include "libs/captionparser/captionstyle.h"
#include "libs/captionparser/subtitlestate.h"
#include "media/contract/wingdi.h"

namespace captionparser {

struct CaptionArea {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;  // the base of every percentage
};

// Where the lines of a caption go.
struct CaptionLayout {
  RECT textArea{};           // after margins
  int outlineAllowance = 0;  // added to every measured height
  std::vector<RECT> lines;   // one rectangle per line, after the vertical fit
};

// The font description for a run: the run's style with the size class merged over it.
// base is the area height; a size that resolves to 0 gives a tenth of the selected bitmap's height.
LOGFONTW BuildFont(const CCaptionStyle& runStyle, const CCaptionStyle* sizeStyle, int base, HDC dc);

// First pass only: the line rectangles DrawCaption would use.
CaptionLayout LayoutCaption(HDC dc, const CaptionArea& area, const CCaptionEntry& entry,
                            const CCaptionStyle* sizeStyle,
                            int textAreaPercent = CSubtitleState::kDefaultTextAreaPercent);

// Draws the entry. bitmap, when given, is selected into dc while drawing and deselected after.
// The context's text alignment, colours, background mode and current position are restored.
void DrawCaption(HDC dc, HBITMAP bitmap, const CaptionArea& area, const CCaptionEntry& entry,
                 const CCaptionStyle* sizeStyle, int textAreaPercent = CSubtitleState::kDefaultTextAreaPercent);

// Draws text at the current position: (4r + 1)^2 black copies offset by up to 2r pixels
// (r = base / 240), then the text in white; leaves the position after the white text. The
// context must have TA_UPDATECP set.
void DrawOutlinedText(HDC dc, int base, std::u16string_view text);

}  // namespace captionparser
