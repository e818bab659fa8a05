// A push source and a recording sink for graph tests of the VxVideoKit filters, and the
// graph library's registration into the test's private registry.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <mutex>
#include <vector>

#include "libs/vxvideokit/tests/filterhelpers.h"
#include "media/contract/com.h"
#include "media/contract/uuids.h"
#include "platform/streaming/base/basefilter.h"
#include "platform/streaming/base/streampins.h"
#include "tests/support/testenv.h"

namespace vktest {

// Loads a component library from build/lib and runs its DllRegisterServer.
inline HRESULT RegisterLibrary(const std::string& name, void** module = nullptr) {
  void* m = dlopen(tavtest::LibraryPath(name).c_str(), RTLD_NOW);
  if (!m) return E_FAIL;
  if (module) *module = m;
  auto reg = reinterpret_cast<PFN_DllRegisterServer>(dlsym(m, "DllRegisterServer"));
  return reg ? reg() : E_FAIL;
}

// A source filter with one output pin of a fixed type; the test thread pushes frames.
class TestSource : public CBaseFilter {
 public:
  class Pin final : public CBaseOutputPin {
   public:
    Pin(TestSource* f, HRESULT* phr) : CBaseOutputPin(NAME("test source out"), f, &f->m_lock, phr, u"Out") {}
    HRESULT CheckMediaType(const CMediaType* mt) override { return *mt == type ? S_OK : VFW_E_TYPE_NOT_ACCEPTED; }
    HRESULT GetMediaType(int position, CMediaType* mt) override {
      if (position != 0) return VFW_S_NO_MORE_ITEMS;
      *mt = type;
      return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* a, ALLOCATOR_PROPERTIES* request) override {
      request->cBuffers = 2;
      request->cbBuffer = LONG(type.lSampleSize);
      if (request->cbAlign < 1) request->cbAlign = 1;
      ALLOCATOR_PROPERTIES actual{};
      return a->SetProperties(request, &actual);
    }
    CMediaType type;
  };

  explicit TestSource(const CMediaType& type) : CBaseFilter(NAME("test source"), nullptr, &m_lock, GUID_NULL) {
    HRESULT hr = S_OK;
    m_pin = new Pin(this, &hr);
    m_pin->type = type;
  }
  ~TestSource() override { delete m_pin; }
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? m_pin : nullptr; }
  IPin* OutPin() { return m_pin; }

  HRESULT NewSegment() { return m_pin->DeliverNewSegment(0, MAX_TIME, 1.0); }
  HRESULT EndOfStream() { return m_pin->DeliverEndOfStream(); }
  HRESULT Flush() {
    HRESULT hr = m_pin->DeliverBeginFlush();
    return SUCCEEDED(hr) ? m_pin->DeliverEndFlush() : hr;
  }
  // Delivers a frame whose every 32-bit pixel holds `value`; start < 0 sends no times.
  HRESULT Push(REFERENCE_TIME start, REFERENCE_TIME stop, uint32_t value) {
    ComPtr<IMediaSample> s;
    HRESULT hr = m_pin->GetDeliveryBuffer(&s, nullptr, nullptr, 0);
    if (FAILED(hr)) return hr;
    BYTE* p = nullptr;
    s->GetPointer(&p);
    const LONG size = LONG(m_pin->type.lSampleSize);
    for (LONG i = 0; i + 4 <= size; i += 4) std::memcpy(p + i, &value, 4);
    s->SetActualDataLength(size);
    if (start >= 0) s->SetTime(&start, &stop);
    return m_pin->Deliver(s.Get());
  }
  // Delivers the given bytes; `delivered` keeps the sample for a look at it afterwards.
  HRESULT PushBytes(REFERENCE_TIME start, REFERENCE_TIME stop, const std::vector<BYTE>& bytes,
                    ComPtr<IMediaSample>* delivered = nullptr) {
    ComPtr<IMediaSample> s;
    HRESULT hr = m_pin->GetDeliveryBuffer(&s, nullptr, nullptr, 0);
    if (FAILED(hr)) return hr;
    if (LONG(bytes.size()) > s->GetSize()) return E_INVALIDARG;
    BYTE* p = nullptr;
    s->GetPointer(&p);
    std::memcpy(p, bytes.data(), bytes.size());
    s->SetActualDataLength(LONG(bytes.size()));
    if (start >= 0) s->SetTime(&start, &stop);
    hr = m_pin->Deliver(s.Get());
    if (delivered) *delivered = s;
    return hr;
  }

 private:
  CCritSec m_lock;
  Pin* m_pin = nullptr;
};

// A sink that records every sample it receives and reads (GetPointer) those its policy says.
class TestSink final : public CBaseFilter {
 public:
  struct Frame {
    REFERENCE_TIME start = -1, stop = -1;
    bool read = false;
    uint32_t firstPixel = 0;
    std::vector<BYTE> data;  // the bytes read
    IMediaSample* sample = nullptr;  // identity only
  };

  class Pin final : public CBaseInputPin {
   public:
    Pin(TestSink* f, HRESULT* phr) : CBaseInputPin(NAME("test sink in"), f, &f->m_lock, phr, u"In"), m_sink(f) {}
    HRESULT CheckMediaType(const CMediaType* mt) override {
      return mt->majortype == m_sink->acceptMajor ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    STDMETHODIMP Receive(IMediaSample* s) override {
      HRESULT hr = CBaseInputPin::Receive(s);
      if (hr != S_OK) return hr;
      Frame f;
      f.sample = s;
      s->GetTime(&f.start, &f.stop);
      std::lock_guard<std::mutex> g(m_sink->m_framesLock);
      f.read = !m_sink->readPolicy || m_sink->readPolicy(m_sink->frames.size());
      if (f.read) {
        BYTE* p = nullptr;
        if (s->GetPointer(&p) == S_OK && p) {
          std::memcpy(&f.firstPixel, p, 4);
          f.data.assign(p, p + s->GetActualDataLength());
        }
      }
      m_sink->frames.push_back(f);
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
  IPin* InPin() { return m_pin; }
  CMediaType ConnectionType() {
    CMediaType mt;
    AM_MEDIA_TYPE t{};
    if (m_pin->ConnectionMediaType(&t) == S_OK) {
      mt = t;
      FreeMediaType(t);
    }
    return mt;
  }

  GUID acceptMajor = MEDIATYPE_Video;
  bool endOfStream = false;
  int flushes = 0;
  std::function<bool(size_t)> readPolicy;  // by arrival index; null: read everything
  std::mutex m_framesLock;
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

}  // namespace vktest
