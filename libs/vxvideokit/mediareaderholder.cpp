#include "libs/vxvideokit/mediareaderholder.h"

#include <new>

#include "libs/vxvideokit/mediareader.h"
#include "media/contract/codepage.h"
#include "media/contract/com.h"
#include "media/contract/sync.h"
#include "media/contract/trace.h"
#include "media/contract/uuids.h"
#include "platform/streaming/base/mtype.h"

TAV_TRACE_SOURCE(kVideoKit, "readerholder");

CUnknown* CMediaReaderHolder::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
  HRESULT hr = S_OK;
  auto* holder = new (std::nothrow) CMediaReaderHolder(outer, &hr);
  if (!holder) hr = E_OUTOFMEMORY;
  if (FAILED(hr)) {
    delete holder;  // not counted yet: nothing else holds it
    holder = nullptr;
  }
  if (phr) *phr = hr;
  return holder;
}

CMediaReaderHolder::CMediaReaderHolder(LPUNKNOWN outer, HRESULT* phr)
    : CUnknown(NAME("KORVA Media Reader Holder"), outer) {
  HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                m_graph.AsVoidOut());
  if (SUCCEEDED(hr))
    hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                          m_capture.AsVoidOut());
  if (SUCCEEDED(hr)) hr = m_capture->SetFiltergraph(m_graph.Get());
  if (FAILED(hr) && phr) *phr = hr;
}

CMediaReaderHolder::~CMediaReaderHolder() {
  // Streaming threads must be gone before the graph and its filters are released.
  if (m_control) m_control->Stop();
}

