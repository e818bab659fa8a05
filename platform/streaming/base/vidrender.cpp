#include "platform/streaming/base/vidrender.h"

#include "media/contract/trace.h"

TAV_TRACE_SOURCE(kBase, "vidrender");

namespace {
// A frame later than this is drawn at once rather than scheduled.
constexpr REFERENCE_TIME kDrawNowLateness100ns = 0;
}  // namespace

CBaseVideoRenderer::CBaseVideoRenderer(REFCLSID clsid, LPCTSTR name, LPUNKNOWN outer, HRESULT* phr)
    : CBaseRenderer(clsid, name, outer, phr) {}

CBaseVideoRenderer::~CBaseVideoRenderer() = default;

HRESULT CBaseVideoRenderer::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IQualityControl) return GetInterface(static_cast<IQualityControl*>(this), ppv);
  return CBaseRenderer::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseVideoRenderer::Notify(IBaseFilter*, Quality) { return E_NOTIMPL; }

HRESULT CBaseVideoRenderer::SetSink(IQualityControl* sink) {
  CAutoLock lock(&m_InterfaceLock);
  m_pQSink = sink;
  return S_OK;
}

void CBaseVideoRenderer::ResetStreamingTimes() {
  m_cFramesDrawn = 0;
  m_cFramesDropped = 0;
  m_trLate = 0;
  m_trRenderStart = 0;
}

HRESULT CBaseVideoRenderer::OnStartStreaming() {
  ResetStreamingTimes();
  return S_OK;
}

HRESULT CBaseVideoRenderer::OnStopStreaming() { return S_OK; }

HRESULT CBaseVideoRenderer::ShouldDrawSampleNow(IMediaSample*, REFERENCE_TIME* start, REFERENCE_TIME*) {
  CRefTime now;
  if (FAILED(StreamTime(now))) return S_FALSE;
  // Already due (or late): no need to go through the clock.
  if (REFERENCE_TIME(now) - *start >= kDrawNowLateness100ns) return S_OK;
  return S_FALSE;
}

void CBaseVideoRenderer::OnRenderStart(IMediaSample* sample) {
  CRefTime now;
  if (m_pClock && SUCCEEDED(StreamTime(now))) {
    m_trRenderStart = now;
    REFERENCE_TIME start = 0, end = 0;
    if (SUCCEEDED(sample->GetTime(&start, &end))) m_trLate = REFERENCE_TIME(now) - start;
  } else {
    m_trLate = 0;
  }
}

void CBaseVideoRenderer::OnRenderEnd(IMediaSample*) {
  ++m_cFramesDrawn;
  // Persistent lateness of more than a frame's worth is worth telling upstream about.
  if (m_pClock && m_trLate > 40 * MILLISECONDS) SendQuality(m_trLate, m_trRenderStart);
}

HRESULT CBaseVideoRenderer::SendQuality(REFERENCE_TIME late, REFERENCE_TIME realStream) {
  Quality q{};
  q.Type = late > 0 ? Famine : Flood;
  q.Proportion = 1000;
  q.Late = late;
  q.TimeStamp = realStream;
  if (m_pQSink) return m_pQSink->Notify(this, q);
  if (!m_pInputPin) return S_FALSE;
  return m_pInputPin->PassNotify(q);
}
