// Code pages: decoding of subtitle-like text files and the platform's conversion calls.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include "media/contract/codepage.h"
#include "media/contract/hresult.h"
#include "media/contract/sync.h"
#include "tests/support/testenv.h"

namespace {

// Restores UTF-8 as the ANSI page after each test.
class RuntimeCodePage : public ::testing::Test {
 protected:
  void TearDown() override { tav::SetAnsiCodePage(""); }
};

const std::string kKoreanCp949 = "\xBE\xC8\xB3\xE7";  // "안녕" in CP949
const std::u16string kKorean = u"\uC548\uB155";

TEST_F(RuntimeCodePage, ByteOrderMarksAreHonouredAndRemoved) {
  EXPECT_EQ(tav::DecodeText("\xEF\xBB\xBFSAMI \xC3\xA9"), u"SAMI \u00E9");
  EXPECT_EQ(tav::DecodeText(std::string("\xFF\xFE" "A\0\x48\xC5", 6)), u"A\uC548");
  EXPECT_EQ(tav::DecodeText(std::string("\xFE\xFF\0A\xC5\x48", 6)), u"A\uC548");
  // A dangling odd byte does not get lost silently or read past the end.
  EXPECT_EQ(tav::DecodeText(std::string("\xFF\xFE" "A\0B", 5)), u"A\uFFFD");
  EXPECT_EQ(tav::DecodeText("\xEF\xBB\xBF"), u"");
  EXPECT_EQ(tav::DecodeText(""), u"");
}

TEST_F(RuntimeCodePage, ValidUtf8IsTakenAsIsEvenWithALegacyPageConfigured) {
  ASSERT_TRUE(tav::SetAnsiCodePage("CP949"));
  EXPECT_EQ(tav::DecodeText("\xEC\x95\x88\xEB\x85\x95 ok"), kKorean + u" ok");
  EXPECT_EQ(tav::DecodeText("\xF0\x9F\x98\x80"), u"\U0001F600");
}

TEST_F(RuntimeCodePage, NonUtf8IsDecodedFromTheLegacyPage) {
  EXPECT_EQ(tav::LegacyCodePage(), "CP1252");
  EXPECT_EQ(tav::DecodeText("caf\xE9 \x80"), u"caf\u00E9 \u20AC");
  // Invalid UTF-8 (a lead byte followed by ASCII) falls back to CP1252 as a whole.
  EXPECT_EQ(tav::DecodeText("\xC3\x28"), u"\u00C3(");

  ASSERT_TRUE(tav::SetAnsiCodePage("CP949"));
  EXPECT_EQ(tav::LegacyCodePage(), "CP949");
  EXPECT_EQ(tav::AnsiCodePage(), "CP949");
  EXPECT_EQ(tav::DecodeText("<P>" + kKoreanCp949 + "</P>"), u"<P>" + kKorean + u"</P>");
  // A lead byte cut off at the end becomes one replacement character.
  EXPECT_EQ(tav::DecodeText(kKoreanCp949 + "\xB3"), kKorean + u"\uFFFD");
}

TEST_F(RuntimeCodePage, UnknownPagesAreRefusedAndUtf8NamesRestoreUtf8) {
  EXPECT_FALSE(tav::SetAnsiCodePage("NO-SUCH-PAGE"));
  EXPECT_EQ(tav::AnsiCodePage(), "UTF-8");
  ASSERT_TRUE(tav::SetAnsiCodePage("CP1252"));
  EXPECT_TRUE(tav::SetAnsiCodePage("utf-8"));
  EXPECT_EQ(tav::AnsiCodePage(), "UTF-8");
}

TEST_F(RuntimeCodePage, GarbageNeverCrashesAnyDecoder) {
  std::mt19937 rng(1234);
  ASSERT_TRUE(tav::SetAnsiCodePage("CP949"));
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(rng() % 64, '\0');
    for (char& c : bytes) c = char(rng());
    const std::u16string a = tav::DecodeText(bytes);
    const std::u16string b = tav::AnsiToWide(bytes);
    EXPECT_LE(a.size(), bytes.size() + 1);
    EXPECT_LE(b.size(), bytes.size());
    const std::string back = tav::Utf16ToUtf8(a);
    EXPECT_EQ(tav::DecodeText(back), tav::Utf8ToUtf16(back));
  }
}

// A file name in Latin-1 (an old memory card) is no UTF-8; through the platform's wide
// strings it must still name the same file, and be shown with replacement characters.
TEST_F(RuntimeCodePage, NamesThatAreNotUtf8_KeepTheirBytesThroughUtf16) {
  EXPECT_EQ(tav::Utf8ToUtf16("caf\xE9.avi"), u"caf\xDCE9.avi");
  EXPECT_EQ(tav::Utf16ToUtf8(u"caf\xDCE9.avi"), "caf\xE9.avi");
  EXPECT_EQ(tav::DisplayText("caf\xE9.avi"), "caf\xEF\xBF\xBD.avi");
  EXPECT_EQ(tav::DisplayText("caf\xC3\xA9.avi"), "caf\xC3\xA9.avi");
  // Text is still decoded as text: a bad byte there is a replacement character.
  EXPECT_EQ(tav::DecodeTextAs("caf\xE9", "UTF-8"), u"caf\uFFFD");
  EXPECT_EQ(tav::DecodeTextAs(std::string("a\0\xE9\xDC" "b\0\x3D\xD8\x00\xDE", 10), "UTF-16LE"), u"a\uFFFD" u"b\U0001F600");
  // A lone surrogate that stands for no byte is still replaced.
  EXPECT_EQ(tav::Utf16ToUtf8(u"a\xDC20" u"b"), "a\xEF\xBF\xBD" "b");
  std::mt19937 rng(99);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(rng() % 48, '\0');
    for (char& c : bytes) c = char(rng());
    ASSERT_EQ(tav::Utf16ToUtf8(tav::Utf8ToUtf16(bytes)), bytes);
    ASSERT_EQ(tav::WideToAnsi(tav::AnsiToWide(bytes)), bytes);
    ASSERT_TRUE(tav::IsValidUtf8(tav::DisplayText(bytes)));
  }
}

