// Code pages. The "ANSI" code page is UTF-8 unless set to a legacy one (an iconv name
// such as CP949 or CP1252) through tav::SetAnsiCodePage or TAVRION_ANSI_CODEPAGE.
#pragma once

#include <string>
#include <string_view>

#include "media/contract/wintypes.h"

constexpr UINT CP_ACP = 0;
constexpr UINT CP_OEMCP = 1;
constexpr UINT CP_UTF8 = 65001;

// The platform's calls: cchWide / cbMulti of 0 ask for the required size; -1 lengths
// mean NUL-terminated input (the terminator is converted too).
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR mb, int cbMulti, LPWSTR wide, int cchWide);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int cchWide, LPSTR mb, int cbMulti,
                        LPCSTR defaultChar, BOOL* usedDefault);

namespace tav {

// Sets the legacy code page used for ANSI text that is not UTF-8 ("CP949", "CP1252");
// an empty name restores UTF-8 as the ANSI code page. Returns false for an unknown name.
bool SetAnsiCodePage(const std::string& iconvName);
// Current ANSI code page name ("UTF-8" or the legacy name).
std::string AnsiCodePage();
// The legacy page tried for text that is not valid UTF-8 (default CP1252).
std::string LegacyCodePage();

// Bytes that are not valid UTF-8 (a file name in a legacy encoding) travel through UTF-16
// as lone surrogates U+DC80..U+DCFF and come back as the same bytes, so a name converted
// there and back names the same file. With a legacy ANSI page, AnsiToWide/WideToAnsi
// convert through that page instead.
std::u16string Utf8ToUtf16(std::string_view s);
std::string Utf16ToUtf8(std::u16string_view s);
std::u16string AnsiToWide(std::string_view s);
std::string WideToAnsi(std::u16string_view s);
// bytes as valid UTF-8 text for showing: every byte that is not valid UTF-8 becomes U+FFFD.
std::string DisplayText(std::string_view bytes);

// Appends the UTF-8 bytes of the code point cp (at most U+10FFFF) to out.
inline void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | (cp >> 18));
    out += char(0x80 | ((cp >> 12) & 0x3F));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

// Decodes a text file's bytes: a UTF-8 or UTF-16 (LE/BE) byte-order mark is honoured and
// removed; valid UTF-8 is taken as is; anything else is decoded from the legacy code page.
std::u16string DecodeText(std::string_view bytes);

// The encoding a byte-order mark at the start of bytes names ("UTF-8", "UTF-16LE" or
// "UTF-16BE") and, in *length, the mark's size; empty (and 0) when there is none.
std::string ByteOrderMark(std::string_view bytes, size_t* length);
bool IsValidUtf8(std::string_view bytes);
// Whether text can be decoded from the named encoding (an iconv name such as "CP949").
bool IsKnownEncoding(const std::string& name);
// bytes (without a byte-order mark) read in the named encoding; UTF-8 and UTF-16LE/BE are
// decoded by hand, any other name through iconv. Bad or cut sequences become U+FFFD, each
// counted in *bad. An unknown name reads the bytes as UTF-8.
std::u16string DecodeTextAs(std::string_view bytes, const std::string& encoding, size_t* bad = nullptr);

// The encoding subtitle files without a byte-order mark are read in, whatever their bytes
// look like (a user's choice when guessing fails); empty, the default, lets the reader find
// it. False, with nothing changed, for an unknown name.
bool SetSubtitleEncoding(const std::string& name);
std::string SubtitleEncoding();
// Reads and decodes a whole file; false when it cannot be read.
bool ReadTextFile(const std::string& path, std::u16string* out);

}  // namespace tav
