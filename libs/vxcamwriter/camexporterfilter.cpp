#include "libs/vxcamwriter/camexporterfilter.h"

#include <algorithm>
#include <new>

#include "media/contract/codepage.h"
#include "media/contract/com.h"

namespace {

bool IsCameraPcm(const WAVEFORMATEX& w) {
  return w.wFormatTag == WAVE_FORMAT_PCM && w.nChannels == 2 && w.nSamplesPerSec == 22050 &&
         w.nAvgBytesPerSec == 88200 && w.nBlockAlign == 4 && w.wBitsPerSample == 16;
}

// Reads what Receive needs from a sample; any failure is E_FAIL.
HRESULT ReadSample(IMediaSample* sample, REFERENCE_TIME* start, REFERENCE_TIME* stop, BYTE** data, LONG* length) {
  if (FAILED(sample->GetTime(start, stop))) return E_FAIL;
  if (FAILED(sample->GetPointer(data))) return E_FAIL;
  *length = sample->GetActualDataLength();
  return *length < 0 ? E_FAIL : S_OK;
}

// The exporter's seeking: the platform's pass-through in its renderer form, bound to the
// audio input (the video input for a movie without sound). The source is opened once for
// each stream, so the video has a source of its own upstream of the video input: a seek goes
// there too, or the parts of a split would all start where the video did.
class CExporterPosition final : public CRendererPosPassThru {
 public:
  CExporterPosition(LPUNKNOWN outer, HRESULT* phr, IPin* pin, CBasePin* video)
      : CRendererPosPassThru(NAME("exporter position"), outer, phr, pin), video_(video) {}

  STDMETHODIMP SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) override {
    LONGLONG videoCurrent = current ? *current : 0, videoStop = stop ? *stop : 0;
    const HRESULT hr = CRendererPosPassThru::SetPositions(current, currentFlags, stop, stopFlags);
    if (Pin() == video_) return hr;
    ComPtr<IPin> peer;
    if (FAILED(video_->ConnectedTo(peer.ReleaseAndGetAddressOf())) || !peer) return hr;
    auto seeking = peer.As<IMediaSeeking>();
    if (!seeking) return hr;
    const HRESULT videoHr = seeking->SetPositions(current ? &videoCurrent : nullptr, currentFlags,
                                                  stop ? &videoStop : nullptr, stopFlags);
    return FAILED(hr) ? videoHr : hr;
  }

 private:
  CBasePin* const video_;  // not counted: the filter owns both
};

}  // namespace

// ---- both pins -----------------------------------------------------------------------------

CCamInputPin::CCamInputPin(LPCTSTR objectName, CCamExporterFilter* filter, CCritSec* lock, HRESULT* phr,
                           LPCWSTR pinName)
    : CBaseInputPin(objectName, filter, lock, phr, pinName), exporter_(filter) {}

HRESULT CCamInputPin::GetMediaType(int position, CMediaType* mt) {
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  if (!mt) return E_POINTER;
  mt->InitMediaType();
  return OfferedType(mt);
}

HRESULT CCamInputPin::CompleteConnect(IPin* receivePin) {
  HRESULT hr = CBaseInputPin::CompleteConnect(receivePin);
  if (FAILED(hr)) return hr;
  Connected();
  exporter_->BindPositionPin();
  return S_OK;
}

HRESULT CCamInputPin::BreakConnect() {
  Disconnected();
  exporter_->BindPositionPin(this);
  return CBaseInputPin::BreakConnect();
}

HRESULT CCamInputPin::Receive(IMediaSample* sample) {
  HRESULT hr = CBaseInputPin::Receive(sample);
  if (hr != S_OK) return hr;
  REFERENCE_TIME start = 0, stop = 0;
  BYTE* data = nullptr;
  LONG length = 0;
  if (FAILED(ReadSample(sample, &start, &stop, &data, &length))) return E_FAIL;
  return Deliver(sample, start, stop, data, length);
}

// ---- video pin ---------------------------------------------------------------------------------

CCamVideoInputPin::CCamVideoInputPin(CCamExporterFilter* filter, CCritSec* lock, HRESULT* phr)
    : CCamInputPin(NAME("CCamVideoInputPin"), filter, lock, phr, u"Video Input") {}

HRESULT CCamVideoInputPin::CheckMediaType(const CMediaType* mt) {
  if (!mt || *mt->Type() != MEDIATYPE_Video || *mt->Subtype() != MEDIASUBTYPE_RGB32 ||
      *mt->FormatType() != FORMAT_VideoInfo || !mt->Format() || mt->FormatLength() < sizeof(VIDEOINFOHEADER))
    return E_INVALIDARG;
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt->Format());
  if (vih->bmiHeader.biBitCount != 32 || vih->bmiHeader.biHeight < 0) return E_INVALIDARG;
  return S_OK;
}

