#include "libs/subtypeshim/subtypeadapter.h"

#include <new>

#include "libs/subtypeshim/subtypecodes.h"
#include "media/contract/trace.h"

TAV_TRACE_SOURCE(kSubtypes, "adapter");

using subtypeshim::IsFamilyType;
using subtypeshim::IsTargetType;
using subtypeshim::kFamily;
using subtypeshim::kFamilySize;
using subtypeshim::kTargetCode;
using subtypeshim::Relabel;

namespace {

// The code a family type carries in its subtype.
FOURCC CodeOf(const AM_MEDIA_TYPE& mt) { return mt.subtype.Data1; }

// For GetMediaType(position, mt) of the other pin: the types the peer of `pin` offers, once
// the arguments pass; VFW_E_NOT_CONNECTED while `pin` is unconnected.
HRESULT PeerTypes(int position, const CMediaType* mt, CBasePin* pin, ComPtr<IEnumMediaTypes>& types) {
  if (!mt) return E_POINTER;
  if (position < 0) return E_INVALIDARG;
  if (!pin || !pin->IsConnected()) return VFW_E_NOT_CONNECTED;
  const HRESULT hr = pin->GetConnected()->EnumMediaTypes(types.ReleaseAndGetAddressOf());
  if (FAILED(hr)) return hr;
  return types ? S_OK : E_UNEXPECTED;
}

// The enumerator's next type: S_OK, VFW_S_NO_MORE_ITEMS past the end, or its failure.
HRESULT NextType(IEnumMediaTypes* types, tav::MediaTypePtr* type) {
  ULONG fetched = 0;
  const HRESULT hr = types->Next(1, type->Out(), &fetched);
  if (FAILED(hr)) return hr;
  return hr == S_OK && fetched == 1 && type->Get() ? S_OK : VFW_S_NO_MORE_ITEMS;
}

}  // namespace

// ---- pins ------------------------------------------------------------------------------------

// The input offers what the downstream pin takes, in every family spelling: each MP43 type of
// the downstream pin becomes sixteen types, one per code in table order.
class CSubtypeAdapterInputPin final : public CTransInPlaceInputPin {
 public:
  CSubtypeAdapterInputPin(CSubtypeAdapter* filter, HRESULT* phr)
      : CTransInPlaceInputPin(NAME("subtype adapter input"), filter, phr, u"Input") {}

  // An enumerator over GetMediaType rather than the downstream pin's own.
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** out) override { return CBasePin::EnumMediaTypes(out); }

  // CheckInputType, and CheckTransform against a connected output; the downstream pin is not
  // asked, since it takes only the relabelled type.
  HRESULT CheckMediaType(const CMediaType* mt) override { return CTransformInputPin::CheckMediaType(mt); }

  HRESULT GetMediaType(int position, CMediaType* mt) override {
    ComPtr<IEnumMediaTypes> types;
    HRESULT hr = PeerTypes(position, mt, m_pTIPFilter->OutputPin(), types);
    if (hr != S_OK) return hr;

    // Walk the downstream list until the expanded position falls inside one of its types.
    size_t skip = size_t(position);
    for (;;) {
      tav::MediaTypePtr t;
      hr = NextType(types.Get(), &t);
      if (hr != S_OK) return hr;
      if (!IsTargetType(*t)) continue;
      if (skip >= kFamilySize) {
        skip -= kFamilySize;
        continue;
      }
      hr = mt->Set(*t);
      if (FAILED(hr)) return hr;
      Relabel(mt, kFamily[skip].fourcc);
      return S_OK;
    }
  }
};

// The output offers the upstream pin's types, family types relabelled to MP43.
class CSubtypeAdapterOutputPin final : public CTransInPlaceOutputPin {
 public:
  CSubtypeAdapterOutputPin(CSubtypeAdapter* filter, HRESULT* phr)
      : CTransInPlaceOutputPin(NAME("subtype adapter output"), filter, phr, u"Output") {}

  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** out) override { return CBasePin::EnumMediaTypes(out); }

  // CheckTransform once the input is connected; the upstream pin is not asked, since it
  // never takes the relabelled type.
  HRESULT CheckMediaType(const CMediaType* mt) override { return CTransformOutputPin::CheckMediaType(mt); }

  HRESULT GetMediaType(int position, CMediaType* mt) override {
    ComPtr<IEnumMediaTypes> types;
    HRESULT hr = PeerTypes(position, mt, m_pTIPFilter->InputPin(), types);
    if (hr != S_OK) return hr;
    if (position > 0) {
      hr = types->Skip(ULONG(position));
      if (FAILED(hr)) return hr;
      if (hr != S_OK) return VFW_S_NO_MORE_ITEMS;
    }
    tav::MediaTypePtr t;
    hr = NextType(types.Get(), &t);
    if (hr != S_OK) return hr;
    hr = mt->Set(*t);
    if (FAILED(hr)) return hr;
    if (IsFamilyType(*mt)) Relabel(mt, kTargetCode);
    return S_OK;
  }
};

