// The registered pins of the library's video filters that have one input and one output,
// both of the same video types. Defined once in videopins.cpp: the tables point at the
// contract's null identifiers, which each translation unit holds on its own, so an inline
// definition here would differ from one unit to the next.
#pragma once

#include "platform/streaming/base/dllsetup.h"

namespace vxvk {

// Video of any subtype: the resizers, the frame rate converter and the header adapter.
extern const AMOVIESETUP_PIN kAnyVideoPins[2];

// 24-bit RGB video: the analysers.
extern const AMOVIESETUP_PIN kRgb24VideoPins[2];

}  // namespace vxvk
