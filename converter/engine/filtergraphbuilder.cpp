#include "converter/engine/filtergraphbuilder.h"

#include <algorithm>
#include <cstring>

#include "converter/engine/burninstage.h"
#include "converter/engine/decimation.h"
#include "converter/engine/drawerstage.h"
#include "converter/engine/graphwalk.h"
#include "converter/engine/mediatype.h"
#include "libs/vxvideokit/vxvideokit.h"
#include "media/contract/codepage.h"
#include "media/contract/com.h"
#include "media/contract/mediatypeptr.h"
#include "media/contract/mediatypes.h"
#include "media/contract/trace.h"
#include "media/contract/uuids.h"
#include "media/contract/videoinfo.h"

TAV_TRACE_SOURCE(kEngine, "builder");

namespace tav {
namespace {

// The outside decoder of the DivX family; used when someone registered it.
TAV_DEFINE_GUID(kClsidXReader, 0x1FC34E9F, 0xE36A, 0x4D7D, 0x94, 0x9A, 0x33, 0x80, 0xAE, 0xAE, 0xBD, 0x10);

// Codes after which ConnectPin tries the next input pin.
bool IsNextPinCode(HRESULT hr) {
  return hr == VFW_E_NO_ACCEPTABLE_TYPES || hr == VFW_E_TYPE_NOT_ACCEPTED || hr == VFW_E_INVALIDMEDIATYPE ||
         hr == VFW_E_CANNOT_CONNECT || hr == VFW_E_NO_DECOMPRESSOR;
}

bool IsYuv(const GUID& s) {
  return IsFourcc(s, {"AYUV", "UYVY", "Y411", "Y41P", "Y211", "YUY2", "YVYU", "YUYV", "IF09", "IYUV", "YV12", "YVU9"});
}

bool IsRgb(const GUID& s) {
  return s == MEDIASUBTYPE_RGB1 || s == MEDIASUBTYPE_RGB4 || s == MEDIASUBTYPE_RGB8 || s == MEDIASUBTYPE_RGB555 ||
         s == MEDIASUBTYPE_RGB565 || s == MEDIASUBTYPE_RGB24 || s == MEDIASUBTYPE_RGB32 ||
         s == MEDIASUBTYPE_ARGB1555 || s == MEDIASUBTYPE_ARGB32 || s == MEDIASUBTYPE_ARGB4444 ||
         s == MEDIASUBTYPE_A2R10G10B10 || s == MEDIASUBTYPE_A2B10G10R10;
}

const WAVEFORMATEX* Wave(const AM_MEDIA_TYPE& mt) {
  if (mt.formattype != FORMAT_WaveFormatEx || mt.cbFormat < sizeof(WAVEFORMATEX) || !mt.pbFormat) return nullptr;
  return reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
}

CLSID ClassOf(IBaseFilter* f) {
  CLSID c{};
  if (f) f->GetClassID(&c);
  return c;
}

// True when a filter of class clsid is the pin's owner or feeds it further up the chain
// (through the first connected input pin of each filter).
bool ChainHas(IPin* pin, const CLSID& clsid) {
  constexpr int kMaxChainFilters = 64;  // a bound, should a graph ever loop
  ComPtr<IBaseFilter> filter = OwnerOf(pin);
  for (int i = 0; filter && i < kMaxChainFilters; ++i) {
    if (ClassOf(filter.Get()) == clsid) return true;
    ComPtr<IBaseFilter> upstream;
    for (auto& input : PinsOf(filter.Get(), PINDIR_INPUT)) {
      ComPtr<IPin> other;
      if (SUCCEEDED(input->ConnectedTo(&other)) && other) {
        upstream = OwnerOf(other.Get());
        break;
      }
    }
    filter = upstream;
  }
  return false;
}

// True for an output pin that carries neither pictures, sound, subtitles nor a file: DVD
// navigation packets, time codes, timed metadata, attachments.
bool CarriesDataOnly(IPin* pin) {
  PinTypes types(pin);
  for (const AM_MEDIA_TYPE* mt : types.types) {
    const GUID& major = mt->majortype;
    if (major == MEDIATYPE_Video || major == MEDIATYPE_Audio || major == MEDIATYPE_Interleaved ||
        major == MEDIATYPE_Stream || major == MEDIATYPE_Text)
      return false;
  }
  return !types.types.empty();
}

}  // namespace

// The graph-builder callback: vetoes filters the graph manager selects by itself.
class FilterGraphBuilder::Callback final : public IAMGraphBuilderCallback {
 public:
  explicit Callback(FilterGraphBuilder* owner) : owner_(owner) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IAMGraphBuilderCallback) {
      *ppv = static_cast<IAMGraphBuilderCallback*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  // Embedded in the builder, which outlives the graph's use of it.
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP SelectedFilter(IMoniker* moniker) override { return owner_->CheckMoniker(moniker); }
  STDMETHODIMP CreatedFilter(IBaseFilter*) override { return S_OK; }

 private:
  FilterGraphBuilder* owner_;
};

FilterGraphBuilder::FilterGraphBuilder() : callback_(std::make_unique<Callback>(this)) {}

FilterGraphBuilder::~FilterGraphBuilder() {
  if (graph_) {
    Clear();
    if (auto site = graph_.As<IObjectWithSite>()) site->SetSite(nullptr);
  }
}

// ---- settings -------------------------------------------------------------------------------

void FilterGraphBuilder::SetResize(bool on, int width, int height, int fit) {
  resizeOn_ = on;
  width_ = width;
  height_ = height;
  screenFit_ = fit;
}

void FilterGraphBuilder::SetDrawer(bool on, int width, int height, int fit) {
  drawerOn_ = on;
  width_ = width;
  height_ = height;
  screenFit_ = fit;
}

void FilterGraphBuilder::SetAudioTarget(bool on, DWORD samplesPerSecond, WORD channels, WORD bitsPerSample) {
  audioConvertOn_ = on;
  audioTarget_ = PcmFormat(samplesPerSecond, channels, bitsPerSample);
}

void FilterGraphBuilder::SetAudioTarget(const WAVEFORMATEX& format) {
  SetAudioTarget(true, format.nSamplesPerSec, format.nChannels, format.wBitsPerSample);
}

void FilterGraphBuilder::SetSubtitles(bool on, const std::string& file, const std::string& sizeId,
                                      const std::string& language) {
  subtitlesOn_ = on;
  subtitleFile_ = file;
  subtitleSize_ = sizeId;
  subtitleLanguage_ = language;
  subtitleReader_.clear();
  subtitleEncoding_.clear();
}

// ---- life cycle -----------------------------------------------------------------------------

HRESULT FilterGraphBuilder::Init() {
  // Returns its result like the platform calls it wraps; nothing is thrown from here.
  HRChecker c;
  try {
    c.Check(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, &graph_));
    c.Check(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, &mapper_));
    c.Check(CreateBindCtx(0, &bindContext_));
    auto site = graph_.As<IObjectWithSite>();
    c.CheckPointer(site);
    c.Check(site->SetSite(static_cast<IAMGraphBuilderCallback*>(callback_.get())));
  } catch (const HRChecker& failure) {
    graph_ = nullptr;
    mapper_ = nullptr;
    bindContext_ = nullptr;
    return failure.GetHr();
  }
  registration_.RegisterGraph(graph_.Get());
  xReaderAvailable_ = TryCreate(kClsidXReader, xReader_);
  return S_OK;
}

