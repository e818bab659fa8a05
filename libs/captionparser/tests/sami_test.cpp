// The SAMI reader and the state it fills: style sheets, languages, size classes, captions.
#include <gtest/gtest.h>

#include <random>

#include "libs/captionparser/patterns.h"
#include "libs/captionparser/samireader.h"
#include "libs/captionparser/subtitlestate.h"
#include "libs/captionparser/tests/testutil.h"

using namespace captionparser;
using captiontest::Dump;
using tavtest::WriteTempFile;

namespace {

const char kTwoLanguageHead[] =
    "<SAMI><HEAD><TITLE>t</TITLE><STYLE TYPE=\"text/css\"><!--\n"
    "P { margin-left:8pt; font-size:20pt; text-align:center; color:white; }\n"
    ".KRCC {Name:Korean; lang:ko-KR; SAMIType:CC;}\n"
    ".ENCC {Name:English; lang:en-US; SAMIType:CC;}\n"
    "#Big {Name:Big; font-size:30pt;}\n"
    "-->\n</STYLE></HEAD>\n";

std::vector<std::string> SelectorsOf(const std::vector<const CCaptionStyle*>& styles) {
  std::vector<std::string> out;
  for (const CCaptionStyle* s : styles) out.push_back(s->selector);
  return out;
}

}  // namespace

TEST(captionparser_SamiReader, HeaderOnlyReadsLanguagesAndSizeClasses) {
  CSubtitleState state;
  std::string path =
      WriteTempFile("head.smi", std::string(kTwoLanguageHead) + "<BODY><SYNC Start=0><P Class=ENCC>x</BODY></SAMI>");
  ASSERT_TRUE(state.LoadFile(path, true));
  EXPECT_EQ(SelectorsOf(state.Languages()), (std::vector<std::string>{"KRCC", "ENCC"}));
  EXPECT_EQ(state.LanguageCount(), 2);
  EXPECT_EQ(state.LanguageTable()[0].style->name, "Korean");
  EXPECT_EQ(state.LanguageTable()[1].style->lang, "en-US");
  ASSERT_NE(state.CurrentLanguage(), nullptr);
  EXPECT_EQ(state.CurrentLanguage()->selector, "KRCC");
  // The file's identifier style first, then the three built-in size classes.
  EXPECT_EQ(SelectorsOf(state.Identifiers()),
            (std::vector<std::string>{"Big", kSizeClassNormal, kSizeClassBig, kSizeClassSmall}));
  EXPECT_EQ(state.CurrentSize()->selector, "Big");
  EXPECT_EQ(state.Identifiers()[1]->name, "Debug Normal");
  EXPECT_EQ(state.Identifiers()[1]->fontSize, (CaptionSize{SizeUnit::Percent, 7}));
  EXPECT_EQ(state.Identifiers()[2]->fontSize, (CaptionSize{SizeUnit::Percent, 8}));
  EXPECT_EQ(state.Identifiers()[3]->name, "Debug Small");
  EXPECT_TRUE(state.DefaultEntries().empty());
  EXPECT_TRUE(state.LanguageTable()[1].entries.empty());
  EXPECT_EQ(state.LoadedPath(), path);
  EXPECT_EQ(state.TextAreaPercent(), 20);
}

