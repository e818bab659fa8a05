#include "platform/streaming/graph/filtermapper.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <new>
#include <optional>
#include <variant>

#include "media/contract/com.h"
#include "media/contract/memoryowners.h"
#include "media/contract/trace.h"
#include "media/contract/uuids.h"
#include "platform/streaming/graph/regkey.h"
#include "platform/streaming/graph/utf.h"

TAV_TRACE_SOURCE(kGraph, "mapper");

namespace tav::graph {
namespace {

constexpr char kDmoRoot[] = "DirectShow\\MediaObjects";
constexpr char kDmoCategories[] = "DirectShow\\MediaObjects\\Categories";

std::string CategoryInstancePath(const CLSID& category) {
  return "CLSID\\" + GuidToString(category) + "\\Instance";
}

// ---- property bag ----------------------------------------------------------------------

// A snapshot of a registration's values. Writes go to the snapshot and, for registry
// entries, to the instance key.
class PropertyBag final : public IPropertyBag, public LiveObject {
 public:
  using Value = std::variant<std::u16string, DWORD, std::vector<BYTE>>;

  PropertyBag(std::string keyPath, std::map<std::string, Value> values)
      : keyPath_(std::move(keyPath)), values_(std::move(values)) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IPropertyBag) return GiveInterface<IPropertyBag>(this, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  GRAPH_IMPLEMENT_REFCOUNT();

  STDMETHODIMP Read(LPCOLESTR name, VARIANT* var, IErrorLog*) override {
    if (!name || !var) return E_POINTER;
    auto it = Find(ToUtf8(name));
    if (it == values_.end()) return E_FAIL;
    VARTYPE wanted = var->vt;
    VariantInit(var);
    if (auto* s = std::get_if<std::u16string>(&it->second)) {
      if (wanted != VT_EMPTY && wanted != VT_BSTR) return E_FAIL;
      var->vt = VT_BSTR;
      var->bstrVal = SysAllocStringLen(s->data(), static_cast<UINT>(s->size()));
      return var->bstrVal ? S_OK : E_OUTOFMEMORY;
    }
    if (auto* d = std::get_if<DWORD>(&it->second)) {
      if (wanted != VT_EMPTY && wanted != VT_I4 && wanted != VT_UI4) return E_FAIL;
      var->vt = wanted == VT_UI4 ? VT_UI4 : VT_I4;
      var->ulVal = *d;
      return S_OK;
    }
    const auto& bytes = std::get<std::vector<BYTE>>(it->second);
    if (wanted != VT_EMPTY && wanted != (VT_ARRAY | VT_UI1)) return E_FAIL;
    SAFEARRAY* sa = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    if (!sa) return E_OUTOFMEMORY;
    void* data = nullptr;
    SafeArrayAccessData(sa, &data);
    if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
    SafeArrayUnaccessData(sa);
    var->vt = VT_ARRAY | VT_UI1;
    var->parray = sa;
    return S_OK;
  }

  STDMETHODIMP Write(LPCOLESTR name, VARIANT* var) override {
    if (!name || !var) return E_POINTER;
    std::string key = ToUtf8(name);
    Value value;
    switch (var->vt) {
      case VT_BSTR:
        value = std::u16string(var->bstrVal ? var->bstrVal : u"", var->bstrVal ? SysStringLen(var->bstrVal) : 0);
        break;
      case VT_I4:
      case VT_UI4:
        value = static_cast<DWORD>(var->ulVal);
        break;
      case VT_ARRAY | VT_UI1: {
        if (!var->parray) return E_POINTER;
        void* data = nullptr;
        SafeArrayAccessData(var->parray, &data);
        const BYTE* b = static_cast<const BYTE*>(data);
        value = std::vector<BYTE>(b, b + var->parray->rgsabound[0].cElements);
        SafeArrayUnaccessData(var->parray);
        break;
      }
      default:
        return E_INVALIDARG;
    }
    if (!keyPath_.empty()) {
      RegKey k;
      if (!k.Create(HKEY_CLASSES_ROOT, keyPath_)) return E_FAIL;
      LSTATUS st;
      if (auto* s = std::get_if<std::u16string>(&value))
        st = k.SetString(key.c_str(), ToUtf8(*s));
      else if (auto* d = std::get_if<DWORD>(&value))
        st = k.SetDword(key.c_str(), *d);
      else
        st = k.SetBinary(key.c_str(), std::get<std::vector<BYTE>>(value));
      if (st != ERROR_SUCCESS) return HRESULT_FROM_WIN32(st);
    }
    auto it = Find(key);
    if (it != values_.end())
      it->second = std::move(value);
    else
      values_.emplace(std::move(key), std::move(value));
    return S_OK;
  }

 private:
  ~PropertyBag() override = default;
  // Value names compare without regard to case, as registry names do.
  std::map<std::string, Value>::iterator Find(const std::string& name) {
    return std::find_if(values_.begin(), values_.end(), [&](const auto& kv) {
      return kv.first.size() == name.size() &&
             std::equal(name.begin(), name.end(), kv.first.begin(),
                        [](char a, char b) { return std::tolower(a) == std::tolower(b); });
    });
  }

  const std::string keyPath_;
  std::map<std::string, Value> values_;
};

// ---- moniker --------------------------------------------------------------------------

class FilterMoniker final : public IMoniker, public LiveObject {
 public:
  explicit FilterMoniker(FilterEntry entry) : entry_(std::move(entry)) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IPersist || riid == IID_IMoniker) return GiveInterface<IMoniker>(this, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  GRAPH_IMPLEMENT_REFCOUNT();

  STDMETHODIMP GetClassID(CLSID* clsid) override {
    if (!clsid) return E_POINTER;
    *clsid = entry_.clsid;
    return S_OK;
  }

  STDMETHODIMP BindToObject(IBindCtx*, IMoniker*, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    TAV_TRACE("moniker bind %s", GuidToString(entry_.clsid).c_str());
    if (!entry_.isDmo) return CoCreateInstance(entry_.clsid, nullptr, CLSCTX_INPROC_SERVER, riid, ppv);
    // A decoder object joins a graph inside the platform's wrapper filter.
    ComPtr<IUnknown> wrapper;
    HRESULT hr = CoCreateInstance(CLSID_DMOWrapperFilter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                  wrapper.AsVoidOut());
    if (FAILED(hr)) return hr;
    ComPtr<IDMOWrapperFilter> init = wrapper.As<IDMOWrapperFilter>();
    if (!init) return E_NOINTERFACE;
    hr = init->Init(entry_.clsid, entry_.category);
    if (FAILED(hr)) return hr;
    return wrapper->QueryInterface(riid, ppv);
  }

  STDMETHODIMP BindToStorage(IBindCtx*, IMoniker*, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IPropertyBag && riid != IID_IUnknown) return E_NOINTERFACE;
    std::map<std::string, PropertyBag::Value> values;
    if (!entry_.isDmo) {
      // Read the key as it is now, so values written since enumeration show up.
      RegKey k;
      if (!k.Open(HKEY_CLASSES_ROOT, entry_.keyPath)) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
      for (const std::string& name : k.ValueNames()) {
        if (auto s = k.String(name.c_str()))
          values.emplace(name, ToUtf16(*s));
        else if (auto d = k.Dword(name.c_str()))
          values.emplace(name, *d);
        else if (auto b = k.Binary(name.c_str()))
          values.emplace(name, std::move(*b));
      }
    } else {
      values.emplace("FriendlyName", entry_.name);
      values.emplace("CLSID", GuidToWString(entry_.clsid));
      values.emplace("DMO", GuidToWString(entry_.clsid));
      values.emplace("DMOCategory", GuidToWString(entry_.category));
      values.emplace("FilterData", EncodeFilterData(entry_.data));
    }
    auto* bag = new (std::nothrow) PropertyBag(entry_.isDmo ? std::string() : entry_.keyPath, std::move(values));
    if (!bag) return E_OUTOFMEMORY;
    *ppv = static_cast<IPropertyBag*>(bag);
    return S_OK;
  }