void FilterGraphBuilder::Clear() {
  for (auto& source : std::vector<ComPtr<IBaseFilter>>(sources_)) RemoveDownstream(source.Get());
  sources_.clear();
  seeking_ = nullptr;
  pendingPins_.clear();
  if (graph_) {
    for (auto& f : FiltersOf(graph_.Get())) graph_->RemoveFilter(f.Get());
  }
  xReaderUsed_ = false;
  built_ = false;
}

HRESULT FilterGraphBuilder::AddSourceAndRender(const std::string& path) {
  TAV_TRACE("AddSourceAndRender(\"%s\")", path.c_str());
  HRChecker& c = checker_;
  c = HRChecker();
  c.SetContext("File Source");
  ComPtr<IBaseFilter> source;
  const std::u16string wide = Utf8ToUtf16(path);
  const std::u16string name = u"Source: " + wide;
  c.Check(graph_->AddSourceFilter(wide.c_str(), name.c_str(), &source));
  c.ClearContext();
  // A file that has no video fails here with that reason rather than with the codec of
  // whatever stream could not be rendered: a song is not a movie with a missing decoder.
  const bool wantsVideo = wantedMajorType_ == MEDIATYPE_Video;
  bool rendered = false;
  try {
    rendered = RenderOutputs(source.Get());
  } catch (const HRChecker&) {
    if (wantsVideo) RefuseWithoutVideo(path);
    throw;
  }
  if (!rendered) {
    if (wantsVideo) RefuseWithoutVideo(path);
    c.Check(E_FAIL);
  }
  sources_.push_back(source);
  if (wantsVideo && FirstVideoStreamType().majortype != MEDIATYPE_Video) RefuseWithoutVideo(path);
  if (!conversionMode_) FinishGraph(false);
  built_ = true;
  return S_OK;
}

HRESULT FilterGraphBuilder::RenderPin(IPin* pin) {
  if (!pin) return E_POINTER;
  std::vector<GUID> seen;
  if (!RenderPinAllTypes(seen, pin)) return E_FAIL;
  return S_OK;
}

void FilterGraphBuilder::FinishGraph(bool runWithoutClock) {
  HRChecker& c = checker_;
  for (auto& pin : std::vector<ComPtr<IPin>>(pendingPins_)) {
    if (IsConnected(pin.Get())) continue;
    ComPtr<IBaseFilter> hole = CreateFilter(CLSID_NullRenderer, kBlackHoleName);
    auto inputs = PinsOf(hole.Get(), PINDIR_INPUT);
    if (inputs.empty() || FAILED(graph_->ConnectDirect(pin.Get(), inputs[0].Get(), nullptr))) {
      RemoveFilter(hole.Get());
      c.Check(VFW_E_CANNOT_CONNECT);
    }
  }
  if (!seeking_) {
    seeking_ = graph_.As<IMediaSeeking>();
    c.CheckPointer(seeking_);
  }
  if (runWithoutClock) {
    auto mf = graph_.As<IMediaFilter>();
    c.CheckPointer(mf);
    c.Check(mf->SetSyncSource(nullptr));
  }
  if (drawerOn_) {
    bool found = false;
    for (auto& f : FiltersOf(graph_.Get())) found = found || ClassOf(f.Get()) == CLSID_SubtitleRenderer;
    if (!found) {
      // The failure carries the movie's video type, so that its text names the codec.
      c.SetMediaType(FirstVideoStreamType());
      c.Check(VFW_E_UNSUPPORTED_VIDEO);
    }
  }
  LONGLONG duration = 0;
  c.Check(seeking_->GetDuration(&duration));
  if (duration == 0) c.Check(VFW_E_UNSUPPORTED_VIDEO);
}

