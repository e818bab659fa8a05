// A push source and a recording sink for driving filters in a graph from a test thread, and
// small pin helpers. The source offers a list of types and takes back only those; the sink
// takes what its predicate says, offers a list of types of its own, and records every
// sample it receives (reading those its policy says). A fixture starts the component
// model with the libraries a test needs and checks at its end that nothing was left alive.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <vector>

#include "media/contract/com.h"
#include "media/contract/uuids.h"
#include "platform/streaming/base/basefilter.h"
#include "platform/streaming/base/streampins.h"
#include "tests/support/testenv.h"

namespace tavtest {

class TestSource : public CBaseFilter {
 public:
  class Pin final : public CBaseOutputPin {
   public:
    Pin(TestSource* f, HRESULT* phr) : CBaseOutputPin(NAME("test source out"), f, &f->m_lock, phr, u"Out"), m_src(f) {}
    HRESULT CheckMediaType(const CMediaType* mt) override {
      for (const CMediaType& t : m_src->types)
        if (t == *mt) return S_OK;
      return VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT GetMediaType(int position, CMediaType* mt) override {
      if (position < 0) return E_INVALIDARG;
      if (size_t(position) >= m_src->types.size()) return VFW_S_NO_MORE_ITEMS;
      *mt = m_src->types[size_t(position)];
      return S_OK;
    }
    // At least minBuffers buffers of at least minBufferBytes (0: the first type's sample size).
    HRESULT DecideBufferSize(IMemAllocator* a, ALLOCATOR_PROPERTIES* request) override {
      const LONG bytes = m_src->minBufferBytes > 0 || m_src->types.empty() ? m_src->minBufferBytes
                                                                           : LONG(m_src->types[0].lSampleSize);
      request->cBuffers = std::max<LONG>(request->cBuffers, m_src->minBuffers);
      request->cbBuffer = std::max<LONG>(request->cbBuffer, bytes);
      if (request->cbAlign < 1) request->cbAlign = 1;
      ALLOCATOR_PROPERTIES actual{};
      return a->SetProperties(request, &actual);
    }

   private:
    TestSource* m_src;
  };

  explicit TestSource(std::vector<CMediaType> offered)
      : CBaseFilter(NAME("test source"), nullptr, &m_lock, GUID_NULL), types(std::move(offered)) {
    HRESULT hr = S_OK;
    m_pin = new Pin(this, &hr);
  }
  explicit TestSource(const CMediaType& type) : TestSource(std::vector<CMediaType>{type}) {}
  ~TestSource() override { delete m_pin; }
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? m_pin : nullptr; }
  Pin* OutPin() { return m_pin; }

  HRESULT NewSegment() { return m_pin->DeliverNewSegment(0, MAX_TIME, 1.0); }
  HRESULT EndOfStream() { return m_pin->DeliverEndOfStream(); }
  HRESULT Flush() {
    HRESULT hr = m_pin->DeliverBeginFlush();
    return SUCCEEDED(hr) ? m_pin->DeliverEndFlush() : hr;
  }
  // Delivers a sample of the first type's size whose every 32-bit word holds `value`;
  // start < 0 sends no times.
  HRESULT Push(REFERENCE_TIME start, REFERENCE_TIME stop, uint32_t value) {
    ComPtr<IMediaSample> s;
    HRESULT hr = m_pin->GetDeliveryBuffer(&s, nullptr, nullptr, 0);
    if (FAILED(hr)) return hr;
    BYTE* p = nullptr;
    s->GetPointer(&p);
    const LONG size = types.empty() ? 0 : LONG(types[0].lSampleSize);
    for (LONG i = 0; i + 4 <= size; i += 4) std::memcpy(p + i, &value, 4);
    s->SetActualDataLength(size);
    if (start >= 0) s->SetTime(&start, &stop);
    return m_pin->Deliver(s.Get());
  }
  // Delivers the given bytes (start < 0: no times; syncPoint marks a key frame); `delivered`
  // keeps the sample for a look at it afterwards.
  HRESULT PushBytes(REFERENCE_TIME start, REFERENCE_TIME stop, const std::vector<BYTE>& bytes,
                    ComPtr<IMediaSample>* delivered = nullptr, bool syncPoint = false) {
    ComPtr<IMediaSample> s;
    HRESULT hr = m_pin->GetDeliveryBuffer(&s, nullptr, nullptr, 0);
    if (FAILED(hr)) return hr;
    if (LONG(bytes.size()) > s->GetSize()) return E_INVALIDARG;
    BYTE* p = nullptr;
    s->GetPointer(&p);
    std::memcpy(p, bytes.data(), bytes.size());
    s->SetActualDataLength(LONG(bytes.size()));
    if (start >= 0) s->SetTime(&start, &stop);
    if (syncPoint) s->SetSyncPoint(TRUE);
    if (delivered) *delivered = s;
    return m_pin->Deliver(s.Get());
  }

