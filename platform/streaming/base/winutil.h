// Video drawing helpers of the base classes:
//  - CImageDisplay: which video types the display can draw (RGB 16, 24 and 32 bits,
//    uncompressed or with standard bit fields) and the header checks behind that answer.
//  - CDrawImage: draws a video sample into a window's context. Samples from the image
//    allocator live in section bitmaps and are blitted from a memory context (the fast
//    path); other samples go through the device-independent-bitmap calls (the slow path).
//    A source rectangle whose size differs from the target's is stretched.
//  - CBaseControlVideo: IBasicVideo for a renderer, over source and target rectangles and
//    the connected video format that the renderer supplies.
#pragma once

#include "media/contract/wingdi.h"
#include "platform/streaming/base/basefilter.h"
#include "platform/streaming/base/basepin.h"
#include "platform/streaming/base/combase.h"
#include "platform/streaming/base/ctlwindow.h"
#include "platform/streaming/base/imagealloc.h"
#include "platform/streaming/base/mtype.h"

// ---- CImageDisplay ---------------------------------------------------------------------------

class CImageDisplay {
 public:
  // The display draws 32-bit RGB.
  static int GetDisplayDepth() { return 32; }
  // Video, FORMAT_VideoInfo with a valid header, and an RGB subtype the display draws whose
  // bit count agrees with the header: S_OK, else E_INVALIDARG.
  static HRESULT CheckMediaType(const CMediaType* mt);
  // The format block itself: a drawable depth and compression, a sane header, and masks
  // that are the standard ones when BI_BITFIELDS is used.
  static HRESULT CheckVideoType(const VIDEOINFO* input);
  // biSize, planes, a non-zero width and height, a known compression, and an image size
  // that, when given, holds the whole image.
  static BOOL CheckHeaderValidity(const VIDEOINFO* input);
  // Each mask is one contiguous run of bits and the three do not overlap.
  static BOOL CheckBitFields(const VIDEOINFO* input);
  // The red, green and blue masks of a 16- or 32-bit format (the explicit ones for
  // BI_BITFIELDS, else the defaults: 5-5-5 for 16 bits, 8-8-8 for 32).
  static const DWORD* GetBitMasks(const VIDEOINFO* input);
  // Palette formats (8 bits or fewer); the display draws none.
  static BOOL IsPalettised(const VIDEOINFO* input) { return input && input->bmiHeader.biBitCount <= 8; }
};

// ---- CDrawImage --------------------------------------------------------------------------------

class CDrawImage {
 public:
  explicit CDrawImage(CBaseWindow* window);
  virtual ~CDrawImage() = default;

  // Fetches the window's context and its memory context (again after a resize).
  void SetDrawContext();
  void SetTargetRect(const RECT* rect);
  void GetTargetRect(RECT* rect) const;
  void SetSourceRect(const RECT* rect);
  void GetSourceRect(RECT* rect) const;
  // Draws the sample into the window's target rectangle (FALSE when it cannot).
  virtual BOOL DrawImage(IMediaSample* sample);
  // The same onto any context and rectangles (null: the drawer's own).
  BOOL DrawVideoImageHere(HDC dc, IMediaSample* sample, const RECT* source, const RECT* target);

  void NotifyAllocator(BOOL usingImageAllocator) { m_bUsingImageAllocator = usingImageAllocator; }
  BOOL UsingImageAllocator() const { return m_bUsingImageAllocator; }
  // The renderer keeps the type; the drawer reads its bitmap header while drawing.
  void NotifyMediaType(const CMediaType* mt) { m_pMediaType = mt; }
  const CMediaType* MediaType() const { return m_pMediaType; }

  LONG GetPaletteVersion() const { return m_PaletteVersion; }
  void ResetPaletteVersion() { m_PaletteVersion = 1; }
  void IncrementPaletteVersion() { ++m_PaletteVersion; }
  // The stretch mode used when the source and target sizes differ.
  void SetStretchMode();

 protected:
  // The sample's section bitmap, blitted from the memory context.
  void FastRender(HDC dc, IMediaSample* sample, const RECT& source, const RECT& target);
  // The sample's bits through the device-independent-bitmap calls.
  void SlowRender(HDC dc, IMediaSample* sample, const RECT& source, const RECT& target);
  // The bitmap header of the connected type, null without one.
  const BITMAPINFOHEADER* Header() const;

  CBaseWindow* m_pBaseWindow;  // not owned
  HDC m_hdc = nullptr;         // the window's context
  HDC m_MemoryDC = nullptr;    // a memory context compatible with it
  RECT m_SourceRect{};
  RECT m_TargetRect{};
  BOOL m_bStretch = FALSE;     // source and target sizes differ
  BOOL m_bUsingImageAllocator = FALSE;
  const CMediaType* m_pMediaType = nullptr;  // owned by the renderer
  LONG m_PaletteVersion = 1;
};

// ---- CBaseControlVideo ---------------------------------------------------------------------------

