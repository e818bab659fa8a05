// Small filters for the graph tests, on the base classes: a source with fixed output types,
// a converter from one video subtype to another, a renderer that accepts given subtypes,
// a file source for source lookup, and class factories that make them creatable by class
// identifier in this process.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <functional>
#include <string>
#include <vector>

#include <cstring>

#include "platform/streaming/base/streams.h"
#include "platform/streaming/graph/graph_util.h"

namespace graphtest {

inline CMediaType VideoType(const GUID& subtype) {
  CMediaType mt(&MEDIATYPE_Video);
  mt.SetSubtype(&subtype);
  mt.SetFormatType(&GUID_NULL);
  mt.SetSampleSize(1024);
  return mt;
}

// GetMediaType of a pin that offers one type.
inline HRESULT OfferOneType(int position, const CMediaType& type, CMediaType* mt) {
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  *mt = type;
  return S_OK;
}

// DecideBufferSize asking for at least `buffers` buffers of at least `bytes` each (more
// when the input pin asked for more).
inline HRESULT AskForAtLeast(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* props, LONG buffers, LONG bytes) {
  props->cBuffers = std::max<LONG>(props->cBuffers, buffers);
  props->cbBuffer = std::max<LONG>(props->cbBuffer, bytes);
  ALLOCATOR_PROPERTIES actual;
  return alloc->SetProperties(props, &actual);
}

// ---- a source with fixed output types (no streaming) ----------------------------------

class TypedSourcePin : public CBaseOutputPin {
 public:
  TypedSourcePin(CBaseFilter* f, CCritSec* lock, HRESULT* phr, std::vector<GUID> subtypes)
      : CBaseOutputPin("typed source pin", f, lock, phr, u"Out"), subtypes_(std::move(subtypes)) {}
  HRESULT CheckMediaType(const CMediaType* mt) override {
    if (*mt->Type() != MEDIATYPE_Video) return VFW_E_TYPE_NOT_ACCEPTED;
    for (const GUID& s : subtypes_)
      if (*mt->Subtype() == s) return S_OK;
    return VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT GetMediaType(int position, CMediaType* mt) override {
    if (position < 0) return E_INVALIDARG;
    if (position >= static_cast<int>(subtypes_.size())) return VFW_S_NO_MORE_ITEMS;
    *mt = VideoType(subtypes_[position]);
    return S_OK;
  }
  HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* props) override {
    return AskForAtLeast(alloc, props, 1, 1024);
  }

 private:
  std::vector<GUID> subtypes_;
};

class TypedSource : public CBaseFilter {
 public:
  TypedSource(const CLSID& clsid, std::vector<GUID> subtypes)
      : CBaseFilter("typed source", nullptr, &lock_, clsid), pin_(this, &lock_, &hr_, std::move(subtypes)) {}
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }
  IPin* Out() { return &pin_; }

 private:
  CCritSec lock_;
  HRESULT hr_ = S_OK;
  TypedSourcePin pin_;
};

// ---- a converter ----------------------------------------------------------------------

class Converter : public CTransformFilter {
 public:
  Converter(const CLSID& clsid, const GUID& in, const GUID& out)
      : CTransformFilter("converter", nullptr, clsid), in_(in), out_(out) {}
  HRESULT CheckInputType(const CMediaType* mt) override {
    return *mt->Type() == MEDIATYPE_Video && *mt->Subtype() == in_ ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override {
    return SUCCEEDED(CheckInputType(in)) && *out->Type() == MEDIATYPE_Video && *out->Subtype() == out_
               ? S_OK
               : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT GetMediaType(int position, CMediaType* mt) override { return OfferOneType(position, VideoType(out_), mt); }
  HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* props) override {
    return AskForAtLeast(alloc, props, 1, 1024);
  }
  HRESULT Transform(IMediaSample*, IMediaSample* out) override {
    out->SetActualDataLength(0);
    return S_OK;
  }

 private:
  const GUID in_, out_;
};

// ---- a renderer -------------------------------------------------------------------------

class SubtypeRenderer : public CBaseRenderer {
 public:
  SubtypeRenderer(const CLSID& clsid, std::vector<GUID> subtypes, HRESULT* phr)
      : CBaseRenderer(clsid, "subtype renderer", nullptr, phr), subtypes_(std::move(subtypes)) {}
  HRESULT CheckMediaType(const CMediaType* mt) override {
    if (*mt->Type() != MEDIATYPE_Video) return VFW_E_TYPE_NOT_ACCEPTED;
    for (const GUID& s : subtypes_)
      if (*mt->Subtype() == s) return S_OK;
    return VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT DoRenderSample(IMediaSample*) override {
    ++rendered;
    return S_OK;
  }
  std::atomic<int> rendered{0};

 private:
  std::vector<GUID> subtypes_;
};

// ---- a pushing source of time-stamped frames --------------------------------------------

// A video frame: 64 x 48 RGB32 unless given otherwise.
inline CMediaType Rgb32Type(LONG width = 64, LONG height = 48, REFERENCE_TIME frameTime = 0) {
  return Rgb32VideoType(width, height, frameTime);
}

class PushSource;

// Seeking of the source: a new start flushes and restarts the streaming thread.
class PushSeeking : public CSourceSeeking {
 public:
  PushSeeking(PushSource* source, LPUNKNOWN outer, CCritSec* lock, REFERENCE_TIME duration)
      : CSourceSeeking("push seeking", outer, &hr_, lock), source_(source) {
    m_rtDuration = duration;
    m_rtStop = duration;
  }
  REFERENCE_TIME Start() const { return m_rtStart; }
  REFERENCE_TIME Stop() const { return m_rtStop; }
  double Rate() const { return m_dRateSeeking; }