  std::vector<CMediaType> types;
  LONG minBuffers = 2;
  LONG minBufferBytes = 0;

 private:
  CCritSec m_lock;
  Pin* m_pin = nullptr;
};

class TestSink : public CBaseFilter {
 public:
  struct Frame {
    REFERENCE_TIME start = -1, stop = -1;
    bool read = false;
    uint32_t firstPixel = 0;
    std::vector<BYTE> data;          // the bytes read
    IMediaSample* sample = nullptr;  // identity only
  };

  class Pin final : public CBaseInputPin {
   public:
    Pin(TestSink* f, HRESULT* phr) : CBaseInputPin(NAME("test sink in"), f, &f->m_lock, phr, u"In"), m_sink(f) {}
    HRESULT CheckMediaType(const CMediaType* mt) override {
      const bool ok = m_sink->accept ? m_sink->accept(*mt) : mt->majortype == m_sink->acceptMajor;
      return ok ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT GetMediaType(int position, CMediaType* mt) override {
      if (position < 0) return E_INVALIDARG;
      if (size_t(position) >= m_sink->offered.size()) return VFW_S_NO_MORE_ITEMS;
      *mt = m_sink->offered[size_t(position)];
      return S_OK;
    }
    STDMETHODIMP Receive(IMediaSample* s) override {
      HRESULT hr = CBaseInputPin::Receive(s);
      if (hr != S_OK) return hr;
      Frame f;
      f.sample = s;
      s->GetTime(&f.start, &f.stop);
      std::lock_guard<std::mutex> g(m_sink->framesLock);
      f.read = !m_sink->readPolicy || m_sink->readPolicy(m_sink->frames.size());
      if (f.read) {
        BYTE* p = nullptr;
        if (s->GetPointer(&p) == S_OK && p) {
          if (s->GetActualDataLength() >= 4) std::memcpy(&f.firstPixel, p, 4);
          f.data.assign(p, p + s->GetActualDataLength());
        }
      }
      m_sink->frames.push_back(std::move(f));
      return S_OK;
    }
    STDMETHODIMP EndOfStream() override {
      m_sink->endOfStream = true;
      return S_OK;
    }
    STDMETHODIMP BeginFlush() override {
      m_sink->flushes++;
      return CBaseInputPin::BeginFlush();
    }

   private:
    TestSink* m_sink;
  };

  TestSink() : CBaseFilter(NAME("test sink"), nullptr, &m_lock, GUID_NULL) {
    HRESULT hr = S_OK;
    m_pin = new Pin(this, &hr);
  }
  ~TestSink() override { delete m_pin; }
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? m_pin : nullptr; }
  Pin* InPin() { return m_pin; }
  CMediaType ConnectionType() {
    CMediaType mt;
    AM_MEDIA_TYPE t{};
    if (m_pin->ConnectionMediaType(&t) == S_OK) {
      mt = t;
      FreeMediaType(t);
    }
    return mt;
  }

  // The types the input takes: accept when set, else every type of major type acceptMajor.
  std::function<bool(const CMediaType&)> accept;
  GUID acceptMajor = MEDIATYPE_Video;
  std::vector<CMediaType> offered;  // what the input pin lists as its own types
  bool endOfStream = false;
  int flushes = 0;
  std::function<bool(size_t)> readPolicy;  // by arrival index; null: read everything
  std::mutex framesLock;
  std::vector<Frame> frames;

