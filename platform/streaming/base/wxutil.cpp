#include "platform/streaming/base/wxutil.h"

#include <cmath>

CAMEvent::CAMEvent(BOOL manualReset, HRESULT* phr) {
  m_hEvent = CreateEvent(nullptr, manualReset, FALSE, nullptr);
  if (!m_hEvent && phr && SUCCEEDED(*phr)) *phr = E_OUTOFMEMORY;
}

// CAMEvent is the event's owner: callers reach the plain handle through it.
CAMEvent::~CAMEvent() {
  if (m_hEvent) CloseHandle(m_hEvent);
}

CAMThread::CAMThread(HRESULT* phr) : m_EventSend(FALSE, phr), m_EventComplete(FALSE, phr) {}

CAMThread::~CAMThread() { Close(); }

BOOL CAMThread::Create() {
  CAutoLock lock(&m_AccessLock);
  if (ThreadExists()) return FALSE;
  m_thread = std::thread([this] { ThreadProc(); });
  return TRUE;
}

void CAMThread::Close() {
  if (m_thread.joinable()) {
    if (m_thread.get_id() == std::this_thread::get_id())
      m_thread.detach();
    else
      m_thread.join();
  }
}

DWORD CAMThread::CallWorker(DWORD request) {
  CAutoLock lock(&m_AccessLock);
  if (!ThreadExists()) return DWORD(E_FAIL);
  m_dwParam = request;
  m_EventSend.Set();
  m_EventComplete.Wait();
  return m_dwReturnVal;
}

DWORD CAMThread::GetRequest() {
  m_EventSend.Wait();
  return m_dwParam;
}

BOOL CAMThread::CheckRequest(DWORD* request) {
  if (!m_EventSend.Check()) return FALSE;
  if (request) *request = m_dwParam;
  return TRUE;
}

void CAMThread::Reply(DWORD result) {
  m_dwReturnVal = result;
  m_EventComplete.Set();
}

REFERENCE_TIME RefTimeFromSeconds(double seconds) { return REFERENCE_TIME(std::llround(seconds * double(UNITS))); }

double SecondsFromRefTime(REFERENCE_TIME t) { return double(t) / double(UNITS); }

LONGLONG llMulDiv(LONGLONG a, LONGLONG b, LONGLONG c, LONGLONG rounding) {
  if (c == 0) return (a < 0) != (b < 0) ? LLONG_MIN : LLONG_MAX;
  __int128 v = __int128(a) * b + rounding;
  v /= c;
  if (v > LLONG_MAX) return LLONG_MAX;
  if (v < LLONG_MIN) return LLONG_MIN;
  return LONGLONG(v);
}
