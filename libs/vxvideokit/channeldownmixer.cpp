#include "libs/vxvideokit/channeldownmixer.h"

#include <cstring>
#include <new>

#include "media/contract/profile.h"
#include "media/contract/trace.h"

TAV_TRACE_SOURCE(kVideoKit, "downmix");

namespace {

const WAVEFORMATEX* WaveFormatOf(const AM_MEDIA_TYPE& mt) {
  if (mt.formattype != FORMAT_WaveFormatEx || !mt.pbFormat || mt.cbFormat < sizeof(WAVEFORMATEX)) return nullptr;
  return reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
}

// The user's profile: the per-user "win.ini" of the platform.
UINT GetProfileIntA(LPCSTR section, LPCSTR key, INT defaultValue) {
  return GetPrivateProfileInt(section, key, defaultValue, "win.ini");
}

}  // namespace

CUnknown* CChannelDownmixer::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
  return vxvk::CreateFilterInstance<CChannelDownmixer>(outer, phr);
}

CChannelDownmixer::CChannelDownmixer(LPUNKNOWN outer, HRESULT* phr)
    : CTransformFilter(NAME("ChannelDownmixer"), outer, CLSID_VxChannelDownmixer),
      m_settings(vxvk::DefaultDownmixSettings()) {
  CAutoLock lock(&m_csFilter);
  ReadProfileFlagLocked();
}

void CChannelDownmixer::ReadProfileFlagLocked() {
  m_settings.matrixBlock.raiseMeritAndSingleInstance =
      GetProfileIntA("ChannelDownmixer", "bRaiseMeritAndSingleInstance", 0) != 0;
}

HRESULT CChannelDownmixer::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IChannelDownmixerSettings) return GetInterface(static_cast<IChannelDownmixerSettings*>(this), ppv);
  if (riid == IID_IPersistStream) return GetInterface(static_cast<IPersistStream*>(this), ppv);
  return CTransformFilter::NonDelegatingQueryInterface(riid, ppv);
}

CBasePin* CChannelDownmixer::GetPin(int n) {
  CAutoLock lock(&m_csFilter);
  return MakePins(
      n,
      [this](HRESULT* hr) {
        return new (std::nothrow) CTransformInputPin(NAME("channel mixer input"), this, hr, u"Input");
      },
      [this](HRESULT* hr) {
        return new (std::nothrow) CTransformOutputPin(NAME("channel mixer output"), this, hr, u"Output");
      });
}

bool CChannelDownmixer::AnyPinConnected() {
  return (m_pInput && m_pInput->IsConnected()) || (m_pOutput && m_pOutput->IsConnected());
}

// ---- negotiation ---------------------------------------------------------------------------

HRESULT CChannelDownmixer::CheckInputType(const CMediaType* in) {
  if (!in) return E_POINTER;
  if (in->majortype != MEDIATYPE_Audio || in->formattype != FORMAT_WaveFormatEx) return VFW_E_TYPE_NOT_ACCEPTED;
  CAutoLock lock(&m_csFilter);
  return vxvk::CheckDownmixInput(in->pbFormat, in->cbFormat, m_settings);
}

HRESULT CChannelDownmixer::MakeOutputTypeLocked(CMediaType* mt) {
  const WAVEFORMATEX* in = WaveFormatOf(m_inputType);
  if (!in) return E_UNEXPECTED;
  const std::vector<BYTE> format = vxvk::DownmixOutputFormat(*in, m_settings);
  mt->InitMediaType();
  mt->SetType(&MEDIATYPE_Audio);
  mt->SetSubtype(&MEDIASUBTYPE_PCM);
  mt->SetFormatType(&FORMAT_WaveFormatEx);
  mt->SetTemporalCompression(FALSE);
  mt->SetSampleSize(m_inputType.lSampleSize);
  if (!mt->SetFormat(format.data(), ULONG(format.size()))) return E_OUTOFMEMORY;
  return S_OK;
}

HRESULT CChannelDownmixer::GetMediaType(int position, CMediaType* mt) {
  if (!mt) return E_POINTER;
  if (!m_pInput || !m_pInput->IsConnected()) return E_UNEXPECTED;
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  CAutoLock lock(&m_csFilter);
  return MakeOutputTypeLocked(mt);
}

