#include "platform/filters/decoders/avdecoderfilter.h"

#include <iterator>
#include <new>
#include <cstring>
#include <string>
#include <vector>

#include "media/contract/guid.h"
#include "media/contract/registry.h"

#include "media/contract/trace.h"
#include "platform/filters/avcodecutil.h"
#include "platform/filters/decoders/decoderids.h"

TAV_TRACE_SOURCE(kFilters, "avdecoder");

namespace tav::filters {

namespace {

// ---- what each decoder takes --------------------------------------------------------------

inline constexpr GUID kSubCvid = FourccSubtype(MAKEFOURCC('c', 'v', 'i', 'd'));
inline constexpr GUID kSubMsvc = FourccSubtype(MAKEFOURCC('M', 'S', 'V', 'C'));
inline constexpr GUID kSubCram = FourccSubtype(MAKEFOURCC('C', 'R', 'A', 'M'));
inline constexpr GUID kSubMrle = FourccSubtype(MAKEFOURCC('m', 'r', 'l', 'e'));
inline constexpr GUID kSubIv32 = FourccSubtype(MAKEFOURCC('I', 'V', '3', '2'));
inline constexpr GUID kSubIv41 = FourccSubtype(MAKEFOURCC('I', 'V', '4', '1'));
inline constexpr GUID kSubIv50 = FourccSubtype(MAKEFOURCC('I', 'V', '5', '0'));
inline constexpr GUID kSubM261 = FourccSubtype(MAKEFOURCC('m', '2', '6', '1'));
inline constexpr GUID kSubM263 = FourccSubtype(MAKEFOURCC('m', '2', '6', '3'));
inline constexpr GUID kSubXvidL = FourccSubtype(MAKEFOURCC('x', 'v', 'i', 'd'));
inline constexpr GUID kSubDivxL = FourccSubtype(MAKEFOURCC('d', 'i', 'v', 'x'));
inline constexpr GUID kSubDx50L = FourccSubtype(MAKEFOURCC('d', 'x', '5', '0'));
inline constexpr GUID kSubMp4vL = FourccSubtype(MAKEFOURCC('m', 'p', '4', 'v'));
inline constexpr GUID kSubM4S2 = FourccSubtype(MAKEFOURCC('M', '4', 'S', '2'));
inline constexpr GUID kSubWMVA = FourccSubtype(MAKEFOURCC('W', 'M', 'V', 'A'));
inline constexpr GUID kSubMPG4 = FourccSubtype(MAKEFOURCC('M', 'P', 'G', '4'));
inline constexpr GUID kSubH264L = FourccSubtype(MAKEFOURCC('h', '2', '6', '4'));
inline constexpr GUID kSubAvc1L = FourccSubtype(MAKEFOURCC('a', 'v', 'c', '1'));
inline constexpr GUID kSubX264 = FourccSubtype(MAKEFOURCC('X', '2', '6', '4'));
inline constexpr GUID kSubH263L = FourccSubtype(MAKEFOURCC('h', '2', '6', '3'));
inline constexpr GUID kSubFlv1 = FourccSubtype(MAKEFOURCC('F', 'L', 'V', '1'));
inline constexpr GUID kSubHevc = FourccSubtype(MAKEFOURCC('H', 'E', 'V', 'C'));
inline constexpr GUID kSubHvc1 = FourccSubtype(MAKEFOURCC('h', 'v', 'c', '1'));
inline constexpr GUID kSubHev1 = FourccSubtype(MAKEFOURCC('h', 'e', 'v', '1'));
inline constexpr GUID kSubWMA4 = FourccSubtype(0x0163);
inline constexpr GUID kSubHeAac = FourccSubtype(0x1610);
inline constexpr GUID kSubAmrWb = FourccSubtype(0x0058);
inline constexpr GUID kSubAc3Tag = FourccSubtype(0x2000);
inline constexpr GUID kSubDtsTag = FourccSubtype(0x2001);
inline constexpr GUID kSubImaAdpcm = FourccSubtype(0x0011);
inline constexpr GUID kSubAlaw = FourccSubtype(0x0006);
inline constexpr GUID kSubMulaw = FourccSubtype(0x0007);
inline constexpr GUID kSubGsm = FourccSubtype(0x0031);

const GUID* const kMpeg1VideoSubtypes[] = {&MEDIASUBTYPE_MPEG1Packet, &MEDIASUBTYPE_MPEG1Payload, nullptr};
const GUID* const kDvSubtypes[] = {&MEDIASUBTYPE_dvsd, nullptr};
const GUID* const kWmvSubtypes[] = {&MEDIASUBTYPE_WMV1, &MEDIASUBTYPE_WMV2, &MEDIASUBTYPE_WMV3, &kSubM4S2, nullptr};
const GUID* const kWmvaSubtypes[] = {&kSubWMVA, &MEDIASUBTYPE_WVC1, &MEDIASUBTYPE_WMV3, nullptr};
const GUID* const kMp43Subtypes[] = {&MEDIASUBTYPE_MP43, &MEDIASUBTYPE_MP42, &kSubMPG4, nullptr};
const GUID* const kMpegAudioSubtypes[] = {&MEDIASUBTYPE_MPEG1Packet, &MEDIASUBTYPE_MPEG1Payload,
                                          &MEDIASUBTYPE_MPEG1Audio, &MEDIASUBTYPE_MPEG_AUDIO, nullptr};
const WORD kMp3Tags[] = {WAVE_FORMAT_MPEGLAYER3, 0};
const WORD kWmaTags[] = {0x0160, 0x0161, 0x0162, 0x0163, 0};

std::unique_ptr<DecoderEngine> EngineFor(CAvDecoderFilter::Kind kind) {
  using K = CAvDecoderFilter::Kind;
  switch (kind) {
    case K::AviDecompressor: return MakeVideoEngine({});
    case K::Mpeg1Video: return MakeVideoEngine({kMpeg1VideoSubtypes, true, false, false});
    case K::DvVideo: return MakeVideoEngine({kDvSubtypes, true, false, false});
    case K::GenericVideo: return MakeVideoEngine({nullptr, true, false, false});
    case K::Colour: return MakeVideoEngine({nullptr, false, true, true});
    case K::Mp3: return MakeAudioEngine({kMp3Tags, nullptr, false});
    case K::MpegAudio: return MakeAudioEngine({nullptr, kMpegAudioSubtypes, false});
    case K::GenericAudio: return MakeAudioEngine({});
    case K::AcmWrapper: return MakeAudioEngine({nullptr, nullptr, true});
    case K::DmoWrapper: return nullptr;
  }
  return nullptr;
}

const CLSID& ClassOf(CAvDecoderFilter::Kind kind) {
  using K = CAvDecoderFilter::Kind;
  switch (kind) {
    case K::AviDecompressor: return CLSID_AVIDec;
    case K::Mpeg1Video: return CLSID_CMpegVideoCodec;
    case K::DvVideo: return CLSID_DVVideoCodec;
    case K::Mp3: return CLSID_MPEGLayer3Decoder;
    case K::MpegAudio: return CLSID_CMpegAudioCodec;
    case K::GenericVideo: return CLSID_AvVideoDecoder;
    case K::GenericAudio: return CLSID_AvAudioDecoder;
    case K::Colour: return CLSID_Colour;
    case K::AcmWrapper: return CLSID_ACMWrapper;
    case K::DmoWrapper: return CLSID_DMOWrapperFilter;
  }
  return GUID_NULL;
}

// ---- the ACM wrapper's output pin --------------------------------------------------------

class CAcmOutputPin final : public CTransformOutputPin, public IAMStreamConfig {
 public:
  CAcmOutputPin(CAvDecoderFilter* filter, HRESULT* phr)
      : CTransformOutputPin(NAME("ACM wrapper output pin"), filter, phr, u"Output"), filter_(filter) {}

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IAMStreamConfig) return GetInterface(static_cast<IAMStreamConfig*>(this), ppv);
    return CTransformOutputPin::NonDelegatingQueryInterface(riid, ppv);
  }

