// How much heap a large subtitle load takes, counted by this test program's own operator new:
// the peak while reading must stay a small multiple of the file, whatever its tree would weigh.
#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "libs/captionparser/subtitlestate.h"
#include "libs/captionparser/tests/testutil.h"

namespace {

std::atomic<size_t> g_inUse{0};
std::atomic<size_t> g_peak{0};

void* Counted(size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  const size_t now = g_inUse += malloc_usable_size(p);
  size_t peak = g_peak.load();
  while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
  }
  return p;
}

void Uncounted(void* p) {
  if (!p) return;
  g_inUse -= malloc_usable_size(p);
  std::free(p);
}

}  // namespace

void* operator new(size_t size) { return Counted(size); }
void* operator new[](size_t size) { return Counted(size); }
void operator delete(void* p) noexcept { Uncounted(p); }
void operator delete[](void* p) noexcept { Uncounted(p); }
void operator delete(void* p, size_t) noexcept { Uncounted(p); }
void operator delete[](void* p, size_t) noexcept { Uncounted(p); }

using namespace captionparser;

namespace {

// A SAMI file of `syncs` SYNC elements in three languages: a quarter of them hold paragraphs of
// two or three languages, a quarter clear the caption; captions of one or two short lines.
// counts: the entries each language gets.
std::string LargeSami(int syncs, bool emptyBodyFirst, size_t counts[3]) {
  std::string s =
      "<SAMI>\n<HEAD>\n<STYLE TYPE=\"text/css\">\n<!--\nP { text-align:center; color:white; }\n"
      ".ENCC { Name:English; lang:en-US; SAMIType:CC; }\n.KRCC { Name:Korean; lang:ko-KR; SAMIType:CC; }\n"
      ".JPCC { Name:Japanese; lang:ja-JP; SAMIType:CC; }\n-->\n</STYLE>\n</HEAD>\n";
  if (emptyBodyFirst) s += "<BODY></BODY>\n";
  s += "<BODY>\n";
  const char* lines[] = {"Who is there?", "The harbour lights never go out", "Wait for me<br>a little longer",
                         "<i>Not this time</i>", "A ship is coming in"};
  for (int i = 0; i < syncs; ++i) {
    s += "<SYNC Start=" + std::to_string(i * 1500) + ">";
    const std::string line = lines[i % 5];
    switch (i % 8) {
      case 3:
      case 7:
        s += "<P Class=ENCC>&nbsp;\n";
        ++counts[0];
        break;
      case 1:
        s += "<P Class=ENCC>" + line + "\n<P Class=KRCC>" + line + "\n";
        ++counts[0], ++counts[1];
        break;
      case 5:
        s += "<P Class=ENCC>" + line + "<P Class=KRCC>" + line + "<P Class=JPCC>" + line + "\n";
        ++counts[0], ++counts[1], ++counts[2];
        break;
      default:
        s += "<P Class=" + std::string(i % 3 == 0 ? "ENCC" : i % 3 == 1 ? "KRCC" : "JPCC") + ">" + line + "\n";
        ++counts[i % 3];
    }
  }
  return s + "</BODY>\n</SAMI>\n";
}

}  // namespace

// Read SYNC by SYNC, what a load holds at its peak is the text being read and the captions
// themselves. A file whose first BODY is empty is read
// twice (the last BODY counts), within the same bound.
TEST(captionparser_Memory, LargeSamiFilePeaksAtASmallMultipleOfItsSize) {
  const int kSyncs = 100'000;
  std::string firstReading;
  for (bool emptyBodyFirst : {false, true}) {
    size_t counts[3] = {};
    const std::string text = LargeSami(kSyncs, emptyBodyFirst, counts);
    const std::string path = tavtest::WriteTempFile("large.smi", text);
    CSubtitleState state;
    const size_t before = g_inUse.load();
    g_peak = before;
    ASSERT_TRUE(state.LoadFile(path, false));
    const double peak = double(g_peak.load() - before);
    const double kept = double(g_inUse.load() - before);
    const double size = double(text.size());
    EXPECT_EQ(state.Reader(), SubtitleReader::kSami);
    ASSERT_EQ(state.LanguageCount(), 3);
    for (size_t language = 0; language < 3; ++language) {
      EXPECT_EQ(state.LanguageTable()[language].entries.size(), counts[language]);
    }
    std::printf("peak %.2f x file, kept %.2f x file\n", peak / size, kept / size);
    // The captions themselves (an entry, its runs and their texts for every 50 bytes or so of
    // mark-up, and a style for every italic span) weigh about 4.4 times this file; reading it
    // adds the text being read. A whole tree took 11 to 12 times the file.
    EXPECT_LT(peak, 6.0 * size);
    // Read twice or once, the captions are the same.
    std::string reading;
    for (size_t language = 0; language < 3; ++language) reading += captiontest::Dump(state.LanguageTable()[language].entries);
    if (!emptyBodyFirst) firstReading = std::move(reading);
    else EXPECT_TRUE(reading == firstReading);
  }
}
