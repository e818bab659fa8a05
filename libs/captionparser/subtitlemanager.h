// CSubtitleManager: the "Subtitle Manager" object. It owns the state of one loaded subtitle
// file (CSubtitleState), answers ISubtitleManager and draws the caption due at a media time
// onto a frame buffer or a device context.
//
// The manager takes no lock: its drawing methods run on the streaming thread of whoever draws
// through it, loading and selection on the caller's thread. Callers must not reload or
// reselect while a graph draws through the same manager.
#pragma once

#include <string>

#include "libs/captionparser/captionparser.h"
#include "libs/captionparser/subtitlestate.h"
#include "platform/streaming/base/combase.h"

class CSubtitleManager final : public CUnknown, public ISubtitleManager, public ISubtitleFileInfo {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN outer, HRESULT* phr);

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // ISubtitleManager
  STDMETHODIMP GetFileName(WCHAR** path) override;
  STDMETHODIMP LoadFile(const WCHAR* path, BOOL headerOnly) override;
  STDMETHODIMP DrawOnBitmap(const BITMAPINFOHEADER* header, BYTE* bits, REFERENCE_TIME time) override;
  STDMETHODIMP DrawOnDC(HDC dc, REFERENCE_TIME time, const RECT* area) override;
  STDMETHODIMP SelectLanguage(int index) override;
  STDMETHODIMP SelectLanguageByName(const WCHAR* name) override;
  STDMETHODIMP SelectLanguageByCode(const WCHAR* code) override;
  STDMETHODIMP GetLanguageCount(int* count) override;
  STDMETHODIMP GetLanguageName(int index, WCHAR** name) override;
  STDMETHODIMP GetLanguageCode(int index, WCHAR** code) override;
  STDMETHODIMP SelectSize(int index) override;
  STDMETHODIMP SelectSizeByName(const WCHAR* name) override;
  STDMETHODIMP SelectSizeById(const WCHAR* id) override;
  STDMETHODIMP GetSizeCount(int* count) override;
  STDMETHODIMP GetSizeName(int index, WCHAR** name) override;
  STDMETHODIMP GetSizeId(int index, WCHAR** id) override;

  // ISubtitleFileInfo
  STDMETHODIMP GetReaderName(WCHAR** name) override;
  STDMETHODIMP GetEncodingName(WCHAR** name) override;

  // The state behind the interface (tests and the drawing code read it).
  const captionparser::CSubtitleState& State() const { return m_state; }

 private:
  CSubtitleManager(LPUNKNOWN outer, HRESULT* phr);

  captionparser::CSubtitleState m_state;
};
