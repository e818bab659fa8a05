// CTransInPlaceFilter: a transform that works on the input sample itself. Its pins are
// "Input" and "Output"; the input proxies the downstream pin's types and allocator and the
// output proxies the upstream pin's types, so that upstream and downstream share one
// allocator whenever they can. When they cannot (the allocators differ), each sample is
// copied into an output buffer first. Transform may deliver the sample itself (more than
// once); returning S_OK delivers it once more, S_FALSE drops it.
#pragma once

#include "platform/streaming/base/transform.h"

class CTransInPlaceFilter;

class CTransInPlaceInputPin : public CTransformInputPin {
 public:
  CTransInPlaceInputPin(LPCTSTR objectName, CTransInPlaceFilter* filter, HRESULT* phr, LPCWSTR pinName);

  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** out) override;
  HRESULT CheckMediaType(const CMediaType* mt) override;
  // The downstream pin's allocator once the output is connected.
  STDMETHODIMP GetAllocator(IMemAllocator** allocator) override;
  STDMETHODIMP NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
  STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override;

  IMemAllocator* PeekAllocator() const { return m_pAllocator.Get(); }

 protected:
  CTransInPlaceFilter* m_pTIPFilter;
};

class CTransInPlaceOutputPin : public CTransformOutputPin {
 public:
  CTransInPlaceOutputPin(LPCTSTR objectName, CTransInPlaceFilter* filter, HRESULT* phr, LPCWSTR pinName);

  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** out) override;
  HRESULT CheckMediaType(const CMediaType* mt) override;

  void SetAllocator(IMemAllocator* allocator);
  IMemInputPin* ConnectedIMemInputPin() const { return m_pInputPin.Get(); }
  IMemAllocator* PeekAllocator() const { return m_pAllocator.Get(); }

 protected:
  CTransInPlaceFilter* m_pTIPFilter;
};

class CTransInPlaceFilter : public CTransformFilter {
 public:
  // modifiesData: false for filters that only look at the data (they may take read-only
  // allocators).
  CTransInPlaceFilter(LPCTSTR name, LPUNKNOWN outer, REFCLSID clsid, HRESULT* phr, bool modifiesData = true);

  // Makes the in-place pins ("Input", "Output") on first request.
  CBasePin* GetPin(int n) override;

  // Types are proxied, so these are not used.
  HRESULT GetMediaType(int, CMediaType*) override { return E_UNEXPECTED; }
  HRESULT CheckTransform(const CMediaType*, const CMediaType*) override { return S_OK; }
  // The upstream allocator's count and size (one byte before the input connects).
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) override;
  // Reconnects the other side when the types (or the allocators) must be renegotiated.
  HRESULT CompleteConnect(PIN_DIRECTION dir, IPin* receivePin) override;

  HRESULT Receive(IMediaSample* sample) override;
  virtual HRESULT Transform(IMediaSample* sample) = 0;

  CTransInPlaceInputPin* InputPin() const { return static_cast<CTransInPlaceInputPin*>(m_pInput.get()); }
  CTransInPlaceOutputPin* OutputPin() const { return static_cast<CTransInPlaceOutputPin*>(m_pOutput.get()); }
  bool TypesMatch() { return InputPin()->CurrentMediaType() == OutputPin()->CurrentMediaType(); }
  bool UsingDifferentAllocators() const { return InputPin()->PeekAllocator() != OutputPin()->PeekAllocator(); }

 protected:
  // An output buffer holding a copy of the sample's data, times and flags; null on failure.
  ComPtr<IMediaSample> Copy(IMediaSample* source);

  // Hides the two-sample Transform of the base class.
  HRESULT Transform(IMediaSample*, IMediaSample*) override { return E_UNEXPECTED; }

  friend class CTransInPlaceInputPin;
  friend class CTransInPlaceOutputPin;
  const bool m_bModifiesData;
};