TEST(captionparser_SamiReader, CaptionsAreFiledPerLanguage) {
  CSubtitleState state;
  ASSERT_TRUE(state.LoadFile(WriteTempFile("two.smi", std::string(kTwoLanguageHead) +
                                                          "<BODY>\n"
                                                          "<SYNC Start=1000><P Class=KRCC>annyeong\n"
                                                          "<SYNC Start=1000><P Class=ENCC>hello\n"
                                                          "<SYNC Start=2500><P Class=KRCC>&nbsp;\n"
                                                          "<SYNC Start=2500><P Class=ENCC>&nbsp;\n"
                                                          "<SYNC Start=3000><P Class=KRCC>both<P Class=ENCC>at once\n"
                                                          "</BODY></SAMI>"),
                             false));
  // A SYNC holding paragraphs of both languages gives each its own entry at that time.
  EXPECT_EQ(Dump(state.LanguageTable()[0].entries), "1000 [annyeong]/c=FFFFFF\n2500 [ ]/c=FFFFFF\n3000 [both]/c=FFFFFF\n");
  EXPECT_EQ(Dump(state.LanguageTable()[1].entries),
            "1000 [hello]/c=FFFFFF\n2500 [ ]/c=FFFFFF\n3000 [at once]/c=FFFFFF\n");
  EXPECT_TRUE(state.DefaultEntries().empty());
  EXPECT_EQ(state.LanguageTable()[0].entries[1]->Start(), 25'000'000);
  // The paragraph style "P" applies, merged with nothing (the classes are not element styles).
  const CTextRun& run = state.LanguageTable()[0].entries[0]->Runs()[0];
  EXPECT_EQ(run.style->selector, "P");
  EXPECT_EQ(run.style->textAlign, CCaptionStyle::kCenter);
  EXPECT_EQ(run.style->marginLeft, (CaptionSize{SizeUnit::Points, 8}));
  // After a full read the current language is the last class used.
  EXPECT_EQ(state.CurrentLanguage()->selector, "ENCC");

  // The lookup uses the current language's list; entries show until the next one starts.
  state.SetCurrentLanguage(state.Languages()[0]);
  EXPECT_EQ(state.CaptionAt(9'999'999), nullptr);
  EXPECT_EQ(state.CaptionAt(10'000'000)->Runs()[0].text, "annyeong");
  EXPECT_EQ(state.CaptionAt(24'999'999)->Runs()[0].text, "annyeong");
  EXPECT_EQ(state.CaptionAt(25'000'000)->Runs()[0].text, " ");
  state.SetCurrentLanguage(nullptr);
  EXPECT_EQ(state.CaptionAt(40'000'000), nullptr);
}

TEST(captionparser_SamiReader, OneSyncWithParagraphsOfSeveralLanguages) {
  CSubtitleState state;
  ASSERT_TRUE(
      state.LoadFile(WriteTempFile("mixed.smi", std::string(kTwoLanguageHead) +
                                                    "<BODY>\n"
                                                    "<SYNC Start=1000><P Class=ENCC>Hello<br>there\n"
                                                    "<P Class=KRCC><FONT face=Gulim>annyeong</FONT>\n"
                                                    "<SYNC Start=2000><P Class=KRCC>&nbsp;<P Class=ENCC>&nbsp;\n"
                                                    "<SYNC Start=3000><P Class=ENCC>only English\n"
                                                    "</BODY></SAMI>"),
                     false));
  EXPECT_EQ(Dump(state.LanguageTable()[0].entries), "1000 [annyeong]/f=Gulim/c=FFFFFF\n2000 [ ]/c=FFFFFF\n");
  EXPECT_EQ(Dump(state.LanguageTable()[1].entries),
            "1000 [Hello]/c=FFFFFF [\\n]/c=FFFFFF [there]/c=FFFFFF\n2000 [ ]/c=FFFFFF\n3000 [only English]/c=FFFFFF\n");
  EXPECT_TRUE(state.DefaultEntries().empty());
  // Each language shows only its own text.
  state.SetCurrentLanguage(state.Languages()[1]);
  EXPECT_EQ(state.CaptionAt(15'000'000)->Runs()[0].text, "Hello");
  state.SetCurrentLanguage(state.Languages()[0]);
  EXPECT_EQ(state.CaptionAt(15'000'000)->Runs().size(), 1u);
}

TEST(captionparser_SamiReader, InlineMarkup) {
  CSubtitleState state;
  ASSERT_TRUE(
      state.LoadFile(WriteTempFile("inline.smi",
                                   "<SAMI><BODY><SYNC Start=10><P>a<BR>b<I>c<B>d</B></I><FONT face=\"Gulim, Arial\" "
                                   "color=red>e<br/>f</FONT><u>g</u><I></I>&lt;h&gt;</SAMI>"),
                     false));
  // No style sheet: the default style; FONT face keeps the whole value; unknown tags are
  // transparent; an empty I adds nothing.
  EXPECT_EQ(Dump(state.DefaultEntries()),
            "10 [a] [\\n] [b] [c]/i [d]/i/b [e]/f=Gulim, Arial [\\n]/f=Gulim, Arial [f]/f=Gulim, Arial [g] [h]\n");
  EXPECT_EQ(state.DefaultEntries()[0]->Runs()[0].style, &state.DefaultStyle());
}

