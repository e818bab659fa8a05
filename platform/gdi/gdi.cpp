// Device contexts and drawing objects: handles, selection, text output, fills and transfers.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_map>
#include <unordered_set>

#include "platform/gdi/gdi_internal.h"

namespace tav::gdi {
namespace {

// Every live object, so that stale or foreign handles are refused. Guards objects_ and
// windowSurfaces_; the objects themselves belong to the thread using them, as contexts do.
std::mutex& RegistryLock() {
  static std::mutex lock;
  return lock;
}
std::unordered_set<const void*>& Objects() {
  static std::unordered_set<const void*> objects;
  return objects;
}
std::unordered_map<HWND, GdiBitmap*>& WindowSurfaces() {
  static std::unordered_map<HWND, GdiBitmap*> surfaces;
  return surfaces;
}

constexpr int kLogPixels = 96;
constexpr int kScreenWidth = 1920;
constexpr int kScreenHeight = 1080;

GdiBrush* StockBrush(int index) {
  static GdiBrush* brushes[3] = {nullptr, nullptr, nullptr};
  static std::once_flag once;
  std::call_once(once, [] {
    const COLORREF colors[3] = {RGB(255, 255, 255), RGB(0, 0, 0), 0};
    for (int i = 0; i < 3; ++i) {
      brushes[i] = new GdiBrush;
      brushes[i]->stock = true;
      brushes[i]->color = colors[i];
      brushes[i]->hollow = i == 2;
      Register(brushes[i]);
    }
  });
  switch (index) {
    case WHITE_BRUSH: return brushes[0];
    case BLACK_BRUSH: return brushes[1];
    case NULL_BRUSH: return brushes[2];
  }
  return nullptr;
}

GdiBitmap* TargetOf(GdiDc* dc) { return dc ? dc->bitmap : nullptr; }

// The 1 x 1 bitmap a memory context starts with, so that selecting the previous bitmap back
// always releases the caller's bitmap. Shared by every context; never deleted.
GdiBitmap* DefaultBitmap() {
  static GdiBitmap* bitmap = [] {
    auto* b = new GdiBitmap;
    b->stock = true;
    b->header = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), 1, 1, 1, 32, BI_RGB, 4, 0, 0, 0, 0};
    b->storage.reset(new BYTE[4]());
    b->view = PixelView{b->storage.get(), 1, 1, 4, true, PixelFormat::Rgb32};
    b->masks[0] = 0xFF0000, b->masks[1] = 0xFF00, b->masks[2] = 0xFF;
    Register(b);
    return b;
  }();
  return bitmap;
}

}  // namespace

void Register(GdiObject* object) {
  std::lock_guard<std::mutex> lock(RegistryLock());
  Objects().insert(object);
}
void Unregister(GdiObject* object) {
  std::lock_guard<std::mutex> lock(RegistryLock());
  Objects().erase(object);
}
GdiObject* Lookup(const void* handle) {
  if (!handle) return nullptr;
  std::lock_guard<std::mutex> lock(RegistryLock());
  return Objects().count(handle) ? static_cast<GdiObject*>(const_cast<void*>(handle)) : nullptr;
}
GdiDc* LookupDc(HDC dc) {
  GdiObject* o = Lookup(dc);
  return o && o->kind == Kind::Dc ? static_cast<GdiDc*>(o) : nullptr;
}
template <typename T, Kind K>
T* LookupAs(const void* h) {
  GdiObject* o = Lookup(h);
  return o && o->kind == K ? static_cast<T*>(o) : nullptr;
}

// Device context attributes: setting one answers the old value, and both setting and
// reading answer the function's failure value for a handle that is not a device context.
template <typename T>
T ExchangeDcAttribute(HDC dc, T GdiDc::*field, T value, T failure) {
  GdiDc* d = LookupDc(dc);
  if (!d) return failure;
  const T old = d->*field;
  d->*field = value;
  return old;
}
template <typename T>
T DcAttribute(HDC dc, T GdiDc::*field, T failure) {
  const GdiDc* d = LookupDc(dc);
  return d ? d->*field : failure;
}

