// Reading speed of the subtitle readers: a generated two-hour SAMI file with two languages
// (about 2,000 SYNC elements, 300 KB) and a two-hour SubRip file (1,500 cues). Each load is
// compared with a baseline over the same file in the same run: reading and decoding it and
// one pass over its bytes, the least any reader has to do.
// Then hostile files for the lenient readers (half a million cues, overlapping cues, a line of
// megabytes): four times the file must take about four times as long, and the reading
// process's peak memory is shown against the file's size.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "libs/captionparser/subtitlestate.h"
#include "libs/captionparser/subtitletext.h"

using namespace captionparser;

namespace {

constexpr int kRuns = 15;
constexpr double kTargetMs = 50.0;

const char* kKoreanLines[] = {"항구의 불빛이 꺼지지 않는다", "누구세요? 거기 누구 있어요?", "배가 들어오고 있어",
                              "조금만 더 기다려 줘", "이번엔 안 놓친다"};
const char* kKoreanLong[] = {"우리가 처음 만났던 그 부두에서 다시 만나자", "바람이 바뀌기 전에 돛을 올려야 해요",
                             "그 편지는 아직도 내 서랍 속에 있어", "등대지기는 오늘 밤에도 불을 켤 거야",
                             "안개가 걷히면 섬이 보일 거예요"};
const char* kEnglishLong[] = {"Let's meet again on the pier where we first met", "We must raise the sails before the wind turns",
                              "That letter is still in my drawer", "The lighthouse keeper will light the lamp again tonight",
                              "When the fog lifts you will see the island"};
const char* kEnglishLines[] = {"The harbour lights never go out", "Who's there? Is anybody there?",
                               "A ship is coming in", "Wait for me a little longer", "Not this time"};

std::string MakeSami() {
  std::string s =
      "<SAMI>\r\n<HEAD>\r\n<TITLE>Bench</TITLE>\r\n<STYLE TYPE=\"text/css\">\r\n<!--\r\n"
      "P { margin-left:8pt; margin-right:8pt; margin-bottom:2pt; margin-top:2pt;\r\n"
      "    text-align:center; font-size:20pt; font-family:Arial, Sans-serif; color:white; }\r\n"
      ".KRCC { Name:Korean; lang:ko-KR; SAMIType:CC; }\r\n.ENCC { Name:English; lang:en-US; SAMIType:CC; }\r\n"
      "-->\r\n</STYLE>\r\n</HEAD>\r\n<BODY>\r\n";
  // 1,000 time points over two hours, each in both languages: 2,000 SYNC elements.
  for (int i = 0; i < 1000; ++i) {
    int ms = i * 7200;
    std::string start = std::to_string(ms);
    if (i % 4 == 3) {
      s += "<SYNC Start=" + start + "><P Class=KRCC>&nbsp;\r\n";
      s += "<SYNC Start=" + start + "><P Class=ENCC>&nbsp;\r\n";
      continue;
    }
    const char* ko = kKoreanLines[i % 5];
    const char* en = kEnglishLines[i % 5];
    if (i % 4 == 0) {
      s += "<SYNC Start=" + start + "><P Class=KRCC><font color=#99FF99>" + ko + "</font><br>" + kKoreanLines[(i + 1) % 5] +
           "<br>" + kKoreanLong[i % 5] + "\r\n";
      s += "<SYNC Start=" + start + "><P Class=ENCC><font face=\"Georgia\">" + en + "</font><br><i>" +
           kEnglishLines[(i + 1) % 5] + "</i><br>" + kEnglishLong[i % 5] + "\r\n";
    } else {
      s += "<SYNC Start=" + start + "><P Class=KRCC>\r\n" + ko + "<br>" + kKoreanLines[(i + 2) % 5] + "<br>" + kKoreanLong[(i + 1) % 5] +
           "\r\n";
      s += "<SYNC Start=" + start + "><P Class=ENCC>\r\n" + en + "<br>" + kEnglishLines[(i + 2) % 5] + "<br>" + kEnglishLong[(i + 1) % 5] +
           "\r\n";
    }
  }
  return s + "</BODY>\r\n</SAMI>\r\n";
}

std::string Time(int ms) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d,%03d", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
  return buf;
}

std::string MakeSubRip() {
  std::string s;
  for (int i = 0; i < 1500; ++i) {
    int start = i * 4800;
    s += std::to_string(i + 1) + "\r\n" + Time(start) + " --> " + Time(start + 3500) + "\r\n";
    s += i % 4 == 0 ? std::string("<i>") + kEnglishLines[i % 5] + "</i>" : std::string(kEnglishLines[i % 5]);
    s += "\r\n";
    if (i % 2 == 0) s += std::string("- ") + kEnglishLines[(i + 3) % 5] + "&nbsp;!\r\n";
    s += "\r\n";
  }
  return s;
}

