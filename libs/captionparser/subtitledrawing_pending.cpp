// Built while the caption drawing (captionparser_draw, on platform/gdi) is not in the tree:
// the manager then checks its arguments and looks captions up as usual, but a caption that is
// due cannot be drawn and the call says so (E_NOTIMPL). subtitledrawing.cpp replaces this file
// as soon as the drawing layer is there.
#include "libs/captionparser/subtitledrawing.h"

namespace captionparser {

HRESULT DrawEntryOnBitmap(const BITMAPINFOHEADER&, BYTE*, const CCaptionEntry&, const CCaptionStyle*, int) {
  return E_NOTIMPL;
}

HRESULT DrawEntryOnDC(HDC, const RECT*, const CCaptionEntry&, const CCaptionStyle*, int) { return E_NOTIMPL; }

}  // namespace captionparser
