// The manager's drawing targets on the drawing layer: a frame buffer goes through a section
// bitmap in a memory context, a caller's context is drawn on directly.
#include "libs/captionparser/subtitledrawing.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "libs/captionparser/captiondraw.h"
#include "media/contract/wingdi.h"

namespace captionparser {

namespace {

// A header with room for the three colour masks that bit-field frames need.
struct FrameInfo {
  BITMAPINFOHEADER header;
  DWORD masks[3];
};

// The masks a bit-field frame is read with: only the 5-6-5 layout is 16-bit with bit fields
// among the frame types the filter takes, and 32-bit frames are always 8-8-8.
void SetDefaultMasks(FrameInfo* info) {
  if (info->header.biBitCount == 16) {
    info->masks[0] = 0xF800, info->masks[1] = 0x07E0, info->masks[2] = 0x001F;
  } else {
    info->masks[0] = 0xFF0000, info->masks[1] = 0x00FF00, info->masks[2] = 0x0000FF;
  }
}

}  // namespace

HRESULT DrawEntryOnBitmap(const BITMAPINFOHEADER& header, BYTE* bits, const CCaptionEntry& entry,
                          const CCaptionStyle* sizeStyle, int textAreaPercent) {
  FrameInfo info{};
  info.header = header;
  info.header.biSize = sizeof(BITMAPINFOHEADER);
  if (info.header.biCompression != BI_RGB) {
    info.header.biCompression = BI_BITFIELDS;
    SetDefaultMasks(&info);
  }
  // biSizeImage bytes are copied, but never more than the frame holds: a header that claims
  // more than its size must not write past the section.
  BITMAPINFOHEADER rgb = header;
  rgb.biCompression = BI_RGB;
  const DWORD frameBytes = GetBitmapSize(&rgb);
  const DWORD copyBytes = header.biSizeImage ? std::min(header.biSizeImage, frameBytes) : frameBytes;

  void* sectionBits = nullptr;
  tav::GdiObjectPtr<HBITMAP> section(CreateDIBSection(nullptr, reinterpret_cast<const BITMAPINFO*>(&info),
                                                      DIB_RGB_COLORS, &sectionBits, nullptr, 0));
  if (!section || !sectionBits) return E_FAIL;
  std::memcpy(sectionBits, bits, copyBytes);

  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  if (screen) ReleaseDC(nullptr, screen);
  if (!memory) return E_FAIL;
  const CaptionArea area{0, 0, int(header.biWidth), std::abs(int(header.biHeight))};
  DrawCaption(memory, section.Get(), area, entry, sizeStyle, textAreaPercent);
  DeleteDC(memory);
  GdiFlush();
  std::memcpy(bits, sectionBits, copyBytes);
  return S_OK;
}

HRESULT DrawEntryOnDC(HDC dc, const RECT* area, const CCaptionEntry& entry, const CCaptionStyle* sizeStyle,
                      int textAreaPercent) {
  if (!dc) return E_POINTER;
  CaptionArea where{};
  if (area) {
    where = {int(area->left), int(area->top), int(area->right - area->left), int(area->bottom - area->top)};
  } else {
    BITMAP selected{};
    HGDIOBJ bitmap = GetCurrentObject(dc, OBJ_BITMAP);
    if (bitmap && GetObject(bitmap, sizeof selected, &selected)) {
      where = {0, 0, int(selected.bmWidth), std::abs(int(selected.bmHeight))};
    }
  }
  DrawCaption(dc, nullptr, where, entry, sizeStyle, textAreaPercent);
  return S_OK;
}

}  // namespace captionparser
