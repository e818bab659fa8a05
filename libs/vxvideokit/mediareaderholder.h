// "KORVA Media Reader Holder": reads single samples, typically decoded RGB24 frames, out of a
// media file. It owns a private graph: the file's source, the chosen stream rendered by the
// capture graph builder into a "VXCMN Media Reader Filter", no reference clock. A read seeks,
// runs the graph until the reader has caught one sample and hands that sample over.
//
// States:
//   made    -> open     Open / OpenVideo built the graph
//   open    -> open     ReadSample (leaves the graph running, completed; the next read
//                       seeks and runs again)
// A failed Open leaves what it added in the graph; the holder does not open again.
#pragma once

#include <mutex>

#include "libs/vxvideokit/filterfactory.h"
#include "libs/vxvideokit/vxvideokit.h"
#include "media/contract/comptr.h"
#include "media/contract/strmif.h"
#include "platform/streaming/base/combase.h"

class CMediaReaderHolder final : public CUnknown, public IMediaReaderHolder {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr);
  ~CMediaReaderHolder() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  STDMETHODIMP Open(LPCWSTR file, const GUID* streamType, int typeCount, const AM_MEDIA_TYPE* types,
                    const GUID* timeFormat, IUnknown* site) override;
  STDMETHODIMP Reserved2() override;
  STDMETHODIMP ReadSample(REFERENCE_TIME time, BYTE** data, LONG* length, AM_MEDIA_TYPE* type) override;
  STDMETHODIMP GetConnectedType(AM_MEDIA_TYPE* type) override;
  STDMETHODIMP GetDuration(LONGLONG* duration) override;
  STDMETHODIMP Reserved6() override;
  STDMETHODIMP OpenVideo(LPCWSTR file, const GUID* timeFormat, IUnknown* site) override;

 private:
  friend CUnknown* vxvk::CreateFilterInstance<CMediaReaderHolder>(LPUNKNOWN, HRESULT*);
  CMediaReaderHolder(LPUNKNOWN outer, HRESULT* phr);
  HRESULT OpenLocked(LPCWSTR file, const GUID* streamType, int typeCount, const AM_MEDIA_TYPE* types,
                     const GUID* timeFormat, IUnknown* site);
  // Empties the graph's event queue; returns the error of an abort event found in it.
  HRESULT DrainEventsLocked();

  // Serialises the calls: a read runs the graph to completion before anything else may
  // touch it.
  std::mutex m_lock;

  // Made with the holder.
  ComPtr<IGraphBuilder> m_graph;             // guarded by m_lock
  ComPtr<ICaptureGraphBuilder2> m_capture;   // guarded by m_lock; bound to m_graph
  // Built by Open.
  ComPtr<IBaseFilter> m_source;              // guarded by m_lock; set once Open started
  ComPtr<IMediaReaderControl> m_reader;      // guarded by m_lock
  ComPtr<IMediaControl> m_control;           // guarded by m_lock
  ComPtr<IMediaEvent> m_events;              // guarded by m_lock
  ComPtr<IMediaSeeking> m_seeking;           // guarded by m_lock
  bool m_open = false;                       // guarded by m_lock; Open succeeded
  // Capabilities read at Open.
  bool m_canGetDuration = false;             // guarded by m_lock
  bool m_canGetPosition = false;             // guarded by m_lock
  bool m_canSeek = false;                    // guarded by m_lock
  bool m_haveDuration = false;               // guarded by m_lock
  LONGLONG m_duration = MAX_TIME;            // guarded by m_lock; 100-ns units
};
