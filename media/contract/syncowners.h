// Owners for the platform's synchronisation objects: a handle closed when its owner goes,
// and a critical section with a scope guard, so that no code closes, deletes or leaves one
// by hand.
#pragma once

#include "media/contract/sync.h"

namespace tav {

// Owns a handle (an event, a thread): closes it when it goes or is replaced. Movable, not
// copyable. Converts to HANDLE, as the platform's own handle wrapper does, so that it can be
// passed where a handle is wanted; never close that handle by hand.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE h) noexcept : h_(h) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : h_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  // Closes what is held and takes h.
  void Reset(HANDLE h = nullptr) noexcept {
    HANDLE old = h_;
    h_ = h;
    if (old && old != INVALID_HANDLE_VALUE) CloseHandle(old);
  }
  // Gives the handle up without closing it.
  HANDLE Release() noexcept {
    HANDLE h = h_;
    h_ = nullptr;
    return h;
  }
  HANDLE Get() const noexcept { return h_; }
  operator HANDLE() const noexcept { return h_; }

 private:
  HANDLE h_ = nullptr;
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
