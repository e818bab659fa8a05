#include "libs/captionparser/subtitletext.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <uchardet/uchardet.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <memory>

#include "media/contract/codepage.h"

namespace captionparser {

namespace {

struct TextCache {
  bool active = false;
  bool filled = false;
  std::string path;
  bool readable = false;
  bool taken = false;  // the text was handed over: a further read decodes the file again
  std::string text;
  std::string encoding;
};
thread_local TextCache t_cache;

bool ReadAndDecode(const std::string& path, std::string* ansiText, std::string* encoding);

// The detector settles on an encoding long before this; more only costs time.
constexpr size_t kDetectorSampleBytes = 4 << 20;
// Below this many non-ASCII bytes the detector's guess is no better than chance (two Korean
// syllables read as Greek), so the legacy page is kept.
constexpr size_t kMinDetectableBytes = 8;

struct DetectorDelete {
  void operator()(uchardet_t detector) const { uchardet_delete(detector); }
};
using UniqueDetector = std::unique_ptr<std::remove_pointer_t<uchardet_t>, DetectorDelete>;

// The Windows page that contains a detected encoding, in the upper case iconv takes.
std::string WidenedEncoding(std::string name) {
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return char(std::toupper(c)); });
  static constexpr struct {
    const char* detected;
    const char* wider;
  } kWider[] = {{"EUC-KR", "CP949"},  {"UHC", "CP949"},     {"SHIFT_JIS", "CP932"}, {"GB2312", "GB18030"},
                {"BIG5", "CP950"},    {"ISO-8859-1", "CP1252"}, {"WINDOWS-1252", "CP1252"}};
  for (const auto& w : kWider)
    if (name == w.detected) return w.wider;
  return name;
}