void FilterGraphBuilder::RefuseWithoutVideo(const std::string& path) {
  const HRESULT reason = MissingVideoReason(path);
  if (reason == S_OK) return;
  checker_ = HRChecker();
  checker_.Check(reason);
}

HRESULT FilterGraphBuilder::MissingVideoReason(const std::string& path) const {
  // The file is opened again in a graph of its own, parsed as far as its streams' types
  // and no further: no decoder is needed to see what the file holds.
  ComPtr<IGraphBuilder> scratch;
  if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, &scratch)) || !scratch) return S_OK;
  std::vector<ComPtr<IBaseFilter>> filters;
  const auto cleanUp = [&] {
    for (auto& f : filters) scratch->RemoveFilter(f.Get());
  };
  ComPtr<IBaseFilter> source;
  const std::u16string wide = Utf8ToUtf16(path);
  if (FAILED(scratch->AddSourceFilter(wide.c_str(), u"Source", &source)) || !source) return S_OK;
  filters.push_back(source);
  bool soundOnlyContainer = false;
  for (auto& pin : PinsOf(source.Get(), PINDIR_OUTPUT)) {
    PinTypes types(pin.Get());
    if (types.types.empty() || types.types.front()->majortype != MEDIATYPE_Stream) continue;
    const AM_MEDIA_TYPE& mt = *types.types.front();
    const GUID& s = mt.subtype;
    if (s == MEDIASUBTYPE_WAVE || s == MEDIASUBTYPE_AU || s == MEDIASUBTYPE_AIFF) soundOnlyContainer = true;
    const CLSID* parser = s == MEDIASUBTYPE_Avi ? &CLSID_AviSplitter
                          : s == MEDIASUBTYPE_MPEG1System || s == MEDIASUBTYPE_MPEG1VideoCD ||
                                    s == MEDIASUBTYPE_MPEG1Video || s == MEDIASUBTYPE_MPEG1Audio
                              ? &CLSID_MPEG1Splitter
                              : nullptr;
    ComPtr<IBaseFilter> filter;
    if (!parser || FAILED(CoCreateInstance(*parser, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                           filter.AsVoidOut())) ||
        !filter || FAILED(scratch->AddFilter(filter.Get(), u"Parser")))
      continue;
    filters.push_back(filter);
    auto inputs = PinsOf(filter.Get(), PINDIR_INPUT);
    if (!inputs.empty()) scratch->ConnectDirect(pin.Get(), inputs[0].Get(), &mt);
  }
  bool sound = false;
  LONG covers = 0;
  for (auto& f : filters) {
    for (auto& pin : PinsOf(f.Get(), PINDIR_OUTPUT)) {
      PinTypes types(pin.Get());
      for (const AM_MEDIA_TYPE* t : types.types) {
        if (t->majortype == MEDIATYPE_Video || t->majortype == MEDIATYPE_Interleaved) {
          cleanUp();
          return S_OK;
        }
        if (t->majortype == MEDIATYPE_Audio) sound = true;
      }
    }
    if (auto bag = f.As<IPropertyBag>()) {
      VARIANT v;
      VariantInit(&v);
      if (SUCCEEDED(bag->Read(u"CoverPictures", &v, nullptr)) && v.vt == VT_I4 && v.lVal > 0) covers += v.lVal;
      VariantClear(&v);
    }
  }
  cleanUp();
  if (covers > 0) return TAV_E_COVER_ONLY;
  return sound || soundOnlyContainer ? TAV_E_NO_VIDEO : S_OK;
}

// The type of the first video stream downstream of the sources (the connection type, or the
// first type an unconnected pin offers); empty when the graph has none.
MediaTypeValue FilterGraphBuilder::FirstVideoStreamType() const {
  std::vector<ComPtr<IBaseFilter>> queue(sources_.begin(), sources_.end());
  if (queue.empty()) queue = FiltersOf(graph_.Get());
  for (size_t i = 0; i < queue.size() && i < 256; ++i) {
    for (auto& pin : PinsOf(queue[i].Get(), PINDIR_OUTPUT)) {
      MediaTypeValue type;
      tav::ScopedMediaType connected;
      ComPtr<IPin> other;
      const bool isConnected = SUCCEEDED(pin->ConnectedTo(&other)) && other;
      if (isConnected && pin->ConnectionMediaType(connected.Out()) == S_OK) {
        type = MediaTypeValue(&connected.Get());
      } else if (!isConnected) {
        PinTypes offered(pin.Get());
        if (!offered.types.empty()) type = MediaTypeValue(offered.types.front());
      }
      if (type.majortype == MEDIATYPE_Video) return type;
      if (isConnected) queue.push_back(OwnerOf(other.Get()));
    }
  }
  return MediaTypeValue();
}

