// The mark-up document: tokenizing with implicit closing, the node tree, attributes, file
// loading, and the guarded pattern searches.
#include <gtest/gtest.h>
#include <pcre.h>

#include <chrono>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "libs/captionparser/captiondocument.h"
#include "libs/captionparser/patterns.h"
#include "libs/captionparser/subtitletext.h"
#include "libs/captionparser/textutil.h"
#include "media/contract/codepage.h"
#include "tests/support/testenv.h"

using namespace captionparser;

namespace {

// "NAME(child child ...)"; content nodes as 'text', comments as !'text'.
std::string Shape(const CCaptionDocument& doc, const CMarkupNode* node) {
  std::string out;
  for (; node; node = node->nextSibling) {
    if (!out.empty()) out += " ";
    if (node->tagId == kTagContent) {
      out += "'" + std::string(doc.Text(node)) + "'";
    } else if (node->tagId == kTagComment) {
      out += "!'" + std::string(doc.Text(node)) + "'";
    } else {
      out += std::string(node->name);
      if (node->firstChild) out += "(" + Shape(doc, node->firstChild) + ")";
    }
  }
  return out;
}

std::string Shape(std::string_view text) {
  CCaptionDocument doc;
  doc.LoadText(text);
  return Shape(doc, doc.Root()->firstChild);
}

}  // namespace

TEST(captionparser_Tokenizer, NewSyncAndParagraphCloseTheOpenOnes) {
  CCaptionDocument doc;
  doc.LoadText("<SYNC Start=0><P Class=A>x<SYNC Start=500><P Class=A>y");
  EXPECT_EQ(Shape(doc, doc.Root()->firstChild), "SYNC(P('x')) SYNC(P('y'))");
  EXPECT_TRUE(doc.TokenizedToEnd());
  // The first SYNC's content runs to the end of the tag that closed it.
  const CMarkupNode* first = doc.Root()->firstChild;
  EXPECT_EQ(doc.Text(first), "<P Class=A>x<SYNC Start=500>");
  // The second was never closed: its text is that of the nearest ancestor with a known end.
  EXPECT_EQ(doc.Text(first->nextSibling), doc.Buffer());
}

TEST(captionparser_Tokenizer, ClosingTags) {
  // A closing tag ends its element where the tag starts.
  CCaptionDocument doc;
  doc.LoadText("<P>a<i>b</i>c</P>d");
  EXPECT_EQ(Shape(doc, doc.Root()->firstChild), "P('a' i('b') 'c') 'd'");
  EXPECT_EQ(doc.Text(doc.Root()->firstChild), "a<i>b</i>c");
  // A closing P with no P open stops the tree there.
  doc.LoadText("<SYNC Start=1><FONT>x</P>y<BR>");
  EXPECT_FALSE(doc.TokenizedToEnd());
  EXPECT_EQ(Shape(doc, doc.Root()->firstChild), "SYNC(FONT('x'))");
  // A closing tag of a name never seen is unmatched too.
  doc.LoadText("<P>a</Q>b");
  EXPECT_FALSE(doc.TokenizedToEnd());
  EXPECT_EQ(Shape(doc, doc.Root()->firstChild), "P('a')");
  // Closing tags find their element through unclosed children, in any letter case.
  EXPECT_EQ(Shape("<body><sync><p><font>a</SYNC>b</BODY>c"), "body(sync(p(font('a'))) 'b') 'c'");
}

TEST(captionparser_Tokenizer, EmptyElementsNeverHoldContent) {
  EXPECT_EQ(Shape("<P>a<BR>b<br/>c</BR>d<bR>e</P>"), "P('a' BR 'b' br 'c' BR 'd' bR 'e')");
  EXPECT_EQ(Shape("<P>a<HR>b<META x=1>c</META>d</P>"), "P('a' HR 'b' META 'c' META 'd')");
  CCaptionDocument doc;
  doc.LoadText("<BR>");
  EXPECT_EQ(doc.Root()->firstChild->contentLength, 0);
  EXPECT_EQ(doc.Text(doc.Root()->firstChild), "");
}

