// MediaTypeValue: an owned copy of a media type (major type, subtype, format type and
// format block) that the engine keeps beyond the life of the platform's structure; and the
// PCM sound formats the engine asks for.
#pragma once

#include <vector>

#include "media/contract/mediatypes.h"

namespace tav {

struct MediaTypeValue {
  GUID majortype = GUID_NULL;
  GUID subtype = GUID_NULL;
  BOOL bFixedSizeSamples = FALSE;
  BOOL bTemporalCompression = FALSE;
  ULONG lSampleSize = 0;
  GUID formattype = GUID_NULL;
  std::vector<BYTE> format;

  MediaTypeValue() = default;
  // Copies mt (a null mt gives the empty type). The interface pointer is not kept.
  explicit MediaTypeValue(const AM_MEDIA_TYPE* mt);

  bool IsEmpty() const { return majortype == GUID_NULL && subtype == GUID_NULL && formattype == GUID_NULL; }
  void Clear() { *this = MediaTypeValue(); }
  // The format block as T when it is at least sizeof(T) long, else null.
  template <typename T>
  const T* FormatAs() const {
    return format.size() >= sizeof(T) ? reinterpret_cast<const T*>(format.data()) : nullptr;
  }
  bool operator==(const MediaTypeValue&) const = default;
};

// Uncompressed PCM of samplesPerSec frames a second, each of channels samples of bitsPerSample
// bits; the block size and byte rate follow from those.
WAVEFORMATEX PcmFormat(DWORD samplesPerSec, WORD channels, WORD bitsPerSample);

}  // namespace tav
