// "VXCMN Deferred Resizer": brings every frame to the configured output size and screen fit,
// but only when a downstream filter first reads the frame. Transform hands downstream an
// output sample that holds a reference to the input sample; the pixels are scaled in the
// output sample's GetPointer, and never if the sample comes back unread (dropped frames
// cost nothing). When the output frame would be a byte-for-byte copy of the input (same
// size and bit count), the output sample lends the input's buffer instead and scales nothing.
//
// Lock order: 1. the filter lock m_csFilter (control interface, connection)
//             2. a sample's own lock (attach / resize)
//             3. the allocator's lock.
// The resize runs under the sample's lock only; it reads the connection types, which do
// not change while streaming, and the mode, which is atomic.
#pragma once

#include <atomic>

#include "libs/vxvideokit/filterfactory.h"
#include "libs/vxvideokit/resizerfilter.h"
#include "platform/streaming/base/allocator.h"
#include "platform/streaming/base/dllsetup.h"

class CDeferredResizer;

// An output sample that scales its attached input sample into its buffer on first read.
class CDeferredSample : public CMediaSample {
 public:
  CDeferredSample(LPCTSTR name, CBaseAllocator* allocator, HRESULT* phr, LPBYTE buffer, LONG length);

  // Resizes the attached input sample (if any) into the buffer, then returns the buffer.
  STDMETHODIMP GetPointer(BYTE** buffer) override;

  // Takes a reference to the input sample. E_FAIL when one is already attached.
  HRESULT AttachInput(IMediaSample* input);
  // Takes a reference to the input sample and shows its buffer (`bytes` long) as this
  // sample's own until the sample goes back to its allocator: for frames the resize would
  // only copy. E_FAIL when an input is already attached.
  HRESULT LendInput(IMediaSample* input, BYTE* buffer, LONG bytes);
  // Lets the attached input sample go without reading it; a lent buffer is given back.
  void ReleaseInputUnread();
  bool HasInput();

 private:
  // The allocator's memory for this sample, shown again once a lent input goes.
  BYTE* const m_pOwnBuffer;
  const LONG m_cbOwnBuffer;
  // Guards m_pAttached and m_bLent: the streaming thread attaches, the reader resizes, the
  // allocator releases.
  CCritSec m_sampleLock;
  ComPtr<IMediaSample> m_pAttached;  // guarded by m_sampleLock
  bool m_bLent = false;              // guarded by m_sampleLock
};

// The output pin's allocator: one block of memory, samples of class CDeferredSample.
// Owned by the filter; the samples reach the filter through it.
class DeferredMemAlloc : public CMemAllocator {
 public:
  DeferredMemAlloc(CDeferredResizer* filter, HRESULT* phr);

  // An attached input sample is released unread before the sample joins the free list.
  STDMETHODIMP ReleaseBuffer(IMediaSample* sample) override;

  // The filter, or null once it has gone.
  CDeferredResizer* Filter();
  void DetachFilter();

 protected:
  CMediaSample* NewSample(LPBYTE buffer, LONG length, HRESULT* phr) override;

 private:
  CCritSec m_filterLock;                 // guards m_pFilter
  CDeferredResizer* m_pFilter = nullptr;  // not counted: the filter owns this allocator
};

// The control state and the negotiation it governs come from CResizerFilter; this class
// adds its own pins and allocator, its input check (VIDEOINFOHEADER2 too) and offered types,
// and the deferred transform.
class CDeferredResizer : public CResizerFilter {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr);
  ~CDeferredResizer() override;

  // Pins of the filter's own classes, made on first request.
  CBasePin* GetPin(int n) override;

  HRESULT CheckInputType(const CMediaType* in) override;
  HRESULT GetMediaType(int position, CMediaType* mt) override;
  // Attaches the input sample to the output sample (or lends its buffer when the resize
  // would be a plain copy); no pixel work.
  HRESULT Transform(IMediaSample* in, IMediaSample* out) override;

  // Scales one input sample into an output buffer (called by CDeferredSample::GetPointer).
  HRESULT ResizeInto(IMediaSample* input, BYTE* out, LONG outBytes);

  DeferredMemAlloc* Allocator() const { return m_pDeferredAlloc; }
  // Resizes done so far (frames actually scaled).
  LONG ResizeCount() const { return m_resizeCount.load(); }
  // Frames handed on in their input's buffer.
  LONG LentCount() const { return m_lentCount.load(); }

 private:
  CDeferredResizer(LPUNKNOWN outer, HRESULT* phr);
  friend CUnknown* vxvk::CreateFilterInstance<CDeferredResizer>(LPUNKNOWN, HRESULT*);

  // The output pin's allocator; the filter holds one reference.
  DeferredMemAlloc* m_pDeferredAlloc = nullptr;
  ComPtr<IMemAllocator> m_allocatorRef;
  // Statistics
  std::atomic<LONG> m_resizeCount{0};
  std::atomic<LONG> m_lentCount{0};
};

extern const AMOVIESETUP_FILTER sudDeferredResizer;
