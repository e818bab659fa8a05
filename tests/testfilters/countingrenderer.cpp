#include "tests/testfilters/countingrenderer.h"

namespace tavtest {

CTestRenderer::CTestRenderer(LPUNKNOWN outer, const Config& config, HRESULT* phr)
    : CBaseVideoRenderer(CLSID_TestRenderer, NAME("test renderer"), outer, phr), m_config(config) {}

HRESULT CTestRenderer::CheckMediaType(const CMediaType* mt) {
  if (!mt) return E_POINTER;
  if (m_config.anyMajorType) return S_OK;
  if (mt->majortype != MEDIATYPE_Video) return VFW_E_TYPE_NOT_ACCEPTED;
  if (m_config.subtype != GUID_NULL && mt->subtype != m_config.subtype) return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT CTestRenderer::DoRenderSample(IMediaSample* sample) {
  Record r;
  sample->GetTime(&r.start, &r.stop);
  r.segmentStart = m_pInputPin ? m_pInputPin->CurrentStartTime() : 0;
  CRefTime now;
  if (m_pClock && SUCCEEDED(StreamTime(now))) r.streamTime = now;
  r.frame = FrameNumberOf(sample);
  BYTE* data = nullptr;
  if (SUCCEEDED(sample->GetPointer(&data)) && data && sample->GetActualDataLength() > 4) r.stamp = data[4];
  r.sample = sample;
  r.wall = std::chrono::steady_clock::now();
  {
    std::lock_guard<std::mutex> lock(m_recordLock);
    m_records.push_back(r);
  }
  m_changed.notify_all();
  return S_OK;
}

HRESULT CTestRenderer::EndOfStream() {
  // The base class first, so that waiters see its effects (completion, position).
  const HRESULT hr = CBaseVideoRenderer::EndOfStream();
  {
    std::lock_guard<std::mutex> lock(m_recordLock);
    ++m_eos;
  }
  m_changed.notify_all();
  return hr;
}

HRESULT CTestRenderer::BeginFlush() {
  {
    std::lock_guard<std::mutex> lock(m_recordLock);
    ++m_flushes;
  }
  return CBaseVideoRenderer::BeginFlush();
}

void CTestRenderer::OnReceiveFirstSample(IMediaSample*) {
  std::lock_guard<std::mutex> lock(m_recordLock);
  ++m_firstSamples;
}

std::vector<CTestRenderer::Record> CTestRenderer::Records() {
  std::lock_guard<std::mutex> lock(m_recordLock);
  return m_records;
}

int CTestRenderer::Count() {
  std::lock_guard<std::mutex> lock(m_recordLock);
  return int(m_records.size());
}

int CTestRenderer::EndOfStreams() {
  std::lock_guard<std::mutex> lock(m_recordLock);
  return m_eos;
}

int CTestRenderer::Flushes() {
  std::lock_guard<std::mutex> lock(m_recordLock);
  return m_flushes;
}

int CTestRenderer::FirstSamples() {
  std::lock_guard<std::mutex> lock(m_recordLock);
  return m_firstSamples;
}

void CTestRenderer::ClearRecords() {
  std::lock_guard<std::mutex> lock(m_recordLock);
  m_records.clear();
}

bool CTestRenderer::WaitForCount(int n, int timeoutMs) {
  std::unique_lock<std::mutex> lock(m_recordLock);
  return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return int(m_records.size()) >= n; });
}

bool CTestRenderer::WaitForEndOfStream(int timeoutMs) {
  // Until the end of stream has arrived and the completion was reported (which may come
  // after the last sample is presented).
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock<std::mutex> lock(m_recordLock);
  while (!(m_eos > 0 && IsEndOfStreamDelivered())) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    m_changed.wait_for(lock, std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace tavtest
