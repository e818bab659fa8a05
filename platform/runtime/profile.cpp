// Private profile (INI) files. The file is read afresh on every call (these files are
// small and other programs edit them), and rewritten line by line so comments, order
// and unknown lines survive a write. Writes take an exclusive lock on "<file>.lock",
// re-read the file under it and replace it atomically (temporary file, flush, rename).
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "media/contract/hresult.h"
#include "media/contract/profile.h"

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

struct Lines {
  std::string bom;          // kept as found
  std::string eol = "\n";   // "\r\n" when the file used it
  std::vector<std::string> lines;
};

std::string_view Trim(std::string_view s) {
  const auto notSpace = [](char c) { return c != ' ' && c != '\t' && c != '\r' && c != '\n'; };
  while (!s.empty() && !notSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && !notSpace(s.back())) s.remove_suffix(1);
  return s;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// A bare file name lives in the per-user configuration folder, the way the platform keeps
// such files in its own folder.
std::string ResolvePath(LPCSTR fileName) {
  if (std::strchr(fileName, '/')) return fileName;
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string dir = config && *config ? config : std::string(std::getenv("HOME") ? std::getenv("HOME") : "/tmp") + "/.config";
  return dir + "/tavrion/" + fileName;
}

std::optional<Lines> Load(const std::string& path, bool* exists) {
  Lines out;
  *exists = false;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? std::optional<Lines>(out) : std::nullopt;
  *exists = true;
  std::string text;
  char buf[16384];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) != 0) {
    if (n < 0) {
      if (errno == EINTR) continue;
      close(fd);
      return std::nullopt;
    }
    text.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  if (text.compare(0, kUtf8Bom.size(), kUtf8Bom) == 0) {
    out.bom = kUtf8Bom;
    text.erase(0, kUtf8Bom.size());
  }
  const size_t firstNl = text.find('\n');
  if (firstNl != std::string::npos && firstNl > 0 && text[firstNl - 1] == '\r') out.eol = "\r\n";
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) nl = text.size();
    std::string line = text.substr(pos, nl - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.lines.push_back(std::move(line));
    pos = nl + 1;
  }
  return out;
}

// "[name]" lines: the name, or nullopt for other lines.
std::optional<std::string_view> SectionName(std::string_view line) {
  line = Trim(line);
  if (line.size() < 2 || line.front() != '[') return std::nullopt;
  const size_t close = line.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return Trim(line.substr(1, close - 1));
}

// "key=value" lines; comments (';') and lines without '=' are not keys.
bool SplitKey(std::string_view line, std::string_view* key, std::string_view* value) {
  const std::string_view t = Trim(line);
  if (t.empty() || t.front() == ';' || t.front() == '[') return false;
  const size_t eq = t.find('=');
  if (eq == std::string_view::npos) return false;
  *key = Trim(t.substr(0, eq));
  *value = Trim(t.substr(eq + 1));
  return true;
}

// Index range of a section's body: the header at 'header', body up to the next header.
struct SectionRange {
  size_t header;
  size_t end;
};

std::optional<SectionRange> FindSection(const Lines& f, std::string_view section) {
  for (size_t i = 0; i < f.lines.size(); ++i) {
    const auto name = SectionName(f.lines[i]);
    if (!name || !EqualNoCase(*name, section)) continue;
    size_t end = i + 1;
    while (end < f.lines.size() && !SectionName(f.lines[end])) ++end;
    return SectionRange{i, end};
  }
  return std::nullopt;
}

std::optional<size_t> FindKey(const Lines& f, const SectionRange& r, std::string_view key) {
  for (size_t i = r.header + 1; i < r.end; ++i) {
    std::string_view k, v;
    if (SplitKey(f.lines[i], &k, &v) && EqualNoCase(k, key)) return i;
  }
  return std::nullopt;
}

std::string_view Unquote(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) return v.substr(1, v.size() - 2);
  return v;
}

// Copies a double-terminated list; a list that does not fit is cut and still double-terminated.
DWORD CopyList(const std::vector<std::string>& items, LPSTR out, DWORD size) {
  if (size < 2) {
    if (size == 1) out[0] = '\0';
    return 0;
  }
  DWORD pos = 0;
  for (const std::string& item : items) {
    for (char c : item) {
      if (pos >= size - 2) {
        out[pos] = '\0';
        out[pos + 1] = '\0';
        return size - 2;
      }
      out[pos++] = c;
    }
    if (pos >= size - 2) {
      out[pos] = '\0';
      out[pos + 1] = '\0';
      return size - 2;
    }
    out[pos++] = '\0';
  }
  out[pos] = '\0';
  return pos;
}

DWORD CopyString(std::string_view s, LPSTR out, DWORD size) {
  if (size == 0) return 0;
  const DWORD n = static_cast<DWORD>(std::min<size_t>(s.size(), size - 1));
  std::memcpy(out, s.data(), n);
  out[n] = '\0';
  return n;
}

