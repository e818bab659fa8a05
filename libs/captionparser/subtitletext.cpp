#include "libs/captionparser/subtitletext.h"

#include <sys/stat.h>

#include "media/contract/codepage.h"

namespace captionparser {

namespace {

struct TextCache {
  bool active = false;
  bool filled = false;
  std::string path;
  bool readable = false;
  std::string text;
};
thread_local TextCache t_cache;

bool ReadAndDecode(const std::string& path, std::string* ansiText);

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

bool ReadSubtitleText(const std::string& path, std::string* ansiText) {
  if (!t_cache.active) return ReadAndDecode(path, ansiText);
  if (!t_cache.filled || t_cache.path != path) {
    t_cache.filled = true;
    t_cache.path = path;
    t_cache.readable = ReadAndDecode(path, &t_cache.text);
  }
  *ansiText = t_cache.text;
  return t_cache.readable;
}

namespace {

bool ReadAndDecode(const std::string& path, std::string* ansiText) {
  ansiText->clear();
  // Only regular files: a folder cannot be read, and a pipe or device could block forever.
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (st.st_size > kMaxSubtitleFileBytes) return false;
  std::u16string wide;
  if (!tav::ReadTextFile(path, &wide)) return false;
  *ansiText = tav::WideToAnsi(wide);
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
