// CPlayerWnd: the preview player's window (control 1011 of the main form). It wraps the
// engine's PlayerCore, hosts the attached graph's video window in a platform window of its
// own, and shows either the playing video, an entry's still picture, or, with neither, a
// black rectangle of the default size (320 x 240) in its middle.
//
// Video rectangle: the picture is fitted to the window, as large as it allows with its
// aspect kept and centred, so the preview grows and shrinks with the window. A double-click
// switches to actual size and back: at actual size the picture is centred at its native
// size and, when larger than the window, shifted by the user's pan (dragging with the left
// button) and kept inside the window so that no gap appears. The context menu offers the
// same choice ("Fit to window" / "Actual size"), the tooltip says how to move or fit the
// picture, and croppedChanged tells the play-status line when only part of the picture is
// shown. Each newly attached preview starts fitted.
//
// A paused preview gets no further frame from its graph: after a live setting changes, the
// picture is fetched again at the same position, so that the change shows at once.
//
// Whoever attaches a graph to Core() (the form for the preview, the conversion run for the
// live picture of a run), the window hosts its video: the core tells the window on every
// attach and detach. Graph events reach the attaching owner (PlayerEventSink) through the
// core on the GUI thread.
#pragma once

#include <QImage>
#include <QWidget>

class QAction;
#include <functional>
#include <memory>
#include <string>

#include "converter/engine/framesize.h"
#include "converter/engine/player.h"

namespace tav {
class CConvertOrder;
class FilterGraphBuilder;
}  // namespace tav

namespace tav::ui {

class PlatformWindowHost;

class CPlayerWnd : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kDefaultWidth = kSmallFrame.width;
  static constexpr int kDefaultHeight = kSmallFrame.height;

  explicit CPlayerWnd(QWidget* parent = nullptr);
  ~CPlayerWnd() override;

  PlayerCore* Core() { return &core_; }

  // Attaches the preview graph of a builder (its seeking interface included); the builder
  // is kept for the live settings below until Detach.
  HRESULT Attach(FilterGraphBuilder* builder, int defaultWidth, int defaultHeight, PlayerEventSink* sink);
  void Detach();
  bool IsAttached() const { return core_.IsAttached(); }
  HRESULT Run() { return core_.Run(); }
  HRESULT Pause() { return core_.Pause(); }
  HRESULT Stop() { return core_.Stop(); }

  // The still picture: the entry's preview snapshot with its subtitles, shown while no graph
  // is attached, at width x height (null entry: none; the default black rectangle then
  // shows). A change repaints the window.
  void ShowStill(CConvertOrder* entry, int width = kDefaultWidth, int height = kDefaultHeight);
  CConvertOrder* StillEntry() const { return stillEntry_; }
  const QImage& StillImage() const { return still_; }

  // Live settings of the previewed entry, passed to the preview builder's resizers and
  // subtitle drawers so that the preview shows them at once (a shown still picture is drawn
  // again). Each answers the failing call's result (S_OK when there is no preview).
  HRESULT SetFrameSize(int width, int height);
  HRESULT SetScreenFit(int mode);
  HRESULT SetSubtitles(const std::string& file, const std::string& language, const std::string& sizeId);
  HRESULT SetSubtitleLanguage(const std::string& language);
  HRESULT SetSubtitleSize(const std::string& sizeId);
  HRESULT EnableSubtitles(bool on);

  // Where the video (or the still picture, or the default rectangle) is drawn.
  QRect VideoRect() const;
  bool IsZoomed() const { return zoom_; }
  // Fits the picture into the window (true) or shows it at actual size (false).
  void SetZoom(bool zoom);
  // A video or still picture larger than the window is shown at actual size: only part of
  // it shows.
  bool IsCropped() const;
  // The context menu's choices.
  QAction* FitAction() const { return fitAction_; }
  QAction* ActualSizeAction() const { return actualSizeAction_; }
  // The hint the tooltip adds to the control's own text (empty when there is nothing to say).
  QString ViewHint() const;
  QPoint PanOffset() const { return pan_; }
  // The hosted video window (tests look at what the renderer drew).
  PlatformWindowHost* VideoHost() const { return video_; }

 signals:
  void croppedChanged(bool cropped);

 protected:
  bool event(QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  void OnCoreAttached(bool attached);
  // Places the hosted video window at the video rectangle.
  void PlaceVideo();
  QSize NativeSize() const;
  // The size of what is shown: the video's, the still picture's or the default one.
  QSize CurrentVideoSize() const;
  // What is shown (video, still picture or the default rectangle) is larger than the
  // window in some direction.
  bool IsLargerThanWindow() const;
  void ClampPan();
  // Composes the still picture of stillEntry_ (with captions when a drawer is available).
  void RenderStill();
  void NotifyMouse(MousePhase phase, const QPoint& at);
  // Tells the status line when the cropped state changed, and sets the menu's checks.
  void UpdateViewState();
  // A paused preview shows its picture again at the same position, through the graph's
  // filters with their new settings.
  void RefreshPausedPicture();
  // Makes a change of how the pictures are drawn: in the preview graph's drawers when a graph
  // is attached, then in the still picture and the paused picture; the graph's failure.
  HRESULT ChangeDrawing(const std::function<void(FilterGraphBuilder&)>& change);

  PlayerCore core_;
  PlatformWindowHost* video_;
  FilterGraphBuilder* builder_ = nullptr;  // the preview builder while attached through Attach

  // The still picture.
  CConvertOrder* stillEntry_ = nullptr;
  QSize stillSize_{kDefaultWidth, kDefaultHeight};
  QImage still_;

  // Video placement.
  QSize native_;  // of the attached graph's video (empty without one)
  bool zoom_ = true;  // fitted to the window, not at actual size
  QPoint pan_;
  bool dragging_ = false;
  QPoint lastMouse_;
  bool cropped_ = false;  // as last told through croppedChanged
  QAction* fitAction_ = nullptr;
  QAction* actualSizeAction_ = nullptr;
};

}  // namespace tav::ui