GdiFont* DefaultFont() {
  static GdiFont* font = [] {
    auto* f = new GdiFont;
    f->stock = true;
    f->logfont.lfHeight = -13;
    f->logfont.lfWeight = FW_NORMAL;
    f->logfont.lfQuality = ANTIALIASED_QUALITY;
    const char16_t face[] = u"sans-serif";
    std::copy(std::begin(face), std::end(face), f->logfont.lfFaceName);
    InitFont(f);
    Register(f);
    return f;
  }();
  return font;
}

}  // namespace tav::gdi

using namespace tav::gdi;

// ---- device contexts ----------------------------------------------------------------------

HDC CreateCompatibleDC(HDC dc) {
  if (dc && !LookupDc(dc)) return nullptr;
  auto* d = new (std::nothrow) GdiDc;
  if (!d) return nullptr;
  d->dcKind = DcKind::Memory;
  d->bitmap = DefaultBitmap();
  Register(d);
  return reinterpret_cast<HDC>(d);
}

static void ReleaseSelections(GdiDc* d) {
  if (d->bitmap) {
    if (d->bitmap->stock) {
      // shared default: nothing to release
    } else if (d->dcKind == DcKind::Memory) {
      d->bitmap->selectedInto = nullptr;
    } else {
      --d->bitmap->windowUses;
    }
    d->bitmap = nullptr;
  }
}

BOOL DeleteDC(HDC dc) {
  GdiDc* d = LookupDc(dc);
  if (!d || d->dcKind == DcKind::Window) return FALSE;
  Unregister(d);
  ReleaseSelections(d);
  delete d;  // this is the context's release: the handle is the object
  return TRUE;
}

HDC GetDC(HWND hwnd) {
  auto* d = new (std::nothrow) GdiDc;
  if (!d) return nullptr;
  if (hwnd) {
    d->dcKind = DcKind::Window;
    d->hwnd = hwnd;
    std::lock_guard<std::mutex> lock(RegistryLock());
    auto it = WindowSurfaces().find(hwnd);
    if (it != WindowSurfaces().end()) {
      d->bitmap = it->second;
      ++d->bitmap->windowUses;
    }
  } else {
    d->dcKind = DcKind::Screen;
  }
  Register(d);
  return reinterpret_cast<HDC>(d);
}

int ReleaseDC(HWND hwnd, HDC dc) {
  GdiDc* d = LookupDc(dc);
  if (!d || d->dcKind == DcKind::Memory || d->hwnd != hwnd) return 0;
  Unregister(d);
  {
    std::lock_guard<std::mutex> lock(RegistryLock());
    ReleaseSelections(d);
  }
  delete d;  // this is the context's release: the handle is the object
  return 1;
}

HWND WindowFromDC(HDC dc) {
  GdiDc* d = LookupDc(dc);
  return d ? d->hwnd : nullptr;
}

BOOL tav::SetWindowSurface(HWND hwnd, HBITMAP surface) {
  if (!hwnd) return FALSE;
  GdiBitmap* b = nullptr;
  if (surface && !(b = LookupAs<GdiBitmap, Kind::Bitmap>(surface))) return FALSE;
  std::lock_guard<std::mutex> lock(RegistryLock());
  if (b) {
    WindowSurfaces()[hwnd] = b;
  } else {
    WindowSurfaces().erase(hwnd);
  }
  return TRUE;
}

BOOL tav::ExchangeWindowSurface(HWND hwnd, HBITMAP expected, HBITMAP surface) {
  if (!hwnd) return FALSE;
  GdiBitmap* b = nullptr;
  if (surface && !(b = LookupAs<GdiBitmap, Kind::Bitmap>(surface))) return FALSE;
  std::lock_guard<std::mutex> lock(RegistryLock());
  auto it = WindowSurfaces().find(hwnd);
  const HBITMAP current = it == WindowSurfaces().end() ? nullptr : reinterpret_cast<HBITMAP>(it->second);
  if (current != expected) return FALSE;
  if (b) {
    WindowSurfaces()[hwnd] = b;
  } else if (it != WindowSurfaces().end()) {
    WindowSurfaces().erase(it);
  }
  return TRUE;
}

HBITMAP tav::GetWindowSurface(HWND hwnd) {
  std::lock_guard<std::mutex> lock(RegistryLock());
  auto it = WindowSurfaces().find(hwnd);
  return it == WindowSurfaces().end() ? nullptr : reinterpret_cast<HBITMAP>(it->second);
}

