#include "libs/vxvideokit/interlacechecker.h"

#include <new>

#include "libs/vxvideokit/videopins.h"
#include "media/contract/mediatypes.h"
#include "media/contract/trace.h"
#include "media/contract/videoinfo.h"

TAV_TRACE_SOURCE(kVideoKit, "interlace");

namespace {

// VIDEOINFOHEADER2 interlace flags.
constexpr DWORD kInterlaced = 0x1;
constexpr DWORD kField1First = 0x4;

}  // namespace

CUnknown* CInterlaceModeChecker::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
  return vxvk::CreateFilterInstance<CInterlaceModeChecker>(outer, phr);
}

CInterlaceModeChecker::CInterlaceModeChecker(LPUNKNOWN outer, HRESULT* phr)
    : CTransInPlaceFilter(NAME("VXCMN Interlace Mode Checker"), outer, CLSID_VxInterlaceModeChecker, phr, false) {}

STDMETHODIMP CInterlaceModeChecker::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IInterlaceModeCheck) return GetInterface(static_cast<IInterlaceModeCheck*>(this), ppv);
  return CTransInPlaceFilter::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CInterlaceModeChecker::CheckInputType(const CMediaType* mt) {
  if (!mt) return E_POINTER;
  if (mt->majortype != MEDIATYPE_Video || mt->subtype != MEDIASUBTYPE_RGB24) return VFW_E_TYPE_NOT_ACCEPTED;
  std::lock_guard<std::mutex> g(m_stateLock);
  m_measure.Reset();
  return S_OK;
}

HRESULT CInterlaceModeChecker::StartStreaming() {
  const CMediaType& mt = m_pInput->CurrentMediaType();
  const BITMAPINFOHEADER* bmi = VideoBitmapHeader(mt);
  DWORD interlace = 0;
  // Only the second header form says how the pictures are interlaced.
  m_fromHeader = bmi && mt.formattype == FORMAT_VideoInfo2;
  if (m_fromHeader) interlace = reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat)->dwInterlaceFlags;
  m_canAnalyse = bmi && bmi->biBitCount == 24 && bmi->biWidth > 0 && bmi->biHeight != 0;
  if (bmi) {
    m_width = bmi->biWidth;
    m_height = bmi->biHeight < 0 ? -bmi->biHeight : bmi->biHeight;
    m_bottomUp = bmi->biHeight > 0;
    m_rowBytes = size_t(m_width > 0 ? m_width : 0) * bmi->biBitCount / 8;
    // Rows of a DIB are padded to whole 32-bit words.
    m_stride = size_t(DibStride(m_width > 0 ? m_width : 0, bmi->biBitCount));
  }
  std::lock_guard<std::mutex> g(m_stateLock);
  m_reported = false;
  if (m_fromHeader) {
    if (!(interlace & kInterlaced))
      m_mode = vxvk::kFieldModeProgressive;
    else
      m_mode = (interlace & kField1First) ? vxvk::kFieldModeField1First : vxvk::kFieldModeField2First;
  }
  return S_OK;
}

void CInterlaceModeChecker::ReportDoneLocked() {
  if (m_reported) return;
  m_reported = true;
  NotifyEvent(EC_COMPLETE, S_OK, 0);
}

HRESULT CInterlaceModeChecker::Transform(IMediaSample* sample) {
  std::lock_guard<std::mutex> g(m_stateLock);
  if (m_fromHeader) {
    ReportDoneLocked();
    return S_OK;
  }
  if (m_height < 480) {
    m_mode = vxvk::kFieldModeProgressive;
    ReportDoneLocked();
    return S_OK;
  }
  if (!m_canAnalyse) return S_OK;
  BYTE* bits = nullptr;
  // A short sample is passed on without being read past its end.
  if (FAILED(sample->GetPointer(&bits)) || !bits ||
      size_t(sample->GetActualDataLength()) < m_stride * size_t(m_height - 1) + m_rowBytes)
    return S_OK;
  m_measure.Analyse(vxvk::FrameView{bits, m_stride, m_rowBytes, int(m_height), m_bottomUp});
  m_mode = m_measure.Mode();
  if (m_measure.Done()) ReportDoneLocked();
  return S_OK;
}

STDMETHODIMP CInterlaceModeChecker::GetInterlaceMode(int* mode) {
  TAV_TRACE("GetInterlaceMode(%p)", static_cast<void*>(mode));
  if (!mode) return E_POINTER;
  std::lock_guard<std::mutex> g(m_stateLock);
  *mode = m_mode;
  return S_OK;
}

// ---- registration -------------------------------------------------------------------------------

const AMOVIESETUP_FILTER sudInterlaceModeChecker = {&CLSID_VxInterlaceModeChecker, u"VXCMN Interlace Mode Checker",
                                                    MERIT_DO_NOT_USE, 2, vxvk::kRgb24VideoPins};
