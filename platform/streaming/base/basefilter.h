// CBaseFilter: a filter's state (stopped / paused / running), its clock, its graph and
// event sink, its name in the graph, and the pin enumeration. Derived filters supply
// their pins through GetPinCount / GetPin.
//
// State transitions (under the filter lock m_pLock):
//   Stopped -> Paused   Pause: Active() on every connected pin
//   Paused  -> Running  Run: Run(tStart) on every connected pin
//   Stopped -> Running  Run: first Pause, then as above
//   any     -> Stopped  Stop: Inactive() on every connected pin
//   Running -> Paused   Pause: state only
#pragma once

#include "platform/streaming/base/combase.h"
#include "platform/streaming/base/mtype.h"
#include "platform/streaming/base/versionedenum.h"
#include "platform/streaming/base/wxutil.h"

class CBasePin;

class CBaseFilter : public CUnknown, public IBaseFilter {
 public:
  // lock: the filter lock, owned by the derived filter; it guards the state, the clock,
  // the graph pointers and the pins' connections.
  CBaseFilter(LPCTSTR name, LPUNKNOWN outer, CCritSec* lock, REFCLSID clsid);
  CBaseFilter(LPCTSTR name, LPUNKNOWN outer, CCritSec* lock, REFCLSID clsid, HRESULT* phr);
  ~CBaseFilter() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IPersist
  STDMETHODIMP GetClassID(CLSID* clsid) override;
  // IMediaFilter
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME start) override;
  STDMETHODIMP GetState(DWORD timeoutMs, FILTER_STATE* state) override;
  STDMETHODIMP SetSyncSource(IReferenceClock* clock) override;
  STDMETHODIMP GetSyncSource(IReferenceClock** clock) override;
  // IBaseFilter
  STDMETHODIMP EnumPins(IEnumPins** out) override;
  STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
  STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override;
  STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  STDMETHODIMP QueryVendorInfo(LPWSTR* info) override;

  // The pins, by index; GetPin returns a pointer without a reference (null past the end).
  virtual int GetPinCount() = 0;
  virtual CBasePin* GetPin(int n) = 0;

  // Sends an event to the graph (EC_COMPLETE gets this filter as its second parameter).
  HRESULT NotifyEvent(LONG code, LONG_PTR param1, LONG_PTR param2);
  IFilterGraph* GetFilterGraph() const { return m_pGraph; }
  // Asks the graph to reconnect a pin, with a media type when given (IFilterGraph2).
  // VFW_E_NOT_IN_GRAPH when the filter is not in a graph.
  HRESULT ReconnectPin(IPin* pin, const AM_MEDIA_TYPE* mt);

  BOOL IsActive() {
    CAutoLock lock(m_pLock);
    return m_State == State_Paused || m_State == State_Running;
  }
  BOOL IsStopped() const { return m_State == State_Stopped; }
  FILTER_STATE State() const { return m_State; }
  // Stream time: clock time - m_tStart. VFW_E_NO_CLOCK without a clock.
  virtual HRESULT StreamTime(CRefTime& time);
  // Pin enumerators check this to notice pins that come and go.
  virtual LONG GetPinVersion() { return m_PinVersion; }
  void IncrementPinVersion() { __atomic_add_fetch(&m_PinVersion, 1, __ATOMIC_SEQ_CST); }
  CCritSec* FilterLock() const { return m_pLock; }
  LPCWSTR FilterName() const { return m_pName; }

 protected:
  // Configuration
  CLSID m_clsid;
  CCritSec* m_pLock;
  // Runtime, guarded by m_pLock
  CRelaxed<FILTER_STATE> m_State{State_Stopped};  // also read by streaming threads
  ComPtr<IReferenceClock> m_pClock;
  CRefTime m_tStart;                    // stream time 0 on the clock, from Run
  // The graph does not hold this filter's graph pointers alive: the graph owns the filter.
  IFilterGraph* m_pGraph = nullptr;
  IMediaEventSink* m_pSink = nullptr;
  WCHAR* m_pName = nullptr;  // name in the graph (new[])
  volatile LONG m_PinVersion = 1;
};

// Enumerates a filter's pins; Next fails with VFW_E_ENUM_OUT_OF_SYNC once the filter's
// pin version has changed (Reset resynchronises).
class CEnumPins final : public CVersionedEnum<CEnumPins, IEnumPins, CBaseFilter> {
 public:
  CEnumPins(CBaseFilter* filter, const CEnumPins* copyFrom) : CVersionedEnum(filter, copyFrom) {}
  static LONG VersionOf(CBaseFilter* filter) { return filter->GetPinVersion(); }
  STDMETHODIMP Next(ULONG count, IPin** pins, ULONG* fetched) override;
  STDMETHODIMP Skip(ULONG count) override;

 private:
  friend CVersionedEnum;
  ~CEnumPins() = default;
};

// Copies a UTF-16 string into a fixed buffer, truncating, always terminated.
void CopyWideString(WCHAR* dst, size_t dstChars, LPCWSTR src);
// Task-allocated copy of a UTF-16 string (null in, null out).
HRESULT AMGetWideString(LPCWSTR src, LPWSTR* out);
size_t WideLength(LPCWSTR s);
int WideCompare(LPCWSTR a, LPCWSTR b);
