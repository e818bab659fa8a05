// Locks, events, a worker thread and reference-time arithmetic for the base classes.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

#include "media/contract/strmif.h"
#include "media/contract/sync.h"

// A value written under a lock by control threads and read without it by streaming
// threads (state, flushing, error flags): relaxed atomic loads and stores, used like
// the plain value.
template <typename T>
class CRelaxed {
 public:
  CRelaxed() = default;
  CRelaxed(T v) : m_value(v) {}
  CRelaxed& operator=(T v) {
    m_value.store(v, std::memory_order_relaxed);
    return *this;
  }
  operator T() const { return m_value.load(std::memory_order_relaxed); }

 private:
  std::atomic<T> m_value{};
};

// A recursive lock. Owner tracking lets code assert that a caller holds it.
class CCritSec {
 public:
  CCritSec() = default;
  CCritSec(const CCritSec&) = delete;
  CCritSec& operator=(const CCritSec&) = delete;

  void Lock() {
    m_mutex.lock();
    if (m_depth++ == 0) m_owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
  }
  void Unlock() {
    if (--m_depth == 0) m_owner.store(std::thread::id(), std::memory_order_relaxed);
    m_mutex.unlock();
  }
  bool TryLock() {
    if (!m_mutex.try_lock()) return false;
    if (m_depth++ == 0) m_owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
    return true;
  }
  // True when the calling thread holds the lock.
  bool IsLockedByMe() const { return m_owner.load(std::memory_order_relaxed) == std::this_thread::get_id(); }

 private:
  std::recursive_mutex m_mutex;
  int m_depth = 0;  // guarded by m_mutex
  std::atomic<std::thread::id> m_owner{};
};

inline BOOL CritCheckIn(const CCritSec* cs) { return cs->IsLockedByMe(); }
inline BOOL CritCheckOut(const CCritSec* cs) { return !cs->IsLockedByMe(); }

class CAutoLock {
 public:
  explicit CAutoLock(CCritSec* lock) : m_pLock(lock) { m_pLock->Lock(); }
  ~CAutoLock() { m_pLock->Unlock(); }
  CAutoLock(const CAutoLock&) = delete;
  CAutoLock& operator=(const CAutoLock&) = delete;

 private:
  CCritSec* m_pLock;
};

// The body of a simple getter: E_POINTER without somewhere to write, else *out is what
// read() gives with the lock held.
template <class T, class Read>
HRESULT ReadLocked(CCritSec* lock, T* out, Read read) {
  if (!out) return E_POINTER;
  CAutoLock hold(lock);
  *out = read();
  return S_OK;
}

// A platform event (a HANDLE other waits can include), closed with the object.
class CAMEvent {
 public:
  explicit CAMEvent(BOOL manualReset = FALSE, HRESULT* phr = nullptr);
  ~CAMEvent();
  CAMEvent(const CAMEvent&) = delete;
  CAMEvent& operator=(const CAMEvent&) = delete;

  operator HANDLE() const { return m_hEvent; }
  HANDLE Handle() const { return m_hEvent; }
  void Set() { SetEvent(m_hEvent); }
  void Reset() { ResetEvent(m_hEvent); }
  BOOL Wait(DWORD timeoutMs = INFINITE) { return WaitForSingleObject(m_hEvent, timeoutMs) == WAIT_OBJECT_0; }
  // Signalled now? (consumes the signal of an auto-reset event)
  BOOL Check() { return Wait(0); }

 private:
  HANDLE m_hEvent = nullptr;
};

// A manual-reset event.
class CAMManualEvent : public CAMEvent {
 public:
  explicit CAMManualEvent(HRESULT* phr = nullptr) : CAMEvent(TRUE, phr) {}
};

// A worker thread that takes requests one at a time (CallWorker blocks until the worker
// replies). ThreadProc runs on the worker and loops on GetRequest / Reply.
class CAMThread {
 public:
  explicit CAMThread(HRESULT* phr = nullptr);
  virtual ~CAMThread();
  CAMThread(const CAMThread&) = delete;
  CAMThread& operator=(const CAMThread&) = delete;

  BOOL Create();
  BOOL ThreadExists() const { return m_thread.joinable(); }
  // Waits for the thread to end and reaps it.
  void Close();
  // From the controlling thread: sends a request and waits for the worker's reply.
  DWORD CallWorker(DWORD request);
  // From the worker: the next request, or whether one is waiting.
  DWORD GetRequest();
  BOOL CheckRequest(DWORD* request);
  void Reply(DWORD result);
  // Signalled while a request waits (auto reset by GetRequest).
  HANDLE GetRequestHandle() const { return m_EventSend; }
  DWORD GetRequestParam() const { return m_dwParam; }

  CCritSec m_AccessLock;  // serialises CallWorker callers
  CCritSec m_WorkerLock;  // held by the worker while it handles a request, if it wants

 protected:
  virtual DWORD ThreadProc() = 0;

 private:
  std::thread m_thread;
  // Set by CallWorker, waited for by the worker (auto reset).
  CAMEvent m_EventSend;
  // Set by Reply, waited for by CallWorker (auto reset).
  CAMEvent m_EventComplete;
  DWORD m_dwParam = 0;
  DWORD m_dwReturnVal = 0;
};

// Reference time with millisecond helpers.
class CRefTime {
 public:
  REFERENCE_TIME m_time = 0;
  CRefTime() = default;
  CRefTime(LONG ms) : m_time(REFERENCE_TIME(ms) * MILLISECONDS) {}
  CRefTime(REFERENCE_TIME t) : m_time(t) {}
  operator REFERENCE_TIME() const { return m_time; }
  CRefTime& operator=(REFERENCE_TIME t) { m_time = t; return *this; }
  CRefTime& operator+=(REFERENCE_TIME t) { m_time += t; return *this; }
  CRefTime& operator-=(REFERENCE_TIME t) { m_time -= t; return *this; }
  LONG Millisecs() const { return LONG(m_time / MILLISECONDS); }
  REFERENCE_TIME GetUnits() const { return m_time; }
};

// Seconds to and from reference time (rounded to the nearest unit).
REFERENCE_TIME RefTimeFromSeconds(double seconds);
double SecondsFromRefTime(REFERENCE_TIME t);
// a * b / c in 128 bits, rounded to nearest (used for rate and format conversions).
LONGLONG llMulDiv(LONGLONG a, LONGLONG b, LONGLONG c, LONGLONG rounding);
