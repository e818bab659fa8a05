// PlayerCore: the graph control of the preview player, without a window of its own. It
// holds one graph's control interfaces, runs, pauses and stops it, seeks, keeps the start
// point and the stop position (the trim points), and hands the graph's events to its
// owner on the thread that attached it: the graph posts a message to the player's
// platform window, and the owner's message loop dispatches it. The GUI's player widget
// wraps this core; the conversion run uses it directly.
//
// Play states:
//   -1 no graph (or a state change under way / failed)
//    0 stopped   (after Attach, Stop)
//    1 paused    (Pause)
//    2 running   (Run)
// Transitions: Attach: -1 -> 0; Run / Pause / Stop: any attached state -> 2 / 1 / 0, passing
// through -1 while the graph changes; Detach: any -> -1.
#pragma once

#include <functional>

#include "converter/engine/framesize.h"
#include "media/contract/comptr.h"
#include "media/contract/strmif.h"
#include "media/contract/window.h"

namespace tav {

class PlayerCore;

// What the left mouse button did over the player window: pressed, dragged, released.
enum class MousePhase { kPress, kMove, kRelease };

// The owner of a player: the main form while previewing, the document while converting.
class PlayerEventSink {
 public:
  virtual ~PlayerEventSink() = default;
  virtual void OnPlayerEvent(PlayerCore* player, LONG eventCode) = 0;
  // Answers whether the owner handled the mouse.
  virtual bool OnMouse(PlayerCore* player, MousePhase phase, int x, int y, int width, int height) = 0;
  virtual void OnStateChanged(PlayerCore* player, int state) = 0;
};

class PlayerCore {
 public:
  enum State : int { kNoGraph = -1, kStopped = 0, kPaused = 1, kRunning = 2 };

  PlayerCore();
  ~PlayerCore();
  PlayerCore(const PlayerCore&) = delete;
  PlayerCore& operator=(const PlayerCore&) = delete;

  // Takes the graph's interfaces (seeking: the graph's own or another seeking interface to
  // use instead, may be null). Events of the graph are delivered by the calling thread's
  // message loop. A graph already attached is detached first.
  HRESULT Attach(IGraphBuilder* graph, IMediaSeeking* seeking, int defaultWidth, int defaultHeight,
                 PlayerEventSink* sink);
  void Detach();
  bool IsAttached() const { return control_ != nullptr; }

  HRESULT Run();
  HRESULT Pause();
  HRESULT Stop();
  int GetState() const { return state_; }

  HRESULT GetPosition(REFERENCE_TIME* position) const;
  HRESULT GetDuration(REFERENCE_TIME* duration) const;
  // Seeks to the exact position: the source starts at the key frame before it, and the
  // pictures up to it are decoded but not shown, so the picture shown next is the one at
  // that time however far apart the movie's key frames are. toKeyFrame true lands on the
  // nearest key frame instead (cheaper, but the picture may be seconds away).
  HRESULT Seek(REFERENCE_TIME position, bool toKeyFrame = false);
  HRESULT SeekToSlider(LONG value, LONG low, LONG high);
  LONG SliderPos(LONG low, LONG high) const;

  bool GetPoints(REFERENCE_TIME* start, REFERENCE_TIME* end) const;
  // end -1: to the end of the movie.
  HRESULT SetPoints(REFERENCE_TIME start, REFERENCE_TIME end);
  HRESULT ResetPoints();
  HRESULT SetStartFromSlider(LONG value, LONG low, LONG high);
  HRESULT SetEndFromSlider(LONG value, LONG low, LONG high);
  bool PointsValid() const { return pointsValid_; }

  // HRESULT of the last error event of the graph (S_OK when none since Attach).
  HRESULT GetLastError() const { return lastError_; }

  // The native video size, when the graph has a video renderer.
  bool GetVideoSize(LONG* width, LONG* height) const;
  int DefaultWidth() const { return defaultWidth_; }
  int DefaultHeight() const { return defaultHeight_; }
  // The owner given to Attach (null while detached).
  PlayerEventSink* Sink() const { return sink_; }

  // Fetches and delivers every queued graph event; the window procedure calls it, and a
  // loop without windows may call it itself.
  void DeliverEvents();

  // The attached graph's video window and basic video interfaces (null without a graph or
  // when the graph has no video renderer).
  IVideoWindow* VideoWindow() const { return videoWindow_.Get(); }
  IBasicVideo* BasicVideo() const { return basicVideo_.Get(); }
  // Called after every successful Attach (attached true) and every Detach (false), whoever
  // attached the graph (the form's preview or the conversion run): the GUI's player window
  // hosts the graph's video window from it.
  using AttachHook = std::function<void(PlayerCore* player, bool attached)>;
  void SetAttachHook(AttachHook hook) { attachHook_ = std::move(hook); }

  // How long a state change may stay intermediate before it is tried again (tests).
  void SetStateWaitMs(DWORD ms) { stateWaitMs_ = ms; }

  // The message the graph posts to the player's window when events are queued.
  static constexpr UINT kGraphNotifyMessage = WM_APP + 0x11;

 private:
  HRESULT ChangeState(int target);
  REFERENCE_TIME SliderTime(LONG value, LONG low, LONG high) const;
  HRESULT SetStop(REFERENCE_TIME* current, REFERENCE_TIME stop);
  // Drops the events queued in the attached graph.
  void DiscardEvents();
  static LRESULT WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

  // Graph interfaces, held while attached.
  ComPtr<IGraphBuilder> graph_;
  ComPtr<IMediaControl> control_;
  ComPtr<IMediaSeeking> seeking_;
  ComPtr<IMediaEventEx> events_;
  ComPtr<IVideoWindow> videoWindow_;
  ComPtr<IBasicVideo> basicVideo_;

  // Play state and trim state.
  int state_ = kNoGraph;
  REFERENCE_TIME startPoint_ = 0;
  bool pointsValid_ = false;
  bool restartFromStart_ = false;  // the next Run seeks to the start point first
  HRESULT lastError_ = S_OK;
  // Counts attachments and detachments, so that a delivery loop notices when the graph it
  // fetches from was let go under it (even if the same graph was attached again).
  unsigned attachment_ = 0;

  // Configuration from Attach.
  PlayerEventSink* sink_ = nullptr;
  int defaultWidth_ = kSmallFrame.width;
  int defaultHeight_ = kSmallFrame.height;
  DWORD stateWaitMs_ = 10000;

  AttachHook attachHook_;

  // Receives the graph's event notifications; owned by the thread that created the player.
  HWND notifyWindow_ = nullptr;
};

}  // namespace tav
