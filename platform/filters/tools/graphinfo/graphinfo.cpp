// graphinfo: a graph inspection tool.
//
//   graphinfo [--play] [--rgb32] [--seek SECONDS] [--json] FILE
//
// Without --play it builds the graph RenderFile builds and prints its filters and
// connections. With --play it builds the same graph but ends every stream in a counting
// sink, runs it without a clock to completion and reports, per stream, the sample count,
// the first and last start time, and the final event. Exit status 0 on completion, 1 when
// the graph can't be built or ends in an error event, 2 for a usage error. With --rgb32 the
// video sinks ask for RGB32 frames, as a renderer of decoded pictures would.
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "media/contract/codepage.h"
#include "media/contract/com.h"
#include "media/contract/errortext.h"
#include "media/contract/mediatypeptr.h"
#include "media/contract/registry.h"
#include "media/contract/uuids.h"
#include "platform/filters/tools/graphinfo/countingsink.h"
#include "platform/streaming/graph/graph_util.h"

namespace {

using tav::graph::PeerOf;
using tav::graph::PinsOf;

constexpr LONG kCompletionTimeoutMs = 120000;

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

// The library files the class keys of the classes root name, with their links resolved.
std::set<std::string> RegisteredServers() {
  std::set<std::string> servers;
  HKEY clsid = nullptr;
  if (RegOpenKey(HKEY_CLASSES_ROOT, "CLSID", &clsid) != ERROR_SUCCESS) return servers;
  char name[256];
  for (DWORD i = 0; RegEnumKey(clsid, i, name, sizeof name) == ERROR_SUCCESS; ++i) {
    char path[PATH_MAX] = {};
    LONG size = sizeof path;
    if (RegQueryValue(clsid, (std::string(name) + "\\InprocServer32").c_str(), path, &size) != ERROR_SUCCESS) continue;
    char resolved[PATH_MAX];
    servers.insert(realpath(path, resolved) ? resolved : path);
  }
  RegCloseKey(clsid);
  return servers;
}

// Registers the graph library and the filter libraries beside the program (in ../lib) that
// no class key names: the platform's own, and the camera movie reader and the subtype
// adapter, which a file's graph can need. The libraries are known by file only, so the
// platform's tool depends on none of their headers.
void EnsureRegistered() {
  char exe[PATH_MAX] = {};
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return;
  std::string dir(exe, size_t(n));
  dir = dir.substr(0, dir.find_last_of('/')) + "/../lib/";
  // A registry written before the platform library registered its decoder objects lacks
  // them: that library registers again.
  HKEY objects = nullptr;
  const std::string objectKey = "DirectShow\\MediaObjects\\" + tav::GuidToString(CLSID_CMpeg43DecMediaObject);
  const bool haveObjects = RegOpenKey(HKEY_CLASSES_ROOT, objectKey.c_str(), &objects) == ERROR_SUCCESS;
  if (haveObjects) RegCloseKey(objects);
  // The graph library first: the others register their filters through its mapper.
  for (const char* library :
       {"libtavrionstreaming.so", "libtavrionfilters.so", "libqvfreader.so", "libsubtypeshim.so"}) {
    char resolved[PATH_MAX];
    if (!realpath((dir + library).c_str(), resolved)) continue;
    const bool again = !haveObjects && std::strcmp(library, "libtavrionfilters.so") == 0;
    if (!again && RegisteredServers().count(resolved)) continue;
    void* m = dlopen(resolved, RTLD_NOW);
    auto reg = m ? reinterpret_cast<HRESULT (*)()>(dlsym(m, "DllRegisterServer")) : nullptr;
    if (reg) reg();
  }
}

std::string FilterName(IBaseFilter* f) {
  FILTER_INFO info{};
  if (FAILED(f->QueryFilterInfo(&info))) return "?";
  const auto graph = ComPtr<IFilterGraph>::Adopt(info.pGraph);  // the reference the call handed out
  return tav::Utf16ToUtf8(info.achName);
}

std::string PinName(IPin* p) {
  PIN_INFO info{};
  if (FAILED(p->QueryPinInfo(&info))) return "?";
  const auto owner = ComPtr<IBaseFilter>::Adopt(info.pFilter);  // likewise
  return (owner ? FilterName(owner.Get()) : std::string("?")) + "/" + tav::Utf16ToUtf8(info.achName);
}

// The first type a pin offers; empty when it offers none.
tav::MediaTypePtr FirstType(IPin* p) {
  ComPtr<IEnumMediaTypes> e;
  tav::MediaTypePtr mt;
  if (FAILED(p->EnumMediaTypes(&e)) || !e || e->Next(1, mt.Out(), nullptr) != S_OK) mt.Reset();
  return mt;
}

// "video DIV3", "audio {GUID}": the kind of stream a pin offers first.
std::string StreamKind(IPin* p) {
  const tav::MediaTypePtr mt = FirstType(p);
  if (!mt) return "unknown";
  std::string kind = mt->majortype == MEDIATYPE_Video   ? "video"
                     : mt->majortype == MEDIATYPE_Audio ? "audio"
                     : mt->majortype == MEDIATYPE_Stream ? "byte"
                                                         : tav::GuidToString(mt->majortype);
  std::string code;
  for (int i = 0; i < 4 && IsFourccSubtype(mt->subtype); ++i) {
    const char c = char((mt->subtype.Data1 >> (8 * i)) & 0xFF);
    if (c < 0x20 || c > 0x7E) {
      code.clear();
      break;
    }
    code += c;
  }
  kind += " " + (code.size() == 4 ? code : tav::GuidToString(mt->subtype));
  return kind;
}

std::vector<ComPtr<IBaseFilter>> Filters(IGraphBuilder* graph) {
  std::vector<ComPtr<IBaseFilter>> out;
  ComPtr<IEnumFilters> e;
  if (FAILED(graph->EnumFilters(&e))) return out;
  ComPtr<IBaseFilter> f;
  while (e->Next(1, &f, nullptr) == S_OK) out.push_back(f);
  return out;
}

GUID MajorOf(IPin* p) {
  const tav::MediaTypePtr mt = FirstType(p);
  return mt ? mt->majortype : GUID_NULL;
}

struct Sink {
  ComPtr<CCountingSink> filter;  // held by the graph too
  GUID major, subtype;
};

class Tool {
 public:
  bool play = false, json = false, rgb32 = false;
  double seekSeconds = -1;
  std::string file;

