// Test harness for single filters: the filter library loaded straight from its file, a
// packet source that pushes samples from the test thread, and a sink that keeps what it
// receives. Fixtures are movies made with the ffmpeg tool and demuxed with libavformat.
#pragma once

#include <string>
#include <vector>

#include "platform/streaming/base/streams.h"

namespace filtertest {

// Creates a class of libtavrionfilters through its DllGetClassObject.
HRESULT CreateFilter(REFCLSID clsid, IBaseFilter** filter);
// S_OK when no object of the library is alive.
HRESULT LibraryCanUnloadNow();

struct Packet {
  std::vector<BYTE> data;
  REFERENCE_TIME start = 0, stop = 0;
  bool timed = false, key = false;
};
// Makes a movie with the ffmpeg tool (arguments between input and output); returns its path.
std::string MakeMovie(const std::string& name, const std::string& args);
// The first stream of the kind ("video"/"audio") of a movie, in the platform's media type
// as a splitter gives it, and its packets.
bool ReadStream(const std::string& path, bool video, CMediaType* mt, std::vector<Packet>* packets);

class PushSource;
class CollectSink;

// Output pin that the test drives by hand.
class PushPin final : public CBaseOutputPin {
 public:
  PushPin(CBaseFilter* f, CCritSec* lock, HRESULT* phr, const CMediaType& mt);
  HRESULT CheckMediaType(const CMediaType* mt) override;
  HRESULT GetMediaType(int position, CMediaType* mt) override;
  HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* props) override;
  HRESULT Push(const Packet& p, bool discontinuity);

 private:
  CMediaType type_;
};

class PushSource final : public CBaseFilter {
 public:
  explicit PushSource(const CMediaType& mt);
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }
  PushPin* Pin() { return &pin_; }

 private:
  CCritSec lock_;
  HRESULT hr_ = S_OK;
  PushPin pin_;
};

struct Received {
  std::vector<BYTE> data;
  const BYTE* buffer = nullptr;  // the sample's memory, to see buffers come round again
  REFERENCE_TIME start = 0, stop = 0;
  bool discontinuity = false;
};

class CollectPin final : public CBaseInputPin {
 public:
  CollectPin(CollectSink* f, CCritSec* lock, HRESULT* phr);
  HRESULT CheckMediaType(const CMediaType* mt) override;
  STDMETHODIMP Receive(IMediaSample* s) override;
  STDMETHODIMP EndOfStream() override;
  CollectSink* sink_;
};

class CollectSink final : public CBaseFilter {
 public:
  // Takes only types of this subtype (GUID_NULL: any).
  explicit CollectSink(const GUID& subtype = GUID_NULL);
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }
  CollectPin* Pin() { return &pin_; }

  GUID subtype;
  std::vector<Received> samples;
  bool ended = false;

 private:
  CCritSec lock_;
  HRESULT hr_ = S_OK;
  CollectPin pin_;
};

// First pin of the direction on a filter.
ComPtr<IPin> FindPin(IBaseFilter* f, PIN_DIRECTION dir, int index = 0);
// Pauses the filters (downstream first), pushes the packets and end of stream, stops.
HRESULT PushAll(PushSource* src, const std::vector<IBaseFilter*>& filters, const std::vector<Packet>& packets);

}  // namespace filtertest
