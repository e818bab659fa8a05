#include "libs/vxvideokit/framerateconverter.h"
#include "libs/vxvideokit/videopins.h"
#include "media/contract/trace.h"

#include <cmath>
#include <new>

TAV_TRACE_SOURCE(kVideoKit, "framerate");

namespace {

// A media-type enumerator over a fixed list.
class CTypeListEnum final : public IEnumMediaTypes {
 public:
  explicit CTypeListEnum(std::vector<CMediaType> types, size_t position = 0)
      : m_types(std::move(types)), m_position(position) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IEnumMediaTypes) {
      *ppv = static_cast<IEnumMediaTypes*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG r = --m_cRef;
    if (r == 0) delete this;  // the last reference owns the object
    return r;
  }
  STDMETHODIMP Next(ULONG count, AM_MEDIA_TYPE** out, ULONG* fetched) override {
    if (!out) return E_POINTER;
    if (count != 1 && !fetched) return E_POINTER;
    ULONG n = 0;
    while (n < count && m_position < m_types.size()) {
      AM_MEDIA_TYPE* copy = CreateMediaType(&m_types[m_position]);
      if (!copy) break;
      out[n++] = copy;
      ++m_position;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    m_position = std::min(m_types.size(), m_position + count);
    return m_position < m_types.size() ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    m_position = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumMediaTypes** out) override {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) CTypeListEnum(m_types, m_position);
    if (!*out) return E_OUTOFMEMORY;
    return S_OK;
  }

 private:
  ~CTypeListEnum() = default;
  std::vector<CMediaType> m_types;
  size_t m_position;
  std::atomic<ULONG> m_cRef{1};
};

// Reads every type of an enumerator, passing each through `map`.
template <typename Map>
HRESULT MappedEnum(IEnumMediaTypes* source, Map map, IEnumMediaTypes** out) {
  std::vector<CMediaType> types;
  tav::MediaTypePtr mt;
  ULONG fetched = 0;
  while (source->Next(1, mt.Out(), &fetched) == S_OK && fetched == 1) types.push_back(map(*mt.Get()));
  *out = new (std::nothrow) CTypeListEnum(std::move(types));
  return *out ? S_OK : E_OUTOFMEMORY;
}

REFERENCE_TIME* FramePeriodOf(AM_MEDIA_TYPE& mt) {
  if (mt.majortype != MEDIATYPE_Video || !mt.pbFormat) return nullptr;
  if (mt.formattype == FORMAT_VideoInfo && mt.cbFormat >= sizeof(VIDEOINFOHEADER))
    return &reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat)->AvgTimePerFrame;
  if (mt.formattype == FORMAT_VideoInfo2 && mt.cbFormat >= sizeof(VIDEOINFOHEADER2))
    return &reinterpret_cast<VIDEOINFOHEADER2*>(mt.pbFormat)->AvgTimePerFrame;
  return nullptr;
}

// The input pin: types proxied from downstream come back as their upstream types, and a
// type checked downstream goes there with the rewritten frame period.
class CFrcInputPin final : public CTransInPlaceInputPin {
 public:
  CFrcInputPin(CFrameRateConverter* filter, HRESULT* phr)
      : CTransInPlaceInputPin(NAME("frame rate converter input"), filter, phr, u"XFormIn"), m_pFrc(filter) {}

  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    ComPtr<IEnumMediaTypes> downstream;
    HRESULT hr = CTransInPlaceInputPin::EnumMediaTypes(&downstream);
    if (FAILED(hr)) return hr;
    return MappedEnum(downstream.Get(), [this](const AM_MEDIA_TYPE& t) { return m_pFrc->UpstreamTypeOf(t); }, out);
  }

  HRESULT CheckMediaType(const CMediaType* mt) override {
    if (!mt) return E_POINTER;
    HRESULT hr = m_pFrc->CheckInputType(mt);
    if (hr != S_OK) return hr;
    IPin* downstream = m_pFrc->OutputPin() ? m_pFrc->OutputPin()->GetConnected() : nullptr;
    if (downstream) {
      const CMediaType rewritten = m_pFrc->RewriteType(*mt, false);
      return downstream->QueryAccept(&rewritten);
    }
    return S_OK;
  }

 private:
  CFrameRateConverter* m_pFrc;
};

