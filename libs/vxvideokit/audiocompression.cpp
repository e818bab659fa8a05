#include "libs/vxvideokit/audiocompression.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "media/contract/com.h"
#include "media/contract/trace.h"

TAV_TRACE_SOURCE(kVideoKit, "audiocompression");

namespace vxvk {

DWORD WaveFormatBytes(const WAVEFORMATEX& w) {
  return w.wFormatTag == WAVE_FORMAT_PCM ? DWORD(sizeof(PCMWAVEFORMAT)) : DWORD(sizeof(WAVEFORMATEX)) + w.cbSize;
}

WaveFormatBlock CopyWaveFormat(const WAVEFORMATEX& w) {
  const DWORD bytes = WaveFormatBytes(w);
  WaveFormatBlock block(std::max<DWORD>(bytes, sizeof(WAVEFORMATEX)), 0);
  std::memcpy(block.data(), &w, bytes);
  return block;
}

HRESULT ToTaskMemory(const WaveFormatBlock& block, WAVEFORMATEX** format, DWORD* bytes) {
  auto* p = static_cast<WAVEFORMATEX*>(CoTaskMemAlloc(block.size()));
  if (!p) return E_OUTOFMEMORY;
  std::memcpy(p, block.data(), block.size());
  *format = p;
  if (bytes) *bytes = DWORD(block.size());
  return S_OK;
}

namespace {

struct TagWalk {
  HACMDRIVERID driver;
  std::vector<FormatTagEntry>* out;
};

BOOL OnTag(HACMDRIVERID, LPACMFORMATTAGDETAILSA details, DWORD_PTR instance, DWORD) {
  auto* walk = reinterpret_cast<TagWalk*>(instance);
  if (details->dwFormatTag != WAVE_FORMAT_PCM) walk->out->push_back({walk->driver, WORD(details->dwFormatTag)});
  return TRUE;
}

BOOL OnDriver(HACMDRIVERID id, DWORD_PTR instance, DWORD support) {
  if (!(support & ACMDRIVERDETAILS_SUPPORTF_CODEC)) return TRUE;  // converters and filters keep the tag
  HACMDRIVER had = nullptr;
  if (acmDriverOpen(&had, id, 0) != MMSYSERR_NOERROR) return TRUE;
  TagWalk walk{id, reinterpret_cast<std::vector<FormatTagEntry>*>(instance)};
  ACMFORMATTAGDETAILSA details{};
  details.cbStruct = sizeof details;
  acmFormatTagEnumA(had, &details, OnTag, DWORD_PTR(&walk), 0);
  acmDriverClose(had, 0);
  return TRUE;
}

BOOL OnFormat(HACMDRIVERID, LPACMFORMATDETAILSA details, DWORD_PTR instance, DWORD) {
  reinterpret_cast<std::vector<WaveFormatBlock>*>(instance)->push_back(CopyWaveFormat(*details->pwfx));
  return TRUE;
}

}  // namespace

std::vector<FormatTagEntry> InstalledFormatTags() {
  std::vector<FormatTagEntry> entries;
  acmDriverEnum(OnDriver, DWORD_PTR(&entries), 0);
  return entries;
}

}  // namespace vxvk

// ---- CAudioFormatDriver --------------------------------------------------------------------

CAudioFormatDriver::CAudioFormatDriver(HACMDRIVERID driver, WORD tag, HRESULT* phr)
    : CUnknown(NAME("CAudioFormatDriver"), nullptr), m_driverId(driver), m_tag(tag) {
  if (acmDriverOpen(&m_driver, driver, 0) != MMSYSERR_NOERROR && phr) *phr = E_FAIL;
}

CAudioFormatDriver::~CAudioFormatDriver() {
  if (m_driver) acmDriverClose(m_driver, 0);
}