// ---- the filter ------------------------------------------------------------------------------

CUnknown* CSubtypeAdapter::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
  auto* f = new (std::nothrow) CSubtypeAdapter(outer, phr);
  if (!f && phr) *phr = E_OUTOFMEMORY;
  return f;
}

// The data is never written, so read-only upstream buffers are passed on as they are.
CSubtypeAdapter::CSubtypeAdapter(LPUNKNOWN outer, HRESULT* phr)
    : CTransInPlaceFilter(NAME("VXCMN Subtype Adapter Filter"), outer, CLSID_SubtypeAdapter, phr, false) {}

CBasePin* CSubtypeAdapter::GetPin(int n) {
  return MakePins(
      n, [this](HRESULT* hr) { return new (std::nothrow) CSubtypeAdapterInputPin(this, hr); },
      [this](HRESULT* hr) { return new (std::nothrow) CSubtypeAdapterOutputPin(this, hr); });
}

HRESULT CSubtypeAdapter::CheckInputType(const CMediaType* mt) {
  if (!mt) return E_POINTER;
  return IsFamilyType(*mt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CSubtypeAdapter::CheckTransform(const CMediaType*, const CMediaType*) { return S_OK; }

HRESULT CSubtypeAdapter::CompleteConnect(PIN_DIRECTION dir, IPin*) {
  if (!m_pGraph) return VFW_E_NOT_IN_GRAPH;
  if (dir == PINDIR_OUTPUT) {
    if (!m_pInput->IsConnected()) return S_OK;
    // The upstream pin gets the downstream type back in its own spelling, and with it the
    // downstream allocator.
    CMediaType upstream(m_pOutput->CurrentMediaType());
    Relabel(&upstream, CodeOf(m_pInput->CurrentMediaType()));
    const HRESULT hr = ReconnectPin(m_pInput.get(), &upstream);
    TAV_TRACE("output connected: input reconnected -> 0x%08x", unsigned(hr));
    return hr;
  }
  if (!m_pOutput || !m_pOutput->IsConnected()) return S_OK;
  CMediaType downstream(m_pInput->CurrentMediaType());
  Relabel(&downstream, kTargetCode);
  if (downstream == m_pOutput->CurrentMediaType()) return S_OK;
  const HRESULT hr = ReconnectPin(m_pOutput.get(), &downstream);
  TAV_TRACE("input connected with a new type: output reconnected -> 0x%08x", unsigned(hr));
  return hr;
}

HRESULT CSubtypeAdapter::Transform(IMediaSample*) { return S_OK; }

// ---- registration ----------------------------------------------------------------------------

namespace {

// Every family code but the run-time-only one, in table order.
constexpr size_t kRegisteredCount = [] {
  size_t n = 0;
  for (const auto& c : kFamily) n += c.registered ? 1 : 0;
  return n;
}();

struct RegisteredSubtypes {
  GUID subtypes[kRegisteredCount];
  AMOVIESETUP_MEDIATYPE types[kRegisteredCount];
};

const RegisteredSubtypes& InputTypes() {
  static const RegisteredSubtypes table = [] {
    RegisteredSubtypes t{};
    size_t n = 0;
    for (const auto& c : kFamily) {
      if (!c.registered) continue;
      t.subtypes[n] = FourccSubtype(c.fourcc);
      ++n;
    }
    for (size_t i = 0; i < kRegisteredCount; ++i) t.types[i] = {&MEDIATYPE_Video, &t.subtypes[i]};
    return t;
  }();
  return table;
}

const AMOVIESETUP_MEDIATYPE kOutputTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_MP43}};

const AMOVIESETUP_PIN kPins[] = {
    {u"Input", FALSE, FALSE, FALSE, FALSE, nullptr, nullptr, UINT(kRegisteredCount), InputTypes().types},
    {u"Output", FALSE, TRUE, FALSE, FALSE, nullptr, nullptr, 1, kOutputTypes},
};

}  // namespace

const AMOVIESETUP_FILTER sudSubtypeAdapter = {&CLSID_SubtypeAdapter, u"VXCMN Subtype Adapter Filter", MERIT_PREFERRED,
                                              2, kPins};