bool WriteAtomically(const std::string& path, const Lines& f) {
  std::string text = f.bom;
  for (const std::string& line : f.lines) {
    text += line;
    text += f.eol;
  }
  const std::string temp = path + ".tmp";
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  std::string_view rest = text;
  bool ok = true;
  while (ok && !rest.empty()) {
    const ssize_t n = write(fd, rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else rest.remove_prefix(static_cast<size_t>(n));
  }
  ok = ok && fsync(fd) == 0;
  ok = (close(fd) == 0) && ok;
  ok = ok && rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) unlink(temp.c_str());
  return ok;
}

}  // namespace

DWORD GetPrivateProfileString(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR out, DWORD size,
                              LPCSTR fileName) {
  if (!out || size == 0) return 0;
  out[0] = '\0';
  if (!fileName) return 0;
  bool exists = false;
  const std::optional<Lines> f = Load(ResolvePath(fileName), &exists);
  if (!f) return CopyString(Trim(defaultValue ? defaultValue : ""), out, size);

  if (!section) {
    std::vector<std::string> names;
    for (const std::string& line : f->lines) {
      if (const auto name = SectionName(line)) names.emplace_back(*name);
    }
    return CopyList(names, out, size);
  }
  const std::optional<SectionRange> range = FindSection(*f, section);
  if (!key) {
    std::vector<std::string> keys;
    if (range) {
      for (size_t i = range->header + 1; i < range->end; ++i) {
        std::string_view k, v;
        if (SplitKey(f->lines[i], &k, &v)) keys.emplace_back(k);
      }
    }
    return CopyList(keys, out, size);
  }
  if (range) {
    if (const auto line = FindKey(*f, *range, key)) {
      std::string_view k, v;
      SplitKey(f->lines[*line], &k, &v);
      return CopyString(Unquote(v), out, size);
    }
  }
  // The default loses its trailing blanks, as on the platform.
  std::string_view def = defaultValue ? defaultValue : "";
  while (!def.empty() && (def.back() == ' ' || def.back() == '\t')) def.remove_suffix(1);
  return CopyString(def, out, size);
}

UINT GetPrivateProfileInt(LPCSTR section, LPCSTR key, INT defaultValue, LPCSTR fileName) {
  if (!section || !key) return static_cast<UINT>(defaultValue);
  char buf[64];
  // An empty or missing value gives the default; otherwise the leading number counts
  // ("12abc" is 12, "abc" is 0), with an optional sign.
  if (GetPrivateProfileString(section, key, "", buf, sizeof buf, fileName) == 0) return static_cast<UINT>(defaultValue);
  const char* p = buf;
  while (*p == ' ' || *p == '\t') ++p;
  bool negative = false;
  if (*p == '-' || *p == '+') negative = *p++ == '-';
  uint64_t v = 0;
  while (*p >= '0' && *p <= '9') {
    v = v * 10 + static_cast<uint64_t>(*p++ - '0');
    if (v > 0xFFFFFFFFull) v = 0xFFFFFFFFull;
  }
  const auto u = static_cast<UINT>(v);
  return negative ? static_cast<UINT>(0u - u) : u;
}

BOOL WritePrivateProfileString(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName) {
  if (!fileName) return FALSE;
  if (!section) return key || value ? FALSE : TRUE;  // all null: nothing cached to flush
  const std::string path = ResolvePath(fileName);
  if (std::strpbrk(section, "]\r\n") || (key && (std::strpbrk(key, "=\r\n") || Trim(key).empty())) ||
      (value && std::strpbrk(value, "\r\n"))) {
    return FALSE;  // would not read back as written
  }

  if (!std::strchr(fileName, '/')) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  }
  const std::string lockPath = path + ".lock";
  const int lockFd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (lockFd < 0) return FALSE;
  while (flock(lockFd, LOCK_EX) != 0 && errno == EINTR) {
  }
  bool exists = false;
  std::optional<Lines> f = Load(path, &exists);
  bool changed = false;
  bool ok = f.has_value();
  if (ok) {
    const std::optional<SectionRange> range = FindSection(*f, section);
    if (!key) {
      if (range) {
        f->lines.erase(f->lines.begin() + static_cast<long>(range->header), f->lines.begin() + static_cast<long>(range->end));
        changed = true;
      }
    } else if (!value) {
      if (range) {
        if (const auto line = FindKey(*f, *range, key)) {
          f->lines.erase(f->lines.begin() + static_cast<long>(*line));
          changed = true;
        }
      }
    } else if (range) {
      if (const auto line = FindKey(*f, *range, key)) {
        std::string_view k, v;
        SplitKey(f->lines[*line], &k, &v);
        f->lines[*line] = std::string(k) + "=" + value;  // keeps the key's spelling
      } else {
        // After the section's last non-blank line, so blank separators stay in place.
        size_t at = range->end;
        while (at > range->header + 1 && Trim(f->lines[at - 1]).empty()) --at;
        f->lines.insert(f->lines.begin() + static_cast<long>(at), std::string(Trim(key)) + "=" + value);
      }
      changed = true;
    } else {
      if (!f->lines.empty() && !Trim(f->lines.back()).empty()) f->lines.emplace_back();
      f->lines.push_back("[" + std::string(section) + "]");
      f->lines.push_back(std::string(Trim(key)) + "=" + value);
      changed = true;
    }
    if (changed) ok = WriteAtomically(path, *f);
  }
  flock(lockFd, LOCK_UN);
  close(lockFd);
  return ok ? TRUE : FALSE;
}
