// CaptionPainter's public interface: the class identifiers of the preview renderer and its
// drawer, and the four private interfaces the converter configures them through. Include
// this header; never link the library (its objects are created by class identifier).
//
// The converter adds the renderer to a preview graph, creates a drawer asking for
// IFrameDrawer, hands it over with IDrawerHost::SetDrawer and sets it up through
// ISubtitleOverlay (manager, canvas size, fit mode). Every frame the renderer receives is
// then placed on a canvas of the output frame size with the chosen fit, the caption due at
// its time is drawn over it by the subtitle manager, and the canvas is shown in the
// renderer's window.
#pragma once

#include "libs/captionparser/captionparser.h"
#include "media/contract/mediatypes.h"
#include "media/contract/strmif.h"
#include "media/contract/unknown.h"
#include "media/contract/wingdi.h"

// ---- classes -------------------------------------------------------------------------------

// "VXCMN Subtitle Renderer": a video renderer with its own window that draws through a drawer.
TAV_DEFINE_GUID(CLSID_SubtitleRenderer, 0x4277A167, 0x3A70, 0x4169, 0xBF, 0x31, 0xC1, 0xD1, 0x29, 0x6B, 0xBF, 0xEE);
// "VXCMN Subtitle Drawer": places frames on a canvas and has the manager draw captions on it.
TAV_DEFINE_GUID(CLSID_SubtitleDrawer, 0x5F1AD4C7, 0xD632, 0x4C3E, 0x83, 0x9D, 0xC1, 0xD3, 0x08, 0x52, 0xC9, 0x7C);

// Fit modes of ISubtitleOverlay::SetFitMode (the resizer's values).
enum SubtitleFitMode : int {
  kDrawerFitStretch = 0,  // the whole canvas
  kDrawerFitCentre = 1,   // unscaled, centred
  kDrawerFitInside = 2,   // aspect kept, black bars
  kDrawerFitCrop = 3,     // aspect kept, overhanging the canvas
};

struct IRendererWindow;

// ---- IFrameDrawer --------------------------------------------------------------------------

TAV_DEFINE_GUID(IID_IFrameDrawer, 0x07D5A573, 0x3B8A, 0x46DA, 0xA8, 0x9E, 0x9B, 0x94, 0xE7, 0x0A, 0x57, 0x23);

// The drawer's image-drawing operations, method for method those of the platform's image
// drawer. Null out-pointers give E_POINTER. Media types are passed as AM_MEDIA_TYPE (the
// platform's CMediaType is one).
struct IFrameDrawer : IUnknown {
  STDMETHOD(SetWindowSource)(IRendererWindow* window) = 0;
  // Draws one frame into the window (composed when a manager is set or the fit is not 0).
  STDMETHOD(DrawImage)(IMediaSample* sample) = 0;
  // Stretches the sample's bits onto any context (source/target null: the drawer's own).
  STDMETHOD(DrawTo)(HDC dc, IMediaSample* sample, const RECT* source, const RECT* target) = 0;
  // Fetches the window and memory contexts from the window source.
  STDMETHOD(SetDrawContext)() = 0;
  STDMETHOD(SetSourceRect)(const RECT* rect) = 0;
  STDMETHOD(SetTargetRect)(const RECT* rect) = 0;
  STDMETHOD(GetSourceRect)(RECT* rect) = 0;
  STDMETHOD(GetTargetRect)(RECT* rect) = 0;
  STDMETHOD(CopyRect)(const RECT* in, RECT* out) = 0;
  STDMETHOD(GetPaletteVersion)(int* version) = 0;
  STDMETHOD(ResetPaletteVersion)() = 0;
  STDMETHOD(IncrementPaletteVersion)() = 0;
  STDMETHOD(NotifyAllocator)(BOOL usingImageAllocator) = 0;
  // Keeps a copy of the frames' media type.
  STDMETHOD(NotifyMediaType)(const AM_MEDIA_TYPE* type) = 0;
  // S_OK when the image allocator supplies the samples, S_FALSE when not.
  STDMETHOD(UsingImageAllocator)() = 0;
  STDMETHOD(Reserved1)(void* unused) = 0;
  STDMETHOD(Reserved2)(void* unused) = 0;
  STDMETHOD(Reserved3)(void* unused) = 0;
  STDMETHOD(Reserved4)(void* a, void* b, void* c, void* d) = 0;
  // Added to sample times in composed drawing.
  STDMETHOD(SetTimeOffset)(REFERENCE_TIME offset) = 0;
  // Draws raw frame bits (VIDEOINFOHEADER type) with the caption due at `time` (no offset).
  // dc null: the window's context; target null: the drawer's target rectangle.
  STDMETHOD(DrawFrame)(HDC dc, const RECT* target, const AM_MEDIA_TYPE* type, void* unused, const BYTE* bits,
                       REFERENCE_TIME time) = 0;
};
TAV_INTERFACE(IFrameDrawer, IID_IFrameDrawer);

