// CAvSplitter: the parser filters and file sources built on libavformat. A splitter pulls
// its file through the upstream pin's IAsyncReader (AVI, MPEG-1, DV); a source opens the
// file itself (IFileSourceFilter: ASF, MPEG-4 / QuickTime, MPEG program streams). Either
// way each stream gets an output pin with the platform's media type, and one streaming
// thread reads packets and delivers them as samples with times, sync points and
// discontinuities. Every output pin answers IMediaSeeking for the whole filter.
//
// Lock order: seekLock_ (seeking and the streaming thread's life) before the filter lock
// lock_ (state, pins, connection). The streaming thread takes neither while delivering;
// it reads the stop position under positionLock_.
//
// Streaming thread states:
//   none    -> running   Pause from stopped, or a seek while active (StartStreaming)
//   running -> none      Stop, or a seek while active (StopStreaming: flush, stop, join)
//   running -> finished  end of file or an error: end of stream on every pin; the
//                        thread ends and is joined by the next StopStreaming
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/filters/sources/avdemuxer.h"
#include "platform/streaming/base/streams.h"

namespace tav::filters {

class CAvSplitter;

// The kinds of filter the splitter class serves.
struct SplitterKind {
  const CLSID* clsid;
  LPCWSTR name;
  const char* format;       // libavformat demuxer name, null to probe
  bool pull;                // input pin over IAsyncReader (else IFileSourceFilter)
  bool mpegTypes;           // MPEG-1 payload types for MPEG-1 video
  bool streamPinNames;      // "Stream 00" pin names (else "Video", "Audio", ...)
  const GUID* const* inputSubtypes;  // accepted MEDIATYPE_Stream subtypes (pull), null-terminated
};

class CAvInputPin final : public CBasePin {
 public:
  CAvInputPin(CAvSplitter* filter, CCritSec* lock, HRESULT* phr);
  HRESULT CheckConnect(IPin* pin) override;
  HRESULT CheckMediaType(const CMediaType* mt) override;
  HRESULT CompleteConnect(IPin* receivePin) override;
  HRESULT BreakConnect() override;
  STDMETHODIMP BeginFlush() override { return S_OK; }
  STDMETHODIMP EndFlush() override { return S_OK; }
  STDMETHODIMP EndOfStream() override { return S_OK; }

 private:
  CAvSplitter* splitter_;
};

class CAvOutputPin final : public CBaseOutputPin, public CMediaTimeSeeking {
 public:
  CAvOutputPin(CAvSplitter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR name, int stream, const CMediaType& mt);

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  HRESULT CheckMediaType(const CMediaType* mt) override;
  HRESULT GetMediaType(int position, CMediaType* mt) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
  // Quality messages are not acted upon: every sample is delivered.
  STDMETHODIMP Notify(IBaseFilter*, Quality) override { return S_OK; }

  // IMediaSeeking (in media time): the filter's positions, whichever pin is asked.
  DECLARE_IMEDIASEEKING_POSITION_METHODS

  int StreamIndex() const { return stream_; }
  // Streaming thread only: a discontinuity is due on the next sample.
  bool discontinuity = true;
  // Streaming thread only: video packets ahead of the key frame at this time (100 ns) are
  // dropped after a seek; AvDemuxer::kNoKeyFrame delivers from the first packet.
  REFERENCE_TIME waitKeyFrame = AvDemuxer::kNoKeyFrame;
  // Past the stop position, or downstream takes no more: set by the pin's delivery thread,
  // read by the reading thread.
  std::atomic<bool> ended{false};

 private:
  CAvSplitter* splitter_;
  const int stream_;  // the demuxer's stream index
  CMediaType type_;   // the one type the pin offers
};

// Besides its pins the filter answers IPropertyBag with what it found in the file and
// gives no pin: "CoverPictures" (VT_I4) counts the still cover pictures (album art, a
// poster), so that a graph builder can tell a song with its art from a movie.
class CAvSplitter : public CBaseFilter, public IFileSourceFilter, public IPropertyBag {
 public:
  CAvSplitter(const SplitterKind& kind, LPUNKNOWN outer, HRESULT* phr);
  ~CAvSplitter() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  int GetPinCount() override;
  CBasePin* GetPin(int n) override;
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;

  // IFileSourceFilter (sources only).
  STDMETHODIMP Load(LPCOLESTR fileName, const AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mt) override;

  // IPropertyBag (read only).
  STDMETHODIMP Read(LPCOLESTR name, VARIANT* var, IErrorLog* log) override;
  STDMETHODIMP Write(LPCOLESTR name, VARIANT* var) override;

  // Opens the demuxer over source and makes the output pins (filter lock held); subtype
  // is the input's stream subtype (GUID_NULL for a file).
  HRESULT OpenLocked(std::unique_ptr<ByteSource> source, const GUID& subtype);
  // Removes the output pins and closes the demuxer (filter lock held).
  void CloseLocked();
  const SplitterKind& Kind() const { return kind_; }

