// Identifiers of classes and types that exist only in tests. They share every field but the
// first, so that a test file's identifiers read as a numbered series (0x3C000001, ...).
#pragma once

#include "media/contract/guid.h"

#define TAVTEST_GUID(name, first) \
  TAV_DEFINE_GUID(name, first, 0x1111, 0x2222, 0x33, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66)
