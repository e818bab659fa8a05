// CBurnInFilter: the "Subtitle Filter". Copies each uncompressed, bottom-up RGB frame through
// and has its Subtitle Manager draw the caption due at the frame's media time (sample start +
// segment start) into the copy.
#pragma once

#include "libs/captionparser/captionparser.h"
#include "media/contract/comptr.h"
#include "platform/streaming/base/dllsetup.h"
#include "platform/streaming/base/transform.h"

class CBurnInFilter final : public CTransformFilter, public IBurnInFilter {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr);

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // Negotiation: both pins carry the same 16-, 24- or 32-bit RGB type.
  HRESULT CheckInputType(const CMediaType* mtIn) override;
  HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) override;
  HRESULT GetMediaType(int position, CMediaType* mt) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) override;

  // Streaming
  HRESULT Transform(IMediaSample* in, IMediaSample* out) override;

  // IBurnInFilter (take the filter lock)
  STDMETHODIMP GetManager(ISubtitleManager** manager) override;
  STDMETHODIMP SetManager(ISubtitleManager* manager) override;

 private:
  explicit CBurnInFilter(LPUNKNOWN outer);

  // Guards m_manager only. The streaming thread copies the reference under it and draws with
  // its own copy, so a manager replaced mid-frame stays alive until that frame is drawn, and
  // SetManager never waits for a frame blocked downstream.
  CCritSec m_csManager;
  ComPtr<ISubtitleManager> m_manager;  // guarded by m_csManager; none until set
};

extern const AMOVIESETUP_FILTER sudBurnInFilter;