// ---- the veto -------------------------------------------------------------------------------

HRESULT FilterGraphBuilder::CheckMoniker(IMoniker* moniker) {
  if (!moniker) return E_FAIL;
  ComPtr<IPropertyBag> bag;
  if (FAILED(moniker->BindToStorage(bindContext_.Get(), nullptr, IID_IPropertyBag, bag.AsVoidOut())) || !bag)
    return S_OK;
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  if (FAILED(bag->Read(u"CLSID", &v, nullptr)) || v.vt != VT_BSTR || !v.bstrVal) {
    VariantClear(&v);
    return S_OK;
  }
  const std::string text = Utf16ToUtf8(v.bstrVal);
  VariantClear(&v);
  GUID parsed;
  if (!GuidFromString(text, &parsed)) return S_OK;
  if (filterVeto_ && !filterVeto_->IsFilterAllowed(this, text)) return E_FAIL;
  return S_OK;
}

// ---- rendering ------------------------------------------------------------------------------

bool FilterGraphBuilder::RenderOutputs(IBaseFilter* filter) {
  std::vector<GUID> seen;
  bool any = false;
  for (auto& pin : PinsOf(filter, PINDIR_OUTPUT)) {
    if (CarriesDataOnly(pin.Get())) {
      // A stream of data goes to a filter that takes it; when none does, it is left
      // unconnected, in conversions and previews alike, and never fails the movie.
      const HRChecker before = checker_;
      bool rendered = false;
      try {
        rendered = RenderPinAllTypes(seen, pin.Get());
      } catch (const HRChecker&) {
        checker_ = before;
      }
      if (rendered) {
        any = true;
      } else {
        TAV_TRACE("data stream left out");
      }
      continue;
    }
    if (RenderPinAllTypes(seen, pin.Get())) {
      any = true;
    } else if (conversionMode_) {
      pendingPins_.push_back(pin);
    } else if (SUCCEEDED(graph_->Render(pin.Get()))) {
      any = true;
    }
  }
  return any;
}

bool FilterGraphBuilder::ShouldRender(const AM_MEDIA_TYPE& mt, std::vector<GUID>& seen) const {
  if (mt.majortype != MEDIATYPE_Video && mt.majortype != MEDIATYPE_Audio) return true;
  if (wantedMajorType_ != GUID_NULL && wantedMajorType_ != mt.majortype) return false;
  if (std::find(seen.begin(), seen.end(), mt.majortype) != seen.end()) return false;
  seen.push_back(mt.majortype);
  return true;
}

bool FilterGraphBuilder::RenderPinAllTypes(std::vector<GUID>& seen, IPin* pin) {
  PinTypes types(pin);
  bool render = false;
  for (auto* mt : types.types) {
    if (ShouldRender(*mt, seen)) {
      render = true;
      break;
    }
  }
  if (!render) return true;
  for (auto* mt : types.types) {
    checker_.SetMediaType(mt);
    if (RenderMediaPin(pin, *mt)) return true;
  }
  if (MapperPass(pin, types.types)) return true;
  for (auto* mt : types.types) {
    if (NamedFallbacks(pin, *mt)) return true;
  }
  return false;
}

bool FilterGraphBuilder::MapperPass(IPin* pin, const std::vector<AM_MEDIA_TYPE*>& types) {
  if (types.empty() || !mapper_) return false;
  std::vector<GUID> pairs;
  for (auto* mt : types) {
    pairs.push_back(mt->majortype);
    pairs.push_back(mt->subtype);
  }
  ComPtr<IEnumMoniker> e;
  if (FAILED(mapper_->EnumMatchingFilters(&e, 0, TRUE, MERIT_DO_NOT_USE + 1, TRUE, static_cast<DWORD>(types.size()),
                                          pairs.data(), nullptr, nullptr, FALSE, conversionMode_ ? TRUE : FALSE, 0,
                                          nullptr, nullptr, nullptr)) ||
      !e) {
    return false;
  }
  IMoniker* m = nullptr;
  while (e->Next(1, &m, nullptr) == S_OK) {
    ComPtr<IMoniker> moniker;
    moniker.Attach(m);
    std::u16string name = u"Filter";
    ComPtr<IPropertyBag> bag;
    if (SUCCEEDED(moniker->BindToStorage(bindContext_.Get(), nullptr, IID_IPropertyBag, bag.AsVoidOut())) && bag) {
      VARIANT v;
      VariantInit(&v);
      v.vt = VT_BSTR;
      if (SUCCEEDED(bag->Read(u"FriendlyName", &v, nullptr)) && v.vt == VT_BSTR && v.bstrVal) name = v.bstrVal;
      VariantClear(&v);
    }
    if (CheckMoniker(moniker.Get()) != S_OK) continue;
    ComPtr<IBaseFilter> filter;
    if (FAILED(moniker->BindToObject(bindContext_.Get(), nullptr, IID_IBaseFilter, filter.AsVoidOut())) || !filter)
      continue;
    // Never behind a filter of its own class: one that hands the stream on as it took it
    // would otherwise be stacked behind itself without end.
    if (ChainHas(pin, ClassOf(filter.Get()))) continue;
    if (FAILED(graph_->AddFilter(filter.Get(), name.c_str()))) continue;
    if (ConnectAndRender(pin, filter.Get(), true, nullptr, true)) return true;
  }
  return false;
}