int GetDeviceCaps(HDC dc, int index) {
  GdiDc* d = LookupDc(dc);
  if (!d) return 0;
  const GdiBitmap* b = TargetOf(d);
  switch (index) {
    case LOGPIXELSX:
    case LOGPIXELSY:
      return kLogPixels;
    case HORZRES:
      return b ? b->view.width : kScreenWidth;
    case VERTRES:
      return b ? b->view.height : kScreenHeight;
    case BITSPIXEL:
      return b ? b->header.biBitCount : 32;
    case PLANES:
      return 1;
  }
  return 0;
}

// Drawing is immediate: there is no queue to flush.
BOOL GdiFlush() { return TRUE; }

// ---- objects ------------------------------------------------------------------------------

HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section, DWORD offset) {
  if (bits) *bits = nullptr;
  if (!info || usage != DIB_RGB_COLORS || section) return nullptr;
  PixelView view;
  if (!ViewFromInfo(info, reinterpret_cast<const void*>(1), &view)) return nullptr;
  auto b = std::make_unique<GdiBitmap>();
  const size_t size = size_t(view.stride) * size_t(view.height);
  b->storage.reset(new (std::nothrow) BYTE[size]);
  if (!b->storage) return nullptr;
  std::memset(b->storage.get(), 0, size);
  view.bits = b->storage.get();
  b->view = view;
  b->section = true;
  b->header = info->bmiHeader;
  b->header.biSize = sizeof(BITMAPINFOHEADER);
  b->header.biSizeImage = DWORD(size);
  if (info->bmiHeader.biCompression == BI_BITFIELDS) {
    std::memcpy(b->masks, reinterpret_cast<const BYTE*>(info) + info->bmiHeader.biSize, sizeof(b->masks));
  } else if (view.format == PixelFormat::Rgb555) {
    b->masks[0] = 0x7C00, b->masks[1] = 0x3E0, b->masks[2] = 0x1F;
  } else {
    b->masks[0] = 0xFF0000, b->masks[1] = 0xFF00, b->masks[2] = 0xFF;
  }
  if (bits) *bits = b->storage.get();
  GdiBitmap* raw = b.release();
  Register(raw);
  return reinterpret_cast<HBITMAP>(raw);
}

HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height) {
  if ((dc && !LookupDc(dc)) || width <= 0 || height <= 0) return nullptr;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  HBITMAP h = CreateDIBSection(dc, &info, DIB_RGB_COLORS, nullptr, nullptr, 0);
  if (GdiBitmap* b = LookupAs<GdiBitmap, Kind::Bitmap>(h)) b->section = false;
  return h;
}

HFONT CreateFontIndirectW(const LOGFONTW* lf) {
  if (!lf) return nullptr;
  auto* f = new (std::nothrow) GdiFont;
  if (!f) return nullptr;
  f->logfont = *lf;
  f->logfont.lfFaceName[LF_FACESIZE - 1] = 0;
  if (!InitFont(f)) {
    delete f;  // never registered: no handle names it yet
    return nullptr;
  }
  Register(f);
  return reinterpret_cast<HFONT>(f);
}

HBRUSH CreateSolidBrush(COLORREF color) {
  auto* b = new (std::nothrow) GdiBrush;
  if (!b) return nullptr;
  b->color = color & 0xFFFFFF;
  Register(b);
  return reinterpret_cast<HBRUSH>(b);
}

HGDIOBJ GetStockObject(int index) {
  if (index == DEFAULT_GUI_FONT) return DefaultFont();
  return StockBrush(index);
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
  GdiDc* d = LookupDc(dc);
  GdiObject* o = Lookup(object);
  if (!d || !o) return nullptr;
  switch (o->kind) {
    case Kind::Bitmap: {
      auto* b = static_cast<GdiBitmap*>(o);
      if (d->dcKind != DcKind::Memory) return nullptr;
      if (!b->stock && b->selectedInto && b->selectedInto != dc) return nullptr;  // one context at a time
      GdiBitmap* old = d->bitmap;
      if (old && !old->stock) old->selectedInto = nullptr;
      d->bitmap = b;
      if (!b->stock) b->selectedInto = dc;
      return old;
    }
    case Kind::Font: {
      GdiFont* old = d->font ? d->font : DefaultFont();
      d->font = static_cast<GdiFont*>(o);
      return old;
    }
    case Kind::Brush: {
      GdiBrush* old = d->brush ? d->brush : StockBrush(WHITE_BRUSH);
      d->brush = static_cast<GdiBrush*>(o);
      return old;
    }
    case Kind::Dc:
      break;
  }
  return nullptr;
}

