// The registered pins of the library's video filters that have one input and one output,
// both of the same video types.
#pragma once

#include "media/contract/mediatypes.h"
#include "platform/streaming/base/dllsetup.h"

namespace vxvk {

// Video of any subtype: the resizers, the frame rate converter and the header adapter.
inline const AMOVIESETUP_MEDIATYPE kAnyVideo[] = {{&MEDIATYPE_Video, &GUID_NULL}};
inline const AMOVIESETUP_PIN kAnyVideoPins[] = {
    {u"Input", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kAnyVideo},
    {u"Output", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kAnyVideo},
};

// 24-bit RGB video: the analysers.
inline const AMOVIESETUP_MEDIATYPE kRgb24Video[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24}};
inline const AMOVIESETUP_PIN kRgb24VideoPins[] = {
    {u"Input", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kRgb24Video},
    {u"Output", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kRgb24Video},
};

}  // namespace vxvk
