#include "tests/testfilters/pushsource.h"

#include <cstring>

namespace tavtest {

// ---- pin -------------------------------------------------------------------------------

CTestPushPin::Seeking::Seeking(CTestPushPin* pin, HRESULT* phr)
    : CSourceSeeking(NAME("test source seeking"), pin->GetOwner(), phr, &pin->m_seekLock), m_pin(pin) {}

CTestPushPin::CTestPushPin(CTestPushSource* filter, HRESULT* phr)
    : CBaseOutputPin(NAME("test push pin"), filter, &filter->m_lock, phr, u"Output"),
      m_pSource(filter),
      m_seeking(this, phr) {
  const auto& c = filter->m_config;
  m_seeking.m_rtDuration = c.frames * c.frameDuration;
  m_seeking.m_rtStop = c.frames * c.frameDuration;
}

CTestPushPin::~CTestPushPin() { StopThread(); }

HRESULT CTestPushPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(&m_seeking), ppv);
  return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CTestPushPin::CheckMediaType(const CMediaType* mt) {
  if (!mt) return E_POINTER;
  return *mt == m_pSource->m_type ? S_OK : S_FALSE;
}

HRESULT CTestPushPin::GetMediaType(int position, CMediaType* mt) {
  if (!mt) return E_POINTER;
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  *mt = m_pSource->m_type;
  return S_OK;
}

HRESULT CTestPushPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) {
  ALLOCATOR_PROPERTIES request = *props;
  request.cBuffers = std::max(request.cBuffers, m_pSource->m_config.buffers);
  request.cbBuffer = std::max<LONG>(request.cbBuffer, LONG(m_pSource->m_type.GetSampleSize()));
  if (request.cbAlign < 1) request.cbAlign = 1;
  ALLOCATOR_PROPERTIES actual{};
  const HRESULT hr = allocator->SetProperties(&request, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < request.cbBuffer || actual.cBuffers < 1 ? E_FAIL : S_OK;
}

HRESULT CTestPushPin::Active() {
  const HRESULT hr = CBaseOutputPin::Active();
  if (FAILED(hr)) return hr;
  StartThread();
  return S_OK;
}

HRESULT CTestPushPin::Inactive() {
  m_stop = true;
  // Decommitting makes a GetBuffer wait return, so the thread can end.
  const HRESULT hr = CBaseOutputPin::Inactive();
  StopThread();
  return hr;
}

void CTestPushPin::StartThread() {
  CAutoLock lock(&m_threadLock);
  if (m_thread.joinable()) return;
  m_stop = false;
  m_thread = std::thread([this] { ThreadProc(); });
}

void CTestPushPin::StopThread() {
  CAutoLock lock(&m_threadLock);
  m_stop = true;
  if (m_thread.joinable()) m_thread.join();
}

HRESULT CTestPushPin::RestartStream() {
  CAutoLock lock(&m_threadLock);
  const bool running = m_thread.joinable();
  if (running) {
    // Flushing releases anything downstream holds, so the thread's Deliver or GetBuffer
    // returns and it sees the stop request.
    m_stop = true;
    DeliverBeginFlush();
    m_thread.join();
    DeliverEndFlush();
  }
  if (running || m_pSource->IsActive()) {
    m_stop = false;
    m_thread = std::thread([this] { ThreadProc(); });
  }
  return S_OK;
}

void CTestPushPin::ThreadProc() {
  const auto& c = m_pSource->m_config;
  REFERENCE_TIME start = 0, stop = 0;
  {
    CAutoLock lock(&m_seekLock);
    start = m_seeking.m_rtStart;
    stop = m_seeking.m_rtStop;
  }
  DeliverNewSegment(start, stop, 1.0);
  const REFERENCE_TIME duration = std::max<REFERENCE_TIME>(1, c.frameDuration);
  int frame = int(start / duration);
  bool first = true;
  const LONG size = LONG(m_pSource->m_type.GetSampleSize());
  while (!m_stop && frame < c.frames && REFERENCE_TIME(frame) * duration < stop) {
    IMediaSample* sample = nullptr;
    if (FAILED(GetDeliveryBuffer(&sample, nullptr, nullptr, 0)) || !sample) return;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    const LONG length = std::min(size, sample->GetSize());
    if (data && length >= 4) {
      std::memset(data, frame & 0xFF, size_t(length));
      const DWORD n = DWORD(frame);
      std::memcpy(data, &n, 4);
    }
    sample->SetActualDataLength(length);
    REFERENCE_TIME ts = REFERENCE_TIME(frame) * duration - start;
    REFERENCE_TIME te = ts + duration;
    sample->SetTime(&ts, &te);
    sample->SetSyncPoint(TRUE);
    sample->SetDiscontinuity(first);
    first = false;
    const HRESULT hr = Deliver(sample);
    sample->Release();
    if (hr != S_OK) return;  // flushing, stopped or refused: the stream ends here
    ++m_pSource->m_delivered;
    ++frame;
  }
  if (!m_stop) {
    DeliverEndOfStream();
    ++m_pSource->m_ends;
  }
}

// ---- filter ----------------------------------------------------------------------------

CTestPushSource::CTestPushSource(LPUNKNOWN outer, const Config& config, HRESULT* phr)
    : CBaseFilter(NAME("test push source"), outer, &m_lock, CLSID_TestPushSource),
      m_config(config),
      m_type(MakeVideoType(config.subtype, config.width, config.height, config.frameDuration)) {
  m_pPin = new (std::nothrow) CTestPushPin(this, phr);
  if (!m_pPin && phr) *phr = E_OUTOFMEMORY;
}

CTestPushSource::~CTestPushSource() { delete m_pPin; }

}  // namespace tavtest