TEST(captionparser_Tokenizer, ImplicitCloseSearchesAncestorsButNotTheRoot) {
  // The search looks at the current node and its previous siblings, then upward.
  EXPECT_EQ(Shape("<x><y><x>a"), "x(y) x('a')");
  EXPECT_EQ(Shape("<FONT>a<FONT>b"), "FONT('a') FONT('b')");
  // Children of the current node are not searched: the second FONT is a sibling of the
  // closed one, not a new closing of it.
  EXPECT_EQ(Shape("<a><x><FONT>f</FONT><FONT>g"), "a(x(FONT('f') FONT('g')))");
}

TEST(captionparser_Tokenizer, TagNamesAndIds) {
  CCaptionDocument doc;
  doc.LoadText("<SAMI><Head><title>t</title></HEAD><sync>x<Font>y<Unknown>");
  const CMarkupNode* sami = doc.Root()->firstChild;
  EXPECT_EQ(sami->tagId, kFirstRegisteredTag + 0);
  const CMarkupNode* head = sami->firstChild;
  EXPECT_EQ(head->tagId, kFirstRegisteredTag + 1);
  EXPECT_EQ(head->firstChild->tagId, kFirstRegisteredTag + 2);
  const CMarkupNode* sync = head->nextSibling;
  EXPECT_EQ(sync->tagId, kTagSync);
  EXPECT_EQ(sync->name, "sync");
  EXPECT_EQ(sync->firstChild->nextSibling->tagId, kTagFont);
  EXPECT_EQ(doc.TagNames(), (std::vector<std::string>{"SAMI", "Head", "title", "Unknown"}));
  // Content and comment nodes carry their kind's name.
  EXPECT_EQ(sync->firstChild->name, "TAG_CONTENT");
  EXPECT_EQ(doc.Root()->name, "TAG_DOCUMENT");
}

TEST(captionparser_Tokenizer, Comments) {
  CCaptionDocument doc;
  doc.LoadText("<STYLE><!-- P { color: red } --></STYLE><!DOCTYPE html><!---->");
  const CMarkupNode* style = doc.Root()->firstChild;
  ASSERT_NE(style->firstChild, nullptr);
  EXPECT_EQ(style->firstChild->tagId, kTagComment);
  EXPECT_EQ(doc.Text(style->firstChild), " P { color: red } ");
  // A declaration without "--" is an empty comment; so is "<!---->".
  EXPECT_EQ(Shape(doc, style->nextSibling), "!'' !''");
  // "<!>" without text is an element named "!".
  EXPECT_EQ(Shape("<!>a"), "!('a')");
}

TEST(captionparser_Tokenizer, TextAfterTheLastTagIsKept) {
  EXPECT_EQ(Shape("<SYNC Start=1><P>last words"), "SYNC(P('last words'))");
  EXPECT_EQ(Shape("no tags at all"), "'no tags at all'");
  EXPECT_EQ(Shape("x < 3 and y"), "'x < 3 and y'");
  // A "<" before a word is a tag as soon as a ">" follows somewhere.
  EXPECT_EQ(Shape("a < b and c > d"), "'a ' b(' d')");
  EXPECT_EQ(Shape(""), "");
}