  STDMETHODIMP GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR* name) override {
    if (!name) return E_POINTER;
    std::u16string text = DisplayName();
    auto* out = static_cast<OLECHAR*>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
    if (!out) return E_OUTOFMEMORY;
    std::memcpy(out, text.c_str(), (text.size() + 1) * sizeof(OLECHAR));
    *name = out;
    return S_OK;
  }

  STDMETHODIMP IsEqual(IMoniker* other) override {
    if (!other) return E_POINTER;
    tav::TaskMemPtr<OLECHAR> name;
    if (FAILED(other->GetDisplayName(nullptr, nullptr, name.Out()))) return S_FALSE;
    bool same = DisplayName() == name.Get();
    return same ? S_OK : S_FALSE;
  }

 private:
  ~FilterMoniker() override = default;
  std::u16string DisplayName() const {
    if (entry_.isDmo) return u"@device:dmo:" + GuidToWString(entry_.clsid) + GuidToWString(entry_.category);
    // keyPath is CLSID\{category}\Instance\{instance}.
    std::string instance = entry_.keyPath.substr(entry_.keyPath.rfind('\\') + 1);
    return u"@device:sw:" + GuidToWString(entry_.category) + u"\\" + ToUtf16(instance);
  }

  const FilterEntry entry_;
};

