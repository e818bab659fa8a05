// The team's own subtitle files in tests/data, read entry by entry.
#include <gtest/gtest.h>

#include "libs/captionparser/subtitlestate.h"
#include "libs/captionparser/tests/testutil.h"
#include "media/contract/codepage.h"

using namespace captionparser;
using captiontest::CorpusPath;
using captiontest::Dump;

TEST(captionparser_Corpus, TwoLanguageSami) {
  CSubtitleState state;
  ASSERT_TRUE(state.LoadFile(CorpusPath("two_languages.smi"), false));
  ASSERT_EQ(state.Languages().size(), 2u);
  EXPECT_EQ(state.Languages()[0]->name, "Korean");
  EXPECT_EQ(state.Languages()[0]->lang, "ko-KR");
  EXPECT_EQ(state.Languages()[1]->name, "English");
  EXPECT_EQ(state.Languages()[1]->lang, "en-US");
  ASSERT_EQ(state.Identifiers().size(), 4u);
  EXPECT_EQ(state.Identifiers()[0]->name, "Large");
  EXPECT_EQ(state.Identifiers()[0]->fontSize, (CaptionSize{SizeUnit::Points, 24}));

  EXPECT_EQ(Dump(state.LanguageTable()[0].entries),
            "1000 [항구의 불빛이]/f=Arial/c=FFFFFF [\\n]/f=Arial/c=FFFFFF [꺼지지 않는다]/f=Arial/c=FFFFFF\n"
            "3500 [ ]/f=Arial/c=FFFFFF\n"
            "4200 [\"누구세요?\"]/f=Batang/c=FFFFFF\n"
            "6000 [ ]/f=Arial/c=FFFFFF\n");
  EXPECT_EQ(Dump(state.LanguageTable()[1].entries),
            "1000 [The harbour lights]/f=Arial/c=FFFFFF [\\n]/f=Arial/c=FFFFFF [never go out]/f=Arial/c=FFFFFF\n"
            "3500 [ ]/f=Arial/c=FFFFFF\n"
            "4200 [\"Who's there?\"]/f=Georgia/c=FFFFFF\n"
            "6000 [ ]/f=Arial/c=FFFFFF\n");
  EXPECT_TRUE(state.DefaultEntries().empty());

  // The paragraph style from the sheet in the comment.
  const CCaptionStyle* p = state.FindStyle(CCaptionStyle::kElement, "P");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->marginLeft, (CaptionSize{SizeUnit::Points, 8}));
  EXPECT_EQ(p->marginBottom, (CaptionSize{SizeUnit::Points, 2}));
  EXPECT_EQ(p->textAlign, CCaptionStyle::kCenter);
  EXPECT_EQ(p->fontSize, (CaptionSize{SizeUnit::Points, 20}));
  EXPECT_TRUE(p->Has(CCaptionStyle::kBold));
  EXPECT_FALSE(p->bold);
  EXPECT_EQ(state.LanguageTable()[0].entries[0]->Runs()[0].style, p);

  // Selecting a language by its style switches the lookup.
  state.SetCurrentLanguage(state.Languages()[1]);
  EXPECT_EQ(state.CaptionAt(45'000'000)->Runs()[0].text, "\"Who's there?\"");
  state.SetCurrentLanguage(state.Languages()[0]);
  EXPECT_EQ(state.CaptionAt(12'000'000)->Runs()[2].text, "꺼지지 않는다");
}

TEST(captionparser_Corpus, SubRipWithItalicsCrLfAndByteOrderMark) {
  CSubtitleState state;
  ASSERT_TRUE(state.LoadFile(CorpusPath("italic_crlf_bom.srt"), false));
  EXPECT_EQ(Dump(state.DefaultEntries()),
            "1200 [Previously on the show...]/i/c=FFFFFF\n"
            "3400 [ ]/c=FFFFFF\n"
            "3500 [I told you ]/c=FFFFFF [never]/i/c=FFFFFF [ to come back.]/c=FFFFFF [\\n]/c=FFFFFF "
            "[Didn't I?]/c=FFFFFF\n"
            "5000 [ ]/c=FFFFFF\n"
            "62003 [- ]/c=FFFFFF [Who's there?]/i/c=FFFFFF [\\n]/c=FFFFFF [- Just me. Open up.]/c=FFFFFF\n"
            "64500 [ ]/c=FFFFFF\n");
  EXPECT_TRUE(state.Languages().empty());
}

TEST(captionparser_Corpus, KoreanSubRipInUtf8AndCp949) {
  const char* expect =
      "5000 [안녕하세요.]/c=FFFFFF [\\n]/c=FFFFFF [오랜만이에요.]/i/c=FFFFFF\n"
      "7250 [ ]/c=FFFFFF\n"
      "8000 [네, 잘 지냈어요?]/c=FFFFFF\n"
      "9000 [ ]/c=FFFFFF\n";
  {
    CSubtitleState state;
    ASSERT_TRUE(state.LoadFile(CorpusPath("korean_utf8.srt"), false));
    EXPECT_EQ(Dump(state.DefaultEntries()), expect);
  }
  // With the Korean code page as the ANSI code page, both files give the same text, held in
  // that code page.
  captiontest::AnsiCodePageScope korean("CP949");
  ASSERT_TRUE(korean.ok());
  for (const char* name : {"korean_utf8.srt", "korean_cp949.srt"}) {
    SCOPED_TRACE(name);
    CSubtitleState state;
    ASSERT_TRUE(state.LoadFile(CorpusPath(name), false));
    ASSERT_EQ(state.DefaultEntries().size(), 4u);
    const auto& runs = state.DefaultEntries()[0]->Runs();
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(tav::AnsiToWide(runs[0].text), u"안녕하세요.");
    EXPECT_EQ(runs[0].text, "\xBE\xC8\xB3\xE7\xC7\xCF\xBC\xBC\xBF\xE4.");
    EXPECT_EQ(tav::AnsiToWide(runs[2].text), u"오랜만이에요.");
    EXPECT_TRUE(runs[2].style->italic);
    EXPECT_EQ(tav::AnsiToWide(state.DefaultEntries()[2]->Runs()[0].text), u"네, 잘 지냈어요?");
    EXPECT_EQ(state.DefaultEntries()[2]->Start(), 80'000'000);
  }
}