HRESULT CCamVideoInputPin::OfferedType(CMediaType* mt) {
  mt->SetType(&MEDIATYPE_Video);
  mt->SetSubtype(&MEDIASUBTYPE_RGB32);
  return S_OK;
}

void CCamVideoInputPin::Connected() {
  exporter_->engine().VideoConnected(*reinterpret_cast<const VIDEOINFOHEADER*>(m_mt.Format()));
}

void CCamVideoInputPin::Disconnected() { exporter_->engine().VideoDisconnected(); }

HRESULT CCamVideoInputPin::Deliver(IMediaSample* sample, REFERENCE_TIME start, REFERENCE_TIME stop, BYTE* data,
                                   LONG length) {
  // The frame rate converter numbers its pictures in the media time: a repeat has the number
  // of the frame before.
  LONGLONG picture = -1, pictureEnd = -1;
  if (sample->GetMediaTime(&picture, &pictureEnd) != S_OK) picture = -1;
  // The position moves on as clipmux takes the frame (RegisterVideoTime).
  return exporter_->engine().VideoReceive(start, stop, data, length, picture);
}

HRESULT CCamVideoInputPin::EndOfStream() {
  // When the sound goes on, the last picture is held and the movie ends with the sound.
  if (!exporter_->engine().VideoEndOfStream()) return S_OK;
  // The position stays at the end of the last frame taken, which is where the movie ends.
  // (Asking upstream for the stop position from here could wait on a filter that the
  // application is stopping while this thread holds its receive lock.)
  // The movie ends with its video: the exporter is the graph's renderer, so the graph
  // completes only when it says so. The file is finished when the graph stops.
  exporter_->NotifyEvent(EC_COMPLETE, S_OK, 0);
  return S_OK;
}

HRESULT CCamVideoInputPin::BeginFlush() {
  exporter_->engine().VideoBeginFlush();
  return CBaseInputPin::BeginFlush();
}

HRESULT CCamVideoInputPin::EndFlush() {
  exporter_->engine().VideoEndFlush();
  exporter_->ResetVideoTime();
  return CBaseInputPin::EndFlush();
}

// ---- audio pin ---------------------------------------------------------------------------------

CCamAudioInputPin::CCamAudioInputPin(CCamExporterFilter* filter, CCritSec* lock, HRESULT* phr)
    : CCamInputPin(NAME("CCamAudioInputPin"), filter, lock, phr, u"Audio Input") {}

HRESULT CCamAudioInputPin::CheckMediaType(const CMediaType* mt) {
  if (!mt || *mt->Type() != MEDIATYPE_Audio || *mt->Subtype() != MEDIASUBTYPE_PCM) return E_INVALIDARG;
  if (!mt->Format() || mt->FormatLength() < 16) return E_INVALIDARG;
  WAVEFORMATEX w{};
  std::memcpy(&w, mt->Format(), std::min<size_t>(mt->FormatLength(), sizeof w));
  return IsCameraPcm(w) ? S_OK : E_FAIL;
}

HRESULT CCamAudioInputPin::OfferedType(CMediaType* mt) {
  WAVEFORMATEX w = CCamExportEngine::CameraAudioFormat();
  mt->SetType(&MEDIATYPE_Audio);
  mt->SetSubtype(&MEDIASUBTYPE_PCM);
  mt->SetFormatType(&FORMAT_WaveFormatEx);
  if (!mt->SetFormat(reinterpret_cast<const BYTE*>(&w), sizeof w)) return E_OUTOFMEMORY;
  return S_OK;
}

void CCamAudioInputPin::Connected() {
  WAVEFORMATEX w{};
  std::memcpy(&w, m_mt.Format(), std::min<size_t>(m_mt.FormatLength(), sizeof w));
  w.cbSize = 0;
  exporter_->engine().AudioConnected(w);
}

void CCamAudioInputPin::Disconnected() { exporter_->engine().AudioDisconnected(); }

HRESULT CCamAudioInputPin::Deliver(IMediaSample*, REFERENCE_TIME start, REFERENCE_TIME stop, BYTE* data, LONG length) {
  return exporter_->engine().AudioReceive(start, stop, data, length);
}

HRESULT CCamAudioInputPin::EndOfStream() {
  if (exporter_->engine().AudioEndOfStream()) exporter_->NotifyEvent(EC_COMPLETE, S_OK, 0);
  return S_OK;
}