// The output pin: upstream's types are offered with the rewritten frame period, and a type
// checked upstream goes there as the upstream type it came from.
class CFrcOutputPin final : public CTransInPlaceOutputPin {
 public:
  CFrcOutputPin(CFrameRateConverter* filter, HRESULT* phr)
      : CTransInPlaceOutputPin(NAME("frame rate converter output"), filter, phr, u"XFormOut"), m_pFrc(filter) {}

  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    ComPtr<IEnumMediaTypes> upstream;
    HRESULT hr = CTransInPlaceOutputPin::EnumMediaTypes(&upstream);
    if (FAILED(hr)) return hr;
    return MappedEnum(upstream.Get(), [this](const AM_MEDIA_TYPE& t) { return m_pFrc->RewriteType(t, true); }, out);
  }

  HRESULT CheckMediaType(const CMediaType* mt) override {
    if (!mt) return E_POINTER;
    IPin* upstream = m_pFrc->InputPin() ? m_pFrc->InputPin()->GetConnected() : nullptr;
    if (!upstream) return VFW_E_NOT_CONNECTED;
    const CMediaType original = m_pFrc->UpstreamTypeOf(*mt);
    HRESULT hr = m_pFrc->CheckInputType(&original);
    if (hr != S_OK) return hr;
    return upstream->QueryAccept(&original);
  }

 private:
  CFrameRateConverter* m_pFrc;
};

}  // namespace

CUnknown* CFrameRateConverter::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
  return vxvk::CreateFilterInstance<CFrameRateConverter>(outer, phr);
}

// The samples are not modified: only their times change.
CFrameRateConverter::CFrameRateConverter(LPUNKNOWN outer, HRESULT* phr)
    : CTransInPlaceFilter(NAME("VXCMN Frame Rate Converter"), outer, CLSID_VxFrameRateConverter, phr, false) {}

HRESULT CFrameRateConverter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IFrameRateControl) return GetInterface(static_cast<IFrameRateControl*>(this), ppv);
  return CTransInPlaceFilter::NonDelegatingQueryInterface(riid, ppv);
}

CBasePin* CFrameRateConverter::GetPin(int n) {
  CAutoLock lock(&m_csFilter);
  return MakePins(
      n, [this](HRESULT* hr) { return new (std::nothrow) CFrcInputPin(this, hr); },
      [this](HRESULT* hr) { return new (std::nothrow) CFrcOutputPin(this, hr); });
}

HRESULT CFrameRateConverter::CheckInputType(const CMediaType* in) {
  if (!in) return E_POINTER;
  return in->majortype == MEDIATYPE_Video ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CFrameRateConverter::CompleteConnect(PIN_DIRECTION dir, IPin* receivePin) {
  if (!m_pGraph) return VFW_E_NOT_IN_GRAPH;
  // A reconnection this filter asked for completes the other side again; it must not bounce
  // back (the types already agree then).
  if (m_bReconnecting) return S_OK;
  HRESULT hr = S_OK;
  m_bReconnecting = true;
  if (dir == PINDIR_OUTPUT) {
    if (m_pInput && m_pInput->IsConnected()) {
      const CMediaType original = UpstreamTypeOf(m_pOutput->CurrentMediaType());
      hr = ReconnectPin(m_pInput.get(), &original);
    }
  } else if (m_pOutput && m_pOutput->IsConnected()) {
    const CMediaType wanted = RewriteType(m_pInput->CurrentMediaType(), false);
    if (wanted != m_pOutput->CurrentMediaType()) hr = ReconnectPin(m_pOutput.get(), &wanted);
  }
  m_bReconnecting = false;
  return hr;
}

HRESULT CFrameRateConverter::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  TAV_TRACE("NewSegment(%lld, %lld, %g)", static_cast<long long>(start), static_cast<long long>(stop), rate);
  {
    CAutoLock lock(&m_csFilter);
    CAutoLock clock(&m_csClock);
    m_clock.NewSegment(start, rate);
  }
  return CTransInPlaceFilter::NewSegment(start, stop, rate);
}