  // Forces the PCM format of the output. While connected, the downstream pin must accept
  // it, and the pin reconnects with it.
  STDMETHODIMP SetFormat(AM_MEDIA_TYPE* mt) override {
    if (!mt) return E_POINTER;
    CMediaType type(*mt);
    if (!type.IsValid()) return VFW_E_INVALIDMEDIATYPE;
    CAutoLock lock(m_pLock);
    if (IsConnected() && m_Connected->QueryAccept(&type) != S_OK) return VFW_E_INVALIDMEDIATYPE;
    HRESULT hr = filter_->SetForcedOutput(type);
    if (FAILED(hr)) return hr;
    if (IsConnected()) {
      hr = CheckMediaType(&type);
      if (hr != S_OK) {
        filter_->SetForcedOutput(CMediaType());
        return VFW_E_INVALIDMEDIATYPE;
      }
      if (IFilterGraph* graph = filter_->GetFilterGraph()) {
        ComPtr<IFilterGraph2> g2;
        if (SUCCEEDED(graph->QueryInterface(IID_IFilterGraph2, g2.AsVoidOut())))
          return g2->ReconnectEx(this, &type);
        return graph->Reconnect(this);
      }
    }
    return S_OK;
  }
  STDMETHODIMP GetFormat(AM_MEDIA_TYPE** mt) override {
    if (!mt) return E_POINTER;
    CMediaType type;
    HRESULT hr;
    {
      CAutoLock lock(m_pLock);
      if (IsConnected()) type = m_mt;
      else if ((hr = filter_->GetOutputFormat(&type)) != S_OK) return hr == S_FALSE ? VFW_E_NOT_CONNECTED : hr;
    }
    *mt = CreateMediaType(&type);
    return *mt ? S_OK : E_OUTOFMEMORY;
  }
  STDMETHODIMP GetNumberOfCapabilities(int* count, int* size) override {
    if (!count || !size) return E_POINTER;
    *count = 0;  // any PCM rate, channel count and width; no capability structures
    *size = 0;
    return S_OK;
  }
  STDMETHODIMP GetStreamCaps(int, AM_MEDIA_TYPE**, BYTE*) override { return E_INVALIDARG; }

