// "VXCMN Video Resizer": the bilinear, interlace-aware sibling of the deferred resizer. It
// answers the same IResizerControl (through CResizerFilter) and the same resize modes, but
// scales every frame as it passes, with 1/128-pixel bilinear weights. Which interlace
// treatment a frame gets (field-wise sampling, a deinterlacing prepass) comes from the
// process-wide interlace mode registry, looked up by the file of the upstream source filter
// and the frame's start time.
//
// Lock order: m_csFilter (control state, connection, the source file name while stopped)
// before m_csReceive (the streaming thread) before the registry's own lock.
#pragma once

#include <vector>

#include "libs/vxvideokit/filterfactory.h"
#include "libs/vxvideokit/resizerfilter.h"
#include "platform/streaming/base/dllsetup.h"

class CVideoResizer final : public CResizerFilter {
 public:
  // Fails with the registry's failure when the registry cannot be had.
  static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr);
  ~CVideoResizer() override;

  // Pins "Input" and "Output", made on first request.
  CBasePin* GetPin(int n) override;

  // Video in a VIDEOINFOHEADER of the configured subtype, bottom-up, 16, 24 or 32 bits,
  // BI_RGB or BI_BITFIELDS.
  HRESULT CheckInputType(const CMediaType* in) override;
  // 0: the input's connection type; 1: the configured output type.
  HRESULT GetMediaType(int position, CMediaType* mt) override;
  // Asks the registry which file feeds this filter.
  HRESULT StartStreaming() override;
  // Looks up the frame's interlace modes, runs the prepass on a copy of the input and
  // scales into the output.
  HRESULT Transform(IMediaSample* in, IMediaSample* out) override;

  // The modes the last frame was scaled with (for tests and diagnostics).
  int LastFieldMode() const { return m_fieldMode; }
  int LastPrepassType() const { return m_prepassType; }

 private:
  CVideoResizer(LPUNKNOWN outer, HRESULT* phr);
  friend CUnknown* vxvk::CreateFilterInstance<CVideoResizer>(LPUNKNOWN, HRESULT*);

  // Held from construction to destruction.
  ComPtr<IInterlaceModeRegistry> m_registry;
  // Set by StartStreaming (stopped, under m_csFilter and m_csReceive), read by the streaming
  // thread; task-allocated, null when no source file was found.
  tav::TaskMemPtr<OLECHAR> m_sourceFile;
  // Runtime, streaming thread only (under m_csReceive)
  int m_fieldMode = 0;
  int m_prepassType = 0;
  std::vector<BYTE> m_prepassFrame;  // the input copy a prepass works on
};

extern const AMOVIESETUP_FILTER sudVideoResizer;
