#include "libs/vxvideokit/audiocompressor.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "media/contract/comptr.h"
#include "media/contract/trace.h"

TAV_TRACE_SOURCE(kVideoKit, "audiocompressor");

namespace {

constexpr LONG kOutputBuffers = 4;
// The smallest output buffer: a few compressed frames even for tiny input buffers.
constexpr LONG kMinOutputBufferBytes = 8192;
constexpr REFERENCE_TIME kUnitsPerSecond = 10000000;

const WAVEFORMATEX* WaveFormatOf(const AM_MEDIA_TYPE& mt) {
  if (mt.formattype != FORMAT_WaveFormatEx || !mt.pbFormat || mt.cbFormat < sizeof(PCMWAVEFORMAT)) return nullptr;
  const auto* w = reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
  // A compressed format must hold the extra bytes its header announces.
  if (w->wFormatTag != WAVE_FORMAT_PCM && (mt.cbFormat < sizeof(WAVEFORMATEX) || mt.cbFormat < vxvk::WaveFormatBytes(*w)))
    return nullptr;
  return w;
}

WAVEFORMATEX* Wfx(vxvk::WaveFormatBlock& b) { return reinterpret_cast<WAVEFORMATEX*>(b.data()); }
const WAVEFORMATEX* Wfx(const vxvk::WaveFormatBlock& b) { return reinterpret_cast<const WAVEFORMATEX*>(b.data()); }

// Whether some driver converts `in` to `out`.
bool Converts(const vxvk::WaveFormatBlock& in, const vxvk::WaveFormatBlock& out) {
  vxvk::WaveFormatBlock src = in, dst = out;
  return acmStreamOpen(nullptr, nullptr, Wfx(src), Wfx(dst), nullptr, 0, 0, ACM_STREAMOPENF_QUERY) ==
         MMSYSERR_NOERROR;
}

}  // namespace

CUnknown* CAudioCompressor::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
  return vxvk::CreateFilterInstance<CAudioCompressor>(outer, phr);
}

CAudioCompressor::CAudioCompressor(LPUNKNOWN outer, HRESULT* phr)
    : CTransformFilter(NAME("AudioCompressor"), outer, CLSID_VxAudioCompressor) {}

CAudioCompressor::~CAudioCompressor() {
  if (m_stream) acmStreamClose(m_stream, 0);
}

HRESULT CAudioCompressor::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IAudioCompressorControl) return GetInterface(static_cast<IAudioCompressorControl*>(this), ppv);
  return CTransformFilter::NonDelegatingQueryInterface(riid, ppv);
}

CBasePin* CAudioCompressor::GetPin(int n) {
  CAutoLock lock(&m_csFilter);
  return MakePins(
      n,
      [this](HRESULT* hr) {
        return new (std::nothrow) CTransformInputPin(NAME("audio compressor input"), this, hr, u"Input");
      },
      [this](HRESULT* hr) {
        return new (std::nothrow) CTransformOutputPin(NAME("audio compressor output"), this, hr, u"Output");
      });
}

// ---- negotiation ---------------------------------------------------------------------------

CMediaType CAudioCompressor::OutputTypeOf(const vxvk::WaveFormatBlock& format) {
  const WAVEFORMATEX* w = Wfx(format);
  CMediaType mt;
  mt.InitMediaType();
  mt.SetType(&MEDIATYPE_Audio);
  const GUID subtype = FourccSubtype(w->wFormatTag);
  mt.SetSubtype(&subtype);
  mt.SetFormatType(&FORMAT_WaveFormatEx);
  mt.SetTemporalCompression(FALSE);
  // Block formats come in whole blocks; an MPEG stream is cut anywhere.
  if (w->nBlockAlign > 1 || w->wFormatTag == WAVE_FORMAT_PCM) {
    mt.SetSampleSize(w->nBlockAlign);
  } else {
    mt.SetVariableSize();
  }
  mt.SetFormat(format.data(), ULONG(format.size()));
  return mt;
}

HRESULT CAudioCompressor::CheckInputType(const CMediaType* in) {
  if (!in) return E_POINTER;
  const WAVEFORMATEX* w = WaveFormatOf(*in);
  if (in->majortype != MEDIATYPE_Audio || !w || w->wFormatTag != WAVE_FORMAT_PCM) return VFW_E_TYPE_NOT_ACCEPTED;
  vxvk::WaveFormatBlock src = vxvk::CopyWaveFormat(*w);
  CAutoLock lock(&m_csFilter);
  if (!m_chosen.empty()) return Converts(src, m_chosen) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  // A well-formed PCM format is one the drivers can suggest something for.
  WAVEFORMATEX suggestion{};
  return acmFormatSuggest(nullptr, Wfx(src), &suggestion, sizeof suggestion, 0) == MMSYSERR_NOERROR
             ? S_OK
             : VFW_E_TYPE_NOT_ACCEPTED;
}

