// CCustomSlider: the preview's position slider (control 1012) with the trim markers.
//
// The range is 0 .. 1000 with a tick every 100. The thumb follows the player every 100 ms
// and writes "current %1/ total %2" into the status label; dragging the thumb pauses the
// player, seeks as it moves and gives the player back its state when released. Below the
// channel two markers (start and end) show the trim range; dragging one pauses the player
// and sets the player's start or end point from the marker's value. Play, Pause and Stop
// commands go through the slider, which drives its player.
//
// Pixel x maps to value min + ((max - min) * (x - channel left) + channel width / 2) /
// channel width. The start marker never passes the end marker.
#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "converter/engine/player.h"

#include <QLabel>

namespace tav::ui {

class CCustomSlider : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kMin = 0;
  static constexpr int kMax = 1000;
  static constexpr int kTickStep = 100;
  static constexpr int kTimerMs = 100;

  // The draggable parts.
  enum class Part { kNone, kThumb, kStartMarker, kEndMarker };

  explicit CCustomSlider(QWidget* parent = nullptr);

  // The player the slider follows and drives (null: none). It follows it every kTimerMs
  // while a graph is attached; the owner calls this again once it attaches one.
  void SetPlayer(PlayerCore* player);
  PlayerCore* Player() const { return player_; }
  bool IsFollowing() const { return timer_.isActive(); }
  // The play-status line the slider writes (control 1036).
  void SetStatusLabel(QLabel* label) { status_ = label; }
  // Whether the player window shows part of the picture at actual size: the status line
  // then says so after the times ("actual size, drag to move").
  void SetCroppedView(bool cropped);

  int Pos() const { return pos_; }
  void SetPos(int value);
  int SelStart() const { return selStart_; }
  int SelEnd() const { return selEnd_; }
  void SetSelection(int start, int end);

  // Markers from an entry's trim points (100-ns units): both -1 resets the player's points
  // and the markers span the whole range; otherwise the player's points are set and the
  // markers placed at their slider values.
  void SetMarkersFromPoints(REFERENCE_TIME start, REFERENCE_TIME end);

  // The commands of the Play/Pause and Stop buttons: Play runs the player, Pause pauses
  // it, Stop pauses it, seeks to 0 and stops it. E_UNEXPECTED without a player.
  HRESULT OnPlay();
  HRESULT OnPause();
  HRESULT OnStop();

  // One tick of the timer: thumb and status line from the player.
  void UpdateFromPlayer();

  // Geometry, for painting, hit-testing and tests.
  QRect ChannelRect() const;
  QRect ThumbRect() const;
  QRect MarkerRect(Part marker) const;
  int ValueAt(int x) const;
  int XOf(int value) const;
  Part HitTest(const QPoint& at) const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 signals:
  // The user moved a marker and the player's points changed.
  void PointsChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void BeginThumbScroll();
  void ThumbScrollTo(int value);
  void EndThumbScroll();
  void MoveMarker(Part marker, int value);
  // Writes the times (empty when no player is attached) and the cropped note.
  void WriteStatus(const QString& times);

  PlayerCore* player_ = nullptr;
  QPointer<QLabel> status_;
  QString lastTimes_;  // the times part of the status line as last written
  bool cropped_ = false;
  QTimer timer_;

  int pos_ = kMin;
  int selStart_ = kMin;
  int selEnd_ = kMax;

  // Dragging: the part held, whether it moved yet, and the player's state before a thumb
  // scroll began.
  Part dragPart_ = Part::kNone;
  bool scrolling_ = false;
  int stateBeforeScroll_ = PlayerCore::kNoGraph;
};

}  // namespace tav::ui