HRESULT CChannelDownmixer::CheckTransform(const CMediaType* in, const CMediaType* out) {
  if (!in || !out) return E_POINTER;
  CAutoLock lock(&m_csFilter);
  CMediaType expected;
  if (FAILED(MakeOutputTypeLocked(&expected))) return VFW_E_TYPE_NOT_ACCEPTED;
  return MediaTypesEqual(expected, *out) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CChannelDownmixer::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  if (!allocator || !request) return E_POINTER;
  if (!m_pInput || !m_pInput->IsConnected()) return E_UNEXPECTED;
  ALLOCATOR_PROPERTIES input{};
  if (!m_pInput->Allocator() || FAILED(m_pInput->Allocator()->GetProperties(&input))) return E_UNEXPECTED;
  LONGLONG size = 0;
  LONG align = 1;
  {
    CAutoLock lock(&m_csFilter);
    const WAVEFORMATEX* in = WaveFormatOf(m_inputType);
    if (!in) return E_UNEXPECTED;
    const LONGLONG inBytes = (in->wBitsPerSample + 7) / 8;  // whole bytes, as the samples are stored
    const LONGLONG outBits = m_settings.format.outputBits, outChannels = m_settings.format.outputChannels;
    size = (outBits / 8) * input.cbBuffer * outChannels / inBytes / in->nChannels + 200;
    align = LONG(outChannels * outBits / 8);
  }
  if (size > 0x7FFFFFFF) return E_FAIL;
  request->cBuffers = 10;
  request->cbBuffer = LONG(size);
  request->cbAlign = align;
  ALLOCATOR_PROPERTIES actual{};
  HRESULT hr = allocator->SetProperties(request, &actual);
  // A block alignment that is not a power of two cannot be an allocator alignment; the
  // buffers then only need whole bytes.
  if (hr == VFW_E_BADALIGN) {
    request->cbAlign = 1;
    hr = allocator->SetProperties(request, &actual);
  }
  if (FAILED(hr)) return hr;
  if (actual.cBuffers < request->cBuffers || actual.cbBuffer < request->cbBuffer) return E_FAIL;
  return S_OK;
}

HRESULT CChannelDownmixer::SetMediaType(PIN_DIRECTION dir, const CMediaType* mt) {
  if (!mt) return E_POINTER;
  if (dir != PINDIR_INPUT) return S_OK;
  CAutoLock lock(&m_csFilter);
  const WAVEFORMATEX* w = WaveFormatOf(*mt);
  if (!w) return VFW_E_TYPE_NOT_ACCEPTED;
  const vxvk::MixInputFormat described = vxvk::DescribeMixInput(mt->pbFormat, mt->cbFormat);
  m_inputType = *mt;
  m_floatInput = described.isFloat;
  // The samples are mixed as 32-bit integers: an extensible float input is kept as PCM.
  if (m_floatInput && w->wFormatTag == WAVE_FORMAT_EXTENSIBLE && m_inputType.cbFormat >= sizeof(WAVEFORMATEXTENSIBLE))
    reinterpret_cast<WAVEFORMATEXTENSIBLE*>(m_inputType.pbFormat)->SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
  ConfigureMixerLocked(described, w->nSamplesPerSec);
  return S_OK;
}

void CChannelDownmixer::ConfigureMixerLocked(const vxvk::MixInputFormat& in, DWORD rate) {
  CAutoLock mixer(&m_csMixer);
  m_mixer.Configure(in, m_settings);
  m_mixerSettings = m_settings;
  m_mixerRate = rate;
}

HRESULT CChannelDownmixer::BreakConnect(PIN_DIRECTION dir) {
  if (dir == PINDIR_INPUT) {
    CAutoLock lock(&m_csFilter);
    m_inputType.InitMediaType();
    m_floatInput = false;
    CAutoLock mixer(&m_csMixer);
    m_typeForPinWaiting = false;
    m_mixerRate = 0;
  }
  return CTransformFilter::BreakConnect(dir);
}

// ---- streaming -----------------------------------------------------------------------------

HRESULT CChannelDownmixer::Transform(IMediaSample* in, IMediaSample* out) {
  if (!in || !out) return E_POINTER;
  // Times, sync point, preroll and discontinuity come with the output sample from the base
  // class; media times are copied here.
  LONGLONG mediaStart = 0, mediaStop = 0;
  if (in->GetMediaTime(&mediaStart, &mediaStop) == S_OK) out->SetMediaTime(&mediaStart, &mediaStop);

  CMediaType type;
  if (SampleMediaType(in, &type)) TakeChangedInputType(type);
  PassChangedTypeToPin();

  BYTE* src = nullptr;
  BYTE* dst = nullptr;
  if (FAILED(in->GetPointer(&src)) || FAILED(out->GetPointer(&dst)) || !src || !dst) return E_UNEXPECTED;
  const LONG inBytes = in->GetActualDataLength();
  const LONG outCapacity = out->GetSize();
  if (inBytes < 0 || outCapacity < 0) return E_UNEXPECTED;
  size_t written;
  {
    // A sample that announces another type is still mixed with the connected format.
    CAutoLock lock(&m_csMixer);
    written = m_mixer.Process(src, size_t(inBytes), dst, size_t(outCapacity));
  }
  return out->SetActualDataLength(LONG(written));
}

