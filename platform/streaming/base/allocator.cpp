#include "platform/streaming/base/allocator.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "media/contract/trace.h"

TAV_TRACE_SOURCE(kBase, "allocator");

// ---- CMediaSample --------------------------------------------------------------------------

CMediaSample::CMediaSample(LPCTSTR, CBaseAllocator* allocator, HRESULT* phr, LPBYTE buffer, LONG length)
    : m_pBuffer(buffer), m_cbBuffer(length), m_pAllocator(allocator) {
  if (length < 0 && phr && SUCCEEDED(*phr)) *phr = VFW_E_BUFFER_OVERFLOW;
}

CMediaSample::~CMediaSample() = default;

HRESULT CMediaSample::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IMediaSample || riid == IID_IMediaSample2 || riid == IID_IUnknown)
    return GetInterface(static_cast<IMediaSample2*>(this), ppv);
  return E_NOINTERFACE;
}

ULONG CMediaSample::AddRef() { return ULONG(__atomic_add_fetch(&m_cRef, 1, __ATOMIC_SEQ_CST)); }

ULONG CMediaSample::Release() {
  const LONG ref = __atomic_sub_fetch(&m_cRef, 1, __ATOMIC_SEQ_CST);
  if (ref == 0) {
    ResetForReuse();
    m_pAllocator->ReleaseBuffer(this);
  }
  return ULONG(ref);
}

void CMediaSample::ResetForReuse() {
  if (m_dwFlags & Sample_TypeChanged) SetMediaType(nullptr);
  m_dwFlags = 0;
  m_dwTypeSpecificFlags = 0;
  m_dwStreamId = AM_STREAM_MEDIA;
}

HRESULT CMediaSample::SetPointer(BYTE* buffer, LONG length) {
  if (length < 0) return VFW_E_BUFFER_OVERFLOW;
  m_pBuffer = buffer;
  m_cbBuffer = length;
  m_lActual = length;
  return S_OK;
}

HRESULT CMediaSample::GetPointer(BYTE** buffer) {
  if (!buffer) return E_POINTER;
  *buffer = m_pBuffer;
  return S_OK;
}

LONG CMediaSample::GetSize() { return m_cbBuffer; }

HRESULT CMediaSample::GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) {
  if (!start || !end) return E_POINTER;
  if (!(m_dwFlags & Sample_StopValid)) {
    if (!(m_dwFlags & Sample_TimeValid)) return VFW_E_SAMPLE_TIME_NOT_SET;
    *start = m_Start;
    *end = m_Start + 1;
    return VFW_S_NO_STOP_TIME;
  }
  *start = m_Start;
  *end = m_End;
  return S_OK;
}

HRESULT CMediaSample::SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) {
  if (!start) {
    m_dwFlags &= ~(Sample_TimeValid | Sample_StopValid);
    return S_OK;
  }
  m_Start = *start;
  m_dwFlags |= Sample_TimeValid;
  if (end) {
    m_End = *end;
    m_dwFlags |= Sample_StopValid;
  } else {
    m_dwFlags &= ~Sample_StopValid;
  }
  return S_OK;
}

HRESULT CMediaSample::IsSyncPoint() { return (m_dwFlags & Sample_SyncPoint) ? S_OK : S_FALSE; }
HRESULT CMediaSample::SetSyncPoint(BOOL sync) {
  m_dwFlags = sync ? (m_dwFlags | Sample_SyncPoint) : (m_dwFlags & ~DWORD(Sample_SyncPoint));
  return S_OK;
}
HRESULT CMediaSample::IsPreroll() { return (m_dwFlags & Sample_Preroll) ? S_OK : S_FALSE; }
HRESULT CMediaSample::SetPreroll(BOOL preroll) {
  m_dwFlags = preroll ? (m_dwFlags | Sample_Preroll) : (m_dwFlags & ~DWORD(Sample_Preroll));
  return S_OK;
}
HRESULT CMediaSample::IsDiscontinuity() { return (m_dwFlags & Sample_Discontinuity) ? S_OK : S_FALSE; }
HRESULT CMediaSample::SetDiscontinuity(BOOL discontinuity) {
  m_dwFlags = discontinuity ? (m_dwFlags | Sample_Discontinuity) : (m_dwFlags & ~DWORD(Sample_Discontinuity));
  return S_OK;
}

LONG CMediaSample::GetActualDataLength() { return m_lActual; }

