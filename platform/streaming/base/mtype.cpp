#include "platform/streaming/base/mtype.h"

#include <cstring>

CMediaType::CMediaType() : AM_MEDIA_TYPE{} { InitMediaType(); }

CMediaType::CMediaType(const GUID* type) : AM_MEDIA_TYPE{} {
  InitMediaType();
  if (type) majortype = *type;
}

CMediaType::CMediaType(const AM_MEDIA_TYPE& mt, HRESULT* phr) : AM_MEDIA_TYPE{} {
  InitMediaType();
  const HRESULT hr = Set(mt);
  if (FAILED(hr) && phr) *phr = hr;
}

CMediaType::CMediaType(const CMediaType& mt, HRESULT* phr) : CMediaType(static_cast<const AM_MEDIA_TYPE&>(mt), phr) {}

CMediaType::~CMediaType() { FreeMediaType(*this); }

CMediaType& CMediaType::operator=(const CMediaType& mt) {
  Set(mt);
  return *this;
}

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& mt) {
  Set(mt);
  return *this;
}

bool CMediaType::operator==(const CMediaType& mt) const { return MediaTypesEqual(*this, mt); }

HRESULT CMediaType::Set(const CMediaType& mt) { return Set(static_cast<const AM_MEDIA_TYPE&>(mt)); }

HRESULT CMediaType::Set(const AM_MEDIA_TYPE& mt) {
  if (&mt == static_cast<AM_MEDIA_TYPE*>(this)) return S_OK;
  FreeMediaType(*this);
  const HRESULT hr = CopyMediaType(this, &mt);
  if (FAILED(hr)) InitMediaType();
  return hr;
}

void CMediaType::SetSampleSize(ULONG size) {
  if (size == 0) {
    SetVariableSize();
  } else {
    bFixedSizeSamples = TRUE;
    lSampleSize = size;
  }
}

void CMediaType::SetVariableSize() { bFixedSizeSamples = FALSE; }

BOOL CMediaType::SetFormat(const BYTE* format, ULONG length) {
  if (length && !format) return FALSE;
  if (!AllocFormatBuffer(length) && length) return FALSE;
  if (length) std::memcpy(pbFormat, format, length);
  return TRUE;
}

// A media type is the owner of its format block, which the platform's structure holds as a
// plain pointer: the three functions below are where that block is replaced or freed.
BYTE* CMediaType::AllocFormatBuffer(ULONG length) {
  if (cbFormat == length && pbFormat) {
    std::memset(pbFormat, 0, length);
    return pbFormat;
  }
  BYTE* block = length ? static_cast<BYTE*>(CoTaskMemAlloc(length)) : nullptr;
  if (length && !block) return nullptr;
  if (block) std::memset(block, 0, length);
  if (pbFormat) CoTaskMemFree(pbFormat);  // AM_MEDIA_TYPE's own field: task memory by contract
  pbFormat = block;
  cbFormat = length;
  return pbFormat;
}

BYTE* CMediaType::ReallocFormatBuffer(ULONG length) {
  if (length == cbFormat && pbFormat) return pbFormat;
  BYTE* block = length ? static_cast<BYTE*>(CoTaskMemAlloc(length)) : nullptr;
  if (length && !block) return nullptr;
  if (block) {
    std::memset(block, 0, length);
    if (pbFormat) std::memcpy(block, pbFormat, std::min(length, cbFormat));
  }
  if (pbFormat) CoTaskMemFree(pbFormat);  // AM_MEDIA_TYPE's own field: task memory by contract
  pbFormat = block;
  cbFormat = length;
  return pbFormat;
}

void CMediaType::ResetFormatBuffer() {
  if (pbFormat) CoTaskMemFree(pbFormat);  // AM_MEDIA_TYPE's own field: task memory by contract
  pbFormat = nullptr;
  cbFormat = 0;
}

