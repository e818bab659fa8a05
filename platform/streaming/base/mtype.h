// CMediaType: an AM_MEDIA_TYPE that owns its format block (task-allocated) and its pUnk
// reference, and the helpers that create, copy, free and compare media types.
#pragma once

#include "media/contract/mediatypeptr.h"
#include "media/contract/memoryowners.h"
#include "media/contract/strmif.h"

class CMediaType : public AM_MEDIA_TYPE {
 public:
  CMediaType();
  explicit CMediaType(const GUID* majortype);
  CMediaType(const AM_MEDIA_TYPE& mt, HRESULT* phr = nullptr);
  CMediaType(const CMediaType& mt, HRESULT* phr = nullptr);
  ~CMediaType();

  CMediaType& operator=(const CMediaType& mt);
  CMediaType& operator=(const AM_MEDIA_TYPE& mt);
  // Equal major type, subtype, format type and format block.
  bool operator==(const CMediaType& mt) const;
  bool operator!=(const CMediaType& mt) const { return !(*this == mt); }

  HRESULT Set(const CMediaType& mt);
  HRESULT Set(const AM_MEDIA_TYPE& mt);
  // A type is valid once its major type is set.
  BOOL IsValid() const { return majortype != GUID_NULL; }

  const GUID* Type() const { return &majortype; }
  void SetType(const GUID* type) { majortype = *type; }
  const GUID* Subtype() const { return &subtype; }
  void SetSubtype(const GUID* type) { subtype = *type; }
  const GUID* FormatType() const { return &formattype; }
  void SetFormatType(const GUID* type) { formattype = *type; }
  BOOL IsFixedSize() const { return bFixedSizeSamples; }
  BOOL IsTemporalCompressed() const { return bTemporalCompression; }
  ULONG GetSampleSize() const { return IsFixedSize() ? lSampleSize : 0; }
  void SetSampleSize(ULONG size);
  void SetVariableSize();
  void SetTemporalCompression(BOOL compressed) { bTemporalCompression = compressed; }

  BYTE* Format() const { return pbFormat; }
  ULONG FormatLength() const { return cbFormat; }
  // Replaces the format block with a copy of the given bytes.
  BOOL SetFormat(const BYTE* format, ULONG length);
  // Replaces the format block with a zeroed block of the given size; null on failure.
  BYTE* AllocFormatBuffer(ULONG length);
  // Resizes the format block, keeping its leading bytes.
  BYTE* ReallocFormatBuffer(ULONG length);
  void ResetFormatBuffer();
  // Empties the type: frees the format block and releases pUnk, then GUID_NULL everywhere,
  // fixed-size samples of size 1.
  void InitMediaType();

  // True when every non-null GUID of partial matches this type (GUID_NULL is a wildcard)
  // and, when partial has a format block, the blocks are equal.
  BOOL MatchesPartial(const CMediaType* partial) const;
  BOOL IsPartiallySpecified() const;
};

// Copies the type a sample carries since a type change (IMediaSample::GetMediaType) into
// *type; false when the sample carries none.
bool SampleMediaType(IMediaSample* sample, CMediaType* type);
// Task-allocated copy of a type (pbFormat task-allocated too); null on failure.
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* src);
// Frees a CreateMediaType result (or anything handed out by IEnumMediaTypes::Next).
void DeleteMediaType(AM_MEDIA_TYPE* mt);
// Frees the format block and the pUnk reference of a type and empties them.
void FreeMediaType(AM_MEDIA_TYPE& mt);
// Deep copy into a caller-owned structure (whose old contents are not freed).
HRESULT CopyMediaType(AM_MEDIA_TYPE* dst, const AM_MEDIA_TYPE* src);
// Equal major type, subtype, format type and format block.
bool MediaTypesEqual(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b);
// An uncompressed RGB32 video type with a VIDEOINFOHEADER (bottom-up for a positive
// height), whose image and sample size are one frame's bytes; frameTime is the
// AvgTimePerFrame (0: not given).
CMediaType Rgb32VideoType(LONG width, LONG height, REFERENCE_TIME frameTime = 0);
