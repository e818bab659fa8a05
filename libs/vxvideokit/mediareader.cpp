#include "libs/vxvideokit/mediareader.h"

#include <cstring>
#include <new>

#include "media/contract/videoinfo.h"
#include "media/contract/com.h"
#include "media/contract/trace.h"

TAV_TRACE_SOURCE(kVideoKit, "mediareader");

// ---- the input pin ----------------------------------------------------------------------------

class CMediaReaderInputPin final : public CBaseInputPin {
 public:
  CMediaReaderInputPin(CMediaReaderFilter* f, HRESULT* phr)
      : CBaseInputPin(NAME("media reader input"), f, &f->m_lock, phr, u"Input"), m_pReader(f) {}

  HRESULT CheckMediaType(const CMediaType* mt) override {
    if (!mt) return E_POINTER;
    CAutoLock lock(&m_pReader->m_lock);
    return m_pReader->CheckAcceptedLocked(*mt);
  }

  STDMETHODIMP Receive(IMediaSample* sample) override {
    CAutoLock lock(&m_pReader->m_lock);
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    // One sample at a time: the sender stops until the held one is taken.
    if (m_pReader->m_holding) return S_FALSE;
    // The base class has checked a changed type; from now on it is the pin's type.
    CMediaType type;
    if (SampleMediaType(sample, &type)) SetMediaType(&type);
    // A picture decoded only to reach the seek target is not the one asked for.
    if (m_SampleProps.dwSampleFlags & AM_SAMPLE_PREROLL) return S_OK;
    BYTE* bytes = nullptr;
    sample->GetPointer(&bytes);
    LONG length = sample->GetActualDataLength();
    if (length < 0 || !bytes) length = 0;
    if (!m_pReader->HoldLocked(bytes, length)) return E_OUTOFMEMORY;
    m_pReader->EndOfStreamLocked();
    return S_OK;
  }

  STDMETHODIMP EndOfStream() override {
    CAutoLock lock(&m_pReader->m_lock);
    HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr == S_FALSE ? S_OK : hr;
    m_pReader->EndOfStreamLocked();
    return S_OK;
  }

  STDMETHODIMP BeginFlush() override {
    CAutoLock lock(&m_pReader->m_lock);
    HRESULT hr = CBaseInputPin::BeginFlush();
    m_pReader->DiscardLocked();
    return hr;
  }

  STDMETHODIMP EndFlush() override { return CBaseInputPin::EndFlush(); }

 private:
  CMediaReaderFilter* m_pReader;
};

// ---- the filter -------------------------------------------------------------------------------

CUnknown* CMediaReaderFilter::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
  HRESULT hr = S_OK;
  auto* filter = new (std::nothrow) CMediaReaderFilter(outer, &hr);
  if (!filter) hr = E_OUTOFMEMORY;
  if (SUCCEEDED(hr) && !filter->m_pInput) hr = E_OUTOFMEMORY;
  if (FAILED(hr)) {
    delete filter;  // not counted yet: nothing else holds it
    filter = nullptr;
  }
  if (phr) *phr = hr;
  return filter;
}

CMediaReaderFilter::CMediaReaderFilter(LPUNKNOWN outer, HRESULT* phr)
    : CBaseFilter(NAME("VXCMN Media Reader Filter"), outer, &m_lock, CLSID_VxMediaReaderFilter, phr) {
  HRESULT hr = S_OK;
  m_pInput.reset(new (std::nothrow) CMediaReaderInputPin(this, &hr));
  if (FAILED(hr) && phr) *phr = hr;
}

CMediaReaderFilter::~CMediaReaderFilter() = default;

STDMETHODIMP CMediaReaderFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IMediaReaderControl) return GetInterface(static_cast<IMediaReaderControl*>(this), ppv);
  return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

CBasePin* CMediaReaderFilter::GetPin(int n) { return n == 0 ? m_pInput.get() : nullptr; }

STDMETHODIMP CMediaReaderFilter::Stop() {
  CAutoLock lock(&m_lock);
  HRESULT hr = CBaseFilter::Stop();
  m_eosPending = false;
  m_eosReported = false;
  return hr;
}

STDMETHODIMP CMediaReaderFilter::Run(REFERENCE_TIME start) {
  CAutoLock lock(&m_lock);
  HRESULT hr = CBaseFilter::Run(start);
  if (FAILED(hr)) return hr;
  // An end that arrived while paused is reported now that the graph runs.
  if (m_eosPending && !m_eosReported) {
    m_eosReported = true;
    NotifyEvent(EC_COMPLETE, S_OK, 0);
  }
  return hr;
}