 private:
  CAvDecoderFilter* filter_;
};

// The DMO wrapper's pins carry the decoder object's stream names.
class CDmoInputPin final : public CTransformInputPin {
 public:
  CDmoInputPin(CTransformFilter* f, HRESULT* phr) : CTransformInputPin(NAME("DMO input pin"), f, phr, u"in0") {}
};
class CDmoOutputPin final : public CTransformOutputPin {
 public:
  CDmoOutputPin(CTransformFilter* f, HRESULT* phr) : CTransformOutputPin(NAME("DMO output pin"), f, phr, u"out0") {}
};

}  // namespace

// ---- construction ---------------------------------------------------------------------------

CAvDecoderFilter::CAvDecoderFilter(Kind kind, LPUNKNOWN outer, HRESULT* phr)
    : CTransformFilter(NAME("FFmpeg decoder"), outer, ClassOf(kind)), kind_(kind), engine_(EngineFor(kind)) {
  audio_ = dynamic_cast<AudioEngine*>(engine_.get());
  if (phr && kind != Kind::DmoWrapper && !engine_) *phr = E_OUTOFMEMORY;
}

CAvDecoderFilter::~CAvDecoderFilter() = default;

#define TAV_AVDEC_FACTORY(fn, kind)                                      \
  CUnknown* CAvDecoderFilter::fn(LPUNKNOWN outer, HRESULT* phr) {        \
    auto* f = new (std::nothrow) CAvDecoderFilter(Kind::kind, outer, phr); \
    if (!f && phr) *phr = E_OUTOFMEMORY;                                 \
    return f;                                                            \
  }
TAV_AVDEC_FACTORY(CreateAviDecompressor, AviDecompressor)
TAV_AVDEC_FACTORY(CreateMpeg1VideoDecoder, Mpeg1Video)
TAV_AVDEC_FACTORY(CreateDvVideoDecoder, DvVideo)
TAV_AVDEC_FACTORY(CreateMp3Decoder, Mp3)
TAV_AVDEC_FACTORY(CreateMpegAudioDecoder, MpegAudio)
TAV_AVDEC_FACTORY(CreateVideoDecoder, GenericVideo)
TAV_AVDEC_FACTORY(CreateAudioDecoder, GenericAudio)
TAV_AVDEC_FACTORY(CreateColourConverter, Colour)
TAV_AVDEC_FACTORY(CreateAcmWrapper, AcmWrapper)
TAV_AVDEC_FACTORY(CreateDmoWrapper, DmoWrapper)
#undef TAV_AVDEC_FACTORY

