#include "libs/vxvideokit/videopins.h"

#include "media/contract/mediatypes.h"

namespace vxvk {

namespace {
const AMOVIESETUP_MEDIATYPE kAnyVideo[] = {{&MEDIATYPE_Video, &GUID_NULL}};
const AMOVIESETUP_MEDIATYPE kRgb24Video[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24}};
}  // namespace

const AMOVIESETUP_PIN kAnyVideoPins[2] = {
    {u"Input", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kAnyVideo},
    {u"Output", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kAnyVideo},
};

const AMOVIESETUP_PIN kRgb24VideoPins[2] = {
    {u"Input", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kRgb24Video},
    {u"Output", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kRgb24Video},
};

}  // namespace vxvk