STDMETHODIMP CMediaReaderHolder::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IMediaReaderHolder || riid == IID_IMediaReaderHolder2)
    return GetInterface(static_cast<IMediaReaderHolder*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CMediaReaderHolder::Open(LPCWSTR file, const GUID* streamType, int typeCount,
                                      const AM_MEDIA_TYPE* types, const GUID* timeFormat, IUnknown* site) {
  TAV_TRACE("Open(%s, %p, %d, %p, %p, %p)", file ? tav::Utf16ToUtf8(file).c_str() : "null",
            static_cast<const void*>(streamType), typeCount, static_cast<const void*>(types),
            static_cast<const void*>(timeFormat), static_cast<void*>(site));
  std::lock_guard<std::mutex> g(m_lock);
  return OpenLocked(file, streamType, typeCount, types, timeFormat, site);
}

HRESULT CMediaReaderHolder::OpenLocked(LPCWSTR file, const GUID* streamType, int typeCount,
                                       const AM_MEDIA_TYPE* types, const GUID* timeFormat, IUnknown* site) {
  if (!m_graph || !m_capture || m_source) return E_UNEXPECTED;
  if (!file || (typeCount > 0 && !types)) return E_POINTER;

  if (ComPtr<IObjectWithSite> withSite = m_graph.As<IObjectWithSite>()) withSite->SetSite(site);

  HRESULT hr = m_graph->AddSourceFilter(file, file, &m_source);
  if (FAILED(hr)) return hr;

  HRESULT made = E_OUTOFMEMORY;
  CUnknown* object = CMediaReaderFilter::CreateInstance(nullptr, &made);
  if (!object) return made;
  ComPtr<IBaseFilter> reader;
  hr = object->NonDelegatingQueryInterface(IID_IBaseFilter, reader.AsVoidOut());
  if (FAILED(hr)) return hr;
  hr = reader->QueryInterface(IID_IMediaReaderControl, m_reader.AsVoidOut());
  if (FAILED(hr)) return hr;
  for (int i = 0; i < typeCount; ++i) {
    hr = m_reader->AddAcceptedType(&types[i]);
    if (FAILED(hr)) return hr;
  }
  hr = m_graph->AddFilter(reader.Get(), u"Media Reader");
  if (FAILED(hr)) return hr;

  // A source that offers no such stream directly (a file source before its splitter) is
  // rendered from its first free output instead.
  if (streamType) {
    ComPtr<IPin> pin;
    if (FAILED(m_capture->FindPin(m_source.Get(), PINDIR_OUTPUT, nullptr, streamType, TRUE, 0, &pin)))
      streamType = nullptr;
  }
  hr = m_capture->RenderStream(nullptr, streamType, m_source.Get(), nullptr, reader.Get());
  if (FAILED(hr)) return hr;

  hr = m_graph->QueryInterface(IID_IMediaControl, m_control.AsVoidOut());
  if (FAILED(hr)) return hr;
  hr = m_graph->QueryInterface(IID_IMediaEvent, m_events.AsVoidOut());
  if (FAILED(hr)) return hr;
  // As fast as the filters go.
  ComPtr<IMediaFilter> mediaFilter = m_graph.As<IMediaFilter>();
  if (!mediaFilter) return E_NOINTERFACE;
  hr = mediaFilter->SetSyncSource(nullptr);
  if (FAILED(hr)) return hr;

  hr = m_graph->QueryInterface(IID_IMediaSeeking, m_seeking.AsVoidOut());
  if (FAILED(hr)) return hr;
  if (timeFormat && m_seeking->IsFormatSupported(timeFormat) == S_OK) {
    hr = m_seeking->SetTimeFormat(timeFormat);
    if (FAILED(hr)) return hr;
  }
  DWORD caps = 0;
  if (FAILED(m_seeking->GetCapabilities(&caps))) caps = 0;
  m_canGetDuration = (caps & AM_SEEKING_CanGetDuration) != 0;
  m_canGetPosition = (caps & AM_SEEKING_CanGetCurrentPos) != 0;
  m_canSeek = (caps & (AM_SEEKING_CanSeekForwards | AM_SEEKING_CanSeekBackwards)) != 0;
  if (m_canGetDuration) {
    LONGLONG duration = 0;
    if (SUCCEEDED(m_seeking->GetDuration(&duration))) {
      m_duration = duration;
      m_haveDuration = true;
    }
  }
  m_open = true;
  return S_OK;
}

STDMETHODIMP CMediaReaderHolder::Reserved2() {
  std::lock_guard<std::mutex> g(m_lock);
  return m_open ? E_NOTIMPL : E_UNEXPECTED;
}

HRESULT CMediaReaderHolder::DrainEventsLocked() {
  HRESULT error = S_OK;
  LONG code = 0;
  LONG_PTR p1 = 0, p2 = 0;
  while (m_events->GetEvent(&code, &p1, &p2, 0) == S_OK) {
    if ((code == EC_ERRORABORT || code == EC_ERRORABORTEX || code == EC_STREAM_ERROR_STOPPED) && SUCCEEDED(error))
      error = FAILED(HRESULT(p1)) ? HRESULT(p1) : E_FAIL;
    m_events->FreeEventParams(code, p1, p2);
  }
  return error;
}

STDMETHODIMP CMediaReaderHolder::ReadSample(REFERENCE_TIME time, BYTE** data, LONG* length, AM_MEDIA_TYPE* type) {
  TAV_TRACE("ReadSample(%lld, %p, %p, %p)", static_cast<long long>(time), static_cast<void*>(data),
            static_cast<void*>(length), static_cast<void*>(type));
  std::lock_guard<std::mutex> g(m_lock);
  if (!m_open) return E_UNEXPECTED;
  if (!data || !length) return E_POINTER;
  // What the last read left in the queue belongs to it.
  DrainEventsLocked();

  HRESULT hr = S_OK;
  if (m_canSeek) {
    hr = m_seeking->SetPositions(&time, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
    if (FAILED(hr)) return hr;
  } else {
    // Without seeking a completed run is over: stopping lets the next run stream again
    // from where the source stands.
    OAFilterState state = State_Stopped;
    if (SUCCEEDED(m_control->GetState(0, &state)) && state == State_Running) m_control->Stop();
  }
  hr = m_control->Run();
  if (FAILED(hr)) return hr;
  LONG code = 0;
  hr = m_events->WaitForCompletion(LONG(INFINITE), &code);
  if (FAILED(hr)) return hr;
  if (code != EC_COMPLETE) {
    HRESULT error = DrainEventsLocked();
    return FAILED(error) ? error : E_FAIL;
  }
  return m_reader->TakeSample(data, length, type);
}

STDMETHODIMP CMediaReaderHolder::GetConnectedType(AM_MEDIA_TYPE* type) {
  TAV_TRACE("GetConnectedType(%p)", static_cast<void*>(type));
  std::lock_guard<std::mutex> g(m_lock);
  if (!m_reader) return E_UNEXPECTED;
  return m_reader->GetConnectedType(type);
}

STDMETHODIMP CMediaReaderHolder::GetDuration(LONGLONG* duration) {
  TAV_TRACE("GetDuration(%p)", static_cast<void*>(duration));
  if (!duration) return E_POINTER;
  std::lock_guard<std::mutex> g(m_lock);
  if (!m_haveDuration) {
    *duration = MAX_TIME;
    return E_FAIL;
  }
  *duration = m_duration;
  return S_OK;
}

STDMETHODIMP CMediaReaderHolder::Reserved6() { return E_NOTIMPL; }

STDMETHODIMP CMediaReaderHolder::OpenVideo(LPCWSTR file, const GUID* timeFormat, IUnknown* site) {
  TAV_TRACE("OpenVideo(%s, %p, %p)", file ? tav::Utf16ToUtf8(file).c_str() : "null",
            static_cast<const void*>(timeFormat), static_cast<void*>(site));
  // Decoded RGB24 pictures in either header form; the format blocks are left open.
  AM_MEDIA_TYPE types[2] = {};
  types[0].majortype = MEDIATYPE_Video;
  types[0].subtype = MEDIASUBTYPE_RGB24;
  types[0].formattype = FORMAT_VideoInfo;
  types[1] = types[0];
  types[1].formattype = FORMAT_VideoInfo2;
  std::lock_guard<std::mutex> g(m_lock);
  return OpenLocked(file, &MEDIATYPE_Video, 2, types, timeFormat, site);
}
