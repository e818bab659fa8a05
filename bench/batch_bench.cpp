// Times saving and loading a batch of 10,000 entries (target: under 0.5 s each) and
// compares them with writing and reading the same number of bytes raw, the same way
// (temporary file, flush, rename; one read of the whole file).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "converter/engine/document.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

void RawWrite(const std::string& path, const std::string& bytes) {
  const std::string temp = path + ".tmp";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size()) || ::fsync(fd) != 0) std::abort();
  ::close(fd);
  if (::rename(temp.c_str(), path.c_str()) != 0) std::abort();
}

std::string RawRead(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) std::abort();
  std::string out(size_t(::lseek(fd, 0, SEEK_END)), '\0');
  if (::pread(fd, out.data(), out.size(), 0) != ssize_t(out.size())) std::abort();
  ::close(fd);
  return out;
}

}  // namespace

int main() {
  constexpr int kEntries = 10000;
  constexpr int kRounds = 5;
  char pattern[] = "/tmp/tavrion-bench-XXXXXX";
  if (!::mkdtemp(pattern)) return 1;
  const std::string dir = pattern;
  const std::string batch = dir + "/batch.tvc";

  tav::CTavrionConverterDoc doc;
  for (int i = 0; i < kEntries; ++i) {
    auto entry = std::make_unique<tav::CConvertOrder>();
    const std::string name = "holiday movie " + std::to_string(i);
    entry->SetSourcePath(dir + "/movies/" + name + ".avi");
    entry->SetSubtitlePath(dir + "/movies/" + name + ".smi");
    entry->SetOutputPath("/media/card/PMP/[QVF]-" + name + ".qvf");
    doc.AppendOrder(std::move(entry));
    if (i % 3 == 0) doc.Select(doc.GetAt(size_t(i)));
  }
  doc.SetFocused(doc.GetAt(kEntries / 2));

  double save = 1e9, load = 1e9, rawWrite = 1e9, rawRead = 1e9;
  std::string error;
  size_t bytes = 0;
  for (int round = 0; round < kRounds; ++round) {
    auto t0 = Clock::now();
    if (!doc.OnSaveDocument(batch, &error)) {
      std::fprintf(stderr, "save failed: %s\n", error.c_str());
      return 1;
    }
    auto t1 = Clock::now();
    tav::CTavrionConverterDoc loaded;
    if (!loaded.OnOpenDocument(batch, &error) || loaded.GetCount() != size_t(kEntries)) {
      std::fprintf(stderr, "load failed: %s\n", error.c_str());
      return 1;
    }
    auto t2 = Clock::now();
    save = std::min(save, Seconds(t0, t1));
    load = std::min(load, Seconds(t1, t2));

    const std::string raw = RawRead(batch);
    bytes = raw.size();
    auto t3 = Clock::now();
    RawWrite(dir + "/raw.bin", raw);
    auto t4 = Clock::now();
    const std::string back = RawRead(dir + "/raw.bin");
    auto t5 = Clock::now();
    if (back.size() != raw.size()) return 1;
    rawWrite = std::min(rawWrite, Seconds(t3, t4));
    rawRead = std::min(rawRead, Seconds(t4, t5));
  }
  std::printf("batch of %d entries, %zu bytes (best of %d)\n", kEntries, bytes, kRounds);
  std::printf("save: %8.4f s  (target < 0.5 s)  raw write: %8.4f s  ratio %.1fx\n", save, rawWrite, save / rawWrite);
  std::printf("load: %8.4f s  (target < 0.5 s)  raw read:  %8.4f s  ratio %.1fx\n", load, rawRead, load / rawRead);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return save < 0.5 && load < 0.5 ? 0 : 2;
}