HGDIOBJ GetCurrentObject(HDC dc, UINT type) {
  GdiDc* d = LookupDc(dc);
  if (!d) return nullptr;
  switch (type) {
    case OBJ_BITMAP: return d->bitmap;
    case OBJ_FONT: return d->font ? d->font : DefaultFont();
    case OBJ_BRUSH: return d->brush ? static_cast<GdiObject*>(d->brush) : StockBrush(WHITE_BRUSH);
  }
  return nullptr;
}

// Whether a font or brush is selected into any context (those cannot be deleted).
static bool InUse(const GdiObject* o) {
  std::lock_guard<std::mutex> lock(RegistryLock());
  for (const void* h : Objects()) {
    auto* g = static_cast<const GdiObject*>(h);
    if (g->kind != Kind::Dc) continue;
    auto* d = static_cast<const GdiDc*>(g);
    if (d->font == o || d->brush == o) return true;
  }
  return false;
}

BOOL DeleteObject(HGDIOBJ object) {
  GdiObject* o = Lookup(object);
  if (!o || o->stock || o->kind == Kind::Dc) return FALSE;
  if (o->kind == Kind::Bitmap) {
    auto* b = static_cast<GdiBitmap*>(o);
    if (b->selectedInto || b->windowUses) return FALSE;
    std::lock_guard<std::mutex> lock(RegistryLock());
    for (auto it = WindowSurfaces().begin(); it != WindowSurfaces().end();) {
      it = it->second == b ? WindowSurfaces().erase(it) : std::next(it);
    }
  } else if (InUse(o)) {
    return FALSE;
  }
  Unregister(o);
  delete o;  // this is the object's release: the handle is the object
  return TRUE;
}

int GetObjectW(HGDIOBJ object, int size, LPVOID out) {
  GdiObject* o = Lookup(object);
  if (!o) return 0;
  switch (o->kind) {
    case Kind::Bitmap: {
      auto* b = static_cast<GdiBitmap*>(o);
      const bool dib = b->section && size >= int(sizeof(DIBSECTION));
      const int needed = dib ? int(sizeof(DIBSECTION)) : int(sizeof(BITMAP));
      if (!out) return b->section ? int(sizeof(DIBSECTION)) : int(sizeof(BITMAP));
      if (size < int(sizeof(BITMAP))) return 0;
      BITMAP bm{};
      bm.bmWidth = b->view.width;
      bm.bmHeight = b->view.height;
      bm.bmWidthBytes = b->view.stride;
      bm.bmPlanes = 1;
      bm.bmBitsPixel = b->header.biBitCount;
      bm.bmBits = b->section ? b->view.bits : nullptr;
      if (dib) {
        DIBSECTION ds{};
        ds.dsBm = bm;
        ds.dsBmih = b->header;
        std::memcpy(ds.dsBitfields, b->masks, sizeof(ds.dsBitfields));
        std::memcpy(out, &ds, sizeof(ds));
      } else {
        std::memcpy(out, &bm, sizeof(bm));
      }
      return needed;
    }
    case Kind::Font: {
      if (!out) return int(sizeof(LOGFONTW));
      const int n = std::min<int>(size, sizeof(LOGFONTW));
      if (n <= 0) return 0;
      std::memcpy(out, &static_cast<GdiFont*>(o)->logfont, size_t(n));
      return n;
    }
    case Kind::Brush: {
      if (!out) return int(sizeof(LOGBRUSH));
      if (size < int(sizeof(LOGBRUSH))) return 0;
      auto* br = static_cast<GdiBrush*>(o);
      LOGBRUSH lb{br->hollow ? 1u : 0u, br->color, 0};
      std::memcpy(out, &lb, sizeof(lb));
      return int(sizeof(LOGBRUSH));
    }
    case Kind::Dc:
      break;
  }
  return 0;
}

