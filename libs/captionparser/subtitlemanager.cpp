#include "libs/captionparser/subtitlemanager.h"

#include <cstring>
#include <new>

#include "libs/captionparser/subtitledrawing.h"
#include "libs/captionparser/textutil.h"
#include "media/contract/codepage.h"
#include "media/contract/com.h"
#include "media/contract/trace.h"

using captionparser::CCaptionStyle;
using captionparser::EqualsNoCase;

TAV_TRACE_SOURCE(kCaptions, "subtitlemanager");

namespace {

// Strings cross the interface through fixed buffers: 256 ANSI bytes in, 512 bytes out.
constexpr size_t kInBufferBytes = 256;
constexpr size_t kOutBufferBytes = 512;
constexpr size_t kOutChars = kOutBufferBytes / sizeof(WCHAR);

// UTF-16 in, ANSI out. False when the text does not fit the 256-byte buffer with its
// terminator: a cut path or name would silently name something else.
bool ToAnsi(const WCHAR* text, std::string* out) {
  *out = tav::WideToAnsi(std::u16string_view(text));
  return out->size() < kInBufferBytes;
}

// A 512-byte task-allocator block holding the UTF-16 form of `ansi`, cut to 255 characters.
HRESULT ReturnString(const std::string& ansi, WCHAR** out) {
  std::u16string wide = tav::AnsiToWide(ansi);
  if (wide.size() > kOutChars - 1) {
    wide.resize(kOutChars - 1);
    // Never leave half a surrogate pair at the cut.
    if (!wide.empty() && wide.back() >= 0xD800 && wide.back() <= 0xDBFF) wide.pop_back();
  }
  auto* block = static_cast<WCHAR*>(CoTaskMemAlloc(kOutBufferBytes));
  if (!block) return E_OUTOFMEMORY;
  std::memset(block, 0, kOutBufferBytes);
  std::memcpy(block, wide.data(), wide.size() * sizeof(WCHAR));
  *out = block;
  return S_OK;
}

template <typename Field>
HRESULT ReturnStyleField(const std::vector<const CCaptionStyle*>& list, int count, int index, WCHAR** out,
                         Field field) {
  if (!out) return E_INVALIDARG;
  const bool inRange = index >= 0 && index < count && size_t(index) < list.size();
  return ReturnString(inRange ? field(*list[size_t(index)]) : std::string(), out);
}

// The first style of `list` whose field equals `wanted` without case, or null.
template <typename Field>
HRESULT FindStyle(const std::vector<const CCaptionStyle*>& list, int count, const WCHAR* wanted, Field field,
                  const CCaptionStyle** found) {
  if (!wanted) return E_INVALIDARG;
  std::string key;
  if (!ToAnsi(wanted, &key)) return E_INVALIDARG;
  *found = nullptr;
  for (int i = 0; i < count && size_t(i) < list.size(); ++i) {
    if (EqualsNoCase(field(*list[size_t(i)]), key)) {
      *found = list[size_t(i)];
      break;
    }
  }
  return S_OK;
}

}  // namespace

CSubtitleManager::CSubtitleManager(LPUNKNOWN outer, HRESULT* phr) : CUnknown(NAME("Subtitle Manager"), outer, phr) {}

CUnknown* CSubtitleManager::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
  HRESULT hr = S_OK;
  auto* manager = new (std::nothrow) CSubtitleManager(outer, &hr);
  if (!manager) hr = E_OUTOFMEMORY;
  if (FAILED(hr)) {
    delete manager;  // not counted yet: nothing else holds it
    manager = nullptr;
  }
  if (phr) *phr = hr;
  return manager;
}