  // Seeking, for the output pins.
  HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags);
  void GetPositions(LONGLONG* current, LONGLONG* stop, LONGLONG* duration);
  DWORD Capabilities();

 private:
  HRESULT StartStreaming();
  // flush: deliver a flush downstream so that a blocked delivery returns.
  void StopStreaming(bool flush);
  void StreamingThread();
  HRESULT DeliverPacket(CAvOutputPin* pin, AVPacket* packet);

  // One connected output pin's delivery. The reading thread queues the pin's packets (and
  // the segment and end-of-stream marks) and the pin's own thread delivers them, so that a
  // downstream filter holding on to a sample (a paused renderer waiting to run) stops only
  // its own stream: the others still reach their renderers and the pause completes.
  struct PinDelivery {
    struct Item {
      enum Kind { Packet, Segment, End } kind = Packet;
      AvPacketPtr packet;
      REFERENCE_TIME start = 0, stop = 0;
    };
    CAvOutputPin* pin = nullptr;
    std::mutex lock;  // guards items, bytes, quit and the two waiting flags
    // The reading thread waits here while the queue is full; the delivery thread signals once
    // the queue has drained to half, and StopStreaming on quit. Waking the reader for every
    // packet taken from a full queue cost two thread switches a packet.
    std::condition_variable roomFreed;
    // The delivery thread waits here while the queue is empty; the reading thread signals
    // when it queues an item, and StopStreaming on quit.
    std::condition_variable itemQueued;
    std::deque<Item> items;
    size_t bytes = 0;
    bool quit = false;             // set by StopStreaming: drop what is queued and end
    bool readerWaiting = false;    // the reading thread sleeps on roomFreed
    bool deliveryWaiting = false;  // the delivery thread sleeps on itemQueued
    std::thread thread;
  };
  // Waits while the pin's queue is full (and streaming goes on); false once stopping.
  bool Queue(PinDelivery& d, PinDelivery::Item item);
  void DeliveryThread(PinDelivery* d);

  const SplitterKind& kind_;
  CCritSec lock_;      // the filter lock
  CCritSec seekLock_;  // serialises seeks and the streaming thread's start and stop
  // Configuration, guarded by lock_: set when the input connects or a file loads.
  std::unique_ptr<CAvInputPin> input_;  // pull splitters only
  std::vector<CAvOutputPin*> outputs_;
  std::vector<std::unique_ptr<CAvOutputPin>> retired_;  // pins of a closed file
  std::unique_ptr<ByteSource> source_;
  std::unique_ptr<AvDemuxer> demuxer_;
  std::u16string fileName_;
  int coverPictures_ = 0;  // streams of the open file that are cover pictures
  // Positions, guarded by positionLock_.
  CCritSec positionLock_;
  REFERENCE_TIME start_ = 0;
  REFERENCE_TIME stop_ = 0;
  REFERENCE_TIME duration_ = 0;
  // Packets end the stream at stop_ only once a stop before the end was asked for: the
  // duration of some streams (raw elementary video) is only an estimate.
  bool stopSet_ = false;
  REFERENCE_TIME seekTarget_ = 0;  // where the demuxer is positioned when streaming starts
  // Runtime: the streaming thread and the pins' delivery threads, guarded by seekLock_.
  std::thread thread_;
  std::vector<std::unique_ptr<PinDelivery>> deliveries_;
  std::atomic<bool> stopRequested_{false};
};

// Factories of the splitters and sources, and their filter data.
CUnknown* CreateAviSplitter(LPUNKNOWN outer, HRESULT* phr);
CUnknown* CreateMpeg1Splitter(LPUNKNOWN outer, HRESULT* phr);
CUnknown* CreateDvSplitter(LPUNKNOWN outer, HRESULT* phr);
CUnknown* CreateAsfReader(LPUNKNOWN outer, HRESULT* phr);
CUnknown* CreateMpeg4Source(LPUNKNOWN outer, HRESULT* phr);
CUnknown* CreateMpegProgramSource(LPUNKNOWN outer, HRESULT* phr);
CUnknown* CreateAvFileSource(LPUNKNOWN outer, HRESULT* phr);
extern const AMOVIESETUP_FILTER sudAviSplitter;
extern const AMOVIESETUP_FILTER sudMpeg1Splitter;
extern const AMOVIESETUP_FILTER sudDvSplitter;
extern const AMOVIESETUP_FILTER sudAsfReader;
extern const AMOVIESETUP_FILTER sudMpeg4Source;
extern const AMOVIESETUP_FILTER sudMpegProgramSource;
extern const AMOVIESETUP_FILTER sudAvFileSource;

}  // namespace tav::filters
