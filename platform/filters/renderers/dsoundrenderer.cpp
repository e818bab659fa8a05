#include "platform/filters/renderers/dsoundrenderer.h"

#include <SDL2/SDL.h>
#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <new>
#include <vector>

#include "media/contract/trace.h"
#include "platform/filters/avcodecutil.h"

TAV_TRACE_SOURCE(kFilters, "dsound");

namespace tav::filters {

namespace {

// The SDL functions the renderer calls. SDL is loaded when a renderer first opens a device,
// not with the filter library: a conversion never plays sound, and loading SDL (with the
// sound, display and input libraries it pulls in) would cost every process its start-up time.
struct SdlAudio {
  decltype(&::SDL_InitSubSystem) InitSubSystem;
  decltype(&::SDL_OpenAudioDevice) OpenAudioDevice;
  decltype(&::SDL_CloseAudioDevice) CloseAudioDevice;
  decltype(&::SDL_PauseAudioDevice) PauseAudioDevice;
  decltype(&::SDL_ClearQueuedAudio) ClearQueuedAudio;
  decltype(&::SDL_QueueAudio) QueueAudio;
  decltype(&::SDL_GetError) GetError;
};
SdlAudio sdl;  // filled once by StartSdlAudio; used only while a device is open

template <typename F>
bool Resolve(void* library, const char* name, F* out) {
  *out = reinterpret_cast<F>(dlsym(library, name));
  return *out != nullptr;
}

bool LoadSdl() {
  // The library's ABI name; it stays loaded for the rest of the process.
  void* library = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    TAV_TRACE("SDL not loaded: %s", dlerror());
    return false;
  }
  const bool ok = Resolve(library, "SDL_InitSubSystem", &sdl.InitSubSystem) &&
                  Resolve(library, "SDL_OpenAudioDevice", &sdl.OpenAudioDevice) &&
                  Resolve(library, "SDL_CloseAudioDevice", &sdl.CloseAudioDevice) &&
                  Resolve(library, "SDL_PauseAudioDevice", &sdl.PauseAudioDevice) &&
                  Resolve(library, "SDL_ClearQueuedAudio", &sdl.ClearQueuedAudio) &&
                  Resolve(library, "SDL_QueueAudio", &sdl.QueueAudio) && Resolve(library, "SDL_GetError", &sdl.GetError);
  if (!ok) dlclose(library);
  return ok;
}

// SDL's audio subsystem, started once per process; false when there is no audio at all
// (the renderer then plays silently, on the clock).
bool StartSdlAudio() {
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] { ok = LoadSdl() && sdl.InitSubSystem(SDL_INIT_AUDIO) == 0; });
  return ok;
}

}  // namespace

CDSoundRenderer::CDSoundRenderer(LPUNKNOWN outer, HRESULT* phr)
    : CBaseRenderer(CLSID_DSoundRender, NAME("DirectSound Audio Renderer"), outer, phr) {}

CDSoundRenderer::~CDSoundRenderer() {
  CAutoLock lock(&deviceLock_);
  CloseDeviceLocked();
}

CUnknown* CDSoundRenderer::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
  auto* f = new (std::nothrow) CDSoundRenderer(outer, phr);
  if (!f && phr) *phr = E_OUTOFMEMORY;
  return f;
}

STDMETHODIMP CDSoundRenderer::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IBasicAudio) return GetInterface(static_cast<IBasicAudio*>(this), ppv);
  if (riid == IID_IReferenceClock) {
    CAutoLock lock(&m_InterfaceLock);
    if (!clock_.inner &&
        FAILED(CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, IID_IReferenceClock,
                                clock_.inner.AsVoidOut())))
      return E_NOINTERFACE;
    return GetInterface(static_cast<IReferenceClock*>(&clock_), ppv);
  }
  return CBaseRenderer::NonDelegatingQueryInterface(riid, ppv);
}

// ---- negotiation ----------------------------------------------------------------------------

