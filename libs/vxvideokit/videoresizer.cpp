#include "libs/vxvideokit/videoresizer.h"

#include <cstring>
#include <new>

#include "libs/vxvideokit/bilinearresize.h"
#include "libs/vxvideokit/resizerproperties.h"
#include "libs/vxvideokit/videopins.h"
#include "media/contract/trace.h"

TAV_TRACE_SOURCE(kVideoKit, "resizer");

// ---- construction --------------------------------------------------------------------------

CUnknown* CVideoResizer::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
  return vxvk::CreateFilterInstance<CVideoResizer>(outer, phr);
}

CVideoResizer::CVideoResizer(LPUNKNOWN outer, HRESULT* phr)
    : CResizerFilter(NAME("VXCMN Video Resizer"), outer, CLSID_VxVideoResizer) {
  const HRESULT hr = CResizerProperties::Acquire(&m_registry);
  if (FAILED(hr) && phr) *phr = hr;
}

CVideoResizer::~CVideoResizer() = default;

CBasePin* CVideoResizer::GetPin(int n) {
  CAutoLock lock(&m_csFilter);
  return MakePins(
      n,
      [this](HRESULT* hr) {
        return new (std::nothrow) CTransformInputPin(NAME("video resizer input"), this, hr, u"Input");
      },
      [this](HRESULT* hr) {
        return new (std::nothrow) CTransformOutputPin(NAME("video resizer output"), this, hr, u"Output");
      });
}

// ---- negotiation ---------------------------------------------------------------------------

HRESULT CVideoResizer::CheckInputType(const CMediaType* in) {
  if (!in) return E_POINTER;
  if (in->formattype != FORMAT_VideoInfo) return E_FAIL;
  HRESULT hr = CheckVideoInput(in);
  if (hr != S_OK) return E_FAIL;
  // Only pixels the scaler can blend: palette indices and compressed frames are refused
  // here rather than failing every frame later.
  const BITMAPINFOHEADER* h = VideoBitmapHeader(*in);
  if (h->biBitCount != 16 && h->biBitCount != 24 && h->biBitCount != 32) return E_FAIL;
  if (h->biCompression != BI_RGB && h->biCompression != BI_BITFIELDS) return E_FAIL;
  return S_OK;
}

HRESULT CVideoResizer::GetMediaType(int position, CMediaType* mt) {
  if (!mt) return E_POINTER;
  if (!m_pInput || !m_pInput->IsConnected()) return E_UNEXPECTED;
  if (position < 0) return E_INVALIDARG;
  CAutoLock lock(&m_csFilter);
  if (position == 0) {
    *mt = m_pInput->CurrentMediaType();
    return S_OK;
  }
  if (position == 1 && m_configured.IsValid()) {
    *mt = m_configured;
    return S_OK;
  }
  return VFW_S_NO_MORE_ITEMS;
}

// ---- streaming -----------------------------------------------------------------------------

HRESULT CVideoResizer::StartStreaming() {
  m_sourceFile.Reset();
  if (m_registry) {
    const HRESULT hr = m_registry->GetSourceFileName(static_cast<IBaseFilter*>(this), m_sourceFile.Out());
    TAV_TRACE("source file search 0x%08x", unsigned(hr));
  }
  m_fieldMode = 0;
  m_prepassType = 0;
  return S_OK;
}

HRESULT CVideoResizer::Transform(IMediaSample* in, IMediaSample* out) {
  if (!in || !out) return E_POINTER;

  // 1. The interlace treatment of this frame.
  m_fieldMode = 0;
  m_prepassType = 0;
  REFERENCE_TIME start = 0, stop = 0;
  const HRESULT timed = in->GetTime(&start, &stop);
  if (timed != VFW_E_SAMPLE_TIME_NOT_SET) {
    if (FAILED(timed)) return E_FAIL;
    // A graph without a file source (a live or generated stream) has nothing registered
    // for it: its frames are scaled progressively, not refused.
    if (m_sourceFile && m_registry && FAILED(m_registry->Lookup(m_sourceFile.Get(), start, &m_fieldMode, &m_prepassType)))
      return E_FAIL;
  }

  // 2. The buffers and their headers; the types do not change while streaming.
  const BITMAPINFOHEADER* ih = VideoBitmapHeader(m_inputType);
  const BITMAPINFOHEADER* oh = VideoBitmapHeader(m_outputType);
  if (!ih || !oh) return E_FAIL;
  BYTE* src = nullptr;
  BYTE* dst = nullptr;
  if (FAILED(in->GetPointer(&src)) || !src || FAILED(out->GetPointer(&dst)) || !dst) return E_FAIL;
  LONG srcBytes = in->GetSize();
  const LONG dstBytes = out->GetSize();
  if (srcBytes <= 0 || dstBytes <= 0) return E_FAIL;

  // 3. The prepass works on a copy: the input sample may be shared with other branches of
  // the graph or be read-only.
  const BYTE* pixels = src;
  if (m_prepassType >= vxvk::kPrepassLineDoubling && m_prepassType <= vxvk::kPrepassAdaptiveBlend) {
    try {
      m_prepassFrame.assign(src, src + srcBytes);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    vxvk::RunPrepass(m_prepassType, m_prepassFrame.data(), m_prepassFrame.size(), ih->biBitCount, ih->biWidth,
                     ih->biHeight);
    pixels = m_prepassFrame.data();
  }
  const bool rgb555 = m_inputType.subtype == MEDIASUBTYPE_RGB555;
  const HRESULT hr = vxvk::ScaleBilinear(*ih, pixels, size_t(srcBytes), *oh, dst, size_t(dstBytes), m_mode.load(),
                                         m_fieldMode, rgb555);
  if (FAILED(hr)) return E_FAIL;
  out->SetActualDataLength(LONG(GetBitmapSize(oh)));
  return S_OK;
}

// ---- registration --------------------------------------------------------------------------

const AMOVIESETUP_FILTER sudVideoResizer = {&CLSID_VxVideoResizer, u"VXCMN Video Resizer", MERIT_DO_NOT_USE, 2,
                                            vxvk::kAnyVideoPins};