void CChannelDownmixer::TakeChangedInputType(const CMediaType& type) {
  const WAVEFORMATEX* w = WaveFormatOf(type);
  if (type.majortype != MEDIATYPE_Audio || !w) return;
  CAutoLock mixer(&m_csMixer);
  // The output type carries the connected rate, so a new rate cannot be followed.
  if (w->nSamplesPerSec != m_mixerRate) return;
  if (vxvk::CheckDownmixInput(type.pbFormat, type.cbFormat, m_mixerSettings) != S_OK) return;
  m_mixer.Configure(vxvk::DescribeMixInput(type.pbFormat, type.cbFormat), m_mixerSettings);
  m_typeForPin = type;
  m_typeForPinWaiting = true;
}

void CChannelDownmixer::PassChangedTypeToPin() {
  if (!m_pInput) return;
  {
    CAutoLock mixer(&m_csMixer);
    if (!m_typeForPinWaiting) return;
  }
  // Stop holds the filter lock while it waits for the sample in progress: never wait for
  // that lock here. The pin takes the type with a later sample instead.
  if (!m_csFilter.TryLock()) return;
  CMediaType type;
  {
    CAutoLock mixer(&m_csMixer);
    type = m_typeForPin;
    m_typeForPinWaiting = false;
  }
  // The pin keeps the type and the filter its copy of the input type; the mixer already mixes it.
  m_pInput->SetMediaType(&type);
  m_csFilter.Unlock();
}

// ---- settings ------------------------------------------------------------------------------

HRESULT CChannelDownmixer::ApplySettingsLocked(const vxvk::DownmixSettings& s) {
  if (!vxvk::DownmixSettingsValid(s)) return E_INVALIDARG;
  if (AnyPinConnected() && std::memcmp(&s.format, &m_settings.format, sizeof s.format) != 0)
    return VFW_E_ALREADY_CONNECTED;
  m_settings = s;
  m_dirty = true;
  if (WaveFormatOf(m_inputType)) {
    vxvk::MixInputFormat described = vxvk::DescribeMixInput(m_inputType.pbFormat, m_inputType.cbFormat);
    described.isFloat = m_floatInput;
    ConfigureMixerLocked(described, WaveFormatOf(m_inputType)->nSamplesPerSec);
  }
  return S_OK;
}

HRESULT CChannelDownmixer::GetSettings(BYTE* formatBlock, BYTE* gainBlock, BYTE* matrixBlock) {
  TAV_TRACE("GetSettings(%p, %p, %p)", static_cast<void*>(formatBlock), static_cast<void*>(gainBlock), static_cast<void*>(matrixBlock));
  CAutoLock lock(&m_csFilter);
  if (formatBlock) std::memcpy(formatBlock, &m_settings.format, VXDOWNMIX_FORMAT_BLOCK_BYTES);
  if (gainBlock) std::memcpy(gainBlock, &m_settings.gains, VXDOWNMIX_GAIN_BLOCK_BYTES);
  if (matrixBlock) std::memcpy(matrixBlock, &m_settings.matrixBlock, VXDOWNMIX_MATRIX_BLOCK_BYTES);
  return S_OK;
}

HRESULT CChannelDownmixer::SetSettings(const BYTE* formatBlock, const BYTE* gainBlock, const BYTE* matrixBlock) {
  TAV_TRACE("SetSettings(%p, %p, %p)", static_cast<const void*>(formatBlock), static_cast<const void*>(gainBlock), static_cast<const void*>(matrixBlock));
  CAutoLock lock(&m_csFilter);
  vxvk::DownmixSettings s = m_settings;
  if (formatBlock) std::memcpy(&s.format, formatBlock, VXDOWNMIX_FORMAT_BLOCK_BYTES);
  if (gainBlock) std::memcpy(&s.gains, gainBlock, VXDOWNMIX_GAIN_BLOCK_BYTES);
  if (matrixBlock) std::memcpy(&s.matrixBlock, matrixBlock, VXDOWNMIX_MATRIX_BLOCK_BYTES);
  return ApplySettingsLocked(s);
}