HRESULT CMediaSample::SetActualDataLength(LONG length) {
  if (length < 0 || length > m_cbBuffer) return VFW_E_BUFFER_OVERFLOW;
  m_lActual = length;
  return S_OK;
}

HRESULT CMediaSample::GetMediaType(AM_MEDIA_TYPE** mt) {
  if (!mt) return E_POINTER;
  *mt = nullptr;
  if (!(m_dwFlags & Sample_TypeChanged) || !m_pMediaType) return S_FALSE;
  *mt = CreateMediaType(m_pMediaType.Get());
  return *mt ? S_OK : E_OUTOFMEMORY;
}

HRESULT CMediaSample::SetMediaType(AM_MEDIA_TYPE* mt) {
  m_pMediaType.Reset();
  if (!mt) {
    m_dwFlags &= ~DWORD(Sample_TypeChanged);
    return S_OK;
  }
  m_pMediaType.Reset(CreateMediaType(mt));
  if (!m_pMediaType) {
    m_dwFlags &= ~DWORD(Sample_TypeChanged);
    return E_OUTOFMEMORY;
  }
  m_dwFlags |= Sample_TypeChanged;
  return S_OK;
}

HRESULT CMediaSample::GetMediaTime(LONGLONG* start, LONGLONG* end) {
  if (!start || !end) return E_POINTER;
  if (!(m_dwFlags & Sample_MediaTimeValid)) return VFW_E_MEDIA_TIME_NOT_SET;
  *start = m_MediaStart;
  *end = m_MediaEnd;
  return S_OK;
}

HRESULT CMediaSample::SetMediaTime(LONGLONG* start, LONGLONG* end) {
  if (!start && !end) {
    m_dwFlags &= ~DWORD(Sample_MediaTimeValid);
    return S_OK;
  }
  if (!start || !end) return E_POINTER;
  if (*end < *start) return E_INVALIDARG;
  m_MediaStart = *start;
  m_MediaEnd = *end;
  m_dwFlags |= Sample_MediaTimeValid;
  return S_OK;
}

HRESULT CMediaSample::GetProperties(DWORD cbProperties, BYTE* properties) {
  if (cbProperties == 0) return S_OK;
  if (!properties) return E_POINTER;
  AM_SAMPLE2_PROPERTIES p{};
  p.cbData = std::min<DWORD>(cbProperties, sizeof p);
  p.dwTypeSpecificFlags = m_dwTypeSpecificFlags;
  p.dwSampleFlags = m_dwFlags & ~DWORD(Sample_MediaTimeValid);
  p.lActual = m_lActual;
  p.tStart = m_Start;
  p.tStop = m_End;
  p.dwStreamId = m_dwStreamId;
  p.pMediaType = (m_dwFlags & Sample_TypeChanged) ? m_pMediaType.Get() : nullptr;
  p.pbBuffer = m_pBuffer;
  p.cbBuffer = m_cbBuffer;
  std::memcpy(properties, &p, p.cbData);
  return S_OK;
}

HRESULT CMediaSample::SetProperties(DWORD cbProperties, const BYTE* properties) {
  if (cbProperties == 0) return S_OK;
  if (!properties) return E_POINTER;
  // The caller may pass a leading part of the structure: whatever fields it covers apply.
  if (cbProperties < offsetof(AM_SAMPLE2_PROPERTIES, tStart)) return E_INVALIDARG;
  AM_SAMPLE2_PROPERTIES p{};
  std::memcpy(&p, properties, std::min<DWORD>(cbProperties, sizeof p));
  if (p.lActual < 0 || p.lActual > m_cbBuffer) return VFW_E_BUFFER_OVERFLOW;
  if (cbProperties >= offsetof(AM_SAMPLE2_PROPERTIES, pbBuffer)) {
    if (p.dwSampleFlags & AM_SAMPLE_TYPECHANGED) {
      const HRESULT hr = SetMediaType(p.pMediaType);
      if (FAILED(hr)) return hr;
    } else if (m_dwFlags & Sample_TypeChanged) {
      SetMediaType(nullptr);
    }
  }
  // The type-changed flag follows the sample's own type.
  const DWORD keep = m_dwFlags & (Sample_MediaTimeValid | Sample_TypeChanged);
  m_dwFlags = keep | (p.dwSampleFlags & ~DWORD(Sample_MediaTimeValid | Sample_TypeChanged));
  m_dwTypeSpecificFlags = p.dwTypeSpecificFlags;
  m_lActual = p.lActual;
  if (cbProperties >= offsetof(AM_SAMPLE2_PROPERTIES, dwStreamId)) {
    m_Start = p.tStart;
    m_End = p.tStop;
  }
  if (cbProperties >= offsetof(AM_SAMPLE2_PROPERTIES, pMediaType)) m_dwStreamId = p.dwStreamId;
  return S_OK;
}