template <typename F>
double MedianMs(F f) {
  std::vector<double> ms;
  for (int i = 0; i < kRuns; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

// Reading and decoding the file, then one pass over its bytes.
double BaselineMs(const std::string& path) {
  volatile size_t sink = 0;
  return MedianMs([&] {
    std::string text;
    ReadSubtitleText(path, &text);
    size_t tags = 0;
    for (char c : text) tags += c == '<';
    sink = sink + tags;
  });
}

bool Report(const char* what, const std::string& path, size_t bytes, const CSubtitleState& state, size_t entries,
            double ms, double baseMs) {
  bool ok = ms < kTargetMs;
  std::printf("%-28s %7zu bytes %5zu entries  %7.2f ms  (baseline %6.2f ms, ratio %5.1f)  target < %.0f ms: %s\n", what,
              bytes, entries, ms, baseMs, ms / baseMs, kTargetMs, ok ? "met" : "MISSED");
  return ok;
}

struct Measured {
  double ms = 0;
  size_t entries = 0;
  long peakKb = 0;
};

// Loads the file in a child process, so that its peak memory and processor time are its own.
Measured MeasureLoad(const std::string& path) {
  int fds[2];
  Measured m;
  if (pipe(fds) != 0) return m;
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    CSubtitleState state;
    auto t0 = std::chrono::steady_clock::now();
    state.LoadFile(path, false);
    Measured r;
    r.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    r.entries = state.DefaultEntries().size();
    for (int slot = 0; slot < state.LanguageCount(); ++slot) r.entries += state.LanguageTable()[size_t(slot)].entries.size();
    if (write(fds[1], &r, sizeof r) != ssize_t(sizeof r)) _exit(1);
    _exit(0);
  }
  close(fds[1]);
  if (read(fds[0], &m, sizeof m) != ssize_t(sizeof m)) m = Measured{};
  close(fds[0]);
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  m.peakKb = usage.ru_maxrss;
  // The child's processor time: the machine may be busy with other work.
  m.ms = (double(usage.ru_utime.tv_sec) + double(usage.ru_stime.tv_sec)) * 1000 +
         (double(usage.ru_utime.tv_usec) + double(usage.ru_stime.tv_usec)) / 1000;
  return m;
}

// Loads make(n) and make(4n); the second may take at most 7 times the first (a quadratic cost
// would take 16 times, a linear one 4, and up to about 6 once the larger file no longer fits
// the processor's caches).
// With maxPeakPerByte, the larger file's peak resident memory must also stay below that many
// times its size.
bool Linear(const char* what, const std::string& dir, const std::function<std::string(size_t)>& make, size_t n,
            double maxPeakPerByte = 0) {
  const std::string path = dir + "/hostile";
  std::ofstream(path, std::ios::binary | std::ios::trunc) << make(n);
  const Measured once = MeasureLoad(path);
  std::string text = make(4 * n);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  const size_t bytes = text.size();
  // The child inherits this process's pages: the text must not count in its peak.
  text = std::string();
  const Measured twice = MeasureLoad(path);
  const bool ok = twice.ms < 7 * once.ms + 5 && (maxPeakPerByte == 0 || double(twice.peakKb) * 1024 < maxPeakPerByte * double(bytes));
  std::printf("%-34s %9zu bytes %7zu entries %8.1f ms CPU (quarter: %7.1f ms, ratio %4.2f)  peak RSS %5.1f x file: %s\n",
              what, bytes, twice.entries, twice.ms, once.ms, twice.ms / once.ms,
              double(twice.peakKb) * 1024 / double(bytes), ok ? "linear" : maxPeakPerByte > 0 ? "NOT LINEAR OR TOO LARGE" : "NOT LINEAR");
  std::remove(path.c_str());
  return ok;
}

std::string Clock(size_t ms, char comma) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%02zu:%02zu:%02zu%c%03zu", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, comma, ms % 1000);
  return buf;
}

}  // namespace