void CMediaType::InitMediaType() {
  // A type that is emptied gives up its format block and its pUnk reference: filters empty
  // the types they hold when a pin disconnects, and fill a type handed to them by clearing
  // it first, so a block held before would otherwise be lost. Every constructor starts
  // from a zeroed type, so there is never garbage to free here.
  FreeMediaType(*this);
  majortype = GUID_NULL;
  subtype = GUID_NULL;
  formattype = GUID_NULL;
  bFixedSizeSamples = TRUE;
  bTemporalCompression = FALSE;
  lSampleSize = 1;
  pUnk = nullptr;
  cbFormat = 0;
  pbFormat = nullptr;
}

BOOL CMediaType::MatchesPartial(const CMediaType* partial) const {
  if (partial->majortype != GUID_NULL && partial->majortype != majortype) return FALSE;
  if (partial->subtype != GUID_NULL && partial->subtype != subtype) return FALSE;
  if (partial->formattype != GUID_NULL) {
    if (partial->formattype != formattype) return FALSE;
    if (partial->cbFormat != cbFormat) return FALSE;
    if (cbFormat && std::memcmp(partial->pbFormat, pbFormat, cbFormat) != 0) return FALSE;
  }
  return TRUE;
}

BOOL CMediaType::IsPartiallySpecified() const {
  return majortype == GUID_NULL || subtype == GUID_NULL || formattype == GUID_NULL;
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* src) {
  if (!src) return nullptr;
  tav::TaskMemPtr<AM_MEDIA_TYPE> mt(static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE))));
  if (!mt || FAILED(CopyMediaType(mt.Get(), src))) return nullptr;
  return mt.Release();
}

bool SampleMediaType(IMediaSample* sample, CMediaType* type) {
  tav::MediaTypePtr changed;
  if (!sample || sample->GetMediaType(changed.Out()) != S_OK || !changed) return false;
  *type = *changed.Get();
  return true;
}

void DeleteMediaType(AM_MEDIA_TYPE* mt) { tav::MediaTypePtr(mt).Reset(); }

void FreeMediaType(AM_MEDIA_TYPE& mt) { tav::FreeMediaTypeContents(mt); }

HRESULT CopyMediaType(AM_MEDIA_TYPE* dst, const AM_MEDIA_TYPE* src) {
  if (!dst || !src) return E_POINTER;
  if (dst == src) return S_OK;
  *dst = *src;
  if (src->cbFormat && src->pbFormat) {
    dst->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(src->cbFormat));
    if (!dst->pbFormat) {
      dst->cbFormat = 0;
      dst->pUnk = nullptr;
      return E_OUTOFMEMORY;
    }
    std::memcpy(dst->pbFormat, src->pbFormat, src->cbFormat);
  } else {
    // A length without a block (or a block without a length) is treated as no format.
    dst->pbFormat = nullptr;
    dst->cbFormat = 0;
  }
  if (dst->pUnk) dst->pUnk->AddRef();
  return S_OK;
}

bool MediaTypesEqual(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b) {
  if (a.majortype != b.majortype || a.subtype != b.subtype || a.formattype != b.formattype) return false;
  if (a.cbFormat != b.cbFormat) return false;
  if (a.cbFormat == 0) return true;
  if (!a.pbFormat || !b.pbFormat) return a.pbFormat == b.pbFormat;
  return std::memcmp(a.pbFormat, b.pbFormat, a.cbFormat) == 0;
}

CMediaType Rgb32VideoType(LONG width, LONG height, REFERENCE_TIME frameTime) {
  CMediaType mt(&MEDIATYPE_Video);
  mt.SetSubtype(&MEDIASUBTYPE_RGB32);
  mt.SetFormatType(&FORMAT_VideoInfo);
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
  if (!vih) return mt;
  std::memset(vih, 0, sizeof(VIDEOINFOHEADER));
  vih->AvgTimePerFrame = frameTime;
  vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  vih->bmiHeader.biWidth = width;
  vih->bmiHeader.biHeight = height;
  vih->bmiHeader.biPlanes = 1;
  vih->bmiHeader.biBitCount = 32;
  vih->bmiHeader.biCompression = BI_RGB;
  vih->bmiHeader.biSizeImage = DWORD(width) * DWORD(height < 0 ? -height : height) * 4;
  mt.SetSampleSize(vih->bmiHeader.biSizeImage);
  return mt;
}