STDMETHODIMP CAvDecoderFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IIPDVDec && kind_ == Kind::DvVideo) return GetInterface(static_cast<IIPDVDec*>(this), ppv);
  if (riid == IID_IDecimateVideoImage && engine_ && !audio_)
    return GetInterface(static_cast<IDecimateVideoImage*>(this), ppv);
  if (riid == IID_IDMOWrapperFilter && kind_ == Kind::DmoWrapper)
    return GetInterface(static_cast<IDMOWrapperFilter*>(this), ppv);
  return CTransformFilter::NonDelegatingQueryInterface(riid, ppv);
}

CBasePin* CAvDecoderFilter::GetPin(int n) {
  if (kind_ == Kind::AcmWrapper)
    return MakePins(
        n,
        [this](HRESULT* hr) {
          return new (std::nothrow) CTransformInputPin(NAME("ACM wrapper input pin"), this, hr, u"Input");
        },
        [this](HRESULT* hr) { return new (std::nothrow) CAcmOutputPin(this, hr); });
  if (kind_ == Kind::DmoWrapper)
    return MakePins(
        n, [this](HRESULT* hr) { return new (std::nothrow) CDmoInputPin(this, hr); },
        [this](HRESULT* hr) { return new (std::nothrow) CDmoOutputPin(this, hr); });
  return CTransformFilter::GetPin(n);
}

// ---- negotiation ----------------------------------------------------------------------------

HRESULT CAvDecoderFilter::CheckInputType(const CMediaType* mt) {
  if (!mt) return E_POINTER;
  if (!engine_) return VFW_E_NOT_CONNECTED;  // a DMO wrapper before Init
  return engine_->CheckInputType(*mt);
}

HRESULT CAvDecoderFilter::CheckTransform(const CMediaType* in, const CMediaType* out) {
  if (!in || !out) return E_POINTER;
  if (!engine_) return VFW_E_TYPE_NOT_ACCEPTED;
  return engine_->CheckTransform(*in, *out);
}

HRESULT CAvDecoderFilter::GetMediaType(int position, CMediaType* mt) {
  if (!mt) return E_POINTER;
  if (!engine_ || !m_pInput || !m_pInput->IsConnected()) return E_UNEXPECTED;
  return engine_->GetMediaType(m_pInput->CurrentMediaType(), position, mt);
}

HRESULT CAvDecoderFilter::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) {
  if (!engine_ || !m_pOutput) return E_UNEXPECTED;
  return engine_->DecideBufferSize(m_pOutput->CurrentMediaType(), allocator, props);
}

// ---- streaming ------------------------------------------------------------------------------

HRESULT CAvDecoderFilter::StartStreaming() {
  if (!engine_) return E_UNEXPECTED;
  HRESULT hr = engine_->Start(m_pInput->CurrentMediaType(), m_pOutput->CurrentMediaType());
  TAV_TRACE("%p StartStreaming -> 0x%08x", static_cast<void*>(this), unsigned(hr));
  return hr;
}

HRESULT CAvDecoderFilter::StopStreaming() {
  if (engine_) engine_->Stop();
  return S_OK;
}

HRESULT CAvDecoderFilter::Receive(IMediaSample* sample) {
  if (m_pInput->SampleProps()->dwStreamId != AM_STREAM_MEDIA) return m_pOutput->Deliver(sample);
  HRESULT hr = engine_->Receive(sample, *this);
  if (FAILED(hr) && !StoppingOrFlushing(hr)) {
    // A streaming failure ends the stream and tells the graph.
    NotifyEvent(EC_ERRORABORT, hr, 0);
  }
  return hr;
}

// A delivery refused because the graph is stopping or flushing (the downstream allocator
// decommitted, a stopped pin) is how streaming ends, not an error of the stream.
bool CAvDecoderFilter::StoppingOrFlushing(HRESULT hr) {
  if (hr == VFW_E_NOT_COMMITTED || hr == VFW_E_WRONG_STATE) return true;
  // No filter lock here: Stop holds it while it waits for this thread to leave Receive.
  return m_pInput && (m_pInput->IsFlushing() || m_pInput->IsStopped());
}

HRESULT CAvDecoderFilter::EndOfStream() {
  // A short stream that gave no whole picture is found out only here: that verdict fails
  // the graph as a failed sample would. A delivery refused at the end is downstream's own
  // business (it reports what it has to).
  const HRESULT hr = engine_->Drain(*this);
  if (hr == VFW_E_UNSUPPORTED_VIDEO && !StoppingOrFlushing(hr)) NotifyEvent(EC_ERRORABORT, hr, 0);
  return CTransformFilter::EndOfStream();
}

