// The running object table, item monikers and bind contexts.
//
// One table per process. So that a conversion's graph can be inspected while it runs, the
// table's names are also published as a text file per process, rewritten atomically on
// every change and removed at exit (see rot_publish below); platform/tools/rotlist reads
// them.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "media/contract/codepage.h"
#include "media/contract/comptr.h"
#include "media/contract/folders.h"
#include "media/contract/memoryowners.h"
#include "media/contract/objidl.h"
#include "media/contract/sync.h"
#include "media/contract/trace.h"
#include "platform/runtime/rot_publish.h"

TAV_TRACE_SOURCE(kRot, nullptr);

namespace {

TAV_DEFINE_GUID(CLSID_ItemMoniker, 0x00000304, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
constexpr HRESULT MK_S_MONIKERALREADYREGISTERED = TAV_HR(0x000401E7);

// Reference counting shared by the small objects of this file.
template <typename Derived, typename... Itfs>
class RefCounted : public Itfs... {
 public:
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG r = --refs_;
    if (r == 0) delete static_cast<Derived*>(this);  // the last reference owns the object
    return r;
  }

 protected:
  virtual ~RefCounted() = default;

 private:
  std::atomic<ULONG> refs_{1};
};

std::u16string Lower(std::u16string s) {
  for (char16_t& c : s)
    if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
  return s;
}

// The display name of any moniker, or empty.
std::u16string DisplayNameOf(IMoniker* m) {
  if (!m) return {};
  tav::TaskMemPtr<OLECHAR> name;
  if (FAILED(m->GetDisplayName(nullptr, nullptr, name.Out())) || !name) return {};
  return std::u16string(name.Get());
}

// ---- the table ----------------------------------------------------------------------------

struct Entry {
  DWORD cookie;
  std::u16string displayName;
  std::u16string key;  // displayName compared without case, as item names are
  ComPtr<IUnknown> object;
  ComPtr<IMoniker> moniker;
};

class EnumMoniker : public RefCounted<EnumMoniker, IEnumMoniker> {
 public:
  explicit EnumMoniker(std::vector<ComPtr<IMoniker>> items, size_t pos = 0) : items_(std::move(items)), pos_(pos) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IEnumMoniker) {
      *ppv = static_cast<IEnumMoniker*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP Next(ULONG count, IMoniker** out, ULONG* fetched) override {
    if (!out || (count > 1 && !fetched)) return E_POINTER;
    ULONG n = 0;
    while (n < count && pos_ < items_.size()) {
      out[n] = items_[pos_++].Get();
      out[n]->AddRef();
      ++n;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    const size_t left = items_.size() - pos_;
    pos_ += std::min<size_t>(count, left);
    return count <= left ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    pos_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumMoniker** out) override {
    if (!out) return E_POINTER;
    *out = new EnumMoniker(items_, pos_);
    return S_OK;
  }

 private:
  std::vector<ComPtr<IMoniker>> items_;
  size_t pos_;
};

class RunningObjectTable : public IRunningObjectTable {
 public:
  // The table lives as long as the process; references to it are not counted.
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IRunningObjectTable) {
      *ppv = static_cast<IRunningObjectTable*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }

  // The table always holds a counted reference to a registered object, keep-alive or not,
  // so that an entry can never point at a destroyed object.
  STDMETHODIMP Register(DWORD, IUnknown* obj, IMoniker* name, DWORD* cookie) override {
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (!obj || !name) return E_INVALIDARG;
    const std::u16string display = DisplayNameOf(name);
    if (display.empty()) return E_INVALIDARG;
    std::lock_guard lock(lock_);
    const std::u16string key = Lower(display);
    const bool duplicate =
        std::any_of(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.key == key; });
    const DWORD c = nextCookie_++;
    entries_.push_back(Entry{c, display, key, ComPtr<IUnknown>(obj), ComPtr<IMoniker>(name)});
    *cookie = c;
    TAV_TRACE("Register(\"%s\") -> cookie %u%s", tav::Utf16ToUtf8(display).c_str(), c, duplicate ? " (name taken)" : "");
    PublishLocked();
    return duplicate ? MK_S_MONIKERALREADYREGISTERED : S_OK;
  }

