// Media samples and allocators: CMediaSample (a buffer with times, flags and an optional
// type change), CBaseAllocator (the free list, commit / decommit, blocking GetBuffer) and
// CMemAllocator (samples in one block of memory). A filter that needs samples of its own
// kind derives from CMemAllocator and overrides NewSample.
#pragma once

#include <condition_variable>

#include "platform/streaming/base/combase.h"
#include "platform/streaming/base/mtype.h"
#include "platform/streaming/base/wxutil.h"

class CBaseAllocator;

class CMediaSample : public IMediaSample2 {
 public:
  // buffer/length: the sample's memory (owned by the allocator); may be set later.
  CMediaSample(LPCTSTR name, CBaseAllocator* allocator, HRESULT* phr, LPBYTE buffer = nullptr, LONG length = 0);
  virtual ~CMediaSample();
  CMediaSample(const CMediaSample&) = delete;
  CMediaSample& operator=(const CMediaSample&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  // The last release hands the sample back to its allocator instead of deleting it.
  STDMETHODIMP_(ULONG) Release() override;

  HRESULT SetPointer(BYTE* buffer, LONG length);
  STDMETHODIMP GetPointer(BYTE** buffer) override;
  STDMETHODIMP_(LONG) GetSize() override;
  STDMETHODIMP GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override;
  STDMETHODIMP SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override;
  STDMETHODIMP IsSyncPoint() override;
  STDMETHODIMP SetSyncPoint(BOOL sync) override;
  STDMETHODIMP IsPreroll() override;
  STDMETHODIMP SetPreroll(BOOL preroll) override;
  STDMETHODIMP_(LONG) GetActualDataLength() override;
  STDMETHODIMP SetActualDataLength(LONG length) override;
  STDMETHODIMP GetMediaType(AM_MEDIA_TYPE** mt) override;
  STDMETHODIMP SetMediaType(AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP IsDiscontinuity() override;
  STDMETHODIMP SetDiscontinuity(BOOL discontinuity) override;
  STDMETHODIMP GetMediaTime(LONGLONG* start, LONGLONG* end) override;
  STDMETHODIMP SetMediaTime(LONGLONG* start, LONGLONG* end) override;
  STDMETHODIMP GetProperties(DWORD cbProperties, BYTE* properties) override;
  STDMETHODIMP SetProperties(DWORD cbProperties, const BYTE* properties) override;

  // Flags of m_dwFlags.
  enum : DWORD {
    Sample_SyncPoint = 0x01,
    Sample_Preroll = 0x02,
    Sample_Discontinuity = 0x04,
    Sample_TypeChanged = 0x08,
    Sample_TimeValid = 0x10,
    Sample_MediaTimeValid = 0x20,
    Sample_TimeDiscontinuity = 0x40,
    Sample_StopValid = 0x100,
    Sample_ValidFlags = 0x1FF,
  };

  // Called by the allocator when the sample comes back, before it joins the free list.
  virtual void ResetForReuse();

  CMediaSample* m_pNext = nullptr;  // free-list link, guarded by the allocator's lock

 protected:
  friend class CBaseAllocator;
  DWORD m_dwFlags = 0;
  DWORD m_dwTypeSpecificFlags = 0;
  LPBYTE m_pBuffer;
  LONG m_lActual = 0;
  LONG m_cbBuffer;
  CBaseAllocator* m_pAllocator;
  REFERENCE_TIME m_Start = 0;
  REFERENCE_TIME m_End = 0;
  LONGLONG m_MediaStart = 0;
  LONGLONG m_MediaEnd = 0;
  tav::MediaTypePtr m_pMediaType;  // set by SetMediaType
  DWORD m_dwStreamId = AM_STREAM_MEDIA;
  volatile LONG m_cRef = 0;
};

// Lock order: the allocator's own lock (CCritSec base) is the innermost lock of the
// streaming path; it is never held while calling out of the allocator.
class CBaseAllocator : public CUnknown, public IMemAllocator, public CCritSec {
 public:
  CBaseAllocator(LPCTSTR name, LPUNKNOWN outer, HRESULT* phr, BOOL event = TRUE, BOOL enableReleaseCallback = FALSE);
  ~CBaseAllocator() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
  STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES* props) override;
  STDMETHODIMP Commit() override;
  // Wakes every GetBuffer waiter; the memory goes once the last sample is back.
  STDMETHODIMP Decommit() override;
  // Blocks until a sample is free, unless AM_GBF_NOWAIT; fails once decommitted.
  STDMETHODIMP GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end, DWORD flags) override;
  STDMETHODIMP ReleaseBuffer(IMediaSample* sample) override;

  // Samples handed out and not yet back.
  LONG OutstandingSamples();
  BOOL IsCommitted() const { return m_bCommitted; }

 protected:
  // The free list. Guarded by the allocator's lock.
  class CSampleList {
   public:
    CMediaSample* Head() const { return m_pHead; }
    int GetCount() const { return m_nCount; }
    void Add(CMediaSample* s) {
      s->m_pNext = m_pHead;
      m_pHead = s;
      ++m_nCount;
    }
    CMediaSample* RemoveHead() {
      CMediaSample* s = m_pHead;
      if (s) {
        m_pHead = s->m_pNext;
        s->m_pNext = nullptr;
        --m_nCount;
      }
      return s;
    }

   private:
    CMediaSample* m_pHead = nullptr;
    int m_nCount = 0;
  };

  // Makes m_lCount samples of m_lSize bytes (called by Commit with the lock held).
  virtual HRESULT Alloc();
  // Called once decommitted and every sample is back (lock held).
  virtual void Free() = 0;

  CSampleList m_lFree;       // guarded by the allocator's lock
  LONG m_lAllocated = 0;     // samples made; guarded by the allocator's lock
  LONG m_lCount = 0;         // negotiated properties, guarded by the allocator's lock
  LONG m_lSize = 0;
  LONG m_lAlignment = 0;
  LONG m_lPrefix = 0;
  BOOL m_bChanged = FALSE;   // properties changed since the last Alloc
  BOOL m_bCommitted = FALSE;
  BOOL m_bDecommitInProgress = FALSE;
  LONG m_lWaiting = 0;       // GetBuffer callers waiting for a free sample

 private:
  // Lets condition_variable_any wait on the allocator's CCritSec.
  struct LockAdapter {
    CCritSec* cs;
    void lock() { cs->Lock(); }
    void unlock() { cs->Unlock(); }
  };
  // Signalled when a sample joins the free list or the allocator is decommitted.
  std::condition_variable_any m_freeChanged;
};

class CMemAllocator : public CBaseAllocator {
 public:
  CMemAllocator(LPCTSTR name, LPUNKNOWN outer, HRESULT* phr);
  ~CMemAllocator() override;
  static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr);

  // Sizes are rounded up so that every buffer (prefix + data) is a multiple of the
  // alignment, which must be a power of two.
  STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;

 protected:
  // Makes one sample around the given memory; override to make samples of a derived class.
  virtual CMediaSample* NewSample(LPBYTE buffer, LONG length, HRESULT* phr);
  HRESULT Alloc() override;
  // Keeps the memory for the next Commit; ReallyFree releases it.
  void Free() override {}
  void ReallyFree();

  LPBYTE m_pBuffer = nullptr;  // all samples' memory; guarded by the allocator's lock
};

// A new CMemAllocator with one reference.
HRESULT CreateMemoryAllocator(IMemAllocator** allocator);
