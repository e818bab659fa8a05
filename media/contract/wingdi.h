// The drawing interface: device contexts over memory bitmaps, device-independent section
// bitmaps (16, 24 and 32 bits), fonts from LOGFONT fields, text extent and output, fills and
// block transfers. Implemented by platform/gdi (libtavriongdi) on Cairo + Pango.
//
// Handles are objects of the drawing library; an unknown or deleted handle makes a call fail
// (FALSE, 0 or null), never crash. Drawing is clipped to the bitmap selected into the context;
// a context without a bitmap (the screen context, a fresh memory context) measures but draws
// nothing.
#pragma once

#include "media/contract/mediatypes.h"
#include "media/contract/uniqueowner.h"
#include "media/contract/wintypes.h"

using COLORREF = DWORD;  // 0x00BBGGRR
constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) {
  return COLORREF(r) | (COLORREF(g) << 8) | (COLORREF(b) << 16);
}
constexpr BYTE GetRValue(COLORREF c) { return BYTE(c & 0xFF); }
constexpr BYTE GetGValue(COLORREF c) { return BYTE((c >> 8) & 0xFF); }
constexpr BYTE GetBValue(COLORREF c) { return BYTE((c >> 16) & 0xFF); }
constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;

constexpr int LF_FACESIZE = 32;
struct LOGFONTW {
  LONG lfHeight;  // < 0: character height in pixels; > 0: cell height; 0: a default size
  LONG lfWidth;
  LONG lfEscapement;
  LONG lfOrientation;
  LONG lfWeight;  // 400 normal, 700 bold
  BYTE lfItalic;
  BYTE lfUnderline;
  BYTE lfStrikeOut;
  BYTE lfCharSet;
  BYTE lfOutPrecision;
  BYTE lfClipPrecision;
  BYTE lfQuality;
  BYTE lfPitchAndFamily;
  WCHAR lfFaceName[LF_FACESIZE];
};
static_assert(sizeof(LOGFONTW) == 92);

struct TEXTMETRICW {
  LONG tmHeight;
  LONG tmAscent;
  LONG tmDescent;
  LONG tmInternalLeading;
  LONG tmExternalLeading;
  LONG tmAveCharWidth;
  LONG tmMaxCharWidth;
  LONG tmWeight;
  LONG tmOverhang;
  LONG tmDigitizedAspectX;
  LONG tmDigitizedAspectY;
  WCHAR tmFirstChar;
  WCHAR tmLastChar;
  WCHAR tmDefaultChar;
  WCHAR tmBreakChar;
  BYTE tmItalic;
  BYTE tmUnderlined;
  BYTE tmStruckOut;
  BYTE tmPitchAndFamily;
  BYTE tmCharSet;
};

// What GetObject answers for a bitmap.
struct BITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;
  WORD bmPlanes;
  WORD bmBitsPixel;
  LPVOID bmBits;  // the pixels of a section bitmap, null for other bitmaps
};
// What GetObject answers for a section bitmap given sizeof(DIBSECTION).
struct DIBSECTION {
  BITMAP dsBm;
  BITMAPINFOHEADER dsBmih;
  DWORD dsBitfields[3];
  HANDLE dshSection;
  DWORD dsOffset;
};
struct LOGBRUSH {
  UINT lbStyle;
  COLORREF lbColor;
  ULONG_PTR lbHatch;
};

// Character sets, output/clip precision, quality, weights.
constexpr BYTE ANSI_CHARSET = 0;
constexpr BYTE DEFAULT_CHARSET = 1;
constexpr BYTE HANGUL_CHARSET = 129;
constexpr BYTE OUT_DEFAULT_PRECIS = 0;
constexpr BYTE CLIP_DEFAULT_PRECIS = 0;
constexpr BYTE DEFAULT_QUALITY = 0;
constexpr BYTE DRAFT_QUALITY = 1;
constexpr BYTE PROOF_QUALITY = 2;
constexpr BYTE NONANTIALIASED_QUALITY = 3;
constexpr BYTE ANTIALIASED_QUALITY = 4;
constexpr BYTE CLEARTYPE_QUALITY = 5;
constexpr BYTE DEFAULT_PITCH = 0;
constexpr LONG FW_DONTCARE = 0;
constexpr LONG FW_NORMAL = 400;
constexpr LONG FW_BOLD = 700;