TEST_F(RuntimeCodePage, MultiByteToWideCharFollowsThePlatformSizeRules) {
  const char* text = "h\xC3\xA9llo";
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0), 6);  // with the terminator
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, 3, nullptr, 0), 2);
  WCHAR buf[8] = {};
  ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, buf, 8), 6);
  EXPECT_EQ(std::u16string(buf), u"h\u00E9llo");
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, buf, 3), 0);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, 0, buf, 8), 0);
  // Invalid input: replaced, or refused when the caller asks for that.
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a\xFF", 2, buf, 8), 2);
  EXPECT_EQ(buf[1], u'\uFFFD');
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0x08 /* MB_ERR_INVALID_CHARS */, "a\xFF", 2, buf, 8), 0);

  // CP_ACP follows the configured page; numeric pages go straight to iconv.
  EXPECT_EQ(MultiByteToWideChar(949, 0, kKoreanCp949.data(), 4, buf, 8), 2);
  EXPECT_EQ(std::u16string(buf, 2), kKorean);
  ASSERT_TRUE(tav::SetAnsiCodePage("CP949"));
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, kKoreanCp949.c_str(), -1, buf, 8), 3);
  EXPECT_EQ(std::u16string(buf), kKorean);
}

TEST_F(RuntimeCodePage, WideCharToMultiByteReportsUnmappableCharacters) {
  const std::u16string text = u"\u00E9\u4E2D\U0001F600";
  char buf[32] = {};
  BOOL usedDefault = TRUE;
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr), 2 + 3 + 4 + 1);
  ASSERT_EQ(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, buf, 32, nullptr, &usedDefault), 10);
  EXPECT_STREQ(buf, "\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
  EXPECT_FALSE(usedDefault);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, buf, 4, nullptr, nullptr), 0);

  ASSERT_EQ(WideCharToMultiByte(1252, 0, text.c_str(), int(text.size()), buf, 32, "#", &usedDefault), 3);
  EXPECT_EQ(std::string(buf, 3), "\xE9##");
  EXPECT_TRUE(usedDefault);

  // A lone surrogate is not carried into UTF-8 as garbage.
  const char16_t lone[] = {u'a', 0xD800, u'b', 0};
  EXPECT_EQ(tav::Utf16ToUtf8(lone), "a\xEF\xBF\xBD" "b");

  ASSERT_TRUE(tav::SetAnsiCodePage("CP949"));
  EXPECT_EQ(tav::WideToAnsi(kKorean), kKoreanCp949);
  EXPECT_EQ(tav::AnsiToWide(kKoreanCp949), kKorean);
}

TEST_F(RuntimeCodePage, ReadTextFileDecodesAndReportsMissingFiles) {
  const std::string path = tavtest::MakeTempSubdir("codepage") + "/movie.smi";
  std::ofstream(path, std::ios::binary) << "\xFF\xFE" << std::string("<\0S\0>\0", 6);
  std::u16string text;
  ASSERT_TRUE(tav::ReadTextFile(path, &text));
  EXPECT_EQ(text, u"<S>");
  EXPECT_FALSE(tav::ReadTextFile(path + ".missing", &text));
  EXPECT_FALSE(tav::ReadTextFile(tavtest::TempDir(), &text));  // a folder
}

// The environment variable picks the page when the runtime first needs it; checked in a
// child process, which sets it before any conversion (the shared test main clears it).
TEST(RuntimeCodePageEnvironment, VariableSelectsTheAnsiPage) {
  const std::string self = tavtest::Capture("readlink /proc/" + std::to_string(getpid()) + "/exe");
  int status = -1;
  const std::string out = tavtest::Capture("TAVTEST_CHILD_CODEPAGE=CP949 '" + self.substr(0, self.find('\n')) +
                                               "' --gtest_filter=RuntimeCodePageEnvironmentChild.* "
                                               "--gtest_also_run_disabled_tests 2>&1",
                                           &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
}

TEST(RuntimeCodePageEnvironmentChild, DISABLED_SeesThePageFromTheEnvironment) {
  const char* page = std::getenv("TAVTEST_CHILD_CODEPAGE");
  if (!page) GTEST_SKIP() << "runs only as the child of VariableSelectsTheAnsiPage";
  setenv("TAVRION_ANSI_CODEPAGE", page, 1);
  EXPECT_EQ(tav::AnsiCodePage(), "CP949");
  EXPECT_EQ(tav::AnsiToWide(kKoreanCp949), kKorean);
}

}  // namespace