HRESULT CAudioFormatDriver::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IAudioFormatDriver) return GetInterface(static_cast<IAudioFormatDriver*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CAudioFormatDriver::GetNames(char* driverName, char* tagName) {
  if (driverName) {
    ACMDRIVERDETAILSA d{};
    d.cbStruct = sizeof d;
    if (acmDriverDetailsA(m_driverId, &d, 0) != MMSYSERR_NOERROR) return E_FAIL;
    static_assert(sizeof d.szLongName <= VXAUDIO_DRIVER_NAME_CHARS);
    std::memcpy(driverName, d.szLongName, sizeof d.szLongName);
  }
  if (tagName) {
    ACMFORMATTAGDETAILSA t{};
    t.cbStruct = sizeof t;
    t.dwFormatTag = m_tag;
    if (acmFormatTagDetailsA(m_driver, &t, ACM_FORMATTAGDETAILSF_FORMATTAG) != MMSYSERR_NOERROR) return E_FAIL;
    static_assert(sizeof t.szFormatTag <= VXAUDIO_TAG_NAME_CHARS);
    std::memcpy(tagName, t.szFormatTag, sizeof t.szFormatTag);
  }
  return S_OK;
}

HRESULT CAudioFormatDriver::GetFormatTag(WORD* tag) {
  if (!tag) return E_POINTER;
  *tag = m_tag;
  return S_OK;
}

const std::vector<vxvk::WaveFormatBlock>& CAudioFormatDriver::Formats() {
  std::lock_guard lock(m_lock);
  if (!m_formatsRead) {
    DWORD largest = 0;
    acmMetrics(reinterpret_cast<HACMOBJ>(m_driver), ACM_METRIC_MAX_SIZE_FORMAT, &largest);
    std::vector<BYTE> buffer(std::max<DWORD>(largest, sizeof(WAVEFORMATEX)), 0);
    ACMFORMATDETAILSA details{};
    details.cbStruct = sizeof details;
    details.dwFormatTag = m_tag;
    details.pwfx = reinterpret_cast<WAVEFORMATEX*>(buffer.data());
    details.cbwfx = DWORD(buffer.size());
    details.pwfx->wFormatTag = m_tag;
    acmFormatEnumA(m_driver, &details, vxvk::OnFormat, DWORD_PTR(&m_formats), ACM_FORMATENUMF_WFORMATTAG);
    m_formatsRead = true;
  }
  return m_formats;
}

HRESULT CAudioFormatDriver::GetFormatCount(DWORD* count) {
  if (!count) return E_POINTER;
  *count = DWORD(Formats().size());
  return S_OK;
}

HRESULT CAudioFormatDriver::GetFormat(DWORD index, WAVEFORMATEX** format, DWORD* bytes) {
  if (!format) return E_POINTER;
  *format = nullptr;
  if (bytes) *bytes = 0;
  const auto& formats = Formats();
  if (index >= formats.size()) return S_FALSE;
  return vxvk::ToTaskMemory(formats[index], format, bytes);
}

bool CAudioFormatDriver::Suggest(const WAVEFORMATEX& source, vxvk::WaveFormatBlock* out) {
  DWORD largest = 0;
  if (acmMetrics(reinterpret_cast<HACMOBJ>(m_driver), ACM_METRIC_MAX_SIZE_FORMAT, &largest) != MMSYSERR_NOERROR)
    return false;
  vxvk::WaveFormatBlock block(std::max<DWORD>(largest, sizeof(WAVEFORMATEX)), 0);
  auto* dst = reinterpret_cast<WAVEFORMATEX*>(block.data());
  dst->wFormatTag = m_tag;
  vxvk::WaveFormatBlock src = vxvk::CopyWaveFormat(source);
  if (acmFormatSuggest(m_driver, reinterpret_cast<WAVEFORMATEX*>(src.data()), dst, DWORD(block.size()),
                       ACM_FORMATSUGGESTF_WFORMATTAG) != MMSYSERR_NOERROR)
    return false;
  block.resize(std::max<DWORD>(vxvk::WaveFormatBytes(*dst), sizeof(WAVEFORMATEX)));
  *out = std::move(block);
  return true;
}

HRESULT CAudioFormatDriver::SuggestFormat(const WAVEFORMATEX* source, WAVEFORMATEX** format, DWORD* bytes) {
  TAV_TRACE("SuggestFormat(%p)", static_cast<const void*>(source));
  if (!source || !format) return E_POINTER;
  *format = nullptr;
  vxvk::WaveFormatBlock block;
  if (!Suggest(*source, &block)) return VFW_E_TYPE_NOT_ACCEPTED;
  return vxvk::ToTaskMemory(block, format, bytes);
}

bool CAudioFormatDriver::Converts(const WAVEFORMATEX& source, const WAVEFORMATEX& target) {
  vxvk::WaveFormatBlock src = vxvk::CopyWaveFormat(source), dst = vxvk::CopyWaveFormat(target);
  return acmStreamOpen(nullptr, m_driver, reinterpret_cast<WAVEFORMATEX*>(src.data()),
                       reinterpret_cast<WAVEFORMATEX*>(dst.data()), nullptr, 0, 0,
                       ACM_STREAMOPENF_QUERY) == MMSYSERR_NOERROR;
}

HRESULT CAudioFormatDriver::CanConvert(const WAVEFORMATEX* source, const WAVEFORMATEX* target) {
  if (!source || !target) return E_POINTER;
  return Converts(*source, *target) ? S_OK : S_FALSE;
}

// ---- CEnumAudioFormatTags ------------------------------------------------------------------

CEnumAudioFormatTags::CEnumAudioFormatTags(std::vector<vxvk::FormatTagEntry> entries, size_t position)
    : CUnknown(NAME("CEnumAudioFormatTags"), nullptr), m_entries(std::move(entries)), m_position(position) {}

HRESULT CEnumAudioFormatTags::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IEnumAudioFormatTags) return GetInterface(static_cast<IEnumAudioFormatTags*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CEnumAudioFormatTags::Next(ULONG count, IAudioFormatDriver** drivers, ULONG* fetched) {
  if (!drivers) return E_POINTER;
  if (count > 1 && !fetched) return E_POINTER;
  std::lock_guard lock(m_lock);
  ULONG n = 0;
  while (n < count && m_position < m_entries.size()) {
    const auto& e = m_entries[m_position];
    HRESULT hr = S_OK;
    auto* driver = new (std::nothrow) CAudioFormatDriver(e.driver, e.tag, &hr);
    if (!driver || FAILED(hr)) {
      delete driver;  // not counted yet: nothing else holds it
      // The caller's array gets nothing on failure: the drivers already put there go again.
      for (ULONG i = 0; i < n; ++i) drivers[i]->Release();
      if (fetched) *fetched = 0;
      return driver ? hr : E_OUTOFMEMORY;
    }
    driver->NonDelegatingAddRef();
    drivers[n++] = driver;
    ++m_position;
  }
  if (fetched) *fetched = n;
  return n == count ? S_OK : S_FALSE;
}

HRESULT CEnumAudioFormatTags::Skip(ULONG count) {
  std::lock_guard lock(m_lock);
  const size_t left = m_entries.size() - m_position;
  m_position += std::min<size_t>(count, left);
  return count <= left ? S_OK : S_FALSE;
}

HRESULT CEnumAudioFormatTags::Reset() {
  std::lock_guard lock(m_lock);
  m_position = 0;
  return S_OK;
}

HRESULT CEnumAudioFormatTags::Clone(IEnumAudioFormatTags** clone) {
  if (!clone) return E_POINTER;
  std::lock_guard lock(m_lock);
  auto* copy = new (std::nothrow) CEnumAudioFormatTags(m_entries, m_position);
  if (!copy) return E_OUTOFMEMORY;
  copy->NonDelegatingAddRef();
  *clone = copy;
  return S_OK;
}

// ---- CAudioCompressionFactory --------------------------------------------------------------

CUnknown* CAudioCompressionFactory::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
  auto* factory = new (std::nothrow) CAudioCompressionFactory(outer);
  if (phr) *phr = factory ? S_OK : E_OUTOFMEMORY;
  return factory;
}

