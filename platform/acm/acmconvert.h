// The conversions of the audio compression manager's drivers, made with FFmpeg: resampling
// PCM (swresample), compressing 16-bit PCM (the codec's encoder) and decompressing to
// 16-bit PCM (its decoder).
#pragma once

#include <memory>

#include "platform/acm/acmdrivers.h"

namespace tav::acm {

// One conversion stream's state. Output that does not fit in the caller's buffer waits for
// the next call, so a small destination never loses data. Not thread-safe: the stream handle
// serialises its calls.
class Converter {
 public:
  virtual ~Converter() = default;
  // Converts from `src` into `dst`: reports the source bytes taken (whole source blocks) and the
  // destination bytes written (whole destination blocks). START drops all state first; END
  // also flushes what the codec holds back. MMSYSERR_NOERROR, or MMSYSERR_NOMEM / _ERROR
  // when FFmpeg fails.
  virtual MMRESULT Convert(const BYTE* src, DWORD srcLength, BYTE* dst, DWORD dstLength, DWORD flags,
                           DWORD* srcUsed, DWORD* dstUsed) = 0;
  // Drops the state, as a fresh stream.
  virtual void Reset() = 0;
};

// The converter for `src` to `dst` in `driver` (CanConvert must hold); null when FFmpeg
// cannot set it up.
std::unique_ptr<Converter> MakeConverter(const DriverInfo& driver, const WAVEFORMATEX& src,
                                         const WAVEFORMATEX& dst);

}  // namespace tav::acm