// ---- moniker enumerator ---------------------------------------------------------------

using MonikerEnum = SnapshotEnum<IEnumMoniker, IMoniker>;

// ---- reading registrations ----------------------------------------------------------

void ReadCategory(const CLSID& category, std::vector<FilterEntry>* out) {
  std::string base = CategoryInstancePath(category);
  RegKey instances;
  if (!instances.Open(HKEY_CLASSES_ROOT, base)) return;
  for (const std::string& instance : instances.SubKeys()) {
    FilterEntry e;
    e.category = category;
    e.keyPath = base + "\\" + instance;
    RegKey k;
    if (!k.Open(HKEY_CLASSES_ROOT, e.keyPath)) continue;
    auto clsidText = k.String("CLSID");
    if (!clsidText || !GuidFromString(*clsidText, &e.clsid)) continue;
    auto bytes = k.Binary("FilterData");
    // A registration without usable filter data cannot be matched by pins; it is kept
    // with no pins and no merit so only a search for anything finds it.
    if (!bytes || !DecodeFilterData(bytes->data(), bytes->size(), &e.data)) e.data = FilterData{};
    e.name = ToUtf16(k.String("FriendlyName").value_or(instance));
    out->push_back(std::move(e));
  }
}

// "InputTypes" / "OutputTypes": pairs of (major type, subtype).
std::vector<PinTypeData> ReadDmoTypes(const RegKey& k, const char* name) {
  std::vector<PinTypeData> types;
  auto bytes = k.Binary(name);
  if (!bytes) return types;
  for (size_t at = 0; at + 32 <= bytes->size(); at += 32) {
    PinTypeData t;
    std::memcpy(&t.major, bytes->data() + at, 16);
    std::memcpy(&t.minor, bytes->data() + at + 16, 16);
    types.push_back(t);
  }
  return types;
}