HRESULT CDSoundRenderer::CheckMediaType(const CMediaType* mt) {
  if (!mt) return E_POINTER;
  if (mt->majortype != MEDIATYPE_Audio) return VFW_E_TYPE_NOT_ACCEPTED;
  const WAVEFORMATEX* wfx = AudioWaveFormat(*mt);
  bool packed24 = false;
  const AVSampleFormat fmt = RawSampleFormat(*mt, &packed24);
  if (!wfx || packed24 || fmt == AV_SAMPLE_FMT_NONE || fmt == AV_SAMPLE_FMT_DBL) return VFW_E_TYPE_NOT_ACCEPTED;
  if (wfx->nChannels < 1 || wfx->nChannels > 8 || wfx->nSamplesPerSec < 1000 || wfx->nSamplesPerSec > 384000)
    return VFW_E_TYPE_NOT_ACCEPTED;
  return wfx->nBlockAlign == wfx->nChannels * wfx->wBitsPerSample / 8 ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CDSoundRenderer::SetMediaType(const CMediaType* mt) {
  const WAVEFORMATEX* wfx = AudioWaveFormat(*mt);
  switch (RawSampleFormat(*mt)) {
    case AV_SAMPLE_FMT_U8: sdlFormat_ = AUDIO_U8; break;
    case AV_SAMPLE_FMT_S16: sdlFormat_ = AUDIO_S16LSB; break;
    case AV_SAMPLE_FMT_S32: sdlFormat_ = AUDIO_S32LSB; break;
    case AV_SAMPLE_FMT_FLT: sdlFormat_ = AUDIO_F32LSB; break;
    default: return VFW_E_TYPE_NOT_ACCEPTED;
  }
  channels_ = wfx->nChannels;
  rate_ = int(wfx->nSamplesPerSec);
  return S_OK;
}

HRESULT CDSoundRenderer::BreakConnect() {
  {
    CAutoLock lock(&deviceLock_);
    CloseDeviceLocked();
  }
  return CBaseRenderer::BreakConnect();
}

// ---- device -----------------------------------------------------------------------------------

void CDSoundRenderer::OpenDeviceLocked() {
  if (device_ || !StartSdlAudio()) return;
  SDL_AudioSpec want{};
  want.freq = rate_;
  want.format = sdlFormat_;
  want.channels = Uint8(channels_);
  want.samples = 1024;
  SDL_AudioSpec have{};
  device_ = sdl.OpenAudioDevice(nullptr, 0, &want, &have, 0);
  TAV_TRACE("%p open device -> %u (%s)", static_cast<void*>(this), device_, device_ ? "" : sdl.GetError());
}

void CDSoundRenderer::CloseDeviceLocked() {
  if (!device_) return;
  sdl.CloseAudioDevice(device_);
  device_ = 0;
}

bool CDSoundRenderer::HasDevice() const {
  CAutoLock lock(&deviceLock_);
  return device_ != 0;
}

STDMETHODIMP CDSoundRenderer::Pause() {
  {
    CAutoLock lock(&deviceLock_);
    if (m_pInputPin && m_pInputPin->IsConnected()) OpenDeviceLocked();
    if (device_) sdl.PauseAudioDevice(device_, 1);
  }
  return CBaseRenderer::Pause();
}

HRESULT CDSoundRenderer::OnStartStreaming() {
  CAutoLock lock(&deviceLock_);
  if (device_) sdl.PauseAudioDevice(device_, 0);
  return S_OK;
}

HRESULT CDSoundRenderer::OnStopStreaming() {
  CAutoLock lock(&deviceLock_);
  if (device_) sdl.PauseAudioDevice(device_, 1);
  return S_OK;
}

STDMETHODIMP CDSoundRenderer::Stop() {
  HRESULT hr = CBaseRenderer::Stop();
  CAutoLock lock(&deviceLock_);
  if (device_) sdl.ClearQueuedAudio(device_);
  return hr;
}

HRESULT CDSoundRenderer::EndFlush() {
  {
    CAutoLock lock(&deviceLock_);
    if (device_) sdl.ClearQueuedAudio(device_);
  }
  return CBaseRenderer::EndFlush();
}

HRESULT CDSoundRenderer::DoRenderSample(IMediaSample* sample) {
  CAutoLock lock(&deviceLock_);
  // Silent playback: the sample was due now on the clock, and that is all.
  if (!device_) return S_OK;
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  const long length = sample->GetActualDataLength();
  if (!data || length <= 0) return S_OK;
  if (volume_ == 0 || sdlFormat_ != AUDIO_S16LSB) {
    sdl.QueueAudio(device_, data, Uint32(length));
    return S_OK;
  }
  const double gain = std::pow(10.0, volume_ / 2000.0);
  std::vector<int16_t> scaled(size_t(length) / 2);
  const auto* in = reinterpret_cast<const int16_t*>(data);
  for (size_t i = 0; i < scaled.size(); ++i) scaled[i] = int16_t(std::lround(in[i] * gain));
  sdl.QueueAudio(device_, scaled.data(), Uint32(scaled.size() * 2));
  return S_OK;
}

// ---- IBasicAudio ------------------------------------------------------------------------------

STDMETHODIMP CDSoundRenderer::put_Volume(LONG volume) {
  if (volume < -10000 || volume > 0) return E_INVALIDARG;
  CAutoLock lock(&deviceLock_);
  volume_ = volume;
  return S_OK;
}
STDMETHODIMP CDSoundRenderer::get_Volume(LONG* volume) {
  if (!volume) return E_POINTER;
  CAutoLock lock(&deviceLock_);
  *volume = volume_;
  return S_OK;
}
STDMETHODIMP CDSoundRenderer::put_Balance(LONG balance) {
  return balance < -10000 || balance > 10000 ? E_INVALIDARG : S_OK;
}
STDMETHODIMP CDSoundRenderer::get_Balance(LONG* balance) {
  if (!balance) return E_POINTER;
  *balance = 0;
  return S_OK;
}

// ---- clock ------------------------------------------------------------------------------------

STDMETHODIMP CDSoundRenderer::Clock::GetTime(REFERENCE_TIME* time) { return inner->GetTime(time); }
STDMETHODIMP CDSoundRenderer::Clock::AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event,
                                                DWORD_PTR* cookie) {
  return inner->AdviseTime(baseTime, streamTime, event, cookie);
}
STDMETHODIMP CDSoundRenderer::Clock::AdvisePeriodic(REFERENCE_TIME start, REFERENCE_TIME period, HSEMAPHORE semaphore,
                                                    DWORD_PTR* cookie) {
  return inner->AdvisePeriodic(start, period, semaphore, cookie);
}
STDMETHODIMP CDSoundRenderer::Clock::Unadvise(DWORD_PTR cookie) { return inner->Unadvise(cookie); }

}  // namespace tav::filters

namespace {
const REGPINTYPES kAudioIn[] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM}, {&MEDIATYPE_Audio, &MEDIASUBTYPE_IEEE_FLOAT}};
const AMOVIESETUP_PIN kAudioPins[] = {
    {u"Audio Input pin (rendered)", TRUE, FALSE, FALSE, FALSE, &GUID_NULL, nullptr, 2, kAudioIn}};
}  // namespace

const AMOVIESETUP_FILTER sudDSoundRenderer = {&CLSID_DSoundRender, u"DirectSound Audio Renderer", MERIT_PREFERRED, 1,
                                              kAudioPins};