const std::vector<vxvk::WaveFormatBlock>& CAudioCompressor::OffersLocked() {
  if (m_offersFound) return m_offers;
  m_offers.clear();
  if (!m_chosen.empty()) {
    if (Converts(m_input, m_chosen)) m_offers.push_back(m_chosen);
  } else {
    // Every driver's suggestion first, then every standard format a driver converts the input to.
    std::vector<ComPtr<CAudioFormatDriver>> drivers;
    for (const auto& e : vxvk::InstalledFormatTags()) {
      HRESULT hr = S_OK;
      auto* d = new (std::nothrow) CAudioFormatDriver(e.driver, e.tag, &hr);
      if (!d) continue;
      ComPtr<CAudioFormatDriver> driver(d);  // a driver that failed to open goes with it
      if (SUCCEEDED(hr)) drivers.push_back(std::move(driver));
    }
    const auto add = [this](const vxvk::WaveFormatBlock& f) {
      if (std::find(m_offers.begin(), m_offers.end(), f) == m_offers.end()) m_offers.push_back(f);
    };
    for (const auto& d : drivers) {
      vxvk::WaveFormatBlock suggested;
      if (d->Suggest(*Wfx(m_input), &suggested)) add(suggested);
    }
    for (const auto& d : drivers) {
      for (const auto& f : d->Formats())
        if (d->Converts(*Wfx(m_input), *Wfx(f))) add(f);
    }
  }
  m_offersFound = true;
  return m_offers;
}

HRESULT CAudioCompressor::GetMediaType(int position, CMediaType* mt) {
  if (!mt) return E_POINTER;
  if (!m_pInput || !m_pInput->IsConnected()) return E_UNEXPECTED;
  if (position < 0) return E_INVALIDARG;
  CAutoLock lock(&m_csFilter);
  if (m_input.empty()) return E_UNEXPECTED;
  const auto& offers = OffersLocked();
  if (size_t(position) >= offers.size()) return VFW_S_NO_MORE_ITEMS;
  *mt = OutputTypeOf(offers[size_t(position)]);
  return S_OK;
}

HRESULT CAudioCompressor::CheckTransform(const CMediaType* in, const CMediaType* out) {
  if (!in || !out) return E_POINTER;
  const WAVEFORMATEX* wi = WaveFormatOf(*in);
  const WAVEFORMATEX* wo = WaveFormatOf(*out);
  if (!wi || !wo || out->majortype != MEDIATYPE_Audio) return VFW_E_TYPE_NOT_ACCEPTED;
  const vxvk::WaveFormatBlock src = vxvk::CopyWaveFormat(*wi), dst = vxvk::CopyWaveFormat(*wo);
  CAutoLock lock(&m_csFilter);
  if (!m_chosen.empty() && dst != m_chosen) return VFW_E_TYPE_NOT_ACCEPTED;
  return Converts(src, dst) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CAudioCompressor::SetMediaType(PIN_DIRECTION dir, const CMediaType* mt) {
  if (!mt) return E_POINTER;
  const WAVEFORMATEX* w = WaveFormatOf(*mt);
  if (!w) return VFW_E_TYPE_NOT_ACCEPTED;
  CAutoLock lock(&m_csFilter);
  if (dir == PINDIR_INPUT) {
    m_input = vxvk::CopyWaveFormat(*w);
    m_offersFound = false;
  } else {
    m_output = vxvk::CopyWaveFormat(*w);
  }
  return S_OK;
}

HRESULT CAudioCompressor::BreakConnect(PIN_DIRECTION dir) {
  {
    CAutoLock lock(&m_csFilter);
    if (dir == PINDIR_INPUT) {
      m_input.clear();
      m_offers.clear();
      m_offersFound = false;
    } else {
      m_output.clear();
    }
  }
  return CTransformFilter::BreakConnect(dir);
}

HRESULT CAudioCompressor::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  if (!allocator || !request) return E_POINTER;
  if (!m_pInput || !m_pInput->IsConnected()) return E_UNEXPECTED;
  ALLOCATOR_PROPERTIES input{};
  if (!m_pInput->Allocator() || FAILED(m_pInput->Allocator()->GetProperties(&input))) return E_UNEXPECTED;
  vxvk::WaveFormatBlock src, dst;
  {
    CAutoLock lock(&m_csFilter);
    src = m_input;
    dst = m_output;
  }
  if (src.empty() || dst.empty()) return E_UNEXPECTED;
  // The most output one input buffer can give; more waits in the stream for the next buffer.
  DWORD size = 0;
  HACMSTREAM probe = nullptr;
  if (acmStreamOpen(&probe, nullptr, Wfx(src), Wfx(dst), nullptr, 0, 0, 0) != MMSYSERR_NOERROR) return E_FAIL;
  if (acmStreamSize(probe, DWORD(std::max<LONG>(input.cbBuffer, 0)), &size, ACM_STREAMSIZEF_SOURCE) != MMSYSERR_NOERROR)
    size = 0;
  acmStreamClose(probe, 0);
  const LONG block = std::max<LONG>(Wfx(dst)->nBlockAlign, 1);
  LONGLONG bytes = std::max<LONGLONG>({LONGLONG(size), kMinOutputBufferBytes, block});
  bytes = (bytes + block - 1) / block * block;
  if (bytes > 0x7FFFFFFF) return E_FAIL;
  request->cBuffers = kOutputBuffers;
  request->cbBuffer = LONG(bytes);
  request->cbAlign = 1;
  ALLOCATOR_PROPERTIES actual{};
  const HRESULT hr = allocator->SetProperties(request, &actual);
  if (FAILED(hr)) return hr;
  if (actual.cBuffers < request->cBuffers || actual.cbBuffer < request->cbBuffer) return E_FAIL;
  return S_OK;
}

