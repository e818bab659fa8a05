// Subtitle files in legacy and Unicode encodings: each is read in the encoding its bytes show,
// the manager reports it, and the caption drawn from it is the one drawn from the UTF-8
// original. The foreign files are made from UTF-8 originals by the iconv program.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "libs/captionparser/subtitlemanager.h"
#include "libs/captionparser/subtitletext.h"
#include "libs/captionparser/tests/testutil.h"
#include "media/contract/codepage.h"
#include "media/contract/com.h"
#include "media/contract/comptr.h"
#include "media/contract/wingdi.h"
#include "tests/support/testenv.h"

namespace {

constexpr REFERENCE_TIME kSecond = 10'000'000;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The UTF-8 text converted to `encoding` by the iconv program, written next to the original.
std::string Encoded(const std::string& utf8Path, const std::string& encoding) {
  const std::string out = utf8Path + "." + encoding;
  EXPECT_EQ(tavtest::Run("iconv -f UTF-8 -t " + encoding + " '" + utf8Path + "' > '" + out + "'"), 0) << encoding;
  return out;
}

ComPtr<ISubtitleManager> Loaded(const std::string& path) {
  HRESULT hr = E_FAIL;
  ComPtr<ISubtitleManager> m;
  CSubtitleManager::CreateInstance(nullptr, &hr)->NonDelegatingQueryInterface(IID_ISubtitleManager, m.AsVoidOut());
  const std::u16string wide = tav::Utf8ToUtf16(path);
  EXPECT_EQ(S_OK, m->LoadFile(wide.c_str(), FALSE)) << path;
  return m;
}

std::string EncodingOf(ISubtitleManager* m) {
  ComPtr<ISubtitleFileInfo> info;
  EXPECT_EQ(S_OK, m->QueryInterface(IID_ISubtitleFileInfo, info.AsVoidOut()));
  WCHAR* name = nullptr;
  EXPECT_EQ(S_OK, info->GetEncodingName(&name));
  const std::string out = name ? tav::Utf16ToUtf8(name) : std::string();
  CoTaskMemFree(name);
  return out;
}

// The 32-bit 480 x 360 frame with the caption due at `time` drawn on mid grey.
std::vector<BYTE> Drawn(ISubtitleManager* m, REFERENCE_TIME time) {
  BITMAPINFOHEADER h{};
  h.biSize = sizeof h;
  h.biWidth = 480;
  h.biHeight = 360;
  h.biPlanes = 1;
  h.biBitCount = 32;
  h.biCompression = BI_RGB;
  h.biSizeImage = GetBitmapSize(&h);
  std::vector<BYTE> frame(h.biSizeImage, 0x42);
  EXPECT_EQ(S_OK, m->DrawOnBitmap(&h, frame.data(), time));
  return frame;
}

struct Case {
  const char* name;      // the file's name, which also picks the reader
  const char* utf8;      // the original text
  const char* encoding;  // what iconv makes of it
  const char* reported;  // what the manager says it read
};

// Long enough for the detector to be sure, as real subtitle files are.
const Case kCases[] = {
    {"korean.smi",
     "<SAMI><HEAD><STYLE TYPE=\"text/css\"><!--\n.KRCC {Name:Korean; lang:ko-KR; SAMIType:CC;}\n--></STYLE>"
     "</HEAD><BODY>\n<SYNC Start=1000><P Class=KRCC>안녕하세요 여러분, 오늘은 날씨가 좋습니다<br>똠방각하 만나서 반갑습니다\n"
     "<SYNC Start=4000><P Class=KRCC>&nbsp;\n</BODY></SAMI>\n",
     "CP949", "CP949"},
    {"accents.srt",
     "1\n00:00:01,000 --> 00:00:04,000\nCafé à l'été, garçon naïf\nÉlève déjà prêt — « voilà »\n\n",
     "CP1252", "CP1252"},
    {"japanese.srt",
     "1\n00:00:01,000 --> 00:00:04,000\nこんにちは、世界の皆さん。\n今日はいい天気ですね。\n\n", "SHIFT_JIS", "CP932"},
    {"chinese.srt",
     "1\n00:00:01,000 --> 00:00:04,000\n你好，世界。今天天气很好，\n我们去公园散步吧。\n\n", "GB18030", "GB18030"},
};

TEST(captionparser_Encodings, ForeignFilesDrawTheCaptionsOfTheirUtf8Originals) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string original = tavtest::WriteTempFile(c.name, c.utf8);
    const std::string foreign = Encoded(original, c.encoding);
    const std::string bytes = ReadAll(foreign);
    ASSERT_FALSE(tav::IsValidUtf8(bytes)) << "the test file must not pass as UTF-8";

