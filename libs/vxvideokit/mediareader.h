// "VXCMN Media Reader Filter": a sink with one rendered input pin that catches a single
// sample. It copies the first sample it is given, refuses further ones (S_FALSE) until the
// copy is taken through IMediaReaderControl::TakeSample, and ends its stream at once, so a
// graph that runs into it completes with that one sample. Only the reader holder makes it.
//
// End of stream, as a renderer reports it:
//   arrives while running         -> EC_COMPLETE now (once per run or segment)
//   arrives while paused          -> pending; EC_COMPLETE when the filter runs
//   flush (seek) or stop          -> pending and reported state cleared
#pragma once

#include <memory>
#include <vector>

#include "libs/vxvideokit/filterfactory.h"
#include "libs/vxvideokit/vxvideokit.h"
#include "platform/streaming/base/basefilter.h"
#include "platform/streaming/base/streampins.h"

class CMediaReaderInputPin;

class CMediaReaderFilter final : public CBaseFilter, public IMediaReaderControl {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr);
  ~CMediaReaderFilter() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override;

  STDMETHODIMP Stop() override;
  STDMETHODIMP Run(REFERENCE_TIME start) override;

  // IMediaReaderControl
  STDMETHODIMP AddAcceptedType(const AM_MEDIA_TYPE* type) override;
  STDMETHODIMP GetConnectedType(AM_MEDIA_TYPE* type) override;
  STDMETHODIMP Reserved3(void* a, void* b, void* c, void* d, void* e) override;
  STDMETHODIMP Reserved4(void* a, void* b) override;
  STDMETHODIMP Reserved5() override;
  STDMETHODIMP TakeSample(BYTE** data, LONG* length, AM_MEDIA_TYPE* type) override;

 private:
  friend class CMediaReaderInputPin;
  friend CUnknown* vxvk::CreateFilterInstance<CMediaReaderFilter>(LPUNKNOWN, HRESULT*);
  CMediaReaderFilter(LPUNKNOWN outer, HRESULT* phr);

  // S_OK when mt matches an accepted type (and RGB video is 24-bit).
  HRESULT CheckAcceptedLocked(const CMediaType& mt) const;
  // Keeps a copy of the valid bytes of the sample; false when memory ran out.
  bool HoldLocked(const BYTE* bytes, LONG length);
  // The stream has ended (after the held sample, or upstream's end): report it once.
  void EndOfStreamLocked();
  // Discards the held sample (a flush made it stale) and the end-of-stream state.
  void DiscardLocked();

  // Guards everything below, the filter state and the pin's connection. Lock order: the
  // graph's locks, then this one; the streaming thread takes it in Receive and only calls
  // the graph's event sink while holding it.
  CCritSec m_lock;
  std::unique_ptr<CMediaReaderInputPin> m_pInput;  // made with the filter, deleted by it

  // Configuration: acceptable input types, deep copies in insertion order.
  std::vector<CMediaType> m_accepted;  // guarded by m_lock
  // Runtime: the held sample, task-allocated (null when empty).
  tav::TaskMemPtr<BYTE> m_held;     // guarded by m_lock
  LONG m_heldLength = 0;            // guarded by m_lock
  bool m_holding = false;           // guarded by m_lock; a sample of 0 bytes is held too
  bool m_eosPending = false;        // guarded by m_lock; the stream has ended
  bool m_eosReported = false;       // guarded by m_lock; EC_COMPLETE sent for this run
};
