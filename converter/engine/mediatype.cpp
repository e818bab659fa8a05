#include "converter/engine/mediatype.h"

namespace tav {

MediaTypeValue::MediaTypeValue(const AM_MEDIA_TYPE* mt) {
  if (!mt) return;
  majortype = mt->majortype;
  subtype = mt->subtype;
  bFixedSizeSamples = mt->bFixedSizeSamples;
  bTemporalCompression = mt->bTemporalCompression;
  lSampleSize = mt->lSampleSize;
  formattype = mt->formattype;
  if (mt->pbFormat && mt->cbFormat) format.assign(mt->pbFormat, mt->pbFormat + mt->cbFormat);
}

WAVEFORMATEX PcmFormat(DWORD samplesPerSec, WORD channels, WORD bitsPerSample) {
  WAVEFORMATEX wfx{};
  wfx.wFormatTag = WAVE_FORMAT_PCM;
  wfx.nChannels = channels;
  wfx.nSamplesPerSec = samplesPerSec;
  wfx.wBitsPerSample = bitsPerSample;
  wfx.nBlockAlign = static_cast<WORD>(bitsPerSample * channels / 8);
  wfx.nAvgBytesPerSec = samplesPerSec * wfx.nBlockAlign;
  wfx.cbSize = 0;
  return wfx;
}

}  // namespace tav