STDMETHODIMP CSubtitleManager::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_ISubtitleManager) return GetInterface(static_cast<ISubtitleManager*>(this), ppv);
  if (riid == IID_ISubtitleFileInfo) return GetInterface(static_cast<ISubtitleFileInfo*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

// ---- file ----------------------------------------------------------------------------------

STDMETHODIMP CSubtitleManager::GetFileName(WCHAR** path) {
  if (!path) return E_INVALIDARG;
  return ReturnString(m_state.LoadedPath(), path);
}

STDMETHODIMP CSubtitleManager::LoadFile(const WCHAR* path, BOOL headerOnly) {
  if (!path) return E_INVALIDARG;
  std::string ansi;
  if (!ToAnsi(path, &ansi)) return E_INVALIDARG;
  TAV_TRACE("LoadFile(%s, %d)", ansi.c_str(), int(headerOnly));
  return m_state.LoadFile(ansi, headerOnly != FALSE) ? S_OK : TAV_E_SUBTITLE_LOAD;
}

// ---- drawing -------------------------------------------------------------------------------

STDMETHODIMP CSubtitleManager::DrawOnBitmap(const BITMAPINFOHEADER* header, BYTE* bits, REFERENCE_TIME time) {
  if (m_state.LoadedPath().empty() || !header || !bits) return E_FAIL;
  if (header->biBitCount != 16 && header->biBitCount != 24 && header->biBitCount != 32) return E_FAIL;
  if (header->biCompression != BI_RGB && header->biPlanes != 1) return E_FAIL;
  const captionparser::CCaptionEntry* entry = m_state.CaptionAt(time);
  if (!entry) return S_OK;
  return captionparser::DrawEntryOnBitmap(*header, bits, *entry, m_state.CurrentSize(), m_state.TextAreaPercent());
}

STDMETHODIMP CSubtitleManager::DrawOnDC(HDC dc, REFERENCE_TIME time, const RECT* area) {
  const captionparser::CCaptionEntry* entry = m_state.CaptionAt(time);
  if (!entry) return S_OK;
  return captionparser::DrawEntryOnDC(dc, area, *entry, m_state.CurrentSize(), m_state.TextAreaPercent());
}

// ---- languages -----------------------------------------------------------------------------

STDMETHODIMP CSubtitleManager::SelectLanguage(int index) {
  const auto& list = m_state.Languages();
  const bool inRange = index >= 0 && index < m_state.LanguageCount() && size_t(index) < list.size();
  m_state.SetCurrentLanguage(inRange ? list[size_t(index)] : nullptr);
  return S_OK;
}

STDMETHODIMP CSubtitleManager::SelectLanguageByName(const WCHAR* name) {
  const CCaptionStyle* found = nullptr;
  HRESULT hr = FindStyle(m_state.Languages(), m_state.LanguageCount(), name,
                         [](const CCaptionStyle& s) { return s.name; }, &found);
  if (hr == S_OK) m_state.SetCurrentLanguage(found);
  return hr;
}

STDMETHODIMP CSubtitleManager::SelectLanguageByCode(const WCHAR* code) {
  const CCaptionStyle* found = nullptr;
  HRESULT hr = FindStyle(m_state.Languages(), m_state.LanguageCount(), code,
                         [](const CCaptionStyle& s) { return s.lang; }, &found);
  if (hr == S_OK) m_state.SetCurrentLanguage(found);
  return hr;
}

STDMETHODIMP CSubtitleManager::GetLanguageCount(int* count) {
  if (!count) return E_INVALIDARG;
  *count = m_state.LanguageCount();
  return S_OK;
}

STDMETHODIMP CSubtitleManager::GetLanguageName(int index, WCHAR** name) {
  return ReturnStyleField(m_state.Languages(), m_state.LanguageCount(), index, name,
                          [](const CCaptionStyle& s) { return s.name; });
}

STDMETHODIMP CSubtitleManager::GetLanguageCode(int index, WCHAR** code) {
  return ReturnStyleField(m_state.Languages(), m_state.LanguageCount(), index, code,
                          [](const CCaptionStyle& s) { return s.lang; });
}

// ---- size classes --------------------------------------------------------------------------

STDMETHODIMP CSubtitleManager::SelectSize(int index) {
  const auto& list = m_state.Identifiers();
  m_state.SetCurrentSize(index >= 0 && size_t(index) < list.size() ? list[size_t(index)] : nullptr);
  return S_OK;
}

STDMETHODIMP CSubtitleManager::SelectSizeByName(const WCHAR* name) {
  const auto& list = m_state.Identifiers();
  const CCaptionStyle* found = nullptr;
  HRESULT hr = FindStyle(list, int(list.size()), name, [](const CCaptionStyle& s) { return s.name; }, &found);
  if (hr == S_OK) m_state.SetCurrentSize(found);
  return hr;
}

STDMETHODIMP CSubtitleManager::SelectSizeById(const WCHAR* id) {
  const auto& list = m_state.Identifiers();
  const CCaptionStyle* found = nullptr;
  HRESULT hr = FindStyle(list, int(list.size()), id, [](const CCaptionStyle& s) { return s.selector; }, &found);
  if (hr == S_OK) m_state.SetCurrentSize(found);
  return hr;
}

STDMETHODIMP CSubtitleManager::GetSizeCount(int* count) {
  if (!count) return E_INVALIDARG;
  *count = int(m_state.Identifiers().size());
  return S_OK;
}

STDMETHODIMP CSubtitleManager::GetSizeName(int index, WCHAR** name) {
  const auto& list = m_state.Identifiers();
  return ReturnStyleField(list, int(list.size()), index, name, [](const CCaptionStyle& s) { return s.name; });
}

STDMETHODIMP CSubtitleManager::GetSizeId(int index, WCHAR** id) {
  const auto& list = m_state.Identifiers();
  return ReturnStyleField(list, int(list.size()), index, id, [](const CCaptionStyle& s) { return s.selector; });
}

// ---- file information ----------------------------------------------------------------------

STDMETHODIMP CSubtitleManager::GetReaderName(WCHAR** name) {
  if (!name) return E_INVALIDARG;
  const captionparser::SubtitleReader reader = m_state.Reader();
  const HRESULT hr = ReturnString(captionparser::ReaderName(reader), name);
  if (FAILED(hr)) return hr;
  const bool strict = reader == captionparser::SubtitleReader::kNone || reader == captionparser::SubtitleReader::kSami ||
                      reader == captionparser::SubtitleReader::kSubRip;
  return strict ? S_FALSE : S_OK;
}

STDMETHODIMP CSubtitleManager::GetEncodingName(WCHAR** name) {
  if (!name) return E_INVALIDARG;
  return ReturnString(m_state.Encoding(), name);
}