DWORD GetObjectType(HGDIOBJ object) {
  GdiObject* o = Lookup(object);
  if (!o) return 0;
  switch (o->kind) {
    case Kind::Bitmap: return OBJ_BITMAP;
    case Kind::Font: return OBJ_FONT;
    case Kind::Brush: return OBJ_BRUSH;
    case Kind::Dc: return static_cast<GdiDc*>(o)->dcKind == DcKind::Memory ? OBJ_MEMDC : OBJ_DC;
  }
  return 0;
}

// ---- text ---------------------------------------------------------------------------------

static GdiFont* FontOf(GdiDc* d) { return d->font ? d->font : DefaultFont(); }

BOOL GetTextExtentPoint32W(HDC dc, LPCWSTR text, int count, SIZE* size) {
  GdiDc* d = LookupDc(dc);
  if (!d || !size || count < 0 || (!text && count > 0)) return FALSE;
  auto mask = RenderText(FontOf(d), std::u16string_view(text ? text : u"", size_t(count)), false);
  size->cx = mask->width;
  size->cy = mask->height;
  return TRUE;
}

BOOL GetTextMetricsW(HDC dc, TEXTMETRICW* tm) {
  GdiDc* d = LookupDc(dc);
  if (!d || !tm) return FALSE;
  GdiFont* f = FontOf(d);
  auto probe = RenderText(f, u"x", false);
  *tm = TEXTMETRICW{};
  tm->tmHeight = probe->height;
  tm->tmAscent = probe->baseline;
  tm->tmDescent = probe->height - probe->baseline;
  tm->tmAveCharWidth = probe->width;
  tm->tmMaxCharWidth = RenderText(f, u"W", false)->width;
  tm->tmWeight = f->logfont.lfWeight ? f->logfont.lfWeight : FW_NORMAL;
  tm->tmItalic = f->logfont.lfItalic;
  tm->tmCharSet = f->logfont.lfCharSet;
  tm->tmDigitizedAspectX = tm->tmDigitizedAspectY = 96;
  tm->tmFirstChar = 0x20;
  tm->tmLastChar = 0xFFFC;
  tm->tmDefaultChar = u'?';
  tm->tmBreakChar = u' ';
  if (f->logfont.lfHeight < 0) tm->tmInternalLeading = std::max<LONG>(0, tm->tmHeight + f->logfont.lfHeight);
  return TRUE;
}

BOOL ExtTextOutW(HDC dc, int x, int y, UINT options, const RECT* rect, LPCWSTR text, UINT count, const INT* dx) {
  GdiDc* d = LookupDc(dc);
  if (!d || (!text && count > 0) || dx || count > 0x7FFFFFFF) return FALSE;
  GdiBitmap* target = TargetOf(d);
  if ((options & ETO_OPAQUE) && rect && target) FillView(target->view, *rect, RgbFromColorref(d->bkColor));
  auto mask = RenderText(FontOf(d), std::u16string_view(text ? text : u"", count), TargetOf(d) != nullptr);

  const UINT align = d->textAlign;
  if (align & TA_UPDATECP) x = d->position.x, y = d->position.y;
  int left = x;
  if ((align & TA_CENTER) == TA_CENTER) {
    left = x - mask->width / 2;
  } else if (align & TA_RIGHT) {
    left = x - mask->width;
  }
  int top = y;
  if ((align & TA_BASELINE) == TA_BASELINE) {
    top = y - mask->baseline;
  } else if (align & TA_BOTTOM) {
    top = y - mask->height;
  }
  if (align & TA_UPDATECP) {
    if ((align & TA_CENTER) == TA_CENTER) {
      // Centred text leaves the position where it is.
    } else if (align & TA_RIGHT) {
      d->position.x = x - mask->width;
    } else {
      d->position.x = x + mask->width;
    }
  }
  if (!target) return TRUE;
  const RECT* clip = (options & ETO_CLIPPED) && rect ? rect : nullptr;
  if (d->bkMode == OPAQUE) {
    RECT box{left, top, left + mask->width, top + mask->height};
    if (clip) {
      box.left = std::max(box.left, clip->left), box.top = std::max(box.top, clip->top);
      box.right = std::min(box.right, clip->right), box.bottom = std::min(box.bottom, clip->bottom);
    }
    FillView(target->view, box, RgbFromColorref(d->bkColor));
  }
  BlendMask(target->view, *mask, left, top, RgbFromColorref(d->textColor), clip);
  return TRUE;
}

