#include "libs/vxvideokit/videoanalyzer.h"

#include <new>

#include "media/contract/com.h"
#include "media/contract/mediatypes.h"
#include "media/contract/trace.h"
#include "media/contract/videoinfo.h"

TAV_TRACE_SOURCE(kVideoKit, "analyser");

CUnknown* CVideoAnalyzer::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
  HRESULT hr = S_OK;
  auto* filter = new (std::nothrow) CVideoAnalyzer(outer, &hr);
  if (!filter) hr = E_OUTOFMEMORY;
  if (SUCCEEDED(hr) && !filter->m_analysis) hr = E_OUTOFMEMORY;
  if (FAILED(hr)) {
    delete filter;  // not counted yet: nothing else holds it
    filter = nullptr;
  }
  if (phr) *phr = hr;
  return filter;
}

CVideoAnalyzer::CVideoAnalyzer(LPUNKNOWN outer, HRESULT* phr)
    : CTransInPlaceFilter(NAME("VXCMN Video Analizer Filter"), outer, CLSID_VxVideoAnalyzer, phr, false),
      m_analysis(new (std::nothrow) vxvk::SceneAnalysis) {}

STDMETHODIMP CVideoAnalyzer::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_ISceneAnalyser) return GetInterface(static_cast<ISceneAnalyser*>(this), ppv);
  return CTransInPlaceFilter::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CVideoAnalyzer::CheckInputType(const CMediaType* mt) {
  if (!mt) return E_POINTER;
  if (mt->majortype != MEDIATYPE_Video || mt->subtype != MEDIASUBTYPE_RGB24) return VFW_E_TYPE_NOT_ACCEPTED;
  if (mt->formattype != FORMAT_VideoInfo && mt->formattype != FORMAT_VideoInfo2) return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT CVideoAnalyzer::StartStreaming() {
  const CMediaType& mt = m_pInput->CurrentMediaType();
  m_framePeriod = 0;
  const BITMAPINFOHEADER* bmi = VideoBitmapHeader(mt, &m_framePeriod);
  m_width = bmi && bmi->biBitCount == 24 && bmi->biWidth > 0 ? bmi->biWidth : 0;
  m_height = bmi ? (bmi->biHeight < 0 ? -bmi->biHeight : bmi->biHeight) : 0;
  m_stride = size_t(DibStride(m_width, 24));
  std::lock_guard<std::mutex> g(m_stateLock);
  m_nextStart = 0;
  return S_OK;
}

HRESULT CVideoAnalyzer::Transform(IMediaSample* sample) {
  std::lock_guard<std::mutex> g(m_stateLock);
  if (!m_analysis || m_width <= 0 || m_height <= 0) return S_OK;
  BYTE* bits = nullptr;
  // A short sample is passed on without being read past its end.
  if (FAILED(sample->GetPointer(&bits)) || !bits || size_t(sample->GetActualDataLength()) < m_stride * size_t(m_height))
    return S_OK;
  REFERENCE_TIME start = 0, stop = 0;
  const HRESULT hr = sample->GetTime(&start, &stop);
  if (FAILED(hr)) start = m_nextStart;  // untimed: it follows the last frame
  if (FAILED(hr) || hr == VFW_S_NO_STOP_TIME) stop = start + m_framePeriod;
  m_nextStart = stop;
  m_analysis->AddFrame(bits, m_width, m_height, m_stride, double(start) * 1e-7, double(stop) * 1e-7);
  return S_OK;
}

STDMETHODIMP CVideoAnalyzer::GetPin(int index, IPin** pin) {
  TAV_TRACE("GetPin(%d, %p)", index, static_cast<void*>(pin));
  if (!pin) return E_POINTER;
  *pin = nullptr;
  CAutoLock lock(&m_csFilter);
  CBasePin* p = index >= 0 ? CTransInPlaceFilter::GetPin(index) : nullptr;
  if (!p) return VFW_E_NOT_FOUND;
  return GetInterface(static_cast<IPin*>(p), reinterpret_cast<void**>(pin));
}

STDMETHODIMP CVideoAnalyzer::Reset(BOOL enable) {
  TAV_TRACE("Reset(%d)", int(enable));
  std::lock_guard<std::mutex> g(m_stateLock);
  m_analysis.reset();
  m_returned = 0;
  if (enable) {
    m_analysis.reset(new (std::nothrow) vxvk::SceneAnalysis);
    if (!m_analysis) return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT CVideoAnalyzer::StartsLocked(size_t from, int* count, double** times) {
  const auto& records = m_analysis->Records();
  *count = 0;
  *times = nullptr;
  if (from >= records.size()) return S_OK;
  const size_t n = records.size() - from;
  auto* out = static_cast<double*>(CoTaskMemAlloc(n * sizeof(double)));
  if (!out) return E_OUTOFMEMORY;
  for (size_t i = 0; i < n; ++i) out[i] = records[from + i].start;
  *count = int(n);
  *times = out;
  return S_OK;
}

STDMETHODIMP CVideoAnalyzer::GetSceneStarts(int* count, double** times) {
  TAV_TRACE("GetSceneStarts(%p, %p)", static_cast<void*>(count), static_cast<void*>(times));
  if (!count || !times) return E_POINTER;
  std::lock_guard<std::mutex> g(m_stateLock);
  if (!m_analysis) return E_UNEXPECTED;
  return StartsLocked(0, count, times);
}

STDMETHODIMP CVideoAnalyzer::GetNewSceneStarts(int* count, double** times) {
  TAV_TRACE("GetNewSceneStarts(%p, %p)", static_cast<void*>(count), static_cast<void*>(times));
  if (!count || !times) return E_POINTER;
  std::lock_guard<std::mutex> g(m_stateLock);
  if (!m_analysis) return E_UNEXPECTED;
  const HRESULT hr = StartsLocked(m_returned, count, times);
  if (SUCCEEDED(hr)) m_returned = m_analysis->Records().size();
  return hr;
}

// ---- registration -------------------------------------------------------------------------------

namespace {
const AMOVIESETUP_MEDIATYPE kVideoRgb24[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24}};
const AMOVIESETUP_PIN kPins[] = {
    {u"Input", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kVideoRgb24},
    {u"Output", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kVideoRgb24},
};
}  // namespace

const AMOVIESETUP_FILTER sudVideoAnalyzer = {&CLSID_VxVideoAnalyzer, u"VXCMN Video Analizer Filter", MERIT_DO_NOT_USE,
                                             2, kPins};
