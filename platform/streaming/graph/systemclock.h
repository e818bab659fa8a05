// The system reference clock: monotonic time in 100-ns units and advise requests served
// by one timer thread.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "media/contract/strmif.h"
#include "platform/streaming/graph/graph_object.h"

namespace tav::graph {

// Monotonic time in 100-ns units: what the system clock reports.
REFERENCE_TIME MonotonicTime();

class SystemClock final : public IReferenceClock, public LiveObject {
 public:
  static HRESULT Create(IUnknown* outer, REFIID riid, void** ppv);
  static ComPtr<IReferenceClock> Make();

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  GRAPH_IMPLEMENT_REFCOUNT();

  STDMETHODIMP GetTime(REFERENCE_TIME* time) override;
  STDMETHODIMP AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event,
                          DWORD_PTR* cookie) override;
  STDMETHODIMP AdvisePeriodic(REFERENCE_TIME start, REFERENCE_TIME period, HSEMAPHORE semaphore,
                              DWORD_PTR* cookie) override;
  STDMETHODIMP Unadvise(DWORD_PTR cookie) override;

 private:
  struct Advise {
    REFERENCE_TIME due;
    REFERENCE_TIME period;  // 0 for a one-shot request
    HANDLE handle;
  };

  SystemClock() = default;
  ~SystemClock() override;
  static REFERENCE_TIME Now();
  HRESULT AddLocked(const Advise& a, DWORD_PTR* cookie);
  void ThreadMain();

  // Guards the advise list, the cookie counter and the thread's shutdown flag.
  std::mutex lock_;
  // Signalled (notify_one) when a request is added or removed, or on shutdown; the
  // timer thread waits on it until the earliest request is due.
  std::condition_variable wake_;
  std::map<DWORD_PTR, Advise> advises_;  // guarded by lock_
  DWORD_PTR nextCookie_ = 1;             // guarded by lock_
  bool quit_ = false;                    // guarded by lock_
  REFERENCE_TIME lastTime_ = 0;          // guarded by lock_; GetTime never goes back
  std::thread thread_;                   // started with the first request
};

}  // namespace tav::graph