class CBaseControlVideo : public CUnknown, public IBasicVideo {
 public:
  // lock: the renderer's interface lock; pin: the input pin whose connection the calls need.
  CBaseControlVideo(CBaseFilter* filter, CCritSec* lock, LPCTSTR name, LPUNKNOWN owner, HRESULT* phr);
  ~CBaseControlVideo() override = default;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  void SetControlVideoPin(CBasePin* pin) { m_pPin = pin; }

  STDMETHODIMP get_AvgTimePerFrame(REFTIME* time) override;
  STDMETHODIMP get_BitRate(LONG* rate) override;
  STDMETHODIMP get_BitErrorRate(LONG* rate) override;
  STDMETHODIMP get_VideoWidth(LONG* width) override;
  STDMETHODIMP get_VideoHeight(LONG* height) override;
  STDMETHODIMP put_SourceLeft(LONG v) override;
  STDMETHODIMP get_SourceLeft(LONG* v) override;
  STDMETHODIMP put_SourceWidth(LONG v) override;
  STDMETHODIMP get_SourceWidth(LONG* v) override;
  STDMETHODIMP put_SourceTop(LONG v) override;
  STDMETHODIMP get_SourceTop(LONG* v) override;
  STDMETHODIMP put_SourceHeight(LONG v) override;
  STDMETHODIMP get_SourceHeight(LONG* v) override;
  STDMETHODIMP put_DestinationLeft(LONG v) override;
  STDMETHODIMP get_DestinationLeft(LONG* v) override;
  STDMETHODIMP put_DestinationWidth(LONG v) override;
  STDMETHODIMP get_DestinationWidth(LONG* v) override;
  STDMETHODIMP put_DestinationTop(LONG v) override;
  STDMETHODIMP get_DestinationTop(LONG* v) override;
  STDMETHODIMP put_DestinationHeight(LONG v) override;
  STDMETHODIMP get_DestinationHeight(LONG* v) override;
  STDMETHODIMP SetSourcePosition(LONG left, LONG top, LONG width, LONG height) override;
  STDMETHODIMP GetSourcePosition(LONG* left, LONG* top, LONG* width, LONG* height) override;
  STDMETHODIMP SetDefaultSourcePosition() override;
  STDMETHODIMP SetDestinationPosition(LONG left, LONG top, LONG width, LONG height) override;
  STDMETHODIMP GetDestinationPosition(LONG* left, LONG* top, LONG* width, LONG* height) override;
  STDMETHODIMP SetDefaultDestinationPosition() override;
  STDMETHODIMP GetVideoSize(LONG* width, LONG* height) override;
  STDMETHODIMP GetVideoPaletteEntries(LONG start, LONG count, LONG* retrieved, LONG* palette) override;
  STDMETHODIMP GetCurrentImage(LONG* bufferSize, LONG* image) override;
  STDMETHODIMP IsUsingDefaultSource() override;
  STDMETHODIMP IsUsingDefaultDestination() override;

  // What the renderer supplies (called under the interface lock).
  virtual HRESULT IsDefaultTargetRect() = 0;
  virtual HRESULT SetDefaultTargetRect() = 0;
  virtual HRESULT SetTargetRect(RECT* rect) = 0;
  virtual HRESULT GetTargetRect(RECT* rect) = 0;
  virtual HRESULT IsDefaultSourceRect() = 0;
  virtual HRESULT SetDefaultSourceRect() = 0;
  virtual HRESULT SetSourceRect(RECT* rect) = 0;
  virtual HRESULT GetSourceRect(RECT* rect) = 0;
  // The current picture as a packed bitmap (header then bits); E_NOTIMPL by default.
  virtual HRESULT GetStaticImage(LONG* bufferSize, LONG* image) { return E_NOTIMPL; }
  // The connected format, null while unconnected.
  virtual const VIDEOINFOHEADER* GetVideoFormat() = 0;
  // Called after either rectangle changed.
  virtual HRESULT OnUpdateRectangles() { return S_OK; }

 protected:
  HRESULT CheckConnected();
  // Inside the video and non-empty.
  HRESULT CheckSourceRect(const RECT* rect);
  // Non-empty.
  HRESULT CheckTargetRect(const RECT* rect);

  CBaseFilter* m_pFilter;  // not counted
  CCritSec* m_pInterfaceLock;
  CBasePin* m_pPin = nullptr;

 private:
  // Takes the interface lock and checks the pin connected, then makes the call.
  template <class Call>
  HRESULT Locked(Call call);
  // A field of the connected format read under those checks.
  template <class T, class Read>
  HRESULT ReadFormat(T* out, Read read);
  // The source or the destination rectangle (the renderer's callbacks for the one or the
  // other) set, read or made the default, as left, top, width and height.
  using RectCheck = HRESULT (CBaseControlVideo::*)(const RECT*);
  using RectAccess = HRESULT (CBaseControlVideo::*)(RECT*);
  using RectDefault = HRESULT (CBaseControlVideo::*)();
  HRESULT SetPosition(RectCheck check, RectAccess set, LONG left, LONG top, LONG width, LONG height);
  HRESULT GetPosition(RectAccess get, LONG* left, LONG* top, LONG* width, LONG* height);
  HRESULT SetDefaultPosition(RectDefault setDefault);
};
