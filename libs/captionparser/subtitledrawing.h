// The manager's two drawing targets over the caption drawing of captiondraw.h: a frame buffer
// (copied into a section bitmap, drawn, copied back) and a caller's device context.
#pragma once

#include "libs/captionparser/captionentry.h"
#include "libs/captionparser/captionstyle.h"
#include "media/contract/mediatypes.h"
#include "media/contract/wintypes.h"

namespace captionparser {

// Draws `entry` into the frame `bits` described by `header` (already checked: 16, 24 or 32
// bits, both pointers set). E_FAIL when the drawing surface cannot be made.
HRESULT DrawEntryOnBitmap(const BITMAPINFOHEADER& header, BYTE* bits, const CCaptionEntry& entry,
                          const CCaptionStyle* sizeStyle, int textAreaPercent);
// Draws `entry` onto `dc` inside `area`, or the bitmap selected into dc when area is null.
HRESULT DrawEntryOnDC(HDC dc, const RECT* area, const CCaptionEntry& entry, const CCaptionStyle* sizeStyle,
                      int textAreaPercent);

}  // namespace captionparser