// ---- streaming -----------------------------------------------------------------------------

HRESULT CAudioCompressor::StartStreaming() {
  vxvk::WaveFormatBlock src, dst;
  {
    CAutoLock lock(&m_csFilter);
    src = m_input;
    dst = m_output;
  }
  if (src.empty() || dst.empty()) return E_UNEXPECTED;
  if (m_stream) acmStreamClose(m_stream, 0);
  m_stream = nullptr;
  if (acmStreamOpen(&m_stream, nullptr, Wfx(src), Wfx(dst), nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME) !=
      MMSYSERR_NOERROR)
    return VFW_E_TYPE_NOT_ACCEPTED;
  m_outputBytesPerSecond = Wfx(dst)->nAvgBytesPerSec;
  m_work.clear();
  m_startStream = true;
  m_discontinuity = true;
  m_baseTime = -1;
  m_bytesOut = 0;
  m_flushed = false;
  return S_OK;
}

HRESULT CAudioCompressor::StopStreaming() {
  if (m_stream) acmStreamClose(m_stream, 0);
  m_stream = nullptr;
  m_work.clear();
  return S_OK;
}

HRESULT CAudioCompressor::EndFlush() {
  m_flushed = true;
  return CTransformFilter::EndFlush();
}

HRESULT CAudioCompressor::Receive(IMediaSample* sample) {
  AM_SAMPLE2_PROPERTIES* const props = m_pInput->SampleProps();
  if (props->dwStreamId != AM_STREAM_MEDIA) return m_pOutput->Deliver(sample);
  if (!m_stream) return VFW_E_WRONG_STATE;
  if (m_flushed.exchange(false) || sample->IsDiscontinuity() == S_OK) {
    // New data that does not follow the old: the stream starts again, and so does the time.
    m_work.clear();
    m_startStream = true;
    m_discontinuity = true;
    m_baseTime = -1;
    m_bytesOut = 0;
  }
  REFERENCE_TIME start = 0, stop = 0;
  if (m_baseTime < 0 && SUCCEEDED(sample->GetTime(&start, &stop))) {
    m_baseTime = start;
    m_bytesOut = 0;
  }
  BYTE* data = nullptr;
  const LONG length = sample->GetActualDataLength();
  if (FAILED(sample->GetPointer(&data)) || !data || length < 0) return E_UNEXPECTED;
  m_work.insert(m_work.end(), data, data + length);
  return ConvertAndDeliverLocked(ACM_STREAMCONVERTF_BLOCKALIGN);
}

HRESULT CAudioCompressor::EndOfStream() {
  if (m_stream) {
    const HRESULT hr = ConvertAndDeliverLocked(ACM_STREAMCONVERTF_END);
    if (FAILED(hr)) TAV_TRACE("%p draining at the end failed 0x%08x", static_cast<void*>(this), unsigned(hr));
  }
  return CTransformFilter::EndOfStream();
}