HRESULT CFrameRateConverter::Transform(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  vxvk::FrameClock::Placement place;
  {
    CAutoLock lock(&m_csClock);
    m_clock.SetTargetRate(m_targetRate.load());
    if (!m_clock.Active()) return S_OK;
    REFERENCE_TIME start = 0, stop = 0;
    const HRESULT timed = sample->GetTime(&start, &stop);
    if (FAILED(timed)) {
      m_clock.SkipSlot();
      return S_OK;
    }
    // VFW_S_NO_STOP_TIME: a start only, so the frame's end is not known.
    if (!m_clock.Place(start, timed == S_OK ? stop : start, &place))
      return S_FALSE;  // ends before the next free slot: dropped
  }
  // The same frame fills every free slot up to its end, each delivery marked with the
  // picture's number.
  LONGLONG picture = m_pictures++, pictureEnd = picture + 1;
  sample->SetMediaTime(&picture, &pictureEnd);
  for (LONGLONG k = place.firstSlot; k < place.ownSlot; ++k) {
    REFERENCE_TIME s, e;
    {
      CAutoLock lock(&m_csClock);
      s = m_clock.SlotStart(k);
      e = m_clock.SlotEnd(k);
    }
    sample->SetTime(&s, &e);
    // A refused delivery (stopping, flushing, downstream error) ends the repeats: going on
    // would only spin through slots nobody takes.
    if (FAILED(m_pOutput->Deliver(sample))) break;
  }
  CAutoLock lock(&m_csClock);
  REFERENCE_TIME s = m_clock.SlotStart(place.ownSlot), e = m_clock.SlotEnd(place.ownSlot);
  sample->SetTime(&s, &e);
  m_clock.Commit(place);
  return S_OK;
}

HRESULT CFrameRateConverter::GetFrameRate(double* fps) {
  TAV_TRACE("GetFrameRate(%p)", static_cast<void*>(fps));
  if (!fps) return E_POINTER;
  *fps = m_targetRate.load();
  return S_OK;
}

HRESULT CFrameRateConverter::SetFrameRate(double fps) {
  TAV_TRACE("SetFrameRate(%g)", fps);
  if (!(fps >= 0.0) || !std::isfinite(fps)) return E_INVALIDARG;
  m_targetRate.store(fps);
  return S_OK;
}

CMediaType CFrameRateConverter::RewriteType(const AM_MEDIA_TYPE& upstream, bool record) {
  CMediaType rewritten(upstream);
  const double rate = m_targetRate.load();
  REFERENCE_TIME* period = FramePeriodOf(rewritten);
  if (rate == 0.0 || !period) return rewritten;
  *period = static_cast<REFERENCE_TIME>(10'000'000.0 / rate);
  if (record) {
    CAutoLock lock(&m_csTypes);
    const CMediaType original(upstream);
    bool known = false;
    for (const auto& [up, out] : m_typeTable) known = known || (up == original && out == rewritten);
    if (!known) m_typeTable.emplace_back(original, rewritten);
  }
  return rewritten;
}

CMediaType CFrameRateConverter::UpstreamTypeOf(const AM_MEDIA_TYPE& type) {
  const CMediaType t(type);
  CAutoLock lock(&m_csTypes);
  for (const auto& [up, out] : m_typeTable)
    if (out == t) return up;
  return t;
}

// ---- registration --------------------------------------------------------------------------

const AMOVIESETUP_FILTER sudFrameRateConverter = {&CLSID_VxFrameRateConverter, u"VXCMN Frame Rate Converter",
                                                  MERIT_DO_NOT_USE, 2, vxvk::kAnyVideoPins};