bool FilterGraphBuilder::NamedFallbacks(IPin* pin, const AM_MEDIA_TYPE& mt) {
  // As in the mapper pass, a fallback never follows a filter of its own class.
  const bool aviDec = !ChainHas(pin, CLSID_AVIDec);
  const bool acm = !ChainHas(pin, CLSID_ACMWrapper);
  const bool dmo = !ChainHas(pin, CLSID_DMOWrapperFilter);
  if (mt.majortype == MEDIATYPE_Video) {
    return (aviDec && ConnectNew(pin, CLSID_AVIDec, u"AVI Decompressor", mt, false)) ||
           (dmo && ConnectDmo(pin, CLSID_CWMVDecMediaObject, DMOCATEGORY_VIDEO_DECODER,
                              u"WindowsMedia Video Decoder DMO", mt, false)) ||
           (dmo && ConnectDmo(pin, CLSID_CWMVAdvDecMediaObject, DMOCATEGORY_VIDEO_DECODER,
                              u"Windows Media Advanced Video Decoder DMO", mt, false));
  }
  if (mt.majortype == MEDIATYPE_Audio) {
    return (acm && ConnectNew(pin, CLSID_ACMWrapper, u"ACM Wrapper", mt, false)) ||
           (dmo && ConnectDmo(pin, CLSID_CWMADecMediaObject, DMOCATEGORY_AUDIO_DECODER,
                              u"WindowsMedia Audio Decoder DMO", mt, false));
  }
  return false;
}

bool FilterGraphBuilder::RenderMediaPin(IPin* pin, const AM_MEDIA_TYPE& mt) {
  const GUID& s = mt.subtype;
  if (mt.majortype == MEDIATYPE_Stream) {
    if (s == MEDIASUBTYPE_Avi) return ConnectNew(pin, CLSID_AviSplitter, u"AVI Splitter", mt);
    if (s == MEDIASUBTYPE_MPEG1System || s == MEDIASUBTYPE_MPEG1VideoCD || s == MEDIASUBTYPE_MPEG1Video ||
        s == MEDIASUBTYPE_MPEG1Audio)
      return ConnectNew(pin, CLSID_MPEG1Splitter, u"MPEG1 Splitter", mt);
    return false;
  }
  if (mt.majortype == MEDIATYPE_Interleaved) {
    return s == MEDIASUBTYPE_dvsd && ConnectNew(pin, CLSID_DVSplitter, u"DV Splitter", mt);
  }
  if (mt.majortype == MEDIATYPE_Video) {
    if (s == MEDIASUBTYPE_dvsd) {
      ComPtr<IBaseFilter> dv = CreateFilter(CLSID_DVVideoCodec, u"DV Video Decoder");
      if (dvResolution_ != 0) {
        if (auto dec = dv.As<IIPDVDec>()) dec->put_IPDisplay(dvResolution_);
      }
      if (ConnectAndRender(pin, dv.Get(), true, &mt, true)) return true;
      return false;
    }
    if (s == MEDIASUBTYPE_MPEG1Packet || s == MEDIASUBTYPE_MPEG1Payload)
      return ConnectNew(pin, CLSID_CMpegVideoCodec, u"MPEG1 Video Decoder", mt);
    const bool divx = IsDivxFamily(s);
    const bool vfw = IsFourcc(s, {"m261", "m263", "iv32", "iv41", "iv50", "i420", "iyuv", "mrle", "msvc", "cvid"});
    if (divx && xReaderAvailable_) {
      if (!xReader_) {
        xReader_ = CreateFilter(kClsidXReader, u"X-Reader");
      } else {
        checker_.Check(graph_->AddFilter(xReader_.Get(), u"X-Reader"));
      }
      if (ConnectAndRender(pin, xReader_.Get(), true, &mt, true)) {
        xReaderUsed_ = true;
        return true;
      }
      return ConnectNew(pin, CLSID_AVIDec, u"AVI decompressor for XViD", mt);
    }
    if (vfw && !OwnerIs(pin, CLSID_AVIDec)) return ConnectNew(pin, CLSID_AVIDec, u"AVI Decoder", mt);
    if (IsFourcc(s, {"M4S2", "WMV1", "WMV2", "WMV3", "WMVA"})) {
      const CLSID& dmo = s == FourccSubtype(MAKEFOURCC('W', 'M', 'V', 'A')) ? CLSID_CWMVAdvDecMediaObject
                                                                             : CLSID_CWMVDecMediaObject;
      return ConnectDmo(pin, dmo, DMOCATEGORY_VIDEO_DECODER, u"WindowsMedia Video Decoder DMO", mt, true);
    }
    if (s == MEDIASUBTYPE_MP43)
      return ConnectDmo(pin, CLSID_CMpeg43DecMediaObject, DMOCATEGORY_VIDEO_DECODER, u"MPEG 4 codec version 3", mt,
                        false);
    if (IsYuv(s) || IsRgb(s)) return VideoChain(pin, mt);
    return false;
  }
  if (mt.majortype == MEDIATYPE_Audio) {
    const WAVEFORMATEX* wf = Wave(mt);
    if (s == MEDIASUBTYPE_MPEG_LAYER3) return ConnectNew(pin, CLSID_MPEGLayer3Decoder, u"MPEG Layer-3 Decoder", mt);
    if (s == MEDIASUBTYPE_MPEG1Packet || s == MEDIASUBTYPE_MPEG1Payload || s == FourccSubtype(0x50))
      return ConnectNew(pin, CLSID_CMpegAudioCodec, u"MPEG Audio Decoder", mt);
    if (s == FourccSubtype(0x0161) || s == FourccSubtype(0x0162) || s == FourccSubtype(0x0163))
      return ConnectDmo(pin, CLSID_CWMADecMediaObject, DMOCATEGORY_AUDIO_DECODER, u"WindowsMedia Audio Decoder DMO", mt,
                        true);
    if (s == MEDIASUBTYPE_PCM && wf && wf->wFormatTag == WAVE_FORMAT_EXTENSIBLE &&
        wf->cbSize >= sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX) &&
        mt.cbFormat >= sizeof(WAVEFORMATEXTENSIBLE)) {
      const auto* ext = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(mt.pbFormat);
      if (ext->SubFormat == KSDATAFORMAT_SUBTYPE_PCM || ext->SubFormat == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT)
        return ConnectNew(pin, CLSID_VxChannelDownmixer, u"Downmixer", mt);
    }
    if (s == MEDIASUBTYPE_PCM && wf && wf->wFormatTag == WAVE_FORMAT_PCM && (wf->nChannels == 1 || wf->nChannels == 2) &&
        wf->cbSize == 0)
      return AudioEndPcm(pin);
    if (wf) return AudioEndCompressed(pin);
    return false;
  }
  return false;
}

