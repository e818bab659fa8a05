// Base types with the sizes the component libraries were written against.
// WCHAR is UTF-16 on every host; "ANSI" strings are char (UTF-8 by default).
#pragma once

#include <cstddef>
#include <cstdint>

using BYTE = uint8_t;
using UCHAR = uint8_t;
using CHAR = char;
using WORD = uint16_t;
using USHORT = uint16_t;
using SHORT = int16_t;
using DWORD = uint32_t;
using UINT = uint32_t;
using ULONG = uint32_t;
using LONG = int32_t;
using INT = int32_t;
using BOOL = int32_t;
using HRESULT = int32_t;
using LSTATUS = LONG;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using DWORDLONG = uint64_t;
using REFERENCE_TIME = int64_t;
using FLOAT = float;
using DOUBLE = double;
using BOOLEAN = uint8_t;

using INT_PTR = intptr_t;
using UINT_PTR = uintptr_t;
using LONG_PTR = intptr_t;
using ULONG_PTR = uintptr_t;
using DWORD_PTR = uintptr_t;
using SIZE_T = size_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

using WCHAR = char16_t;
using OLECHAR = char16_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using LPSTR = char*;
using LPCSTR = const char*;
using BSTR = OLECHAR*;
using PVOID = void*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;
using LPLONG = LONG*;

// Opaque handles. Each kind is a distinct pointer type so that they cannot be mixed up.
#define TAV_DECLARE_HANDLE(name) \
  struct name##__ { int unused; };  \
  using name = name##__*
using HANDLE = void*;
TAV_DECLARE_HANDLE(HWND);
TAV_DECLARE_HANDLE(HKEY);
TAV_DECLARE_HANDLE(HINSTANCE);
TAV_DECLARE_HANDLE(HDC);
TAV_DECLARE_HANDLE(HBITMAP);
TAV_DECLARE_HANDLE(HFONT);
TAV_DECLARE_HANDLE(HBRUSH);
TAV_DECLARE_HANDLE(HPEN);
TAV_DECLARE_HANDLE(HRGN);
TAV_DECLARE_HANDLE(HPALETTE);
TAV_DECLARE_HANDLE(HICON);
using HMODULE = HINSTANCE;
using HGDIOBJ = void*;
using HCURSOR = HICON;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#ifndef MAX_PATH
#define MAX_PATH 260
#endif

#define STDMETHODCALLTYPE
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE
#define STDMETHOD(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHOD_(type, method) virtual type STDMETHODCALLTYPE method
#define STDAPI extern "C" HRESULT
#define PURE = 0

constexpr WORD LOWORD(DWORD_PTR v) { return static_cast<WORD>(v & 0xFFFF); }
constexpr WORD HIWORD(DWORD_PTR v) { return static_cast<WORD>((v >> 16) & 0xFFFF); }
constexpr BYTE LOBYTE(DWORD_PTR v) { return static_cast<BYTE>(v & 0xFF); }
constexpr DWORD MAKELONG(WORD lo, WORD hi) { return DWORD(lo) | (DWORD(hi) << 16); }

using FOURCC = DWORD;
constexpr FOURCC MAKEFOURCC(char a, char b, char c, char d) {
  return DWORD(BYTE(a)) | (DWORD(BYTE(b)) << 8) | (DWORD(BYTE(c)) << 16) | (DWORD(BYTE(d)) << 24);
}
#define mmioFOURCC(a, b, c, d) MAKEFOURCC(a, b, c, d)

#pragma pack(push, 8)
struct RECT {
  LONG left, top, right, bottom;
};
struct POINT {
  LONG x, y;
};
struct SIZE {
  LONG cx, cy;
};
union LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  } u;
  LONGLONG QuadPart;
};
union ULARGE_INTEGER {
  struct {
    DWORD LowPart;
    DWORD HighPart;
  } u;
  ULONGLONG QuadPart;
};
#pragma pack(pop)
using LPRECT = RECT*;
using LPCRECT = const RECT*;
using LPPOINT = POINT*;

static_assert(sizeof(RECT) == 16 && sizeof(POINT) == 8 && sizeof(SIZE) == 8);
static_assert(sizeof(LONG) == 4 && sizeof(DWORD) == 4 && sizeof(WCHAR) == 2 && sizeof(LONGLONG) == 8);

inline BOOL SetRect(RECT* r, int l, int t, int rt, int b) {
  if (!r) return FALSE;
  *r = RECT{l, t, rt, b};
  return TRUE;
}
// a * b / c in 64 bits, rounded half away from zero; -1 when c is 0 or the result does not fit.
inline int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  long long n = (long long)a * b;
  const bool negative = (n < 0) != (c < 0);
  unsigned long long un = n < 0 ? 0ULL - (unsigned long long)n : (unsigned long long)n;
  const unsigned long long uc = c < 0 ? 0ULL - (unsigned long long)(long long)c : (unsigned long long)c;
  const unsigned long long q = (un + uc / 2) / uc;
  if (q > 0x7FFFFFFFULL + (negative ? 1 : 0)) return -1;
  return negative ? int(0LL - (long long)q) : int(q);
}
inline BOOL SetRectEmpty(RECT* r) { return SetRect(r, 0, 0, 0, 0); }
inline BOOL IsRectEmpty(const RECT* r) { return !r || r->right <= r->left || r->bottom <= r->top; }
inline BOOL EqualRect(const RECT* a, const RECT* b) {
  return a && b && a->left == b->left && a->top == b->top && a->right == b->right && a->bottom == b->bottom;
}
inline BOOL OffsetRect(RECT* r, int dx, int dy) {
  if (!r) return FALSE;
  r->left += dx; r->right += dx; r->top += dy; r->bottom += dy;
  return TRUE;
}
