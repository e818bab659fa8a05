// The window host: drawing into the hosted platform window shows in the widget, the
// window's surface and WM_SIZE follow the widget's size, and paint and mouse messages reach
// the handler.
#include <gtest/gtest.h>

#include <QImage>
#include <QTest>
#include <thread>
#include <vector>

#include "converter/ui/bridge/messagepump.h"
#include "converter/ui/bridge/windowhost.h"

namespace tav::ui {
namespace {

struct Message {
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
};

// Fills rect of the window's surface through the drawing layer, as a renderer does.
void FillWindow(HWND hwnd, RECT rect, COLORREF color) {
  HDC dc = GetDC(hwnd);
  HBRUSH brush = CreateSolidBrush(color);
  FillRect(dc, &rect, brush);
  DeleteObject(brush);
  ReleaseDC(hwnd, dc);
}

bool IsColor(const QImage& image, int x, int y, QColor color) {
  return image.pixelColor(x, y).rgb() == color.rgb();
}

TEST(PlatformWindowHost, DrawingFromAnotherThread_ShowsAfterWmPaint) {
  MessagePump pump;
  PlatformWindowHost host;
  host.resize(100, 80);
  host.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
  ASSERT_NE(host.Hwnd(), nullptr);
  EXPECT_TRUE(IsColor(host.grab().toImage(), 30, 30, Qt::black));

  std::thread renderer([hwnd = host.Hwnd()] {
    FillWindow(hwnd, RECT{10, 10, 50, 40}, RGB(255, 0, 0));
    PostMessage(hwnd, WM_PAINT, 0, 0);
  });
  renderer.join();
  QImage shown;
  EXPECT_TRUE(QTest::qWaitFor([&] {
    shown = host.grab().toImage();
    return IsColor(shown, 30, 30, Qt::red);
  }));
  EXPECT_TRUE(IsColor(shown, 10, 10, Qt::red));
  EXPECT_TRUE(IsColor(shown, 49, 39, Qt::red));
  EXPECT_TRUE(IsColor(shown, 50, 40, Qt::black));
  EXPECT_TRUE(IsColor(shown, 5, 5, Qt::black));
}

TEST(PlatformWindowHost, Resize_GivesTheWindowASurfaceAndWmSizeOfTheNewSize) {
  std::vector<Message> seen;  // outlives the host, whose handler sees WM_DESTROY
  PlatformWindowHost host;
  host.SetMessageHandler([&](UINT msg, WPARAM w, LPARAM l, LRESULT*) {
    seen.push_back({msg, w, l});
    return true;
  });
  host.resize(120, 90);
  host.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
  seen.clear();

  host.resize(200, 150);
  ASSERT_TRUE(QTest::qWaitFor([&] { return host.SurfaceSize() == QSize(200, 150); }));
  auto size = std::find_if(seen.begin(), seen.end(), [](const Message& m) { return m.msg == WM_SIZE; });
  ASSERT_NE(size, seen.end());
  EXPECT_EQ(LOWORD(DWORD_PTR(size->lParam)), 200);
  EXPECT_EQ(HIWORD(DWORD_PTR(size->lParam)), 150);

  HDC dc = GetDC(host.Hwnd());
  EXPECT_EQ(GetDeviceCaps(dc, HORZRES), 200);
  EXPECT_EQ(GetDeviceCaps(dc, VERTRES), 150);
  ReleaseDC(host.Hwnd(), dc);
  EXPECT_EQ(tav::GetWindowSurface(host.Hwnd()), host.Surface());

  // The whole new area is drawable and shown.
  FillWindow(host.Hwnd(), RECT{0, 0, 200, 150}, RGB(0, 0, 255));
  host.Invalidate();
  EXPECT_TRUE(QTest::qWaitFor([&] { return IsColor(host.grab().toImage(), 199, 149, Qt::blue); }));
}

TEST(PlatformWindowHost, Repaint_LetsTheHandlerDrawOnWmPaintFirst) {
  int paints = 0;
  PlatformWindowHost host;
  host.SetMessageHandler([&](UINT msg, WPARAM, LPARAM, LRESULT*) {
    if (msg != WM_PAINT) return false;
    ++paints;
    FillWindow(host.Hwnd(), RECT{0, 0, 64, 48}, RGB(0, 255, 0));
    return true;
  });
  host.resize(64, 48);
  const QImage shown = host.grab().toImage();
  EXPECT_GE(paints, 1);
  EXPECT_TRUE(IsColor(shown, 32, 24, Qt::green));
}

TEST(PlatformWindowHost, MouseInput_ReachesTheHandlerAsWindowMessages) {
  std::vector<Message> mouse;
  PlatformWindowHost host;
  host.SetMessageHandler([&](UINT msg, WPARAM w, LPARAM l, LRESULT*) {
    if (msg >= WM_MOUSEMOVE && msg <= WM_MBUTTONDBLCLK) mouse.push_back({msg, w, l});
    return true;
  });
  host.resize(100, 100);
  host.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));