// ---- connecting -----------------------------------------------------------------------------

bool FilterGraphBuilder::ConnectPin(IPin* pin, IBaseFilter* filter, bool direct, const AM_MEDIA_TYPE* mt,
                                    bool strict) {
  for (auto& input : PinsOf(filter, PINDIR_INPUT)) {
    if (IsConnected(input.Get())) continue;
    const HRESULT hr = direct ? graph_->ConnectDirect(pin, input.Get(), mt) : graph_->Connect(pin, input.Get());
    if (hr == S_OK) return true;
    TAV_TRACE("%s connection to %p refused: 0x%08x", direct ? "direct" : "intelligent", static_cast<void*>(filter),
              unsigned(hr));
    if (SUCCEEDED(hr) || IsNextPinCode(hr) || !strict) continue;
    checker_.Check(hr);
  }
  return false;
}

bool FilterGraphBuilder::ConnectAndRender(IPin* pin, IBaseFilter* filter, bool direct, const AM_MEDIA_TYPE* mt,
                                          bool strict) {
  bool connected = false;
  try {
    connected = ConnectPin(pin, filter, direct, mt, strict);
  } catch (const HRChecker&) {
    RemoveFilter(filter);
    throw;
  }
  if (!connected) {
    RemoveFilter(filter);
    return false;
  }
  if (!RenderOutputs(filter)) {
    RemoveDownstream(filter);
    return false;
  }
  return true;
}

bool FilterGraphBuilder::ConnectNew(IPin* pin, const CLSID& clsid, const char16_t* name, const AM_MEDIA_TYPE& mt,
                                    bool strict) {
  ComPtr<IBaseFilter> filter;
  if (strict) {
    filter = CreateFilter(clsid, name);
  } else {
    // A fallback that is not installed is simply skipped.
    if (!TryCreate(clsid, filter) || FAILED(graph_->AddFilter(filter.Get(), name))) return false;
  }
  return ConnectAndRender(pin, filter.Get(), true, &mt, strict);
}

bool FilterGraphBuilder::ConnectDmo(IPin* pin, const CLSID& dmo, const GUID& category, const char16_t* name,
                                    const AM_MEDIA_TYPE& mt, bool strict) {
  ComPtr<IBaseFilter> wrapper;
  if (!TryCreate(CLSID_DMOWrapperFilter, wrapper)) return false;
  auto init = wrapper.As<IDMOWrapperFilter>();
  if (!init || FAILED(init->Init(dmo, category))) return false;
  if (FAILED(graph_->AddFilter(wrapper.Get(), name))) return false;
  return ConnectAndRender(pin, wrapper.Get(), true, &mt, strict);
}

// ---- the video chain ------------------------------------------------------------------------