HRESULT CAudioCompressor::ConvertAndDeliverLocked(DWORD flags) {
  // No filter lock here: Stop holds it while it waits for the receive lock this thread holds.
  const DWORD avgBytes = m_outputBytesPerSecond;
  BYTE none = 0;  // a source buffer for a drain with no source left
  size_t used = 0;
  HRESULT result = S_OK;
  for (;;) {
    ComPtr<IMediaSample> out;
    HRESULT hr = m_pOutput->GetDeliveryBuffer(&out, nullptr, nullptr, 0);
    if (FAILED(hr)) {
      result = hr;
      break;
    }
    BYTE* dst = nullptr;
    if (FAILED(out->GetPointer(&dst)) || !dst) {
      result = E_UNEXPECTED;
      break;
    }
    ACMSTREAMHEADER h{};
    h.cbStruct = sizeof h;
    h.pbSrc = used < m_work.size() ? m_work.data() + used : &none;
    h.cbSrcLength = DWORD(m_work.size() - used);
    h.pbDst = dst;
    h.cbDstLength = DWORD(out->GetSize());
    MMRESULT r = acmStreamPrepareHeader(m_stream, &h, 0);
    if (r == MMSYSERR_NOERROR) {
      r = acmStreamConvert(m_stream, &h, flags | (m_startStream ? ACM_STREAMCONVERTF_START : 0));
      acmStreamUnprepareHeader(m_stream, &h, 0);
    }
    if (r != MMSYSERR_NOERROR) {
      result = E_FAIL;
      break;
    }
    m_startStream = false;
    used += h.cbSrcLengthUsed;
    if (h.cbDstLengthUsed > 0) {
      out->SetActualDataLength(LONG(h.cbDstLengthUsed));
      if (m_baseTime >= 0 && avgBytes > 0) {
        REFERENCE_TIME start = m_baseTime + m_bytesOut * kUnitsPerSecond / avgBytes;
        REFERENCE_TIME stop = m_baseTime + (m_bytesOut + h.cbDstLengthUsed) * kUnitsPerSecond / avgBytes;
        out->SetTime(&start, &stop);
      }
      m_bytesOut += h.cbDstLengthUsed;
      out->SetSyncPoint(TRUE);
      out->SetDiscontinuity(m_discontinuity ? TRUE : FALSE);
      m_discontinuity = false;
      hr = m_pOutput->Deliver(out.Get());
      if (hr != S_OK) {
        result = hr;  // downstream stopped or failed: the rest of this sample is dropped
        break;
      }
    }
    // The stream has nothing more for now once a call neither takes nor gives anything.
    if (h.cbSrcLengthUsed == 0 && h.cbDstLengthUsed == 0) break;
  }
  // Keep what could not be converted yet (an incomplete block) for the next sample.
  m_work.erase(m_work.begin(), m_work.begin() + std::min(used, m_work.size()));
  if (result != S_OK) m_work.clear();
  return result;
}

// ---- IAudioCompressorControl ---------------------------------------------------------------

HRESULT CAudioCompressor::SetOutputFormat(const WAVEFORMATEX* format, DWORD bytes) {
  TAV_TRACE("SetOutputFormat(%p, %u)", static_cast<const void*>(format), unsigned(bytes));
  CAutoLock lock(&m_csFilter);
  if (m_pOutput && m_pOutput->IsConnected()) return VFW_E_ALREADY_CONNECTED;
  if (!format) {
    m_chosen.clear();
  } else {
    if (bytes < sizeof(PCMWAVEFORMAT)) return E_INVALIDARG;
    if (format->wFormatTag != WAVE_FORMAT_PCM && (bytes < sizeof(WAVEFORMATEX) || bytes < vxvk::WaveFormatBytes(*format)))
      return E_INVALIDARG;
    m_chosen = vxvk::CopyWaveFormat(*format);
  }
  m_offersFound = false;
  return S_OK;
}

HRESULT CAudioCompressor::GetOutputFormat(WAVEFORMATEX** format, DWORD* bytes) {
  if (!format) return E_POINTER;
  *format = nullptr;
  if (bytes) *bytes = 0;
  CAutoLock lock(&m_csFilter);
  if (m_chosen.empty()) return S_FALSE;
  return vxvk::ToTaskMemory(m_chosen, format, bytes);
}

// ---- registration --------------------------------------------------------------------------

namespace {
const AMOVIESETUP_MEDIATYPE kAudioPcm[] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM}};
const AMOVIESETUP_MEDIATYPE kAudioAny[] = {{&MEDIATYPE_Audio, &GUID_NULL}};
const AMOVIESETUP_PIN kPins[] = {
    {u"Input", FALSE, FALSE, FALSE, FALSE, &GUID_NULL, nullptr, 1, kAudioPcm},
    {u"Output", FALSE, TRUE, FALSE, FALSE, &GUID_NULL, nullptr, 1, kAudioAny},
};
}  // namespace

const AMOVIESETUP_FILTER sudAudioCompressor = {&CLSID_VxAudioCompressor, u"VXCMN Audio Compressor Filter",
                                               MERIT_DO_NOT_USE, 2, kPins};
