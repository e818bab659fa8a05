// Where a frame goes on the drawer's canvas: the video's destination rectangle for a fit
// mode, and the flags that choose between copying and stretching. Pure arithmetic, shared
// by the drawer and its tests.
#pragma once

#include "media/contract/wintypes.h"

struct DrawerGeometry {
  RECT videoDest{};          // on the canvas; empty when the source has no size
  bool compose = false;      // a manager is set or the fit is not 0: draw through the canvas
  bool scaleVideo = false;   // the destination's size differs from the source's
  bool scaleCanvas = false;  // the canvas size differs from the target rectangle's
  bool stretch = false;      // plain drawing: source and target sizes differ
};

// source and target: the drawer's rectangles; canvasWidth x canvasHeight: the canvas;
// fit: 0 stretch, 1 centred, 2 inside with bars, 3 crop; other values act as 0.
DrawerGeometry ComputeDrawerGeometry(const RECT& source, const RECT& target, int canvasWidth, int canvasHeight, int fit,
                                     bool hasManager);