 private:
  CCritSec m_lock;
  Pin* m_pin = nullptr;
};

template <typename T>
ComPtr<IBaseFilter> AsFilter(T* object) {
  ComPtr<IBaseFilter> f;
  object->NonDelegatingQueryInterface(IID_IBaseFilter, f.AsVoidOut());
  return f;
}

inline ComPtr<IPin> PinOf(IBaseFilter* f, LPCWSTR name) {
  ComPtr<IPin> p;
  f->FindPin(name, &p);
  return p;
}

inline CMediaType ConnectionTypeOf(IPin* pin) {
  CMediaType mt;
  AM_MEDIA_TYPE t{};
  if (pin->ConnectionMediaType(&t) == S_OK) {
    mt = t;
    FreeMediaType(t);
  }
  return mt;
}

// A filter graph without a clock, so samples go as fast as the filters take them.
inline ComPtr<IGraphBuilder> NewGraph() {
  ComPtr<IGraphBuilder> graph;
  EXPECT_EQ(S_OK,
            CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.AsVoidOut()));
  if (graph) {
    EXPECT_EQ(S_OK, graph.As<IMediaFilter>()->SetSyncSource(nullptr));
  }
  return graph;
}

// A test of filters in the component model: Start() initialises it and registers the
// libraries the test names (the last one's module is kept in `module`); MakeGraph() adds a
// graph without a clock. At the end the graph is stopped and dropped, no object of the
// streaming base made in the test may be left and, when Start was told so, the last library
// must agree to be unloaded. A fixture that holds filters of its own drops them in its
// TearDown before calling this one's.
class FilterFixture : public ::testing::Test {
 protected:
  enum class AtEnd { kNoCheck, kLastLibraryUnloads };

  void Start(std::initializer_list<const char*> libraries = {"tavrionstreaming"}, AtEnd atEnd = AtEnd::kNoCheck) {
    CoInitialize(nullptr);
    m_started = true;
    m_atEnd = atEnd;
    for (const char* library : libraries) ASSERT_EQ(S_OK, RegisterLibrary(library, &module)) << library;
  }
  // False when the graph could not be made.
  bool MakeGraph() {
    graph = NewGraph();
    return bool(graph);
  }
  // Puts a filter object the test made into the graph, which owns it from then on: the
  // object, or null when the graph refused it (the object is gone then).
  template <typename T>
  T* Add(T* object, LPCWSTR name) {
    ComPtr<IBaseFilter> filter = AsFilter(object);
    return filter && graph->AddFilter(filter.Get(), name) == S_OK ? object : nullptr;
  }
  void TearDown() override {
    if (!m_started) return;  // skipped before Start
    if (graph) graph.As<IMediaControl>()->Stop();
    graph = nullptr;
    EXPECT_EQ(0, CBaseObject::ObjectsActive()) << "filters, pins, allocators or samples leaked";
    CoFreeUnusedLibraries();
    if (m_atEnd == AtEnd::kLastLibraryUnloads) {
      EXPECT_EQ(S_OK, LibraryCanUnload(module)) << "objects of the library are still alive";
    }
    CoUninitialize();
  }

  ComPtr<IGraphBuilder> graph;
  void* module = nullptr;  // the last library Start registered

 private:
  bool m_started = false;
  AtEnd m_atEnd = AtEnd::kNoCheck;
};

// The same with the streaming library alone registered and the graph made before each test.
class GraphFixture : public FilterFixture {
 protected:
  void SetUp() override {
    Start();
    ASSERT_TRUE(MakeGraph());
  }
};

// Every type a pin's enumerator lists.
inline std::vector<CMediaType> EnumeratedTypes(IPin* pin) {
  std::vector<CMediaType> out;
  ComPtr<IEnumMediaTypes> e;
  if (FAILED(pin->EnumMediaTypes(&e)) || !e) return out;
  AM_MEDIA_TYPE* t = nullptr;
  while (e->Next(1, &t, nullptr) == S_OK) {
    out.emplace_back(*t);
    DeleteMediaType(t);
  }
  return out;
}

}  // namespace tavtest
