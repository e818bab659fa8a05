// "VXCMN Audio channel mixer" (ChannelDownmixer): PCM or float audio of up to 18 speaker
// positions in, the layout, sample width and channel count of its settings out (16-bit
// stereo by default). The arithmetic lives in channelmix.h.
//
// Lock order: 1. m_csFilter (settings, connection)  2. m_csMixer (the configured mixer).
#pragma once

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

  // The output type for the connected input (settings and input under m_csFilter).
  HRESULT MakeOutputTypeLocked(CMediaType* mt);
  // Applies new settings: refused while connected when the output format would change.
  HRESULT ApplySettingsLocked(const vxvk::DownmixSettings& s);
  bool AnyPinConnected();
  // Reads the profile flag into the settings (when settings are loaded).
  void ReadProfileFlagLocked();

  // Configuration, guarded by m_csFilter
  vxvk::DownmixSettings m_settings;
  bool m_dirty = false;
  // Negotiated on connect, guarded by m_csFilter
  CMediaType m_inputType;  // an extensible float input is kept with a PCM sub-format
  bool m_floatInput = false;
  // Guards m_mixer: configured on connection and settings changes, used by Transform.
  CCritSec m_csMixer;
  vxvk::ChannelMixer m_mixer;  // guarded by m_csMixer
};

extern const AMOVIESETUP_FILTER sudChannelDownmixer;