// ---- ISubtitleOverlay ----------------------------------------------------------------------

TAV_DEFINE_GUID(IID_ISubtitleOverlay, 0xAF62E17E, 0x73E0, 0x4388, 0xB7, 0xEF, 0xC9, 0xB5, 0x0D, 0xD6, 0x5C, 0xB8);

// The drawer's subtitle settings; every call takes the drawer's lock.
struct ISubtitleOverlay : IUnknown {
  STDMETHOD(EnableSubtitles)(BOOL enable) = 0;
  // Replaces the counted manager reference (null: none).
  STDMETHOD(SetManager)(ISubtitleManager* manager) = 0;
  // A counted reference or null.
  STDMETHOD(GetManager)(ISubtitleManager** manager) = 0;
  // The canvas (output frame) size.
  STDMETHOD(SetCanvasSize)(int width, int height) = 0;
  STDMETHOD(SetFitMode)(int mode) = 0;
  // Takes (TRUE) or releases (FALSE) the drawer's lock, so several settings change at once.
  STDMETHOD(Lock)(BOOL lock) = 0;
};
TAV_INTERFACE(ISubtitleOverlay, IID_ISubtitleOverlay);

// ---- IDrawerHost ---------------------------------------------------------------------------

TAV_DEFINE_GUID(IID_IDrawerHost, 0x2E602992, 0xD5C7, 0x4F86, 0xBB, 0x94, 0xB2, 0x51, 0x2A, 0x21, 0xC0, 0x11);

// On the renderer; every call takes the renderer's lock.
struct IDrawerHost : IUnknown {
  STDMETHOD(SetDrawer)(IFrameDrawer* drawer) = 0;
  STDMETHOD(GetDrawer)(IFrameDrawer** drawer) = 0;
  // Draws the current sample again through the drawer (nothing without one of each).
  STDMETHOD(Repaint)() = 0;
  // A copy of the current sample: its type (the caller frees the format block), length, data
  // (a task-allocator block the caller frees) and times moved by the segment start.
  // E_POINTER for any null pointer; E_FAIL without a current sample or with an empty one.
  STDMETHOD(GetCurrentFrame)(AM_MEDIA_TYPE* type, LONG* size, BYTE** data, REFERENCE_TIME* start,
                             REFERENCE_TIME* end) = 0;
};
TAV_INTERFACE(IDrawerHost, IID_IDrawerHost);

// ---- IRendererWindow -----------------------------------------------------------------------

TAV_DEFINE_GUID(IID_IRendererWindow, 0x445C2287, 0x480A, 0x4B1C, 0xA3, 0x8B, 0xE5, 0x25, 0x9A, 0x74, 0x22, 0x9B);

// On the renderer: its window and the contexts the drawer draws with.
struct IRendererWindow : IUnknown {
  STDMETHOD(GetWindowHandle)(HWND* hwnd) = 0;
  STDMETHOD(GetWindowDC)(HDC* dc) = 0;
  STDMETHOD(GetMemoryDC)(HDC* dc) = 0;
};
TAV_INTERFACE(IRendererWindow, IID_IRendererWindow);