TEST(captionparser_SamiReader, ParagraphClassesMergeElementStyles) {
  CSubtitleState state;
  ASSERT_TRUE(state.LoadFile(WriteTempFile("merge.smi",
                                           "<SAMI><HEAD><STYLE><!-- P {color:yellow;} ENCC {font-family:Arial;} "
                                           ".ENCC {SAMIType:CC;} --></STYLE></HEAD><BODY>"
                                           "<SYNC Start=1><P Class=ENCC>one<SYNC Start=2><P Class=ENCC>two"
                                           "<SYNC Start=3><P>three</BODY></SAMI>"),
                             false));
  const EntryList& en = state.LanguageTable()[0].entries;
  ASSERT_EQ(en.size(), 3u);
  const CCaptionStyle* merged = en[0]->Runs()[0].style;
  EXPECT_EQ(merged->selector, "P.ENCC");
  EXPECT_EQ(merged->fontFamily, "Arial");
  EXPECT_EQ(merged->color, CaptionRgb(0xFF, 0xFF, 0));
  // The second paragraph finds the merged style by its combined name.
  EXPECT_EQ(en[1]->Runs()[0].style, merged);
  // A paragraph without a class leaves the current language as it was.
  EXPECT_EQ(en[2]->Runs()[0].style->selector, "P");
  size_t mergedCount = 0;
  for (const auto& s : state.AllStyles()) mergedCount += s->selector == "P.ENCC";
  EXPECT_EQ(mergedCount, 1u);
}

TEST(captionparser_SamiReader, StyleSheetRules) {
  CSubtitleState state;
  ParseStyleSheet(state, "P {font-family : Arial; color:red ;margin-top: 5%;}\n.A-B{SAMIType:CC}#x{}");
  ASSERT_EQ(state.AllStyles().size(), 3u);
  const CCaptionStyle& p = *state.AllStyles()[0];
  // "font-family " keeps its space and is ignored; "red " keeps its space and is no colour
  // name; the space after a colon is not part of the value.
  EXPECT_FALSE(p.Has(CCaptionStyle::kFontFamily));
  EXPECT_TRUE(p.Has(CCaptionStyle::kColor));
  EXPECT_EQ(p.color, 0u);
  EXPECT_EQ(p.marginTop, (CaptionSize{SizeUnit::Percent, 5}));
  EXPECT_EQ(state.AllStyles()[1]->selector, "A-B");
  EXPECT_EQ(state.AllStyles()[1]->kind, CCaptionStyle::kClass);
  EXPECT_EQ(state.Languages().size(), 1u);
  EXPECT_EQ(state.AllStyles()[2]->kind, CCaptionStyle::kIdentifier);
  EXPECT_EQ(state.Identifiers().size(), 1u);

  // Only the first non-blank child of a STYLE element is a style sheet.
  ASSERT_TRUE(
      state.LoadFile(WriteTempFile("twocomments.smi",
                                   "<SAMI><HEAD><STYLE> <!-- --> <!-- .A {SAMIType:CC;} --><!-- .B {SAMIType:CC;} "
                                   "--></STYLE></HEAD><BODY></BODY></SAMI>"),
                     false));
  EXPECT_EQ(SelectorsOf(state.Languages()), (std::vector<std::string>{"A"}));
}

TEST(captionparser_SamiReader, RefusedFiles) {
  CSubtitleState state;
  // Anything before the SAMI element: a comment, a document type, text.
  for (const char* text : {"<!-- c --><SAMI><BODY></BODY></SAMI>", "<!DOCTYPE x><SAMI><BODY></BODY></SAMI>",
                           "x<SAMI><BODY></BODY></SAMI>", "<SAMI><HEAD></HEAD></SAMI>"}) {
    SCOPED_TRACE(text);
    std::string path = WriteTempFile("refused.smi", text);
    EXPECT_FALSE(ParseSamiFile(state, path, false));
    EXPECT_FALSE(state.LoadFile(path, false));
    EXPECT_EQ(state.LoadedPath(), "");
  }
  EXPECT_FALSE(state.LoadFile(WriteTempFile("missing", "") + "/nothing.smi", false));
  // An empty file is no SAMI file, but it reads as a SubRip file without cues.
  EXPECT_TRUE(state.LoadFile(WriteTempFile("empty.smi", ""), false));
  EXPECT_TRUE(state.DefaultEntries().empty());
  // A byte-order mark is consumed by the decoder, so the file still starts with SAMI.
  ASSERT_TRUE(
      state.LoadFile(WriteTempFile("bom.smi", "\xEF\xBB\xBF<SAMI><BODY><SYNC Start=5><P>x</BODY></SAMI>"), false));
  EXPECT_EQ(Dump(state.DefaultEntries()), "5 [x]\n");
}