// Text alignment (SetTextAlign).
constexpr UINT TA_NOUPDATECP = 0;
constexpr UINT TA_UPDATECP = 1;
constexpr UINT TA_LEFT = 0;
constexpr UINT TA_RIGHT = 2;
constexpr UINT TA_CENTER = 6;
constexpr UINT TA_TOP = 0;
constexpr UINT TA_BOTTOM = 8;
constexpr UINT TA_BASELINE = 24;
constexpr UINT GDI_ERROR = 0xFFFFFFFF;

// Background modes.
constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;

// ExtTextOut options.
constexpr UINT ETO_OPAQUE = 0x0002;
constexpr UINT ETO_CLIPPED = 0x0004;

// Stretch modes.
constexpr int BLACKONWHITE = 1;
constexpr int WHITEONBLACK = 2;
constexpr int COLORONCOLOR = 3;
constexpr int HALFTONE = 4;

// Raster operations; only SRCCOPY is drawn (others fail).
constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr DWORD BLACKNESS = 0x00000042;
constexpr DWORD WHITENESS = 0x00FF0062;

// DIB colour usage.
constexpr UINT DIB_RGB_COLORS = 0;
constexpr UINT DIB_PAL_COLORS = 1;

// Object types (GetObjectType, GetCurrentObject).
constexpr UINT OBJ_PEN = 1;
constexpr UINT OBJ_BRUSH = 2;
constexpr UINT OBJ_DC = 3;
constexpr UINT OBJ_FONT = 6;
constexpr UINT OBJ_BITMAP = 7;
constexpr UINT OBJ_MEMDC = 10;

// Stock objects.
constexpr int WHITE_BRUSH = 0;
constexpr int BLACK_BRUSH = 4;
constexpr int NULL_BRUSH = 5;
constexpr int DEFAULT_GUI_FONT = 17;

// Device capabilities.
constexpr int HORZRES = 8;
constexpr int VERTRES = 10;
constexpr int BITSPIXEL = 12;
constexpr int PLANES = 14;
constexpr int LOGPIXELSX = 88;
constexpr int LOGPIXELSY = 90;

// ---- device contexts ----
HDC CreateCompatibleDC(HDC dc);  // dc may be null (the screen)
BOOL DeleteDC(HDC dc);
// hwnd null: the screen context. Otherwise a context over the window's drawing surface
// (tav::SetWindowSurface), drawing nothing while the window has none. Released by ReleaseDC.
HDC GetDC(HWND hwnd);
int ReleaseDC(HWND hwnd, HDC dc);
HWND WindowFromDC(HDC dc);
int GetDeviceCaps(HDC dc, int index);
BOOL GdiFlush();

// ---- objects ----
HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section, DWORD offset);
HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height);  // 32 bits per pixel
HFONT CreateFontIndirectW(const LOGFONTW* font);
HBRUSH CreateSolidBrush(COLORREF color);
HGDIOBJ GetStockObject(int index);
// Answers the previous object of the same kind; null on failure. A bitmap can be selected
// into one context at a time.
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
HGDIOBJ GetCurrentObject(HDC dc, UINT type);
// Fails for an object still selected into a context (as the platform does), and for stock objects.
BOOL DeleteObject(HGDIOBJ object);
// BITMAP / DIBSECTION for bitmaps, LOGFONTW for fonts, LOGBRUSH for brushes; the bytes written,
// or the size needed when out is null; 0 on failure.
int GetObjectW(HGDIOBJ object, int size, LPVOID out);
inline int GetObject(HGDIOBJ object, int size, LPVOID out) { return GetObjectW(object, size, out); }
DWORD GetObjectType(HGDIOBJ object);

