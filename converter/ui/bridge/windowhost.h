// PlatformWindowHost: a QWidget that is a platform window (HWND) and shows its drawing.
//
// What it does, for whoever embeds a platform window (the preview player's video area):
// - Hwnd() is a platform window handle owned by the GUI thread. Give it to anything that
//   wants a window: IVideoWindow::put_Owner, PostMessage targets for graph events, SetTimer.
//   Every message delivered to the handle goes first to the message handler you install
//   (SetMessageHandler); answer true when you handled it.
// - The handle has a drawing surface (tav::SetWindowSurface) the size of the widget: a
//   32-bit top-down section bitmap. GetDC(Hwnd()) draws into it from any thread.
// - Invalidation: after drawing, post WM_PAINT to Hwnd() (any thread, PostMessage). The
//   host then repaints the widget from the surface on the GUI thread. Invalidate() does the
//   same from the GUI thread.
// - Painting: before the widget shows the surface, the handler receives WM_PAINT
//   (synchronously, on the GUI thread), so a drawer that keeps its own picture can put it
//   into the surface first. A posted WM_PAINT is not passed on again; it only schedules
//   this repaint.
// - Size: when the widget is resized the surface is replaced by one of the new size
//   (black), the handler receives WM_SIZE (SIZE_RESTORED, width in the low and height in
//   the high word of lParam) and then WM_PAINT, and sizeChanged() is emitted. A drawer that
//   caches GetDC() must take a fresh one after WM_SIZE.
// - Mouse: presses, releases, double clicks and moves over the widget reach the handler as
//   WM_LBUTTONDOWN ... WM_MOUSEMOVE with MK_* key flags and client coordinates.
// - Replaced surfaces stay alive for a grace time (kRetiredSurfaceGraceMs) and for as long as
//   a window context (GetDC) still draws into them. A drawer that writes a surface's pixels
//   directly (GetWindowSurface + GetObject bits) should hold GetDC(Hwnd()) while it writes:
//   that is what keeps the surface it writes into from being deleted under it.
// - Destruction: the surface is taken away, then the handle is destroyed (the handler gets
//   WM_DESTROY). Stop anything that draws into Hwnd() before destroying the widget.
//
// Threads: the widget, its handle and its handler live on the GUI thread; only GetDC,
// drawing, ReleaseDC and PostMessage may come from other threads.
#pragma once

#include <QElapsedTimer>
#include <QSize>
#include <QWidget>
#include <functional>
#include <vector>

#include "media/contract/window.h"
#include "media/contract/wingdi.h"

namespace tav::ui {

class PlatformWindowHost : public QWidget {
  Q_OBJECT

 public:
  // Receives every message of the handle; true when handled (*result is then the answer).
  using MessageHandler = std::function<bool(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result)>;

  explicit PlatformWindowHost(QWidget* parent = nullptr);
  ~PlatformWindowHost() override;

  HWND Hwnd() const { return hwnd_; }
  void SetMessageHandler(MessageHandler handler) { handler_ = std::move(handler); }

  // The current drawing surface (null while the widget has no area).
  HBITMAP Surface() const { return surface_; }
  QSize SurfaceSize() const { return surfaceSize_; }
  // Schedules a repaint from the surface (GUI thread; other threads post WM_PAINT).
  void Invalidate() { update(); }
  // Colour of the widget where nothing was drawn (black by default).
  void SetBackground(QColor color);

  QSize sizeHint() const override { return {320, 240}; }

  // How long a replaced surface outlives its replacement at least.
  static constexpr int kRetiredSurfaceGraceMs = 1000;

 signals:
  void sizeChanged(QSize size);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  static LRESULT WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  // Passes a message to the handler (0 when it has none or does not handle it).
  LRESULT ToHandler(UINT msg, WPARAM wParam, LPARAM lParam);
  void ReplaceSurface(QSize size);
  // Deletes replaced surfaces whose grace time is over and that no context draws into
  // (all of them when force is set, except those still in a context).
  void DeleteRetiredSurfaces(bool force = false);
  void SendMouse(UINT msg, QMouseEvent* event);

  HWND hwnd_ = nullptr;
  MessageHandler handler_;
  // The surface the handle draws into, and bitmaps waiting to be deleted.
  HBITMAP surface_ = nullptr;
  void* surfaceBits_ = nullptr;
  QSize surfaceSize_;
  struct Retired {
    HBITMAP bitmap;
    QElapsedTimer age;
  };
  std::vector<Retired> retired_;
  bool retryScheduled_ = false;
  QColor background_{Qt::black};
};

}  // namespace tav::ui