// ---- CBaseAllocator ------------------------------------------------------------------------

CBaseAllocator::CBaseAllocator(LPCTSTR name, LPUNKNOWN outer, HRESULT*, BOOL, BOOL) : CUnknown(name, outer) {}

CBaseAllocator::~CBaseAllocator() = default;

HRESULT CBaseAllocator::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IMemAllocator) return GetInterface(static_cast<IMemAllocator*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) {
  if (!request || !actual) return E_POINTER;
  CAutoLock lock(this);
  if (m_bCommitted) return VFW_E_ALREADY_COMMITTED;
  if (m_lAllocated != m_lFree.GetCount()) return VFW_E_BUFFERS_OUTSTANDING;
  if (request->cBuffers < 0 || request->cbBuffer < 0 || request->cbPrefix < 0) return E_INVALIDARG;
  *actual = *request;
  m_lCount = request->cBuffers;
  m_lSize = request->cbBuffer;
  m_lAlignment = request->cbAlign;
  m_lPrefix = request->cbPrefix;
  m_bChanged = TRUE;
  return S_OK;
}

HRESULT CBaseAllocator::GetProperties(ALLOCATOR_PROPERTIES* props) {
  if (!props) return E_POINTER;
  CAutoLock lock(this);
  props->cBuffers = m_lCount;
  props->cbBuffer = m_lSize;
  props->cbAlign = m_lAlignment;
  props->cbPrefix = m_lPrefix;
  return S_OK;
}

HRESULT CBaseAllocator::Commit() {
  CAutoLock lock(this);
  if (m_bCommitted) return S_OK;
  if (m_lCount <= 0 || m_lSize <= 0) return VFW_E_SIZENOTSET;
  // A decommit still waiting for samples is cancelled: the memory stays.
  m_bDecommitInProgress = FALSE;
  const HRESULT hr = Alloc();
  if (FAILED(hr)) return hr;
  m_bCommitted = TRUE;
  TAV_TRACE("%p commit %d x %d bytes", static_cast<void*>(this), int(m_lCount), int(m_lSize));
  return S_OK;
}

HRESULT CBaseAllocator::Decommit() {
  {
    CAutoLock lock(this);
    if (!m_bCommitted) return S_OK;
    m_bCommitted = FALSE;
    if (m_lFree.GetCount() < m_lAllocated) {
      m_bDecommitInProgress = TRUE;
    } else {
      Free();
    }
    TAV_TRACE("%p decommit, %d outstanding", static_cast<void*>(this), int(m_lAllocated - m_lFree.GetCount()));
  }
  m_freeChanged.notify_all();
  return S_OK;
}

HRESULT CBaseAllocator::Alloc() {
  if (m_lCount <= 0 || m_lSize <= 0) return VFW_E_SIZENOTSET;
  return S_OK;
}

HRESULT CBaseAllocator::GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end, DWORD flags) {
  if (!sample) return E_POINTER;
  *sample = nullptr;
  CMediaSample* s = nullptr;
  {
    LockAdapter adapter{this};
    std::unique_lock<LockAdapter> lock(adapter);
    for (;;) {
      if (!m_bCommitted) return VFW_E_NOT_COMMITTED;
      s = m_lFree.RemoveHead();
      if (s) break;
      if (flags & AM_GBF_NOWAIT) return VFW_E_TIMEOUT;
      ++m_lWaiting;
      m_freeChanged.wait(lock);
      --m_lWaiting;
    }
    s->m_cRef = 1;
  }
  // The allocator stays alive while any of its samples is out.
  NonDelegatingAddRef();
  s->SetTime(start, end);
  *sample = s;
  return S_OK;
}

HRESULT CBaseAllocator::ReleaseBuffer(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  {
    CAutoLock lock(this);
    m_lFree.Add(static_cast<CMediaSample*>(sample));
    if (m_bDecommitInProgress && m_lFree.GetCount() == m_lAllocated) {
      m_bDecommitInProgress = FALSE;
      Free();
    }
  }
  m_freeChanged.notify_one();
  // Drops the reference GetBuffer took; may delete the allocator.
  NonDelegatingRelease();
  return S_OK;
}

