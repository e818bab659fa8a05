#include "libs/captionpainter/drawergeometry.h"

DrawerGeometry ComputeDrawerGeometry(const RECT& source, const RECT& target, int canvasWidth, int canvasHeight, int fit,
                                     bool hasManager) {
  DrawerGeometry g;
  const int sw = source.right - source.left, sh = source.bottom - source.top;
  const int tw = target.right - target.left, th = target.bottom - target.top;
  const int W = canvasWidth, H = canvasHeight;
  // 64-bit products: canvases and sources are small, but the comparison must not overflow.
  const long long hsw = (long long)H * sw, wsh = (long long)W * sh;
  if (sw > 0 && sh > 0) {
    int w = W, h = H;
    switch (fit) {
      case 1:
        w = sw;
        h = sh;
        break;
      case 2:
        if (hsw < wsh) {
          w = MulDiv(H, sw, sh);
        } else if (wsh < hsw) {
          h = MulDiv(W, sh, sw);
        }
        break;
      case 3:
        if (hsw < wsh) {
          h = MulDiv(W, sh, sw);
        } else if (wsh < hsw) {
          w = MulDiv(H, sw, sh);
        }
        break;
      default:
        break;
    }
    const int left = (W - w) / 2, top = (H - h) / 2;
    SetRect(&g.videoDest, left, top, left + w, top + h);
  }
  g.scaleVideo = (g.videoDest.right - g.videoDest.left) != sw || (g.videoDest.bottom - g.videoDest.top) != sh;
  g.scaleCanvas = W != tw || H != th;
  g.compose = hasManager || fit != 0;
  g.stretch = sw != tw || sh != th;
  return g;
}
