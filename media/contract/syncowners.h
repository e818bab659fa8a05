// Owners for the platform's synchronisation objects: a handle closed when its owner goes,
// and a critical section with a scope guard, so that no code closes, deletes or leaves one
// by hand.
#pragma once

#include "media/contract/sync.h"
#include "media/contract/uniqueowner.h"

namespace tav {

struct HandleClose {
  void operator()(HANDLE h) const noexcept {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};

// Owns a handle (an event, a thread): closes it when it goes or is replaced. Converts to
// HANDLE, as the platform's own handle wrapper does, so that it can be passed where a handle
// is wanted; never close that handle by hand.
class UniqueHandle : public UniqueOwner<HANDLE, HandleClose> {
 public:
  using UniqueOwner::UniqueOwner;
  operator HANDLE() const noexcept { return Get(); }
};

// A critical section, initialised when made and deleted when it goes.
class CriticalSection {
 public:
  CriticalSection() { InitializeCriticalSection(&cs_); }
  ~CriticalSection() { DeleteCriticalSection(&cs_); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  CRITICAL_SECTION* Get() { return &cs_; }

 private:
  CRITICAL_SECTION cs_;
};

// Holds a critical section for the lifetime of the guard.
class CriticalSectionLock {
 public:
  explicit CriticalSectionLock(CRITICAL_SECTION* cs) : cs_(cs) { EnterCriticalSection(cs_); }
  explicit CriticalSectionLock(CriticalSection& cs) : CriticalSectionLock(cs.Get()) {}
  ~CriticalSectionLock() { LeaveCriticalSection(cs_); }
  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

 private:
  CRITICAL_SECTION* const cs_;
};

}  // namespace tav
