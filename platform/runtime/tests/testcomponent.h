// The component library built for the runtime's tests: two classes, one of which can be
// aggregated.
#pragma once

#include "media/contract/com.h"

// A plain object holding a number; refuses aggregation.
TAV_DEFINE_GUID(CLSID_TestCounter, 0x5A1C0001, 0x7E11, 0x4C3A, 0x9B, 0x20, 0x11, 0x22, 0x33, 0x44, 0x55, 0x01);
// An object that can be aggregated: its IUnknown calls go to the outer object.
TAV_DEFINE_GUID(CLSID_TestInner, 0x5A1C0002, 0x7E11, 0x4C3A, 0x9B, 0x20, 0x11, 0x22, 0x33, 0x44, 0x55, 0x02);
TAV_DEFINE_GUID(IID_ITestCounter, 0x5A1C1001, 0x7E11, 0x4C3A, 0x9B, 0x20, 0x11, 0x22, 0x33, 0x44, 0x55, 0x11);
TAV_DEFINE_GUID(IID_ITestInner, 0x5A1C1002, 0x7E11, 0x4C3A, 0x9B, 0x20, 0x11, 0x22, 0x33, 0x44, 0x55, 0x12);

struct ITestCounter : IUnknown {
  STDMETHOD(Add)(LONG delta) = 0;
  STDMETHOD_(LONG, Value)() = 0;
};
TAV_INTERFACE(ITestCounter, IID_ITestCounter);

struct ITestInner : IUnknown {
  // Answers the outer object's IUnknown as seen from inside (null when not aggregated).
  STDMETHOD(Outer)(IUnknown** outer) = 0;
};
TAV_INTERFACE(ITestInner, IID_ITestInner);

// Live objects of the library (exported, for tests that load it themselves).
extern "C" LONG TestComponentLiveObjects();
