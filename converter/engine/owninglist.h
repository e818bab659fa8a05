// COwningObList: an ordered list of heap objects that deletes its elements when it is
// cleared or destroyed. Positions are stable pointers; order is list order.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

namespace tav {

template <typename T>
class COwningObList {
 public:
  COwningObList() = default;
  COwningObList(const COwningObList&) = delete;
  COwningObList& operator=(const COwningObList&) = delete;
  ~COwningObList() { RemoveAll(); }

  size_t GetCount() const { return items_.size(); }
  bool IsEmpty() const { return items_.empty(); }
  T* GetAt(size_t i) const { return items_[i].get(); }
  T* GetHead() const { return items_.empty() ? nullptr : items_.front().get(); }
  T* GetTail() const { return items_.empty() ? nullptr : items_.back().get(); }

  T* AddTail(std::unique_ptr<T> item) {
    items_.push_back(std::move(item));
    return items_.back().get();
  }
  // Index of item, or -1.
  ptrdiff_t Find(const T* item) const {
    for (size_t i = 0; i < items_.size(); ++i)
      if (items_[i].get() == item) return ptrdiff_t(i);
    return -1;
  }
  // Deletes the element.
  bool Remove(const T* item) {
    const ptrdiff_t i = Find(item);
    if (i < 0) return false;
    items_.erase(items_.begin() + i);
    return true;
  }
  // Takes the element out of the list without deleting it.
  std::unique_ptr<T> Release(const T* item) {
    const ptrdiff_t i = Find(item);
    if (i < 0) return nullptr;
    std::unique_ptr<T> out = std::move(items_[size_t(i)]);
    items_.erase(items_.begin() + i);
    return out;
  }
  void Swap(size_t a, size_t b) { std::swap(items_[a], items_[b]); }
  // Deletes every element.
  void RemoveAll() { items_.clear(); }
  void Reserve(size_t n) { items_.reserve(n); }

 private:
  std::vector<std::unique_ptr<T>> items_;
};

}  // namespace tav
