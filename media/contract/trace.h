// Diagnostic trace of the whole program: one switch, one output, named categories.
//
//   TAVRION_TRACE=graph,exporter      categories to switch on, separated by commas;
//                                     "all" switches on every one, "-name" switches one off
//                                     again ("all,-messages")
//   TAVRION_TRACE_FILE=/tmp/t.log     append the lines to this file instead of stderr
//
// Each line reads "hh:mm:ss.mmm [thread] category/source: message" (UTC). A check of a
// switched-off category is one relaxed load and a bit test; the message is only formatted
// when its category is on.
//
// In a source file:
//   TAV_TRACE_SOURCE(kVideoKit, "resizer");   // once, at namespace scope
//   TAV_TRACE("SetOutputSize(%d, %d, %d)", height, width, mode);
//
// Every layer traces through this interface; the platform runtime (platform/runtime/
// trace.cpp, in libtavrionrt) implements it, so one process has one switch and one output.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

#define TAV_TRACE_API __attribute__((visibility("default")))

namespace tav::trace {

// The names TAVRION_TRACE accepts, in the order of CategoryName.
enum class Category : unsigned {
  kCom,          // "com": component libraries loaded, classes looked up and created
  kRegistry,     // "registry": registry changes and hive writes
  kMessages,     // "messages": window handles, posted and sent messages, timers
  kRot,          // "rot": the running object table
  kModules,      // "modules": LoadLibrary and known folders
  kCodePage,     // "codepage": the ANSI code page in use
  kScreenSaver,  // "screensaver": holding off the desktop's screen saver
  kGraph,        // "graph": graph manager, filter mapper, clock, capture builder
  kBase,         // "base": the filter base classes (pins, allocators, transforms, renderers)
  kFilters,      // "filters": the platform's own filters (sources, splitters, decoders, renderers)
  kFfmpeg,       // "ffmpeg": FFmpeg's own log messages, quiet otherwise
  kCaptions,     // "captions": subtitle parsing, burn-in and drawing
  kVideoKit,     // "videokit": resizers, frame rate converter, readers, audio filters
  kExporter,     // "exporter": the camera movie writer and its movie library
  kQvf,          // "qvf": the camera movie reader
  kSubtypes,     // "subtypes": the subtype adapter
  kEngine,       // "engine": graph building and conversion runs of the converter
  kUi,           // "ui": the desktop program's own diagnostics
  kCount
};

// Where a trace line comes from: the category that switches it and the file's own name.
struct Source {
  Category category;
  const char* name;  // may be null when the category says enough
};

TAV_TRACE_API const char* CategoryName(Category category);

namespace detail {
inline constexpr std::uint32_t kUnread = 1u << 31;
static_assert(static_cast<unsigned>(Category::kCount) < 31, "categories must fit below kUnread");
// Bit per switched-on category; kUnread until the environment has been read.
TAV_TRACE_API extern std::atomic<std::uint32_t> gEnabled;
TAV_TRACE_API std::uint32_t ReadSetting();
}  // namespace detail

inline bool On(Category category) {
  std::uint32_t mask = detail::gEnabled.load(std::memory_order_relaxed);
  if (mask & detail::kUnread) [[unlikely]]
    mask = detail::ReadSetting();
  return (mask >> static_cast<unsigned>(category)) & 1u;
}

// Writes one line when the source's category is on. A line longer than about 2 KB is cut.
TAV_TRACE_API void Line(const Source& source, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Writes text that is already formatted (one line; a trailing line break is dropped).
TAV_TRACE_API void Text(const Source& source, std::string_view text);

// Reads TAVRION_TRACE and TAVRION_TRACE_FILE again, for programs and tests that change them
// after the first trace call. Lines already written stay where they went.
TAV_TRACE_API void Reload();

// A trace with a file of its own: numbered, UTC-stamped lines
// ("%4d | %2d:%02d:%02d.%03d " + message + CR LF). It is made switched off; the file is
// created by the first line written while it is on, replacing an old one, and flushed and
// closed by Close. Every message also goes to the common trace under the source's category,
// whether the file is on or not.
class TAV_TRACE_API NumberedFile {
 public:
  NumberedFile(Source source, std::string path) : source_(source), path_(std::move(path)) {}
  ~NumberedFile() { Close(); }
  NumberedFile(const NumberedFile&) = delete;
  NumberedFile& operator=(const NumberedFile&) = delete;

  void SwitchOn(bool on);
  bool isOn() const;
  void Write(const char* message);
  void Close();

 private:
  const Source source_;
  const std::string path_;
  // Guards the switch, the file and the counter: several threads write.
  mutable std::mutex lock_;
  bool on_ = false;            // guarded by lock_
  std::FILE* file_ = nullptr;  // guarded by lock_
  int count_ = 0;              // guarded by lock_
};

}  // namespace tav::trace

// Names the category and source of the TAV_TRACE lines of one file.
#define TAV_TRACE_SOURCE(category, name) \
  [[maybe_unused]] static constexpr ::tav::trace::Source kTraceSource{::tav::trace::Category::category, name}

#define TAV_TRACE(...)                                                                      \
  do {                                                                                      \
    if (::tav::trace::On(kTraceSource.category)) ::tav::trace::Line(kTraceSource, __VA_ARGS__); \
  } while (0)
