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

}  // namespace tav
