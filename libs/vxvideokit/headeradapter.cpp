#include "libs/vxvideokit/headeradapter.h"
#include "libs/vxvideokit/videopins.h"

#include <cstddef>
#include <cstring>
#include <new>

namespace {

constexpr ULONG kInterlaceFlagsAt = offsetof(VIDEOINFOHEADER2, dwInterlaceFlags);
static_assert(kInterlaceFlagsAt == 48);

// The 32-bit word at byte 48 of a format block: VIDEOINFOHEADER2's interlace flags.
bool WordAt48IsZero(const AM_MEDIA_TYPE& mt) {
  DWORD word = 0;
  if (!mt.pbFormat || mt.cbFormat < kInterlaceFlagsAt + sizeof word) return false;
  std::memcpy(&word, mt.pbFormat + kInterlaceFlagsAt, sizeof word);
  return word == 0;
}

// What the input takes: video in either header form, progressive.
bool IsProgressiveVideo(const AM_MEDIA_TYPE& mt) {
  if (mt.majortype != MEDIATYPE_Video) return false;
  if (mt.formattype != FORMAT_VideoInfo && mt.formattype != FORMAT_VideoInfo2) return false;
  return WordAt48IsZero(mt);
}

// Offers the peer of `other`'s types, converted; VFW_E_NOT_CONNECTED without a peer.
HRESULT ConvertedPeerType(CBasePin* other, int position, CMediaType* mt, CMediaType (*convert)(const CMediaType&)) {
  if (position < 0) return E_INVALIDARG;
  if (!other || !other->IsConnected()) return VFW_E_NOT_CONNECTED;
  ComPtr<IEnumMediaTypes> types;
  if (FAILED(other->GetConnected()->EnumMediaTypes(types.ReleaseAndGetAddressOf())) || !types)
    return VFW_S_NO_MORE_ITEMS;
  if (position > 0 && types->Skip(ULONG(position)) != S_OK) return VFW_S_NO_MORE_ITEMS;
  tav::MediaTypePtr next;
  if (types->Next(1, next.Out(), nullptr) != S_OK || !next) return VFW_S_NO_MORE_ITEMS;
  *mt = convert(CMediaType(*next.Get()));
  return S_OK;
}

}  // namespace

namespace {

// `mt` with its From format block rewritten as a To block: the rectangles, bit rates and
// frame period copied, the bitmap header (and any masks or palette after it, up to the end of
// the block) placed after them, every other field zero. `mt` itself unless its block is a
// whole From block of type `from`, or when the new block cannot be had.
template <typename To, typename From>
CMediaType Reformatted(const CMediaType& mt, const GUID& from, const GUID& to) {
  if (mt.formattype != from || mt.cbFormat < sizeof(From) || !mt.pbFormat) return mt;
  constexpr ULONG kFromPrefix = offsetof(From, bmiHeader);
  constexpr ULONG kToPrefix = offsetof(To, bmiHeader);
  const auto* in = reinterpret_cast<const From*>(mt.pbFormat);
  const ULONG header = in->bmiHeader.biSize >= sizeof(BITMAPINFOHEADER) ? in->bmiHeader.biSize : sizeof(BITMAPINFOHEADER);
  const ULONG available = mt.cbFormat - kFromPrefix;
  const ULONG copied = header < available ? header : available;
  CMediaType out(mt);
  out.SetFormatType(&to);
  BYTE* block = out.ReallocFormatBuffer(kToPrefix + copied);
  if (!block) return mt;
  std::memset(block, 0, kToPrefix + copied);
  auto* converted = reinterpret_cast<To*>(block);
  converted->rcSource = in->rcSource;
  converted->rcTarget = in->rcTarget;
  converted->dwBitRate = in->dwBitRate;
  converted->dwBitErrorRate = in->dwBitErrorRate;
  converted->AvgTimePerFrame = in->AvgTimePerFrame;
  std::memcpy(block + kToPrefix, &in->bmiHeader, copied);
  return out;
}

}  // namespace

CMediaType VideoInfo2ToVideoInfo(const CMediaType& mt) {
  return Reformatted<VIDEOINFOHEADER, VIDEOINFOHEADER2>(mt, FORMAT_VideoInfo2, FORMAT_VideoInfo);
}

// Progressive, unprotected, with the picture's own aspect ratio.
CMediaType VideoInfoToVideoInfo2(const CMediaType& mt) {
  CMediaType out = Reformatted<VIDEOINFOHEADER2, VIDEOINFOHEADER>(mt, FORMAT_VideoInfo, FORMAT_VideoInfo2);
  if (out.formattype != FORMAT_VideoInfo2 || mt.formattype != FORMAT_VideoInfo) return out;
  const BITMAPINFOHEADER& bitmap = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader;
  auto* vih2 = reinterpret_cast<VIDEOINFOHEADER2*>(out.pbFormat);
  vih2->dwPictAspectRatioX = DWORD(bitmap.biWidth);
  vih2->dwPictAspectRatioY = DWORD(bitmap.biHeight < 0 ? -bitmap.biHeight : bitmap.biHeight);
  return out;
}

// ---- pins -------------------------------------------------------------------------------------

