// Code pages: UTF-8 and UTF-16 by hand, legacy pages through iconv.
//
// The ANSI code page is UTF-8 unless a legacy page is chosen (tav::SetAnsiCodePage or the
// TAVRION_ANSI_CODEPAGE environment variable). Text files are decoded by tav::DecodeText:
// a byte-order mark wins, then valid UTF-8, then the legacy page. Malformed input never
// stops a conversion: bad sequences become U+FFFD (or the default character).
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>

#include "media/contract/codepage.h"
#include "media/contract/hresult.h"
#include "media/contract/sync.h"
#include "media/contract/trace.h"

TAV_TRACE_SOURCE(kCodePage, nullptr);

// iconv's UTF-16LE is read and written as char16_t in place.
static_assert(std::endian::native == std::endian::little);

namespace {

constexpr DWORD kMbErrInvalidChars = 0x08;        // MB_ERR_INVALID_CHARS
constexpr DWORD kErrorNoUnicodeTranslation = 1113;  // ERROR_NO_UNICODE_TRANSLATION
constexpr char16_t kReplacement = 0xFFFD;
constexpr const char* kDefaultLegacyPage = "CP1252";

// Guards the chosen ANSI page.
std::mutex g_pageLock;
std::optional<std::string> g_ansiPage;  // guarded by g_pageLock; empty string = UTF-8
std::string g_subtitleEncoding;         // guarded by g_pageLock; empty = found per file

bool IsUtf8Name(const std::string& name) {
  std::string n;
  for (char c : name)
    if (c != '-' && c != '_') n += char(toupper(static_cast<unsigned char>(c)));
  return n.empty() || n == "UTF8" || n == "CP65001" || n == "65001";
}

bool IconvKnows(const std::string& name) {
  iconv_t cd = iconv_open("UTF-16LE", name.c_str());
  if (cd == iconv_t(-1)) return false;
  iconv_close(cd);
  return true;
}

// The legacy page name in effect, or empty when the ANSI page is UTF-8.
std::string CurrentAnsiLocked() {
  if (!g_ansiPage) {
    const char* env = std::getenv("TAVRION_ANSI_CODEPAGE");
    std::string name = env ? env : "";
    if (IsUtf8Name(name) || !IconvKnows(name)) {
      if (!IsUtf8Name(name)) fprintf(stderr, "tavrion: unknown code page \"%s\" in TAVRION_ANSI_CODEPAGE\n", env);
      name.clear();
    }
    g_ansiPage = name;
  }
  return *g_ansiPage;
}

std::string LegacyPageName() {
  std::lock_guard lock(g_pageLock);
  const std::string ansi = CurrentAnsiLocked();
  return ansi.empty() ? kDefaultLegacyPage : ansi;
}

// ---- UTF-8 ------------------------------------------------------------------------------

// Decodes one code point at s[i]; returns its length, or 0 for a malformed sequence.
size_t DecodeUtf8(std::string_view s, size_t i, char32_t* cp) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
  const unsigned char c = b(0);
  if (c < 0x80) {
    *cp = c;
    return 1;
  }
  size_t len;
  char32_t v, min;
  if ((c & 0xE0) == 0xC0) {
    len = 2, v = c & 0x1F, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    len = 3, v = c & 0x0F, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    len = 4, v = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    if ((b(k) & 0xC0) != 0x80) return 0;
    v = (v << 6) | (b(k) & 0x3F);
  }
  if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
  *cp = v;
  return len;
}

bool Utf8IsValid(std::string_view s) {
  char32_t cp;
  for (size_t i = 0; i < s.size();) {
    const size_t n = DecodeUtf8(s, i, &cp);
    if (!n) return false;
    i += n;
  }
  return true;
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out += char16_t(0xD800 + (cp >> 10));
    out += char16_t(0xDC00 + (cp & 0x3FF));
  } else {
    out += char16_t(cp);
  }
}

