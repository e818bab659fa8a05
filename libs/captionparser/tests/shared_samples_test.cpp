// Real-world subtitle files of other projects (../shared/testdata/subtitles): each one loads
// or is refused as the readers' rules say, and the loaded ones read entry by entry.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "libs/captionparser/patterns.h"
#include "libs/captionparser/subtitlestate.h"
#include "libs/captionparser/tests/testutil.h"
#include "media/contract/codepage.h"
#include "tests/support/testenv.h"

using namespace captionparser;
using captiontest::Dump;

namespace {

std::string SampleDir() { return tavtest::SharedTestData("subtitles"); }

#define SKIP_WITHOUT_SAMPLES()                                                          \
  if (SampleDir().empty()) GTEST_SKIP() << "../shared/testdata/subtitles is not there"

// "lang <selector>" and the entries of each language slot, then "default" and its entries.
std::string DumpState(const CSubtitleState& state) {
  std::string out;
  for (int i = 0; i < state.LanguageCount(); ++i) {
    out += "lang " + state.LanguageTable()[size_t(i)].style->selector + "\n";
    out += Dump(state.LanguageTable()[size_t(i)].entries);
  }
  return out + "default\n" + Dump(state.DefaultEntries());
}

// Files the strict readers refuse, and why; the tolerant SubRip reader takes each of them.
struct Lenient {
  const char* name;
  const char* why;
  size_t captions;    // entries that show text
  const char* first;  // the first and the last of them
  const char* last;
};
const Lenient kLenient[] = {
    {"Zulko__moviepy__subtitles-unicode.srt", "numbering starts at 0", 1, "0 [\xC3\x81\xC3\x89\xC3\xAD\xC3\xB6\xC3\x99]/c=FFFFFF",
     "0 [\xC3\x81\xC3\x89\xC3\xAD\xC3\xB6\xC3\x99]/c=FFFFFF"},
    {"asticode__go-astisub__missing-sequence-in.srt", "no cue numbers", 6, "99000 [(deep rumbling)]/c=FFFFFF",
     "151400 [(computer playing]/c=FFFFFF [\\n]/c=FFFFFF [electronic melody)]/c=FFFFFF"},
    {"byroot__pysrt__invalid.srt", "cue number foobar", 1, "1000 [This subtitle is invalid]/c=FFFFFF",
     "1000 [This subtitle is invalid]/c=FFFFFF"},
    {"byroot__pysrt__no-indexes.srt", "no cue numbers", 7,
     "6500 [About 2 months ago I found myself on]/c=FFFFFF [\\n]/c=FFFFFF [the comment section of YouTube]/c=FFFFFF",
     "43000 [So what I thought I do is instead if answering on a YouTube comment is organize a global awareness "
     "day]/c=FFFFFF"},
    {"cdown__srt__monsters-bad-newline.srt", "numbering starts at 421", 3,
     "1897894 [\xE6\x88\x91\xE6\x9C\x89\xE4\xB8\xAA\xE7\x82\xB9\xE5\xAD\x90]/c=FFFFFF [\\n]/c=FFFFFF [OK, look, I think I "
     "have a plan here.]/c=FFFFFF",
     "1901933 [\xE6\x8C\x96\xE4\xB8\x80\xE6\x9D\xA1\xE9\x9A\xA7\xE9\x81\x93 \xE7\x84\xB6\xE5\x90\x8E\xE6\x8A\x8A"
     "\xE5\xA5\xB9\xE4\xB8\xA2\xE5\x88\xB0\xE9\x87\x8E\xE5\xA4\x96\xE5\x8E\xBB]/c=FFFFFF [\\n]/c=FFFFFF [we dig a tunnel "
     "under the city and release it into the wild.]/c=FFFFFF"},
    {"cdown__srt__monsters-bad-order.srt", "numbering starts at 421", 3,
     "1897894 [\xE6\x88\x91\xE6\x9C\x89\xE4\xB8\xAA\xE7\x82\xB9\xE5\xAD\x90]/c=FFFFFF",
     "1901933 [\xE6\x8C\x96\xE4\xB8\x80\xE6\x9D\xA1\xE9\x9A\xA7\xE9\x81\x93 \xE7\x84\xB6\xE5\x90\x8E\xE6\x8A\x8A"
     "\xE5\xA5\xB9\xE4\xB8\xA2\xE5\x88\xB0\xE9\x87\x8E\xE5\xA4\x96\xE5\x8E\xBB]/c=FFFFFF"},
    {"google__ExoPlayer__typical_missing_timecode.srt", "cue 2 has no timing line: its text is read as number 3", 2,
     "0 [This is the first subtitle.]/c=FFFFFF", "7204567 [This is the third subtitle.]/c=FFFFFF"},
    {"google__ExoPlayer__typical_with_tags.srt", "three-digit seconds in cue 5: its text is read as number 6", 14,
     "0 [This is the first subtitle.]/c=FFFFFF", "24567 [This is a line.]/c=FFFFFF"},
    {"mozilla__popcorn-js__unit.srt", "full stops in cue 1's times: its text is read as number 2", 10,
     "2400 [[Background Music Playing]]/c=FFFFFF", "37000 [Greater than (<) and less than (>) are shown]/c=FFFFFF"},
};

struct Expected {
  const char* name;
  const char* dump;
};

const Expected kLoaded[] = {
    {"asticode__go-astisub__example-in-styled.srt",
     R"x(default
17985 [[instrumental music]]/b/c=FFFFFF
20521 [ ]/c=FFFFFF
47115 [[ticks]]/c=FFFFFF
48282 [ ]/c=FFFFFF
58192 [[instrumental music]]/c=FFFFFF
59727 [ ]/c=FFFFFF
61662 [[dog barking]]/b/c=FFFFFF
63063 [ ]/c=FFFFFF
86787 [[beeping]]/c=FFFFFF
89523 [ ]/c=FFFFFF
89590 [[automated]]/c=FFFFFF [\n]/c=FFFFFF ['The time is 7:35.']/i/c=FFFFFF
91992 [ ]/c=FFFFFF
480000 [Test with multi line italics]/i/c=FFFFFF [\n]/i/c=FFFFFF [Terminated on the next line]/i/c=FFFFFF
540000 [ ]/c=FFFFFF
540000 [Unterminated styles]/i/c=FFFFFF
600000 [ ]/c=FFFFFF
600000 [Do no fall to the next item]/c=FFFFFF
660000 [ ]/c=FFFFFF
720000 [x]/i/c=FFFFFF [^3 * ]/c=FFFFFF [x]/i/c=FFFFFF [ = 100]/c=FFFFFF
780000 [ ]/c=FFFFFF
)x"},
    {"byroot__pysrt__overlapping-dialogues.srt",
     R"x(default
0 [I am the 1st dialogue]/c=FFFFFF
1000 [ ]/c=FFFFFF
500 [I am the 2nd dialogue]/c=FFFFFF [\n]/c=FFFFFF [I am overlapping the 1st and 3rd]/c=FFFFFF
2500 [ ]/c=FFFFFF
250 [I am the 3rd dialogue, but I'm completely overlapped by the 2nd]/c=FFFFFF [\n]/c=FFFFFF [I should be removed]/c=FFFFFF
2300 [ ]/c=FFFFFF
2000 [I am the 4th dialogue]/c=FFFFFF
3000 [ ]/c=FFFFFF
)x"},
    {"google__ExoPlayer__typical_unexpected_end.srt",
     R"x(default
0 [This is the first subtitle.]/c=FFFFFF
1234 [ ]/c=FFFFFF
2345 [This is the second subtitle.]/c=FFFFFF [\n]/c=FFFFFF [Second subtitle with second line.]/c=FFFFFF
3456 [ ]/c=FFFFFF
)x"},
    {"google__ExoPlayer__typical_with_byte_order_mark.srt",
     R"x(default
0 [This is the first subtitle.]/c=FFFFFF
1234 [ ]/c=FFFFFF
2345 [This is the second subtitle.]/c=FFFFFF [\n]/c=FFFFFF [Second subtitle with second line.]/c=FFFFFF
3456 [ ]/c=FFFFFF
7204567 [This is the third subtitle.]/c=FFFFFF
7208901 [ ]/c=FFFFFF
)x"},
    {"mantas-done__subtitles__smi.smi",
     R"x(lang ENUSCC
137400 [Senator, we're making]/f=Arial/c=FFFFFF [\n]/f=Arial/c=FFFFFF [our final approach into Coruscant.]/f=Arial/c=FFFFFF
140400 [ ]/f=Arial/c=FFFFFF
3740500 [Very good, Lieutenant.]/f=Arial/c=FFFFFF
3742500 [ ]/f=Arial/c=FFFFFF
default
)x"},
    {"mantas-done__subtitles__smi_formatted.smi",
     R"x(default
9209 [ ( clock ticking )]/f=Arial/c=FFFFFF
12312 [ ]/f=Arial/c=FFFFFF
14848 [ MAN:]/f=Arial/c=FFFFFF [\n]/f=Arial/c=FFFFFF [ When we think]/f=Arial/c=FFFFFF [\n]/f=Arial/c=FFFFFF [ of E equals m c-squared,]/f=Arial/c=FFFFFF
17350 [we have this vision of Einstein]/f=Arial/c=FFFFFF
)x"},
    {"mozilla__popcorn-js__data.mixedmatchingtagsinbody.smi",
     R"x(lang ENUSCC
0 [ ]/f=Arial/c=FFFFFF [SAMI 0000 text]/f=Arial/c=FFFFFF [ ]/f=Arial/c=FFFFFF [SAMI 0001 text]/f=Arial/c=FFFFFF [ ]/f=Arial/c=FFFFFF
1000 [ ]/f=Arial/c=FFFFFF [SAMI 1000 text ]/f=Arial/c=FFFFFF
2000 [ ]/f=Arial/c=FFFFFF [SAMI 2000 text]/f=Arial/c=FFFFFF [ ]/f=Arial/c=FFFFFF
3000 [ ]/f=Arial/c=FFFFFF [SAMI 3000 text]/f=Arial/c=FFFFFF [ ]/f=Arial/c=FFFFFF
default
)x"},
    {"mozilla__popcorn-js__data.nomatchingtagsinbody.smi",
     R"x(lang ENUSCC
0 [ ]/f=Arial/c=FFFFFF [SAMI 0000 text ]/f=Arial/c=FFFFFF
1000 [ ]/f=Arial/c=FFFFFF [SAMI 1000 text ]/f=Arial/c=FFFFFF
2000 [ ]/f=Arial/c=FFFFFF [SAMI 2000 text ]/f=Arial/c=FFFFFF
3000 [ ]/f=Arial/c=FFFFFF [SAMI 3000 text ]/f=Arial/c=FFFFFF
default
)x"},
    {"secretno80__smi2srt__sample_multilang.ko.srt",
     R"x(default
0 [안녕하세요]/c=FFFFFF [\n]/c=FFFFFF [테스트입니다.]/c=FFFFFF
1799 [ ]/c=FFFFFF
1800 [두 번째 줄입니다.]/c=FFFFFF
3800 [ ]/c=FFFFFF
)x"},
    {"secretno80__smi2srt__sample_multilang.smi",
     R"x(lang KRCC
0 [안녕하세요]/f=Arial/c=FFFFFF [\n]/f=Arial/c=FFFFFF [테스트입니다.]/f=Arial/c=FFFFFF
1800 [두 번째 줄입니다.]/f=Arial/c=FFFFFF
3600 [ ]/f=Arial/c=FFFFFF
lang ENCC
0 [Hello]/f=Arial/c=FFFFFF [\n]/f=Arial/c=FFFFFF [This is a test.]/f=Arial/c=FFFFFF
1800 [Second line.]/f=Arial/c=FFFFFF
3600 [ ]/f=Arial/c=FFFFFF
default
)x"},
    {"secretno80__smi2srt__sample_user_gap.smi",
     R"x(default
47070 [난약사]
55094 [ ]
161875 [천녀유혼]
169627 [ ]
)x"},
    {"secretno80__smi2srt__test_mixed.smi",
     R"x(default
456401 [호밀밭의 파수꾼] [\n] [국지성 호우의 발생은...]
)x"},
};

}  // namespace

TEST(captionparser_SharedSamples, FilesTheStrictReadersRefuseReadTolerantly) {
  SKIP_WITHOUT_SAMPLES();
  for (const Lenient& l : kLenient) {
    SCOPED_TRACE(l.name + std::string(": ") + l.why);
    CSubtitleState state;
    ASSERT_TRUE(state.LoadFile(SampleDir() + "/" + l.name, false));
    EXPECT_EQ(state.Reader(), SubtitleReader::kSubRipTolerant);
    std::vector<std::string> captions;
    for (const auto& e : state.DefaultEntries()) {
      if (e->Runs().size() > 1 || e->Runs()[0].text != " ") captions.push_back(captiontest::DumpEntry(*e));
    }
    ASSERT_EQ(captions.size(), l.captions);
    EXPECT_EQ(captions.front(), l.first);
    EXPECT_EQ(captions.back(), l.last);
    // Time-ordered, and each caption cleared when it ends.
    for (size_t i = 1; i < state.DefaultEntries().size(); ++i) {
      EXPECT_LT(state.DefaultEntries()[i - 1]->Start(), state.DefaultEntries()[i]->Start());
    }
    EXPECT_EQ(state.DefaultEntries().back()->Runs()[0].text, " ");
  }
}

TEST(captionparser_SharedSamples, SmallFilesEntryByEntry) {
  SKIP_WITHOUT_SAMPLES();
  for (const Expected& e : kLoaded) {
    SCOPED_TRACE(e.name);
    CSubtitleState state;
    ASSERT_TRUE(state.LoadFile(SampleDir() + "/" + e.name, false));
    EXPECT_EQ(DumpState(state), e.dump);
  }
}

TEST(captionparser_SharedSamples, StylesAndLanguagesOfSmallSamiFiles) {
  SKIP_WITHOUT_SAMPLES();
  CSubtitleState state;
  // "SAMI_Type" is no property: a class, but no language.
  ASSERT_TRUE(state.LoadFile(SampleDir() + "/mantas-done__subtitles__smi_formatted.smi", false));
  EXPECT_TRUE(state.Languages().empty());
  ASSERT_NE(state.FindStyle(CCaptionStyle::kClass, "ENCC"), nullptr);
  const CCaptionStyle* p = state.FindStyle(CCaptionStyle::kElement, "P");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->marginLeft, (CaptionSize{SizeUnit::Points, 1}));
  EXPECT_EQ(p->fontSize, (CaptionSize{SizeUnit::Points, 10}));
  EXPECT_TRUE(p->Has(CCaptionStyle::kItalic));
  // Values keep the space before their semicolon.
  ASSERT_TRUE(state.LoadFile(SampleDir() + "/mantas-done__subtitles__smi.smi", true));
  ASSERT_EQ(state.Languages().size(), 1u);
  EXPECT_EQ(state.Languages()[0]->lang, "en-US ");
  EXPECT_EQ(state.Languages()[0]->samiType, "CC ");
  EXPECT_EQ(state.CurrentLanguage(), state.Languages()[0]);
  EXPECT_TRUE(state.LanguageTable()[0].entries.empty());  // header only
  // An identifier style of the file comes before the built-in size classes.
  ASSERT_TRUE(state.LoadFile(SampleDir() + "/mozilla__popcorn-js__data.nomatchingtagsinbody.smi", false));
  ASSERT_EQ(state.Identifiers().size(), 4u);
  EXPECT_EQ(state.Identifiers()[0]->selector, "Source");
  EXPECT_EQ(state.Identifiers()[0]->fontFamily, "Courier");
  EXPECT_EQ(state.CurrentSize(), state.Identifiers()[0]);
}

TEST(captionparser_SharedSamples, KoreanSamiInCp949) {
  SKIP_WITHOUT_SAMPLES();
  captiontest::AnsiCodePageScope korean("CP949");
  ASSERT_TRUE(korean.ok());
  CSubtitleState state;
  ASSERT_TRUE(state.LoadFile(SampleDir() + "/shinyuchoi__sub__test.smi", false));
  ASSERT_EQ(state.Languages().size(), 1u);
  EXPECT_EQ(tav::AnsiToWide(state.Languages()[0]->name), u"한국어");
  std::vector<std::string> ids;
  for (const CCaptionStyle* s : state.Identifiers()) ids.push_back(s->selector);
  EXPECT_EQ(ids, (std::vector<std::string>{"STDPrn", "LargePrn", "SmallPrn", kSizeClassNormal, kSizeClassBig,
                                           kSizeClassSmall}));
  // The comment in BODY (with a bare "&") is skipped; FONT without a face keeps the style.
  EXPECT_EQ(tav::Utf16ToUtf8(tav::AnsiToWide(DumpState(state))),
            "lang KRCC\n"
            "34639 [반지의 제왕]/f=굴림/c=FFFFFF\n"
            "41750 [ ]/f=굴림/c=FFFFFF\n"
            "76887 [- 넌 어림없어!]/f=굴림/c=FFFFFF [\\n]/f=굴림/c=FFFFFF [- 간달프!]/f=굴림/c=FFFFFF\n"
            "80618 [ ]/f=굴림/c=FFFFFF\n"
            "85495 [난 비밀의 불을 섬기며]/f=굴림/c=FFFFFF [\\n]/f=굴림/c=FFFFFF [아노르의 불을 휘두른다]/f=굴림/c=FFFFFF\n"
            "90831 [ ]/f=굴림/c=FFFFFF\n"
            "98775 [악의 세계로 돌아가]/f=굴림/c=FFFFFF\n"
            "101539 [ ]/f=굴림/c=FFFFFF\n"
            "102446 [악의 힘도 네 놈한테는]/f=굴림/c=FFFFFF [\\n]/f=굴림/c=FFFFFF [힘이 되지 못해!]/f=굴림/c=FFFFFF\n"
            "106246 [ ]/f=굴림/c=FFFFFF\n"
            "110087 [네 놈은 여길 절대로]/f=굴림/c=FFFFFF [\\n]/f=굴림/c=FFFFFF [통과하지 못해!]/f=굴림/c=FFFFFF\n"
            "default\n");
}

TEST(captionparser_SharedSamples, LargerFiles) {
  SKIP_WITHOUT_SAMPLES();
  CSubtitleState state;
  // Two languages, one track after the other; 28 captions each.
  ASSERT_TRUE(state.LoadFile(SampleDir() + "/ashiskumarsahu__smi-subtitle-language-parser__sample.smi", false));
  ASSERT_EQ(state.LanguageCount(), 2);
  EXPECT_EQ(state.Languages()[1]->name, "한국어");
  ASSERT_EQ(state.LanguageTable()[0].entries.size(), 28u);
  ASSERT_EQ(state.LanguageTable()[1].entries.size(), 28u);
  EXPECT_EQ(captiontest::DumpEntry(*state.LanguageTable()[1].entries[2]),
            "7500 [ ]/f=Arial [[7.5s] 반짝, 반짝, 작은 별]/f=Arial [ ]/f=Arial");
  EXPECT_EQ(captiontest::DumpEntry(*state.LanguageTable()[0].entries.back()), "70000 [ ]/f=Arial [[70s] End]/f=Arial [ ]/f=Arial");

  // 37 cues, each a start and an end entry, in file order (cues 11 to 13 share their times).
  ASSERT_TRUE(state.LoadFile(SampleDir() + "/byroot__pysrt__capability_tester.srt", false));
  const EntryList& cues = state.DefaultEntries();
  ASSERT_EQ(cues.size(), 74u);
  EXPECT_EQ(captiontest::DumpEntry(*cues[0]), "0 [Don't show this text it may be used to insert hidden data]/c=FFFFFF");
  // "2<3,5>1,4<6" holds two tags, "<3,5>" and "<6</u>".
  EXPECT_EQ(captiontest::DumpEntry(*cues[14]),
            "17501 [and also]/c=FFFFFF [\\n]/c=FFFFFF [hide invalid html tags with parameters that are closed and show "
            "the text in them]/c=FFFFFF [\\n]/c=FFFFFF [but show un-closed invalid html tags]/c=FFFFFF [\\n]/c=FFFFFF "
            "[This text should be showed underlined without problems also: 2]/c=FFFFFF [1,4]/c=FFFFFF [\\n]/c=FFFFFF "
            "[This shouldn't be underlined]/c=FFFFFF");
  // The second FONT closes the first; the last closing FONT closes nothing and ends the cue.
  EXPECT_EQ(captiontest::DumpEntry(*cues[38]), "28501 [This could be the ]/c=FFFFFF [m]/c=FFFFFF [o]/c=FFFFFF [st]/c=FFFFFF");
  EXPECT_EQ(captiontest::DumpEntry(*cues[73]), "68500 [ ]/c=FFFFFF");

  // A long fansub: byte-order mark, CR LF, no closing tags, 499 SYNC elements.
  ASSERT_TRUE(state.LoadFile(SampleDir() + "/cpm0722__smi2srt__sample_utf8_02.smi", false));
  ASSERT_EQ(state.LanguageCount(), 1);
  const EntryList& krcc = state.LanguageTable()[0].entries;
  ASSERT_EQ(krcc.size(), 499u);
  EXPECT_TRUE(state.DefaultEntries().empty());
  EXPECT_EQ(captiontest::DumpEntry(*krcc[0]), "35394 [이번엔 안 놓친다]/f=굴림/c=FFFFFF");
  EXPECT_EQ(captiontest::DumpEntry(*krcc[12]),
            "68897 [放て!]/f=굴림/c=FFFFFF [\\n]/f=굴림/c=FFFFFF [쏘아라!]/f=굴림/c=FFFFFF");
  // The compatibility ideograph U+F990 is kept as written, not normalised.
  bool foundF990 = false;
  for (const auto& e : krcc) {
    for (const CTextRun& r : e->Runs()) foundF990 |= r.text.find("\xEF\xA6\x90") != std::string::npos;
  }
  EXPECT_TRUE(foundF990);
  for (size_t i = 1; i < krcc.size(); ++i) EXPECT_LE(krcc[i - 1]->Start(), krcc[i]->Start()) << i;
}

// Every file of the folder, including any added later, loads or is refused without harm. In
// self-check mode the SAMI reader also reads each file from its whole tree and aborts when the
// two readings differ in any style, language or run.
TEST(captionparser_SharedSamples, EveryFileIsHandled) {
  SKIP_WITHOUT_SAMPLES();
  SetSelfCheck(true);
  size_t known = 0;
  for (const auto& entry : std::filesystem::directory_iterator(SampleDir())) {
    std::string name = entry.path().filename();
    if (name == "SOURCES.md") continue;
    SCOPED_TRACE(name);
    CSubtitleState state;
    EXPECT_EQ(state.LoadFile(entry.path(), true), state.LoadFile(entry.path(), false));
    bool loaded = state.LoadFile(entry.path(), false);
    bool listedLoaded = std::any_of(std::begin(kLoaded), std::end(kLoaded), [&](const Expected& e) { return name == e.name; });
    bool listedLenient = std::any_of(std::begin(kLenient), std::end(kLenient), [&](const Lenient& l) { return name == l.name; });
    // Every file holds captions, so every one of them is read.
    EXPECT_TRUE(loaded);
    if (listedLoaded) {
      EXPECT_TRUE(state.Reader() == SubtitleReader::kSami || state.Reader() == SubtitleReader::kSubRip);
    }
    if (listedLoaded || listedLenient) ++known;
  }
  SetSelfCheck(false);
  EXPECT_GE(known, std::size(kLenient) + std::size(kLoaded));
}
