// A source that offers a fixed list of types and takes back only those, and a sink whose
// input offers a list of types of its own and takes what its predicate says, for driving the
// subtype adapter in a graph.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <mutex>
#include <vector>

#include "media/contract/com.h"
#include "media/contract/uuids.h"
#include "platform/streaming/base/basefilter.h"
#include "platform/streaming/base/streampins.h"
#include "tests/support/testenv.h"

namespace shimtest {

// Loads a component library from build/lib and runs its DllRegisterServer.
inline HRESULT RegisterLibrary(const std::string& name, void** module = nullptr) {
  void* m = dlopen(tavtest::LibraryPath(name).c_str(), RTLD_NOW);
  if (!m) return E_FAIL;
  if (module) *module = m;
  auto reg = reinterpret_cast<PFN_DllRegisterServer>(dlsym(m, "DllRegisterServer"));
  return reg ? reg() : E_FAIL;
}

// A compressed video type: a VIDEOINFOHEADER (or VIDEOINFOHEADER2) whose compression is code.
inline CMediaType VideoType(FOURCC code, LONG width, LONG height, bool videoInfo2 = false) {
  CMediaType mt;
  mt.InitMediaType();
  mt.SetType(&MEDIATYPE_Video);
  const GUID subtype = FourccSubtype(code);
  mt.SetSubtype(&subtype);
  mt.SetVariableSize();
  mt.SetTemporalCompression(TRUE);
  BITMAPINFOHEADER* bih = nullptr;
  if (videoInfo2) {
    mt.SetFormatType(&FORMAT_VideoInfo2);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER2*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER2)));
    vih->AvgTimePerFrame = 400000;
    vih->dwPictAspectRatioX = 4;
    vih->dwPictAspectRatioY = 3;
    bih = &vih->bmiHeader;
  } else {
    mt.SetFormatType(&FORMAT_VideoInfo);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    vih->AvgTimePerFrame = 400000;
    vih->dwBitRate = 123456;
    bih = &vih->bmiHeader;
  }
  bih->biSize = sizeof(BITMAPINFOHEADER);
  bih->biWidth = width;
  bih->biHeight = height;
  bih->biPlanes = 1;
  bih->biBitCount = 24;
  bih->biCompression = code;
  bih->biSizeImage = DWORD(width * height * 3);
  return mt;
}

inline FOURCC CompressionOf(const AM_MEDIA_TYPE& mt) {
  if (mt.formattype == FORMAT_VideoInfo)
    return reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader.biCompression;
  if (mt.formattype == FORMAT_VideoInfo2)
    return reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat)->bmiHeader.biCompression;
  return 0;
}

class Source final : public CBaseFilter {
 public:
  class Pin final : public CBaseOutputPin {
   public:
    Pin(Source* f, HRESULT* phr) : CBaseOutputPin(NAME("shim test source out"), f, &f->m_lock, phr, u"Out"), m_src(f) {}
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
    HRESULT DecideBufferSize(IMemAllocator* a, ALLOCATOR_PROPERTIES* request) override {
      request->cBuffers = std::max<LONG>(request->cBuffers, 3);
      request->cbBuffer = std::max<LONG>(request->cbBuffer, 4096);
      if (request->cbAlign < 1) request->cbAlign = 1;
      ALLOCATOR_PROPERTIES actual{};
      return a->SetProperties(request, &actual);
    }

   private:
    Source* m_src;
  };

  explicit Source(std::vector<CMediaType> offered)
      : CBaseFilter(NAME("shim test source"), nullptr, &m_lock, GUID_NULL), types(std::move(offered)) {
    HRESULT hr = S_OK;
    m_pin = new Pin(this, &hr);
  }
  ~Source() override { delete m_pin; }
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? m_pin : nullptr; }
  Pin* OutPin() { return m_pin; }

  // Delivers the bytes with the given times; *sent is the sample that went out.
  HRESULT Push(REFERENCE_TIME start, REFERENCE_TIME stop, const std::vector<BYTE>& bytes, IMediaSample** sent) {
    ComPtr<IMediaSample> s;
    HRESULT hr = m_pin->GetDeliveryBuffer(&s, nullptr, nullptr, 0);
    if (FAILED(hr)) return hr;
    if (LONG(bytes.size()) > s->GetSize()) return E_INVALIDARG;
    BYTE* p = nullptr;
    s->GetPointer(&p);
    std::memcpy(p, bytes.data(), bytes.size());
    s->SetActualDataLength(LONG(bytes.size()));
    s->SetTime(&start, &stop);
    s->SetSyncPoint(TRUE);
    if (sent) *sent = s.Get();
    return m_pin->Deliver(s.Get());
  }

  std::vector<CMediaType> types;

 private:
  CCritSec m_lock;
  Pin* m_pin = nullptr;
};

class Sink final : public CBaseFilter {
 public:
  struct Frame {
    IMediaSample* sample = nullptr;  // identity only
    REFERENCE_TIME start = -1, stop = -1;
    std::vector<BYTE> data;
  };

  class Pin final : public CBaseInputPin {
   public:
    Pin(Sink* f, HRESULT* phr) : CBaseInputPin(NAME("shim test sink in"), f, &f->m_lock, phr, u"In"), m_sink(f) {}
    HRESULT CheckMediaType(const CMediaType* mt) override {
      return m_sink->accept(*mt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
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
      BYTE* p = nullptr;
      if (s->GetPointer(&p) == S_OK && p) f.data.assign(p, p + s->GetActualDataLength());
      std::lock_guard<std::mutex> g(m_sink->framesLock);
      m_sink->frames.push_back(std::move(f));
      return S_OK;
    }

   private:
    Sink* m_sink;
  };

  Sink() : CBaseFilter(NAME("shim test sink"), nullptr, &m_lock, GUID_NULL) {
    HRESULT hr = S_OK;
    m_pin = new Pin(this, &hr);
  }
  ~Sink() override { delete m_pin; }
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? m_pin : nullptr; }
  Pin* InPin() { return m_pin; }

  // Takes only video labelled MP43 unless told otherwise.
  std::function<bool(const CMediaType&)> accept = [](const CMediaType& mt) {
    return mt.majortype == MEDIATYPE_Video && mt.subtype == MEDIASUBTYPE_MP43;
  };
  std::vector<CMediaType> offered;
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

}  // namespace shimtest