HRESULT CAvDecoderFilter::EndFlush() {
  {
    CAutoLock lock(&m_csReceive);
    if (engine_) engine_->Flush();
  }
  return CTransformFilter::EndFlush();
}

HRESULT CAvDecoderFilter::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  segmentLength_ = stop == MAX_TIME || stop < start ? MAX_TIME : stop - start;
  return CTransformFilter::NewSegment(start, stop, rate);
}

HRESULT CAvDecoderFilter::GetBuffer(IMediaSample** sample) {
  return m_pOutput->GetDeliveryBuffer(sample, nullptr, nullptr, 0);
}

HRESULT CAvDecoderFilter::Deliver(IMediaSample* sample) {
  // A source stopping between reordered pictures sends the pictures decoded before the stop
  // but shown after it (those shown before it need them); they end here.
  REFERENCE_TIME start = 0, stop = 0;
  if (segmentLength_ != MAX_TIME && SUCCEEDED(sample->GetTime(&start, &stop)) && start >= segmentLength_) return S_OK;
  return m_pOutput->Deliver(sample);
}

// ---- control interfaces -----------------------------------------------------------------------

STDMETHODIMP CAvDecoderFilter::get_IPDisplay(int* displayPix) {
  if (!displayPix) return E_POINTER;
  CAutoLock lock(&m_csFilter);
  *displayPix = dvResolution_;
  return S_OK;
}

STDMETHODIMP CAvDecoderFilter::put_IPDisplay(int displayPix) {
  int divisor;
  switch (displayPix) {
    case DVDECODERRESOLUTION_720x480: divisor = 1; break;
    case DVDECODERRESOLUTION_360x240: divisor = 2; break;
    case DVDECODERRESOLUTION_180x120: divisor = 4; break;
    case DVDECODERRESOLUTION_88x60: divisor = 8; break;
    default: return E_INVALIDARG;
  }
  CAutoLock lock(&m_csFilter);
  // The output size is part of the connection: change it only while unconnected.
  if (m_pOutput && m_pOutput->IsConnected()) return VFW_E_ALREADY_CONNECTED;
  dvResolution_ = displayPix;
  SetVideoEngineScale(engine_.get(), divisor);
  return S_OK;
}

STDMETHODIMP CAvDecoderFilter::Init(REFCLSID dmo, REFCLSID category) {
  CAutoLock lock(&m_csFilter);
  if (engine_) return E_UNEXPECTED;
  std::unique_ptr<DecoderEngine> engine;
  const bool video = category == DMOCATEGORY_VIDEO_DECODER || category == GUID_NULL;
  const bool audio = category == DMOCATEGORY_AUDIO_DECODER || category == GUID_NULL;
  if (dmo == CLSID_CWMVDecMediaObject && video) engine = MakeVideoEngine({kWmvSubtypes, true, false, false});
  else if (dmo == CLSID_CWMVAdvDecMediaObject && video) engine = MakeVideoEngine({kWmvaSubtypes, true, false, false});
  else if (dmo == CLSID_CMpeg43DecMediaObject && video) engine = MakeVideoEngine({kMp43Subtypes, true, false, false});
  else if (dmo == CLSID_CWMADecMediaObject && audio) engine = MakeAudioEngine({kWmaTags, nullptr, false});
  else return REGDB_E_CLASSNOTREG;
  TAV_TRACE("%p Init %s", static_cast<void*>(this), tav::GuidToString(dmo).c_str());
  engine_ = std::move(engine);
  audio_ = dynamic_cast<AudioEngine*>(engine_.get());
  return S_OK;
}

STDMETHODIMP CAvDecoderFilter::SetDecimationImageSize(LONG width, LONG height) {
  CAutoLock lock(&m_csFilter);
  if (!engine_ || audio_ || !m_pInput || !m_pInput->IsConnected()) return E_FAIL;
  // The output size is part of the connection: change it only while unconnected.
  if (m_pOutput && m_pOutput->IsConnected()) return E_FAIL;
  if (width <= 0 || height <= 0) return E_FAIL;
  HRESULT hr = SetVideoEngineDecimation(engine_.get(), m_pInput->CurrentMediaType(), width, height);
  TAV_TRACE("%p SetDecimationImageSize %ld x %ld -> 0x%08x", static_cast<void*>(this), long(width), long(height),
            unsigned(hr));
  return hr;
}