LONG CBaseAllocator::OutstandingSamples() {
  CAutoLock lock(this);
  return m_lAllocated - m_lFree.GetCount();
}

// ---- CMemAllocator -------------------------------------------------------------------------

CMemAllocator::CMemAllocator(LPCTSTR name, LPUNKNOWN outer, HRESULT* phr) : CBaseAllocator(name, outer, phr) {}

CMemAllocator::~CMemAllocator() {
  CAutoLock lock(this);
  ReallyFree();
}

CUnknown* CMemAllocator::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
  auto* a = new (std::nothrow) CMemAllocator(NAME("memory allocator"), outer, phr);
  if (!a && phr) *phr = E_OUTOFMEMORY;
  return a;
}

HRESULT CMemAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) {
  if (!request || !actual) return E_POINTER;
  CAutoLock lock(this);
  const LONG align = request->cbAlign;
  if (align <= 0 || (align & (align - 1)) != 0) return VFW_E_BADALIGN;
  if (m_bCommitted) return VFW_E_ALREADY_COMMITTED;
  if (m_lAllocated != m_lFree.GetCount()) return VFW_E_BUFFERS_OUTSTANDING;
  if (request->cBuffers < 0 || request->cbBuffer < 0 || request->cbPrefix < 0) return E_INVALIDARG;
  LONGLONG size = LONGLONG(request->cbBuffer) + request->cbPrefix;
  if (size % align) size += align - size % align;
  if (size - request->cbPrefix > 0x7FFFFFFF) return E_OUTOFMEMORY;
  ALLOCATOR_PROPERTIES granted = *request;
  granted.cbBuffer = LONG(size - request->cbPrefix);
  return CBaseAllocator::SetProperties(&granted, actual);
}

CMediaSample* CMemAllocator::NewSample(LPBYTE buffer, LONG length, HRESULT* phr) {
  return new (std::nothrow) CMediaSample(NAME("memory sample"), this, phr, buffer, length);
}

HRESULT CMemAllocator::Alloc() {
  HRESULT hr = CBaseAllocator::Alloc();
  if (FAILED(hr)) return hr;
  // The memory of the last commit is reused when nothing changed.
  if (m_pBuffer && !m_bChanged) return S_OK;
  ReallyFree();
  const LONGLONG stride = LONGLONG(m_lSize) + m_lPrefix;
  const LONGLONG total = stride * m_lCount;
  // aligned_alloc wants a size that is a multiple of the alignment it is given.
  const size_t align = std::max<size_t>(size_t(m_lAlignment > 0 ? m_lAlignment : 1), alignof(std::max_align_t));
  if (total <= 0 || total > (LONGLONG(1) << 34)) return E_OUTOFMEMORY;
  size_t bytes = size_t(total);
  if (bytes % align) bytes += align - bytes % align;
  m_pBuffer = static_cast<LPBYTE>(std::aligned_alloc(align, bytes));
  if (!m_pBuffer) return E_OUTOFMEMORY;
  for (LONG i = 0; i < m_lCount; ++i) {
    hr = S_OK;
    CMediaSample* s = NewSample(m_pBuffer + stride * i + m_lPrefix, m_lSize, &hr);
    if (!s || FAILED(hr)) {
      delete s;  // not counted yet: nothing else holds it
      ReallyFree();
      return FAILED(hr) ? hr : E_OUTOFMEMORY;
    }
    m_lFree.Add(s);
    ++m_lAllocated;
  }
  m_bChanged = FALSE;
  return S_OK;
}

void CMemAllocator::ReallyFree() {
  while (CMediaSample* s = m_lFree.RemoveHead()) {
    delete s;  // the allocator owns its samples: their last Release only hands them back
    --m_lAllocated;
  }
  std::free(m_pBuffer);
  m_pBuffer = nullptr;
}

HRESULT CreateMemoryAllocator(IMemAllocator** allocator) {
  if (!allocator) return E_POINTER;
  *allocator = nullptr;
  HRESULT hr = S_OK;
  CUnknown* a = CMemAllocator::CreateInstance(nullptr, &hr);
  if (!a) return hr;
  // The creation reference, held across the query (whose reference is the caller's) and
  // dropped by hand: a CUnknown counts through NonDelegating calls, which ComPtr does not make.
  a->NonDelegatingAddRef();
  hr = a->NonDelegatingQueryInterface(IID_IMemAllocator, reinterpret_cast<void**>(allocator));
  a->NonDelegatingRelease();
  return hr;
}