HRESULT CCamAudioInputPin::BeginFlush() {
  exporter_->engine().AudioBeginFlush();
  return CBaseInputPin::BeginFlush();
}

HRESULT CCamAudioInputPin::EndFlush() {
  exporter_->engine().AudioEndFlush();
  return CBaseInputPin::EndFlush();
}

// ---- filter ------------------------------------------------------------------------------------

CUnknown* CCamExporterFilter::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
  auto* filter = new (std::nothrow) CCamExporterFilter(outer, phr);
  if (!filter && phr) *phr = E_OUTOFMEMORY;
  return filter;
}

CCamExporterFilter::CCamExporterFilter(LPUNKNOWN outer, HRESULT* phr)
    : CBaseFilter(NAME("CCamExporterFilter"), outer, &lock_, CLSID_CamExporterFilter),
      engine_([this](LONG code, LONG_PTR a, LONG_PTR b) { NotifyEvent(code, a, b); },
              [this](REFERENCE_TIME end) { RegisterVideoTime(end); }) {
  HRESULT hr = S_OK;
  video_.reset(new (std::nothrow) CCamVideoInputPin(this, &lock_, &hr));
  audio_.reset(new (std::nothrow) CCamAudioInputPin(this, &lock_, &hr));
  if ((!video_ || !audio_ || FAILED(hr)) && phr) *phr = FAILED(hr) ? hr : E_OUTOFMEMORY;
}

CCamExporterFilter::~CCamExporterFilter() {
  position_.Reset();  // before the pins it points at
}

CBasePin* CCamExporterFilter::GetPin(int n) {
  if (n == 0) return video_.get();
  if (n == 1) return audio_.get();
  return nullptr;
}

HRESULT CCamExporterFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IFileSinkFilter) return GetInterface(static_cast<IFileSinkFilter*>(this), ppv);
  if (riid == IID_IExportSizeLimit) return GetInterface(static_cast<IExportSizeLimit*>(this), ppv);
  if (riid == IID_IExportConfig) return GetInterface(static_cast<IExportConfig*>(this), ppv);
  if (riid == IID_IMediaSeeking || riid == IID_IMediaPosition) {
    CAutoLock lock(&lock_);
    if (!position_) {
      HRESULT hr = S_OK;
      std::unique_ptr<CExporterPosition> passThru(
          new (std::nothrow) CExporterPosition(GetOwner(), &hr, PositionPinLocked(), video_.get()));
      if (!passThru) return E_OUTOFMEMORY;
      if (FAILED(hr)) return hr;
      positionTimes_.store(passThru.get());
      // From here the inner reference keeps the pass-through.
      position_ = passThru.release()->GetInnerUnknown();
    }
    return position_->QueryInterface(riid, ppv);
  }
  return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

// The pass-through is bound to the audio input (pin index 1). A movie without sound has only
// its video input connected; seeking then goes upstream through that, or it would never
// reach the source.
IPin* CCamExporterFilter::PositionPinLocked(const CBasePin* leaving) {
  const bool audio = audio_->IsConnected() && leaving != audio_.get();
  const bool video = video_->IsConnected() && leaving != video_.get();
  return audio || !video ? static_cast<IPin*>(audio_.get()) : video_.get();
}

void CCamExporterFilter::BindPositionPin(const CBasePin* leaving) {
  CAutoLock lock(&lock_);
  if (CRendererPosPassThru* p = positionTimes_.load()) p->SetPin(PositionPinLocked(leaving));
}

void CCamExporterFilter::RegisterVideoTime(REFERENCE_TIME end) {
  // Media time: the stream time of the video input moved by its segment start. Everything
  // before the end of the frame clipmux took is in the movie.
  const REFERENCE_TIME position = end + video_->CurrentStartTime();
  if (CRendererPosPassThru* p = positionTimes_.load()) p->RegisterMediaTime(position, position);
}

void CCamExporterFilter::ResetVideoTime() {
  if (CRendererPosPassThru* p = positionTimes_.load()) p->ResetMediaTime();
}

