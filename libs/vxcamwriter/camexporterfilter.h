// "VXCMN Cam Exporter Filter": the end of the conversion graph. Two input pins hand frames
// and audio to the exporter engine, which feeds clipmux; the filter adds the file name,
// the size limit, the encoder settings and position pass-through for the graph.
//
// Lock order: the filter lock, then the engine's locks. Streaming threads never take the
// filter lock while they wait in the engine.
#pragma once

#include <memory>
#include <atomic>

#include <string>

#include "libs/vxcamwriter/camexportengine.h"
#include "libs/vxcamwriter/vxcamwriter.h"
#include "media/contract/comptr.h"
#include "platform/streaming/base/streams.h"

class CCamExporterFilter;

// What both inputs do alike: each offers the one type it takes, tells the engine of its
// connection and points the exporter's seeking at the pin that remains when it disconnects,
// and hands the times and bytes of every sample the base class lets through to Deliver.
class CCamInputPin : public CBaseInputPin {
 public:
  CCamInputPin(LPCTSTR objectName, CCamExporterFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR pinName);
  HRESULT GetMediaType(int position, CMediaType* mt) override;
  HRESULT CompleteConnect(IPin* receivePin) override;
  HRESULT BreakConnect() override;
  STDMETHODIMP Receive(IMediaSample* sample) override;

 protected:
  // The type GetMediaType offers.
  virtual HRESULT OfferedType(CMediaType* mt) = 0;
  // The engine's side of connecting (the connection type is m_mt) and disconnecting.
  virtual void Connected() = 0;
  virtual void Disconnected() = 0;
  virtual HRESULT Deliver(IMediaSample* sample, REFERENCE_TIME start, REFERENCE_TIME stop, BYTE* data, LONG length) = 0;

  CCamExporterFilter* const exporter_;
};

// "Video Input": RGB32 frames with a VIDEOINFOHEADER, bottom-up.
class CCamVideoInputPin final : public CCamInputPin {
 public:
  CCamVideoInputPin(CCamExporterFilter* filter, CCritSec* lock, HRESULT* phr);
  HRESULT CheckMediaType(const CMediaType* mt) override;
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;

 private:
  HRESULT OfferedType(CMediaType* mt) override;
  void Connected() override;
  void Disconnected() override;
  HRESULT Deliver(IMediaSample* sample, REFERENCE_TIME start, REFERENCE_TIME stop, BYTE* data, LONG length) override;
};

// "Audio Input": PCM 22 050 Hz stereo 16-bit only.
class CCamAudioInputPin final : public CCamInputPin {
 public:
  CCamAudioInputPin(CCamExporterFilter* filter, CCritSec* lock, HRESULT* phr);
  HRESULT CheckMediaType(const CMediaType* mt) override;
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;

 private:
  HRESULT OfferedType(CMediaType* mt) override;
  void Connected() override;
  void Disconnected() override;
  HRESULT Deliver(IMediaSample* sample, REFERENCE_TIME start, REFERENCE_TIME stop, BYTE* data, LONG length) override;
};

class CCamExporterFilter final : public CBaseFilter,
                                 public IFileSinkFilter,
                                 public IExportSizeLimit,
                                 public IExportConfig {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr);
  CCamExporterFilter(LPUNKNOWN outer, HRESULT* phr);
  ~CCamExporterFilter() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // State: opening the movie and starting the encoder come before the base class's Pause;
  // Stop first lets the encoder finish the file.
  STDMETHODIMP Pause() override;
  STDMETHODIMP Stop() override;
  STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;

  int GetPinCount() override { return 2; }
  CBasePin* GetPin(int n) override;

  // IFileSinkFilter
  STDMETHODIMP SetFileName(LPCOLESTR fileName, const AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mt) override;
  // IExportSizeLimit
  STDMETHODIMP GetSizeLimit(LONGLONG* limit) override;
  STDMETHODIMP SetSizeLimit(LONGLONG limit) override;
  // IExportConfig
  STDMETHODIMP GetConfig(CONFIG* config) override;
  STDMETHODIMP SetConfig(const CONFIG* config) override;
  STDMETHODIMP ResetConfig() override;
  STDMETHODIMP SaveAVIasQVF(BOOL qvf) override;

  CCamExportEngine& engine() { return engine_; }

  // How far the movie has come, reported through the position pass-through so that a graph
  // running without a clock knows: the end of the last frame clipmux took (end: the video
  // input's stream time). Called on the encoder thread.
  void RegisterVideoTime(REFERENCE_TIME end);
  void ResetVideoTime();
  // Points the pass-through at the pin seeking goes through; called when a pin connects or
  // is about to disconnect (leaving).
  void BindPositionPin(const CBasePin* leaving = nullptr);

  static constexpr size_t kMaxFileNameChars = 260;
  // How much longer than its source a movie's pictures may come out before their times count
  // as damaged: under a second, so that the sound's last frames still end within one.
  static constexpr REFERENCE_TIME kTimeLimitMargin = 8'000'000;

 private:
  IPin* PositionPinLocked(const CBasePin* leaving = nullptr);
  REFERENCE_TIME SourceSpanLocked();

  // Guards the state, the pins' connections, the file name and the pass-through.
  CCritSec lock_;
  CCamExportEngine engine_;
  std::unique_ptr<CCamVideoInputPin> video_;  // a pin's count is its filter's: deleted with it
  std::unique_ptr<CCamAudioInputPin> audio_;
  std::u16string fileName_;     // guarded by lock_
  bool haveFileName_ = false;   // guarded by lock_
  ComPtr<IUnknown> position_;  // the pass-through's inner unknown, made on first request; guarded by lock_
  // The same pass-through for the streaming thread: set once, with position_, and kept until
  // the filter goes.
  std::atomic<CRendererPosPassThru*> positionTimes_{nullptr};
};

// "VXCMN Cam Holder Object": only IUnknown; while it lives the library stays loaded.
class CCamHolder final : public CUnknown {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr);
  CCamHolder(LPUNKNOWN outer, HRESULT* phr) : CUnknown(NAME("CCamHolder"), outer, phr) {}
};

extern const AMOVIESETUP_FILTER sudCamExporter;