STDMETHODIMP CAvDecoderFilter::ResetDecimationImageSize() {
  CAutoLock lock(&m_csFilter);
  if (!engine_ || audio_) return E_FAIL;
  if (m_pOutput && m_pOutput->IsConnected()) return E_FAIL;
  return SetVideoEngineDecimation(engine_.get(), CMediaType(), 0, 0);
}

HRESULT CAvDecoderFilter::SetForcedOutput(const CMediaType& mt) {
  CAutoLock lock(&m_csFilter);
  if (!audio_) return E_NOTIMPL;
  if (m_State != State_Stopped) return VFW_E_NOT_STOPPED;
  return audio_->SetForcedOutput(mt);
}

HRESULT CAvDecoderFilter::GetOutputFormat(CMediaType* mt) {
  CAutoLock lock(&m_csFilter);
  if (!audio_) return E_NOTIMPL;
  if (audio_->GetForcedOutput(mt) == S_OK) return S_OK;
  if (m_pInput && m_pInput->IsConnected()) return audio_->GetMediaType(m_pInput->CurrentMediaType(), 0, mt);
  return S_FALSE;
}

}  // namespace tav::filters

// ---- registration -------------------------------------------------------------------------------

namespace {

using namespace tav::filters;

const REGPINTYPES kVideoOut[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_RGB32}, {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24},
                                 {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB565}, {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB555},
                                 {&MEDIATYPE_Video, &MEDIASUBTYPE_YUY2}};
const REGPINTYPES kPcmOut[] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM}};

const REGPINTYPES kAviDecIn[] = {
    {&MEDIATYPE_Video, &kSubCvid},        {&MEDIATYPE_Video, &kSubMsvc},        {&MEDIATYPE_Video, &kSubCram},
    {&MEDIATYPE_Video, &kSubMrle},        {&MEDIATYPE_Video, &kSubIv32},        {&MEDIATYPE_Video, &kSubIv41},
    {&MEDIATYPE_Video, &kSubIv50},        {&MEDIATYPE_Video, &kSubM261},        {&MEDIATYPE_Video, &kSubM263},
    {&MEDIATYPE_Video, &MEDIASUBTYPE_I420}, {&MEDIATYPE_Video, &MEDIASUBTYPE_IYUV}, {&MEDIATYPE_Video, &MEDIASUBTYPE_MJPG},
    {&MEDIATYPE_Video, &MEDIASUBTYPE_XVID}, {&MEDIATYPE_Video, &kSubXvidL},      {&MEDIATYPE_Video, &MEDIASUBTYPE_DIVX},
    {&MEDIATYPE_Video, &kSubDivxL},       {&MEDIATYPE_Video, &MEDIASUBTYPE_DX50}, {&MEDIATYPE_Video, &kSubDx50L},
    {&MEDIATYPE_Video, &kSubMp4vL},       {&MEDIATYPE_Video, &MEDIASUBTYPE_FMP4}};
const REGPINTYPES kMpeg1VideoIn[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_MPEG1Packet},
                                     {&MEDIATYPE_Video, &MEDIASUBTYPE_MPEG1Payload}};
const REGPINTYPES kDvIn[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_dvsd}};
const REGPINTYPES kMp3In[] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_MPEG_LAYER3}};
const REGPINTYPES kMpegAudioIn[] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_MPEG1Packet},
                                    {&MEDIATYPE_Audio, &MEDIASUBTYPE_MPEG1Payload},
                                    {&MEDIATYPE_Audio, &MEDIASUBTYPE_MPEG1Audio},
                                    {&MEDIATYPE_Audio, &MEDIASUBTYPE_MPEG_AUDIO}};
const REGPINTYPES kGenericVideoIn[] = {
    {&MEDIATYPE_Video, &MEDIASUBTYPE_H264}, {&MEDIATYPE_Video, &kSubH264L},         {&MEDIATYPE_Video, &MEDIASUBTYPE_AVC1},
    {&MEDIATYPE_Video, &kSubAvc1L},         {&MEDIATYPE_Video, &kSubX264},          {&MEDIATYPE_Video, &MEDIASUBTYPE_H263},
    {&MEDIATYPE_Video, &kSubH263L},         {&MEDIATYPE_Video, &MEDIASUBTYPE_S263}, {&MEDIATYPE_Video, &MEDIASUBTYPE_MP4V},
    {&MEDIATYPE_Video, &kSubMp4vL},         {&MEDIATYPE_Video, &MEDIASUBTYPE_MPEG2_VIDEO},
    {&MEDIATYPE_Video, &MEDIASUBTYPE_MJPG}, {&MEDIATYPE_Video, &kSubHevc},           {&MEDIATYPE_Video, &kSubHvc1},
    {&MEDIATYPE_Video, &kSubHev1},          {&MEDIATYPE_Video, &kSubFlv1}};
