// "DirectSound Audio Renderer": plays PCM (8, 16 or 32-bit integer, 32-bit float; up to
// eight channels) through SDL2 audio, each sample handed to the device at its time on the
// graph's clock (at once when the graph runs without one). It offers the graph a reference
// clock, which runs on the system's monotonic time. Without a sound device the renderer
// plays silently and is paced by that same clock, so a preview still runs at real time.
//
// Lock order: m_InterfaceLock (filter lock) before m_RendererLock (the base class's) before
// deviceLock_ (the SDL device, also used by the streaming thread in DoRenderSample).
#pragma once

#include <cstdint>

#include "platform/streaming/base/streams.h"

namespace tav::filters {

class CDSoundRenderer final : public CBaseRenderer, public IBasicAudio {
 public:
  CDSoundRenderer(LPUNKNOWN outer, HRESULT* phr);
  ~CDSoundRenderer() override;
  static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr);

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  HRESULT CheckMediaType(const CMediaType* mt) override;
  HRESULT SetMediaType(const CMediaType* mt) override;
  HRESULT DoRenderSample(IMediaSample* sample) override;
  HRESULT OnStartStreaming() override;
  HRESULT OnStopStreaming() override;
  HRESULT BreakConnect() override;
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  HRESULT EndFlush() override;

  // IBasicAudio: volume in hundredths of a decibel (-10000 silent .. 0 full), balance ignored.
  STDMETHODIMP put_Volume(LONG volume) override;
  STDMETHODIMP get_Volume(LONG* volume) override;
  STDMETHODIMP put_Balance(LONG balance) override;
  STDMETHODIMP get_Balance(LONG* balance) override;

  // True while samples go to a real device (false: silent playback).
  bool HasDevice() const;

 private:
  // The reference clock the renderer offers: the system clock's time and advises, under
  // this filter's identity.
  class Clock final : public IReferenceClock {
   public:
    explicit Clock(CDSoundRenderer* owner) : owner_(owner) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return owner_->GetOwner()->QueryInterface(riid, ppv); }
    STDMETHODIMP_(ULONG) AddRef() override { return owner_->GetOwner()->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return owner_->GetOwner()->Release(); }
    STDMETHODIMP GetTime(REFERENCE_TIME* time) override;
    STDMETHODIMP AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event, DWORD_PTR* cookie) override;
    STDMETHODIMP AdvisePeriodic(REFERENCE_TIME start, REFERENCE_TIME period, HSEMAPHORE semaphore, DWORD_PTR* cookie) override;
    STDMETHODIMP Unadvise(DWORD_PTR cookie) override;
    ComPtr<IReferenceClock> inner;  // the system clock, made on first request

   private:
    CDSoundRenderer* owner_;
  };

  void OpenDeviceLocked();
  void CloseDeviceLocked();

  Clock clock_{this};

  // Negotiated on connect, guarded by m_InterfaceLock
  uint16_t sdlFormat_ = 0;  // SDL_AudioFormat of the connected type
  int channels_ = 0, rate_ = 0;

  // Guards device_ and volume_.
  mutable CCritSec deviceLock_;
  uint32_t device_ = 0;  // SDL audio device; 0 when playing silently
  LONG volume_ = 0;
};

}  // namespace tav::filters

extern const AMOVIESETUP_FILTER sudDSoundRenderer;
