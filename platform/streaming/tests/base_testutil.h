// Shared helpers of the base-class tests: pin look-up, direct connection without a graph,
// state changes downstream first, a manual reference clock, and the live-object check.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <tuple>
#include <mutex>
#include <vector>

#include "tests/testfilters/testfilters.h"

namespace basetest {

inline ComPtr<IPin> PinOf(IBaseFilter* filter, PIN_DIRECTION dir, int index = 0) {
  ComPtr<IEnumPins> pins;
  if (FAILED(filter->EnumPins(pins.ReleaseAndGetAddressOf()))) return nullptr;
  IPin* pin = nullptr;
  while (pins->Next(1, &pin, nullptr) == S_OK) {
    ComPtr<IPin> p = ComPtr<IPin>::Adopt(pin);
    PIN_DIRECTION d;
    p->QueryDirection(&d);
    if (d == dir && index-- == 0) return p;
  }
  return nullptr;
}

inline HRESULT ConnectFilters(IBaseFilter* up, IBaseFilter* down, const AM_MEDIA_TYPE* mt = nullptr) {
  ComPtr<IPin> out = PinOf(up, PINDIR_OUTPUT);
  ComPtr<IPin> in = PinOf(down, PINDIR_INPUT);
  if (!out || !in) return E_FAIL;
  return out->Connect(in.Get(), mt);
}

inline void DisconnectAll(const std::vector<IBaseFilter*>& chain) {
  for (IBaseFilter* f : chain) {
    ComPtr<IEnumPins> pins;
    f->EnumPins(pins.ReleaseAndGetAddressOf());
    IPin* pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
      pin->Disconnect();
      pin->Release();
    }
  }
}

// The chain is given upstream first; state changes go to the last filter first.
inline HRESULT PauseAll(const std::vector<IBaseFilter*>& chain) {
  HRESULT result = S_OK;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    const HRESULT hr = (*it)->Pause();
    if (FAILED(hr)) return hr;
    if (hr == S_FALSE) result = S_FALSE;
  }
  return result;
}
inline HRESULT RunAll(const std::vector<IBaseFilter*>& chain, REFERENCE_TIME start) {
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    const HRESULT hr = (*it)->Run(start);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}
inline HRESULT StopAll(const std::vector<IBaseFilter*>& chain) {
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    const HRESULT hr = (*it)->Stop();
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}
inline void SetClockAll(const std::vector<IBaseFilter*>& chain, IReferenceClock* clock) {
  for (IBaseFilter* f : chain) f->SetSyncSource(clock);
}

// A reference clock that only moves when told to; advises fire as it passes their time.
class ManualClock final : public IReferenceClock {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IReferenceClock) {
      *ppv = static_cast<IReferenceClock*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_ref; }
  STDMETHODIMP_(ULONG) Release() override { return --m_ref; }  // lives on the test's stack
  STDMETHODIMP GetTime(REFERENCE_TIME* t) override {
    std::lock_guard<std::mutex> lock(m_lock);
    *t = m_now;
    return S_OK;
  }
  STDMETHODIMP AdviseTime(REFERENCE_TIME base, REFERENCE_TIME stream, HEVENT event, DWORD_PTR* cookie) override {
    std::lock_guard<std::mutex> lock(m_lock);
    const REFERENCE_TIME due = base + stream;
    if (due <= m_now) {
      SetEvent(reinterpret_cast<HANDLE>(event));
      *cookie = ++m_next;
      return S_OK;
    }
    *cookie = ++m_next;
    m_advises[*cookie] = {due, reinterpret_cast<HANDLE>(event)};
    return S_OK;
  }
  STDMETHODIMP AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE, DWORD_PTR*) override { return E_NOTIMPL; }
  STDMETHODIMP Unadvise(DWORD_PTR cookie) override {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_advises.erase(cookie) ? S_OK : S_FALSE;
  }
  void Advance(REFERENCE_TIME to) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_now = to;
    for (auto it = m_advises.begin(); it != m_advises.end();) {
      if (it->second.first <= m_now) {
        SetEvent(it->second.second);
        it = m_advises.erase(it);
      } else {
        ++it;
      }
    }
  }
  size_t PendingAdvises() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_advises.size();
  }
  ULONG Refs() const { return m_ref; }

 private:
  std::mutex m_lock;
  REFERENCE_TIME m_now = 0;
  DWORD_PTR m_next = 0;
  std::map<DWORD_PTR, std::pair<REFERENCE_TIME, HANDLE>> m_advises;
  ULONG m_ref = 0;
};

