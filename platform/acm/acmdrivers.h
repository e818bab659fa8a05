// The drivers of the audio compression manager: what each one is called, which format tags
// and standard formats it offers, which conversions it makes, what it suggests and how big
// a conversion's output can get. The conversions themselves are in acmconvert.h.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "media/contract/msacm.h"

namespace tav::acm {

enum class DriverKind { PcmConverter, Mp3, ImaAdpcm, G711 };

struct FormatTagInfo {
  WORD tag;
  const char* name;
  DWORD formatBytes;  // size of this tag's format structure (WAVEFORMATEX plus extra bytes)
};

struct DriverInfo {
  DriverKind kind;
  const char* shortName;
  const char* longName;
  const char* features;
  WORD productId;
  DWORD support;                    // ACMDRIVERDETAILS_SUPPORTF_CODEC or _CONVERTER
  std::vector<FormatTagInfo> tags;  // PCM first
};

// The installed drivers in priority order. A codec driver whose FFmpeg encoder or decoder is
// missing from this system is left out.
const std::vector<DriverInfo>& Drivers();

// A format block: a WAVEFORMATEX and the extra bytes of its tag.
using FormatBlock = std::vector<BYTE>;

// Size of the format `wfx` describes: 16 bytes for PCM, else 18 + cbSize.
DWORD FormatSize(const WAVEFORMATEX& wfx);
// Whether `wfx` is a well-formed format of a tag the driver offers, with values its codec takes.
bool FormatValid(const DriverInfo& driver, const WAVEFORMATEX& wfx);
// The standard formats of `tag`, in enumeration order (empty for a tag the driver lacks).
std::vector<FormatBlock> StandardFormats(const DriverInfo& driver, WORD tag);
// Whether the driver converts `src` to `dst` (both checked with FormatValid).
bool CanConvert(const DriverInfo& driver, const WAVEFORMATEX& src, const WAVEFORMATEX& dst);
// The destination format the driver suggests for `src`, honouring the fields of `want` that
// `flags` (ACM_FORMATSUGGESTF_...) name. False when it has none.
bool Suggest(const DriverInfo& driver, const WAVEFORMATEX& src, const WAVEFORMATEX& want, DWORD flags,
             FormatBlock* out);
// Text of a format for ACMFORMATDETAILS ("22.050 kHz, 16 Bit, Stereo").
std::string DescribeFormat(const WAVEFORMATEX& wfx);

// Output bytes a conversion of `bytes` input bytes needs (fromSource), or the most input bytes
// whose output fits in `bytes` (!fromSource). 0 when no whole block can be made.
DWORD StreamSize(const WAVEFORMATEX& src, const WAVEFORMATEX& dst, DWORD bytes, bool fromSource);

}  // namespace tav::acm
