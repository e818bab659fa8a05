#include "media/contract/trace.h"

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <ctime>
#include <iterator>

namespace tav::trace {

namespace detail {
std::atomic<std::uint32_t> gEnabled{kUnread};
}  // namespace detail

namespace {

constexpr const char* kNames[] = {"com",      "registry", "messages", "rot",      "modules", "codepage",
                                  "screensaver", "graph", "base",     "filters",  "ffmpeg",  "captions",
                                  "videokit", "exporter", "qvf",      "subtypes", "engine",  "ui"};
static_assert(std::size(kNames) == static_cast<size_t>(Category::kCount), "one name per category");

constexpr size_t kMaxLineBytes = 2048;

// The one output of every trace line: stderr, or the file TAVRION_TRACE_FILE names, opened
// on the first line. Never destroyed, so threads still tracing during exit find it intact.
struct Output {
  // Guards fd and opened: the first line of any thread opens the file.
  std::mutex lock;
  int fd = STDERR_FILENO;  // guarded by lock
  bool opened = false;     // guarded by lock
};

Output& TheOutput() {
  static Output* output = new Output;
  return *output;
}

void WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    data += n;
    size -= size_t(n);
  }
}

// Writes one finished line (with its line break) in one write, so lines of several threads
// or processes sharing the file never interleave.
void Emit(const std::string& line) {
  Output& out = TheOutput();
  std::lock_guard guard(out.lock);
  if (!out.opened) {
    out.opened = true;
    const char* path = std::getenv("TAVRION_TRACE_FILE");
    if (path && *path) {
      const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
      if (fd >= 0) {
        out.fd = fd;
      } else {
        const std::string why = std::string("trace: cannot open TAVRION_TRACE_FILE ") + path + "; tracing to stderr\n";
        WriteAll(STDERR_FILENO, why.data(), why.size());
      }
    }
  }
  WriteAll(out.fd, line.data(), line.size());
}

std::string Prefix(const Source& source) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm utc{};
  gmtime_r(&now.tv_sec, &utc);
  char head[96];
  const char* category = CategoryName(source.category);
  const bool named = source.name && *source.name;
  std::snprintf(head, sizeof head, "%02d:%02d:%02d.%03d [%ld] %s%s%s: ", utc.tm_hour, utc.tm_min, utc.tm_sec,
                int(now.tv_nsec / 1000000), long(::gettid()), category, named ? "/" : "", named ? source.name : "");
  return head;
}

bool SameWord(std::string_view a, const char* b) {
  std::string_view w(b);
  if (a.size() != w.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != w[i]) return false;
  return true;
}

std::uint32_t ParseSetting(const char* setting, std::string* unknown) {
  std::uint32_t mask = 0;
  std::string_view rest = setting ? setting : "";
  while (!rest.empty()) {
    const size_t end = rest.find_first_of(", ");
    std::string_view word = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (word.empty()) continue;
    const bool off = word.front() == '-';
    if (off) word.remove_prefix(1);
    std::uint32_t bits = 0;
    if (SameWord(word, "all")) {
      bits = (1u << static_cast<unsigned>(Category::kCount)) - 1;
    } else {
      for (size_t i = 0; i < std::size(kNames); ++i)
        if (SameWord(word, kNames[i])) bits = 1u << i;
    }
    if (bits == 0) {
      if (!unknown->empty()) *unknown += ", ";
      *unknown += word;
    }
    mask = off ? mask & ~bits : mask | bits;
  }
  return mask;
}

}  // namespace

const char* CategoryName(Category category) {
  const auto i = static_cast<size_t>(category);
  return i < std::size(kNames) ? kNames[i] : "?";
}

namespace detail {

std::uint32_t ReadSetting() {
  std::string unknown;
  const std::uint32_t mask = ParseSetting(std::getenv("TAVRION_TRACE"), &unknown);
  std::uint32_t expected = kUnread;
  // Only the first reader reports unknown names; the others find the mask already set.
  if (gEnabled.compare_exchange_strong(expected, mask, std::memory_order_relaxed) && !unknown.empty()) {
    std::string known;
    for (const char* name : kNames) known += std::string(known.empty() ? "" : ", ") + name;
    Emit("trace: TAVRION_TRACE names no category \"" + unknown + "\"; known: all, " + known + "\n");
  }
  return mask;
}

}  // namespace detail

void Line(const Source& source, const char* format, ...) {
  if (!On(source.category)) return;
  char text[kMaxLineBytes];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  Text(source, text);
}

void Text(const Source& source, std::string_view text) {
  if (!On(source.category)) return;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  if (text.size() > kMaxLineBytes) text = text.substr(0, kMaxLineBytes);
  std::string line = Prefix(source);
  line.append(text);
  line += '\n';
  Emit(line);
}

void Reload() {
  Output& out = TheOutput();
  {
    std::lock_guard guard(out.lock);
    if (out.fd != STDERR_FILENO) ::close(out.fd);
    out.fd = STDERR_FILENO;
    out.opened = false;
  }
  detail::gEnabled.store(detail::kUnread, std::memory_order_relaxed);
}

void NumberedFile::SwitchOn(bool on) {
  std::lock_guard guard(lock_);
  on_ = on;
}

bool NumberedFile::isOn() const {
  std::lock_guard guard(lock_);
  return on_;
}

void NumberedFile::Write(const char* message) {
  if (!message) return;
  Text(source_, message);
  std::lock_guard guard(lock_);
  if (!on_) return;
  if (!file_) file_ = std::fopen(path_.c_str(), "wb");
  if (!file_) return;
  timeval now{};
  gettimeofday(&now, nullptr);
  tm utc{};
  gmtime_r(&now.tv_sec, &utc);
  std::fprintf(file_, "%4d | %2d:%02d:%02d.%03d %s\r\n", ++count_, utc.tm_hour, utc.tm_min, utc.tm_sec,
               int(now.tv_usec / 1000), message);
}

void NumberedFile::Close() {
  std::lock_guard guard(lock_);
  if (file_) {
    std::fflush(file_);
    std::fclose(file_);
    file_ = nullptr;
  }
}

}  // namespace tav::trace
