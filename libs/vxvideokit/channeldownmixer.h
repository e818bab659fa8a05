// "VXCMN Audio channel mixer" (ChannelDownmixer): PCM or float audio of up to 18 speaker
// positions in, the layout, sample width and channel count of its settings out (16-bit
// stereo by default). The arithmetic lives in channelmix.h.
//
// Lock order: 1. m_csFilter (settings, connection)  2. m_csMixer (the configured mixer).
#pragma once

#include "libs/vxvideokit/filterfactory.h"
#include "libs/vxvideokit/channelmix.h"
#include "libs/vxvideokit/vxvideokit.h"
#include "media/contract/objidl.h"
#include "platform/streaming/base/dllsetup.h"
#include "platform/streaming/base/transform.h"

class CChannelDownmixer : public CTransformFilter, public IChannelDownmixerSettings, public IPersistStream {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr);

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // Pins "Input" and "Output", made on first request.
  CBasePin* GetPin(int n) override;
  HRESULT CheckInputType(const CMediaType* in) override;
  HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override;
  HRESULT GetMediaType(int position, CMediaType* mt) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
  HRESULT SetMediaType(PIN_DIRECTION dir, const CMediaType* mt) override;
  HRESULT BreakConnect(PIN_DIRECTION dir) override;
  HRESULT Transform(IMediaSample* in, IMediaSample* out) override;

  // IChannelDownmixerSettings
  STDMETHODIMP GetSettings(BYTE* formatBlock, BYTE* gainBlock, BYTE* matrixBlock) override;
  STDMETHODIMP SetSettings(const BYTE* formatBlock, const BYTE* gainBlock, const BYTE* matrixBlock) override;
  STDMETHODIMP GetPinConnections(BOOL* inputConnected, BOOL* outputConnected) override;
  STDMETHODIMP GetMatrix(double* coefficients) override;
  STDMETHODIMP SetMatrix(const double* coefficients) override;

  // IPersist / IPersistStream
  STDMETHODIMP GetClassID(CLSID* clsid) override;
  STDMETHODIMP IsDirty() override;
  STDMETHODIMP Load(IStream* stream) override;
  STDMETHODIMP Save(IStream* stream, BOOL clearDirty) override;
  STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;

 private:
  CChannelDownmixer(LPUNKNOWN outer, HRESULT* phr);
  friend CUnknown* vxvk::CreateFilterInstance<CChannelDownmixer>(LPUNKNOWN, HRESULT*);

  // The output type for the connected input (settings and input under m_csFilter).
  HRESULT MakeOutputTypeLocked(CMediaType* mt);
  // Applies new settings: refused while connected when the output format would change.
  HRESULT ApplySettingsLocked(const vxvk::DownmixSettings& s);
  bool AnyPinConnected();
  // Reads the profile flag into the settings (when settings are loaded).
  void ReadProfileFlagLocked();
  // Configures the mixer for an input format with the current settings (m_csFilter held).
  void ConfigureMixerLocked(const vxvk::MixInputFormat& in, DWORD rate);
  // A type that arrived with a sample: the mixer follows it when it can mix it at the
  // connected rate; otherwise the sample is mixed with the connected format.
  void TakeChangedInputType(const CMediaType& type);
  // Hands a taken type to the input pin, when the filter lock is free.
  void PassChangedTypeToPin();

  // Configuration, guarded by m_csFilter
  vxvk::DownmixSettings m_settings;
  bool m_dirty = false;
  // Negotiated on connect, guarded by m_csFilter
  CMediaType m_inputType;  // an extensible float input is kept with a PCM sub-format
  bool m_floatInput = false;
  // Guards the mixer and what the streaming thread needs to judge a changed input type
  // without the filter lock: configured on connection and settings changes, used by Transform.
  CCritSec m_csMixer;
  vxvk::ChannelMixer m_mixer;           // guarded by m_csMixer
  vxvk::DownmixSettings m_mixerSettings;  // the settings m_mixer was configured with; guarded by m_csMixer
  DWORD m_mixerRate = 0;                // the input rate m_mixer was configured for; guarded by m_csMixer
  CMediaType m_typeForPin;              // a changed input type the pin has yet to take; guarded by m_csMixer
  bool m_typeForPinWaiting = false;     // guarded by m_csMixer
};

extern const AMOVIESETUP_FILTER sudChannelDownmixer;
