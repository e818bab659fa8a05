// Building: direct and intelligent connection, rendering, source filters, reconnection.
//
// Intelligent connection of an output pin to an input pin (or rendering it) tries, in order:
//   1. the direct connection;
//   2. filters already in the graph that have a free input pin (the caller may have added
//      a converter on purpose), except filters upstream of the output pin;
//   3. filters from the mapper that accept one of the pin's types, by merit, each one
//      offered first to the graph-builder callback (SelectedFilter, then CreatedFilter).
// An intermediate filter's outputs are connected onwards the same way, so as many filters
// as needed are inserted. Whatever an attempt added or connected is undone when it fails.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "media/contract/checkbytes.h"
#include "media/contract/registry.h"
#include "media/contract/trace.h"
#include "media/contract/uuids.h"
#include "platform/streaming/graph/filtergraph.h"
#include "platform/streaming/graph/filtermapper.h"
#include "platform/streaming/graph/graph_util.h"
#include "platform/streaming/graph/regkey.h"
#include "platform/streaming/graph/utf.h"

TAV_TRACE_SOURCE(kGraph, "connect");

namespace tav::graph {
namespace {

// Intermediate filters one connection may insert.
constexpr int kMaxConnectDepth = 5;

ComPtr<IUnknown> Identity(IUnknown* p) {
  ComPtr<IUnknown> id;
  if (p) p->QueryInterface(IID_IUnknown, id.AsVoidOut());
  return id;
}

// The filters upstream of filter, itself included.
std::unordered_set<IUnknown*> UpstreamOf(IBaseFilter* filter, std::vector<ComPtr<IUnknown>>* keep) {
  std::unordered_set<IUnknown*> seen;
  std::vector<ComPtr<IBaseFilter>> work{ComPtr<IBaseFilter>(filter)};
  while (!work.empty()) {
    ComPtr<IBaseFilter> f = work.back();
    work.pop_back();
    ComPtr<IUnknown> id = Identity(f.Get());
    if (!seen.insert(id.Get()).second) continue;
    keep->push_back(id);
    for (auto& pin : PinsOf(f.Get(), PINDIR_INPUT))
      if (ComPtr<IPin> peer = PeerOf(pin.Get()))
        if (ComPtr<IBaseFilter> up = OwnerOf(peer.Get())) work.push_back(up);
  }
  return seen;
}

std::u16string ReadBagString(IMoniker* moniker, const char16_t* name) {
  ComPtr<IPropertyBag> bag;
  if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.AsVoidOut())) || !bag) return u"";
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  std::u16string out;
  if (SUCCEEDED(bag->Read(name, &v, nullptr)) && v.vt == VT_BSTR && v.bstrVal) out = v.bstrVal;
  VariantClear(&v);
  return out;
}

// One check-byte line against an open file.
bool CheckBytesMatch(const std::string& line, FILE* file, long long fileSize) {
  return tav::CheckBytesMatch(line, fileSize, [file](LONGLONG offset, LONG count, BYTE* buffer) {
    return std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0 &&
           std::fread(buffer, 1, size_t(count), file) == size_t(count);
  });
}

}  // namespace

// ---- direct connection ------------------------------------------------------------------

HRESULT FilterGraph::ConnectDirectLocked(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) {
  if (!out || !in) return E_POINTER;
  if (!PinInGraphLocked(out) || !PinInGraphLocked(in)) return VFW_E_NOT_IN_GRAPH;
  if (DirectionOf(out) != PINDIR_OUTPUT || DirectionOf(in) != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
  return out->Connect(in, mt);
}

STDMETHODIMP FilterGraph::ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) {
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  HRESULT hr = ConnectDirectLocked(out, in, mt);
  TAV_TRACE("ConnectDirect %s -> %s: %#x", out ? ToUtf8(PinName(out)).c_str() : "null",
              in ? ToUtf8(PinName(in)).c_str() : "null", static_cast<unsigned>(hr));
  return hr;
}

