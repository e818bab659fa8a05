#include "libs/subtypeshim/subtypecodes.h"

#include "media/contract/videoinfo.h"

namespace subtypeshim {

bool IsFamilySubtype(const GUID& subtype) {
  if (!IsFourccSubtype(subtype)) return false;
  for (const FamilyCode& c : kFamily)
    if (subtype.Data1 == c.fourcc) return true;
  return false;
}

bool IsFamilyType(const AM_MEDIA_TYPE& mt) { return mt.majortype == MEDIATYPE_Video && IsFamilySubtype(mt.subtype); }

bool IsTargetType(const AM_MEDIA_TYPE& mt) {
  return mt.majortype == MEDIATYPE_Video && mt.subtype == FourccSubtype(kTargetCode);
}

void Relabel(AM_MEDIA_TYPE* mt, FOURCC code) {
  if (!mt) return;
  mt->subtype = FourccSubtype(code);
  // The format block comes from another filter: its length is checked before it is written.
  if (BITMAPINFOHEADER* h = MutableVideoBitmapHeader(*mt)) h->biCompression = code;
}

}  // namespace subtypeshim