  QTest::mousePress(&host, Qt::LeftButton, Qt::ShiftModifier, QPoint(12, 34));
  QTest::mouseRelease(&host, Qt::LeftButton, Qt::ShiftModifier, QPoint(12, 34));
  QTest::mouseDClick(&host, Qt::RightButton, Qt::NoModifier, QPoint(5, 6));

  auto find = [&](UINT msg) {
    return std::find_if(mouse.begin(), mouse.end(), [msg](const Message& m) { return m.msg == msg; });
  };
  auto down = find(WM_LBUTTONDOWN);
  ASSERT_NE(down, mouse.end());
  EXPECT_EQ(down->wParam, MK_LBUTTON | MK_SHIFT);
  EXPECT_EQ(LOWORD(DWORD_PTR(down->lParam)), 12);
  EXPECT_EQ(HIWORD(DWORD_PTR(down->lParam)), 34);
  auto up = find(WM_LBUTTONUP);
  ASSERT_NE(up, mouse.end());
  EXPECT_EQ(up->wParam, WPARAM(MK_SHIFT));  // the button is no longer down
  auto dbl = find(WM_RBUTTONDBLCLK);
  ASSERT_NE(dbl, mouse.end());
  EXPECT_EQ(LOWORD(DWORD_PTR(dbl->lParam)), 5);
  EXPECT_EQ(HIWORD(DWORD_PTR(dbl->lParam)), 6);
}

TEST(PlatformWindowHost, ReplacedSurface_LivesWhileDrawnIntoAndIsFreedAfterwards) {
  PlatformWindowHost host;
  host.resize(64, 48);
  host.grab();
  const HBITMAP first = host.Surface();
  ASSERT_NE(first, nullptr);
  HDC drawing = GetDC(host.Hwnd());  // a drawer still at work in the first surface

  host.resize(80, 60);
  host.grab();
  const HBITMAP second = host.Surface();
  ASSERT_NE(second, first);
  // Past the grace time: a surface still drawn into must outlive it.
  QTest::qWait(PlatformWindowHost::kRetiredSurfaceGraceMs + 200);
  EXPECT_EQ(GetObjectType(first), OBJ_BITMAP) << "deleted while a context drew into it";

  ReleaseDC(host.Hwnd(), drawing);
  EXPECT_TRUE(QTest::qWaitFor([&] { return GetObjectType(first) == 0; }, 3 * PlatformWindowHost::kRetiredSurfaceGraceMs));

  host.resize(96, 72);  // retires the second, unused surface
  host.grab();
  EXPECT_EQ(GetObjectType(second), OBJ_BITMAP) << "deleted before its grace time";
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return GetObjectType(second) == 0; }, 3 * PlatformWindowHost::kRetiredSurfaceGraceMs));
}

TEST(PlatformWindowHost, Destruction_TakesTheSurfaceAwayAndDestroysTheHandle) {
  HWND hwnd = nullptr;
  bool destroyed = false;
  {
    PlatformWindowHost host;
    host.SetMessageHandler([&](UINT msg, WPARAM, LPARAM, LRESULT*) {
      destroyed |= msg == WM_DESTROY;
      return true;
    });
    host.resize(40, 30);
    host.grab();
    hwnd = host.Hwnd();
    ASSERT_NE(tav::GetWindowSurface(hwnd), nullptr);
  }
  EXPECT_TRUE(destroyed);
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(tav::GetWindowSurface(hwnd), nullptr);
  // Drawing to the gone window draws nothing and does not crash.
  FillWindow(hwnd, RECT{0, 0, 10, 10}, RGB(1, 2, 3));
}

}  // namespace
}  // namespace tav::ui