HRESULT CChannelDownmixer::GetPinConnections(BOOL* inputConnected, BOOL* outputConnected) {
  TAV_TRACE("GetPinConnections(%p, %p)", static_cast<void*>(inputConnected), static_cast<void*>(outputConnected));
  if (!inputConnected || !outputConnected) return E_POINTER;
  CAutoLock lock(&m_csFilter);
  *inputConnected = m_pInput && m_pInput->IsConnected();
  *outputConnected = m_pOutput && m_pOutput->IsConnected();
  return S_OK;
}

HRESULT CChannelDownmixer::GetMatrix(double* coefficients) {
  TAV_TRACE("GetMatrix(%p)", static_cast<void*>(coefficients));
  if (!coefficients) return E_POINTER;
  CAutoLock lock(&m_csFilter);
  std::memcpy(coefficients, m_settings.matrix, sizeof m_settings.matrix);
  return S_OK;
}

HRESULT CChannelDownmixer::SetMatrix(const double* coefficients) {
  TAV_TRACE("SetMatrix(%p)", static_cast<const void*>(coefficients));
  if (!coefficients) return E_POINTER;
  CAutoLock lock(&m_csFilter);
  vxvk::DownmixSettings s = m_settings;
  std::memcpy(s.matrix, coefficients, sizeof s.matrix);
  return ApplySettingsLocked(s);
}

// ---- persistence ---------------------------------------------------------------------------

HRESULT CChannelDownmixer::GetClassID(CLSID* clsid) { return CTransformFilter::GetClassID(clsid); }

HRESULT CChannelDownmixer::IsDirty() {
  CAutoLock lock(&m_csFilter);
  return m_dirty ? S_OK : S_FALSE;
}

HRESULT CChannelDownmixer::Load(IStream* stream) {
  TAV_TRACE("Load(%p)", static_cast<void*>(stream));
  if (!stream) return E_POINTER;
  std::vector<BYTE> data(vxvk::kDownmixPersistHeaderBytes + sizeof(vxvk::DownmixSettings));
  ULONG read = 0;
  HRESULT hr = stream->Read(data.data(), ULONG(data.size()), &read);
  if (FAILED(hr)) return hr;
  vxvk::DownmixSettings s;
  hr = vxvk::LoadDownmixSettings(data.data(), read, &s);
  if (FAILED(hr)) return hr;
  CAutoLock lock(&m_csFilter);
  const vxvk::DownmixSettings before = m_settings;
  ReadProfileFlagLocked();
  s.matrixBlock.raiseMeritAndSingleInstance = m_settings.matrixBlock.raiseMeritAndSingleInstance;
  hr = ApplySettingsLocked(s);
  if (FAILED(hr)) {
    m_settings = before;
    return hr;
  }
  m_dirty = false;
  return S_OK;
}

HRESULT CChannelDownmixer::Save(IStream* stream, BOOL clearDirty) {
  TAV_TRACE("Save(%p, %d)", static_cast<void*>(stream), clearDirty);
  if (!stream) return E_POINTER;
  std::vector<BYTE> data;
  {
    CAutoLock lock(&m_csFilter);
    data = vxvk::SaveDownmixSettings(m_settings);
  }
  ULONG written = 0;
  HRESULT hr = stream->Write(data.data(), ULONG(data.size()), &written);
  if (FAILED(hr)) return hr;
  if (written != data.size()) return E_FAIL;  // the stream took only part of the settings
  if (clearDirty) {
    CAutoLock lock(&m_csFilter);
    m_dirty = false;
  }
  return S_OK;
}

HRESULT CChannelDownmixer::GetSizeMax(ULARGE_INTEGER* size) {
  if (!size) return E_POINTER;
  size->QuadPart = sizeof(vxvk::DownmixSettings) + vxvk::kDownmixPersistHeaderBytes;
  return S_OK;
}

// ---- registration --------------------------------------------------------------------------

namespace {
const AMOVIESETUP_MEDIATYPE kAudioPcm[] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM}};
const AMOVIESETUP_PIN kPins[] = {
    {u"Input", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, u"", 1, kAudioPcm},
    {u"Output", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, u"", 1, kAudioPcm},
};
}  // namespace

const AMOVIESETUP_FILTER sudChannelDownmixer = {&CLSID_VxChannelDownmixer, u"VXCMN Audio channel mixer",
                                                MERIT_DO_NOT_USE, 2, kPins};
