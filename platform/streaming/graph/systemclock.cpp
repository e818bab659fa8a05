#include "platform/streaming/graph/systemclock.h"

#include <chrono>
#include <new>
#include <vector>

#include "media/contract/sync.h"

namespace tav::graph {

HRESULT SystemClock::Create(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  auto* c = new (std::nothrow) SystemClock();
  if (!c) return E_OUTOFMEMORY;
  // The new object's first reference is this function's; the caller gets one of its own.
  const auto owned = ComPtr<IReferenceClock>::Adopt(c);
  return c->QueryInterface(riid, ppv);
}

ComPtr<IReferenceClock> SystemClock::Make() { return ComPtr<IReferenceClock>::Adopt(new SystemClock()); }

SystemClock::~SystemClock() {
  {
    std::lock_guard<std::mutex> g(lock_);
    quit_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

STDMETHODIMP SystemClock::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IReferenceClock) return GiveInterface<IReferenceClock>(this, ppv);
  *ppv = nullptr;
  return E_NOINTERFACE;
}

REFERENCE_TIME MonotonicTime() {
  using namespace std::chrono;
  return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count() / 100;
}

REFERENCE_TIME SystemClock::Now() { return MonotonicTime(); }

STDMETHODIMP SystemClock::GetTime(REFERENCE_TIME* time) {
  if (!time) return E_POINTER;
  REFERENCE_TIME now = Now();
  std::lock_guard<std::mutex> g(lock_);
  // S_FALSE tells the caller the clock has not moved since the last call.
  HRESULT hr = now > lastTime_ ? S_OK : S_FALSE;
  if (now > lastTime_) lastTime_ = now;
  *time = lastTime_;
  return hr;
}

HRESULT SystemClock::AddLocked(const Advise& a, DWORD_PTR* cookie) {
  DWORD_PTR id = nextCookie_++;
  advises_.emplace(id, a);
  *cookie = id;
  if (!thread_.joinable()) thread_ = std::thread([this] { ThreadMain(); });
  return S_OK;
}

STDMETHODIMP SystemClock::AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event,
                                     DWORD_PTR* cookie) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!event || baseTime + streamTime <= 0 || streamTime < 0) return E_INVALIDARG;
  std::lock_guard<std::mutex> g(lock_);
  HRESULT hr = AddLocked({baseTime + streamTime, 0, reinterpret_cast<HANDLE>(event)}, cookie);
  wake_.notify_one();
  return hr;
}

STDMETHODIMP SystemClock::AdvisePeriodic(REFERENCE_TIME start, REFERENCE_TIME period, HSEMAPHORE semaphore,
                                         DWORD_PTR* cookie) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!semaphore || start <= 0 || period <= 0) return E_INVALIDARG;
  std::lock_guard<std::mutex> g(lock_);
  HRESULT hr = AddLocked({start, period, reinterpret_cast<HANDLE>(semaphore)}, cookie);
  wake_.notify_one();
  return hr;
}

STDMETHODIMP SystemClock::Unadvise(DWORD_PTR cookie) {
  std::lock_guard<std::mutex> g(lock_);
  if (advises_.erase(cookie) == 0) return S_FALSE;
  wake_.notify_one();
  return S_OK;
}

void SystemClock::ThreadMain() {
  std::unique_lock<std::mutex> g(lock_);
  while (!quit_) {
    REFERENCE_TIME now = Now();
    REFERENCE_TIME next = MAX_TIME;
    std::vector<HANDLE> fire;
    for (auto it = advises_.begin(); it != advises_.end();) {
      Advise& a = it->second;
      if (a.due <= now) {
        fire.push_back(a.handle);
        if (a.period == 0) {
          it = advises_.erase(it);
          continue;
        }
        // A periodic request that fell behind fires once and resumes on its grid.
        a.due += ((now - a.due) / a.period + 1) * a.period;
      }
      next = std::min(next, a.due);
      ++it;
    }
    // Handles are signalled under the lock: Unadvise returning means the handle will not
    // be signalled afterwards, so its owner may close it.
    for (HANDLE h : fire) SetEvent(h);
    if (!fire.empty()) continue;
    if (next == MAX_TIME) {
      wake_.wait(g);
    } else {
      auto due = std::chrono::steady_clock::time_point(std::chrono::nanoseconds(next * 100));
      wake_.wait_until(g, due);
    }
  }
}

}  // namespace tav::graph