// A conversion shrinks a big picture (a phone's 4K or 1080p) to the camera's size: a decoder
// that can scale lets its pictures come out at the size the resizer would draw them, so that
// no full-size RGB picture is made only to be thrown away by the resizer. The resizer then
// puts its bars or its cut where it would have (the size is the resizer's own fit of the
// source), and the preview keeps full pictures, since it changes its fit while it plays.
ComPtr<IDecimateVideoImage> FilterGraphBuilder::DecimateForResizer(IPin* pin, const AM_MEDIA_TYPE& mt) {
  const BITMAPINFOHEADER* bih = VideoBitmapHeader(mt);
  if (!bih) return nullptr;
  const int srcWidth = bih->biWidth, srcHeight = bih->biHeight < 0 ? -bih->biHeight : bih->biHeight;
  const std::optional<FrameSize> size = DecimatedSize(srcWidth, srcHeight, width_, height_, screenFit_);
  if (!size) return nullptr;
  PIN_INFO info{};
  if (FAILED(pin->QueryPinInfo(&info)) || !info.pFilter) return nullptr;
  ComPtr<IBaseFilter> owner;
  owner.Attach(info.pFilter);
  auto decimator = owner.As<IDecimateVideoImage>();
  if (!decimator || decimator->SetDecimationImageSize(size->width, size->height) != S_OK) return nullptr;
  TAV_TRACE("decoder delivers %d x %d instead of %d x %d", size->width, size->height, srcWidth, srcHeight);
  return decimator;
}

bool FilterGraphBuilder::VideoChain(IPin* start, const AM_MEDIA_TYPE& mt) {
  HRChecker& c = checker_;
  ComPtr<IPin> pin(start);
  bool inserted = false;

  if (resizeOn_ && !OwnerIs(pin.Get(), CLSID_VxDeferredResizer)) {
    ComPtr<IBaseFilter> resizer = CreateFilter(CLSID_VxDeferredResizer, u"Video Resizer");
    auto control = resizer.As<IResizerControl>();
    c.CheckPointer(control);
    VIDEOINFOHEADER vih{};
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = width_;
    vih.bmiHeader.biHeight = height_;
    vih.bmiHeader.biPlanes = 1;
    vih.bmiHeader.biBitCount = 32;
    vih.bmiHeader.biCompression = BI_RGB;
    const LONG stride = LONG(DibStride(width_, 32));
    vih.bmiHeader.biSizeImage = static_cast<DWORD>(stride * height_);
    AM_MEDIA_TYPE out{};
    out.majortype = MEDIATYPE_Video;
    out.subtype = MEDIASUBTYPE_RGB32;
    out.bFixedSizeSamples = TRUE;
    out.lSampleSize = vih.bmiHeader.biSizeImage;
    out.formattype = FORMAT_VideoInfo;
    out.cbFormat = sizeof vih;
    out.pbFormat = reinterpret_cast<BYTE*>(&vih);
    c.Check(control->SetOutputType(&out));
    c.Check(control->SetOutputSize(height_, width_, screenFit_));
    ComPtr<IDecimateVideoImage> decimator = conversionMode_ ? DecimateForResizer(pin.Get(), mt) : nullptr;
    if (!ConnectPin(pin.Get(), resizer.Get(), false, nullptr, true)) {
      if (decimator) decimator->ResetDecimationImageSize();
      RemoveFilter(resizer.Get());
      c.Check(VFW_E_CANNOT_CONNECT);
    }
    pin = FirstOutput(resizer.Get());
    inserted = true;
  }
  if (frameRateOn_ && !OwnerIs(pin.Get(), CLSID_VxFrameRateConverter)) {
    ComPtr<IBaseFilter> frc = CreateFilter(CLSID_VxFrameRateConverter, u"KORVA Frame Rate Converter");
    auto control = frc.As<IFrameRateControl>();
    c.CheckPointer(control);
    c.Check(control->SetFrameRate(frameRate_));
    if (!ConnectPin(pin.Get(), frc.Get(), true, nullptr, true)) {
      RemoveFilter(frc.Get());
      c.Check(VFW_E_CANNOT_CONNECT);
    }
    pin = FirstOutput(frc.Get());
    inserted = true;
  }
  if (burnInOn_ && subtitlesOn_) {
    ComPtr<IPin> next = AddBurnInStage(c, graph_.Get(), pin.Get(), {subtitleFile_, subtitleSize_, subtitleLanguage_},
                                    &subtitleReader_, &subtitleEncoding_);
    inserted = inserted || next.Get() != pin.Get();
    pin = next;
  }
  if (conversionMode_) {
    pendingPins_.push_back(pin);
    return true;
  }

  // Preview.
  bool adapted = false;
  if (formatAdapterOn_ && !inserted) {
    ComPtr<IBaseFilter> adapter;
    const char16_t* name = nullptr;
    CLSID clsid{};
    if (IsYuv(mt.subtype) && !OwnerIs(pin.Get(), CLSID_AVIDec)) {
      clsid = CLSID_AVIDec;
      name = u"AVI Decoder";
    } else if (IsRgb(mt.subtype)) {
      clsid = CLSID_Colour;
      name = u"Color Space Converter";
    }
    if (name && TryCreate(clsid, adapter) && SUCCEEDED(graph_->AddFilter(adapter.Get(), name))) {
      if (ConnectPin(pin.Get(), adapter.Get(), true, nullptr, false)) {
        pin = FirstOutput(adapter.Get());
        adapted = true;
      } else {
        RemoveFilter(adapter.Get());
      }
    }
  }
  if (drawerOn_) {
    DrawerSettings drawer;
    drawer.width = width_;
    drawer.height = height_;
    drawer.fit = screenFit_;
    drawer.subtitlesOn = subtitlesOn_;
    drawer.subtitles = {subtitleFile_, subtitleSize_, subtitleLanguage_};
    return AddDrawerStage(c, graph_.Get(), pin.Get(), mt, drawer, &subtitleEncoding_);
  }
  const struct {
    const CLSID* clsid;
    const char16_t* name;
  } renderers[] = {{&CLSID_VideoMixingRenderer9, u"WMR9"},
                   {&CLSID_VideoMixingRenderer, u"WMR7"},
                   {&CLSID_VideoRenderer, u"Video Renderer"}};
  for (const auto& r : renderers) {
    ComPtr<IBaseFilter> renderer;
    if (!TryCreate(*r.clsid, renderer) || FAILED(graph_->AddFilter(renderer.Get(), r.name))) continue;
    if (ConnectPin(pin.Get(), renderer.Get(), formatAdapterOn_ || adapted, nullptr, false)) return true;
    RemoveFilter(renderer.Get());
  }
  return false;
}

