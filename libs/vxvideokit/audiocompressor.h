// "VXCMN Audio Compressor Filter": PCM in, any audio format an installed audio compression
// driver makes out, converted through one compression stream while the filter streams.
// One input sample can give several output samples (and none): Receive is overridden.
//
// Lock order: 1. m_csFilter (formats, connection)  2. m_csReceive (the stream, runtime state).
#pragma once

#include <atomic>
#include <vector>

#include "libs/vxvideokit/filterfactory.h"
#include "libs/vxvideokit/audiocompression.h"
#include "libs/vxvideokit/vxvideokit.h"
#include "media/contract/msacm.h"
#include "platform/streaming/base/dllsetup.h"
#include "platform/streaming/base/transform.h"

class CAudioCompressor : public CTransformFilter, public IAudioCompressorControl {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr);
  ~CAudioCompressor() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  CBasePin* GetPin(int n) override;
  HRESULT CheckInputType(const CMediaType* in) override;
  HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override;
  HRESULT GetMediaType(int position, CMediaType* mt) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
  HRESULT SetMediaType(PIN_DIRECTION dir, const CMediaType* mt) override;
  HRESULT BreakConnect(PIN_DIRECTION dir) override;

  HRESULT StartStreaming() override;
  HRESULT StopStreaming() override;
  HRESULT Receive(IMediaSample* sample) override;
  HRESULT EndOfStream() override;
  HRESULT EndFlush() override;

  // IAudioCompressorControl
  STDMETHODIMP SetOutputFormat(const WAVEFORMATEX* format, DWORD bytes) override;
  STDMETHODIMP GetOutputFormat(WAVEFORMATEX** format, DWORD* bytes) override;

  // The output type of a format block.
  static CMediaType OutputTypeOf(const vxvk::WaveFormatBlock& format);

 private:
  CAudioCompressor(LPUNKNOWN outer, HRESULT* phr);
  friend CUnknown* vxvk::CreateFilterInstance<CAudioCompressor>(LPUNKNOWN, HRESULT*);

  // The output formats offered for the connected input (m_csFilter held), found on first use.
  const std::vector<vxvk::WaveFormatBlock>& OffersLocked();
  // Converts m_work and delivers what comes out (m_csReceive held); END flushes the stream.
  HRESULT ConvertAndDeliverLocked(DWORD flags);

  // Configuration, guarded by m_csFilter
  vxvk::WaveFormatBlock m_chosen;  // empty: the output pin offers every driver's formats
  // Negotiated on connect, guarded by m_csFilter
  vxvk::WaveFormatBlock m_input, m_output;
  std::vector<vxvk::WaveFormatBlock> m_offers;
  bool m_offersFound = false;
  // Runtime, guarded by m_csReceive
  HACMSTREAM m_stream = nullptr;
  DWORD m_outputBytesPerSecond = 0;  // of the output format, for the output times
  std::vector<BYTE> m_work;      // source not yet converted: an incomplete block, then new input
  bool m_startStream = true;     // the next conversion starts the stream afresh
  bool m_discontinuity = true;   // the next output sample is marked as a discontinuity
  REFERENCE_TIME m_baseTime = -1;  // time of the first output byte since the last start; -1 none
  LONGLONG m_bytesOut = 0;       // output bytes since m_baseTime
  // Set by EndFlush (which does not hold the receive lock); the next sample restarts the stream.
  std::atomic<bool> m_flushed{false};
};

extern const AMOVIESETUP_FILTER sudAudioCompressor;