BOOL tav::OutlinedTextOutW(HDC dc, LPCWSTR text, int count, int radius) {
  GdiDc* d = LookupDc(dc);
  if (!d || count < 0 || (!text && count > 0) || radius < 0 || radius > 64) return FALSE;
  if (!(d->textAlign & TA_UPDATECP) || d->bkMode != TRANSPARENT) return FALSE;
  GdiBitmap* target = TargetOf(d);
  auto mask = RenderText(FontOf(d), std::u16string_view(text ? text : u"", size_t(count)), target != nullptr);
  const UINT align = d->textAlign;
  const int x = d->position.x, y = d->position.y;
  int left = x, top = y;
  if ((align & TA_CENTER) == TA_CENTER) {
    left = x - mask->width / 2;
  } else if (align & TA_RIGHT) {
    left = x - mask->width;
    d->position.x = x - mask->width;
  } else {
    d->position.x = x + mask->width;
  }
  if ((align & TA_BASELINE) == TA_BASELINE) {
    top = y - mask->baseline;
  } else if (align & TA_BOTTOM) {
    top = y - mask->height;
  }
  if (target) BlendOutlined(target->view, *mask, left, top, radius, RgbFromColorref(d->textColor));
  return TRUE;
}

BOOL TextOutW(HDC dc, int x, int y, LPCWSTR text, int count) {
  if (count < 0) return FALSE;
  return ExtTextOutW(dc, x, y, 0, nullptr, text, UINT(count), nullptr);
}

UINT SetTextAlign(HDC dc, UINT align) { return ExchangeDcAttribute(dc, &GdiDc::textAlign, align, GDI_ERROR); }
UINT GetTextAlign(HDC dc) { return DcAttribute(dc, &GdiDc::textAlign, GDI_ERROR); }
COLORREF SetTextColor(HDC dc, COLORREF color) {
  return ExchangeDcAttribute(dc, &GdiDc::textColor, COLORREF(color & 0xFFFFFF), CLR_INVALID);
}
COLORREF GetTextColor(HDC dc) { return DcAttribute(dc, &GdiDc::textColor, CLR_INVALID); }
COLORREF SetBkColor(HDC dc, COLORREF color) {
  return ExchangeDcAttribute(dc, &GdiDc::bkColor, COLORREF(color & 0xFFFFFF), CLR_INVALID);
}
COLORREF GetBkColor(HDC dc) { return DcAttribute(dc, &GdiDc::bkColor, CLR_INVALID); }
int SetBkMode(HDC dc, int mode) {
  if (mode != TRANSPARENT && mode != OPAQUE) return 0;
  return ExchangeDcAttribute(dc, &GdiDc::bkMode, mode, 0);
}
int GetBkMode(HDC dc) { return DcAttribute(dc, &GdiDc::bkMode, 0); }
BOOL MoveToEx(HDC dc, int x, int y, POINT* previous) {
  GdiDc* d = LookupDc(dc);
  if (!d) return FALSE;
  if (previous) *previous = d->position;
  d->position = POINT{x, y};
  return TRUE;
}
BOOL GetCurrentPositionEx(HDC dc, POINT* position) {
  GdiDc* d = LookupDc(dc);
  if (!d || !position) return FALSE;
  *position = d->position;
  return TRUE;
}

// ---- fills and transfers ------------------------------------------------------------------

int FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
  GdiDc* d = LookupDc(dc);
  auto* b = LookupAs<GdiBrush, Kind::Brush>(brush);
  if (!d || !rect || !b) return 0;
  if (GdiBitmap* target = TargetOf(d); target && !b->hollow) FillView(target->view, *rect, RgbFromColorref(b->color));
  return 1;
}

