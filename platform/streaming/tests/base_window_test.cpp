// The control-window base: the window thread and handle, IVideoWindow state and its
// connection check, messages reaching the window thread, and the message drain.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "media/contract/memoryowners.h"
#include "platform/streaming/tests/base_testutil.h"
#include "tests/support/testenv.h"

using namespace tavtest;
using namespace basetest;

namespace {

class TestWindow : public CBaseControlWindow {
 public:
  TestWindow(CBaseFilter* filter, HRESULT* phr)
      : CBaseControlWindow(filter, filter->FilterLock(), NAME("test window"), filter->GetOwner(), phr) {}
  ~TestWindow() override { DoneWithWindow(); }

  LPCTSTR GetClassWindowStyles(DWORD* classStyles, DWORD* windowStyle, DWORD* windowStyleEx) override {
    *classStyles = 0x1083;
    *windowStyle = 0x2000000;
    *windowStyleEx = 0;
    return "Test Renderer Window";
  }
  LRESULT OnReceiveMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override {
    {
      std::lock_guard<std::mutex> lock(m_lock);
      m_messages.push_back(msg);
      m_threads.push_back(GetCurrentThreadId());
    }
    return CBaseControlWindow::OnReceiveMessage(hwnd, msg, wParam, lParam);
  }
  // Waits for the window thread to receive msg.
  bool Saw(UINT msg, DWORD* thread = nullptr) {
    return tavtest::WaitFor([&] {
      std::lock_guard<std::mutex> lock(m_lock);
      for (size_t k = 0; k < m_messages.size(); ++k) {
        if (m_messages[k] == msg) {
          if (thread) *thread = m_threads[k];
          return true;
        }
      }
      return false;
    });
  }

 private:
  std::mutex m_lock;
  std::vector<UINT> m_messages;
  std::vector<DWORD> m_threads;
};

class StrmBaseWindow : public BaseTest {};

TEST_F(StrmBaseWindow, VideoWindowNeedsAConnectionAndKeepsItsState) {
  ComPtr<IBaseFilter> src, rnd;
  CTestPushSource::Create({}, src);
  CTestRenderer* renderer = CTestRenderer::Create({}, rnd);
  HRESULT hr = S_OK;
  {
    TestWindow window(renderer, &hr);
    window.SetControlWindowPin(renderer->GetPin(0));
    ASSERT_EQ(window.PrepareWindow(), S_OK);
    EXPECT_NE(window.GetWindowHWND(), nullptr);
    EXPECT_EQ(window.ClassName(), "Test Renderer Window");
    EXPECT_EQ(window.ClassStyles(), 0x1083u);

    LONG left, top, width, height;
    EXPECT_EQ(window.GetWindowPosition(&left, &top, &width, &height), VFW_E_NOT_CONNECTED);
    ASSERT_EQ(ConnectFilters(src.Get(), rnd.Get()), S_OK);
    ASSERT_EQ(window.GetWindowPosition(&left, &top, &width, &height), S_OK);
    EXPECT_EQ(width, 320) << "the default size";
    EXPECT_EQ(height, 240);
    ASSERT_EQ(window.SetWindowPosition(10, 20, 640, 480), S_OK);
    ASSERT_EQ(window.GetWindowPosition(&left, &top, &width, &height), S_OK);
    EXPECT_EQ(left, 10);
    EXPECT_EQ(top, 20);
    EXPECT_EQ(width, 640);
    EXPECT_EQ(height, 480);
    EXPECT_EQ(window.SetWindowPosition(0, 0, -1, 5), E_INVALIDARG);
    EXPECT_EQ(window.put_Visible(5), E_INVALIDARG);

    ASSERT_EQ(window.put_Caption(tav::BstrPtr::Copy(u"Preview").Get()), S_OK);
    tav::BstrPtr back;
    ASSERT_EQ(window.get_Caption(back.Out()), S_OK);
    EXPECT_EQ(std::u16string(back.Get()), u"Preview");

    // The window's messages are handled on its own thread.
    ASSERT_EQ(window.put_Visible(OATRUE), S_OK);
    LONG visible = OAFALSE;
    window.get_Visible(&visible);
    EXPECT_EQ(visible, OATRUE);
    DWORD thread = 0;
    ASSERT_TRUE(window.Saw(WM_SHOWWINDOW, &thread));
    EXPECT_EQ(thread, window.WindowThreadId());
    EXPECT_NE(thread, GetCurrentThreadId());
    ASSERT_TRUE(window.Saw(WM_PAINT));

    // The filter is the window's controlling unknown: the window has the filter's identity.
    EXPECT_TRUE(IsSameObject(static_cast<IVideoWindow*>(&window), rnd.Get()));

    EXPECT_EQ(window.DoneWithWindow(), S_OK);
    EXPECT_EQ(window.DoneWithWindow(), S_FALSE);
  }
  DisconnectAll({src.Get(), rnd.Get()});
}

TEST_F(StrmBaseWindow, DrainReceivesUserMessages) {
  ComPtr<IBaseFilter> src, rnd;
  CTestPushSource::Create({}, src);
  CTestRenderer* renderer = CTestRenderer::Create({}, rnd);
  ASSERT_EQ(ConnectFilters(src.Get(), rnd.Get()), S_OK);
  static std::atomic<int> drained{0};
  drained = 0;
  HWND drain = CreatePlatformWindow(
      [](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
        if (msg == WM_USER + 5) ++drained;
        return 0;
      },
      nullptr);
  ASSERT_NE(drain, nullptr);
  HRESULT hr = S_OK;
  {
    TestWindow window(renderer, &hr);
    window.SetControlWindowPin(renderer->GetPin(0));
    ASSERT_EQ(window.PrepareWindow(), S_OK);
    ASSERT_EQ(window.put_MessageDrain(reinterpret_cast<OAHWND>(drain)), S_OK);
    window.PostWindowMessage(WM_USER + 5, 0, 0);
    ASSERT_TRUE(window.Saw(WM_USER + 5));
    // The drain is this thread's window: the message arrives through its queue.
    const DWORD deadline = GetTickCount() + 10000;
    MSG msg;
    while (drained == 0 && int(deadline - GetTickCount()) > 0) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
      while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
    }
    EXPECT_EQ(drained.load(), 1);
  }
  DestroyWindow(drain);
  DisconnectAll({src.Get(), rnd.Get()});
}

}  // namespace
