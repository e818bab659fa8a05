#include "converter/ui/controls/anchorlayout.h"

#include <QEvent>
#include <QWidget>
#include <cstdio>

namespace tav::ui {

CAnchorLayout::CAnchorLayout(QWidget* parent) : QObject(parent), parent_(parent), base_(parent->size()) {
  parent_->installEventFilter(this);
}

void CAnchorLayout::Add(QWidget* child, int flags) {
  if (!child) return;
  if (children_.empty()) base_ = parent_->size();
  for (Child& c : children_) {
    if (c.widget == child) {
      c.flags = flags;
      return;
    }
  }
  // A child registered after the parent was resized is taken back to the base size, so
  // that every child is computed against the same reference.
  QRect rect = child->geometry();
  if (parent_->size() != base_) {
    QSize now = parent_->size();
    int dw = now.width() - base_.width(), dh = now.height() - base_.height();
    // Undo what Place would do for an edge following the far side; proportional edges
    // are taken as they are (their base is approximate when registered late).
    int l = rect.left(), t = rect.top(), r = rect.left() + rect.width(), b = rect.top() + rect.height();
    if (!(flags & (kKeepLeft | kPropLeft))) l -= dw;
    if (!(flags & (kKeepTop | kPropTop))) t -= dh;
    if (flags & kKeepRight) r -= dw;
    if (flags & kKeepBottom) b -= dh;
    rect = QRect(l, t, r - l, b - t);
  }
  children_.push_back({child, flags, rect, false});
}

void CAnchorLayout::Remove(QWidget* child) {
  std::erase_if(children_, [child](const Child& c) { return c.widget == child || c.widget.isNull(); });
}

void CAnchorLayout::Rebase() {
  base_ = parent_->size();
  for (Child& c : children_) {
    if (c.widget) c.base = c.widget->geometry();
  }
}

QRect CAnchorLayout::Place(const QRect& rect, int flags, const QSize& base, const QSize& now) {
  const int dw = now.width() - base.width();
  const int dh = now.height() - base.height();
  // Edges as the platform keeps them: right and bottom exclusive.
  long long l = rect.left(), t = rect.top();
  long long r = l + rect.width(), b = t + rect.height();
  auto prop = [](long long v, int from, int to) { return from > 0 ? v * to / from : v; };

  long long nl = (flags & kKeepLeft) ? l : (flags & kPropLeft) ? prop(l, base.width(), now.width()) : l + dw;
  long long nt = (flags & kKeepTop) ? t : (flags & kPropTop) ? prop(t, base.height(), now.height()) : t + dh;
  long long nr = (flags & kKeepRight) ? r + dw : (flags & kPropRight) ? prop(r, base.width(), now.width()) : r;
  long long nb = (flags & kKeepBottom) ? b + dh : (flags & kPropBottom) ? prop(b, base.height(), now.height()) : b;
  return QRect(int(nl), int(nt), int(nr - nl), int(nb - nt));
}

void CAnchorLayout::Apply() {
  std::erase_if(children_, [](const Child& c) { return c.widget.isNull(); });
  if (children_.empty()) return;
  const QSize now = parent_->size();
  // One batch: nothing repaints until every child has its place.
  const bool updates = parent_->updatesEnabled();
  parent_->setUpdatesEnabled(false);
  for (Child& c : children_) {
    QRect rect = Place(c.base, c.flags, base_, now);
    if (rect.width() <= 0 || rect.height() <= 0) {
      if (!c.widget->isHidden()) {
        c.widget->hide();
        c.hiddenByLayout = true;
      }
      continue;
    }
    c.widget->setGeometry(rect);
    if (c.hiddenByLayout) {
      c.hiddenByLayout = false;
      c.widget->show();
    }
  }
  parent_->setUpdatesEnabled(updates);
}

bool CAnchorLayout::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parent_ && event->type() == QEvent::Resize) Apply();
  return QObject::eventFilter(watched, event);
}

std::string CAnchorLayout::FormatWindowRect(const QRect& rect) {
  char text[64];
  std::snprintf(text, sizeof text, "%i, %i, %i, %i", rect.left(), rect.top(), rect.left() + rect.width(),
                rect.top() + rect.height());
  return text;
}

std::optional<QRect> CAnchorLayout::ParseWindowRect(const std::string& text) {
  int l = 0, t = 0, r = 0, b = 0;
  if (std::sscanf(text.c_str(), "%i,%i,%i,%i", &l, &t, &r, &b) != 4) return std::nullopt;
  return QRect(l, t, r - l, b - t);
}

std::string CAnchorLayout::SaveWindowRect(const QWidget* window) { return FormatWindowRect(window->frameGeometry()); }

bool CAnchorLayout::RestoreWindowRect(QWidget* window, const std::string& text, const QSize& minSize) {
  std::optional<QRect> rect = ParseWindowRect(text);
  if (!rect) return false;
  // The saved rectangle is the frame; the window's own geometry excludes the frame.
  const QRect frame = window->frameGeometry(), inner = window->geometry();
  const int extraW = frame.width() - inner.width(), extraH = frame.height() - inner.height();
  int width = std::max(rect->width() - extraW, minSize.width());
  int height = std::max(rect->height() - extraH, minSize.height());
  window->resize(std::max(width, 1), std::max(height, 1));
  window->move(rect->topLeft());
  return true;
}

}  // namespace tav::ui