const REGPINTYPES kGenericAudioIn[] = {
    {&MEDIATYPE_Audio, &MEDIASUBTYPE_AAC},    {&MEDIATYPE_Audio, &kSubHeAac},     {&MEDIATYPE_Audio, &MEDIASUBTYPE_AMR_NB},
    {&MEDIATYPE_Audio, &kSubAmrWb},           {&MEDIATYPE_Audio, &kSubAc3Tag},    {&MEDIATYPE_Audio, &MEDIASUBTYPE_DOLBY_AC3},
    {&MEDIATYPE_Audio, &kSubDtsTag},          {&MEDIATYPE_Audio, &MEDIASUBTYPE_ADPCM}, {&MEDIATYPE_Audio, &kSubImaAdpcm},
    {&MEDIATYPE_Audio, &kSubAlaw},            {&MEDIATYPE_Audio, &kSubMulaw},     {&MEDIATYPE_Audio, &kSubGsm},
    {&MEDIATYPE_Audio, &MEDIASUBTYPE_MPEG2_AUDIO}};
const REGPINTYPES kColourIn[] = {{&MEDIATYPE_Video, &GUID_NULL}};
const REGPINTYPES kAcmIn[] = {{&MEDIATYPE_Audio, &GUID_NULL}};

#define TAV_XFORM_PINS(name, in)                                                                  \
  const AMOVIESETUP_PIN name[] = {                                                                \
      {u"Input", FALSE, FALSE, FALSE, FALSE, &GUID_NULL, nullptr, UINT(std::size(in)), in},       \
      {u"Output", FALSE, TRUE, FALSE, FALSE, &GUID_NULL, nullptr, UINT(std::size(kVideoOut)), kVideoOut}};
#define TAV_AUDIO_PINS(name, in)                                                                  \
  const AMOVIESETUP_PIN name[] = {                                                                \
      {u"Input", FALSE, FALSE, FALSE, FALSE, &GUID_NULL, nullptr, UINT(std::size(in)), in},       \
      {u"Output", FALSE, TRUE, FALSE, FALSE, &GUID_NULL, nullptr, UINT(std::size(kPcmOut)), kPcmOut}};
TAV_XFORM_PINS(kAviDecPins, kAviDecIn)
TAV_XFORM_PINS(kMpeg1VideoPins, kMpeg1VideoIn)
TAV_XFORM_PINS(kDvPins, kDvIn)
TAV_XFORM_PINS(kGenericVideoPins, kGenericVideoIn)
TAV_XFORM_PINS(kColourPins, kColourIn)
TAV_AUDIO_PINS(kMp3Pins, kMp3In)
TAV_AUDIO_PINS(kMpegAudioPins, kMpegAudioIn)
TAV_AUDIO_PINS(kGenericAudioPins, kGenericAudioIn)
TAV_AUDIO_PINS(kAcmPins, kAcmIn)
#undef TAV_XFORM_PINS
#undef TAV_AUDIO_PINS

}  // namespace

const AMOVIESETUP_FILTER sudAviDecompressor = {&CLSID_AVIDec, u"AVI Decompressor", MERIT_NORMAL, 2, kAviDecPins};
const AMOVIESETUP_FILTER sudMpeg1VideoDecoder = {&CLSID_CMpegVideoCodec, u"MPEG1 Video Decoder", MERIT_NORMAL, 2,
                                                 kMpeg1VideoPins};
const AMOVIESETUP_FILTER sudDvVideoDecoder = {&CLSID_DVVideoCodec, u"DV Video Decoder", MERIT_NORMAL, 2, kDvPins};
const AMOVIESETUP_FILTER sudMp3Decoder = {&CLSID_MPEGLayer3Decoder, u"MPEG Layer-3 Decoder", MERIT_NORMAL, 2, kMp3Pins};
const AMOVIESETUP_FILTER sudMpegAudioDecoder = {&CLSID_CMpegAudioCodec, u"MPEG Audio Decoder", MERIT_NORMAL, 2,
                                                kMpegAudioPins};