    std::string used;
    EXPECT_EQ(captionparser::DecodeSubtitleBytes(bytes, &used), tav::Utf8ToUtf16(c.utf8));
    EXPECT_EQ(used, c.reported);

    ComPtr<ISubtitleManager> reference = Loaded(original);
    ComPtr<ISubtitleManager> decoded = Loaded(foreign);
    EXPECT_EQ(EncodingOf(reference.Get()), "UTF-8");
    EXPECT_EQ(EncodingOf(decoded.Get()), c.reported);
    const std::vector<BYTE> blank = Drawn(reference.Get(), 0);
    const std::vector<BYTE> expected = Drawn(reference.Get(), 2 * kSecond);
    ASSERT_NE(expected, blank) << "the caption is drawn";
    EXPECT_EQ(Drawn(decoded.Get(), 2 * kSecond), expected);
  }
}

TEST(captionparser_Encodings, ByteOrderMarksWinAndAsciiIsUnaffected) {
  // UTF-16 LE with its mark: the mark is dropped and no detector is asked.
  const Case& korean = kCases[0];
  const std::string original = tavtest::WriteTempFile("bom.smi", korean.utf8);
  const std::string withoutMark = ReadAll(Encoded(original, "UTF-16LE"));
  const std::string utf16 = tavtest::WriteTempFile("bom16.smi", std::string("\xFF\xFE", 2) + withoutMark);
  ComPtr<ISubtitleManager> reference = Loaded(original);
  ComPtr<ISubtitleManager> decoded = Loaded(utf16);
  EXPECT_EQ(EncodingOf(decoded.Get()), "UTF-16LE");
  EXPECT_EQ(Drawn(decoded.Get(), 2 * kSecond), Drawn(reference.Get(), 2 * kSecond));

  // Pure ASCII stays exactly as it was, whatever the legacy page.
  const std::string ascii = "1\n00:00:01,000 --> 00:00:02,000\nPlain <i>ASCII</i> & co.\n\n";
  captiontest::AnsiCodePageScope korean949("CP949");
  ASSERT_TRUE(korean949.ok());
  std::string used;
  EXPECT_EQ(captionparser::DecodeSubtitleBytes(ascii, &used), tav::Utf8ToUtf16(ascii));
  EXPECT_EQ(used, "UTF-8");
}

// Restores automatic detection when a test ends.
struct ForcedEncoding {
  explicit ForcedEncoding(const std::string& name) { ok = tav::SetSubtitleEncoding(name); }
  ~ForcedEncoding() { tav::SetSubtitleEncoding(""); }
  bool ok;
};

TEST(captionparser_Encodings, AForcedEncodingBeatsDetectionButNotAByteOrderMark) {
  const std::string cp949 = "\xBE\xC8\xB3\xE7";  // two Korean syllables: too few to detect
  std::string used;
  // Unsure: the legacy page, which the ANSI code page setting chooses.
  EXPECT_EQ(captionparser::DecodeSubtitleBytes(cp949, &used), u"\u00BE\u00C8\u00B3\u00E7");
  EXPECT_EQ(used, "CP1252");
  {
    captiontest::AnsiCodePageScope korean("CP949");
    EXPECT_EQ(captionparser::DecodeSubtitleBytes(cp949, &used), u"\uC548\uB155");
    EXPECT_EQ(used, "CP949");
  }

  EXPECT_FALSE(tav::SetSubtitleEncoding("NO-SUCH-ENCODING"));
  ForcedEncoding forced("CP949");
  ASSERT_TRUE(forced.ok);
  EXPECT_EQ(captionparser::DecodeSubtitleBytes(cp949, &used), u"\uC548\uB155");
  EXPECT_EQ(used, "CP949");
  // Forced even over bytes that happen to be valid UTF-8.
  EXPECT_EQ(captionparser::DecodeSubtitleBytes("\xC3\xA9", &used), u"\uCC55");
  EXPECT_EQ(used, "CP949");
  EXPECT_EQ(captionparser::DecodeSubtitleBytes("\xEF\xBB\xBF\xC3\xA9", &used), u"\u00E9");
  EXPECT_EQ(used, "UTF-8");
}

}  // namespace