// A byte that is not part of valid UTF-8 (a file name in Latin-1 from an old memory card)
// is carried through UTF-16 as the lone low surrogate U+DC80..U+DCFF, and turned back into
// that byte: names keep the bytes they have on disk. Valid UTF-8 never yields a lone
// surrogate, so the round trip bytes -> UTF-16 -> bytes is exact.
constexpr char16_t kEscapeBase = 0xDC00;
bool IsEscapedByte(char16_t c) { return c >= 0xDC80 && c <= 0xDCFF; }

// Malformed bytes become U+FFFD one byte at a time (or, with escapeBytes, their escapes);
// *bad counts them.
std::u16string Utf8ToWide(std::string_view s, size_t* bad, bool escapeBytes = false) {
  std::u16string out;
  out.reserve(s.size());
  char32_t cp;
  for (size_t i = 0; i < s.size();) {
    const size_t n = DecodeUtf8(s, i, &cp);
    if (n) {
      AppendUtf16(out, cp);
      i += n;
    } else {
      out += escapeBytes ? char16_t(kEscapeBase + static_cast<unsigned char>(s[i])) : kReplacement;
      if (bad) ++*bad;
      ++i;
    }
  }
  return out;
}

// Unpaired surrogates become U+FFFD; with escapeBytes, escaped bytes become their bytes.
std::string WideToUtf8(std::u16string_view s, bool escapeBytes = false) {
  std::string out;
  out.reserve(s.size() * 3 / 2);
  for (size_t i = 0; i < s.size(); ++i) {
    char32_t cp = s[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (escapeBytes && IsEscapedByte(s[i])) {
      out += char(s[i] - kEscapeBase);
      continue;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacement;
    }
    tav::AppendUtf8(out, cp);
  }
  return out;
}

// ---- legacy pages through iconv -----------------------------------------------------------

class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != iconv_t(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

// Bytes of a legacy page to UTF-16; undecodable bytes become U+FFFD one at a time.
std::u16string LegacyToWide(std::string_view s, const std::string& page, size_t* bad) {
  Iconv cd("UTF-16LE", page.c_str());
  if (!cd.ok()) return Utf8ToWide(s, bad);
  std::u16string out;
  char16_t buf[1024];
  char* in = const_cast<char*>(s.data());
  size_t inLeft = s.size();
  while (inLeft > 0) {
    char* o = reinterpret_cast<char*>(buf);
    size_t outLeft = sizeof buf;
    const size_t r = iconv(cd.get(), &in, &inLeft, &o, &outLeft);
    out.append(buf, (sizeof buf - outLeft) / 2);
    if (r == size_t(-1)) {
      if (errno == E2BIG) continue;
      // EILSEQ or a truncated sequence (EINVAL): replace one byte and go on.
      out += kReplacement;
      if (bad) ++*bad;
      ++in;
      --inLeft;
      iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
    }
  }
  return out;
}

// UTF-16 to a legacy page; characters the page lacks become defaultChar.
std::string WideToLegacy(std::u16string_view s, const std::string& page, const char* defaultChar, bool* usedDefault) {
  Iconv cd(page.c_str(), "UTF-16LE");
  if (!cd.ok()) return WideToUtf8(s);
  const std::string fallback = defaultChar && *defaultChar ? std::string(1, *defaultChar) : "?";
  std::string out;
  char buf[1024];
  char* in = reinterpret_cast<char*>(const_cast<char16_t*>(s.data()));
  size_t inLeft = s.size() * 2;
  while (inLeft > 0) {
    char* o = buf;
    size_t outLeft = sizeof buf;
    const size_t r = iconv(cd.get(), &in, &inLeft, &o, &outLeft);
    out.append(buf, sizeof buf - outLeft);
    if (r == size_t(-1)) {
      if (errno == E2BIG) continue;
      // Skip the unmappable unit (a surrogate pair as a whole).
      const auto unit = *reinterpret_cast<const char16_t*>(in);
      const size_t skip = (unit >= 0xD800 && unit <= 0xDBFF && inLeft >= 4) ? 4 : 2;
      out += fallback;
      if (usedDefault) *usedDefault = true;
      in += std::min(skip, inLeft);
      inLeft -= std::min(skip, inLeft);
      iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
    }
  }
  return out;
}

// The iconv name of a platform code page number; empty for UTF-8.
std::string PageName(UINT codePage) {
  switch (codePage) {
    case CP_ACP:
    case CP_OEMCP: {
      std::lock_guard lock(g_pageLock);
      return CurrentAnsiLocked();
    }
    case CP_UTF8:
      return "";
    case 28591:
      return "ISO-8859-1";
    case 20127:
      return "ASCII";
    default:
      return "CP" + std::to_string(codePage);
  }
}

}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR mb, int cbMulti, LPWSTR wide, int cchWide) {
  if (!mb || cbMulti == 0 || cbMulti < -1 || cchWide < 0 || (cchWide > 0 && !wide)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const size_t len = cbMulti == -1 ? strlen(mb) + 1 : size_t(cbMulti);
  const std::string_view in(mb, len);
  const std::string page = PageName(codePage);
  size_t bad = 0;
  // The ANSI page as UTF-8 carries the bytes of names that are not UTF-8 (see Utf8ToUtf16);
  // UTF-8 asked for by name is strict.
  const bool escape = codePage != CP_UTF8 && !(flags & kMbErrInvalidChars);
  const std::u16string out = page.empty() ? Utf8ToWide(in, &bad, escape) : LegacyToWide(in, page, &bad);
  if (bad && (flags & kMbErrInvalidChars)) {
    SetLastError(kErrorNoUnicodeTranslation);
    return 0;
  }
  if (cchWide == 0) return int(out.size());
  if (out.size() > size_t(cchWide)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(wide, out.data(), out.size() * sizeof(char16_t));
  return int(out.size());
}

int WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR wide, int cchWide, LPSTR mb, int cbMulti, LPCSTR defaultChar,
                        BOOL* usedDefault) {
  if (!wide || cchWide == 0 || cchWide < -1 || cbMulti < 0 || (cbMulti > 0 && !mb)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t len = 0;
  if (cchWide == -1) {
    while (wide[len]) ++len;
    ++len;
  } else {
    len = size_t(cchWide);
  }
  const std::u16string_view in(wide, len);
  const std::string page = PageName(codePage);
  bool used = false;
  const std::string out = page.empty() ? WideToUtf8(in, codePage != CP_UTF8) : WideToLegacy(in, page, defaultChar, &used);
  if (usedDefault) *usedDefault = used ? TRUE : FALSE;
  if (cbMulti == 0) return int(out.size());
  if (out.size() > size_t(cbMulti)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(mb, out.data(), out.size());
  return int(out.size());
}

namespace tav {

bool SetAnsiCodePage(const std::string& iconvName) {
  TAV_TRACE("SetAnsiCodePage(\"%s\")", iconvName.c_str());
  if (IsUtf8Name(iconvName)) {
    std::lock_guard lock(g_pageLock);
    g_ansiPage = std::string();
    return true;
  }
  if (!IconvKnows(iconvName)) return false;
  std::lock_guard lock(g_pageLock);
  g_ansiPage = iconvName;
  return true;
}

std::string AnsiCodePage() {
  std::lock_guard lock(g_pageLock);
  const std::string page = CurrentAnsiLocked();
  return page.empty() ? "UTF-8" : page;
}

std::string LegacyCodePage() { return LegacyPageName(); }

std::u16string Utf8ToUtf16(std::string_view s) { return Utf8ToWide(s, nullptr, true); }
std::string Utf16ToUtf8(std::u16string_view s) { return WideToUtf8(s, true); }

std::u16string AnsiToWide(std::string_view s) {
  const std::string page = PageName(CP_ACP);
  return page.empty() ? Utf8ToWide(s, nullptr, true) : LegacyToWide(s, page, nullptr);
}

std::string WideToAnsi(std::u16string_view s) {
  const std::string page = PageName(CP_ACP);
  return page.empty() ? WideToUtf8(s, true) : WideToLegacy(s, page, nullptr, nullptr);
}

std::string DisplayText(std::string_view bytes) { return WideToUtf8(Utf8ToWide(bytes, nullptr)); }

std::string ByteOrderMark(std::string_view bytes, size_t* length) {
  const auto starts = [&](std::initializer_list<unsigned char> bom) {
    if (bytes.size() < bom.size()) return false;
    size_t i = 0;
    for (unsigned char b : bom)
      if (static_cast<unsigned char>(bytes[i++]) != b) return false;
    return true;
  };
  size_t n = 0;
  std::string name;
  if (starts({0xEF, 0xBB, 0xBF})) n = 3, name = "UTF-8";
  else if (starts({0xFF, 0xFE})) n = 2, name = "UTF-16LE";
  else if (starts({0xFE, 0xFF})) n = 2, name = "UTF-16BE";
  if (length) *length = n;
  return name;
}

bool IsValidUtf8(std::string_view bytes) { return Utf8IsValid(bytes); }

bool IsKnownEncoding(const std::string& name) { return !name.empty() && (IsUtf8Name(name) || IconvKnows(name)); }

std::u16string DecodeTextAs(std::string_view bytes, const std::string& encoding, size_t* bad) {
  if (IsUtf8Name(encoding)) return Utf8ToWide(bytes, bad);
  if (encoding == "UTF-16LE" || encoding == "UTF-16BE") {
    const bool littleEndian = encoding == "UTF-16LE";
    std::u16string out;
    out.reserve(bytes.size() / 2);
    size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) {
      const auto lo = static_cast<unsigned char>(bytes[littleEndian ? i : i + 1]);
      const auto hi = static_cast<unsigned char>(bytes[littleEndian ? i + 1 : i]);
      out += char16_t(lo | (hi << 8));
    }
    if (i < bytes.size()) {  // a dangling odd byte
      out += kReplacement;
      if (bad) ++*bad;
    }
    // An unpaired surrogate is damage in text, not an escaped byte of a file name.
    for (size_t k = 0; k < out.size(); ++k) {
      const bool high = out[k] >= 0xD800 && out[k] <= 0xDBFF, low = out[k] >= 0xDC00 && out[k] <= 0xDFFF;
      if (high && k + 1 < out.size() && out[k + 1] >= 0xDC00 && out[k + 1] <= 0xDFFF) {
        ++k;
      } else if (high || low) {
        out[k] = kReplacement;
        if (bad) ++*bad;
      }
    }
    return out;
  }
  return LegacyToWide(bytes, encoding, bad);
}

bool SetSubtitleEncoding(const std::string& name) {
  if (!name.empty() && !IsKnownEncoding(name)) return false;
  std::lock_guard lock(g_pageLock);
  g_subtitleEncoding = name;
  return true;
}

std::string SubtitleEncoding() {
  std::lock_guard lock(g_pageLock);
  return g_subtitleEncoding;
}

std::u16string DecodeText(std::string_view bytes) {
  size_t bomLength = 0;
  const std::string bom = ByteOrderMark(bytes, &bomLength);
  if (!bom.empty()) return DecodeTextAs(bytes.substr(bomLength), bom);
  if (Utf8IsValid(bytes)) return Utf8ToWide(bytes, nullptr);
  return LegacyToWide(bytes, LegacyPageName(), nullptr);
}

bool ReadTextFile(const std::string& path, std::u16string* out) {
  if (!out) return false;
  // Regular files only: a named pipe would block the open, and a device such as /dev/zero
  // would be read without end.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return false;
  }
  std::string bytes;
  char buf[65536];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      close(fd);
      return false;
    }
    if (n == 0) break;
    bytes.append(buf, size_t(n));
  }
  close(fd);
  *out = DecodeText(bytes);
  return true;
}

}  // namespace tav