  int Main() {
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                  graph_.AsVoidOut());
    if (FAILED(hr)) return Fail("can't create the filter graph", hr);
    const std::u16string path = tav::Utf8ToUtf16(file);
    if (play)
      hr = BuildForPlay(path);
    else
      hr = graph_->RenderFile(path.c_str(), nullptr);
    if (!play && SUCCEEDED(hr)) ReportUnrendered();
    if (!play && FAILED(hr) &&
        SUCCEEDED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                   graph_.AsVoidOut()))) {
      // A failed RenderFile leaves nothing to tell which stream failed: the streams are
      // rendered one by one to say so.
      BuildForPlay(path);
    }
    if (FAILED(hr)) return Fail("can't build the graph for " + file, hr);
    LONG event = 0;
    LONGLONG duration = 0;
    if (ComPtr<IMediaSeeking> seeking = graph_.As<IMediaSeeking>()) seeking->GetDuration(&duration);
    if (play) {
      hr = Play(&event);
      if (FAILED(hr)) return Fail("can't play " + file, hr);
    }
    Print(event, duration);
    sinks_.clear();
    if (play && event != EC_COMPLETE) {
      std::fprintf(stderr, "graphinfo: %s ended with event %ld: %s\n", file.c_str(), long(event),
                   tav::ResultText(eventParam_).c_str());
      return 1;
    }
    return 0;
  }

 private:
  int Fail(const std::string& what, HRESULT hr) {
    std::fprintf(stderr, "graphinfo: %s: %s\n", what.c_str(), tav::ResultText(hr).c_str());
    sinks_.clear();
    return 1;
  }

  // A stream the graph could not render is said on standard error: which one, and why.
  static void SayUnrendered(IPin* pin, HRESULT why) {
    std::fprintf(stderr, "graphinfo: the %s stream of %s is not rendered: %s\n", StreamKind(pin).c_str(),
                 PinName(pin).c_str(), tav::ResultText(why).c_str());
  }

  // After RenderFile: every output pin left unconnected is a stream nothing takes.
  void ReportUnrendered() {
    for (auto& f : Filters(graph_.Get()))
      for (auto& pin : PinsOf(f.Get(), PINDIR_OUTPUT)) {
        if (PeerOf(pin.Get())) continue;
        // Asked once more for the reason RenderFile does not give.
        const HRESULT hr = graph_->Render(pin.Get());
        if (FAILED(hr)) SayUnrendered(pin.Get(), hr);
      }
  }

  HRESULT AddSink(IPin* out) {
    HRESULT hr = S_OK;
    ComPtr<CCountingSink> sink(new CCountingSink(&hr));
    std::u16string name = u"Counting Sink " + tav::Utf8ToUtf16(std::to_string(sinks_.size() + 1));
    if (SUCCEEDED(hr)) hr = graph_->AddFilter(sink.Get(), name.c_str());
    if (SUCCEEDED(hr) && rgb32 && IsVideoOutput(out)) {
      // A partial type: the output pin picks its RGB32 offer, whatever it offers first.
      AM_MEDIA_TYPE want{};
      want.majortype = MEDIATYPE_Video;
      want.subtype = MEDIASUBTYPE_RGB32;
      if (FAILED(graph_->ConnectDirect(out, sink->GetPin(0), &want)))
        hr = graph_->ConnectDirect(out, sink->GetPin(0), nullptr);
    } else if (SUCCEEDED(hr)) {
      hr = graph_->ConnectDirect(out, sink->GetPin(0), nullptr);
    }
    if (FAILED(hr)) {
      graph_->RemoveFilter(sink.Get());
      return hr;
    }
    tav::ScopedMediaType mt;
    out->ConnectionMediaType(mt.Out());
    sinks_.push_back({sink, mt->majortype, mt->subtype});
    return S_OK;
  }

  static bool IsVideoOutput(IPin* pin) { return MajorOf(pin) == MEDIATYPE_Video; }

  // Neither pictures, sound, subtitles nor a file: a stream of data.
  static bool IsDataOutput(IPin* pin) {
    const GUID major = MajorOf(pin);
    return major != GUID_NULL && major != MEDIATYPE_Video && major != MEDIATYPE_Audio &&
           major != MEDIATYPE_Interleaved && major != MEDIATYPE_Stream && major != MEDIATYPE_Text;
  }

  // The splitter the platform's graph builder puts behind a file source for a stream type.
  static const CLSID* SplitterFor(IPin* pin, const char16_t** name) {
    const CLSID* clsid = nullptr;
    if (const tav::MediaTypePtr mt = FirstType(pin)) {
      if (mt->subtype == MEDIASUBTYPE_Avi) {
        clsid = &CLSID_AviSplitter;
        *name = u"AVI Splitter";
      } else if (mt->subtype == MEDIASUBTYPE_MPEG1System || mt->subtype == MEDIASUBTYPE_MPEG1VideoCD ||
                 mt->subtype == MEDIASUBTYPE_MPEG1Video || mt->subtype == MEDIASUBTYPE_MPEG1Audio) {
        clsid = &CLSID_MPEG1Splitter;
        *name = u"MPEG1 Splitter";
      } else if (mt->subtype == MEDIASUBTYPE_dvsd) {
        clsid = &CLSID_DVSplitter;
        *name = u"DV Splitter";
      }
    }
    return clsid;
  }

  // Renders every output pin of the filter as RenderFile would, and ends what can't be
  // rendered in a counting sink.
  HRESULT Expand(IBaseFilter* filter, int depth) {
    if (depth > 16) return E_FAIL;
    for (auto& pin : PinsOf(filter, PINDIR_OUTPUT)) {
      if (PeerOf(pin.Get())) continue;
      if (MajorOf(pin.Get()) == MEDIATYPE_Stream) {
        const char16_t* name = nullptr;
        if (const CLSID* clsid = SplitterFor(pin.Get(), &name)) {
          ComPtr<IBaseFilter> splitter;
          HRESULT hr = CoCreateInstance(*clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, splitter.AsVoidOut());
          if (FAILED(hr)) return hr;
          graph_->AddFilter(splitter.Get(), name);
          auto inputs = PinsOf(splitter.Get(), PINDIR_INPUT);
          hr = inputs.empty() ? E_FAIL : graph_->ConnectDirect(pin.Get(), inputs[0].Get(), nullptr);
          if (FAILED(hr)) {
            graph_->RemoveFilter(splitter.Get());
            return hr;
          }
          hr = Expand(splitter.Get(), depth + 1);
          if (FAILED(hr)) return hr;
          continue;
        }
      }
      HRESULT rendered = graph_->Render(pin.Get());
      // Data no filter takes (DVD navigation, timed metadata) is left out, as the
      // converter leaves it: nothing waits for it.
      if (FAILED(rendered) && IsDataOutput(pin.Get())) continue;
      if (FAILED(rendered)) {
        SayUnrendered(pin.Get(), rendered);
        // A byte stream nothing parses can't be played: a sink would wait for pushes forever.
        if (MajorOf(pin.Get()) == MEDIATYPE_Stream) return rendered;
        HRESULT hr = AddSink(pin.Get());
        if (FAILED(hr)) return hr;
      }
    }
    return S_OK;
  }

  HRESULT BuildForPlay(const std::u16string& path) {
    ComPtr<IBaseFilter> source;
    HRESULT hr = graph_->AddSourceFilter(path.c_str(), path.c_str(), &source);
    if (FAILED(hr)) return hr;
    hr = Expand(source.Get(), 0);
    if (FAILED(hr)) return hr;
    // The renderers the graph chose give way to counting sinks.
    for (auto& f : Filters(graph_.Get())) {
      bool ours = false;
      for (Sink& s : sinks_) ours |= static_cast<IBaseFilter*>(s.filter.Get()) == f.Get();
      if (ours || !PinsOf(f.Get(), PINDIR_OUTPUT).empty()) continue;
      auto inputs = PinsOf(f.Get(), PINDIR_INPUT);
      if (inputs.size() != 1) continue;
      ComPtr<IPin> upstream = PeerOf(inputs[0].Get());
      if (!upstream) continue;
      graph_->RemoveFilter(f.Get());
      hr = AddSink(upstream.Get());
      if (FAILED(hr)) return hr;
    }
    return sinks_.empty() ? VFW_E_CANNOT_RENDER : S_OK;
  }

  HRESULT Play(LONG* event) {
    if (ComPtr<IMediaFilter> mf = graph_.As<IMediaFilter>()) mf->SetSyncSource(nullptr);
    if (seekSeconds >= 0) {
      ComPtr<IMediaSeeking> seeking = graph_.As<IMediaSeeking>();
      LONGLONG pos = LONGLONG(seekSeconds * UNITS);
      HRESULT hr = seeking ? seeking->SetPositions(&pos, AM_SEEKING_AbsolutePositioning | AM_SEEKING_SeekToKeyFrame,
                                                   nullptr, AM_SEEKING_NoPositioning)
                           : E_NOINTERFACE;
      if (FAILED(hr)) return hr;
    }
    ComPtr<IMediaControl> control = graph_.As<IMediaControl>();
    ComPtr<IMediaEvent> events = graph_.As<IMediaEvent>();
    if (!control || !events) return E_NOINTERFACE;
    HRESULT hr = control->Run();
    if (FAILED(hr)) return hr;
    // The first completion or error event ends the run.
    for (;;) {
      LONG code = 0;
      LONG_PTR p1 = 0, p2 = 0;
      hr = events->GetEvent(&code, &p1, &p2, kCompletionTimeoutMs);
      if (FAILED(hr)) {
        control->Stop();
        return hr == E_ABORT ? VFW_E_TIMEOUT : hr;
      }
      events->FreeEventParams(code, p1, p2);
      if (code == EC_COMPLETE || code == EC_ERRORABORT || code == EC_USERABORT || code == EC_ERRORABORTEX ||
          code == EC_STREAM_ERROR_STOPPED) {
        *event = code;
        eventParam_ = code == EC_COMPLETE ? S_OK : HRESULT(p1);
        break;
      }
    }
    control->Stop();
    return S_OK;
  }

  void Print(LONG event, LONGLONG duration) {
    auto filters = Filters(graph_.Get());
    struct Conn {
      std::string from, to, major, subtype, format;
    };
    std::vector<Conn> conns;
    std::vector<Conn> leftOut;  // output pins nothing takes: from, major and subtype
    for (auto& f : filters)
      for (auto& p : PinsOf(f.Get(), PINDIR_OUTPUT)) {
        ComPtr<IPin> peer = PeerOf(p.Get());
        if (!peer) {
          Conn c{PinName(p.Get()), {}, tav::GuidToString(GUID_NULL), tav::GuidToString(GUID_NULL), {}};
          if (const tav::MediaTypePtr mt = FirstType(p.Get())) {
            c.major = tav::GuidToString(mt->majortype);
            c.subtype = tav::GuidToString(mt->subtype);
          }
          leftOut.push_back(c);
          continue;
        }
        tav::ScopedMediaType mt;
        p->ConnectionMediaType(mt.Out());
        conns.push_back({PinName(p.Get()), PinName(peer.Get()), tav::GuidToString(mt->majortype),
                         tav::GuidToString(mt->subtype), tav::GuidToString(mt->formattype)});
      }
    if (json) {
      std::string out = "{\"filters\":[";
      for (size_t i = 0; i < filters.size(); ++i) {
        CLSID clsid{};
        filters[i]->GetClassID(&clsid);
        out += std::string(i ? "," : "") + "{\"name\":" + JsonString(FilterName(filters[i].Get())) +
               ",\"clsid\":" + JsonString(tav::GuidToString(clsid)) + "}";
      }
      out += "],\"connections\":[";
      for (size_t i = 0; i < conns.size(); ++i)
        out += std::string(i ? "," : "") + "{\"from\":" + JsonString(conns[i].from) + ",\"to\":" +
               JsonString(conns[i].to) + ",\"major\":" + JsonString(conns[i].major) + ",\"subtype\":" +
               JsonString(conns[i].subtype) + ",\"format\":" + JsonString(conns[i].format) + "}";
      out += "],\"leftOut\":[";
      for (size_t i = 0; i < leftOut.size(); ++i)
        out += std::string(i ? "," : "") + "{\"pin\":" + JsonString(leftOut[i].from) + ",\"major\":" +
               JsonString(leftOut[i].major) + ",\"subtype\":" + JsonString(leftOut[i].subtype) + "}";
      out += "],\"streams\":[";
      for (size_t i = 0; i < sinks_.size(); ++i) {
        auto c = sinks_[i].filter->Snapshot();
        out += std::string(i ? "," : "") + "{\"major\":" + JsonString(tav::GuidToString(sinks_[i].major)) +
               ",\"subtype\":" + JsonString(tav::GuidToString(sinks_[i].subtype)) +
               ",\"samples\":" + std::to_string(c.samples) + ",\"first\":" +
               (c.haveTime ? std::to_string(c.first) : "null") + ",\"last\":" +
               (c.haveTime ? std::to_string(c.last) : "null") + "}";
      }
      out += "],\"event\":" + std::to_string(event) + ",\"duration\":" + std::to_string(duration) + "}";
      std::printf("%s\n", out.c_str());
      return;
    }
    std::printf("Filters:\n");
    for (auto& f : filters) {
      CLSID clsid{};
      f->GetClassID(&clsid);
      std::printf("  %s %s\n", tav::GuidToString(clsid).c_str(), FilterName(f.Get()).c_str());
    }
    std::printf("Connections:\n");
    for (auto& c : conns)
      std::printf("  %s -> %s\n    %s %s %s\n", c.from.c_str(), c.to.c_str(), c.major.c_str(), c.subtype.c_str(),
                  c.format.c_str());
    if (!leftOut.empty()) {
      std::printf("Left out:\n");
      for (auto& c : leftOut) std::printf("  %s\n    %s %s\n", c.from.c_str(), c.major.c_str(), c.subtype.c_str());
    }
    std::printf("Duration: %lld\n", static_cast<long long>(duration));
    if (!play) return;
    std::printf("Streams:\n");
    for (auto& s : sinks_) {
      auto c = s.filter->Snapshot();
      std::printf("  %s %s: %lld samples, first %lld, last %lld\n", tav::GuidToString(s.major).c_str(),
                  tav::GuidToString(s.subtype).c_str(), c.samples, static_cast<long long>(c.first),
                  static_cast<long long>(c.last));
    }
    std::printf("Event: %ld\n", long(event));
  }

  ComPtr<IGraphBuilder> graph_;
  std::vector<Sink> sinks_;
  HRESULT eventParam_ = S_OK;
};

int Usage() {
  std::fprintf(stderr, "usage: graphinfo [--play] [--rgb32] [--seek SECONDS] [--json] FILE\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Tool tool;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--play") == 0) {
      tool.play = true;
    } else if (std::strcmp(argv[i], "--rgb32") == 0) {
      tool.rgb32 = true;
    } else if (std::strcmp(argv[i], "--json") == 0) {
      tool.json = true;
    } else if (std::strcmp(argv[i], "--seek") == 0 && i + 1 < argc) {
      char* end = nullptr;
      tool.seekSeconds = std::strtod(argv[++i], &end);
      if (!end || *end || tool.seekSeconds < 0) return Usage();
    } else if (argv[i][0] == '-' || !tool.file.empty()) {
      return Usage();
    } else {
      tool.file = argv[i];
    }
  }
  if (tool.file.empty()) return Usage();
  CoInitialize(nullptr);
  EnsureRegistered();
  const int status = tool.Main();
  CoUninitialize();
  return status;
}