STDMETHODIMP FilterGraph::Disconnect(IPin* pin) {
  if (!pin) return E_POINTER;
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  return pin->Disconnect();
}

// ---- intelligent connection ---------------------------------------------------------------

std::vector<ComPtr<IBaseFilter>> FilterGraph::InGraphCandidatesLocked(IPin* out, IPin* in) const {
  std::vector<ComPtr<IUnknown>> keep;
  ComPtr<IBaseFilter> source = OwnerOf(out);
  std::unordered_set<IUnknown*> upstream = source ? UpstreamOf(source.Get(), &keep) : std::unordered_set<IUnknown*>{};
  ComPtr<IUnknown> target = in ? Identity(OwnerOf(in).Get()) : nullptr;
  std::vector<ComPtr<IBaseFilter>> out_;
  for (const FilterEntry& e : filters_) {
    ComPtr<IUnknown> id = Identity(e.filter.Get());
    if (upstream.count(id.Get()) || id == target) continue;
    for (auto& pin : PinsOf(e.filter.Get(), PINDIR_INPUT)) {
      if (!PeerOf(pin.Get())) {
        out_.push_back(e.filter);
        break;
      }
    }
  }
  return out_;
}

HRESULT FilterGraph::TryIntermediateLocked(IPin* out, IBaseFilter* filter, IPin* in, int depth) {
  for (auto& input : PinsOf(filter, PINDIR_INPUT)) {
    if (PeerOf(input.Get())) continue;
    if (FAILED(out->Connect(input.Get(), nullptr))) continue;
    // The filter's own outputs are only known once its input is connected.
    auto outputs = PinsOf(filter, PINDIR_OUTPUT);
    if (!in && outputs.empty()) return S_OK;  // a renderer
    if (depth > 0) {
      int rendered = 0;
      for (auto& next : outputs) {
        if (PeerOf(next.Get())) continue;
        if (in) {
          if (SUCCEEDED(ConnectViaLocked(next.Get(), in, depth - 1))) return S_OK;
        } else if (SUCCEEDED(RenderLocked(next.Get(), depth - 1))) {
          ++rendered;
        }
      }
      if (!in && rendered > 0) return S_OK;
    }
    out->Disconnect();
    input->Disconnect();
  }
  return VFW_E_CANNOT_CONNECT;
}

HRESULT FilterGraph::MapperCandidatesLocked(IPin* out, IPin* in, int depth) {
  std::vector<GUID> pairs;
  for (auto& mt : TypesOf(out)) {
    pairs.push_back(mt->majortype);
    pairs.push_back(mt->subtype);
  }
  if (pairs.empty()) pairs = {GUID_NULL, GUID_NULL};
  ComPtr<IFilterMapper2> mapper;
  FilterMapper::Create(nullptr, IID_IFilterMapper2, mapper.AsVoidOut());
  if (!mapper) return E_OUTOFMEMORY;
  ComPtr<IEnumMoniker> found;
  HRESULT hr = mapper->EnumMatchingFilters(&found, 0, FALSE, MERIT_DO_NOT_USE + 1, TRUE,
                                          static_cast<DWORD>(pairs.size() / 2), pairs.data(), nullptr, nullptr,
                                          FALSE, in != nullptr, 0, nullptr, nullptr, nullptr);
  if (FAILED(hr)) return hr;
  // Classes already in the chain above out are not inserted again: that only loops
  // (A -> B -> A ...) until the depth runs out.
  std::vector<CLSID> chainClasses;
  {
    std::vector<ComPtr<IUnknown>> keep;
    ComPtr<IBaseFilter> owner = OwnerOf(out);
    if (owner) UpstreamOf(owner.Get(), &keep);
    for (auto& id : keep)
      if (ComPtr<IBaseFilter> f = id.As<IBaseFilter>()) chainClasses.push_back(ClassOf(f.Get()));
  }
  IMoniker* raw = nullptr;
  while (found->Next(1, &raw, nullptr) == S_OK) {
    if (abortRequested_) return E_ABORT;
    ComPtr<IMoniker> moniker = ComPtr<IMoniker>::Adopt(raw);
    if (callback_ && FAILED(callback_->SelectedFilter(moniker.Get()))) {
      TAV_TRACE("callback refused %s", ToUtf8(ReadBagString(moniker.Get(), u"FriendlyName")).c_str());
      continue;
    }
    CLSID clsid = GUID_NULL;
    GuidFromString(ReadBagString(moniker.Get(), u"CLSID"), &clsid);
    if (clsid != GUID_NULL && std::find(chainClasses.begin(), chainClasses.end(), clsid) != chainClasses.end())
      continue;
    ComPtr<IBaseFilter> filter;
    if (FAILED(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.AsVoidOut())) || !filter) continue;
    if (callback_ && FAILED(callback_->CreatedFilter(filter.Get()))) continue;
    std::u16string name = ReadBagString(moniker.Get(), u"FriendlyName");
    if (FAILED(AddFilter(filter.Get(), name.empty() ? nullptr : name.c_str()))) continue;
    TAV_TRACE("trying %s", ToUtf8(name).c_str());
    if (SUCCEEDED(TryIntermediateLocked(out, filter.Get(), in, depth))) return S_OK;
    RemoveFilterLocked(filter.Get());
  }
  return in ? VFW_E_CANNOT_CONNECT : VFW_E_CANNOT_RENDER;
}

