// CAvDecoderFilter: the platform's decoders and converters on FFmpeg, one transform filter
// class configured per registered name: "AVI Decompressor", "MPEG1 Video Decoder",
// "DV Video Decoder" (with IIPDVDec), "MPEG Layer-3 Decoder", "MPEG Audio Decoder", the
// generic "Video Decoder" / "Audio Decoder", the "Color Space Converter", the
// "ACM Wrapper" (IAMStreamConfig on its output pin) and the DMO wrapper, which takes its
// decoder from IDMOWrapperFilter::Init. The video kinds answer IDecimateVideoImage. Seeking passes upstream through the output pin;
// flushing and end of stream pass downstream after the codec is emptied.
//
// Lock order: m_csFilter before m_csReceive (the base class's), as in CTransformFilter.
#pragma once

#include <memory>

#include "platform/filters/decoders/decoderengine.h"
#include "platform/streaming/base/streams.h"

namespace tav::filters {

class CAvDecoderFilter : public CTransformFilter,
                         public IIPDVDec,
                         public IDMOWrapperFilter,
                         public IDecimateVideoImage,
                         private SampleSink {
 public:
  enum class Kind { AviDecompressor, Mpeg1Video, DvVideo, Mp3, MpegAudio, GenericVideo, GenericAudio, Colour, AcmWrapper, DmoWrapper };

  CAvDecoderFilter(Kind kind, LPUNKNOWN outer, HRESULT* phr);
  ~CAvDecoderFilter() override;

  static CUnknown* CreateAviDecompressor(LPUNKNOWN outer, HRESULT* phr);
  static CUnknown* CreateMpeg1VideoDecoder(LPUNKNOWN outer, HRESULT* phr);
  static CUnknown* CreateDvVideoDecoder(LPUNKNOWN outer, HRESULT* phr);
  static CUnknown* CreateMp3Decoder(LPUNKNOWN outer, HRESULT* phr);
  static CUnknown* CreateMpegAudioDecoder(LPUNKNOWN outer, HRESULT* phr);
  static CUnknown* CreateVideoDecoder(LPUNKNOWN outer, HRESULT* phr);
  static CUnknown* CreateAudioDecoder(LPUNKNOWN outer, HRESULT* phr);
  static CUnknown* CreateColourConverter(LPUNKNOWN outer, HRESULT* phr);
  static CUnknown* CreateAcmWrapper(LPUNKNOWN outer, HRESULT* phr);
  static CUnknown* CreateDmoWrapper(LPUNKNOWN outer, HRESULT* phr);

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  CBasePin* GetPin(int n) override;

  // Negotiation
  HRESULT CheckInputType(const CMediaType* mtIn) override;
  HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) override;
  HRESULT GetMediaType(int position, CMediaType* mt) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) override;

  // Streaming
  HRESULT StartStreaming() override;
  HRESULT StopStreaming() override;
  HRESULT Receive(IMediaSample* sample) override;
  HRESULT EndOfStream() override;
  HRESULT EndFlush() override;
  HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

  // IIPDVDec (the DV decoder only): display resolution, 1000 full to 1003 an eighth.
  STDMETHODIMP get_IPDisplay(int* displayPix) override;
  STDMETHODIMP put_IPDisplay(int displayPix) override;

  // IDMOWrapperFilter (the DMO wrapper only): picks the decoder object once, before the
  // pins connect. REGDB_E_CLASSNOTREG for an object this platform does not have.
  STDMETHODIMP Init(REFCLSID dmo, REFCLSID category) override;

  // IDecimateVideoImage (the video kinds): pictures delivered at a smaller size, scaled from
  // the decoder's own pictures. Only while the output pin is unconnected (E_FAIL otherwise),
  // after the input pin connected, and no larger than the display size.
  STDMETHODIMP SetDecimationImageSize(LONG width, LONG height) override;
  STDMETHODIMP ResetDecimationImageSize() override;

  // The ACM wrapper's forced output (IAMStreamConfig on its output pin).
  HRESULT SetForcedOutput(const CMediaType& mt);
  HRESULT GetOutputFormat(CMediaType* mt);

 private:
  HRESULT GetBuffer(IMediaSample** sample) override;
  HRESULT Deliver(IMediaSample* sample) override;
  // True when a failed delivery only means that the graph is stopping or flushing.
  bool StoppingOrFlushing(HRESULT hr);

  // Configuration
  const Kind kind_;
  // The engine; made at construction, or by Init for the DMO wrapper. Guarded by m_csFilter.
  std::unique_ptr<DecoderEngine> engine_;
  AudioEngine* audio_ = nullptr;  // engine_ when it is an audio engine
  int dvResolution_ = DVDECODERRESOLUTION_720x480;  // guarded by m_csFilter
  // Length of the current segment (its stop less its start), MAX_TIME when it has no stop;
  // output that starts at or after it is not delivered. Streaming thread only.
  REFERENCE_TIME segmentLength_ = MAX_TIME;
};

}  // namespace tav::filters

// Filter data for the library's table.
extern const AMOVIESETUP_FILTER sudAviDecompressor;
extern const AMOVIESETUP_FILTER sudMpeg1VideoDecoder;
extern const AMOVIESETUP_FILTER sudDvVideoDecoder;
extern const AMOVIESETUP_FILTER sudMp3Decoder;
extern const AMOVIESETUP_FILTER sudMpegAudioDecoder;
extern const AMOVIESETUP_FILTER sudVideoDecoder;
extern const AMOVIESETUP_FILTER sudAudioDecoder;
extern const AMOVIESETUP_FILTER sudColourConverter;
extern const AMOVIESETUP_FILTER sudAcmWrapper;
extern const AMOVIESETUP_FILTER sudDmoWrapper;
// Registers (add) or removes the decoder objects the wrapper hosts, with their input and
// output types, where the filter mapper finds them.
HRESULT RegisterDecoderObjects(bool add);