int main() {
  std::string dir = "/tmp/bench_captionparser_" + std::to_string(getpid());
  std::string mkdir = "mkdir -p " + dir;
  if (std::system(mkdir.c_str()) != 0) return 2;
  std::string samiPath = dir + "/two_hours.smi", srtPath = dir + "/two_hours.srt";
  std::string sami = MakeSami(), srt = MakeSubRip();
  std::ofstream(samiPath, std::ios::binary) << sami;
  std::ofstream(srtPath, std::ios::binary) << srt;

  CSubtitleState state;
  bool ok = true;
  double samiMs = MedianMs([&] { state.LoadFile(samiPath, false); });
  size_t samiEntries = state.LanguageTable()[0].entries.size() + state.LanguageTable()[1].entries.size();
  if (samiEntries != 2000) std::printf("unexpected SAMI entry count %zu\n", samiEntries), ok = false;
  ok &= Report("SAMI, 2 languages", samiPath, sami.size(), state, samiEntries, samiMs, BaselineMs(samiPath));

  double srtMs = MedianMs([&] { state.LoadFile(srtPath, false); });
  size_t srtEntries = state.DefaultEntries().size();
  if (srtEntries != 3000) std::printf("unexpected SubRip entry count %zu\n", srtEntries), ok = false;
  ok &= Report("SubRip, 1500 cues", srtPath, srt.size(), state, srtEntries, srtMs, BaselineMs(srtPath));

  // Hostile files.
  ok &= Linear("tolerant SubRip, cues", dir, [](size_t n) {
    std::string t;
    for (size_t i = 0; i < n; ++i) t += Clock(i * 1000, '.') + " --> " + Clock(i * 1000 + 900, '.') + "\nline " + std::to_string(i) + "\n\n";
    return t;
  }, 100'000);
  ok &= Linear("tolerant SubRip, overlapping cues", dir, [](size_t n) {
    std::string t;
    for (size_t i = 0; i < n; ++i) t += Clock(i * 10, ',') + " --> " + Clock(i * 10 + 5000, ',') + "\nx\n\n";
    return t;
  }, 40'000);
  ok &= Linear("WebVTT, cues", dir, [](size_t n) {
    std::string t = "WEBVTT\n\n";
    for (size_t i = 0; i < n; ++i) t += Clock(i * 1000, '.') + " --> " + Clock(i * 1000 + 900, '.') + "\n<b>line</b> &amp; more\n\n";
    return t;
  }, 100'000);
  ok &= Linear("SSA/ASS, dialogue lines", dir, [](size_t n) {
    std::string t = "[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";
    for (size_t i = 0; i < n; ++i) {
      const std::string a = Clock(i * 20, '.'), b = Clock(i * 20 + 10, '.');
      t += "Dialogue: 0," + a.substr(1, 10) + "," + b.substr(1, 10) + ",Default,,0,0,0,,{\\i1}line\\Nmore\n";
    }
    return t;
  }, 100'000);
  // Large SAMI files (a million SYNCs in three languages at the larger size, 44 MB): read SYNC by
  // SYNC, the peak is the text and the captions, not a tree of the whole file.
  ok &= Linear("SAMI, SYNCs in three languages", dir, [](size_t n) {
    std::string t = "<SAMI>\n<HEAD>\n<STYLE TYPE=\"text/css\">\n<!--\nP { text-align:center; color:white; }\n"
                    ".EN { SAMIType:CC; }\n.KR { SAMIType:CC; }\n.JP { SAMIType:CC; }\n-->\n</STYLE>\n</HEAD>\n<BODY>\n";
    const char* words[] = {"ok", "no", "yes", "hi", "go", "up", "why", "who"};
    for (size_t i = 0; i < n; ++i) {
      t += "<SYNC Start=" + std::to_string(i * 1500) + ">";
      const std::string w = words[i % 8], v = words[(i * 3 + 1) % 8];
      switch (i % 8) {
        case 3: case 7: t += "<P Class=EN>&nbsp;\n"; break;
        case 1: t += "<P Class=EN>" + w + "<P Class=KR>" + v + "\n"; break;
        case 5: t += "<P Class=EN>" + w + "<P Class=KR>" + v + "<P Class=JP>" + w + "\n"; break;
        default: t += "<P Class=" + std::string(i % 3 == 0 ? "EN" : i % 3 == 1 ? "KR" : "JP") + ">" + w + "\n";
      }
    }
    return t + "</BODY>\n</SAMI>\n";
  }, 250'000, 5.0);
  ok &= Linear("tolerant SubRip, one long line", dir, [](size_t n) {
    return "00:00:01.000 --> 00:00:02.000\n" + std::string(n, 'x') + " <b>" + std::string(n, 'y') + "</b>\n";
  }, 2'500'000);

  std::remove(samiPath.c_str());
  std::remove(srtPath.c_str());
  rmdir(dir.c_str());
  return ok ? 0 : 1;
}