HRESULT FilterGraph::ConnectViaLocked(IPin* out, IPin* in, int depth) {
  HRESULT direct = out->Connect(in, nullptr);
  if (SUCCEEDED(direct)) return S_OK;
  if (abortRequested_) return E_ABORT;
  for (auto& filter : InGraphCandidatesLocked(out, in))
    if (SUCCEEDED(TryIntermediateLocked(out, filter.Get(), in, depth))) return S_OK;
  if (SUCCEEDED(MapperCandidatesLocked(out, in, depth))) return S_OK;
  return VFW_E_CANNOT_CONNECT;
}

STDMETHODIMP FilterGraph::Connect(IPin* out, IPin* in) {
  if (!out || !in) return E_POINTER;
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  if (!PinInGraphLocked(out) || !PinInGraphLocked(in)) return VFW_E_NOT_IN_GRAPH;
  if (DirectionOf(out) != PINDIR_OUTPUT || DirectionOf(in) != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
  if (PeerOf(out) || PeerOf(in)) return VFW_E_ALREADY_CONNECTED;
  abortRequested_ = false;
  HRESULT hr = ConnectViaLocked(out, in, kMaxConnectDepth);
  TAV_TRACE("Connect %s -> %s: %#x", ToUtf8(PinName(out)).c_str(), ToUtf8(PinName(in)).c_str(),
              static_cast<unsigned>(hr));
  return hr;
}

HRESULT FilterGraph::RenderLocked(IPin* out, int depth) {
  if (PeerOf(out)) return VFW_E_ALREADY_CONNECTED;
  if (abortRequested_) return E_ABORT;
  for (auto& filter : InGraphCandidatesLocked(out, nullptr))
    if (SUCCEEDED(TryIntermediateLocked(out, filter.Get(), nullptr, depth))) return S_OK;
  if (SUCCEEDED(MapperCandidatesLocked(out, nullptr, depth))) return S_OK;
  return VFW_E_CANNOT_RENDER;
}

STDMETHODIMP FilterGraph::Render(IPin* out) {
  if (!out) return E_POINTER;
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  if (!PinInGraphLocked(out)) return VFW_E_NOT_IN_GRAPH;
  if (DirectionOf(out) != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
  abortRequested_ = false;
  HRESULT hr = RenderLocked(out, kMaxConnectDepth);
  TAV_TRACE("Render %s: %#x", ToUtf8(PinName(out)).c_str(), static_cast<unsigned>(hr));
  return hr;
}

STDMETHODIMP FilterGraph::RenderEx(IPin* out, DWORD flags, DWORD* context) {
  if (!out) return E_POINTER;
  if (context) return E_INVALIDARG;
  if (!(flags & AM_RENDEREX_RENDERTOEXISTINGRENDERERS)) return Render(out);
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  if (!PinInGraphLocked(out)) return VFW_E_NOT_IN_GRAPH;
  for (auto& filter : InGraphCandidatesLocked(out, nullptr))
    if (PinsOf(filter.Get(), PINDIR_OUTPUT).empty() && SUCCEEDED(TryIntermediateLocked(out, filter.Get(), nullptr, 0)))
      return S_OK;
  return VFW_E_CANNOT_RENDER;
}

// ---- sources -----------------------------------------------------------------------------

HRESULT FilterGraph::CreateSourceLocked(const std::u16string& file, CLSID* clsid, AM_MEDIA_TYPE* type,
                                        bool* haveType) {
  *clsid = CLSID_AsyncReader;
  *haveType = false;
  std::string path = ToUtf8(file);
  // Only files (and disks): opening a named pipe would wait for a writer, and a device
  // such as /dev/zero never ends.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode)))
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

  // 1. The extension's entry.
  size_t slash = path.find_last_of('/');
  size_t dot = path.find_last_of('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
    RegKey ext;
    if (ext.Open(HKEY_CLASSES_ROOT, "Media Type\\Extensions\\" + path.substr(dot))) {
      CLSID source;
      if (auto s = ext.String("Source Filter"); s && GuidFromString(*s, &source)) {
        *clsid = source;
        GUID major, minor;
        if (auto m = ext.String("Media Type"); m && GuidFromString(*m, &major)) {
          type->majortype = major;
          if (auto sub = ext.String("Subtype"); sub && GuidFromString(*sub, &minor)) type->subtype = minor;
          *haveType = true;
        }
        std::fclose(f);
        return S_OK;
      }
    }
  }

  // 2. The check bytes under each media type.
  std::fseek(f, 0, SEEK_END);
  long long size = std::ftell(f);
  RegKey root;
  if (size > 0 && root.Open(HKEY_CLASSES_ROOT, "Media Type")) {
    for (const std::string& majorName : root.SubKeys()) {
      GUID major;
      if (!GuidFromString(majorName, &major)) continue;  // "Extensions" and the like
      RegKey majorKey;
      if (!majorKey.Open(HKEY_CLASSES_ROOT, "Media Type\\" + majorName)) continue;
      for (const std::string& minorName : majorKey.SubKeys()) {
        GUID minor;
        if (!GuidFromString(minorName, &minor)) continue;
        RegKey k;
        if (!k.Open(HKEY_CLASSES_ROOT, "Media Type\\" + majorName + "\\" + minorName)) continue;
        for (const std::string& value : k.ValueNames()) {
          if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos) continue;
          auto line = k.String(value.c_str());
          if (!line || !CheckBytesMatch(*line, f, size)) continue;
          CLSID source;
          if (auto s = k.String("Source Filter"); s && GuidFromString(*s, &source)) *clsid = source;
          type->majortype = major;
          type->subtype = minor;
          *haveType = true;
          std::fclose(f);
          return S_OK;
        }
      }
    }
  }
  // 3. The default file source.
  std::fclose(f);
  return S_OK;
}

STDMETHODIMP FilterGraph::AddSourceFilter(LPCWSTR fileName, LPCWSTR filterName, IBaseFilter** out) {
  if (!fileName || !out) return E_POINTER;
  *out = nullptr;
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  CLSID clsid;
  AM_MEDIA_TYPE type{};
  bool haveType = false;
  HRESULT hr = CreateSourceLocked(fileName, &clsid, &type, &haveType);
  TAV_TRACE("AddSourceFilter %s: source %s (%#x)", ToUtf8(fileName).c_str(), GuidToString(clsid).c_str(),
              static_cast<unsigned>(hr));
  if (FAILED(hr)) return hr;
  ComPtr<IBaseFilter> filter;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.AsVoidOut());
  if (FAILED(hr)) return hr == REGDB_E_CLASSNOTREG ? VFW_E_CANNOT_LOAD_SOURCE_FILTER : hr;
  ComPtr<IFileSourceFilter> load = filter.As<IFileSourceFilter>();
  if (!load) return VFW_E_CANNOT_LOAD_SOURCE_FILTER;
  hr = AddFilter(filter.Get(), filterName ? filterName : fileName);
  if (FAILED(hr)) return hr;
  hr = load->Load(fileName, haveType ? &type : nullptr);
  if (FAILED(hr)) {
    RemoveFilterLocked(filter.Get());
    return hr;
  }
  *out = filter.Detach();
  return S_OK;
}