  STDMETHODIMP Revoke(DWORD cookie) override {
    TAV_TRACE("Revoke(%u)", cookie);
    Entry removed;
    {
      std::lock_guard lock(lock_);
      auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.cookie == cookie; });
      if (it == entries_.end()) return E_INVALIDARG;
      removed = std::move(*it);
      entries_.erase(it);
      PublishLocked();
    }
    // removed lets go of the object here, outside the lock: its destructor may well call
    // back into the table.
    return S_OK;
  }

  STDMETHODIMP IsRunning(IMoniker* name) override {
    if (!name) return E_INVALIDARG;
    const std::u16string key = Lower(DisplayNameOf(name));
    std::lock_guard lock(lock_);
    return FindLocked(key) ? S_OK : S_FALSE;
  }

  STDMETHODIMP GetObject(IMoniker* name, IUnknown** obj) override {
    if (!obj) return E_POINTER;
    *obj = nullptr;
    if (!name) return E_INVALIDARG;
    const std::u16string key = Lower(DisplayNameOf(name));
    std::lock_guard lock(lock_);
    const Entry* e = FindLocked(key);
    if (!e) return MK_E_UNAVAILABLE;
    *obj = e->object.Get();
    (*obj)->AddRef();
    return S_OK;
  }

  STDMETHODIMP EnumRunning(IEnumMoniker** out) override {
    if (!out) return E_POINTER;
    std::vector<ComPtr<IMoniker>> items;
    {
      std::lock_guard lock(lock_);
      for (const Entry& e : entries_) items.push_back(e.moniker);
    }
    *out = new EnumMoniker(std::move(items));
    return S_OK;
  }

 private:
  // Display names are asked for before the lock is taken: a moniker is foreign code.
  const Entry* FindLocked(const std::u16string& key) const {
    if (key.empty()) return nullptr;
    for (const Entry& e : entries_)
      if (e.key == key) return &e;
    return nullptr;
  }

  void PublishLocked() {
    std::vector<std::string> names;
    for (const Entry& e : entries_) names.push_back(tav::Utf16ToUtf8(e.displayName));
    tav::rt::PublishRunningObjects(names);
  }

  // Guards entries_ and nextCookie_. Never held while an object is released.
  std::mutex lock_;
  std::vector<Entry> entries_;
  DWORD nextCookie_ = 1;
};

RunningObjectTable& Table() {
  // Never destroyed: objects still registered at exit are not released into a dying process.
  static auto* t = new RunningObjectTable;
  return *t;
}

// ---- item moniker and bind context --------------------------------------------------------

class ItemMoniker : public RefCounted<ItemMoniker, IMoniker> {
 public:
  ItemMoniker(std::u16string delimiter, std::u16string item)
      : delimiter_(std::move(delimiter)), item_(std::move(item)) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IPersist || riid == IID_IMoniker) {
      *ppv = static_cast<IMoniker*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP GetClassID(CLSID* clsid) override {
    if (!clsid) return E_POINTER;
    *clsid = CLSID_ItemMoniker;
    return S_OK;
  }
  STDMETHODIMP BindToObject(IBindCtx*, IMoniker*, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    ComPtr<IUnknown> obj;
    if (FAILED(Table().GetObject(this, obj.ReleaseAndGetAddressOf()))) return MK_E_NOOBJECT;
    return obj->QueryInterface(riid, ppv);
  }
  STDMETHODIMP BindToStorage(IBindCtx*, IMoniker*, REFIID, void** ppv) override {
    if (ppv) *ppv = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR* name) override {
    if (!name) return E_POINTER;
    const std::u16string s = delimiter_ + item_;
    auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((s.size() + 1) * sizeof(OLECHAR)));
    if (!out) {
      *name = nullptr;
      return E_OUTOFMEMORY;
    }
    std::memcpy(out, s.c_str(), (s.size() + 1) * sizeof(OLECHAR));
    *name = out;
    return S_OK;
  }
  STDMETHODIMP IsEqual(IMoniker* other) override {
    if (!other) return E_INVALIDARG;
    return Lower(DisplayNameOf(other)) == Lower(delimiter_ + item_) ? S_OK : S_FALSE;
  }

 private:
  const std::u16string delimiter_;
  const std::u16string item_;
};

class BindCtx : public RefCounted<BindCtx, IBindCtx> {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IBindCtx) {
      *ppv = static_cast<IBindCtx*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP RegisterObjectBound(IUnknown* obj) override {
    if (!obj) return E_INVALIDARG;
    std::lock_guard lock(lock_);
    bound_.emplace_back(obj);
    return S_OK;
  }
  STDMETHODIMP RevokeObjectBound(IUnknown* obj) override {
    ComPtr<IUnknown> dropped;
    std::lock_guard lock(lock_);
    auto it = std::find_if(bound_.begin(), bound_.end(), [&](const ComPtr<IUnknown>& p) { return p.Get() == obj; });
    if (it == bound_.end()) return MK_E_NOTBOUND;
    dropped = std::move(*it);
    bound_.erase(it);
    return S_OK;
  }
  STDMETHODIMP ReleaseBoundObjects() override {
    std::vector<ComPtr<IUnknown>> dropped;
    {
      std::lock_guard lock(lock_);
      dropped.swap(bound_);
    }
    return S_OK;
  }

 private:
  static constexpr HRESULT MK_E_NOTBOUND = TAV_HR(0x800401E9);
  std::mutex lock_;  // guards bound_
  std::vector<ComPtr<IUnknown>> bound_;
};

}  // namespace

HRESULT GetRunningObjectTable(DWORD, IRunningObjectTable** out) {
  if (!out) return E_POINTER;
  *out = &Table();
  return S_OK;
}

HRESULT CreateItemMoniker(LPCOLESTR delimiter, LPCOLESTR item, IMoniker** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!item) return E_INVALIDARG;
  *out = new ItemMoniker(delimiter ? delimiter : u"", item);
  return S_OK;
}

HRESULT CreateBindCtx(DWORD, IBindCtx** out) {
  if (!out) return E_POINTER;
  *out = new BindCtx;
  return S_OK;
}