HRESULT CMediaReaderFilter::CheckAcceptedLocked(const CMediaType& mt) const {
  bool matched = false;
  for (const CMediaType& accepted : m_accepted) {
    if (accepted.cbFormat == 0 || !accepted.pbFormat)
      matched = accepted.majortype == mt.majortype && accepted.subtype == mt.subtype &&
                accepted.formattype == mt.formattype;
    else
      matched = accepted == mt;
    if (matched) break;
  }
  if (!matched) return VFW_E_TYPE_NOT_ACCEPTED;
  if (mt.majortype == MEDIATYPE_Video) {
    const BITMAPINFOHEADER* bmi = VideoBitmapHeader(mt);
    if (bmi && bmi->biCompression == BI_RGB && bmi->biBitCount != 24) return VFW_E_TYPE_NOT_ACCEPTED;
  }
  return S_OK;
}

bool CMediaReaderFilter::HoldLocked(const BYTE* bytes, LONG length) {
  if (!m_held || length != m_heldLength) {
    // Realloc of 0 bytes may free the block; keep one byte so "held" never means null.
    void* grown = CoTaskMemRealloc(m_held.Get(), SIZE_T(length > 0 ? length : 1));
    if (!grown) return false;
    m_held.Release();  // the reallocation took the old block
    m_held.Reset(static_cast<BYTE*>(grown));
  }
  if (length > 0) std::memcpy(m_held.Get(), bytes, size_t(length));
  m_heldLength = length;
  m_holding = true;
  return true;
}

void CMediaReaderFilter::EndOfStreamLocked() {
  m_eosPending = true;
  if (m_State == State_Running && !m_eosReported) {
    m_eosReported = true;
    NotifyEvent(EC_COMPLETE, S_OK, 0);
  }
}

void CMediaReaderFilter::DiscardLocked() {
  m_holding = false;
  m_heldLength = 0;
  m_eosPending = false;
  m_eosReported = false;
}

// ---- IMediaReaderControl ----------------------------------------------------------------------

STDMETHODIMP CMediaReaderFilter::AddAcceptedType(const AM_MEDIA_TYPE* type) {
  TAV_TRACE("AddAcceptedType(%p)", static_cast<const void*>(type));
  if (!type) return E_POINTER;
  CAutoLock lock(&m_lock);
  CMediaType copy(*type);
  if (type->cbFormat && !copy.pbFormat) return E_OUTOFMEMORY;
  try {
    m_accepted.push_back(std::move(copy));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

STDMETHODIMP CMediaReaderFilter::GetConnectedType(AM_MEDIA_TYPE* type) {
  TAV_TRACE("GetConnectedType(%p)", static_cast<void*>(type));
  if (!type) return E_POINTER;
  CAutoLock lock(&m_lock);
  if (!m_pInput->IsConnected()) return VFW_E_NOT_CONNECTED;
  return CopyMediaType(type, &m_pInput->CurrentMediaType());
}

STDMETHODIMP CMediaReaderFilter::Reserved3(void* a, void* b, void* c, void* d, void* e) {
  return a && b && c && d && e ? E_NOTIMPL : E_POINTER;
}

STDMETHODIMP CMediaReaderFilter::Reserved4(void* a, void* b) { return a && b ? E_NOTIMPL : E_POINTER; }

STDMETHODIMP CMediaReaderFilter::Reserved5() { return E_NOTIMPL; }

STDMETHODIMP CMediaReaderFilter::TakeSample(BYTE** data, LONG* length, AM_MEDIA_TYPE* type) {
  TAV_TRACE("TakeSample(%p, %p, %p)", static_cast<void*>(data), static_cast<void*>(length), static_cast<void*>(type));
  if (!data || !length) return E_POINTER;
  CAutoLock lock(&m_lock);
  if (!m_pInput->IsConnected()) return E_UNEXPECTED;
  if (!m_holding) return E_FAIL;
  if (type) {
    HRESULT hr = CopyMediaType(type, &m_pInput->CurrentMediaType());
    if (FAILED(hr)) return hr;
  }
  *data = m_held.Release();  // the caller frees the block
  *length = m_heldLength;
  m_heldLength = 0;
  m_holding = false;
  return S_OK;
}
