// Reading a subtitle file as text: the platform decodes it (a UTF-8 or UTF-16 byte-order mark
// is honoured and dropped, valid UTF-8 is kept, anything else comes from the legacy code page)
// and the readers see it in the ANSI code page, split into lines.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace captionparser {

// No subtitle file comes near this size; larger files are refused, which keeps memory bounded
// and every position in the text within 32 bits.
inline constexpr long long kMaxSubtitleFileBytes = 1LL << 30;

// False when the path is not a readable regular file, or one larger than kMaxSubtitleFileBytes.
bool ReadSubtitleText(const std::string& path, std::string* ansiText);

// While one of these lives (on this thread), the file read first is kept decoded, and every
// ReadSubtitleText of the same path gets a copy instead of reading and decoding it again: the
// manager's load tries up to five readers on one file.
class ScopedSubtitleTextCache {
 public:
  ScopedSubtitleTextCache();
  ~ScopedSubtitleTextCache();
  ScopedSubtitleTextCache(const ScopedSubtitleTextCache&) = delete;
  ScopedSubtitleTextCache& operator=(const ScopedSubtitleTextCache&) = delete;

 private:
  ScopedSubtitleTextCache* outer_;
};

// Lines without their terminators. A line ends at LF or CR LF; a last line without a
// terminator counts when it is not empty.
std::vector<std::string_view> SplitLines(std::string_view text);

}  // namespace captionparser