class CHeaderAdapterInputPin final : public CTransInPlaceInputPin {
 public:
  CHeaderAdapterInputPin(CVideoHeaderAdapter* f, HRESULT* phr)
      : CTransInPlaceInputPin(NAME("header adapter input"), f, phr, u"Input"), m_pAdapter(f) {}
  // The downstream pin's types, as VIDEOINFOHEADER2.
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** out) override { return CBasePin::EnumMediaTypes(out); }
  HRESULT GetMediaType(int position, CMediaType* mt) override {
    return ConvertedPeerType(m_pAdapter->m_pOutput.get(), position, mt, &VideoInfoToVideoInfo2);
  }
  HRESULT CheckMediaType(const CMediaType* mt) override {
    if (!mt) return E_POINTER;
    return m_pAdapter->CheckInputType(mt);
  }

 private:
  CVideoHeaderAdapter* m_pAdapter;
};

class CHeaderAdapterOutputPin final : public CTransInPlaceOutputPin {
 public:
  CHeaderAdapterOutputPin(CVideoHeaderAdapter* f, HRESULT* phr)
      : CTransInPlaceOutputPin(NAME("header adapter output"), f, phr, u"Output"), m_pAdapter(f) {}
  // The upstream pin's types, as VIDEOINFOHEADER.
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** out) override { return CBasePin::EnumMediaTypes(out); }
  HRESULT GetMediaType(int position, CMediaType* mt) override {
    return ConvertedPeerType(m_pAdapter->m_pInput.get(), position, mt, &VideoInfo2ToVideoInfo);
  }
  HRESULT CheckMediaType(const CMediaType* mt) override {
    if (!mt) return E_POINTER;
    CBasePin* in = m_pAdapter->m_pInput.get();
    if (!in || !in->IsConnected()) return VFW_E_TYPE_NOT_ACCEPTED;
    return m_pAdapter->CheckTransform(&in->CurrentMediaType(), mt);
  }

 private:
  CVideoHeaderAdapter* m_pAdapter;
};

// ---- the filter --------------------------------------------------------------------------------

CUnknown* CVideoHeaderAdapter::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
  auto* f = new (std::nothrow) CVideoHeaderAdapter(outer, phr);
  if (!f && phr) *phr = E_OUTOFMEMORY;
  return f;
}

CVideoHeaderAdapter::CVideoHeaderAdapter(LPUNKNOWN outer, HRESULT* phr)
    : CTransInPlaceFilter(NAME("VXCMN Video Header Adapter"), outer, CLSID_VxVideoHeaderAdapter, phr, false) {}

CBasePin* CVideoHeaderAdapter::GetPin(int n) {
  return MakePins(
      n, [this](HRESULT* hr) { return new (std::nothrow) CHeaderAdapterInputPin(this, hr); },
      [this](HRESULT* hr) { return new (std::nothrow) CHeaderAdapterOutputPin(this, hr); });
}

HRESULT CVideoHeaderAdapter::CheckInputType(const CMediaType* mt) {
  if (!mt) return E_POINTER;
  if (!IsProgressiveVideo(*mt)) return VFW_E_TYPE_NOT_ACCEPTED;
  if (m_pOutput && m_pOutput->IsConnected()) {
    const CMediaType converted = VideoInfo2ToVideoInfo(*mt);
    if (m_pOutput->GetConnected()->QueryAccept(&converted) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
  }
  return S_OK;
}

HRESULT CVideoHeaderAdapter::CheckTransform(const CMediaType* in, const CMediaType* out) {
  if (!in || !out) return E_POINTER;
  if (!IsProgressiveVideo(*in)) return VFW_E_TYPE_NOT_ACCEPTED;
  if (out->majortype != MEDIATYPE_Video || out->formattype != FORMAT_VideoInfo) return VFW_E_TYPE_NOT_ACCEPTED;
  if (m_pInput && m_pInput->IsConnected()) {
    const CMediaType converted = VideoInfoToVideoInfo2(*out);
    if (m_pInput->GetConnected()->QueryAccept(&converted) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
  }
  return S_OK;
}

HRESULT CVideoHeaderAdapter::CompleteConnect(PIN_DIRECTION dir, IPin*) {
  if (!m_pGraph) return VFW_E_NOT_IN_GRAPH;
  if (dir == PINDIR_OUTPUT) {
    if (!m_pInput->IsConnected()) return S_OK;
    const CMediaType upstream = VideoInfoToVideoInfo2(m_pOutput->CurrentMediaType());
    return ReconnectPin(m_pInput.get(), &upstream);
  }
  if (m_pOutput && m_pOutput->IsConnected()) {
    const CMediaType downstream = VideoInfo2ToVideoInfo(m_pInput->CurrentMediaType());
    if (!(downstream == m_pOutput->CurrentMediaType())) return ReconnectPin(m_pOutput.get(), &downstream);
  }
  return S_OK;
}

HRESULT CVideoHeaderAdapter::Transform(IMediaSample* sample) {
  CMediaType original;
  if (SampleMediaType(sample, &original)) {
    const CMediaType converted = VideoInfo2ToVideoInfo(original);
    if (m_pOutput->CheckMediaType(&converted) == S_OK) {
      sample->SetMediaType(const_cast<CMediaType*>(&converted));
      m_pInput->CurrentMediaType() = original;
    }
  }
  return S_OK;
}

// ---- registration -------------------------------------------------------------------------------

const AMOVIESETUP_FILTER sudVideoHeaderAdapter = {&CLSID_VxVideoHeaderAdapter, u"VXCMN Video Header Adapter",
                                                  MERIT_DO_NOT_USE, 2, vxvk::kAnyVideoPins};