BOOL StretchBlt(HDC dst, int x, int y, int width, int height, HDC src, int srcX, int srcY, int srcWidth,
                int srcHeight, DWORD rop) {
  GdiDc* d = LookupDc(dst);
  GdiDc* s = LookupDc(src);
  if (!d || !s || rop != SRCCOPY) return FALSE;
  GdiBitmap* to = TargetOf(d);
  GdiBitmap* from = TargetOf(s);
  if (!to) return TRUE;  // nothing to draw on
  if (!from) return FALSE;
  return Transfer(to->view, x, y, width, height, from->view, srcX, srcY, srcWidth, srcHeight,
                  d->stretchMode == HALFTONE)
             ? TRUE
             : FALSE;
}

BOOL BitBlt(HDC dst, int x, int y, int width, int height, HDC src, int srcX, int srcY, DWORD rop) {
  GdiDc* d = LookupDc(dst);
  if (!d) return FALSE;
  if (rop == BLACKNESS || rop == WHITENESS) {
    if (GdiBitmap* to = TargetOf(d))
      FillView(to->view, RECT{x, y, x + width, y + height}, rop == BLACKNESS ? 0 : 0xFFFFFF);
    return TRUE;
  }
  if (width < 0 || height < 0) return FALSE;
  return StretchBlt(dst, x, y, width, height, src, srcX, srcY, width, height, rop);
}

int StretchDIBits(HDC dc, int x, int y, int width, int height, int srcX, int srcY, int srcWidth, int srcHeight,
                  const void* bits, const BITMAPINFO* info, UINT usage, DWORD rop) {
  GdiDc* d = LookupDc(dc);
  PixelView view;
  if (!d || !bits || usage != DIB_RGB_COLORS || rop != SRCCOPY || !ViewFromInfo(info, bits, &view)) return 0;
  // In a bottom-up DIB the source rectangle is counted from the bottom row.
  const int top = view.bottomUp ? view.height - (srcY + srcHeight) : srcY;
  if (GdiBitmap* to = TargetOf(d)) {
    if (!Transfer(to->view, x, y, width, height, view, srcX, top, srcWidth, srcHeight, d->stretchMode == HALFTONE))
      return 0;
  }
  return std::abs(srcHeight);
}

int SetDIBitsToDevice(HDC dc, int x, int y, DWORD width, DWORD height, int srcX, int srcY, UINT startScan,
                      UINT lines, const void* bits, const BITMAPINFO* info, UINT usage) {
  GdiDc* d = LookupDc(dc);
  PixelView view;
  if (!d || !bits || usage != DIB_RGB_COLORS || !ViewFromInfo(info, bits, &view)) return 0;
  if (width > 0x7FFFFFFF || height > 0x7FFFFFFF) return 0;
  int w = int(width), h = int(height);
  int top = srcY;
  if (view.bottomUp) {
    // bits holds scan lines startScan .. startScan + lines - 1, counted from the bottom.
    if (lines == 0 || startScan >= UINT(view.height)) return 0;
    lines = std::min<UINT>(lines, UINT(view.height) - startScan);
    // Scan lines of the band that the source rectangle [srcY, srcY + h) (from the bottom) uses.
    const int lo = std::max<int>(srcY, int(startScan));
    const int hi = std::min<int>(srcY + h, int(startScan + lines));
    if (lo >= hi) return 0;
    PixelView band = view;
    band.height = int(lines);
    // Picture row of scan line s within the band: lines - 1 - (s - startScan).
    const int bandTop = int(lines) - 1 - (hi - 1 - int(startScan));
    const int dstTop = y + (srcY + h - hi);
    if (GdiBitmap* to = TargetOf(d)) Transfer(to->view, x, dstTop, w, hi - lo, band, srcX, bandTop, w, hi - lo, false);
    return int(lines);
  }
  if (GdiBitmap* to = TargetOf(d)) Transfer(to->view, x, y, w, h, view, srcX, top, w, h, false);
  return h;
}

int SetStretchBltMode(HDC dc, int mode) {
  if (mode < BLACKONWHITE || mode > HALFTONE) return 0;
  return ExchangeDcAttribute(dc, &GdiDc::stretchMode, mode, 0);
}
int GetStretchBltMode(HDC dc) { return DcAttribute(dc, &GdiDc::stretchMode, 0); }
BOOL SetBrushOrgEx(HDC dc, int x, int y, POINT* previous) {
  GdiDc* d = LookupDc(dc);
  if (!d) return FALSE;
  if (previous) *previous = d->brushOrigin;
  d->brushOrigin = POINT{x, y};
  return TRUE;
}