CAudioCompressionFactory::CAudioCompressionFactory(LPUNKNOWN outer)
    : CUnknown(NAME("Audio compression factory"), outer) {}

HRESULT CAudioCompressionFactory::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IAudioCompressionFactory) return GetInterface(static_cast<IAudioCompressionFactory*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CAudioCompressionFactory::EnumFormatTags(IEnumAudioFormatTags** tags) {
  TAV_TRACE("EnumFormatTags(%p)", static_cast<void*>(tags));
  if (!tags) return E_POINTER;
  auto* e = new (std::nothrow) CEnumAudioFormatTags(vxvk::InstalledFormatTags(), 0);
  if (!e) return E_OUTOFMEMORY;
  e->NonDelegatingAddRef();
  *tags = e;
  return S_OK;
}

HRESULT CAudioCompressionFactory::GetDriver(WORD tag, IAudioFormatDriver** driver) {
  TAV_TRACE("GetDriver(0x%04x, %p)", unsigned(tag), static_cast<void*>(driver));
  if (!driver) return E_POINTER;
  *driver = nullptr;
  for (const auto& e : vxvk::InstalledFormatTags()) {
    if (e.tag != tag) continue;
    HRESULT hr = S_OK;
    auto* d = new (std::nothrow) CAudioFormatDriver(e.driver, e.tag, &hr);
    if (!d) return E_OUTOFMEMORY;
    if (FAILED(hr)) {
      delete d;  // not counted yet: nothing else holds it
      return hr;
    }
    d->NonDelegatingAddRef();
    *driver = d;
    return S_OK;
  }
  return VFW_E_NOT_FOUND;
}