// The span the source holds from where this run starts: its duration, or the stop position
// when that comes earlier, less the start; 0 when the source cannot say.
REFERENCE_TIME CCamExporterFilter::SourceSpanLocked() {
  ComPtr<IPin> peer;
  if (FAILED(video_->ConnectedTo(peer.ReleaseAndGetAddressOf())) || !peer) return 0;
  auto seeking = peer.As<IMediaSeeking>();
  LONGLONG duration = 0, current = 0, stop = 0;
  if (!seeking || FAILED(seeking->GetDuration(&duration)) || duration <= 0 || duration >= MAX_TIME / 2) return 0;
  if (FAILED(seeking->GetPositions(&current, &stop))) current = 0, stop = duration;
  if (stop <= 0 || stop > duration) stop = duration;
  current = std::clamp<LONGLONG>(current, 0, stop);
  return stop - current;
}

HRESULT CCamExporterFilter::Pause() {
  CAutoLock lock(&lock_);
  if (m_State == State_Stopped) {
    // A movie holds no more media time than its source, give or take a frame of rounding
    // and a last picture: time stamps that run past that are damage, not a movie.
    const REFERENCE_TIME span = SourceSpanLocked();
    engine_.SetTimeLimit(span > 0 ? span + kTimeLimitMargin : 0, kTimeLimitMargin);
    engine_.PauseFromStopped();
  }
  return CBaseFilter::Pause();
}

HRESULT CCamExporterFilter::Stop() {
  CAutoLock lock(&lock_);
  engine_.Stop();
  return CBaseFilter::Stop();
}

HRESULT CCamExporterFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  CAutoLock lock(&lock_);
  if (!graph) engine_.LeaveGraph();
  return CBaseFilter::JoinFilterGraph(graph, name);
}

HRESULT CCamExporterFilter::SetFileName(LPCOLESTR fileName, const AM_MEDIA_TYPE*) {
  if (!fileName) return E_POINTER;
  const size_t length = WideLength(fileName);
  // Refused as a failure code: the bare value 206 would read as success to every caller.
  if (length > kMaxFileNameChars) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  CAutoLock lock(&lock_);
  try {
    fileName_.assign(fileName, length);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  haveFileName_ = true;
  char ansi[4 * kMaxFileNameChars + 1] = {};
  WideCharToMultiByte(CP_ACP, 0, fileName_.c_str(), -1, ansi, int(sizeof ansi), nullptr, nullptr);
  engine_.SetOutputPath(ansi);
  return S_OK;
}

HRESULT CCamExporterFilter::GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mt) {
  if (!fileName) return E_POINTER;
  CAutoLock lock(&lock_);
  *fileName = nullptr;
  if (haveFileName_) {
    HRESULT hr = AMGetWideString(fileName_.c_str(), fileName);
    if (FAILED(hr)) return hr;
  }
  if (mt) *mt = AM_MEDIA_TYPE{};
  return S_OK;
}

HRESULT CCamExporterFilter::GetSizeLimit(LONGLONG* limit) {
  if (!limit) return E_POINTER;
  *limit = engine_.sizeLimit();
  return S_OK;
}

HRESULT CCamExporterFilter::SetSizeLimit(LONGLONG limit) {
  engine_.SetSizeLimit(limit);
  return S_OK;
}

HRESULT CCamExporterFilter::GetConfig(CONFIG* config) {
  engine_.GuardedGetConfig(config);
  return S_OK;
}

HRESULT CCamExporterFilter::SetConfig(const CONFIG* config) {
  engine_.GuardedSetConfig(config);
  return S_OK;
}

HRESULT CCamExporterFilter::ResetConfig() {
  engine_.GuardedResetConfig();
  return S_OK;
}

HRESULT CCamExporterFilter::SaveAVIasQVF(BOOL qvf) {
  engine_.GuardedSaveAVIasQVF(qvf != FALSE);
  return S_OK;
}

CUnknown* CCamHolder::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
  auto* holder = new (std::nothrow) CCamHolder(outer, phr);
  if (!holder && phr) *phr = E_OUTOFMEMORY;
  return holder;
}

// ---- registration ------------------------------------------------------------------------------

namespace {
const AMOVIESETUP_MEDIATYPE kVideoTypes[] = {{&MEDIATYPE_Video, &GUID_NULL}};
const AMOVIESETUP_MEDIATYPE kAudioTypes[] = {{&MEDIATYPE_Audio, &GUID_NULL}};
const AMOVIESETUP_PIN kPins[] = {
    {u"Video Input", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kVideoTypes},
    {u"Audio Input", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kAudioTypes},
};
// Registered with MERIT_DO_NOT_USE: the converter creates the exporter by its identifier.
constexpr DWORD kExporterMerit = MERIT_DO_NOT_USE;
}  // namespace

const AMOVIESETUP_FILTER sudCamExporter = {&CLSID_CamExporterFilter, u"VXCMN Cam Exporter Filter", kExporterMerit, 2,
                                           kPins};
