// Globally unique identifiers: layout, comparison, hashing and the platform's text form.
#pragma once

#include <cstring>
#include <functional>
#include <string>
#include <string_view>

#include "media/contract/wintypes.h"

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};
static_assert(sizeof(GUID) == 16);

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using LPGUID = GUID*;
using LPCLSID = CLSID*;

inline bool operator==(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }
inline bool operator<(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }
inline BOOL IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }
inline BOOL IsEqualIID(REFIID a, REFIID b) { return a == b; }
inline BOOL IsEqualCLSID(REFCLSID a, REFCLSID b) { return a == b; }

constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
constexpr IID IID_NULL = GUID_NULL;
constexpr CLSID CLSID_NULL = GUID_NULL;

// Declares an identifier constant. Kept as a macro so declarations read like the
// platform's headers.
#define TAV_DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  inline constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}

namespace tav {

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case, as the platform writes it.
std::string GuidToString(const GUID& g);
std::u16string GuidToWString(const GUID& g);
// Accepts the braced form, and the bare 36-character form; case-insensitive.
bool GuidFromString(std::string_view text, GUID* out);
bool GuidFromString(std::u16string_view text, GUID* out);

}  // namespace tav

template <>
struct std::hash<GUID> {
  size_t operator()(const GUID& g) const noexcept {
    uint64_t a, b;
    std::memcpy(&a, &g, 8);
    std::memcpy(&b, reinterpret_cast<const char*>(&g) + 8, 8);
    return std::hash<uint64_t>{}(a ^ (b * 0x9E3779B97F4A7C15ull));
  }
};