void ReadDmoCategory(const CLSID& category, std::vector<FilterEntry>* out) {
  RegKey cat;
  if (!cat.Open(HKEY_CLASSES_ROOT, std::string(kDmoCategories) + "\\" + GuidToString(category))) return;
  for (const std::string& sub : cat.SubKeys()) {
    FilterEntry e;
    if (!GuidFromString(sub, &e.clsid)) continue;
    RegKey k;
    if (!k.Open(HKEY_CLASSES_ROOT, std::string(kDmoRoot) + "\\" + GuidToString(e.clsid))) continue;
    e.isDmo = true;
    e.category = category;
    e.name = ToUtf16(k.String("").value_or(sub));
    e.data.merit = kDmoMerit;
    PinData in, outPin;
    in.types = ReadDmoTypes(k, "InputTypes");
    outPin.flags = kPinFlagOutput;
    outPin.types = ReadDmoTypes(k, "OutputTypes");
    e.data.pins = {std::move(in), std::move(outPin)};
    out->push_back(std::move(e));
  }
}

bool GuidMatches(bool exact, const GUID& registered, const GUID& wanted) {
  return wanted == GUID_NULL || registered == wanted || (!exact && registered == GUID_NULL);
}

// Whether a pin offers one of the (major, minor) pairs; no pairs asked = any pin.
bool PinTypesMatch(bool exact, const PinData& pin, DWORD count, const GUID* pairs) {
  if (count == 0 || !pairs) return true;
  for (const PinTypeData& t : pin.types)
    for (DWORD i = 0; i < count; ++i)
      if (GuidMatches(exact, t.major, pairs[2 * i]) && GuidMatches(exact, t.minor, pairs[2 * i + 1])) return true;
  return false;
}

bool PinMediumMatches(const PinData& pin, const REGPINMEDIUM* medium) {
  if (!medium) return true;
  return std::any_of(pin.mediums.begin(), pin.mediums.end(), [&](const PinMedium& m) {
    return m.medium == medium->clsMedium && m.data1 == medium->dw1 && m.data2 == medium->dw2;
  });
}

bool PinCategoryMatches(const PinData& pin, const CLSID* category) {
  return !category || (pin.category && *pin.category == *category);
}

FilterData FromRegFilter2(const REGFILTER2& rf) {
  FilterData data;
  data.merit = rf.dwMerit;
  if (rf.dwVersion == 1) {
    for (ULONG i = 0; i < rf.cPins && rf.rgPins; ++i) {
      const REGFILTERPINS& p = rf.rgPins[i];
      PinData pin;
      pin.flags = (p.bZero ? kPinFlagZero : 0) | (p.bRendered ? kPinFlagRenderer : 0) | (p.bMany ? kPinFlagMany : 0) |
                  (p.bOutput ? kPinFlagOutput : 0);
      for (UINT j = 0; j < p.nMediaTypes && p.lpMediaType; ++j)
        pin.types.push_back({p.lpMediaType[j].clsMajorType ? *p.lpMediaType[j].clsMajorType : GUID_NULL,
                             p.lpMediaType[j].clsMinorType ? *p.lpMediaType[j].clsMinorType : GUID_NULL});
      data.pins.push_back(std::move(pin));
    }
    return data;
  }
  for (ULONG i = 0; i < rf.cPins2 && rf.rgPins2; ++i) {
    const REGFILTERPINS2& p = rf.rgPins2[i];
    PinData pin;
    pin.flags = p.dwFlags;
    pin.instances = p.cInstances;
    for (UINT j = 0; j < p.nMediaTypes && p.lpMediaType; ++j)
      pin.types.push_back({p.lpMediaType[j].clsMajorType ? *p.lpMediaType[j].clsMajorType : GUID_NULL,
                           p.lpMediaType[j].clsMinorType ? *p.lpMediaType[j].clsMinorType : GUID_NULL});
    for (UINT j = 0; j < p.nMediums && p.lpMedium; ++j)
      pin.mediums.push_back({p.lpMedium[j].clsMedium, p.lpMedium[j].dw1, p.lpMedium[j].dw2});
    if (p.clsPinCategory) pin.category = *p.clsPinCategory;
    data.pins.push_back(std::move(pin));
  }
  return data;
}

}  // namespace

