// "Infinite Pin Tee Filter": one input ("Input") delivered to every connected output
// ("Output1", "Output2", ...). A new free output pin appears whenever the last one
// connects, so there is always one to connect. Every output passes on the input sample
// itself, without a copy; the downstream pins are told that the buffers are read-only, so
// an in-place filter behind one output copies before it writes. Flushing, new segments and
// end of stream go to all outputs.
// Seeking on any output passes upstream through the input.
//
// Lock order: lock_ (the filter lock: state, pins, connections) before receiveLock_ (held
// by the streaming thread while it copies a sample out).
#pragma once

#include <memory>
#include <vector>

#include "platform/streaming/base/streams.h"

namespace tav::filters {

class CInfTee;

class CTeeInputPin final : public CBaseInputPin {
 public:
  CTeeInputPin(CInfTee* tee, HRESULT* phr);
  HRESULT CheckMediaType(const CMediaType* mt) override;
  HRESULT GetMediaType(int position, CMediaType* mt) override;
  STDMETHODIMP Receive(IMediaSample* sample) override;
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;
  STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

 private:
  CInfTee* tee_;
};

class CTeeOutputPin final : public CBaseOutputPin {
 public:
  CTeeOutputPin(CInfTee* tee, HRESULT* phr, LPCWSTR name);
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  HRESULT CheckConnect(IPin* pin) override;
  HRESULT CheckMediaType(const CMediaType* mt) override;
  HRESULT GetMediaType(int position, CMediaType* mt) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) override;
  HRESULT CompleteConnect(IPin* receivePin) override;
  // The samples are shared with the other outputs: an in-place filter downstream copies
  // first.
  BOOL SamplesReadOnly() const override { return TRUE; }

 private:
  CInfTee* tee_;
  ComPtr<IUnknown> position_;  // seeking pass-through
};

class CInfTee final : public CBaseFilter {
 public:
  CInfTee(LPUNKNOWN outer, HRESULT* phr);
  ~CInfTee() override;
  static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr);

  int GetPinCount() override;
  CBasePin* GetPin(int n) override;

 private:
  friend class CTeeInputPin;
  friend class CTeeOutputPin;
  // Adds a free output pin when every output is connected (lock_ held).
  void AddFreeOutputLocked();

  // The filter lock: state, pin list, connections.
  CCritSec lock_;
  // Held by the streaming thread while a sample or end of stream goes out.
  CCritSec receiveLock_;
  std::unique_ptr<CTeeInputPin> input_;
  std::vector<std::unique_ptr<CTeeOutputPin>> outputs_;  // guarded by lock_; only grows
  int nextOutputNumber_ = 1;                              // guarded by lock_
};

}  // namespace tav::filters

extern const AMOVIESETUP_FILTER sudInfTee;
