// CBaseInputPin (IMemInputPin: allocator negotiation, the streaming checks of Receive,
// flushing) and CBaseOutputPin (allocator decision and delivery downstream).
#pragma once

#include "platform/streaming/base/allocator.h"
#include "platform/streaming/base/basepin.h"

class CBaseInputPin : public CBasePin, public IMemInputPin {
 public:
  CBaseInputPin(LPCTSTR objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR pinName);

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IMemInputPin
  // The pin's allocator, a memory allocator made on first request unless one was notified.
  STDMETHODIMP GetAllocator(IMemAllocator** allocator) override;
  STDMETHODIMP NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
  STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override;
  // Checks the streaming state and a type change of the sample; derived pins call this
  // first and then process the sample.
  STDMETHODIMP Receive(IMediaSample* sample) override;
  STDMETHODIMP ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) override;
  STDMETHODIMP ReceiveCanBlock() override;

  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;
  STDMETHODIMP Notify(IBaseFilter* sender, Quality q) override;

  HRESULT BreakConnect() override;
  HRESULT Inactive() override;

  BOOL IsReadOnly() const { return m_bReadOnly; }
  BOOL IsFlushing() const { return m_bFlushing; }
  // S_OK while samples may be processed: VFW_E_WRONG_STATE when stopped, S_FALSE while
  // flushing, VFW_E_RUNTIME_ERROR after a streaming error.
  virtual HRESULT CheckStreaming();
  // Sends a quality message upstream (to the sink, else to the connected pin).
  HRESULT PassNotify(Quality& q);
  // Properties of the sample being received (valid inside Receive).
  AM_SAMPLE2_PROPERTIES* SampleProps() { return &m_SampleProps; }
  IMemAllocator* Allocator() const { return m_pAllocator.Get(); }

 protected:
  // Negotiated on connect, guarded by m_pLock
  ComPtr<IMemAllocator> m_pAllocator;
  BOOL m_bReadOnly = FALSE;
  // Runtime
  CRelaxed<BOOL> m_bFlushing{FALSE};  // between BeginFlush and EndFlush
  AM_SAMPLE2_PROPERTIES m_SampleProps{};  // of the sample in Receive, streaming thread only
};

class CBaseOutputPin : public CBasePin {
 public:
  CBaseOutputPin(LPCTSTR objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR pinName);

  // Decides the allocator once the peer accepted the type.
  HRESULT CompleteConnect(IPin* receivePin) override;
  // The peer must have IMemInputPin (VFW_E_NO_TRANSPORT otherwise).
  HRESULT CheckConnect(IPin* pin) override;
  HRESULT BreakConnect() override;
  // Commit / decommit the allocator with the filter's state.
  HRESULT Active() override;
  HRESULT Inactive() override;

  // The peer's allocator with DecideBufferSize if it takes the sizes, else the pin's own
  // (InitAllocator); the chosen one is notified to the peer.
  virtual HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator);
  // Sizes the allocator: buffer count, size, alignment (SetProperties).
  virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;
  // The pin's own allocator when the peer's does not do (a new memory allocator).
  virtual HRESULT InitAllocator(IMemAllocator** allocator);
  // Whether the peer is told that the samples are read-only (NotifyAllocator): TRUE where
  // the same sample goes to other pins as well.
  virtual BOOL SamplesReadOnly() const { return FALSE; }

  virtual HRESULT GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end, DWORD flags);
  virtual HRESULT Deliver(IMediaSample* sample);
  virtual HRESULT DeliverEndOfStream();
  virtual HRESULT DeliverBeginFlush();
  virtual HRESULT DeliverEndFlush();
  virtual HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

  // An output pin receives none of these.
  STDMETHODIMP EndOfStream() override { return E_UNEXPECTED; }
  STDMETHODIMP BeginFlush() override { return E_UNEXPECTED; }
  STDMETHODIMP EndFlush() override { return E_UNEXPECTED; }

  IMemAllocator* Allocator() const { return m_pAllocator.Get(); }
  IMemInputPin* InputPin() const { return m_pInputPin.Get(); }

 protected:
  // Negotiated on connect, guarded by m_pLock
  ComPtr<IMemAllocator> m_pAllocator;
  ComPtr<IMemInputPin> m_pInputPin;  // the peer's transport
};