TEST(captionparser_SamiReader, SyncStartValues) {
  CSubtitleState state;
  ASSERT_TRUE(state.LoadFile(WriteTempFile("starts.smi",
                                           "<SAMI><BODY>"
                                           "<SYNC Start=\"100\"><P>quoted"
                                           "<SYNC Start=abc><P>skipped"
                                           "<SYNC Start=1.5 start=300><P>second start"
                                           "<SYNC><P>no start"
                                           "<SYNC Start=400>"
                                           "<SYNC Start=500><P>after empty"
                                           "<SYNC Start=99999999999><P>huge"
                                           "</BODY></SAMI>"),
                             false));
  EXPECT_EQ(Dump(state.DefaultEntries()),
            "100 [quoted]\n300 [second start]\n500 [after empty]\n2147483647 [huge]\n");
  EXPECT_EQ(state.DefaultEntries().back()->Start(), 2147483647LL * 10'000);
}

TEST(captionparser_SamiReader, LanguagesBeyondTheTableAreLeftOut) {
  std::string sheet;
  std::string body;
  for (int i = 0; i < 12; ++i) {
    sheet += ".L" + std::to_string(i) + " {SAMIType:CC;} ";
    body += "<SYNC Start=" + std::to_string(i) + "><P Class=L" + std::to_string(i) + ">t" + std::to_string(i);
  }
  // A class that is not a language makes captions go to the default list.
  sheet += ".Src {Name:Source;}";
  body += "<SYNC Start=99><P Class=Src>plain";
  CSubtitleState state;
  ASSERT_TRUE(state.LoadFile(WriteTempFile("many.smi", "<SAMI><HEAD><STYLE><!--" + sheet + "--></STYLE></HEAD><BODY>" +
                                                           body + "</BODY></SAMI>"),
                             false));
  EXPECT_EQ(state.Languages().size(), 10u);
  EXPECT_EQ(state.LanguageCount(), 10);
  EXPECT_EQ(Dump(state.LanguageTable()[9].entries), "9 [t9]\n");
  // The captions of L10 and L11 are dropped.
  EXPECT_EQ(Dump(state.DefaultEntries()), "99 [plain]\n");
}

TEST(captionparser_SamiReader, ReloadStartsFromScratch) {
  CSubtitleState state;
  ASSERT_TRUE(state.LoadFile(
      WriteTempFile("a.smi", std::string(kTwoLanguageHead) + "<BODY><SYNC Start=1><P Class=KRCC>x</BODY></SAMI>"),
      false));
  ASSERT_TRUE(state.LoadFile(WriteTempFile("b.smi", "<SAMI><BODY><SYNC Start=2><P>y</BODY></SAMI>"), false));
  EXPECT_TRUE(state.Languages().empty());
  EXPECT_EQ(state.LanguageCount(), 0);
  EXPECT_EQ(state.CurrentLanguage(), nullptr);
  EXPECT_EQ(state.CurrentSize(), nullptr);
  EXPECT_EQ(state.Identifiers().size(), 3u);
  EXPECT_EQ(state.Identifiers()[0]->selector, kSizeClassNormal);
  EXPECT_EQ(Dump(state.DefaultEntries()), "2 [y]\n");
  EXPECT_TRUE(state.LanguageTable()[0].entries.empty());
}

TEST(captionparser_SamiReader, DeepNestingAndLongLinesAreWalkedWithoutRecursion) {
  // 100,000 distinct unknown elements nested inside one paragraph, and a 1 MB line of text.
  std::string deep = "<SAMI><BODY><SYNC Start=1><P>";
  for (int i = 0; i < 100000; ++i) deep += "<u" + std::to_string(i) + ">";
  deep += "<i>bottom</i><SYNC Start=2><P>" + std::string(1 << 20, 'x') + "</BODY></SAMI>";
  CSubtitleState state;
  ASSERT_TRUE(state.LoadFile(WriteTempFile("deep.smi", deep), false));
  ASSERT_EQ(state.DefaultEntries().size(), 2u);
  EXPECT_EQ(captiontest::DumpEntry(*state.DefaultEntries()[0]), "1 [bottom]/i");
  EXPECT_EQ(state.DefaultEntries()[1]->Runs()[0].text.size(), size_t(1) << 20);

  // The same as SubRip cue text on one line.
  std::string cue = "1\n00:00:01,000 --> 00:00:02,000\n";
  for (int i = 0; i < 100000; ++i) cue += "<b" + std::to_string(i) + ">";
  cue += "<b>bottom\n";
  ASSERT_TRUE(state.LoadFile(WriteTempFile("deep.srt", cue), false));
  ASSERT_EQ(state.DefaultEntries().size(), 2u);
  EXPECT_EQ(captiontest::DumpEntry(*state.DefaultEntries()[0]), "1000 [bottom]/b/c=FFFFFF");
}

// The reader streams the file, but reads it as if the whole tree were built first: the sheets
// of every HEAD count, and the last BODY is the one read. Files that break the usual order are
// read a second time with what the first reading learnt.
TEST(captionparser_SamiReader, OrderOfHeadsAndBodiesAsInTheWholeTree) {
  SetSelfCheck(true);
  CSubtitleState state;
  // A second BODY replaces the first.
  ASSERT_TRUE(state.LoadFile(WriteTempFile("bodies.smi",
                                           "<SAMI><BODY><SYNC Start=1><P>first</BODY>"
                                           "<BODY><SYNC Start=2><P>second</BODY></SAMI>"),
                             false));
  EXPECT_EQ(Dump(state.DefaultEntries()), "2 [second]\n");
  // A HEAD after the BODY still gives its styles and languages.
  ASSERT_TRUE(state.LoadFile(
      WriteTempFile("late_head.smi",
                    "<SAMI><BODY><SYNC Start=1><P Class=ENCC>late</BODY>"
                    "<HEAD><STYLE><!-- .ENCC {SAMIType:CC;} P {font-style:italic;} --></STYLE></HEAD></SAMI>"),
      false));
  ASSERT_EQ(state.LanguageCount(), 1);
  EXPECT_EQ(Dump(state.LanguageTable()[0].entries), "1 [late]/i\n");
  // A BODY that is not a child of SAMI (HEAD was never closed) leaves the file without one.
  EXPECT_FALSE(
      state.LoadFile(WriteTempFile("open_head.smi", "<SAMI><HEAD><TITLE>t</TITLE><BODY><SYNC Start=1><P>x"), false));
  // Elements around SYNCs, SYNCs without a usable Start, and text after the SAMI element.
  ASSERT_TRUE(
      state.LoadFile(WriteTempFile("wrapped.smi",
                                   "<SAMI><BODY><DIV><SYNC Start=1><P>a<SYNC Start=x><P>gone"
                                   "<SYNC Start=3><I><B>c</B></I></DIV><x>y</x></BODY></SAMI>tail<SYNC Start=9>t"),
                     false));
  EXPECT_EQ(Dump(state.DefaultEntries()), "1 [a]\n3 [c]/i/b\n");
  SetSelfCheck(false);
}

// Random SAMI documents: the self-check compares each streaming reading with the reading of
// the whole tree, with and without captions (a difference aborts).
TEST(captionparser_SamiReader, StreamingReadingAgreesWithTheWholeTree) {
  const char* head[] = {"<HEAD>", "<STYLE>", "<!--", "-->", "</STYLE>", "</HEAD>", "<TITLE>t</TITLE>",
                        ".ENCC {Name:English; SAMIType:CC;}", ".KRCC {SAMIType:CC;}", "P {color:red;}",
                        "ENCC {font-family:Arial;}", "#Big {font-size:30pt;}", " "};
  const char* body[] = {"<SYNC Start=100>", "<SYNC Start=200>", "<SYNC Start=x>", "<SYNC>", "</SYNC>",
                        "<P Class=ENCC>", "<P Class=KRCC>", "<P>", "</P>", "text", " more ", "&nbsp;",
                        "<BR>", "</BR>", "<I>", "</I>", "<B>", "</B>", "<FONT face=F>", "</FONT>", "<x>", "</x>",
                        "<!-- c -->", "\n", "<BODY>", "</BODY>", "<HEAD>", "</HEAD>", "<STYLE>", "</STYLE>",
                        "</SAMI>", "<SAMI>"};
  std::mt19937 rng(11);
  SetSelfCheck(true);
  CSubtitleState state;
  const std::string path = WriteTempFile("random.smi", "");
  for (int round = 0; round < 1500; ++round) {
    std::string text = rng() % 20 == 0 ? " <SAMI>" : "<SAMI>";
    for (int i = int(rng() % 8); i > 0; --i) text += head[rng() % std::size(head)];
    if (rng() % 4 != 0) text += "</STYLE></HEAD>";
    text += "<BODY>";
    for (int i = int(rng() % 50); i > 0; --i) text += body[rng() % std::size(body)];
    WriteTempFile("random.smi", text);
    state.LoadFile(path, rng() % 3 == 0);
  }
  SetSelfCheck(false);
}
