#include "tests/testfilters/pullsource.h"

#include <chrono>
#include <cstring>

namespace tavtest {

CTestPullPin::CTestPullPin(CTestPullSource* filter, HRESULT* phr)
    : CBasePin(NAME("test pull pin"), filter, &filter->m_lock, phr, u"Output", PINDIR_OUTPUT), m_pSource(filter) {}

HRESULT CTestPullPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IAsyncReader) return GetInterface(static_cast<IAsyncReader*>(this), ppv);
  return CBasePin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CTestPullPin::CheckMediaType(const CMediaType* mt) {
  if (!mt) return E_POINTER;
  return mt->majortype == MEDIATYPE_Stream && mt->subtype == m_pSource->m_type.subtype ? S_OK : S_FALSE;
}

HRESULT CTestPullPin::GetMediaType(int position, CMediaType* mt) {
  if (!mt) return E_POINTER;
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  *mt = m_pSource->m_type;
  return S_OK;
}

HRESULT CTestPullPin::RequestAllocator(IMemAllocator* preferred, ALLOCATOR_PROPERTIES* props,
                                       IMemAllocator** actual) {
  if (!props || !actual) return E_POINTER;
  *actual = nullptr;
  ALLOCATOR_PROPERTIES request = *props;
  if (request.cbAlign == 0) request.cbAlign = 1;
  ALLOCATOR_PROPERTIES granted{};
  if (preferred && SUCCEEDED(preferred->SetProperties(&request, &granted))) {
    *actual = preferred;
    preferred->AddRef();
    return S_OK;
  }
  ComPtr<IMemAllocator> allocator;
  HRESULT hr = CreateMemoryAllocator(allocator.ReleaseAndGetAddressOf());
  if (FAILED(hr)) return hr;
  hr = allocator->SetProperties(&request, &granted);
  if (FAILED(hr)) return hr;
  *actual = allocator.Detach();
  return S_OK;
}

HRESULT CTestPullPin::ReadInto(IMediaSample* sample) {
  REFERENCE_TIME start = 0, stop = 0;
  HRESULT hr = sample->GetTime(&start, &stop);
  if (FAILED(hr)) return hr;
  const LONGLONG position = start / UNITS;
  const LONGLONG length = (stop - start) / UNITS;
  if (position < 0 || length < 0 || length > sample->GetSize()) return E_INVALIDARG;
  BYTE* buffer = nullptr;
  hr = sample->GetPointer(&buffer);
  if (FAILED(hr)) return hr;
  hr = SyncRead(position, LONG(length), buffer);
  const LONGLONG total = LONGLONG(m_pSource->m_data.size());
  const LONGLONG got = std::max<LONGLONG>(0, std::min(length, total - position));
  sample->SetActualDataLength(LONG(got));
  return hr;
}

HRESULT CTestPullPin::Request(IMediaSample* sample, DWORD_PTR user) {
  if (!sample) return E_POINTER;
  {
    std::lock_guard<std::mutex> lock(m_queueLock);
    if (m_flushing) return VFW_E_WRONG_STATE;
  }
  const HRESULT hr = ReadInto(sample);
  if (FAILED(hr)) return hr;
  sample->AddRef();
  {
    std::lock_guard<std::mutex> lock(m_queueLock);
    m_done.push_back(Done{sample, user, hr});
  }
  m_queueChanged.notify_all();
  return S_OK;
}

HRESULT CTestPullPin::WaitForNext(DWORD timeoutMs, IMediaSample** sample, DWORD_PTR* user) {
  if (!sample || !user) return E_POINTER;
  *sample = nullptr;
  *user = 0;
  std::unique_lock<std::mutex> lock(m_queueLock);
  const auto ready = [this] { return !m_done.empty() || m_flushing; };
  if (timeoutMs == INFINITE)
    m_queueChanged.wait(lock, ready);
  else if (!m_queueChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready))
    return VFW_E_TIMEOUT;
  if (m_done.empty()) return VFW_E_WRONG_STATE;  // flushing
  const Done d = m_done.front();
  m_done.pop_front();
  *sample = d.sample;  // hands the reference taken in Request back to the caller
  *user = d.user;
  return m_flushing ? VFW_E_WRONG_STATE : d.hr;
}

HRESULT CTestPullPin::SyncReadAligned(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  return ReadInto(sample);
}

HRESULT CTestPullPin::SyncRead(LONGLONG position, LONG length, BYTE* buffer) {
  if (!buffer && length > 0) return E_POINTER;
  if (position < 0 || length < 0) return E_INVALIDARG;
  const auto& data = m_pSource->m_data;
  const LONGLONG total = LONGLONG(data.size());
  if (position >= total) return length == 0 ? S_OK : S_FALSE;
  const LONGLONG got = std::min<LONGLONG>(length, total - position);
  std::memcpy(buffer, data.data() + position, size_t(got));
  return got == length ? S_OK : S_FALSE;
}

HRESULT CTestPullPin::Length(LONGLONG* total, LONGLONG* available) {
  if (!total || !available) return E_POINTER;
  *total = *available = LONGLONG(m_pSource->m_data.size());
  return S_OK;
}

HRESULT CTestPullPin::BeginFlush() {
  {
    std::lock_guard<std::mutex> lock(m_queueLock);
    m_flushing = true;
  }
  m_queueChanged.notify_all();
  return S_OK;
}

HRESULT CTestPullPin::EndFlush() {
  std::lock_guard<std::mutex> lock(m_queueLock);
  m_flushing = false;
  return S_OK;
}

CTestPullSource::CTestPullSource(LPUNKNOWN outer, const Config& config, HRESULT* phr)
    : CBaseFilter(NAME("test pull source"), outer, &m_lock, CLSID_TestPullSource), m_data(config.size) {
  for (size_t i = 0; i < m_data.size(); ++i) m_data[i] = ExpectedByte(LONGLONG(i));
  m_type.SetType(&MEDIATYPE_Stream);
  m_type.SetSubtype(&config.subtype);
  m_type.SetFormatType(&FORMAT_None);
  m_pPin = new (std::nothrow) CTestPullPin(this, phr);
  if (!m_pPin && phr) *phr = E_OUTOFMEMORY;
}

CTestPullSource::~CTestPullSource() { delete m_pPin; }

}  // namespace tavtest