std::vector<FilterEntry> ReadRegisteredFilters() {
  std::vector<FilterEntry> all;
  ReadCategory(CLSID_LegacyAmFilterCategory, &all);
  RegKey cats;
  if (cats.Open(HKEY_CLASSES_ROOT, CategoryInstancePath(CLSID_ActiveMovieCategories))) {
    for (const std::string& sub : cats.SubKeys()) {
      CLSID category;
      if (!GuidFromString(sub, &category) || category == CLSID_LegacyAmFilterCategory) continue;
      RegKey k;
      if (!k.Open(HKEY_CLASSES_ROOT, CategoryInstancePath(CLSID_ActiveMovieCategories) + "\\" + sub)) continue;
      if (k.Dword("Merit").value_or(MERIT_DO_NOT_USE) <= MERIT_DO_NOT_USE) continue;
      ReadCategory(category, &all);
    }
  }
  ReadDmoCategory(DMOCATEGORY_VIDEO_DECODER, &all);
  ReadDmoCategory(DMOCATEGORY_AUDIO_DECODER, &all);
  return all;
}

ComPtr<IMoniker> MakeFilterMoniker(const FilterEntry& entry) {
  return ComPtr<IMoniker>::Adopt(new FilterMoniker(entry));
}

ComPtr<IEnumMoniker> MakeMonikerEnum(std::vector<ComPtr<IMoniker>> monikers) {
  return ComPtr<IEnumMoniker>::Adopt(new MonikerEnum(std::move(monikers)));
}

HRESULT FilterMapper::Create(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  auto* m = new (std::nothrow) FilterMapper();
  if (!m) return E_OUTOFMEMORY;
  // The new object's first reference is this function's; the caller gets one of its own.
  const auto owned = ComPtr<IFilterMapper2>::Adopt(m);
  return m->QueryInterface(riid, ppv);
}

STDMETHODIMP FilterMapper::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IFilterMapper2) return GiveInterface<IFilterMapper2>(this, ppv);
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP FilterMapper::CreateCategory(REFCLSID category, DWORD merit, LPCWSTR description) {
  TAV_TRACE("CreateCategory %s merit %#x", GuidToString(category).c_str(), merit);
  RegKey k;
  if (!k.Create(HKEY_CLASSES_ROOT,
                CategoryInstancePath(CLSID_ActiveMovieCategories) + "\\" + GuidToString(category)))
    return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
  if (description) k.SetString("FriendlyName", ToUtf8(description));
  k.SetString("CLSID", GuidToString(category));
  k.SetDword("Merit", merit);
  RegKey instance;
  instance.Create(HKEY_CLASSES_ROOT, CategoryInstancePath(category));
  return S_OK;
}

STDMETHODIMP FilterMapper::UnregisterFilter(const CLSID* category, LPCOLESTR instance, REFCLSID filter) {
  const CLSID& cat = category ? *category : CLSID_LegacyAmFilterCategory;
  std::string name = instance ? ToUtf8(instance) : GuidToString(filter);
  TAV_TRACE("UnregisterFilter %s in %s", name.c_str(), GuidToString(cat).c_str());
  LSTATUS st = RegDeleteTree(HKEY_CLASSES_ROOT, (CategoryInstancePath(cat) + "\\" + name).c_str());
  return st == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(st);
}

