// CBasePin: connection and media-type negotiation shared by input and output pins.
// A pin's reference count is its filter's: pins live as long as the filter and are
// deleted by it.
//
// Connection (output side, Connect): CheckConnect(peer); for each candidate type:
// CheckMediaType, SetMediaType, peer->ReceiveConnection, CompleteConnect. Any failure
// undoes the attempt with BreakConnect. The input side (ReceiveConnection) runs
// CheckConnect, CheckMediaType, SetMediaType, CompleteConnect.
#pragma once

#include "platform/streaming/base/basefilter.h"
#include "platform/streaming/base/combase.h"
#include "platform/streaming/base/mtype.h"
#include "platform/streaming/base/wxutil.h"

class CBasePin : public CUnknown, public IPin, public IQualityControl {
 public:
  // lock: the lock that guards the connection (usually the filter lock).
  CBasePin(LPCTSTR objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR pinName,
           PIN_DIRECTION dir);
  ~CBasePin() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  ULONG NonDelegatingAddRef() override;
  ULONG NonDelegatingRelease() override;

  // IPin
  STDMETHODIMP Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP Disconnect() override;
  STDMETHODIMP ConnectedTo(IPin** pin) override;
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
  STDMETHODIMP QueryDirection(PIN_DIRECTION* dir) override;
  STDMETHODIMP QueryId(LPWSTR* id) override;
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** out) override;
  STDMETHODIMP QueryInternalConnections(IPin** pins, ULONG* count) override;
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override = 0;
  STDMETHODIMP EndFlush() override = 0;
  // Stores the segment; derived pins pass it on.
  STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

  // IQualityControl
  STDMETHODIMP Notify(IBaseFilter* sender, Quality q) override;
  STDMETHODIMP SetSink(IQualityControl* sink) override;

  // Negotiation, overridden by filters.
  // S_OK accepts the type; anything else refuses it.
  virtual HRESULT CheckMediaType(const CMediaType* mt) = 0;
  // Records the agreed type in m_mt.
  virtual HRESULT SetMediaType(const CMediaType* mt);
  // Checks the peer before any type is tried (direction, interfaces it must have).
  virtual HRESULT CheckConnect(IPin* pin);
  // Undoes whatever CheckConnect / SetMediaType / CompleteConnect set up.
  virtual HRESULT BreakConnect();
  // The connection is made; last chance to refuse it.
  virtual HRESULT CompleteConnect(IPin* receivePin);
  // The pin's preferred types, by position: S_OK, or VFW_S_NO_MORE_ITEMS past the end.
  virtual HRESULT GetMediaType(int position, CMediaType* mt);

  // State changes of the filter, for connected pins.
  virtual HRESULT Active() { return S_OK; }
  virtual HRESULT Inactive();
  virtual HRESULT Run(REFERENCE_TIME start) { return S_OK; }

  BOOL IsConnected() const { return m_Connected ? TRUE : FALSE; }
  IPin* GetConnected() const { return m_Connected.Get(); }
  BOOL IsStopped() const { return m_pFilter->IsStopped(); }
  CMediaType& CurrentMediaType() { return m_mt; }
  LPWSTR Name() const { return m_pName; }
  PIN_DIRECTION Direction() const { return m_dir; }
  CBaseFilter* Filter() const { return m_pFilter; }
  REFERENCE_TIME CurrentStartTime() const { return m_tStart; }
  REFERENCE_TIME CurrentStopTime() const { return m_tStop; }
  double CurrentRate() const { return m_dRate; }
  // Type enumerators check this to notice a changed list of preferred types.
  virtual LONG GetMediaTypeVersion() { return m_TypeVersion; }
  void IncrementTypeVersion() { __atomic_add_fetch(&m_TypeVersion, 1, __ATOMIC_SEQ_CST); }
  // Breaks the connection without the stopped-state check (used by the filter's own
  // teardown and by Disconnect).
  HRESULT DisconnectInternal();

 protected:
  // Tries one fully specified type against the peer.
  HRESULT AttemptConnection(IPin* receivePin, const CMediaType* mt);
  // Tries the types of one enumerator that match the partial type.
  HRESULT TryMediaTypes(IPin* receivePin, const CMediaType* partial, IEnumMediaTypes* types);
  // Finds a type both pins accept: the given one, else the peer's and the pin's own
  // preferred types (own first when m_bTryMyTypesFirst).
  HRESULT AgreeMediaType(IPin* receivePin, const CMediaType* partial);

  // Configuration
  WCHAR* m_pName;               // new[]
  PIN_DIRECTION m_dir;
  CBaseFilter* m_pFilter;       // owner, not counted
  CCritSec* m_pLock;            // the connection lock
  BOOL m_bCanReconnectWhenActive = FALSE;
  BOOL m_bTryMyTypesFirst = FALSE;
  // Negotiated on connect, guarded by m_pLock
  ComPtr<IPin> m_Connected;
  CMediaType m_mt;
  // Runtime
  CRelaxed<BOOL> m_bRunTimeError{FALSE};  // set by a streaming error, cleared by Inactive / EndFlush
  IQualityControl* m_pQSink = nullptr;  // not counted
  volatile LONG m_TypeVersion = 1;
  REFERENCE_TIME m_tStart = 0;  // current segment
  REFERENCE_TIME m_tStop = MAX_TIME;
  double m_dRate = 1.0;
};

// Enumerates a pin's preferred types (CBasePin::GetMediaType); out of sync once the pin's
// type version changes.
class CEnumMediaTypes final : public CVersionedEnum<CEnumMediaTypes, IEnumMediaTypes, CBasePin> {
 public:
  CEnumMediaTypes(CBasePin* pin, const CEnumMediaTypes* copyFrom) : CVersionedEnum(pin, copyFrom) {}
  static LONG VersionOf(CBasePin* pin) { return pin->GetMediaTypeVersion(); }
  STDMETHODIMP Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
  STDMETHODIMP Skip(ULONG count) override;

 private:
  friend CVersionedEnum;
  ~CEnumMediaTypes() = default;
};
