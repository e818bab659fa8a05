// Reading a subtitle file as text. Its bytes are decoded (DecodeSubtitleBytes) and the readers
// see the text in the ANSI code page, split into lines.
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

// As ReadSubtitleText, but within a ScopedSubtitleTextCache the cached text is handed over
// instead of copied, so a large file is held once; a later read of the same path decodes the
// file again.
bool TakeSubtitleText(const std::string& path, std::string* ansiText);
// The first bytes (at most maxBytes) of what ReadSubtitleText gives, for a reader to tell
// cheaply whether the file can be its kind before it takes the whole text.
bool PeekSubtitleText(const std::string& path, size_t maxBytes, std::string* start);

// The encoding the file at path was decoded from ("CP949", "UTF-16LE", ...) the last time
// ReadSubtitleText read it; empty when it could not be read. Within a ScopedSubtitleTextCache
// this costs nothing.
std::string SubtitleTextEncoding(const std::string& path);

// A subtitle file's bytes as UTF-16, and in *encoding the name of the encoding they were read
// in. A byte-order mark is honoured and dropped; then the encoding the user forced
// (tav::SetSubtitleEncoding), if any; then valid UTF-8 (pure ASCII included) is kept; then
// the encoding the character-set detector names, when it is sure of it and the bytes decode
// cleanly in it; anything else comes from the legacy code page (tav::LegacyCodePage).
// Detected legacy encodings are widened to the Windows page that contains them (EUC-KR to
// CP949, Shift_JIS to CP932, GB2312 to GB18030, Big5 to CP950, ISO-8859-1 to CP1252), since
// subtitle files are written with the wider page's extra characters.
std::u16string DecodeSubtitleBytes(std::string_view bytes, std::string* encoding);

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