STDMETHODIMP FilterMapper::RegisterFilter(REFCLSID filter, LPCWSTR name, IMoniker** moniker, const CLSID* category,
                                          LPCOLESTR instance, const REGFILTER2* data) {
  if (!name || !data) return E_POINTER;
  if (data->dwVersion != 1 && data->dwVersion != 2) return E_INVALIDARG;
  const CLSID& cat = category ? *category : CLSID_LegacyAmFilterCategory;
  std::string instanceName = instance ? ToUtf8(instance) : GuidToString(filter);
  TAV_TRACE("RegisterFilter %s \"%s\" merit %#x", GuidToString(filter).c_str(), ToUtf8(name).c_str(),
              data->dwMerit);
  FilterEntry e;
  e.clsid = filter;
  e.category = cat;
  e.name = name;
  e.data = FromRegFilter2(*data);
  e.keyPath = CategoryInstancePath(cat) + "\\" + instanceName;

  RegKey k;
  if (!k.Create(HKEY_CLASSES_ROOT, e.keyPath)) return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
  LSTATUS st = k.SetString("FriendlyName", ToUtf8(name));
  if (st == ERROR_SUCCESS) st = k.SetString("CLSID", GuidToString(filter));
  if (st == ERROR_SUCCESS) st = k.SetBinary("FilterData", EncodeFilterData(e.data));
  if (st != ERROR_SUCCESS) return HRESULT_FROM_WIN32(st);

  // The class key carries the filter's name when its library has not named it.
  RegKey classKey;
  if (classKey.Create(HKEY_CLASSES_ROOT, "CLSID\\" + GuidToString(filter)) && !classKey.String(""))
    classKey.SetString("", ToUtf8(name));

  if (moniker) {
    ComPtr<IMoniker> m = MakeFilterMoniker(e);
    *moniker = m.Detach();
  }
  return S_OK;
}

STDMETHODIMP FilterMapper::EnumMatchingFilters(IEnumMoniker** out, DWORD flags, BOOL exactMatch, DWORD minMerit,
                                               BOOL inputNeeded, DWORD inputTypeCount, const GUID* inputTypes,
                                               const REGPINMEDIUM* inputMedium, const CLSID* inputPinCategory,
                                               BOOL render, BOOL outputNeeded, DWORD outputTypeCount,
                                               const GUID* outputTypes, const REGPINMEDIUM* outputMedium,
                                               const CLSID* outputPinCategory) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if ((inputTypeCount && !inputTypes) || (outputTypeCount && !outputTypes)) return E_POINTER;
  const bool exact = exactMatch != FALSE;
  const bool checkInput = inputNeeded || inputTypeCount || render || inputMedium || inputPinCategory;
  const bool checkOutput = outputNeeded || outputTypeCount || outputMedium || outputPinCategory;

  std::vector<FilterEntry> matches;
  std::vector<CLSID> seen;
  for (FilterEntry& e : ReadRegisteredFilters()) {
    if (e.data.merit < minMerit) continue;
    bool inputOk = !checkInput, outputOk = !checkOutput;
    for (const PinData& pin : e.data.pins) {
      if (!pin.IsOutput()) {
        if (checkInput && (!render || (pin.flags & kPinFlagRenderer)) &&
            PinTypesMatch(exact, pin, inputTypeCount, inputTypes) && PinMediumMatches(pin, inputMedium) &&
            PinCategoryMatches(pin, inputPinCategory))
          inputOk = true;
      } else if (checkOutput && PinTypesMatch(exact, pin, outputTypeCount, outputTypes) &&
                 PinMediumMatches(pin, outputMedium) && PinCategoryMatches(pin, outputPinCategory)) {
        outputOk = true;
      }
    }
    if (!inputOk || !outputOk) continue;
    // A filter registered in several categories is offered once.
    if (std::find(seen.begin(), seen.end(), e.clsid) != seen.end()) continue;
    seen.push_back(e.clsid);
    matches.push_back(std::move(e));
  }
  std::stable_sort(matches.begin(), matches.end(),
                   [](const FilterEntry& a, const FilterEntry& b) { return a.data.merit > b.data.merit; });
  std::vector<ComPtr<IMoniker>> monikers;
  for (const FilterEntry& e : matches) monikers.push_back(MakeFilterMoniker(e));
  TAV_TRACE("EnumMatchingFilters merit>=%#x exact=%d: %zu found", minMerit, exact, monikers.size());
  *out = MakeMonikerEnum(std::move(monikers)).Detach();
  return S_OK;
}

}  // namespace tav::graph
