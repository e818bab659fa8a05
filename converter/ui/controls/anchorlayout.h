// CAnchorLayout: keeps registered child widgets placed relative to their parent's size.
//
// Each child is registered with a flag byte that says how each of its edges follows the
// parent when the parent is resized:
//   1 left edge keeps its distance from the parent's left      16 left edge proportional
//   2 top edge keeps its distance from the parent's top        32 top edge proportional
//   4 right edge keeps its distance from the parent's right    64 right edge proportional
//   8 bottom edge keeps its distance from the parent's bottom 128 bottom edge proportional
// An edge with neither of its bits moves with the opposite side: left and top follow the
// parent's right and bottom, right and bottom keep their distance from the left and top.
// Examples: 15 grows both ways, 13 stretches horizontally and moves down, 12 moves right
// and down, 9 stays left and moves down, 6 stays at the top and moves right.
//
// Positions are always computed from the rectangles seen at registration (or at the last
// Rebase) against the parent's size then, so repeated resizes never drift. All children
// move in one batch per resize, with the parent's painting held meanwhile. A child whose
// rectangle becomes empty is hidden, and shown again once it is not; a child hidden by
// someone else stays hidden.
//
// The same helper formats and parses a window's saved rectangle ("left, top, right,
// bottom" in screen pixels, right and bottom exclusive as the platform writes them).
#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace tav::ui {

class CAnchorLayout : public QObject {
  Q_OBJECT
 public:
  enum Flag : int {
    kKeepLeft = 1,
    kKeepTop = 2,
    kKeepRight = 4,
    kKeepBottom = 8,
    kPropLeft = 16,
    kPropTop = 32,
    kPropRight = 64,
    kPropBottom = 128,
  };

  // Watches parent's resizes; the layout is a child object of parent.
  explicit CAnchorLayout(QWidget* parent);

  // Registers a child of the parent (or replaces its flags) with its current geometry.
  void Add(QWidget* child, int flags);
  void Remove(QWidget* child);
  // Takes every child's current geometry and the parent's current size as the new base
  // (after the owner moved children itself).
  void Rebase();
  // Places every child for the parent's current size (done on every resize).
  void Apply();

  // The rectangle a child gets for a parent of size now, when it was `rect` in a parent of
  // size `base`. Exposed for tests and for callers that place things themselves.
  static QRect Place(const QRect& rect, int flags, const QSize& base, const QSize& now);

  // "left, top, right, bottom" of a window's frame rectangle.
  static std::string FormatWindowRect(const QRect& rect);
  // Reads "%i,%i,%i,%i"; nothing when the text does not hold four numbers.
  static std::optional<QRect> ParseWindowRect(const std::string& text);
  // The window's placement as FormatWindowRect writes it.
  static std::string SaveWindowRect(const QWidget* window);
  // Moves the window to a saved rectangle, widened or heightened to at least minSize;
  // false (and the window untouched) when the text does not parse.
  static bool RestoreWindowRect(QWidget* window, const std::string& text, const QSize& minSize = QSize());

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Child {
    QPointer<QWidget> widget;
    int flags = 0;
    QRect base;  // geometry when registered or rebased
    bool hiddenByLayout = false;
  };

  QWidget* parent_;
  QSize base_;  // the parent's size when the base rectangles were taken
  std::vector<Child> children_;
};

}  // namespace tav::ui