// Just enough of a graph for filters that want one: the event sink (events are
// recorded) and reconnection (disconnect both ends, connect again with the type).
class FakeGraph final : public IFilterGraph2, public IMediaEventSink {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IFilterGraph || riid == IID_IGraphBuilder || riid == IID_IFilterGraph2) {
      *ppv = static_cast<IFilterGraph2*>(this);
    } else if (riid == IID_IMediaEventSink) {
      *ppv = static_cast<IMediaEventSink*>(this);
    } else {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_ref; }
  STDMETHODIMP_(ULONG) Release() override { return --m_ref; }  // lives on the test's stack

  STDMETHODIMP Notify(LONG code, LONG_PTR p1, LONG_PTR p2) override {
    std::lock_guard<std::mutex> lock(m_lock);
    m_events.push_back({code, p1, p2});
    return S_OK;
  }
  std::vector<std::tuple<LONG, LONG_PTR, LONG_PTR>> Events() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_events;
  }
  int CountOf(LONG code) {
    std::lock_guard<std::mutex> lock(m_lock);
    int n = 0;
    for (auto& e : m_events) n += std::get<0>(e) == code;
    return n;
  }

  STDMETHODIMP Reconnect(IPin* pin) override { return ReconnectEx(pin, nullptr); }
  STDMETHODIMP ReconnectEx(IPin* pin, const AM_MEDIA_TYPE* mt) override {
    ++m_reconnects;
    ComPtr<IPin> peer;
    HRESULT hr = pin->ConnectedTo(peer.ReleaseAndGetAddressOf());
    if (FAILED(hr)) return hr;
    PIN_DIRECTION dir;
    pin->QueryDirection(&dir);
    CMediaType type;
    if (mt) type = *mt; else pin->ConnectionMediaType(&type);
    peer->Disconnect();
    pin->Disconnect();
    return dir == PINDIR_OUTPUT ? pin->Connect(peer.Get(), &type) : peer->Connect(pin, &type);
  }
  int Reconnects() const { return m_reconnects; }

  STDMETHODIMP AddFilter(IBaseFilter*, LPCWSTR) override { return E_NOTIMPL; }
  STDMETHODIMP RemoveFilter(IBaseFilter*) override { return E_NOTIMPL; }
  STDMETHODIMP EnumFilters(IEnumFilters**) override { return E_NOTIMPL; }
  STDMETHODIMP FindFilterByName(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
  STDMETHODIMP ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  STDMETHODIMP Disconnect(IPin* pin) override { return pin->Disconnect(); }
  STDMETHODIMP SetDefaultSyncSource() override { return E_NOTIMPL; }
  STDMETHODIMP Connect(IPin*, IPin*) override { return E_NOTIMPL; }
  STDMETHODIMP Render(IPin*) override { return E_NOTIMPL; }
  STDMETHODIMP RenderFile(LPCWSTR, LPCWSTR) override { return E_NOTIMPL; }
  STDMETHODIMP AddSourceFilter(LPCWSTR, LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
  STDMETHODIMP SetLogFile(DWORD_PTR) override { return E_NOTIMPL; }
  STDMETHODIMP Abort() override { return E_NOTIMPL; }
  STDMETHODIMP ShouldOperationContinue() override { return S_OK; }
  STDMETHODIMP AddSourceFilterForMoniker(IMoniker*, IBindCtx*, LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
  STDMETHODIMP RenderEx(IPin*, DWORD, DWORD*) override { return E_NOTIMPL; }

  void Join(const std::vector<IBaseFilter*>& filters) {
    for (IBaseFilter* f : filters) f->JoinFilterGraph(this, u"filter");
  }
  void Leave(const std::vector<IBaseFilter*>& filters) {
    for (IBaseFilter* f : filters) f->JoinFilterGraph(nullptr, nullptr);
  }
  ULONG Refs() const { return m_ref; }

 private:
  std::mutex m_lock;
  std::vector<std::tuple<LONG, LONG_PTR, LONG_PTR>> m_events;
  int m_reconnects = 0;
  ULONG m_ref = 0;
};

// Every test ends with no live base-class object: all references were released.
class BaseTest : public ::testing::Test {
 protected:
  void SetUp() override { m_before = CBaseObject::ObjectsActive(); }
  void TearDown() override {
    EXPECT_EQ(CBaseObject::ObjectsActive(), m_before) << "base-class objects leaked";
  }

 private:
  LONG m_before = 0;
};

}  // namespace basetest