// ---- helpers --------------------------------------------------------------------------------

bool FilterGraphBuilder::TryCreate(const CLSID& clsid, ComPtr<IBaseFilter>& out) const {
  return SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IBaseFilter, out.AsVoidOut())) && out;
}

ComPtr<IBaseFilter> FilterGraphBuilder::CreateFilter(const CLSID& clsid, const char16_t* name) {
  HRChecker& c = checker_;
  const std::string saved = c.GetContext();
  c.SetContext(Utf16ToUtf8(name));
  TAV_TRACE("adding \"%s\"", c.GetContext().c_str());
  ComPtr<IBaseFilter> filter;
  c.Check(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IBaseFilter, filter.AsVoidOut()));
  c.CheckPointer(filter);
  c.Check(graph_->AddFilter(filter.Get(), name));
  c.SetContext(saved);
  return filter;
}

ComPtr<IPin> FilterGraphBuilder::FirstOutput(IBaseFilter* filter) const {
  auto outs = PinsOf(filter, PINDIR_OUTPUT);
  if (outs.empty()) {
    HRChecker c(checker_);
    c.Check(VFW_E_CANNOT_CONNECT);
  }
  return outs.front();
}

bool FilterGraphBuilder::OwnerIs(IPin* pin, const CLSID& clsid) const {
  return ClassOf(OwnerOf(pin).Get()) == clsid;
}

void FilterGraphBuilder::RemoveFilter(IBaseFilter* filter) {
  if (!filter) return;
  for (auto& pin : PinsOf(filter, PINDIR_OUTPUT)) DropPending(pin.Get());
  graph_->RemoveFilter(filter);
}

void FilterGraphBuilder::DropPending(IPin* pin) {
  pendingPins_.erase(std::remove_if(pendingPins_.begin(), pendingPins_.end(),
                                    [&](const ComPtr<IPin>& p) { return p.Get() == pin; }),
                     pendingPins_.end());
}

void FilterGraphBuilder::RemoveDownstream(IBaseFilter* filter) {
  if (!filter || !graph_) return;
  ComPtr<IBaseFilter> keep(filter);
  for (auto& pin : PinsOf(filter, PINDIR_OUTPUT)) {
    ComPtr<IPin> other;
    if (SUCCEEDED(pin->ConnectedTo(&other)) && other) {
      ComPtr<IBaseFilter> downstream = OwnerOf(other.Get());
      if (downstream && downstream.Get() != filter) RemoveDownstream(downstream.Get());
    }
    DropPending(pin.Get());
  }
  graph_->RemoveFilter(filter);
}

void FilterGraphBuilder::FindVideoSize(bool probe, int* width, int* height) const {
  if (!probe && (resizeOn_ || drawerOn_)) {
    *width = width_;
    *height = height_;
    return;
  }
  *width = kSmallFrame.width;
  *height = kSmallFrame.height;
  for (auto& f : FiltersOf(graph_.Get())) {
    for (auto& pin : PinsOf(f.Get(), PINDIR_OUTPUT)) {
      ScopedMediaType mt;
      if (pin->ConnectionMediaType(mt.Out()) != S_OK || mt->majortype != MEDIATYPE_Video) continue;
      if (const BITMAPINFOHEADER* bih = VideoBitmapHeader(mt.Get())) {
        *width = bih->biWidth;
        *height = bih->biHeight < 0 ? -bih->biHeight : bih->biHeight;
        return;
      }
    }
  }
}

void FilterGraphBuilder::SetScreenFitOnFilters(int fit) {
  screenFit_ = fit;
  if (!graph_ || !(resizeOn_ || drawerOn_)) return;
  for (auto& f : FiltersOf(graph_.Get())) {
    auto control = f.As<IResizerControl>();
    if (!control) continue;
    int h = 0, w = 0, mode = 0;
    if (SUCCEEDED(control->GetOutputSize(&h, &w, &mode)) && mode != fit) control->SetOutputSize(h, w, fit);
  }
  SetScreenFitOnDrawers(fit);
}

}  // namespace tav
