// The readers tried after the strict ones: tolerant SubRip, WebVTT and SSA/ASS, the lenient
// times they share, and how overlapping cues become a time-ordered entry list.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "libs/captionparser/cuelist.h"
#include "libs/captionparser/lenientreaders.h"
#include "libs/captionparser/subtitlestate.h"
#include "libs/captionparser/subtitletext.h"
#include "libs/captionparser/tests/testutil.h"

using namespace captionparser;
using captiontest::Dump;
using tavtest::WriteTempFile;

namespace {

// Loads text as a file; the reader's name and the entries, or "refused".
std::string Load(CSubtitleState& state, const std::string& name, const std::string& text) {
  if (!state.LoadFile(WriteTempFile(name, text), false)) return "refused";
  return std::string(ReaderName(state.Reader())) + "\n" + Dump(state.DefaultEntries());
}

constexpr LONGLONG kMs = 10'000;

}  // namespace

TEST(captionparser_LenientTimes, ClockTimesAndTimingLines) {
  REFERENCE_TIME t = -1;
  ASSERT_TRUE(ParseClockTime("00:00:01.5", &t));
  EXPECT_EQ(t, 1500 * kMs);  // a fraction, not 5 ms
  ASSERT_TRUE(ParseClockTime(" 00:00:02,25 ", &t));
  EXPECT_EQ(t, 2250 * kMs);
  // Hours whose 100-ns count does not fit are refused, not wrapped.
  EXPECT_FALSE(ParseClockTime("999999999:00:00.000", &t));
  ASSERT_TRUE(ParseClockTime("01:02.003", &t));  // no hours
  EXPECT_EQ(t, (62'000 + 3) * kMs);
  ASSERT_TRUE(ParseClockTime("1:00:00.12", &t));  // SSA centiseconds
  EXPECT_EQ(t, (3'600'000 + 120) * kMs);
  ASSERT_TRUE(ParseClockTime("00:01:39", &t));  // no fraction
  EXPECT_EQ(t, 99'000 * kMs);
  ASSERT_TRUE(ParseClockTime("00:00:013,567", &t));
  EXPECT_EQ(t, 13'567 * kMs);
  ASSERT_TRUE(ParseClockTime("00:00:01.123456", &t));  // digits past the millisecond are ignored
  EXPECT_EQ(t, 1'123 * kMs);
  for (const char* bad : {"", "12", "1:2:3:4", "00:00:01.", "00:00:01,5x", "a:00", ":00:01", "1234567890:00",
                          "4444444444444444444444:00"}) {
    EXPECT_FALSE(ParseClockTime(bad, &t)) << bad;
  }

  REFERENCE_TIME start = 0, end = 0;
  ASSERT_TRUE(ParseCueTiming("00:00:01.5 --> 00:00:02.25", &start, &end));
  EXPECT_EQ(start, 1500 * kMs);
  EXPECT_EQ(end, 2250 * kMs);
  ASSERT_TRUE(ParseCueTiming("  00:02:04,08 --> 00:02:07,12 X1:40 X2:600 Y1:20 Y2:50", &start, &end));
  EXPECT_EQ(end, 127'120 * kMs);
  ASSERT_TRUE(ParseCueTiming("00:01.000 --> 00:02.000 align:start position:10%", &start, &end));
  EXPECT_EQ(end, 2000 * kMs);
  EXPECT_FALSE(ParseCueTiming("             --> 02:00:10,901", &start, &end));
  EXPECT_FALSE(ParseCueTiming("02:00:12,901 -->", &start, &end));
  EXPECT_FALSE(ParseCueTiming("00:00:01,000 -> 00:00:02,000", &start, &end));
}

TEST(captionparser_TolerantSubRip, NumberingAndMissingTimingLines) {
  CSubtitleState state;
  EXPECT_EQ(Load(state, "zero.srt", "0\n00:00:01,000 --> 00:00:02,000\nzero\n\n1\n00:00:03,000 --> 00:00:04,000\none\n"),
            "SubRip (tolerant)\n1000 [zero]/c=FFFFFF\n2000 [ ]/c=FFFFFF\n3000 [one]/c=FFFFFF\n4000 [ ]/c=FFFFFF\n");
  EXPECT_EQ(Load(state, "none.srt", "00:00:01,000 --> 00:00:02,000\na\n\n00:00:03.5 --> 00:00:04.25\nb\n"),
            "SubRip (tolerant)\n1000 [a]/c=FFFFFF\n2000 [ ]/c=FFFFFF\n3500 [b]/c=FFFFFF\n4250 [ ]/c=FFFFFF\n");
  // Cue 2 lost its timing line: it is skipped, cue 3 is kept.
  EXPECT_EQ(Load(state, "gap.srt",
                 "1\n00:00:01,000 --> 00:00:02,000\na\n\n2\nlost\nlines\n\n3\n00:00:05,000 --> 00:00:06,000\nc\n"),
            "SubRip (tolerant)\n1000 [a]/c=FFFFFF\n2000 [ ]/c=FFFFFF\n5000 [c]/c=FFFFFF\n6000 [ ]/c=FFFFFF\n");
  // A bad time skips its cue only; a cue without a blank line before the next one ends there.
  EXPECT_EQ(Load(state, "bad.srt",
                 "1\n00:00:01,000 --> 00:0x:02,000\nbad\n\n2\n00:00:03,000 --> 00:00:04,000\nb\n"
                 "3\n00:00:05,000 --> 00:00:06,000\nc\n"),
            "SubRip (tolerant)\n3000 [b]/c=FFFFFF\n4000 [ ]/c=FFFFFF\n5000 [c]/c=FFFFFF\n6000 [ ]/c=FFFFFF\n");
  // Numbers in any order: the captions come out in time order.
  EXPECT_EQ(Load(state, "order.srt",
                 "422\n00:00:05,000 --> 00:00:06,000\nlater\n\n421\n00:00:01,000 --> 00:00:02,000\nearlier\n"),
            "SubRip (tolerant)\n1000 [earlier]/c=FFFFFF\n2000 [ ]/c=FFFFFF\n5000 [later]/c=FFFFFF\n6000 [ ]/c=FFFFFF\n");
  // Mark-up that means captions in SAMI is only text in a cue: the cue stays one caption.
  EXPECT_EQ(Load(state, "sync.srt", "00:00:01,000 --> 00:00:02,000\na<SYNC Start=5000>b\n"),
            "SubRip (tolerant)\n1000 [a]/c=FFFFFF [b]/c=FFFFFF\n2000 [ ]/c=FFFFFF\n");
  // Nothing to show: refused by every reader.
  EXPECT_EQ(Load(state, "empty.srt", "00:00:01,000 --> 00:00:02,000\n\n\n"), "refused");
  EXPECT_EQ(Load(state, "prose.srt", "Just some text\nwithout any times.\n"), "refused");
  EXPECT_EQ(state.LoadedPath(), "");
}

TEST(captionparser_TolerantSubRip, TagsOverridesAndColours) {
  CSubtitleState state;
  EXPECT_EQ(Load(state, "tags.srt",
                 "1\n00:00:00.400 --> 00:00:01.000\n{\\an8}Top <font color=\"red\">RED</font> and <i>it</i>\n"
                 "a {\\pos(1,2)} b\\Nc\n"),
            "SubRip (tolerant)\n400 [Top ]/c=FFFFFF [RED]/c=FF0000 [ and ]/c=FFFFFF [it]/i/c=FFFFFF [\\n]/c=FFFFFF "
            "[a b]/c=FFFFFF [\\n]/c=FFFFFF [c]/c=FFFFFF\n1000 [ ]/c=FFFFFF\n");
  // The strict reader keeps FONT colours out of the style.
  EXPECT_EQ(Load(state, "strict.srt", "1\n00:00:01,000 --> 00:00:02,000\n<font color=\"red\">RED</font>\n"),
            "SubRip\n1000 [RED]/c=FFFFFF\n2000 [ ]/c=FFFFFF\n");
}

TEST(captionparser_TolerantSubRip, OverlappingCuesAreStacked) {
  CSubtitleState state;
  // The middle cue overlaps both others.
  EXPECT_EQ(Load(state, "overlap.srt",
                 "00:00:01,000 --> 00:00:03,000\nfirst\n\n"
                 "00:00:02,000 --> 00:00:05,000\nmiddle\n\n"
                 "00:00:04,000 --> 00:00:06,000\nlast\n"),
            "SubRip (tolerant)\n"
            "1000 [first]/c=FFFFFF\n"
            "2000 [first]/c=FFFFFF [\\n]/c=FFFFFF [middle]/c=FFFFFF\n"
            "3000 [middle]/c=FFFFFF\n"
            "4000 [middle]/c=FFFFFF [\\n]/c=FFFFFF [last]/c=FFFFFF\n"
            "5000 [last]/c=FFFFFF\n"
            "6000 [ ]/c=FFFFFF\n");
  EXPECT_EQ(state.CaptionAt(2500 * kMs)->Runs().size(), 3u);
  EXPECT_EQ(state.CaptionAt(3500 * kMs)->Runs()[0].text, "middle");
  EXPECT_EQ(state.CaptionAt(6000 * kMs)->Runs()[0].text, " ");
}

TEST(captionparser_LenientReaders, ManyOverlappingCuesStayBounded) {
  // Every cue overlaps every other: at most kMaxStackedCues texts show at once, so the entry
  // list grows with the number of cues, not with its square.
  std::string text;
  const int cues = 20'000;
  for (int i = 0; i < cues; ++i) {
    char line[96];
    std::snprintf(line, sizeof line, "00:00:%02d.%03d --> 01:00:00.000\nc%d\n\n", (i / 1000) % 60, i % 1000, i);
    text += line;
  }
  CSubtitleState state;
  ASSERT_TRUE(state.LoadFile(WriteTempFile("many.srt", text), false));
  const EntryList& entries = state.DefaultEntries();
  EXPECT_EQ(entries.size(), size_t(cues) + 1);
  size_t runs = 0;
  for (const auto& e : entries) {
    EXPECT_LE(e->Runs().size(), 2 * kMaxStackedCues - 1);
    runs += e->Runs().size();
  }
  EXPECT_LE(runs, entries.size() * (2 * kMaxStackedCues - 1));
  for (size_t i = 1; i < entries.size(); ++i) ASSERT_LT(entries[i - 1]->Start(), entries[i]->Start());
}

TEST(captionparser_WebVtt, CuesNotesStylesAndTags) {
  CSubtitleState state;
  EXPECT_EQ(Load(state, "cues.vtt",
                 "WEBVTT - a title\n"
                 "Kind: captions\n\n"
                 "STYLE\n::cue { color: yellow }\n\n"
                 "NOTE a comment\nthat runs on\n\n"
                 "intro\n00:01.000 --> 00:02.500 align:start position:10%\n"
                 "<v Roger Bingham>We are in <b>New York</b> &amp; <i>more</i>\n"
                 "<c.loud>second</c> line &lt;3&gt; &#233;&nbsp;x <u>u</u>\n\n"
                 "00:00:03.000 --> 00:00:04.000\n<00:00:03.500>karaoke <b><i>both</i></b> &bogus;\n"),
            "WebVTT\n"
            "1000 [We are in ]/c=FFFFFF [New York]/b/c=FFFFFF [ & ]/c=FFFFFF [more]/i/c=FFFFFF [\\n]/c=FFFFFF "
            "[second line <3> \xC3\xA9 x u]/c=FFFFFF\n"
            "2500 [ ]/c=FFFFFF\n"
            "3000 [karaoke ]/c=FFFFFF [both]/i/b/c=FFFFFF [ &bogus;]/c=FFFFFF\n"
            "4000 [ ]/c=FFFFFF\n");
  EXPECT_EQ(state.LanguageCount(), 0);
  EXPECT_EQ(state.Identifiers().size(), 3u);  // the built-in size classes
  // The header alone, or a file that only looks like WebVTT further down, is not WebVTT.
  EXPECT_EQ(Load(state, "header.vtt", "WEBVTT\n\nNOTE nothing here\n"), "refused");
  EXPECT_EQ(Load(state, "late.vtt", "\nWEBVTT\n\n00:01.000 --> 00:02.000\nx\n"),
            "SubRip (tolerant)\n1000 [x]/c=FFFFFF\n2000 [ ]/c=FFFFFF\n");
  EXPECT_EQ(Load(state, "webvttx.vtt", "WEBVTTX\n\n00:01.000 --> 00:02.000\nx\n"),
            "SubRip (tolerant)\n1000 [x]/c=FFFFFF\n2000 [ ]/c=FFFFFF\n");
}

TEST(captionparser_WebVtt, EntitiesDecode) {
  EXPECT_EQ(DecodeTextEntities("a&amp;b&lt;c&gt;&quot;&apos;&lrm;&rlm;&nbsp;"), "a&b<c>\"' ");
  EXPECT_EQ(DecodeTextEntities("&#65;&#x42;&#X43;&#0;&#xD800;&#;&#x110000;"), "ABC&#0;&#xD800;&#;&#x110000;");
  EXPECT_EQ(DecodeTextEntities("AT&T &amp"), "AT&T &amp");
  EXPECT_EQ(DecodeTextEntities("&amp;amp;"), "&amp;");  // decoded once
}

TEST(captionparser_Ssa, DialogueLinesInFormatOrder) {
  CSubtitleState state;
  EXPECT_EQ(Load(state, "show.ass",
                 "\xEF\xBB\xBF[Script Info]\nTitle: test\nScriptType: v4.00+\n\n"
                 "[V4+ Styles]\n"
                 "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, Bold, "
                 "Italic\n"
                 "Style: Default,Arial,20,&H00FFFFFF,&H000000FF,&H00000000,&H00000000,0,0\n"
                 "Style: Loud,Arial,20,&H00FFFFFF,&H000000FF,&H00000000,&H00000000,-1,1\n\n"
                 "[Events]\n"
                 "Format: Start, Layer, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
                 "Dialogue: 0:00:03.00,0,0:00:04.50,Loud,,0,0,0,,{\\pos(10,20)}Shout, loudly!\n"
                 "Comment: 0:00:01.00,0,0:00:09.00,Default,,0,0,0,,not shown\n"
                 "; a comment line\n"
                 "Dialogue: 0:00:01.00,1,0:00:02.00,Default,,0,0,0,,{\\i1}First{\\i0} line\\Nsecond\\hline\\nthird\n"
                 "Dialogue: bad,1,0:00:02.00,Default,,0,0,0,,skipped\n"
                 "Dialogue: 0:00:05.00,1,0:00:06.00,*Default,,0,0,0,,{only an override}\n"),
            "SSA/ASS\n"
            "1000 [First line]/c=FFFFFF [\\n]/c=FFFFFF [second line]/c=FFFFFF [\\n]/c=FFFFFF [third]/c=FFFFFF\n"
            "2000 [ ]/c=FFFFFF\n"
            "3000 [Shout, loudly!]/i/b/c=FFFFFF\n"
            "4500 [ ]/c=FFFFFF\n");
  // SSA v4 without a Format line in [Events]: the usual columns.
  EXPECT_EQ(Load(state, "old.ssa",
                 "[Script Info]\nScriptType: v4.00\n\n[Events]\n"
                 "Dialogue: Marked=0,0:00:01.50,0:00:02.00,Default,NTP,0000,0000,0000,!Effect,Hello\n"),
            "SSA/ASS\n1500 [Hello]/c=FFFFFF\n2000 [ ]/c=FFFFFF\n");
  EXPECT_EQ(Load(state, "noevents.ass", "[Script Info]\nTitle: nothing\n"), "refused");
}

TEST(captionparser_LenientReaders, FilesBeyondAGibibyteAreRefusedUnread) {
  // A sparse file: refused by its size, before any reader reads it.
  const std::string path = WriteTempFile("huge.srt", "1\n00:00:01,000 --> 00:00:02,000\nx\n\n");
  std::filesystem::resize_file(path, std::uintmax_t(kMaxSubtitleFileBytes) + 1);
  CSubtitleState state;
  EXPECT_FALSE(state.LoadFile(path, false));
  std::filesystem::resize_file(path, 64);
  EXPECT_TRUE(state.LoadFile(path, false));
  std::filesystem::remove(path);
}