STDMETHODIMP FilterGraph::AddSourceFilter(BSTR fileName, IUnknown** filter) {
  if (!filter) return E_POINTER;
  IBaseFilter* f = nullptr;
  HRESULT hr = AddSourceFilter(fileName, nullptr, &f);
  *filter = f;
  return hr;
}

STDMETHODIMP FilterGraph::AddSourceFilterForMoniker(IMoniker* moniker, IBindCtx* ctx, LPCWSTR filterName,
                                                    IBaseFilter** out) {
  if (!moniker || !out) return E_POINTER;
  *out = nullptr;
  ComPtr<IBaseFilter> filter;
  HRESULT hr = moniker->BindToObject(ctx, nullptr, IID_IBaseFilter, filter.AsVoidOut());
  if (FAILED(hr)) return hr;
  hr = AddFilter(filter.Get(), filterName);
  if (FAILED(hr)) return hr;
  *out = filter.Detach();
  return S_OK;
}

STDMETHODIMP FilterGraph::RenderFile(LPCWSTR file, LPCWSTR) {
  if (!file) return E_POINTER;
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  ComPtr<IBaseFilter> source;
  HRESULT hr = AddSourceFilter(file, file, &source);
  if (FAILED(hr)) return hr;
  int rendered = 0, failed = 0;
  for (auto& pin : PinsOf(source.Get(), PINDIR_OUTPUT))
    (SUCCEEDED(RenderLocked(pin.Get(), kMaxConnectDepth)) ? rendered : failed)++;
  if (rendered == 0) {
    RemoveFilterLocked(source.Get());
    return VFW_E_CANNOT_RENDER;
  }
  return failed ? VFW_S_PARTIAL_RENDER : S_OK;
}

