// Owners of memory handed across interfaces: a BSTR (freed with SysFreeString) and a block
// of the task allocator (freed with CoTaskMemFree), such as the name a GetDisplayName or a
// QueryFilterInfo-style call hands out. They free what they hold when they go or are
// refilled, so no caller frees one by hand.
#pragma once

#include "media/contract/com.h"
#include "media/contract/uniqueowner.h"

namespace tav {

struct TaskMemFree {
  void operator()(void* p) const noexcept { CoTaskMemFree(p); }
};
struct BstrFree {
  void operator()(BSTR s) const noexcept { SysFreeString(s); }
};

// Owns a block of the task allocator, seen as T.
template <typename T>
class TaskMemPtr : public UniqueOwner<T*, TaskMemFree> {
 public:
  using UniqueOwner<T*, TaskMemFree>::UniqueOwner;
  T* operator->() const noexcept { return this->Get(); }
};

// Owns a BSTR; Out() suits a call that hands a string out (get_Caption(&out)).
class BstrPtr : public UniqueOwner<BSTR, BstrFree> {
 public:
  using UniqueOwner::UniqueOwner;
  // A new BSTR holding a copy of text (empty when the allocation fails).
  static BstrPtr Copy(const OLECHAR* text) { return BstrPtr(SysAllocString(text)); }
};

}  // namespace tav
