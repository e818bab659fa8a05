// "VXCMN Interlace Mode Checker": looks at the first frames of an RGB24 stream and decides
// whether the material is progressive or interlaced, and which field comes first. Samples
// pass unchanged. Once it has decided it reports EC_COMPLETE, so a graph run only to check
// the material can stop there: at once when a VIDEOINFOHEADER2 says what the stream is, at
// the first frame of a picture under 480 rows (too small to be interlaced video), after
// eleven frames otherwise.
#pragma once

#include <mutex>

#include "libs/vxvideokit/filterfactory.h"
#include "libs/vxvideokit/interlacemeasure.h"
#include "libs/vxvideokit/vxvideokit.h"
#include "platform/streaming/base/dllsetup.h"
#include "platform/streaming/base/transip.h"

class CInterlaceModeChecker final : public CTransInPlaceFilter, public IInterlaceModeCheck {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr);

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // Video, RGB24 only. Starts the measure afresh.
  HRESULT CheckInputType(const CMediaType* mt) override;
  HRESULT StartStreaming() override;
  HRESULT Transform(IMediaSample* sample) override;

  // IInterlaceModeCheck
  STDMETHODIMP GetInterlaceMode(int* mode) override;

 private:
  CInterlaceModeChecker(LPUNKNOWN outer, HRESULT* phr);
  friend CUnknown* vxvk::CreateFilterInstance<CInterlaceModeChecker>(LPUNKNOWN, HRESULT*);
  // Sends EC_COMPLETE once per run.
  void ReportDoneLocked();

  // Guards the measure and the verdict: the streaming thread writes them, the application
  // reads the verdict. Taken alone, never with the filter or receive lock held after it.
  std::mutex m_stateLock;

  // Negotiated at StartStreaming (streaming thread only while streaming).
  LONG m_width = 0;
  LONG m_height = 0;          // rows, absolute
  bool m_bottomUp = true;
  size_t m_stride = 0;        // bytes from one row to the next in the sample
  size_t m_rowBytes = 0;      // bytes of pixels in a row
  bool m_fromHeader = false;  // a VIDEOINFOHEADER2 gave the mode
  bool m_canAnalyse = false;  // the type has a 24-bit bitmap header
  // Runtime.
  vxvk::InterlaceMeasure m_measure;  // guarded by m_stateLock
  int m_mode = vxvk::kFieldModeUnknown;  // guarded by m_stateLock
  bool m_reported = false;    // guarded by m_stateLock; EC_COMPLETE sent this run
};

extern const AMOVIESETUP_FILTER sudInterlaceModeChecker;