TEST(captionparser_Attributes, TypesAndTexts) {
  CCaptionDocument doc;
  doc.LoadText("<SYNC Start=1000 B=\"1000\" Class=ENCC R=12a T=TRUE F=nofalse X=\"a b\" Y=v\" noequals Z = 7>");
  const CMarkupNode* n = doc.Root()->firstChild;
  // "noequals" has no value and is skipped; "Z = 7" is found after it.
  ASSERT_EQ(CCaptionDocument::AttributeCount(n), 9);
  struct Expect {
    const char* name;
    CMarkupAttribute::Type type;
    const char* text;
  } expect[] = {
      {"Start", CMarkupAttribute::kInteger, ""}, {"B", CMarkupAttribute::kInteger, ""},
      {"Class", CMarkupAttribute::kString, "ENCC"}, {"R", CMarkupAttribute::kReal, ""},
      {"T", CMarkupAttribute::kBoolean, ""}, {"F", CMarkupAttribute::kBoolean, ""},
      {"X", CMarkupAttribute::kString, "a b"}, {"Y", CMarkupAttribute::kString, "v"},
      {"Z", CMarkupAttribute::kInteger, ""},
  };
  for (int i = 0; i < 9; ++i) {
    SCOPED_TRACE(expect[i].name);
    EXPECT_EQ(doc.AttributeName(n, i), expect[i].name);
    EXPECT_EQ(doc.Attribute(n, i).type, expect[i].type);
    EXPECT_EQ(doc.AttributeText(n, i), expect[i].text);
  }
  EXPECT_EQ(doc.AttributeInteger(n, 0), 1000);
  EXPECT_EQ(doc.AttributeInteger(n, 1), 1000);
  EXPECT_DOUBLE_EQ(doc.Attribute(n, 3).realValue, 12.0);
  EXPECT_TRUE(doc.Attribute(n, 4).boolValue);
  EXPECT_FALSE(doc.Attribute(n, 5).boolValue);  // ends with "false" but is not "true"
  EXPECT_EQ(doc.AttributeInteger(n, 8), 7);
  EXPECT_EQ(doc.AttributeName(n, 9), "");  // out of range
  doc.LoadText("<P W=99999999999>");
  EXPECT_EQ(doc.AttributeInteger(doc.Root()->firstChild, 0), 2147483647);  // saturated
}

TEST(captionparser_LoadFile, JoinsLinesAndShrinksEdgeSpace) {
  CCaptionDocument doc;
  ASSERT_TRUE(doc.LoadFile(tavtest::WriteTempFile("join.smi", "Hello\nWorld\n")));
  EXPECT_EQ(doc.Buffer(), "HelloWorld");
  ASSERT_TRUE(doc.LoadFile(tavtest::WriteTempFile("join2.smi", "Hello \r\n\t\tWorld\r\n  \n")));
  EXPECT_EQ(doc.Buffer(), "Hello  World ");
  EXPECT_EQ(doc.Path(), tavtest::TempDir() + "/join2.smi");
  // A byte-order mark is not text.
  ASSERT_TRUE(doc.LoadFile(tavtest::WriteTempFile("bom.smi", "\xEF\xBB\xBF<SAMI>")));
  EXPECT_EQ(doc.Buffer(), "<SAMI>");
  // Missing files and folders fail and leave the document empty.
  EXPECT_FALSE(doc.LoadFile(tavtest::TempDir() + "/missing.smi"));
  EXPECT_EQ(doc.Root(), nullptr);
  EXPECT_EQ(doc.Path(), "");
  EXPECT_FALSE(doc.LoadFile(tavtest::TempDir()));
}

// Lines are joined where the text stands; the result is that of collapsing each line's edges
// and concatenating, for any mix of edge white space, lone CRs and blank lines.
TEST(captionparser_LoadFile, JoinedLinesMatchTheLineByLineForm) {
  const char* pieces[] = {"a", "bc", " ", "\t", "\r", "\b", "\n", "\r\n", "<P>", "x y"};
  std::mt19937 rng(5);
  CCaptionDocument doc;
  for (int round = 0; round < 500; ++round) {
    std::string text;
    for (int i = int(rng() % 30); i > 0; --i) text += pieces[rng() % std::size(pieces)];
    std::string expected;
    for (std::string_view line : SplitLines(text)) expected += CollapseEdgeSpace(line);
    ASSERT_TRUE(doc.StartFile(tavtest::WriteTempFile("lines.smi", text)));
    EXPECT_EQ(doc.Buffer(), expected) << round;
  }
}