// ---- text ----
BOOL GetTextExtentPoint32W(HDC dc, LPCWSTR text, int count, SIZE* size);
BOOL GetTextMetricsW(HDC dc, TEXTMETRICW* metrics);
BOOL TextOutW(HDC dc, int x, int y, LPCWSTR text, int count);
// Options ETO_OPAQUE / ETO_CLIPPED with rect; dx (per-character advances) is not supported
// and must be null.
BOOL ExtTextOutW(HDC dc, int x, int y, UINT options, const RECT* rect, LPCWSTR text, UINT count, const INT* dx);
UINT SetTextAlign(HDC dc, UINT align);
UINT GetTextAlign(HDC dc);
COLORREF SetTextColor(HDC dc, COLORREF color);
COLORREF GetTextColor(HDC dc);
COLORREF SetBkColor(HDC dc, COLORREF color);
COLORREF GetBkColor(HDC dc);
int SetBkMode(HDC dc, int mode);
int GetBkMode(HDC dc);
BOOL MoveToEx(HDC dc, int x, int y, POINT* previous);
BOOL GetCurrentPositionEx(HDC dc, POINT* position);

// ---- fills and transfers ----
int FillRect(HDC dc, const RECT* rect, HBRUSH brush);
BOOL BitBlt(HDC dst, int x, int y, int width, int height, HDC src, int srcX, int srcY, DWORD rop);
BOOL StretchBlt(HDC dst, int x, int y, int width, int height, HDC src, int srcX, int srcY, int srcWidth,
                int srcHeight, DWORD rop);
// Source rectangles are in the DIB's picture coordinates (y = 0 is the top row shown).
// Answers the number of scan lines drawn, 0 on failure.
int StretchDIBits(HDC dc, int x, int y, int width, int height, int srcX, int srcY, int srcWidth, int srcHeight,
                  const void* bits, const BITMAPINFO* info, UINT usage, DWORD rop);
// Copies width x height pixels 1:1. startScan / lines select the band of scan lines that bits
// holds, counted from the bottom of a bottom-up DIB.
int SetDIBitsToDevice(HDC dc, int x, int y, DWORD width, DWORD height, int srcX, int srcY, UINT startScan,
                      UINT lines, const void* bits, const BITMAPINFO* info, UINT usage);
int SetStretchBltMode(HDC dc, int mode);
int GetStretchBltMode(HDC dc);
BOOL SetBrushOrgEx(HDC dc, int x, int y, POINT* previous);

namespace tav {
// Gives a window a drawing surface (a bitmap, usually a 32-bit section): GetDC(hwnd) then draws
// into it and the window's owner shows its pixels. A null surface takes it away. The window
// keeps no reference: remove the surface before deleting the bitmap.
BOOL SetWindowSurface(HWND hwnd, HBITMAP surface);
HBITMAP GetWindowSurface(HWND hwnd);
// SetWindowSurface only while the window's surface is still `expected` (null: none), in one
// step: a surface the window's owner gives it meanwhile is kept. TRUE when it was set.
BOOL ExchangeWindowSurface(HWND hwnd, HBITMAP expected, HBITMAP surface);
// Text with a black outline, at the current position: the same pixels as drawing the text in
// black at every offset (dx, dy) with |dx|, |dy| <= radius (dy outer, dx inner, each from
// -radius up) and then in the text colour at the position, but much faster. Needs
// TA_UPDATECP and TRANSPARENT (FALSE otherwise, drawing nothing); the position moves as the
// last TextOutW would move it.
BOOL OutlinedTextOutW(HDC dc, LPCWSTR text, int count, int radius);

struct GdiObjectDelete {
  void operator()(HGDIOBJ h) const noexcept { DeleteObject(h); }
};
// Owns a GDI object (a bitmap, font or brush) and deletes it when it goes or is replaced.
// The object must no longer be selected into a context by then.
template <typename Handle>
using GdiObjectPtr = UniqueOwner<Handle, GdiObjectDelete>;
}  // namespace tav