 protected:
  HRESULT ChangeStart() override;
  HRESULT ChangeStop() override { return S_OK; }
  HRESULT ChangeRate() override { return S_OK; }

 private:
  HRESULT hr_ = S_OK;
  PushSource* source_;
};

class PushPin : public CBaseOutputPin {
 public:
  PushPin(PushSource* source, CCritSec* lock, HRESULT* phr, const CMediaType& type);
  ~PushPin() override;
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  HRESULT CheckMediaType(const CMediaType* mt) override { return *mt == type_ ? S_OK : VFW_E_TYPE_NOT_ACCEPTED; }
  HRESULT GetMediaType(int position, CMediaType* mt) override { return OfferOneType(position, type_, mt); }
  HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* props) override {
    return AskForAtLeast(alloc, props, 2, static_cast<LONG>(type_.GetSampleSize()));
  }
  HRESULT Active() override {
    HRESULT hr = CBaseOutputPin::Active();
    if (SUCCEEDED(hr)) StartThread();
    return hr;
  }
  HRESULT Inactive() override {
    RequestStop();
    HRESULT hr = CBaseOutputPin::Inactive();  // decommits: a waiting GetBuffer returns
    JoinThread();
    return hr;
  }
  // Restarts streaming from the seeking object's start, flushing what is under way.
  void Restart() {
    std::lock_guard<std::mutex> g(threadLock_);
    if (!thread_.joinable()) return;
    RequestStop();
    DeliverBeginFlush();
    thread_.join();
    DeliverEndFlush();
    stop_ = false;
    // Called under the seeking lock: the new thread gets the positions handed over.
    thread_ = std::thread([this, s = seeking_->Start(), e = seeking_->Stop(), r = seeking_->Rate()] { Stream(s, e, r); });
  }
  PushSeeking* Seeking() { return seeking_; }

  // While held, the streaming thread waits before its first sample (tests of pausing).
  void Hold(bool held) {
    {
      std::lock_guard<std::mutex> g(holdLock_);
      held_ = held;
    }
    holdChanged_.notify_all();
  }
  REFERENCE_TIME frameTime = 400000;  // 40 ms
  std::atomic<int> delivered{0};
  std::atomic<int> segments{0};
  std::atomic<REFERENCE_TIME> lastSegmentStart{0};

 private:
  void StartThread();
  void JoinThread() {
    std::lock_guard<std::mutex> g(threadLock_);
    if (thread_.joinable()) thread_.join();
  }
  void Stream(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);
  // Makes the streaming thread end, also while it is held.
  void RequestStop() {
    {
      std::lock_guard<std::mutex> g(holdLock_);
      stop_ = true;
    }
    holdChanged_.notify_all();
  }

  CMediaType type_;
  PushSeeking* seeking_ = nullptr;  // owned; its outer unknown is the filter
  std::mutex threadLock_;           // guards thread_ against concurrent restart / join
  std::thread thread_;
  std::atomic<bool> stop_{false};   // set to make the streaming thread end
  std::mutex holdLock_;             // guards held_; taken to set stop_ so a held thread sees it
  // Signalled by Hold and RequestStop; the held streaming thread waits on it.
  std::condition_variable holdChanged_;
  bool held_ = false;  // guarded by holdLock_
};

// A source of frames 0, 1, 2, ... of frameTime each, up to the duration.
class PushSource : public CBaseFilter {
 public:
  PushSource(const CLSID& clsid, REFERENCE_TIME duration, const CMediaType& type = Rgb32Type())
      : CBaseFilter("push source", nullptr, &lock_, clsid),
        seekingLock_(),
        duration_(duration),
        pin_(this, &lock_, &hr_, type) {}
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }
  PushPin* Pin() { return &pin_; }
  CCritSec* SeekingLock() { return &seekingLock_; }
  REFERENCE_TIME Duration() const { return duration_; }

 private:
  CCritSec lock_;
  CCritSec seekingLock_;
  HRESULT hr_ = S_OK;
  REFERENCE_TIME duration_;
  PushPin pin_;
};

inline PushPin::PushPin(PushSource* source, CCritSec* lock, HRESULT* phr, const CMediaType& type)
    : CBaseOutputPin("push pin", source, lock, phr, u"Out"), type_(type) {
  seeking_ = new PushSeeking(source, source->GetOwner(), source->SeekingLock(), source->Duration());
}

