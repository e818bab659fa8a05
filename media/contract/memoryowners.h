// Owners of memory handed across interfaces: a BSTR (freed with SysFreeString) and a block
// of the task allocator (freed with CoTaskMemFree), such as the name a GetDisplayName or a
// QueryFilterInfo-style call hands out. They free what they hold when they go or are
// refilled, so no caller frees one by hand.
#pragma once

#include "media/contract/com.h"

namespace tav {

// Owns a block of the task allocator, seen as T. Movable, not copyable.
template <typename T>
class TaskMemPtr {
 public:
  TaskMemPtr() = default;
  explicit TaskMemPtr(T* p) noexcept : p_(p) {}
  ~TaskMemPtr() { Reset(); }
  TaskMemPtr(const TaskMemPtr&) = delete;
  TaskMemPtr& operator=(const TaskMemPtr&) = delete;
  TaskMemPtr(TaskMemPtr&& other) noexcept : p_(other.Release()) {}
  TaskMemPtr& operator=(TaskMemPtr&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  // Frees what is held and takes p.
  void Reset(T* p = nullptr) noexcept {
    T* old = p_;
    p_ = p;
    if (old) CoTaskMemFree(old);
  }
  // Gives the block up without freeing it (to hand it on to a caller).
  T* Release() noexcept {
    T* p = p_;
    p_ = nullptr;
    return p;
  }
  // For a call that hands a block out; what was held is freed first.
  T** Out() noexcept {
    Reset();
    return &p_;
  }
  T* Get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

// Owns a BSTR. Movable, not copyable.
class BstrPtr {
 public:
  BstrPtr() = default;
  explicit BstrPtr(BSTR s) noexcept : s_(s) {}
  // A new BSTR holding a copy of text (empty when the allocation fails).
  static BstrPtr Copy(const OLECHAR* text) { return BstrPtr(SysAllocString(text)); }
  ~BstrPtr() { Reset(); }
  BstrPtr(const BstrPtr&) = delete;
  BstrPtr& operator=(const BstrPtr&) = delete;
  BstrPtr(BstrPtr&& other) noexcept : s_(other.Release()) {}
  BstrPtr& operator=(BstrPtr&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  // Frees what is held and takes s.
  void Reset(BSTR s = nullptr) noexcept {
    BSTR old = s_;
    s_ = s;
    if (old) SysFreeString(old);
  }
  // Gives the string up without freeing it.
  BSTR Release() noexcept {
    BSTR s = s_;
    s_ = nullptr;
    return s;
  }
  // For a call that hands a string out (get_Caption(&out)); what was held is freed first.
  BSTR* Out() noexcept {
    Reset();
    return &s_;
  }
  BSTR Get() const noexcept { return s_; }
  explicit operator bool() const noexcept { return s_ != nullptr; }

 private:
  BSTR s_ = nullptr;
};

}  // namespace tav
