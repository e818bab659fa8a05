// What both resizing filters of the library share: the IResizerControl state (configured
// output type, resize mode, the two connection types), the control interface over it, and
// the negotiation that depends only on that state (output type check, buffer size,
// connection bookkeeping). The deferred resizer and the bilinear video resizer derive from
// it and add their own input check, offered types and streaming.
//
// Lock order: the filter lock m_csFilter guards the whole control state; the control
// interface takes it, and a reconnection is started only after it has been let go.
#pragma once

#include <atomic>

#include "libs/vxvideokit/vxvideokit.h"
#include "media/contract/videoinfo.h"
#include "platform/streaming/base/transform.h"

namespace vxvk {

// Frames wider or taller than this are refused rather than overflowing sizes.
constexpr LONG kMaxFrameSide = 16384;

}  // namespace vxvk

class CResizerFilter : public CTransformFilter, public IResizerControl {
 public:
  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // The input type passes CheckInputType, and the output type has the configured major
  // type, subtype, format type, width and height.
  HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override;
  // One buffer of the configured image size (never less than the output frame).
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
  // Keep / clear the per-direction copy of the connection type.
  HRESULT SetMediaType(PIN_DIRECTION dir, const CMediaType* mt) override;
  HRESULT BreakConnect(PIN_DIRECTION dir) override;

  // IResizerControl
  STDMETHODIMP GetOutputSize(int* height, int* width, int* mode) override;
  STDMETHODIMP GetInputSize(int* height, int* width) override;
  STDMETHODIMP SetOutputSize(int height, int width, int mode) override;
  STDMETHODIMP GetOutputType(AM_MEDIA_TYPE* type) override;
  STDMETHODIMP SetOutputType(const AM_MEDIA_TYPE* type) override;

 protected:
  CResizerFilter(LPCTSTR name, LPUNKNOWN outer, REFCLSID clsid);

  // Checks shared by both input checks: video, a bottom-up frame of a sensible size, the
  // configured subtype. The format types a filter accepts are its own check.
  HRESULT CheckVideoInput(const CMediaType* in);

  // Configuration, guarded by m_csFilter
  CMediaType m_configured;     // the output type SetOutputType gave, sizes from SetOutputSize
  std::atomic<int> m_mode{0};  // written under m_csFilter, read by the streaming thread
  // Negotiated on connect, guarded by m_csFilter (constant while streaming)
  CMediaType m_inputType;
  CMediaType m_outputType;
};