// A step below the named decoders, so that those win where both take a stream.
const AMOVIESETUP_FILTER sudVideoDecoder = {&CLSID_AvVideoDecoder, u"Video Decoder", MERIT_NORMAL - 1, 2,
                                            kGenericVideoPins};
const AMOVIESETUP_FILTER sudAudioDecoder = {&CLSID_AvAudioDecoder, u"Audio Decoder", MERIT_NORMAL - 1, 2,
                                            kGenericAudioPins};
const AMOVIESETUP_FILTER sudColourConverter = {&CLSID_Colour, u"Color Space Converter", MERIT_UNLIKELY, 2, kColourPins};
const AMOVIESETUP_FILTER sudAcmWrapper = {&CLSID_ACMWrapper, u"ACM Wrapper", MERIT_NORMAL, 2, kAcmPins};
// The wrapper takes no stream until Init names its object: never picked by merit.
const AMOVIESETUP_FILTER sudDmoWrapper = {&CLSID_DMOWrapperFilter, u"DMO Wrapper Filter", MERIT_DO_NOT_USE, 0, nullptr};

// ---- decoder objects -----------------------------------------------------------------------------
//
// The decoder objects the wrapper hosts are registered as the platform registers its media
// objects: "DirectShow\MediaObjects\{object}" holds the name and the (major type, subtype)
// pairs of input and output, and a key under "Categories\{category}" lists the object, so
// that the filter mapper offers it, through the wrapper, to intelligent connection.

namespace {

struct DecoderObject {
  const CLSID* clsid;
  const GUID* category;
  const char* name;
  const GUID* const* inputs;  // video subtypes, null-terminated
};
const DecoderObject kDecoderObjects[] = {
    {&CLSID_CMpeg43DecMediaObject, &DMOCATEGORY_VIDEO_DECODER, "MPEG 4 codec version 3", kMp43Subtypes},
};

constexpr char kMediaObjects[] = "DirectShow\\MediaObjects\\";

std::string CategoryKey(const DecoderObject& o) {
  return std::string(kMediaObjects) + "Categories\\" + tav::GuidToString(*o.category) + "\\" +
         tav::GuidToString(*o.clsid);
}

// (major type, subtype) pairs as the mapper reads them: 32 bytes each.
std::vector<BYTE> TypePairs(const std::vector<const GUID*>& subtypes) {
  std::vector<BYTE> bytes;
  for (const GUID* subtype : subtypes) {
    const BYTE* major = reinterpret_cast<const BYTE*>(&MEDIATYPE_Video);
    bytes.insert(bytes.end(), major, major + sizeof(GUID));
    const BYTE* minor = reinterpret_cast<const BYTE*>(subtype);
    bytes.insert(bytes.end(), minor, minor + sizeof(GUID));
  }
  return bytes;
}

}  // namespace

HRESULT RegisterDecoderObjects(bool add) {
  for (const DecoderObject& o : kDecoderObjects) {
    const std::string objectKey = kMediaObjects + tav::GuidToString(*o.clsid);
    if (!add) {
      RegDeleteTree(HKEY_CLASSES_ROOT, CategoryKey(o).c_str());
      RegDeleteTree(HKEY_CLASSES_ROOT, objectKey.c_str());
      continue;
    }
    std::vector<const GUID*> inputs, outputs;
    for (const GUID* const* s = o.inputs; *s; ++s) inputs.push_back(*s);
    for (const REGPINTYPES& t : kVideoOut) outputs.push_back(t.clsMinorType);
    HKEY key = nullptr;
    LSTATUS status = RegCreateKey(HKEY_CLASSES_ROOT, objectKey.c_str(), &key);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    const std::vector<BYTE> in = TypePairs(inputs), out = TypePairs(outputs);
    status = RegSetValueEx(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(o.name), DWORD(std::strlen(o.name) + 1));
    if (status == ERROR_SUCCESS) status = RegSetValueEx(key, "InputTypes", 0, REG_BINARY, in.data(), DWORD(in.size()));
    if (status == ERROR_SUCCESS) status = RegSetValueEx(key, "OutputTypes", 0, REG_BINARY, out.data(), DWORD(out.size()));
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    status = RegCreateKey(HKEY_CLASSES_ROOT, CategoryKey(o).c_str(), &key);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    RegCloseKey(key);
  }
  return S_OK;
}
