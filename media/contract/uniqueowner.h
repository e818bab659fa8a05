// The one owner behind every owner type of the contract (task memory, BSTRs, media types,
// handles, GDI objects): it holds a value the platform handed out and gives it back with the
// matching call when it goes or is refilled. Movable, not copyable.
#pragma once

#include <utility>

namespace tav {

// Handle: a pointer-like value, null when nothing is held. Free: a callable type that gives
// back a held value; it is never called with null.
template <typename Handle, typename Free>
class UniqueOwner {
 public:
  UniqueOwner() = default;
  explicit UniqueOwner(Handle h) noexcept : h_(h) {}
  ~UniqueOwner() { Reset(); }
  UniqueOwner(const UniqueOwner&) = delete;
  UniqueOwner& operator=(const UniqueOwner&) = delete;
  UniqueOwner(UniqueOwner&& other) noexcept : h_(other.Release()) {}
  UniqueOwner& operator=(UniqueOwner&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  // Gives back what is held and takes h.
  void Reset(Handle h = nullptr) noexcept {
    Handle old = std::exchange(h_, h);
    if (old) Free{}(old);
  }
  // Gives the value up without giving it back (to hand it on to a caller).
  Handle Release() noexcept { return std::exchange(h_, nullptr); }
  // For a call that hands a value out; what was held is given back first.
  Handle* Out() noexcept {
    Reset();
    return &h_;
  }
  Handle Get() const noexcept { return h_; }
  explicit operator bool() const noexcept { return h_ != nullptr; }

 private:
  Handle h_ = nullptr;
};

}  // namespace tav