// Valid UTF-8 is read byte for byte (a UTF-8 byte-order mark dropped), as the round trip
// through UTF-16 would give it.
TEST(captionparser_LoadFile, Utf8IsReadByteForByte) {
  const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBB\xBF\xED\x9F\xBF\xEE\x80\x80\xF4\x8F\xBF\xBF z";
  for (const std::string& bom : {std::string(), std::string("\xEF\xBB\xBF")}) {
    std::string read;
    ASSERT_TRUE(ReadSubtitleText(tavtest::WriteTempFile("utf8.smi", bom + text), &read));
    EXPECT_EQ(read, text);
    EXPECT_EQ(tav::WideToAnsi(tav::DecodeTextAs(text, "UTF-8")), text);
  }
}

TEST(captionparser_Robustness, DeepNestingAndLongInputStayFast) {
  // 60,000 distinct unclosed elements nested in each other, then closed from the inside.
  std::string text;
  std::vector<std::string> names;
  for (int i = 0; i < 60000; ++i) {
    std::string name = "t" + std::to_string(i);
    text += "<" + name + ">";
    names.push_back(name);
  }
  text += "deep";
  for (auto it = names.rbegin(); it != names.rend(); ++it) text += "</" + *it + ">";
  auto began = std::chrono::steady_clock::now();
  CCaptionDocument doc;
  doc.LoadText(text);
  EXPECT_TRUE(doc.TokenizedToEnd());
  int depth = 0;
  const CMarkupNode* n = doc.Root();
  while (n->firstChild) {
    n = n->firstChild;
    ++depth;
  }
  EXPECT_EQ(depth, 60001);
  EXPECT_EQ(doc.Text(n), "deep");
  // Inputs that make a plain regular-expression search retry every offset.
  doc.LoadText("<" + std::string(300000, 'a'));
  doc.LoadText(std::string(150000, '<') + std::string(150000, 'a'));
  std::string soup;
  for (int i = 0; i < 150000; ++i) soup += "<a";
  doc.LoadText(soup);
  doc.LoadText("<P " + std::string(300000, 'a') + ">");
  EXPECT_EQ(CCaptionDocument::AttributeCount(doc.Root()->firstChild), 0);
  doc.LoadText("<!--" + std::string(300000, '-') + ">");
  doc.Clear();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  EXPECT_LT(seconds, 5.0);
}

// Random tag soup through the self-check mode: every guarded search is compared with a plain
// PCRE search and every open-element search with the literal walk (a difference aborts).
TEST(captionparser_Robustness, GuardedSearchesAgreeWithPlainSearches) {
  const char* pieces[] = {"<", ">", "/", "!", "--", " ", "\"", "=", "P", "SYNC", "font", "br", "x", "i",
                          "Start", "12", "a", "&", "{", "}", ":", ";", ".", "#", "-->", "\t"};
  std::mt19937 rng(7);
  SetSelfCheck(true);
  CCaptionDocument doc;
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    int n = int(rng() % 60);
    for (int i = 0; i < n; ++i) text += pieces[rng() % std::size(pieces)];
    doc.LoadText(text);
    RegexMatch m;
    FindStyleRule(text, 0, &m);
    FindDeclaration(text, 0, &m);
    FindAttribute(text, 0, &m);
    std::string squeezed;
    MatchTimingLine(text, &m, &squeezed);
  }
  SetSelfCheck(false);
}

TEST(captionparser_Patterns, CharacterClassesMatchPcreTables) {
  const char* error;
  int offset;
  pcre* space = pcre_compile("^\\s$", 0, &error, &offset, nullptr);
  pcre* word = pcre_compile("^\\w$", 0, &error, &offset, nullptr);
  ASSERT_TRUE(space && word);
  for (int c = 0; c < 256; ++c) {
    char ch = char(c);
    int ov[3];
    EXPECT_EQ(pcre_exec(space, nullptr, &ch, 1, 0, 0, ov, 3) >= 0, IsPcreSpace((unsigned char)c)) << c;
    EXPECT_EQ(pcre_exec(word, nullptr, &ch, 1, 0, 0, ov, 3) >= 0, IsPcreWord((unsigned char)c)) << c;
  }
  pcre_free(space);
  pcre_free(word);
}