STDMETHODIMP FilterGraph::RenderFile(BSTR fileName) { return RenderFile(static_cast<LPCWSTR>(fileName), nullptr); }

// ---- reconnection ----------------------------------------------------------------------

STDMETHODIMP FilterGraph::Reconnect(IPin* pin) { return ReconnectEx(pin, nullptr); }

STDMETHODIMP FilterGraph::ReconnectEx(IPin* pin, const AM_MEDIA_TYPE* mt) {
  if (!pin) return E_POINTER;
  std::lock_guard<std::recursive_mutex> g(graphLock_);
  if (!PinInGraphLocked(pin)) return VFW_E_NOT_IN_GRAPH;
  ComPtr<IPin> peer = PeerOf(pin);
  if (!peer) return VFW_E_NOT_CONNECTED;
  ComPtr<IPin> out = DirectionOf(pin) == PINDIR_OUTPUT ? ComPtr<IPin>(pin) : peer;
  ComPtr<IPin> in = DirectionOf(pin) == PINDIR_OUTPUT ? peer : ComPtr<IPin>(pin);
  ScopedMediaType old;
  const bool haveOld = SUCCEEDED(out->ConnectionMediaType(old.Out()));
  HRESULT hr = in->Disconnect();
  if (SUCCEEDED(hr)) hr = out->Disconnect();
  if (FAILED(hr)) return hr;
  hr = out->Connect(in.Get(), mt);
  TAV_TRACE("ReconnectEx %s: %#x", ToUtf8(PinName(out.Get())).c_str(), static_cast<unsigned>(hr));
  // A type the pins refuse leaves them connected as they were.
  if (FAILED(hr) && haveOld) out->Connect(in.Get(), &old.Get());
  return hr;
}

}  // namespace tav::graph
