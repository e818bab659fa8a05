// Toolkit-neutral window handles and message queues. A handle belongs to the thread that
// created it; any thread posts to it; the owning thread drains and dispatches. The queue
// exposes a file descriptor that is readable while messages wait, so a Qt event loop or
// a plain poll() loop can wake on it. Timers post WM_TIMER on the same queue.
#pragma once

#include "media/contract/wintypes.h"

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_MOVE = 0x0003;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_ERASEBKGND = 0x0014;
constexpr UINT WM_SHOWWINDOW = 0x0018;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
constexpr UINT WM_RBUTTONDOWN = 0x0204;
constexpr UINT WM_RBUTTONUP = 0x0205;
constexpr UINT WM_RBUTTONDBLCLK = 0x0206;
constexpr UINT WM_MBUTTONDOWN = 0x0207;
constexpr UINT WM_MBUTTONUP = 0x0208;
constexpr UINT WM_MBUTTONDBLCLK = 0x0209;
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_APP = 0x8000;

// WM_SIZE's wParam, and the key state flags of mouse messages (wParam); a mouse message's
// lParam holds x in its low and y in its high 16 bits, client coordinates.
constexpr WPARAM SIZE_RESTORED = 0;
constexpr WPARAM MK_LBUTTON = 0x0001;
constexpr WPARAM MK_RBUTTON = 0x0002;
constexpr WPARAM MK_SHIFT = 0x0004;
constexpr WPARAM MK_CONTROL = 0x0008;
constexpr WPARAM MK_MBUTTON = 0x0010;

using WNDPROC = LRESULT (*)(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
};
using TIMERPROC = void (*)(HWND, UINT, UINT_PTR, DWORD);

// Creates a handle owned by the calling thread; proc receives dispatched messages.
// userData is returned by GetWindowUserData (GWLP_USERDATA's counterpart).
HWND CreatePlatformWindow(WNDPROC proc, void* userData);
// Drops the handle's queued messages and timers and fails messages still being sent to it;
// the procedure gets WM_DESTROY when the owner thread destroys the handle.
BOOL DestroyWindow(HWND hwnd);
BOOL IsWindow(HWND hwnd);
void* GetWindowUserData(HWND hwnd);
void SetWindowUserData(HWND hwnd, void* data);

BOOL PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Runs the window procedure directly on the calling thread when it owns hwnd; otherwise
// posts and waits for the owner to dispatch it.
LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
BOOL PostThreadMessage(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam);

constexpr UINT PM_NOREMOVE = 0;
constexpr UINT PM_REMOVE = 1;
// Messages of the calling thread's queue (hwnd null: any of its windows).
BOOL PeekMessage(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeMsg);
// Blocks; answers FALSE for WM_QUIT.
BOOL GetMessage(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax);
LRESULT DispatchMessage(const MSG* msg);
// Wait until a message arrives or the time-out elapses (MsgWaitForMultipleObjects' role).
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD timeoutMs, DWORD wakeMask);
constexpr DWORD QS_ALLINPUT = 0x04FF;

// WM_TIMER is made when the queue is read and the period is due (at least 10 ms), so a
// slow reader sees one, not a backlog. hwnd null: a thread timer with an identifier of its own.
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc);
BOOL KillTimer(HWND hwnd, UINT_PTR id);

namespace tav {
// Readable while the calling thread's queue holds a message or a due timer.
int MessageQueueFd();
}  // namespace tav
