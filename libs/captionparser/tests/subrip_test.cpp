// The SubRip reader: times, timing lines, cue numbering and cue text.
#include <gtest/gtest.h>

#include <chrono>

#include "libs/captionparser/subripreader.h"
#include "libs/captionparser/subtitlestate.h"
#include "libs/captionparser/tests/testutil.h"
#include "tests/support/testenv.h"

using namespace captionparser;
using captiontest::Dump;
using tavtest::WriteTempFile;

namespace {

// Loads SubRip text through the manager's load (SAMI first, then SubRip); "refused" when the
// strict SubRip reader did not take it (the lenient readers may have).
std::string Load(CSubtitleState& state, const std::string& text, bool* ok = nullptr) {
  bool loaded = state.LoadFile(WriteTempFile("cues.srt", text), false) && state.Reader() == SubtitleReader::kSubRip;
  if (ok) *ok = loaded;
  return loaded ? Dump(state.DefaultEntries()) : "refused";
}

}  // namespace

TEST(captionparser_SubRipTime, Times) {
  REFERENCE_TIME t = -1;
  ASSERT_TRUE(ParseTime("00:00:01,5", &t));
  EXPECT_EQ(t, 10'050'000);  // ",5" is 5 ms
  ASSERT_TRUE(ParseTime(" 00:00:02,250 ", &t));
  EXPECT_EQ(t, 22'500'000);
  ASSERT_TRUE(ParseTime("1:2:3,4", &t));
  EXPECT_EQ(t, (3'600'000LL + 120'000 + 3'000 + 4) * 10'000);
  ASSERT_TRUE(ParseTime("99:99:99,999", &t));
  EXPECT_EQ(t, (99 * 3'600'000LL + 99 * 60'000 + 99 * 1'000 + 999) * 10'000);
  // Three-digit hours match on their last two digits.
  ASSERT_TRUE(ParseTime("100:00:00,000", &t));
  EXPECT_EQ(t, 0);
  EXPECT_FALSE(ParseTime("00:00:01.500", &t));
  EXPECT_FALSE(ParseTime("00:00:01", &t));
  EXPECT_FALSE(ParseTime("00:00:013,567", &t));
  EXPECT_FALSE(ParseTime("", &t));

  REFERENCE_TIME start = 0, end = 0;
  ASSERT_TRUE(ParseTimingLine("00:00:01,5 --> 00:00:02,250", &start, &end));
  EXPECT_EQ(start, 10'050'000);
  EXPECT_EQ(end, 22'500'000);
  ASSERT_TRUE(ParseTimingLine("00:31:37,894 --> 00:31:39,928 hack the gibson X1:1", &start, &end));
  EXPECT_EQ(end, 18'999'280'000);
  EXPECT_FALSE(ParseTimingLine("00:00:01,000 --> 00:00:02.000", &start, &end));
  EXPECT_FALSE(ParseTimingLine("00:00:01,000 -> 00:00:02,000", &start, &end));
  EXPECT_FALSE(ParseTimingLine("--> 00:00:02,000", &start, &end));
  EXPECT_FALSE(ParseTimingLine("00:00:01,000 -->", &start, &end));
  // Long runs of white space do not make the match slow.
  auto began = std::chrono::steady_clock::now();
  ASSERT_TRUE(ParseTimingLine("00:00:01,000" + std::string(200000, ' ') + "-->  00:00:02,000" +
                                  std::string(200000, ' ') + "x",
                              &start, &end));
  EXPECT_EQ(end, 20'000'000);
  EXPECT_FALSE(ParseTimingLine(std::string(200000, ' ') + "-->" + std::string(200000, ' '), &start, &end));
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count(), 2.0);
}

TEST(captionparser_SubRipReader, CuesGiveStartAndBlankEntries) {
  CSubtitleState state;
  EXPECT_EQ(Load(state,
                 "1\n00:00:01,000 --> 00:00:02,000\nFirst line\nsecond <i>line</i>\n\n"
                 "2\n00:00:02,000 --> 00:00:03,500\n  <b>A&nbsp;&amp;B</b>  \n"),
            "1000 [First line]/c=FFFFFF [\\n]/c=FFFFFF [second ]/c=FFFFFF [line]/i/c=FFFFFF\n"
            "2000 [ ]/c=FFFFFF\n"
            "2000 [A B]/b/c=FFFFFF\n"
            "3500 [ ]/c=FFFFFF\n");
  // One centred white-on-black style per cue.
  const CCaptionStyle* cue = state.DefaultEntries()[0]->Runs()[0].style;
  EXPECT_EQ(cue->textAlign, CCaptionStyle::kCenter);
  EXPECT_EQ(cue->color, 0xFFFFFFu);
  EXPECT_EQ(cue->backgroundColor, 0u);
  EXPECT_EQ(cue->flags, CCaptionStyle::kTextAlign | CCaptionStyle::kColor | CCaptionStyle::kBackgroundColor);
  EXPECT_EQ(state.DefaultEntries()[1]->Runs()[0].style, cue);
  EXPECT_NE(state.DefaultEntries()[2]->Runs()[0].style, cue);
  // No languages; the built-in size classes are there; the default list is used.
  EXPECT_TRUE(state.Languages().empty());
  EXPECT_EQ(state.Identifiers().size(), 3u);
  EXPECT_EQ(state.CaptionAt(20'000'000)->Runs()[0].text, "A B");  // the later entry wins
  EXPECT_EQ(state.CaptionAt(19'999'999)->Runs()[0].text, "First line");
}

TEST(captionparser_SubRipReader, Numbering) {
  CSubtitleState state;
  EXPECT_EQ(Load(state, "0\n00:00:01,000 --> 00:00:02,000\nzero\n"), "refused");
  EXPECT_EQ(Load(state, "1\n00:00:01,000 --> 00:00:02,000\na\n\n3\n00:00:03,000 --> 00:00:04,000\nc\n"), "refused");
  EXPECT_EQ(Load(state, "1\n00:00:01,000 --> 00:00:02,000\na\n\n \n"), "refused");  // spaces read as 0
  EXPECT_EQ(Load(state, "foobar\n00:00:01,000 --> 00:00:02,000\na\n"), "refused");
  // Text after the number, a sign and leading white space are fine.
  EXPECT_EQ(Load(state, "\n\n 1 first\n00:00:01,000 --> 00:00:02,000\na\n\n\n\n+2\n00:00:03,000 --> 00:00:04,000\nb\n"),
            "1000 [a]/c=FFFFFF\n2000 [ ]/c=FFFFFF\n3000 [b]/c=FFFFFF\n4000 [ ]/c=FFFFFF\n");
  // Cues without text, or with a timing line that does not read, still count.
  EXPECT_EQ(Load(state, "1\n00:00:01,000 --> 00:00:02,000\n\n2\nbad timing\n3\n00:00:05,000 --> 00:00:06,000\nc\n"),
            "5000 [c]/c=FFFFFF\n6000 [ ]/c=FFFFFF\n");
  // A bad timing line followed by text: the text line is taken as the next number.
  EXPECT_EQ(Load(state, "1\n00:00:01.000 --> 00:00:02,000\ntext\n"), "refused");
  // A number as the last line.
  EXPECT_EQ(Load(state, "1\n00:00:01,000 --> 00:00:02,000\na\n\n2"), "1000 [a]/c=FFFFFF\n2000 [ ]/c=FFFFFF\n");
}

TEST(captionparser_SubRipReader, MissingBlankLineSwallowsTheNextCue) {
  CSubtitleState state;
  // Cue 1's text runs on into cue 2's lines; cue 3 then has the wrong number.
  EXPECT_EQ(Load(state,
                 "1\n00:00:01,000 --> 00:00:02,000\na\n2\n00:00:03,000 --> 00:00:04,000\nb\n\n"
                 "3\n00:00:05,000 --> 00:00:06,000\nc\n"),
            "refused");
  EXPECT_EQ(Load(state, "1\n00:00:01,000 --> 00:00:02,000\na\n2\n00:00:03,000 --> 00:00:04,000\nb\n"),
            "1000 [a]/c=FFFFFF [\\n]/c=FFFFFF [2]/c=FFFFFF [\\n]/c=FFFFFF [00:00:03,000 --> 00:00:04,000]/c=FFFFFF "
            "[\\n]/c=FFFFFF [b]/c=FFFFFF\n"
            "2000 [ ]/c=FFFFFF\n");
}

TEST(captionparser_SubRipReader, LineEndsAndByteOrderMarks) {
  CSubtitleState state;
  const char* expect = "1000 [caf\xC3\xA9]/c=FFFFFF [\\n]/c=FFFFFF [two]/c=FFFFFF\n2000 [ ]/c=FFFFFF\n";
  EXPECT_EQ(Load(state, "\xEF\xBB\xBF" "1\r\n00:00:01,000 --> 00:00:02,000\r\ncaf\xC3\xA9\r\ntwo\r\n\r\n"), expect);
  // UTF-16 little-endian with a byte-order mark.
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("1\r\n00:00:01,000 --> 00:00:02,000\r\ncaf"))
    utf16 += std::string{c, '\0'};
  utf16 += std::string("\xE9\0\r\0\n\0t\0w\0o\0\n\0", 14);
  EXPECT_EQ(Load(state, utf16), expect);
  EXPECT_EQ(state.LoadedPath(), tavtest::TempDir() + "/cues.srt");
}
