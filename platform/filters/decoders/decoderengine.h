// The streaming half of a decoder or converter: what turns input samples of one media
// type into output samples of another. CAvDecoderFilter owns one engine and drives it from
// its pins; the video engine (libavcodec + libswscale) and the audio engine (libavcodec +
// libswresample) are the two kinds. An engine is only used under the filter's locks:
// negotiation under the filter lock, streaming under the receive lock.
#pragma once

#include <memory>

#include "platform/streaming/base/streams.h"

namespace tav::filters {

// Where an engine gets output buffers and sends them.
class SampleSink {
 public:
  virtual HRESULT GetBuffer(IMediaSample** sample) = 0;
  virtual HRESULT Deliver(IMediaSample* sample) = 0;

 protected:
  ~SampleSink() = default;
};

class DecoderEngine {
 public:
  virtual ~DecoderEngine() = default;

  // Negotiation
  virtual HRESULT CheckInputType(const CMediaType& in) = 0;
  virtual HRESULT CheckTransform(const CMediaType& in, const CMediaType& out) = 0;
  virtual HRESULT GetMediaType(const CMediaType& in, int position, CMediaType* out) = 0;
  virtual HRESULT DecideBufferSize(const CMediaType& out, IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) = 0;

  // Streaming: Start opens the codec for the connected types, Stop closes it.
  virtual HRESULT Start(const CMediaType& in, const CMediaType& out) = 0;
  virtual void Stop() = 0;
  virtual HRESULT Receive(IMediaSample* in, SampleSink& sink) = 0;
  // End of stream: delivers what the codec still holds.
  virtual HRESULT Drain(SampleSink& sink) = 0;
  // Flush or new segment: drops what the codec holds; the next output is a discontinuity.
  virtual void Flush() = 0;
};

// What a video engine accepts and offers.
struct VideoEngineOptions {
  // Input subtypes taken, null-terminated; null takes any video type FFmpeg decodes.
  const GUID* const* subtypes = nullptr;
  bool compressedOnly = false;   // uncompressed input refused (a decoder, not a converter)
  bool uncompressedOnly = false; // the colour space converter
  bool rgbOutputOnly = false;    // no YUY2 output
};
std::unique_ptr<DecoderEngine> MakeVideoEngine(const VideoEngineOptions& options);
// The DV decoder's display resolution (one of the _DVDECODERRESOLUTION values).
void SetVideoEngineScale(DecoderEngine* engine, int divisor);
// Pictures delivered at width x height instead of the display size of input (0 x 0: the
// display size again). E_FAIL when the engine is not a video engine or the size is not
// within the display size.
HRESULT SetVideoEngineDecimation(DecoderEngine* engine, const CMediaType& in, LONG width, LONG height);

// What an audio engine accepts and offers.
struct AudioEngineOptions {
  // Format tags taken (0-terminated), or subtypes (null-terminated); both null: any
  // compressed audio FFmpeg decodes.
  const WORD* tags = nullptr;
  const GUID* const* subtypes = nullptr;
  bool acceptPcm = false;  // PCM and float input converted (the ACM wrapper)
};
class AudioEngine : public DecoderEngine {
 public:
  // The output forced through IAMStreamConfig; an empty type restores the default.
  virtual HRESULT SetForcedOutput(const CMediaType& mt) = 0;
  virtual HRESULT GetForcedOutput(CMediaType* mt) = 0;
};
std::unique_ptr<AudioEngine> MakeAudioEngine(const AudioEngineOptions& options);

}  // namespace tav::filters
