// The MPEG-4 version 3 family of four-character codes and the relabelling of a media type
// from one code to another. Plain data work, with no streaming framework behind it.
#pragma once

#include <cstddef>

#include "media/contract/mediatypes.h"
#include "media/contract/strmif.h"

namespace subtypeshim {

struct FamilyCode {
  FOURCC fourcc;
  // False for the one code that is accepted at run time but not registered for the input
  // pin, so the mapper never offers the adapter for it on its own.
  bool registered;
};

// The family in the order the adapter lists it (the input pin's expanded types follow it).
inline constexpr FamilyCode kFamily[] = {
    {MAKEFOURCC('D', 'I', 'V', '3'), true}, {MAKEFOURCC('d', 'i', 'v', '3'), true},
    {MAKEFOURCC('D', 'I', 'V', '4'), true}, {MAKEFOURCC('d', 'i', 'v', '4'), true},
    {MAKEFOURCC('D', 'I', 'V', '5'), true}, {MAKEFOURCC('d', 'i', 'v', '5'), true},
    {MAKEFOURCC('D', 'I', 'V', '6'), true}, {MAKEFOURCC('d', 'i', 'v', '6'), false},
    {MAKEFOURCC('A', 'P', '4', '1'), true}, {MAKEFOURCC('a', 'p', '4', '1'), true},
    {MAKEFOURCC('C', 'O', 'L', '1'), true}, {MAKEFOURCC('c', 'o', 'l', '1'), true},
    {MAKEFOURCC('D', 'V', 'X', '3'), true}, {MAKEFOURCC('d', 'v', 'x', '3'), true},
    {MAKEFOURCC('M', 'P', 'G', '3'), true}, {MAKEFOURCC('m', 'p', 'g', '3'), true},
};
inline constexpr size_t kFamilySize = sizeof kFamily / sizeof kFamily[0];

// The code every family member is relabelled to.
inline constexpr FOURCC kTargetCode = MAKEFOURCC('M', 'P', '4', '3');

// True when the subtype is one of the family's codes (MP43 itself is not one).
bool IsFamilySubtype(const GUID& subtype);
// Video whose subtype is one of the family's codes.
bool IsFamilyType(const AM_MEDIA_TYPE& mt);
// Video labelled MP43.
bool IsTargetType(const AM_MEDIA_TYPE& mt);

// Gives the type the code's subtype and, for a VIDEOINFOHEADER or VIDEOINFOHEADER2 format
// block large enough to hold its header, the code as the bitmap header's compression.
// Everything else of the type and of the format block stays.
void Relabel(AM_MEDIA_TYPE* mt, FOURCC code);

}  // namespace subtypeshim
