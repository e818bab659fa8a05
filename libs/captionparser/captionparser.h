// CaptionParser's public interface: the class identifiers of the Subtitle Manager and the
// Subtitle Filter and the two private interfaces the converter and the subtitle renderer reach
// them through. Include this header; never link the library (its objects are created by class
// identifier).
#pragma once

#include "media/contract/mediatypes.h"
#include "media/contract/unknown.h"

// ---- classes -------------------------------------------------------------------------------

// "Subtitle Filter": copies RGB frames through and burns the caption due into each.
TAV_DEFINE_GUID(CLSID_SubtitleFilter, 0x68C6F137, 0xDF5C, 0x451C, 0xA7, 0x70, 0xF3, 0xB3, 0xE4, 0x1C, 0x9A, 0x0D);
// "Subtitle Manager": a loaded subtitle file, its languages and size classes, and drawing.
TAV_DEFINE_GUID(CLSID_SubtitleManager, 0x608FE5E9, 0xE20B, 0x4BA9, 0x9A, 0x80, 0xFF, 0xAD, 0x04, 0x4C, 0xAA, 0x39);

// Identifiers of the built-in size classes added to every loaded file.
inline constexpr const char16_t* kCaptionSizeNormal = u"A551CAEA-E6D4-4e47-8422-9128EEEE0D46";  // default
inline constexpr const char16_t* kCaptionSizeBig = u"9F0194EA-D60A-43d2-B994-CB0FDDE02C3E";
inline constexpr const char16_t* kCaptionSizeSmall = u"30174FFF-6773-425b-BB87-BA5038C9EF4A";

// ---- ISubtitleManager ----------------------------------------------------------------------

TAV_DEFINE_GUID(IID_ISubtitleManager, 0x0998989D, 0xFC1E, 0x41FF, 0xB8, 0xA9, 0x83, 0x27, 0xB3, 0x84, 0xAE, 0xA0);

// Strings passed in are UTF-16 and limited to 255 characters once converted to the ANSI code
// page (longer ones give E_INVALIDARG). Strings returned are 512-byte blocks from the task
// allocator (the caller frees them with CoTaskMemFree) holding at most 255 UTF-16 characters
// and a terminator; an index out of range gives an empty string. The manager takes no lock.
struct ISubtitleManager : IUnknown {
  // The loaded path, empty when none. E_INVALIDARG for null.
  STDMETHOD(GetFileName)(WCHAR** path) = 0;
  // Reads the file as SAMI, else as SubRip, else as WebVTT, SSA/ASS or tolerant SubRip, then
  // adds the built-in size classes. TAV_E_SUBTITLE_LOAD (0x80040301) when no reader accepts
  // it; E_INVALIDARG for null.
  STDMETHOD(LoadFile)(const WCHAR* path, BOOL headerOnly) = 0;
  // Draws the caption due at `time` into a bottom-up 16-, 24- or 32-bit frame in place.
  // E_FAIL when nothing is loaded, for null pointers and for other bit counts.
  STDMETHOD(DrawOnBitmap)(const BITMAPINFOHEADER* header, BYTE* bits, REFERENCE_TIME time) = 0;
  // Draws the caption due at `time` onto a device context, inside `area` or, when null, the
  // whole bitmap selected into it.
  STDMETHOD(DrawOnDC)(HDC dc, REFERENCE_TIME time, const RECT* area) = 0;
  // An index outside 0..count-1 selects no language.
  STDMETHOD(SelectLanguage)(int index) = 0;
  // First language whose "name" (ByName) or "lang" (ByCode) matches without case, else none.
  STDMETHOD(SelectLanguageByName)(const WCHAR* name) = 0;
  STDMETHOD(SelectLanguageByCode)(const WCHAR* code) = 0;
  STDMETHOD(GetLanguageCount)(int* count) = 0;
  STDMETHOD(GetLanguageName)(int index, WCHAR** name) = 0;
  STDMETHOD(GetLanguageCode)(int index, WCHAR** code) = 0;
  // An index outside the size class list selects no size class.
  STDMETHOD(SelectSize)(int index) = 0;
  // First size class whose "name" (ByName) or identifier (ById, without "#") matches, else none.
  STDMETHOD(SelectSizeByName)(const WCHAR* name) = 0;
  STDMETHOD(SelectSizeById)(const WCHAR* id) = 0;
  STDMETHOD(GetSizeCount)(int* count) = 0;
  STDMETHOD(GetSizeName)(int index, WCHAR** name) = 0;
  STDMETHOD(GetSizeId)(int index, WCHAR** id) = 0;
};
TAV_INTERFACE(ISubtitleManager, IID_ISubtitleManager);

// ---- ISubtitleFileInfo --------------------------------------------------------------------

TAV_DEFINE_GUID(IID_ISubtitleFileInfo, 0xC669023E, 0x2791, 0x4687, 0xB5, 0xE5, 0x42, 0xBF, 0x84, 0xAA, 0xA5, 0xBD);

// What the Subtitle Manager knows of its loaded file beyond ISubtitleManager (the manager
// answers QueryInterface for it).
struct ISubtitleFileInfo : IUnknown {
  // The reader that took the loaded file: "SAMI", "SubRip", "WebVTT", "SSA/ASS" or
  // "SubRip (tolerant)", as a string like ISubtitleManager's. S_OK when a lenient reader took
  // it (worth telling the user: the file is not plain SAMI or SubRip), S_FALSE for SAMI and
  // strict SubRip, and with an empty string when nothing is loaded. E_INVALIDARG for null.
  STDMETHOD(GetReaderName)(WCHAR** name) = 0;
  // The encoding the loaded file's text was read in: "UTF-8", "UTF-16LE" or "UTF-16BE" when
  // its bytes say so, else the legacy encoding found or assumed ("CP949", "CP1252", ...), as
  // a string like ISubtitleManager's; empty when nothing is loaded. E_INVALIDARG for null.
  STDMETHOD(GetEncodingName)(WCHAR** name) = 0;
};
TAV_INTERFACE(ISubtitleFileInfo, IID_ISubtitleFileInfo);

// ---- IBurnInFilter -------------------------------------------------------------------------

TAV_DEFINE_GUID(IID_IBurnInFilter, 0x1AD3D0FA, 0x0B29, 0x465F, 0x8B, 0xC2, 0x16, 0x11, 0x8C, 0x19, 0xA0, 0x1B);

// The manager whose captions the Subtitle Filter burns in.
struct IBurnInFilter : IUnknown {
  // A counted reference, or null when none is set. E_ABORT for a null out-pointer.
  STDMETHOD(GetManager)(ISubtitleManager** manager) = 0;
  // Replaces the manager (the new one is referenced before the old one is released).
  // E_ABORT for null: a set manager cannot be removed.
  STDMETHOD(SetManager)(ISubtitleManager* manager) = 0;
};
TAV_INTERFACE(IBurnInFilter, IID_IBurnInFilter);