inline PushPin::~PushPin() {
  RequestStop();
  JoinThread();
  delete seeking_;
}

inline void PushPin::StartThread() {
  std::lock_guard<std::mutex> g(threadLock_);
  stop_ = false;
  if (thread_.joinable()) return;
  CAutoLock seekingLock(static_cast<PushSource*>(m_pFilter)->SeekingLock());
  thread_ = std::thread([this, s = seeking_->Start(), e = seeking_->Stop(), r = seeking_->Rate()] { Stream(s, e, r); });
}

inline STDMETHODIMP PushPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(seeking_), ppv);
  return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
}

inline HRESULT PushSeeking::ChangeStart() {
  source_->Pin()->Restart();
  return S_OK;
}

inline void PushPin::Stream(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  {
    std::unique_lock<std::mutex> held(holdLock_);
    holdChanged_.wait(held, [this] { return !held_ || stop_; });
  }
  DeliverNewSegment(start, stop, rate);
  ++segments;
  lastSegmentStart = start;
  bool first = true;
  for (REFERENCE_TIME t = (start + frameTime - 1) / frameTime * frameTime; t < stop && !stop_; t += frameTime) {
    IMediaSample* sample = nullptr;
    if (FAILED(GetDeliveryBuffer(&sample, nullptr, nullptr, 0))) return;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    LONG size = sample->GetSize();
    std::memset(data, static_cast<int>(t / frameTime), static_cast<size_t>(size));
    REFERENCE_TIME s = t - start, e = s + frameTime;
    sample->SetTime(&s, &e);
    REFERENCE_TIME ms = t, me = t + frameTime;
    sample->SetMediaTime(&ms, &me);
    sample->SetSyncPoint(TRUE);
    sample->SetDiscontinuity(first);
    sample->SetActualDataLength(size);
    first = false;
    HRESULT hr = Deliver(sample);
    sample->Release();
    if (hr != S_OK) return;
    ++delivered;
  }
  if (!stop_) DeliverEndOfStream();
}

// ---- a renderer that counts and times what it presents ---------------------------------

class CountingRenderer : public CBaseRenderer {
 public:
  CountingRenderer(const CLSID& clsid, HRESULT* phr) : CBaseRenderer(clsid, "counting renderer", nullptr, phr) {}
  HRESULT CheckMediaType(const CMediaType* mt) override {
    return *mt->Type() == MEDIATYPE_Video ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT DoRenderSample(IMediaSample* sample) override {
    REFERENCE_TIME s = 0, e = 0, ms = -1, me = -1;
    sample->GetTime(&s, &e);
    sample->GetMediaTime(&ms, &me);
    std::lock_guard<std::mutex> g(lock_);
    presented_.push_back({std::chrono::steady_clock::now(), s, ms});
    return S_OK;
  }
  struct Presentation {
    std::chrono::steady_clock::time_point wall;
    REFERENCE_TIME streamTime;
    REFERENCE_TIME mediaTime;
  };
  std::vector<Presentation> Presented() {
    std::lock_guard<std::mutex> g(lock_);
    return presented_;
  }
  void Clear() {
    std::lock_guard<std::mutex> g(lock_);
    presented_.clear();
  }

 private:
  std::mutex lock_;  // guards presented_ (streaming thread writes, the test reads)
  std::vector<Presentation> presented_;
};

// The filter's first pin of the direction, or null; the filter keeps its pins alive.
inline IPin* FirstPin(IBaseFilter* f, PIN_DIRECTION dir) {
  const auto pins = tav::graph::PinsOf(f, dir);
  return pins.empty() ? nullptr : pins.front().Get();
}

// ---- class factories in this process ---------------------------------------------------

// Makes objects through a function; registered for one class identifier while it lives.
class LocalClass final : public IClassFactory {
 public:
  using Make = std::function<IUnknown*()>;
  LocalClass(const CLSID& clsid, Make make) : make_(std::move(make)) {
    CoRegisterClassObject(clsid, this, CLSCTX_INPROC_SERVER, 0, &cookie_);
  }
  ~LocalClass() { CoRevokeClassObject(cookie_); }
  LocalClass(const LocalClass&) = delete;
  LocalClass& operator=(const LocalClass&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  // Owned by the test; the runtime's references do not decide its lifetime.
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (outer) return CLASS_E_NOAGGREGATION;
    ++created;
    IUnknown* obj = make_();
    if (!obj) return E_OUTOFMEMORY;
    obj->AddRef();
    HRESULT hr = obj->QueryInterface(riid, ppv);
    obj->Release();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }

  std::atomic<int> created{0};

 private:
  Make make_;
  DWORD cookie_ = 0;
};

// The outer IUnknown of a base-class object, for handing out of a factory.
template <typename T>
IUnknown* Outer(T* object) {
  return static_cast<CUnknown*>(object)->GetInnerUnknown();
}

}  // namespace graphtest