// The encoding the detector names for bytes, widened; empty when it has no answer.
std::string DetectedEncoding(std::string_view bytes) {
  const UniqueDetector detector(uchardet_new());
  if (!detector) return {};
  const size_t sample = std::min(bytes.size(), kDetectorSampleBytes);
  const auto high = std::count_if(bytes.begin(), bytes.begin() + sample,
                                  [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
  if (size_t(high) < kMinDetectableBytes) return {};
  if (uchardet_handle_data(detector.get(), bytes.data(), sample) != 0) return {};
  uchardet_data_end(detector.get());
  const char* name = uchardet_get_charset(detector.get());
  return name && *name ? WidenedEncoding(name) : std::string();
}

}  // namespace

ScopedSubtitleTextCache::ScopedSubtitleTextCache() : outer_(nullptr) {
  if (!t_cache.active) {
    t_cache.active = true;
    outer_ = this;  // the outermost scope owns the cache
  }
}

ScopedSubtitleTextCache::~ScopedSubtitleTextCache() {
  if (outer_ == this) t_cache = TextCache{};
}

namespace {

void FillCache(const std::string& path) {
  if (t_cache.filled && t_cache.path == path && !t_cache.taken) return;
  t_cache.filled = true;
  t_cache.taken = false;
  t_cache.path = path;
  t_cache.readable = ReadAndDecode(path, &t_cache.text, &t_cache.encoding);
}

}  // namespace

bool ReadSubtitleText(const std::string& path, std::string* ansiText) {
  if (!t_cache.active) return ReadAndDecode(path, ansiText, nullptr);
  FillCache(path);
  *ansiText = t_cache.text;
  return t_cache.readable;
}

bool TakeSubtitleText(const std::string& path, std::string* ansiText) {
  if (!t_cache.active) return ReadAndDecode(path, ansiText, nullptr);
  FillCache(path);
  *ansiText = std::move(t_cache.text);
  t_cache.text = std::string();
  t_cache.taken = true;
  return t_cache.readable;
}

bool PeekSubtitleText(const std::string& path, size_t maxBytes, std::string* start) {
  if (!t_cache.active) {
    std::string text;
    const bool readable = ReadAndDecode(path, &text, nullptr);
    start->assign(text, 0, std::min(maxBytes, text.size()));
    return readable;
  }
  FillCache(path);
  start->assign(t_cache.text, 0, std::min(maxBytes, t_cache.text.size()));
  return t_cache.readable;
}

std::string SubtitleTextEncoding(const std::string& path) {
  if (t_cache.active && t_cache.filled && t_cache.path == path) return t_cache.encoding;
  std::string text, encoding;
  ReadAndDecode(path, &text, &encoding);
  return encoding;
}

std::u16string DecodeSubtitleBytes(std::string_view bytes, std::string* encoding) {
  size_t bomLength = 0;
  std::string used = tav::ByteOrderMark(bytes, &bomLength);
  if (!used.empty()) {
    *encoding = used;
    return tav::DecodeTextAs(bytes.substr(bomLength), used);
  }
  if (used = tav::SubtitleEncoding(); !used.empty()) {
    *encoding = used;
    return tav::DecodeTextAs(bytes, used);
  }
  if (tav::IsValidUtf8(bytes)) {
    *encoding = "UTF-8";
    return tav::DecodeTextAs(bytes, "UTF-8");
  }
  // The detector's answer counts only when every byte decodes in it: a wrong guess of a
  // multi-byte encoding shows as sequences it cannot read.
  if (used = DetectedEncoding(bytes); !used.empty() && tav::IsKnownEncoding(used)) {
    size_t bad = 0;
    std::u16string text = tav::DecodeTextAs(bytes, used, &bad);
    if (bad == 0) {
      *encoding = used;
      return text;
    }
  }
  *encoding = tav::LegacyCodePage();
  return tav::DecodeTextAs(bytes, *encoding);
}

namespace {

// The whole file as bytes. Only regular files: a folder cannot be read, and a pipe or device
// could block forever (the open does not wait for a writer either).
bool ReadBytes(const std::string& path, std::string* bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxSubtitleFileBytes) {
    ::close(fd);
    return false;
  }
  bytes->reserve(size_t(st.st_size));
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    // A file that grows while it is read is still refused past the limit.
    if (n < 0 || bytes->size() + size_t(std::max<ssize_t>(n, 0)) > size_t(kMaxSubtitleFileBytes)) {
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    bytes->append(buf, size_t(n));
  }
  ::close(fd);
  return true;
}

bool ReadAndDecode(const std::string& path, std::string* ansiText, std::string* encoding) {
  ansiText->clear();
  if (encoding) encoding->clear();
  std::string bytes;
  if (path.empty() || !ReadBytes(path, &bytes)) return false;
  // UTF-8 read into a UTF-8 ANSI page comes out byte for byte as it went in: the bytes are
  // the text, without the detour through UTF-16 (three more copies of a large file).
  if (tav::AnsiCodePage() == "UTF-8" && tav::SubtitleEncoding().empty()) {
    size_t bomLength = 0;
    const std::string bom = tav::ByteOrderMark(bytes, &bomLength);
    if ((bom.empty() || bom == "UTF-8") && tav::IsValidUtf8(std::string_view(bytes).substr(bomLength))) {
      bytes.erase(0, bomLength);
      *ansiText = std::move(bytes);
      if (encoding) *encoding = "UTF-8";
      return true;
    }
  }
  std::string used;
  *ansiText = tav::WideToAnsi(DecodeSubtitleBytes(bytes, &used));
  if (encoding) *encoding = used;
  return true;
}

}  // namespace

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t lf = text.find('\n', pos);
    if (lf == std::string_view::npos) {
      lines.push_back(text.substr(pos));
      break;
    }
    size_t end = lf;
    if (end > pos && text[end - 1] == '\r') --end;
    lines.push_back(text.substr(pos, end - pos));
    pos = lf + 1;
  }
  return lines;
}

}  // namespace captionparser
