// A pin that stands in for the other end of a connection when a test drives a filter's pin
// directly: it answers only what the pin under test asks, keeps the peer that connected to it,
// and lives on the test's stack (its reference count is kept but never frees it). Stream calls
// are taken by a stand-in input and refused by a stand-in output, as by real pins. Tests
// derive from it to record or answer more.
#pragma once

#include <atomic>

#include "media/contract/comptr.h"
#include "media/contract/strmif.h"

namespace tavtest {

class StandInPin : public IPin {
 public:
  explicit StandInPin(PIN_DIRECTION direction) : m_direction(direction) {}
  virtual ~StandInPin() = default;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IPin) {
      *ppv = static_cast<IPin*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
  STDMETHODIMP_(ULONG) Release() override { return --m_refs; }

  STDMETHODIMP Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE*) override {
    if (m_direction == PINDIR_OUTPUT) return E_UNEXPECTED;
    peer = connector;
    return S_OK;
  }
  STDMETHODIMP Disconnect() override {
    peer = nullptr;
    return S_OK;
  }
  STDMETHODIMP ConnectedTo(IPin** pin) override {
    *pin = peer.Get();
    if (!*pin) return VFW_E_NOT_CONNECTED;
    (*pin)->AddRef();
    return S_OK;
  }
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE*) override { return peer ? E_NOTIMPL : VFW_E_NOT_CONNECTED; }
  STDMETHODIMP QueryPinInfo(PIN_INFO* info) override {
    *info = PIN_INFO{};
    info->dir = m_direction;
    return S_OK;
  }
  STDMETHODIMP QueryDirection(PIN_DIRECTION* direction) override {
    *direction = m_direction;
    return S_OK;
  }
  STDMETHODIMP QueryId(LPWSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE*) override { return S_OK; }
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes**) override { return E_NOTIMPL; }
  STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
  STDMETHODIMP EndOfStream() override { return StreamCall(); }
  STDMETHODIMP BeginFlush() override { return StreamCall(); }
  STDMETHODIMP EndFlush() override { return StreamCall(); }
  STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

  ComPtr<IPin> peer;  // the pin that connected to this one

 private:
  HRESULT StreamCall() const { return m_direction == PINDIR_INPUT ? S_OK : E_UNEXPECTED; }

  const PIN_DIRECTION m_direction;
  std::atomic<ULONG> m_refs{1};
};

}  // namespace tavtest
